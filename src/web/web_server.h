// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// The page's HTTP and WebSocket ends on Qt's event loop: QHttpServer serves
// the compiled-in page, its script and styles, the login and the session's
// state; a WebSocket on /ws carries the page's messages to a WebFace. What
// is decided (PINs, tokens, origins, holds) is decided there; this only
// moves bytes and headers.

#include <QHostAddress>
#include <QObject>

#include <map>
#include <memory>
#include <string>

class QHttpServer;
class QWebSocket;
class WebFace;

class WebServer : public QObject {
public:
    // A page that leaves this much unsent is not reading: it is dropped, as
    // on the owner's socket.
    static constexpr qint64 kUnsentLimit = 1 << 20;

    explicit WebServer(WebFace &face, QObject *parent = nullptr);
    ~WebServer() override;

    // False, with the reason, when the address cannot be listened on.
    bool listen(const QHostAddress &address, quint16 port, std::string &whyNot);
    quint16 port() const { return port_; }

private:
    void route();
    void accept();

    WebFace &face_;
    std::unique_ptr<QHttpServer> server_;
    std::map<QWebSocket *, std::pair<std::unique_ptr<QWebSocket>, int>> sockets_;
    quint16 port_ = 0;
};
