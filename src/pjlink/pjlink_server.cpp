// SPDX-License-Identifier: GPL-3.0-or-later
// Glue only: bytes from the socket to the session, the session's replies to
// the socket. A connection is closed after what was written to it has gone,
// and its session is destroyed between events, never inside its own call.

#include "pjlink/pjlink_server.h"

#include <QHostAddress>
#include <QRandomGenerator>
#include <QTcpSocket>

#include "pjlink/pjlink_session.h"
#include "timers/qt_timer.h"

struct PjlinkServer::Connection {
    QtTimer idle{"pjlinkIdle", PjlinkSession::kIdleMs};
    QtTimer retry{"pjlinkRetry", PjlinkSession::kRetryMs};
    std::unique_ptr<PjlinkSession> session;
};

namespace {

std::string randomText()
{
    static constexpr char kDigits[] = "0123456789abcdef";
    std::string text;
    for (int i = 0; i < 8; ++i)
        text += kDigits[QRandomGenerator::system()->bounded(16)];
    return text;
}

std::string peerAddress(const QTcpSocket &socket)
{
    QHostAddress address = socket.peerAddress();
    bool mapped = false;
    const quint32 ipv4 = address.toIPv4Address(&mapped);
    if (mapped)
        address = QHostAddress(ipv4);
    return address.toString().toStdString();
}

} // namespace

PjlinkServer::PjlinkServer(OwnerService &service, const LiveState &state, PjlinkSettings settings,
    std::string password, std::function<void(const std::string &)> log, QObject *parent)
    : QObject(parent), service_(service), state_(state), settings_(std::move(settings)),
      password_(std::move(password)), log_(std::move(log))
{
    connect(&server_, &QTcpServer::newConnection, this, &PjlinkServer::accept);
}

PjlinkServer::~PjlinkServer()
{
    server_.close();
    for (auto &[socket, connection] : connections_) {
        connection->session.reset();
        socket->disconnect(this);
        socket->abort();
        delete socket;
    }
}

bool PjlinkServer::listen(const PjlinkListen &where, std::string &whyNot)
{
    const QHostAddress address(QString::fromStdString(where.address));
    if (address.isNull()) {
        whyNot = "pjlink: \"" + where.address + "\" is not an IP address";
        return false;
    }
    if (!server_.listen(address, where.port)) {
        whyNot = "cannot listen for PJLink on " + where.address + ":" + std::to_string(where.port) + ": "
            + server_.errorString().toStdString();
        return false;
    }
    return true;
}

void PjlinkServer::accept()
{
    while (QTcpSocket *socket = server_.nextPendingConnection()) {
        socket->setParent(nullptr);
        if (connections_.size() >= kConnectionLimit) {
            socket->write("PJLINK ERR3\r");
            connect(socket, &QTcpSocket::disconnected, socket, &QObject::deleteLater);
            socket->disconnectFromHost();
            continue;
        }
        socket->setSocketOption(QAbstractSocket::LowDelayOption, 1);
        auto connection = std::make_unique<Connection>();
        PjlinkSession::Peer peer{peerAddress(*socket), password_, randomText()};
        connection->session = std::make_unique<PjlinkSession>(
            service_, state_, settings_, connection->idle, connection->retry, std::move(peer),
            [socket](
                const std::string &bytes) { socket->write(bytes.data(), static_cast<qint64>(bytes.size())); },
            [this, socket] {
                // Not now: a socket with nothing left to write says
                // "disconnected" at once, and the session is still in its call.
                socket->disconnect(this);
                QMetaObject::invokeMethod(
                    this, [this, socket] { drop(socket); }, Qt::QueuedConnection);
            },
            log_);
        PjlinkSession *session = connection->session.get();
        connections_[socket] = std::move(connection);
        connect(socket, &QTcpSocket::readyRead, this, [socket, session] {
            const QByteArray bytes = socket->readAll();
            session->receive(std::string_view(bytes.constData(), static_cast<std::size_t>(bytes.size())));
        });
        connect(socket, &QTcpSocket::disconnected, this, [this, socket] { drop(socket); });
        session->start();
    }
}

void PjlinkServer::drop(QTcpSocket *socket)
{
    const auto found = connections_.find(socket);
    if (found == connections_.end())
        return;
    found->second->session.reset();
    connections_.erase(found);
    socket->disconnect(this);
    if (socket->state() == QAbstractSocket::UnconnectedState) {
        socket->deleteLater();
    } else {
        connect(socket, &QTcpSocket::disconnected, socket, &QObject::deleteLater);
        socket->disconnectFromHost();
    }
}
