// SPDX-License-Identifier: GPL-3.0-or-later
// Sockets are deleted between events: a client may go away inside its own
// notification.

#include "owner/owner_server.h"

#include <QFile>
#include <QLocalSocket>
#include <QPointer>

#include "owner/owner_service.h"
#include "serial/owner_socket.h"

#include <fstream>
#ifdef __linux__
#include <sys/socket.h>
#endif

OwnerServer::OwnerServer(OwnerService &service, QObject *parent) : QObject(parent), service_(service)
{
    server_.setSocketOptions(QLocalServer::UserAccessOption);
    server_.setMaxPendingConnections(kClientLimit);
    connect(&server_, &QLocalServer::newConnection, this, &OwnerServer::accept);
}

OwnerServer::~OwnerServer()
{
    stop();
}

bool OwnerServer::listen(const std::string &path, std::string &whyNot)
{
    stop();
    const QString name = QString::fromStdString(path);
    if (QFile::exists(name)) {
        if (ownerAnswers(path)) {
            whyNot = path + ": another program already serves this line";
            return false;
        }
        QFile::remove(name); // left by an owner that ended without cleaning up
    }
    if (!server_.listen(name)) {
        whyNot = path + ": " + server_.errorString().toStdString();
        return false;
    }
    path_ = path;
    return true;
}

void OwnerServer::stop()
{
    if (!server_.isListening())
        return;
    server_.close();
    for (QLocalSocket *client : server_.findChildren<QLocalSocket *>())
        client->abort();
    QFile::remove(QString::fromStdString(path_));
}

void OwnerServer::accept()
{
    while (QLocalSocket *socket = server_.nextPendingConnection()) {
        if (connected_ >= kClientLimit) {
            socket->write("{\"id\":null,\"error\":\"too many clients\"}\n");
            socket->disconnectFromServer();
            connect(socket, &QLocalSocket::disconnected, socket, &QObject::deleteLater);
            continue;
        }
        ++connected_;
        QPointer<QLocalSocket> guarded(socket);
        std::string name;
#ifdef __linux__
        ucred peer{};
        socklen_t length = sizeof peer;
        if (getsockopt(static_cast<int>(socket->socketDescriptor()), SOL_SOCKET, SO_PEERCRED, &peer, &length) == 0) {
            std::ifstream comm("/proc/" + std::to_string(peer.pid) + "/comm");
            std::getline(comm, name);
            name = (name.empty() ? std::string("a program") : name) + " (process " + std::to_string(peer.pid) + ")";
        }
#endif
        const int client = service_.connect([guarded](const std::string &line) {
            if (!guarded || guarded->state() != QLocalSocket::ConnectedState)
                return;
            guarded->write(line.data(), static_cast<qint64>(line.size()));
            guarded->write("\n", 1);
            // It does not read: it must not hold up the others. Dropped
            // between events, as this may run while the service walks its
            // clients.
            if (guarded->bytesToWrite() > kUnreadLimit) {
                QMetaObject::invokeMethod(
                    guarded, [guarded] { if (guarded) guarded->abort(); }, Qt::QueuedConnection);
            }
        }, name);
        connect(socket, &QLocalSocket::readyRead, this, [this, socket, client] {
            const QByteArray bytes = socket->readAll();
            if (!service_.receive(client, std::string_view(bytes.constData(), static_cast<std::size_t>(bytes.size()))))
                socket->disconnectFromServer();
        });
        connect(socket, &QLocalSocket::disconnected, this, [this, socket, client] {
            --connected_;
            service_.disconnect(client);
            socket->deleteLater();
        });
    }
}
