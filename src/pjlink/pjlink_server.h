// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// qv550d's PJLink listener: a QTcpServer that gives each connection a
// PjlinkSession and carries its bytes, at most kConnectionLimit at once.
// One more is told "PJLINK ERR3" (unavailable time) and closed, so that a
// controller sees a busy projector rather than one that hangs.

#include <QObject>
#include <QTcpServer>

#include <functional>
#include <map>
#include <memory>
#include <string>

#include "pjlink/pjlink_settings.h"

class LiveState;
class OwnerService;
class QTcpSocket;

class PjlinkServer : public QObject {
public:
    static constexpr std::size_t kConnectionLimit = 16;

    // `password` empty: no authentication. `log` gets a line for every set
    // command, naming the controller (never the password).
    PjlinkServer(OwnerService &service, const LiveState &state, PjlinkSettings settings, std::string password,
        std::function<void(const std::string &)> log, QObject *parent = nullptr);
    ~PjlinkServer() override;

    bool listen(const PjlinkListen &where, std::string &whyNot);
    quint16 port() const { return server_.serverPort(); }

private:
    struct Connection;

    void accept();
    void drop(QTcpSocket *socket);

    OwnerService &service_;
    const LiveState &state_;
    PjlinkSettings settings_;
    std::string password_;
    std::function<void(const std::string &)> log_;
    QTcpServer server_;
    std::map<QTcpSocket *, std::unique_ptr<Connection>> connections_;
};
