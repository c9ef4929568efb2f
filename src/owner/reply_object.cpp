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
    object[field::kSent] = latin1(sent);
    object[field::kReplyHex] = QString::fromStdString(hexText(reply, ""));
    object[field::kMonitor] = latin1(monitorLine(reply));
    object[field::kStatus] = status ? QJsonValue(QString::fromStdString(*status)) : QJsonValue();
    object[field::kComplete] = replyEnded(reply);
    object[field::kElapsedMs] = std::round(elapsedMs * 1000.0) / 1000.0;
    return object;
}
