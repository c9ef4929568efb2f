// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// The window's two Japanese Gothic faces are kept by name; where they are not
// installed, Qt is told which installed faces stand in for them.

#include <QFont>

#include "panel/control_table.h"

void installFontSubstitutes();
QFont fontFor(FontKey key);
