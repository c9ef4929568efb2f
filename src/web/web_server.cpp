// SPDX-License-Identifier: GPL-3.0-or-later
// Qt 6.4's HTTP server upgrades a request to a WebSocket only on a routed
// path whose handler takes the responder and does not answer (a handler
// that answers sends "200 OK" before the "101"), and it never looks at the
// Origin: both the token and the Origin are checked here, on the socket's
// own copy of the upgrade request, before the page hears anything.

#include "web/web_server.h"

#include <QFile>
#include <QHttpServer>
#include <QHttpServerRequest>
#include <QHttpServerResponder>
#include <QHttpServerResponse>
#include <QJsonObject>
#include <QNetworkRequest>
#include <QWebSocket>

#include "web/web_face.h"

namespace {

constexpr qsizetype kPinLimit = 256;

QByteArray resource(const char *path)
{
    QFile file(QString::fromLatin1(path));
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

QHttpServerResponse withPolicy(QHttpServerResponse response)
{
    // Nothing but this page's own script, styles and socket; never in a frame.
    response.addHeader("Content-Security-Policy",
        "default-src 'none'; script-src 'self'; style-src 'self'; connect-src 'self'; img-src 'self' data:; "
        "base-uri 'none'; form-action 'none'; frame-ancestors 'none'");
    response.addHeader("X-Content-Type-Options", "nosniff");
    response.addHeader("Referrer-Policy", "no-referrer");
    response.addHeader("Cache-Control", "no-cache");
    return response;
}

QHttpServerResponse file(const char *path, const QByteArray &type)
{
    return withPolicy(QHttpServerResponse(type, resource(path)));
}

std::string header(const QHttpServerRequest &request, const char *name)
{
    return request.value(name).toStdString();
}

QHttpServerResponse json(const QJsonObject &object, QHttpServerResponse::StatusCode status)
{
    return withPolicy(QHttpServerResponse(object, status));
}

} // namespace

WebServer::WebServer(WebFace &face, QObject *parent)
    : QObject(parent), face_(face), server_(std::make_unique<QHttpServer>())
{
    route();
    QObject::connect(server_.get(), &QHttpServer::newWebSocketConnection, this, [this] { accept(); });
}

WebServer::~WebServer()
{
    for (auto &[raw, entry] : sockets_) {
        QObject::disconnect(raw, nullptr, this, nullptr);
        face_.close(entry.second);
    }
}

void WebServer::route()
{
    server_->route(QStringLiteral("/"), QHttpServerRequest::Method::Get, [this] {
        QHttpServerResponse response = file(":/web/index.html", "text/html; charset=utf-8");
        if (const std::string token = face_.tokenForPage(); !token.empty())
            response.addHeader("Set-Cookie", QByteArray::fromStdString(WebFace::cookieFor(token)));
        return response;
    });
    server_->route(QStringLiteral("/app.js"), QHttpServerRequest::Method::Get,
        [] { return file(":/web/app.js", "text/javascript; charset=utf-8"); });
    server_->route(QStringLiteral("/app.css"), QHttpServerRequest::Method::Get,
        [] { return file(":/web/app.css", "text/css; charset=utf-8"); });
    server_->route(QStringLiteral("/session"), QHttpServerRequest::Method::Get,
        [this](const QHttpServerRequest &request) {
            QJsonObject session;
            session[QStringLiteral("version")] = QStringLiteral(PANEL_VERSION);
            session[QStringLiteral("pin")] = face_.needsPin();
            // Without a PIN a page that comes back after a restart gets a new token here.
            const std::string token = face_.tokenForPage();
            session[QStringLiteral("session")]
                = !token.empty() || face_.tokenValid(header(request, "Cookie"));
            QHttpServerResponse response = json(session, QHttpServerResponse::StatusCode::Ok);
            if (!token.empty())
                response.addHeader("Set-Cookie", QByteArray::fromStdString(WebFace::cookieFor(token)));
            return response;
        });
    server_->route(QStringLiteral("/login"), QHttpServerRequest::Method::Post,
        [this](const QHttpServerRequest &request) {
            QJsonObject answer;
            const std::string origin = header(request, "Origin");
            if (!origin.empty() && origin != "http://" + header(request, "Host")) {
                answer[QStringLiteral("error")] = QStringLiteral("not from this page");
                return json(answer, QHttpServerResponse::StatusCode::Forbidden);
            }
            const QByteArray body = request.body();
            if (body.size() > kPinLimit) {
                answer[QStringLiteral("error")] = QStringLiteral("wrong PIN");
                return json(answer, QHttpServerResponse::StatusCode::Forbidden);
            }
            const WebFace::Login login
                = face_.login(request.remoteAddress().toString().toStdString(), body.trimmed().toStdString());
            if (login.status != 200) {
                answer[QStringLiteral("error")] = QString::fromStdString(login.why);
                QHttpServerResponse response = json(answer,
                    login.status == 429 ? QHttpServerResponse::StatusCode::TooManyRequests
                                        : QHttpServerResponse::StatusCode::Forbidden);
                if (login.retryAfterS > 0)
                    response.addHeader("Retry-After", QByteArray::number(login.retryAfterS));
                return response;
            }
            answer[QStringLiteral("session")] = true;
            QHttpServerResponse response = json(answer, QHttpServerResponse::StatusCode::Ok);
            response.addHeader("Set-Cookie", QByteArray::fromStdString(WebFace::cookieFor(login.token)));
            return response;
        });
    // Left unanswered so that Qt can upgrade it; a plain request is told.
    server_->route(
        QStringLiteral("/ws"), [](const QHttpServerRequest &request, QHttpServerResponder &&responder) {
            if (request.value("Upgrade").toLower() != "websocket")
                responder.write(QByteArray("a WebSocket, for the page\n"), "text/plain",
                    QHttpServerResponder::StatusCode::UpgradeRequired);
        });
}

bool WebServer::listen(const QHostAddress &address, quint16 port, std::string &whyNot)
{
    port_ = server_->listen(address, port);
    if (port_ == 0) {
        whyNot = "cannot listen on " + address.toString().toStdString() + ":" + std::to_string(port);
        return false;
    }
    return true;
}

void WebServer::accept()
{
    while (server_->hasPendingWebSocketConnections()) {
        std::unique_ptr<QWebSocket> socket = server_->nextPendingWebSocketConnection();
        if (!socket)
            continue;
        const QNetworkRequest &request = socket->request();
        const std::string why = face_.admission(request.rawHeader("Cookie").toStdString(),
            socket->origin().toStdString(), request.rawHeader("Host").toStdString());
        QWebSocket *raw = socket.get();
        if (!why.empty()) {
            socket->close(QWebSocketProtocol::CloseCodePolicyViolated, QString::fromStdString(why));
            socket.release()->deleteLater();
            continue;
        }
        raw->setMaxAllowedIncomingMessageSize(WebFace::kMessageLimit);
        raw->setMaxAllowedIncomingFrameSize(WebFace::kMessageLimit);
        const int page
            = face_.open(raw->peerAddress().toString().toStdString(), [raw](const std::string &text) {
                  if (raw->bytesToWrite() > kUnsentLimit) {
                      // Not reading: dropped, once this call has returned.
                      QMetaObject::invokeMethod(raw, &QWebSocket::abort, Qt::QueuedConnection);
                      return;
                  }
                  raw->sendTextMessage(QString::fromStdString(text));
              });
        if (page < 0) {
            socket->close(QWebSocketProtocol::CloseCodeTooMuchData, QStringLiteral("too many pages open"));
            socket.release()->deleteLater();
            continue;
        }
        sockets_[raw] = {std::move(socket), page};
        QObject::connect(raw, &QWebSocket::textMessageReceived, this, [this, raw](const QString &text) {
            const auto found = sockets_.find(raw);
            if (found != sockets_.end() && !face_.message(found->second.second, text.toStdString()))
                raw->close(QWebSocketProtocol::CloseCodeTooMuchData);
        });
        QObject::connect(raw, &QWebSocket::binaryMessageReceived, this,
            [raw](const QByteArray &) { raw->close(QWebSocketProtocol::CloseCodeDatatypeNotSupported); });
        QObject::connect(raw, &QWebSocket::disconnected, this, [this, raw] {
            const auto found = sockets_.find(raw);
            if (found == sockets_.end())
                return;
            face_.close(found->second.second);
            found->second.first.release()->deleteLater();
            sockets_.erase(found);
        });
    }
}
