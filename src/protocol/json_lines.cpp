// SPDX-License-Identifier: GPL-3.0-or-later
// A line is taken out of the middle of what is pending and the consumed
// front is dropped only now and then, so a burst of many short lines is not
// copied once for every line.

#include "protocol/json_lines.h"

#include <QJsonDocument>

std::optional<std::string> JsonLineReader::next()
{
    if (tooLong_)
        return std::nullopt;
    const std::size_t end = pending_.find('\n', start_);
    if (end == std::string::npos) {
        if (pending_.size() - start_ > limit_)
            tooLong_ = true;
        // Nothing whole: what is left moves to the front.
        pending_.erase(0, start_);
        start_ = 0;
        return std::nullopt;
    }
    if (end - start_ > limit_) {
        tooLong_ = true;
        return std::nullopt;
    }
    std::string line = pending_.substr(start_, end - start_);
    start_ = end + 1;
    return line;
}

void JsonLineReader::clear()
{
    pending_.clear();
    start_ = 0;
    tooLong_ = false;
}

std::string jsonText(const QJsonObject &object)
{
    return QJsonDocument(object).toJson(QJsonDocument::Compact).toStdString();
}

QByteArray jsonLine(const QJsonObject &object)
{
    return QJsonDocument(object).toJson(QJsonDocument::Compact) + '\n';
}

QJsonObject jsonObject(std::string_view line)
{
    return QJsonDocument::fromJson(QByteArray(line.data(), static_cast<qsizetype>(line.size()))).object();
}

std::optional<QJsonObject> requestObject(std::string_view text, std::string &whyNot)
{
    QJsonParseError parseError{};
    const QJsonDocument document
        = QJsonDocument::fromJson(QByteArray(text.data(), static_cast<qsizetype>(text.size())), &parseError);
    if (document.isObject())
        return document.object();
    whyNot = parseError.error != QJsonParseError::NoError
        ? "malformed JSON: " + parseError.errorString().toStdString()
        : std::string("a request is a JSON object");
    return std::nullopt;
}
