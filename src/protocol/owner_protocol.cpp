// SPDX-License-Identifier: GPL-3.0-or-later
// The texts are put together here so that every end that tells them apart
// by their start reads what the other end wrote.

#include "protocol/owner_protocol.h"

#include <QString>

std::optional<Verb> verbNamed(QStringView key)
{
    for (const VerbName &entry : kVerbs) {
        if (key == entry.name)
            return entry.verb;
    }
    return std::nullopt;
}

QLatin1String verbName(Verb verb)
{
    for (const VerbName &entry : kVerbs) {
        if (entry.verb == verb)
            return entry.name;
    }
    return {};
}

bool replyEnded(std::string_view reply)
{
    return reply.find_first_of(kReplyEnds) != std::string_view::npos;
}

std::string lineDownError(const std::string &why)
{
    return std::string(error_text::kLineDown) + ": " + why;
}

std::string lineLeasedError(const std::string &holder)
{
    return std::string(error_text::kLineLeased) + holder;
}

std::string noReplyError(int watchMs)
{
    return std::string(error_text::kNoReply) + std::to_string(watchMs) + " ms";
}

std::string cutOffError(int watchMs, const std::string &arrived)
{
    return std::string(error_text::kCutOff) + ": no CR or ACK within " + std::to_string(watchMs)
        + " ms (arrived: " + arrived + ")";
}

bool errorIs(const QString &error, std::string_view text)
{
    return error.startsWith(QLatin1String(text.data(), static_cast<qsizetype>(text.size())));
}

bool errorIs(const std::string &error, std::string_view text)
{
    return std::string_view(error).substr(0, text.size()) == text;
}

QJsonObject errorReply(const QJsonValue &id, const std::string &why)
{
    QJsonObject object;
    object[field::kId] = id;
    object[field::kError] = QString::fromStdString(why);
    return object;
}
