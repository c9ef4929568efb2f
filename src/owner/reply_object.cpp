// SPDX-License-Identifier: GPL-3.0-or-later
// Bytes are Latin-1 characters in the JSON, so every byte value survives.

#include "owner/reply_object.h"

#include <cmath>

#include "core/monitor_text.h"
#include "core/reply_decoders.h"

namespace {

QString latin1(const std::string &bytes)
{
    return QString::fromLatin1(bytes.data(), static_cast<qsizetype>(bytes.size()));
}

} // namespace

bool replyEnded(const std::string &reply)
{
    return reply.find('\r') != std::string::npos || reply.find('\x06') != std::string::npos;
}

std::string monitorLine(const std::string &bytes)
{
    const std::string text = monitorText(bytes);
    const auto first = text.find_first_not_of(' ');
    if (first == std::string::npos)
        return {};
    return text.substr(first, text.find_last_not_of(' ') - first + 1);
}

std::optional<std::string> decodedStatus(
    const std::string &sent, const std::string &prefix, const std::string &reply)
{
    const StatusQuery query = statusQueryFor(sent, prefix);
    if (!replyEnded(reply) || !replyFits(query, reply))
        return std::nullopt;
    std::int16_t pressure = 0;
    const auto status = decodeStatus(query, monitorText(reply), pressure);
    if (!status)
        return std::nullopt;
    return status->rfind(' ', 0) == 0 ? status->substr(1) : *status;
}

std::optional<std::string> replyMisfit(
    const std::string &sent, const std::string &prefix, const std::string &reply)
{
    const StatusQuery query = statusQueryFor(sent, prefix);
    if (replyFits(query, reply))
        return std::nullopt;
    std::string code = sent.substr(prefix.size());
    if (!code.empty() && code.back() == '\r')
        code.pop_back();
    return "the reply does not fit " + code + ", whose answer is " + std::string(replyForm(query))
        + " (arrived: " + monitorLine(reply) + ")";
}

QJsonObject replyObject(const std::string &sent, const std::string &reply,
    const std::optional<std::string> &status, double elapsedMs)
{
    QJsonObject object;
    object[QStringLiteral("sent")] = latin1(sent);
    object[QStringLiteral("reply_hex")] = QString::fromStdString(hexText(reply, ""));
    object[QStringLiteral("monitor")] = latin1(monitorLine(reply));
    object[QStringLiteral("status")] = status ? QJsonValue(QString::fromStdString(*status)) : QJsonValue();
    object[QStringLiteral("complete")] = replyEnded(reply);
    object[QStringLiteral("elapsed_ms")] = std::round(elapsedMs * 1000.0) / 1000.0;
    return object;
}
