// SPDX-License-Identifier: GPL-3.0-or-later
// Asynchronous throughout: the panel's event loop never waits for the owner.

#include "owner/state_feed.h"

#include <QJsonDocument>

StateFeed::StateFeed(std::function<void(const QJsonObject &, const QJsonObject &)> onState)
    : onState_(std::move(onState))
{
    QObject::connect(&socket_, &QLocalSocket::connected, &socket_,
        [this] { socket_.write(QByteArrayLiteral("{\"id\": 1, \"subscribe\": \"state\"}\n")); });
    QObject::connect(&socket_, &QLocalSocket::readyRead, &socket_, [this] { readEvents(); });
}

void StateFeed::follow(const std::string &socket)
{
    if (socket != path_) {
        socket_.abort();
        pending_.clear();
        path_ = socket;
    }
    if (path_.empty() || socket_.state() != QLocalSocket::UnconnectedState)
        return;
    pending_.clear();
    socket_.connectToServer(QString::fromStdString(path_));
}

void StateFeed::refresh()
{
    if (following())
        socket_.write(QByteArrayLiteral("{\"id\": 2, \"state\": true}\n"));
}

void StateFeed::readEvents()
{
    pending_ += socket_.readAll();
    qsizetype end;
    while ((end = pending_.indexOf('\n')) >= 0) {
        const QJsonObject event = QJsonDocument::fromJson(pending_.left(end)).object();
        pending_.remove(0, end + 1);
        // A change pushed, or the answer to refresh(): the same two objects.
        if (event.value(QStringLiteral("event")) == QStringLiteral("state")
            || event.contains(QStringLiteral("state")))
            onState_(event.value(QStringLiteral("state")).toObject(),
                event.value(QStringLiteral("choices")).toObject());
    }
    // An owner that never ends a line is not followed into memory.
    if (pending_.size() > (1 << 20))
        socket_.abort();
}
