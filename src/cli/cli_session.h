// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// One call of qv550-cli: opens the port for the call only, sends, reads the
// reply until a CR or an ACK ends it or the reply watch runs out, and prints
// what the panel would show. Runs its own event loop, never blocking in a
// wait call, so network lines and devices take the same road.

#include <iosfwd>
#include <optional>
#include <string>

#include "cli/cli_options.h"

class SerialControl;
class TrafficLog;

// The exit status of the call: 0 a whole reply came (or a command to all
// was written), 1 none in time or one cut off, 3 the port could not be
// opened. `line` is the serial control for the port; `log`, when given, also
// records calls that failed.
// When `ownerSocket` is given and a program of ours owns the line there, the
// call goes through it and the port is not opened here.
// `keepOpen`: the port stays open for the next command of a sequence.
int runCliRequest(const CliRequest &request, SerialControl &line, std::ostream &out, std::ostream &err,
    TrafficLog *log = nullptr, const std::string &ownerSocket = {}, bool keepOpen = false);

// The live state, from the owner at `ownerSocket` when one answers there,
// else from the nine queries asked once on `line`. Exit status as for a
// command: 0 the power status is known, 1 it is not (the line down, the
// projector silent), 3 the port did not open.
int runCliState(const CliRequest &request, SerialControl &line, std::ostream &out, std::ostream &err,
    const std::string &ownerSocket);

// Whether an owner answers at `socket`: the connection made here is the one
// every later request of this process uses (one connection a call).
bool ownerReachable(const std::string &socket);

// A lease of the line from the owner at `socket` for this process's
// requests, waiting for its turn at most `lineWaitMs`: the refusal, if any;
// nothing when no owner answers there.
std::optional<std::string> leaseFromOwner(const std::string &socket, int seconds, int lineWaitMs);
void releaseOwner(const std::string &socket);

// The command lines of every command, one per line: name, code, caption,
// group, separated by blanks.
void listCommands(std::ostream &out);
