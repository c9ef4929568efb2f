#pragma once
// A serial line behind a network box on QTcpSocket: raw TCP, or Telnet with
// the COM-PORT-OPTION through the TelnetCodec. Connecting never blocks: the
// line is open at once and connected later, or lost with the reason. What is
// written meanwhile waits and goes out on connecting. Keep-alive is on, so a
// peer that died without a word is noticed within a minute.

#include <QTcpSocket>
#include <QTimer>

#include <optional>

#include "serial/line.h"
#include "serial/network_address.h"
#include "serial/telnet_codec.h"

class NetworkLine : public Line {
public:
    static constexpr int kConnectTimeoutMs = 5000;

    NetworkLine(NetworkAddress address, std::string label);

    void open(const LineSettings &settings) override;
    void close() override;
    bool isOpen() const override { return open_; }
    bool isConnected() const override { return open_ && socket_.state() == QAbstractSocket::ConnectedState; }
    void applySettings(const LineSettings &settings, ControlOp op) override;
    void write(std::string_view bytes) override;
    std::string readAll() override;
    LineKind kind() const override { return LineKind::Network; }

    // What the far end said last over RFC 2217 (-1 when nothing).
    long acknowledgedBaudRate() const { return telnet_ ? telnet_->acknowledgedBaudRate() : -1; }

private:
    void onConnected();
    void onReadyRead();
    void onError(QAbstractSocket::SocketError error);
    void fail(const std::string &why);
    void send(const std::string &wire);

    NetworkAddress address_;
    std::string label_;
    QTcpSocket socket_;
    QTimer connectTimer_;
    std::optional<TelnetCodec> telnet_;
    std::string inbox_;
    std::string pending_; // written while connecting, as payload
    bool open_ = false;
};
