// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// Every command the window can send, by the stable name scripts use
// (qv550-cli): the catalogue's rows that send, then the hold buttons, in
// table order. The names are a column of those tables, not a second copy.

#include <optional>
#include <string_view>
#include <vector>

struct NamedCommand {
    std::string_view name;    // "power-on"
    std::string_view code;    // "C00"
    std::string_view caption; // "ON"
    std::string_view group;   // "POWER"
    int replyWatchMs;         // the reply watch the window gives it: 500, 2000 or 5000
};

const std::vector<NamedCommand> &namedCommands();
const NamedCommand *commandNamed(std::string_view name);

// The address prefix for a --address word: "single", "all", "1" to "4".
std::optional<std::string_view> addressPrefixFor(std::string_view word);
