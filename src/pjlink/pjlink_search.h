// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// The PJLink search on UDP: a controller sends "%2SRCH" (usually as a
// broadcast) and every projector that hears it answers "%2ACKN=" and the MAC
// address of its network interface, to the sender's address and port. Any
// other datagram is ignored: a search face answers nothing else.

#include <QObject>
#include <QUdpSocket>

#include <optional>
#include <string>
#include <string_view>

#include "pjlink/pjlink_settings.h"

// The answer to one datagram, or nothing. `mac`: "00:1A:2B:3C:4D:5E".
std::optional<std::string> pjlinkSearchReply(std::string_view datagram, const std::string &mac);

class PjlinkSearch : public QObject {
public:
    explicit PjlinkSearch(QObject *parent = nullptr);

    bool listen(const PjlinkListen &where, std::string &whyNot);
    quint16 port() const { return socket_.localPort(); }

private:
    void read();

    QUdpSocket socket_;
};
