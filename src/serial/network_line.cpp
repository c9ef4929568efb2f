// Socket glue: every failure, early or late, closes the line and is reported
// once, between events, as a lost line with its own reason.

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
    connect(&connectTimer_, &QTimer::timeout, this, [this] { fail(label_ + ": no answer within 5 s"); });
    connect(&socket_, &QTcpSocket::connected, this, &NetworkLine::onConnected);
    connect(&socket_, &QTcpSocket::readyRead, this, &NetworkLine::onReadyRead);
    connect(&socket_, &QTcpSocket::errorOccurred, this, &NetworkLine::onError);
}

void NetworkLine::open(const LineSettings &settings)
{
    inbox_.clear();
    pending_.clear();
    if (address_.protocol == NetworkAddress::Rfc2217)
        telnet_.emplace(settings);
    open_ = true;
    connectTimer_.start(kConnectTimeoutMs);
    socket_.connectToHost(QString::fromStdString(address_.host), static_cast<quint16>(address_.port));
}

void NetworkLine::close()
{
    open_ = false;
    connectTimer_.stop();
    pending_.clear();
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
    if (!isConnected()) {
        pending_.append(bytes);
        return;
    }
    send(telnet_ ? TelnetCodec::escape(bytes) : std::string(bytes));
}

void NetworkLine::send(const std::string &wire)
{
    if (socket_.write(wire.data(), static_cast<qint64>(wire.size())) != static_cast<qint64>(wire.size()))
        throw ControlError(ControlOp::Output, label_ + ": " + socket_.errorString().toStdString());
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
    try {
        if (telnet_)
            send(telnet_->greeting());
        if (!pending_.empty()) {
            const std::string queued = std::exchange(pending_, {});
            send(telnet_ ? TelnetCodec::escape(queued) : queued);
        }
    } catch (const ControlError &error) {
        fail(error.description());
        return;
    }
    if (events_.connected)
        events_.connected();
}

void NetworkLine::onReadyRead()
{
    const QByteArray bytes = socket_.readAll();
    const std::string_view wire(bytes.constData(), static_cast<std::size_t>(bytes.size()));
    const std::size_t before = inbox_.size();
    if (telnet_) {
        std::string reply;
        telnet_->receive(wire, inbox_, reply);
        if (!reply.empty()) {
            try {
                send(reply);
            } catch (const ControlError &error) {
                fail(error.description());
                return;
            }
        }
    } else {
        inbox_.append(wire);
    }
    if (inbox_.size() > before && events_.dataArrived)
        events_.dataArrived();
}

void NetworkLine::onError(QAbstractSocket::SocketError error)
{
    if (!open_)
        return;
    const bool wasConnected = socket_.state() == QAbstractSocket::ConnectedState || !connectTimer_.isActive();
    switch (error) {
    case QAbstractSocket::HostNotFoundError:
        fail(label_ + ": the host " + address_.host + " could not be found");
        break;
    case QAbstractSocket::ConnectionRefusedError:
        fail(label_ + ": the connection was refused (nothing listens on port " + std::to_string(address_.port)
            + ")");
        break;
    case QAbstractSocket::RemoteHostClosedError:
        fail(label_
            + (wasConnected ? ": the connection was closed by the far end"
                            : ": the far end closed the connection as it was made"));
        break;
    default:
        fail(label_ + ": " + socket_.errorString().toStdString());
        break;
    }
}

void NetworkLine::fail(const std::string &why)
{
    if (!open_)
        return;
    reportLost(why);
}
