// SPDX-License-Identifier: GPL-3.0-or-later
// Asynchronous throughout: the panel's event loop never waits for the owner.

#include "owner/state_feed.h"

#include "protocol/json_lines.h"
#include "protocol/owner_protocol.h"

namespace {

// The request that follows the state, and the one that asks for it now.
QByteArray stateRequest(int id, QLatin1String verb)
{
    QJsonObject request;
    request[field::kId] = id;
    request[verb] = verb == field::kSubscribe ? QJsonValue(word::kState) : QJsonValue(true);
    return jsonLine(request);
}

} // namespace

StateFeed::StateFeed(std::function<void(const QJsonObject &, const QJsonObject &)> onState)
    : onState_(std::move(onState))
{
    QObject::connect(&socket_, &QLocalSocket::connected, &socket_,
        [this] { socket_.write(stateRequest(1, field::kSubscribe)); });
    QObject::connect(&socket_, &QLocalSocket::readyRead, &socket_, [this] { readEvents(); });
}

void StateFeed::follow(const std::string &socket)
{
    if (socket != path_) {
        socket_.abort();
        lines_.clear();
        path_ = socket;
    }
    if (path_.empty() || socket_.state() != QLocalSocket::UnconnectedState)
        return;
    lines_.clear();
    socket_.connectToServer(QString::fromStdString(path_));
}

void StateFeed::refresh()
{
    if (following())
        socket_.write(stateRequest(2, field::kState));
}

void StateFeed::readEvents()
{
    lines_.append(socket_.readAll());
    while (const auto line = lines_.next()) {
        const QJsonObject event = jsonObject(*line);
        // A change pushed, or the answer to refresh(): the same two objects.
        if (event.value(field::kEvent) == QJsonValue(word::kState) || event.contains(field::kState))
            onState_(event.value(field::kState).toObject(), event.value(field::kChoices).toObject());
    }
    if (lines_.tooLong())
        socket_.abort();
}
