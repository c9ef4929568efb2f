// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// Why a device could not be opened, found out from the system (its owner,
// group and mode, its lock file, the program holding it), and the message
// that tells the user what would really fix it. Qt reports a busy device and
// a forbidden one alike, so the panel tells them apart itself.

#include <string>

struct OpenFailure {
    enum Problem { Missing, Refused, Other };
    std::string label;  // "COM1 (/dev/ttyUSB0)"
    Problem problem = Other;
    std::string reason; // the port's own words
    // What was found out about a refused device.
    std::string device;
    bool accessible = true; // the user may read and write it
    std::string owner;      // "root"
    std::string group;      // "dialout"
    unsigned mode = 0;      // permission bits, e.g. 0660
    std::string holder;     // "minicom (process 4242)": the lock's owner first
    std::string staleLock;  // a lock file left by a program that has ended
};

std::string describeOpenFailure(const OpenFailure &failure);

// Fills in what the system can tell about a refused `device`.
void probeRefusedDevice(OpenFailure &failure, const std::string &device);

// Whether a live program other than this one holds the port's lock file.
bool lockedByAnother(const std::string &device);
// The name of that program ("qv550-cli"), or empty.
std::string lockHolder(const std::string &device);

// The lock file a serial port open takes for `device` ("/var/lock/LCK..ttyUSB0"),
// where one exists; empty when there is none.
std::string existingLockFile(const std::string &device);
