// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// Real network serial servers for tests, listening on 127.0.0.1 and stopped
// with the object: ser2net from Debian in front of a device, with a raw TCP
// and an RFC 2217 port, and pySerial's RFC 2217 server example on loop://,
// which echoes every byte.

#include <QProcess>

#include <string>

// A TCP port nothing listens on right now.
int freeTcpPort();
// Whether something accepts connections on 127.0.0.1:`port` within `milliseconds`.
bool listening(int port, int milliseconds);

class Ser2net {
public:
    explicit Ser2net(std::string device) : device_(std::move(device)) { }
    ~Ser2net() { stop(); }

    // True once both ports accept connections.
    bool start();
    void stop();

    std::string rawUrl() const { return "tcp://127.0.0.1:" + std::to_string(rawPort_); }
    std::string rfc2217Url() const { return "rfc2217://127.0.0.1:" + std::to_string(telnetPort_); }

private:
    std::string device_;
    int rawPort_ = freeTcpPort();
    int telnetPort_ = freeTcpPort();
    QProcess process_;
};

class LoopbackRfc2217Server {
public:
    ~LoopbackRfc2217Server() { stop(); }
    bool start();
    void stop();
    std::string url() const { return "rfc2217://127.0.0.1:" + std::to_string(port_); }
    // What the server logged: each COM-PORT-OPTION it received, among others.
    QByteArray log();

private:
    int port_ = freeTcpPort();
    QProcess process_;
    QByteArray log_;
};
