// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// The owner protocol's framing: one JSON object a line, ended by LF. The
// reader cuts a stream that arrives in pieces of any size into lines and holds
// none past its bound, so a peer that never ends a line cannot fill our
// memory; the writer writes the one compact form every end writes.

#include <QByteArray>
#include <QJsonObject>

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

class JsonLineReader {
public:
    explicit JsonLineReader(std::size_t limit) : limit_(limit) { }

    // Takes in the next bytes as they came.
    void append(std::string_view bytes) { pending_.append(bytes); }
    void append(const char *bytes) { append(std::string_view(bytes)); }
    void append(const QByteArray &bytes)
    {
        pending_.append(bytes.constData(), static_cast<std::size_t>(bytes.size()));
    }
    // The next whole line, without its LF; nothing when no line is whole, or
    // when the next line is longer than the bound (tooLong() then says so,
    // and the reader takes no more lines: the stream has lost its framing).
    std::optional<std::string> next();
    bool tooLong() const { return tooLong_; }
    void clear();

private:
    std::size_t limit_;
    std::string pending_;
    std::size_t start_ = 0; // where the next line begins in pending_
    bool tooLong_ = false;
};

// The object as one line without its LF, as the owner hands lines to its
// clients' connections.
std::string jsonText(const QJsonObject &object);
// The object as one line with its LF, as a client writes a request.
QByteArray jsonLine(const QJsonObject &object);
// The object a line holds; an empty one when it holds none.
QJsonObject jsonObject(std::string_view line);
// A request as a peer wrote it: the object, or nothing with `whyNot` saying
// what is wrong with the text, in the words every face replies with.
std::optional<QJsonObject> requestObject(std::string_view text, std::string &whyNot);
