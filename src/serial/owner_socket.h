// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// Where the owner of a line listens: a UNIX socket in a folder only its user
// may enter, named after the line, so that every program given the same
// line finds it, whatever name it was given for it (a by-id link and
// /dev/ttyUSB0 meet at one socket). There is no TCP listener.

#include <string>

// $XDG_RUNTIME_DIR/qv550; without it (cron) /run/user/UID/qv550 where the
// user has a runtime folder, else /tmp/qv550-UID.
std::string ownerFolder();

// The line as a file name: the device with links and dots resolved, or the
// network address; characters other than letters, digits, '.', '-' and '_'
// become '_'.
std::string lineName(const std::string &device);

// The system service's sockets (qv550d@.service's runtime folder), which
// the users of group dialout may reach.
inline constexpr char kServiceFolder[] = "/run/qv550";

// Where clients find the line's owner: the system service's socket when
// there is one, else this user's.
std::string ownerSocketPath(const std::string &device);

// Refuses a service folder that is not ours or that others (not the group)
// may enter.
bool checkServiceFolder(const std::string &folder, std::string &whyNot);

// Whether an owner answers at `path` now.
bool ownerAnswers(const std::string &path);

// Makes the folder (mode 0700) if it is missing; refuses one that belongs to
// another user or that others may enter, with the reason in `whyNot`.
bool prepareOwnerFolder(std::string &whyNot);
