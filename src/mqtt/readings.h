// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// The live state as figures a building system graphs and alarms on: power
// as a word, the input, the four lamps' hours, the two temperatures, the
// pressure in hPa, and whether anything is wrong (a power failure, a
// temperature warning, a lamp that should be lit and is not, a temperature
// or a pressure out of range), with the reasons. Null where not known now.

#include <QJsonObject>

#include "owner/service_config.h"

QJsonObject readings(const QJsonObject &state, const ProblemLimits &limits);
