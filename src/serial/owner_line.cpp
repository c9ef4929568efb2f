// SPDX-License-Identifier: GPL-3.0-or-later
// The panel's lines are sent whole, one request each, with the reply watch
// its command has in the panel, so the owner keeps the line for it as long
// as the panel itself would wait.

#include "serial/owner_line.h"

#include <QJsonObject>

#include "commands/named_commands.h"
#include "protocol/json_lines.h"
#include "protocol/owner_protocol.h"

namespace {

// The reply watch the panel gives `line` (prefix + code + CR).
int watchFor(std::string_view line)
{
    std::string_view code = line;
    if (!code.empty() && code.back() == '\r')
        code.remove_suffix(1);
    if (code.size() > 4 && code[0] == 'A'
        && code.substr(1, 3).find_first_not_of("0123456789F") == std::string_view::npos)
        code.remove_prefix(4);
    for (const NamedCommand &command : namedCommands()) {
        if (command.code == code)
            return command.replyWatchMs;
    }
    return 2000; // as the SEND button's
}

} // namespace

OwnerLine::OwnerLine(std::string socketPath, std::string label)
    : path_(std::move(socketPath)), label_(std::move(label))
{
    connect(&socket_, &QLocalSocket::connected, this, [this] {
        if (events_.connected)
            events_.connected();
    });
    connect(&socket_, &QLocalSocket::readyRead, this, &OwnerLine::onReadyRead);
    connect(&socket_, &QLocalSocket::disconnected, this, [this] {
        if (open_)
            reportLost(failure(LineFailureKind::OwnerWentAway));
    });
    connect(&socket_, &QLocalSocket::errorOccurred, this, [this](QLocalSocket::LocalSocketError) {
        if (open_ && socket_.state() != QLocalSocket::ConnectedState)
            reportLost(failure(LineFailureKind::OwnerSilent));
    });
}

void OwnerLine::open(const LineSettings &)
{
    inbox_.clear();
    replies_.clear();
    open_ = true;
    socket_.connectToServer(QString::fromStdString(path_));
}

void OwnerLine::close()
{
    open_ = false;
    socket_.abort();
}

void OwnerLine::applySettings(const LineSettings &settings, ControlOp)
{
    // The owner sets the line's speed, and tells every client.
    QJsonObject ask;
    ask[field::kSpeed] = static_cast<int>(settings.baudRate);
    request(ask);
}

void OwnerLine::write(std::string_view bytes)
{
    if (!isConnected())
        throw ControlError(ControlOp::Output, failure(LineFailureKind::OwnerNotConnected));
    QJsonObject ask;
    std::string_view line = bytes;
    if (!line.empty() && line.back() == '\r')
        line.remove_suffix(1);
    ask[field::kSend] = QString::fromLatin1(line.data(), static_cast<qsizetype>(line.size()));
    ask[field::kTimeoutMs] = watchFor(bytes);
    request(ask);
}

LineFailure OwnerLine::failure(LineFailureKind kind) const
{
    LineFailure failure;
    failure.kind = kind;
    failure.label = label_;
    failure.device = path_;
    return failure;
}

void OwnerLine::request(const QJsonObject &object)
{
    if (!isConnected())
        return;
    QJsonObject ask = object;
    ask[field::kId] = nextId_++;
    socket_.write(jsonLine(ask));
    socket_.flush();
}

std::string OwnerLine::readAll()
{
    std::string all;
    all.swap(inbox_);
    return all;
}

void OwnerLine::onReadyRead()
{
    replies_.append(socket_.readAll());
    const std::size_t before = inbox_.size();
    while (const auto line = replies_.next()) {
        const QJsonObject reply = jsonObject(*line);
        if (reply.contains(field::kReplyHex))
            inbox_ += QByteArray::fromHex(reply.value(field::kReplyHex).toString().toLatin1()).toStdString();
    }
    // An owner that never ends a line is not followed into memory: the
    // connection goes, which is a lost line.
    if (replies_.tooLong())
        socket_.abort();
    if (inbox_.size() > before && events_.dataArrived)
        events_.dataArrived();
}
