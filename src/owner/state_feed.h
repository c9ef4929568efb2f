// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// The live state of a line another program of ours owns, as it changes: a
// connection to that owner's socket subscribed to "state". A panel attached
// to qv550d shows the service's state through it.

#include <QJsonObject>
#include <QLocalSocket>

#include <functional>
#include <string>

#include "protocol/json_lines.h"

class StateFeed {
public:
    explicit StateFeed(std::function<void(const QJsonObject &state, const QJsonObject &choices)> onState);

    // Follows the owner at `socket` (nothing: none), connecting again when the
    // connection was lost; cheap to call often.
    void follow(const std::string &socket);
    // Asks for the state now (its ages move on between changes).
    void refresh();
    bool following() const { return socket_.state() == QLocalSocket::ConnectedState; }

private:
    void readEvents();

    std::function<void(const QJsonObject &, const QJsonObject &)> onState_;
    QLocalSocket socket_;
    std::string path_;
    // An owner that never ends a line is not followed into memory.
    JsonLineReader lines_{1 << 20};
};
