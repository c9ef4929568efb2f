// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// A serial line behind a network box on QTcpSocket: raw TCP, or Telnet with
// the COM-PORT-OPTION through the TelnetCodec. Connecting never blocks: the
// line is open at once and connected later, or lost with the reason. Nothing
// is written before it is connected: a command given meanwhile is refused, not
// queued out of sight. Keep-alive is on, so a peer that died without a word
// is noticed within a minute.

#include <QTcpSocket>
#include <QTimer>

#include <optional>
#include <utility>

#include "serial/line.h"
#include "serial/network_address.h"
#include "serial/telnet_codec.h"

class NetworkLine : public Line {
public:
    static constexpr int kConnectTimeoutMs = 5000;
    // A server that cannot give us its line (ser2net: "Port already in use",
    // "Device open failure") says so at once and closes; one that can says
    // nothing. The connection counts as made once it has stayed up this long
    // without closing: within it, whatever arrives is the server's own text or
    // a stale reply it kept, never an answer to us. A few round trips on any
    // network a serial box sits on.
    static constexpr int kSettleMs = 100;
    static constexpr std::size_t kBannerLimit = 512;

    NetworkLine(NetworkAddress address, std::string label);

    void open(const LineSettings &settings) override;
    void close() override;
    bool isOpen() const override { return open_; }
    bool isConnected() const override
    {
        return open_ && settled_ && socket_.state() == QAbstractSocket::ConnectedState;
    }
    void applySettings(const LineSettings &settings, ControlOp op) override;
    void write(std::string_view bytes) override;
    std::string readAll() override;
    std::string takeDiscarded() override { return std::exchange(banner_, {}); }
    LineKind kind() const override { return LineKind::Network; }

    // What the far end said last over RFC 2217 (-1 when nothing).
    long acknowledgedBaudRate() const { return telnet_ ? telnet_->acknowledgedBaudRate() : -1; }

private:
    void onConnected();
    void onSettled();
    void onReadyRead();
    void onError(QAbstractSocket::SocketError error);
    void fail(const LineFailure &why);
    // A failure of this line, with the facts it knows.
    LineFailure failure(LineFailureKind kind, std::string reason = {}) const;
    LineFailure refusal() const;
    void send(const std::string &wire);

    NetworkAddress address_;
    std::string label_;
    QTcpSocket socket_;
    QTimer connectTimer_;
    QTimer settleTimer_;
    std::optional<TelnetCodec> telnet_;
    std::string inbox_;
    std::string banner_; // what arrived before the connection settled
    bool open_ = false;
    bool settled_ = false;
};
