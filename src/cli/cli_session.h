#pragma once
// One call of qv550-cli: opens the port for the call only, sends, reads the
// reply until a CR or an ACK ends it or the reply watch runs out, and prints
// what the panel would show. Runs its own event loop, never blocking in a
// wait call, so network lines and devices take the same road.

#include <iosfwd>
#include <string>

#include "cli/cli_options.h"

class SerialControl;

// The exit status of the call: 0 a reply came, 1 none in time, 3 the port
// could not be opened. `line` is the serial control for the port.
int runCliRequest(const CliRequest &request, SerialControl &line, std::ostream &out, std::ostream &err);

// The command lines of every command, one per line: name, code, caption,
// group, separated by blanks.
void listCommands(std::ostream &out);

// A reply as the JSON object of --json.
std::string replyJson(
    const std::string &sent, const std::string &reply, const std::string *status, double elapsedMs);
