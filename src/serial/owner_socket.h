// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// Where the owner of a line listens: a UNIX socket in a folder only its user
// (or, for the system service, its group) may enter, named after the line
// as the owner was given it. A line has several names (a by-id link, the
// ttyUSB node it leads to today, a link a test made), and the node changes
// when the adapter is plugged in again, so the owner also keeps an alias
// named after the device as it resolves now, and a client looks for both of
// its own names. There is no TCP listener.

#include <functional>
#include <string>

// $XDG_RUNTIME_DIR/qv550; without it (cron) /run/user/UID/qv550 where the
// user has a runtime folder; else ~/.cache/qv550 in the home the password
// database gives (not $HOME, so every program of the user finds the same
// folder, and no other user can make it first); /tmp/qv550-UID only for a
// user without a home of their own.
std::string ownerFolder();

// The line as given, as a file name: a device path made absolute with "."
// and ".." taken away lexically (links are not followed), or the network
// address; characters other than letters, digits, '.', '-' and '_' become
// '_'.
std::string lineName(const std::string &device);
// The device the line leads to now (links followed), as a file name; the
// same as lineName() for a network address or a missing device.
std::string deviceLineName(const std::string &device);

// The system service's sockets (qv550d@.service's runtime folder), which
// the users of group dialout may reach.
inline constexpr char kServiceFolder[] = "/run/qv550";

// Where clients find the line's owner: the first socket found for the
// line's name or its device's name, in the system service's folder, then
// this user's; where none is, this user's socket for the line's name.
std::string ownerSocketPath(const std::string &device);

// Whether an owner answers at `path` now.
bool ownerAnswers(const std::string &path);

// Like ownerSocketPath(), but while the device is locked by an owner of ours
// (qv550d, the panel) that this user could reach (one of this user's, or the
// system service's): that owner's socket, found by the process that serves
// it, whatever its name, or, for an owner that is not listening yet, looked
// for again for up to `waitMs`. A program of ours holding the line is gone
// through, never reported as a program the port is in use by. `answers`
// tells whether an owner answers at a path (a caller that keeps one
// connection for its whole call gives its own, so it connects only once).
std::string ownerSocketFor(const std::string &device, int waitMs,
    const std::function<bool(const std::string &)> &answers = ownerAnswers);

// Whether `holder` (a lock holder's process name) is a program of ours that
// serves the line it holds.
bool isLineOwnerProgram(const std::string &holder);

// Refuses a service folder that is not ours or that others (not the group)
// may enter.
bool checkServiceFolder(const std::string &folder, std::string &whyNot);

// Makes the folder (mode 0700) if it is missing; refuses one that belongs to
// another user or that others may enter, with the reason in `whyNot`.
bool prepareOwnerFolder(std::string &whyNot);
