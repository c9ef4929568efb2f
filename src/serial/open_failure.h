// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// Why a device could not be opened, found out from the system (its owner,
// group and mode, its lock file, the program holding it), so that the user
// can be told what would really fix it. Qt reports a busy device and a
// forbidden one alike, so we tell them apart ourselves.

#include <string>

#include "core/line_failure.h"

// Finds out why `device` was refused: the owner, group and mode of a device
// the user may not use, or who holds one that is busy; sets the failure's
// kind and facts accordingly (Busy when nothing more is known).
void probeRefusedDevice(LineFailure &failure, const std::string &device);

// Whether a live program other than this one holds the port's lock file.
bool lockedByAnother(const std::string &device);
// The name of that program ("qv550-cli"), or empty.
std::string lockHolder(const std::string &device);

// The lock file a serial port open takes for `device` ("/var/lock/LCK..ttyUSB0"),
// where one exists; empty when there is none.
std::string existingLockFile(const std::string &device);
