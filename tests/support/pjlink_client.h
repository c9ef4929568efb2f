// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// A PJLink controller for tests and benchmarks, written from the protocol's
// bytes: it reads the greeting, answers "PJLINK 1 <random>" with
// md5(random + password) in front of its first command, and reads each
// reply up to its CR. Blocking calls with deadlines: the projector it talks
// to is another process.

#include <QByteArray>
#include <QCryptographicHash>
#include <QElapsedTimer>
#include <QHostAddress>
#include <QTcpSocket>

#include <string>

class PjlinkClient {
public:
    // Connects to 127.0.0.1:`port` and reads the greeting.
    bool open(int port, int milliseconds = 5000)
    {
        socket_.connectToHost(QHostAddress::LocalHost, static_cast<quint16>(port));
        if (!socket_.waitForConnected(milliseconds))
            return false;
        socket_.setSocketOption(QAbstractSocket::LowDelayOption, 1);
        greeting_ = line(milliseconds);
        return !greeting_.isEmpty();
    }
    const QByteArray &greeting() const { return greeting_; }

    // One request ("%1POWR ?") and its reply without the CR; the digest goes
    // in front of the first request when the greeting asked for one.
    QByteArray ask(const QByteArray &request, int milliseconds = 5000)
    {
        QByteArray bytes = request + '\r';
        if (!authenticated_ && greeting_.startsWith("PJLINK 1 ")) {
            bytes.prepend(digest(greeting_.mid(9), password_));
            authenticated_ = true;
        }
        send(bytes);
        return line(milliseconds);
    }
    void setPassword(const QByteArray &password) { password_ = password; }
    void send(const QByteArray &bytes)
    {
        socket_.write(bytes);
        socket_.waitForBytesWritten(1000);
    }
    // Bytes up to and without a CR, or what came within the time.
    QByteArray line(int milliseconds = 5000)
    {
        QElapsedTimer waited;
        waited.start();
        for (;;) {
            const qsizetype end = buffer_.indexOf('\r');
            if (end >= 0) {
                const QByteArray found = buffer_.left(end);
                buffer_.remove(0, end + 1);
                return found;
            }
            const qint64 left = milliseconds - waited.elapsed();
            if (left <= 0
                || (!socket_.waitForReadyRead(static_cast<int>(left)) && socket_.bytesAvailable() == 0))
                break;
            buffer_ += socket_.readAll();
        }
        QByteArray rest;
        rest.swap(buffer_);
        return rest;
    }
    // Whether the projector closes the connection within the time.
    bool closedWithin(int milliseconds)
    {
        QElapsedTimer waited;
        waited.start();
        while (socket_.state() == QAbstractSocket::ConnectedState && waited.elapsed() < milliseconds) {
            if (socket_.waitForReadyRead(static_cast<int>(milliseconds - waited.elapsed())))
                buffer_ += socket_.readAll();
        }
        return socket_.state() != QAbstractSocket::ConnectedState;
    }
    void close() { socket_.abort(); }

    static QByteArray digest(const QByteArray &random, const QByteArray &password)
    {
        return QCryptographicHash::hash(random + password, QCryptographicHash::Md5).toHex();
    }

private:
    QTcpSocket socket_;
    QByteArray greeting_;
    QByteArray buffer_;
    QByteArray password_;
    bool authenticated_ = false;
};
