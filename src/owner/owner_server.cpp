// SPDX-License-Identifier: GPL-3.0-or-later
// Plain descriptors rather than QLocalSocket: a QLocalSocket takes the end
// of a client's input for the end of the connection and drops what it still
// had to say to it. A connection is closed between events, never inside the
// service, which may be walking its clients.

#include "owner/owner_server.h"

#include <QFile>
#include <QSocketNotifier>

#include <cerrno>
#include <fcntl.h>
#include <fstream>
#include <memory>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

#include "owner/owner_service.h"
#include "protocol/json_lines.h"
#include "protocol/owner_protocol.h"
#include "serial/owner_socket.h"

struct OwnerServer::Connection {
    int descriptor = -1;
    std::unique_ptr<QSocketNotifier> reader;
    std::unique_ptr<QSocketNotifier> writer;
    std::string outbox;
    bool inputEnded = false; // the client has said all it will say
    bool dropping = false;
};

namespace {

// "qv550-cli (process 4242)": who is at the other end.
std::string peerName(int descriptor)
{
#ifdef __linux__
    ucred peer{};
    socklen_t length = sizeof peer;
    if (getsockopt(descriptor, SOL_SOCKET, SO_PEERCRED, &peer, &length) == 0) {
        std::string name;
        std::ifstream comm("/proc/" + std::to_string(peer.pid) + "/comm");
        std::getline(comm, name);
        return (name.empty() ? std::string("a program") : name) + " (process " + std::to_string(peer.pid)
            + ")";
    }
#endif
    (void)descriptor;
    return {};
}

// The alias is a relative link beside the socket.
std::string socketName(const std::string &path)
{
    return path.substr(path.rfind('/') + 1);
}

bool leadsTo(const std::string &link, const std::string &target)
{
    char text[4096];
    const ssize_t length = ::readlink(link.c_str(), text, sizeof text);
    return length > 0 && std::string(text, static_cast<std::size_t>(length)) == target;
}

} // namespace

OwnerServer::OwnerServer(OwnerService &service, QObject *parent) : QObject(parent), service_(service)
{
    server_.setSocketOptions(QLocalServer::UserAccessOption);
    server_.onConnection = [this](int descriptor) { accept(descriptor); };
}

OwnerServer::~OwnerServer()
{
    stop();
}

void OwnerServer::setGroupAccess(bool on)
{
    server_.setSocketOptions(on ? QLocalServer::UserAccessOption | QLocalServer::GroupAccessOption
                                : QLocalServer::UserAccessOption);
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
    if (server_.socketOptions() & QLocalServer::GroupAccessOption) {
        struct stat folder { };
        struct stat socket { };
        const std::string parent = path.substr(0, path.rfind('/'));
        if (::stat(parent.c_str(), &folder) != 0 || ::stat(path.c_str(), &socket) != 0
            || socket.st_gid != folder.st_gid) {
            whyNot = path + ": it would not have the group of " + parent
                + " (make the folder set-group-ID, or run in its group)";
            stop();
            return false;
        }
    }
    return true;
}

void OwnerServer::followDevice(const std::string &device)
{
    if (!server_.isListening())
        return;
    const std::string folder = path_.substr(0, path_.rfind('/'));
    const std::string wanted = folder + "/" + deviceLineName(device) + ".sock";
    if (wanted == path_) {
        dropAlias();
        return;
    }
    if (wanted == alias_ && leadsTo(alias_, socketName(path_)))
        return;
    dropAlias();
    struct stat there { };
    if (::lstat(wanted.c_str(), &there) == 0) {
        if (ownerAnswers(wanted))
            return;               // another owner serves a line of that name: theirs
        ::unlink(wanted.c_str()); // left by an owner that was killed
    }
    if (::symlink(socketName(path_).c_str(), wanted.c_str()) == 0)
        alias_ = wanted;
}

void OwnerServer::dropAlias()
{
    // Only while it still leads to our socket: another owner may have taken
    // the name since.
    if (!alias_.empty() && leadsTo(alias_, socketName(path_)))
        ::unlink(alias_.c_str());
    alias_.clear();
}

void OwnerServer::stop()
{
    if (!server_.isListening())
        return;
    server_.close();
    std::map<int, std::unique_ptr<Connection>> gone;
    gone.swap(connections_);
    for (auto &[client, connection] : gone) {
        service_.disconnect(client);
        ::close(connection->descriptor);
    }
    dropAlias();
    QFile::remove(QString::fromStdString(path_));
}

void OwnerServer::accept(int descriptor)
{
    if (connections_.size() >= kClientLimit) {
        const QByteArray refusal
            = jsonLine(errorReply(QJsonValue(QJsonValue::Null), std::string(error_text::kTooManyClients)));
        (void)!::send(descriptor, refusal.constData(), static_cast<std::size_t>(refusal.size()),
            MSG_NOSIGNAL | MSG_DONTWAIT);
        ::close(descriptor);
        return;
    }
    fcntl(descriptor, F_SETFL, fcntl(descriptor, F_GETFL) | O_NONBLOCK);
    auto connection = std::make_unique<Connection>();
    connection->descriptor = descriptor;
    // The client's id is the service's, known once it has connected.
    auto id = std::make_shared<int>(0);
    const int real
        = service_.connect([this, id](const std::string &line) { send(*id, line); }, peerName(descriptor));
    *id = real;
    connection->reader = std::make_unique<QSocketNotifier>(descriptor, QSocketNotifier::Read);
    connection->writer = std::make_unique<QSocketNotifier>(descriptor, QSocketNotifier::Write);
    connection->writer->setEnabled(false);
    connect(connection->reader.get(), &QSocketNotifier::activated, this, [this, real] { readFrom(real); });
    connect(connection->writer.get(), &QSocketNotifier::activated, this, [this, real] { writeTo(real); });
    connections_[real] = std::move(connection);
}

void OwnerServer::readFrom(int client)
{
    const auto found = connections_.find(client);
    if (found == connections_.end())
        return;
    Connection &connection = *found->second;
    char buffer[65536];
    for (;;) {
        const ssize_t got = ::recv(connection.descriptor, buffer, sizeof buffer, 0);
        if (got > 0) {
            if (!service_.receive(client, std::string_view(buffer, static_cast<std::size_t>(got)))) {
                // Told why; it goes once that is written.
                connection.inputEnded = true;
                connection.reader->setEnabled(false);
                service_.disconnect(client);
                closeWhenDone(client);
                return;
            }
            if (connections_.find(client) == connections_.end())
                return;
            continue;
        }
        if (got == 0) {
            // Its input has ended: it is answered what it asked, then closed.
            connection.inputEnded = true;
            connection.reader->setEnabled(false);
            closeWhenDone(client);
            return;
        }
        if (errno != EAGAIN && errno != EWOULDBLOCK && errno != EINTR)
            QMetaObject::invokeMethod(
                this, [this, client] { drop(client); }, Qt::QueuedConnection);
        return;
    }
}

void OwnerServer::send(int client, const std::string &line)
{
    const auto found = connections_.find(client);
    if (found == connections_.end() || found->second->dropping)
        return;
    Connection &connection = *found->second;
    connection.outbox += line;
    connection.outbox += '\n';
    if (connection.outbox.size() > kUnreadLimit) {
        // It does not read: it must not hold up the others.
        connection.dropping = true;
        QMetaObject::invokeMethod(
            this, [this, client] { drop(client); }, Qt::QueuedConnection);
        return;
    }
    writeTo(client);
    if (connection.inputEnded)
        QMetaObject::invokeMethod(
            this, [this, client] { closeWhenDone(client); }, Qt::QueuedConnection);
}

void OwnerServer::writeTo(int client)
{
    const auto found = connections_.find(client);
    if (found == connections_.end())
        return;
    Connection &connection = *found->second;
    while (!connection.outbox.empty()) {
        const ssize_t put = ::send(connection.descriptor, connection.outbox.data(), connection.outbox.size(),
            MSG_NOSIGNAL | MSG_DONTWAIT);
        if (put > 0) {
            connection.outbox.erase(0, static_cast<std::size_t>(put));
            continue;
        }
        if (put < 0 && (errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR))
            break;
        connection.dropping = true; // gone
        QMetaObject::invokeMethod(
            this, [this, client] { drop(client); }, Qt::QueuedConnection);
        return;
    }
    connection.writer->setEnabled(!connection.outbox.empty());
    if (connection.outbox.empty() && connection.inputEnded)
        closeWhenDone(client);
}

void OwnerServer::closeWhenDone(int client)
{
    const auto found = connections_.find(client);
    if (found == connections_.end())
        return;
    if (found->second->outbox.empty() && !service_.awaitingReplies(client))
        QMetaObject::invokeMethod(
            this, [this, client] { drop(client); }, Qt::QueuedConnection);
}

void OwnerServer::drop(int client)
{
    const auto found = connections_.find(client);
    if (found == connections_.end())
        return;
    const int descriptor = found->second->descriptor;
    connections_.erase(found); // the notifiers go before the descriptor closes
    service_.disconnect(client);
    ::close(descriptor);
}
