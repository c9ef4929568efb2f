// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// A transaction's result as scripts read it, the same whether a program
// asked on the port itself or through the line's owner: the JSON object of
// qv550-cli --json, and the status decoded from a whole reply.

#include <QJsonObject>

#include <optional>
#include <string>

#include "protocol/owner_protocol.h"

// The status text of a whole reply to a status query (less the panel's
// leading space); nothing for an incomplete reply, a reply that does not fit
// its query, or another command.
std::optional<std::string> decodedStatus(
    const std::string &sent, const std::string &prefix, const std::string &reply);

// Why a whole `reply` is not the answer to the status query `sent`: it does
// not have that answer's form. Nothing when it fits, or when `sent` is no
// status query.
std::optional<std::string> replyMisfit(
    const std::string &sent, const std::string &prefix, const std::string &reply);

// sent, reply_hex, monitor, status, complete, elapsed_ms.
QJsonObject replyObject(const std::string &sent, const std::string &reply,
    const std::optional<std::string> &status, double elapsedMs);

// The monitor text of `bytes` without its outer blanks: "ACK", "8 0 CR".
std::string monitorLine(const std::string &bytes);
