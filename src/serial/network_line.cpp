// SPDX-License-Identifier: GPL-3.0-or-later
// Socket glue: every failure, early or late, closes the line and is reported
// once, between events, as a lost line with its own reason. A server that
// closes the connection before it has settled refused it, and its own words
// are the reason.

#include "serial/network_line.h"

#include <QString>

#ifdef __linux__
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>
#endif

NetworkLine::NetworkLine(NetworkAddress address, std::string label)
    : address_(std::move(address)), label_(std::move(label))
{
    connectTimer_.setSingleShot(true);
    // A coarse timer may end the wait up to 5 % early: the 5 s said are 5 s.
    connectTimer_.setTimerType(Qt::PreciseTimer);
    connect(&connectTimer_, &QTimer::timeout, this, [this] {
        LineFailure silent = failure(LineFailureKind::NoAnswer);
        silent.seconds = kConnectTimeoutMs / 1000;
        fail(silent);
    });
    settleTimer_.setSingleShot(true);
    settleTimer_.setTimerType(Qt::PreciseTimer);
    connect(&settleTimer_, &QTimer::timeout, this, &NetworkLine::onSettled);
    connect(&socket_, &QTcpSocket::connected, this, &NetworkLine::onConnected);
    connect(&socket_, &QTcpSocket::readyRead, this, &NetworkLine::onReadyRead);
    connect(&socket_, &QTcpSocket::errorOccurred, this, &NetworkLine::onError);
}

void NetworkLine::open(const LineSettings &settings)
{
    inbox_.clear();
    banner_.clear();
    settled_ = false;
    if (address_.protocol == NetworkAddress::Rfc2217)
        telnet_.emplace(settings);
    open_ = true;
    connectTimer_.start(kConnectTimeoutMs);
    socket_.connectToHost(QString::fromStdString(address_.host), static_cast<quint16>(address_.port));
}

void NetworkLine::close()
{
    open_ = false;
    settled_ = false;
    connectTimer_.stop();
    settleTimer_.stop();
    socket_.abort();
}

void NetworkLine::applySettings(const LineSettings &settings, ControlOp /*op*/)
{
    // Raw TCP cannot reach the far port's settings; RFC 2217 sets them now,
    // or once the server has agreed to the option.
    if (!telnet_)
        return;
    const std::string commands = telnet_->changeSettings(settings);
    if (!commands.empty() && isConnected())
        send(commands);
}

void NetworkLine::write(std::string_view bytes)
{
    if (!isConnected())
        throw ControlError(ControlOp::Output, failure(LineFailureKind::NotConnected));
    send(telnet_ ? TelnetCodec::escape(bytes) : std::string(bytes));
}

void NetworkLine::send(const std::string &wire)
{
    if (socket_.write(wire.data(), static_cast<qint64>(wire.size())) != static_cast<qint64>(wire.size()))
        throw ControlError(
            ControlOp::Output, failure(LineFailureKind::WriteFailed, socket_.errorString().toStdString()));
    socket_.flush();
}

std::string NetworkLine::readAll()
{
    std::string all;
    all.swap(inbox_);
    return all;
}

void NetworkLine::onConnected()
{
    connectTimer_.stop();
    socket_.setSocketOption(QAbstractSocket::LowDelayOption, 1);
    socket_.setSocketOption(QAbstractSocket::KeepAliveOption, 1);
#ifdef __linux__
    // Probes after 20 s of silence, every 5 s, given up after 4: a dead peer
    // is noticed within 40 s; unacknowledged data within 30 s.
    const int fd = static_cast<int>(socket_.socketDescriptor());
    const int idle = 20, interval = 5, count = 4;
    const unsigned userTimeout = 30000;
    setsockopt(fd, IPPROTO_TCP, TCP_KEEPIDLE, &idle, sizeof idle);
    setsockopt(fd, IPPROTO_TCP, TCP_KEEPINTVL, &interval, sizeof interval);
    setsockopt(fd, IPPROTO_TCP, TCP_KEEPCNT, &count, sizeof count);
    setsockopt(fd, IPPROTO_TCP, TCP_USER_TIMEOUT, &userTimeout, sizeof userTimeout);
#endif
    settleTimer_.start(kSettleMs);
}

void NetworkLine::onSettled()
{
    if (!open_)
        return;
    // Nothing is written before the server has had its say: writing to a
    // connection it has closed draws a reset, which throws away its words.
    try {
        if (telnet_)
            send(telnet_->greeting());
    } catch (const ControlError &error) {
        fail(error.failure());
        return;
    }
    settled_ = true;
    if (events_.connected)
        events_.connected();
}

void NetworkLine::onReadyRead()
{
    const QByteArray bytes = socket_.readAll();
    const std::string_view wire(bytes.constData(), static_cast<std::size_t>(bytes.size()));
    // Before the connection has settled nothing was asked: what comes is
    // kept aside, for the reason of a refusal or the log, and never read as
    // a reply.
    std::string &payload = settled_ ? inbox_ : banner_;
    const std::size_t before = inbox_.size();
    if (telnet_) {
        std::string reply;
        telnet_->receive(wire, payload, reply);
        if (!reply.empty()) {
            try {
                send(reply);
            } catch (const ControlError &error) {
                fail(error.failure());
                return;
            }
        }
    } else {
        payload.append(wire);
    }
    if (banner_.size() > kBannerLimit)
        banner_.erase(0, banner_.size() - kBannerLimit);
    if (inbox_.size() > before && events_.dataArrived)
        events_.dataArrived();
}

void NetworkLine::onError(QAbstractSocket::SocketError error)
{
    if (!open_)
        return;
    switch (error) {
    case QAbstractSocket::HostNotFoundError:
        fail(failure(LineFailureKind::HostNotFound));
        break;
    case QAbstractSocket::ConnectionRefusedError:
        fail(failure(LineFailureKind::ConnectionRefused));
        break;
    case QAbstractSocket::RemoteHostClosedError:
        if (!settled_) {
            // Its last words may still wait in the socket's buffer.
            if (socket_.bytesAvailable() > 0)
                onReadyRead();
            fail(refusal());
        } else
            fail(failure(LineFailureKind::ConnectionClosed));
        break;
    default:
        fail(failure(LineFailureKind::NetworkError, socket_.errorString().toStdString()));
        break;
    }
}

LineFailure NetworkLine::failure(LineFailureKind kind, std::string reason) const
{
    LineFailure failure;
    failure.kind = kind;
    failure.label = label_;
    failure.host = address_.host;
    failure.port = address_.port;
    failure.reason = std::move(reason);
    return failure;
}

LineFailure NetworkLine::refusal() const
{
    // The server's own words, as text on one line: "Port already in use".
    std::string said;
    for (const char c : banner_) {
        const auto byte = static_cast<unsigned char>(c);
        if (byte == '\r' || byte == '\n') {
            if (!said.empty() && said.back() != ' ')
                said += ' ';
        } else if (byte >= 0x20 && byte < 0x7F) {
            said += c;
        }
    }
    while (!said.empty() && said.back() == ' ')
        said.pop_back();
    LineFailure refused = failure(LineFailureKind::ServerRefused);
    refused.said = said;
    return refused;
}

void NetworkLine::fail(const LineFailure &why)
{
    if (!open_)
        return;
    reportLost(why);
}
