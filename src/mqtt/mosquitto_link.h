// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// MqttLink on libmosquitto, driven by Qt's event loop with no thread of its
// own: a socket notifier for reading and, while libmosquitto has bytes to
// send, for writing, and a timer for its keep-alive. A broker that is down
// or refuses is tried again with a growing pause (1 s to 60 s); nothing here
// ever waits for the broker, so the line it serves never waits either.
// It speaks MQTT 5 (so a command's message expiry holds all the way) and
// falls back to 3.1.1 for a broker that knows only that.

#include <QObject>

#include <memory>
#include <string>

#include "mqtt/mqtt_link.h"

class QSocketNotifier;
class QTimer;
struct mosquitto;
struct ssl_ctx_st;

struct MqttSettings {
    std::string host;
    int port = 1883;
    bool tls = false;
    std::string caFile; // for TLS: the authority the broker's certificate is checked against
    std::string user;
    std::string password;
    std::string clientId;  // unique to this process: two clients with one id knock each other off
    std::string willTopic; // published by the broker, retained, when we vanish
    std::string willPayload;
    int keepAliveS = 10; // a vanished qv550d is offline within 1.5 times this
};

class MosquittoLink : public MqttLink {
public:
    // `log` says what happens with the broker, once per change.
    MosquittoLink(MqttSettings settings, std::function<void(int priority, const std::string &)> log);
    ~MosquittoLink() override;

    void start();
    // Publishes what is waiting, then says goodbye (so the broker forgets the
    // will), within `ms` at most.
    void finish(int ms);

    void publish(const std::string &topic, const std::string &payload, bool retain) override;
    void subscribe(const std::string &topic) override;
    void unsubscribe(const std::string &topic) override;
    bool connected() const override { return connected_; }

private:
    void connectNow();
    void lost(const std::string &why);
    void watchSocket();
    void dropNotifiers();
    void afterIo(int rc);
    void say(int priority, const std::string &text);
    void setUpTls();
    std::string tlsFailure() const;

    MqttSettings settings_;
    std::function<void(int, const std::string &)> log_;
    mosquitto *client_ = nullptr;
    std::unique_ptr<QSocketNotifier> reader_;
    std::unique_ptr<QSocketNotifier> writer_;
    std::unique_ptr<QTimer> misc_;
    std::unique_ptr<QTimer> retry_;
    std::unique_ptr<QTimer> connectLimit_;
    int socket_ = -1;
    bool connected_ = false;
    int pauseMs_ = 0;
    int attempts_ = 0;
    std::string lastSaid_;
    bool v5_ = true;
    bool finished_ = false;
    // Why the broker's certificate was last refused (an X509_V_ERR_ code),
    // found by our own check of it.
    int certificateError_ = 0;
    ssl_ctx_st *tlsContext_ = nullptr; // ours, with our check; libmosquitto takes its own reference
    friend struct CertificateCheck;
};
