// SPDX-License-Identifier: GPL-3.0-or-later
// libmosquitto's "external loop": mosquitto_loop_read when its socket is
// readable, mosquitto_loop_write while mosquitto_want_write, and
// mosquitto_loop_misc once a second for keep-alive. Connecting is
// asynchronous (the connection completes when the socket turns writable),
// and one that has not completed within 10 s is given up and tried again.

#include "mqtt/mosquitto_link.h"

#include <QElapsedTimer>
#include <QSocketNotifier>
#include <QTimer>

#include <mosquitto.h>

#include <cerrno>
#include <cstring>

namespace {

constexpr int kFirstPauseMs = 1000;
constexpr int kLongestPauseMs = 60000;
constexpr int kConnectLimitMs = 10000;
constexpr int kQos = 1;

std::string errorText(int rc)
{
    if (rc == MOSQ_ERR_ERRNO)
        return std::strerror(errno);
    return mosquitto_strerror(rc);
}

} // namespace

MosquittoLink::MosquittoLink(MqttSettings settings, std::function<void(int, const std::string &)> log)
    : settings_(std::move(settings)), log_(std::move(log))
{
    static const int initialised = mosquitto_lib_init();
    (void)initialised;
    client_ = mosquitto_new(settings_.clientId.empty() ? nullptr : settings_.clientId.c_str(), true, this);
    mosquitto_int_option(client_, MOSQ_OPT_PROTOCOL_VERSION, MQTT_PROTOCOL_V311);
    if (!settings_.user.empty())
        mosquitto_username_pw_set(client_, settings_.user.c_str(), settings_.password.c_str());
    if (!settings_.willTopic.empty())
        mosquitto_will_set(client_, settings_.willTopic.c_str(),
            static_cast<int>(settings_.willPayload.size()), settings_.willPayload.data(), kQos, true);
    if (settings_.tls) {
        // Without a CA file, the system's authorities.
        const int rc
            = mosquitto_tls_set(client_, settings_.caFile.empty() ? nullptr : settings_.caFile.c_str(),
                settings_.caFile.empty() ? "/etc/ssl/certs" : nullptr, nullptr, nullptr, nullptr);
        if (rc != MOSQ_ERR_SUCCESS)
            say(3, "TLS cannot be set up: " + errorText(rc));
    }
    mosquitto_connect_callback_set(client_, [](mosquitto *, void *self, int rc) {
        auto *link = static_cast<MosquittoLink *>(self);
        if (rc != 0) {
            link->lost(std::string("the broker refused the connection: ") + mosquitto_connack_string(rc));
            return;
        }
        link->connected_ = true;
        link->pauseMs_ = 0;
        link->connectLimit_->stop();
        link->say(6,
            "connected to the broker at " + link->settings_.host + ":"
                + std::to_string(link->settings_.port));
        if (link->onConnected)
            link->onConnected();
    });
    mosquitto_disconnect_callback_set(client_, [](mosquitto *, void *self, int rc) {
        static_cast<MosquittoLink *>(self)->lost(rc == 0 ? "disconnected" : "the connection was lost");
    });
    mosquitto_message_callback_set(client_, [](mosquitto *, void *self, const mosquitto_message *message) {
        auto *link = static_cast<MosquittoLink *>(self);
        if (link->onMessage && message->topic)
            link->onMessage(message->topic,
                std::string(static_cast<const char *>(message->payload),
                    static_cast<std::size_t>(message->payloadlen)));
    });
    misc_ = std::make_unique<QTimer>();
    misc_->setInterval(1000);
    QObject::connect(misc_.get(), &QTimer::timeout, [this] { afterIo(mosquitto_loop_misc(client_)); });
    retry_ = std::make_unique<QTimer>();
    retry_->setSingleShot(true);
    QObject::connect(retry_.get(), &QTimer::timeout, [this] { connectNow(); });
    connectLimit_ = std::make_unique<QTimer>();
    connectLimit_->setSingleShot(true);
    QObject::connect(connectLimit_.get(), &QTimer::timeout,
        [this] { lost("no answer within " + std::to_string(kConnectLimitMs / 1000) + " s"); });
}

MosquittoLink::~MosquittoLink()
{
    reader_.reset();
    writer_.reset();
    mosquitto_destroy(client_);
}

void MosquittoLink::start()
{
    connectNow();
}

void MosquittoLink::connectNow()
{
    ++attempts_;
    const int rc = attempts_ == 1
        ? mosquitto_connect_async(client_, settings_.host.c_str(), settings_.port, settings_.keepAliveS)
        : mosquitto_reconnect_async(client_);
    if (rc != MOSQ_ERR_SUCCESS) {
        lost(errorText(rc));
        return;
    }
    connectLimit_->start(kConnectLimitMs);
    misc_->start();
    watchSocket();
}

void MosquittoLink::watchSocket()
{
    const int socket = mosquitto_socket(client_);
    if (socket != socket_) {
        dropNotifiers();
        socket_ = socket;
        if (socket_ < 0)
            return;
        reader_ = std::make_unique<QSocketNotifier>(socket_, QSocketNotifier::Read);
        QObject::connect(
            reader_.get(), &QSocketNotifier::activated, [this] { afterIo(mosquitto_loop_read(client_, 1)); });
        writer_ = std::make_unique<QSocketNotifier>(socket_, QSocketNotifier::Write);
        QObject::connect(writer_.get(), &QSocketNotifier::activated,
            [this] { afterIo(mosquitto_loop_write(client_, 1)); });
    }
    // Writable is wanted while connecting (the connection completes) and
    // while there is something to send.
    if (writer_)
        writer_->setEnabled(mosquitto_want_write(client_) || !connected_);
}

void MosquittoLink::dropNotifiers()
{
    // Often from inside one of their own signals: deleted between events.
    for (auto *notifier : {&reader_, &writer_}) {
        if (*notifier) {
            (*notifier)->setEnabled(false);
            notifier->release()->deleteLater();
        }
    }
}

void MosquittoLink::afterIo(int rc)
{
    if (retry_->isActive())
        return; // already given up; a new try is due
    if (rc != MOSQ_ERR_SUCCESS) {
        lost(rc == MOSQ_ERR_NO_CONN || rc == MOSQ_ERR_CONN_LOST ? "the connection was lost" : errorText(rc));
        return;
    }
    watchSocket();
}

void MosquittoLink::lost(const std::string &why)
{
    if (retry_->isActive())
        return;
    const bool was = connected_;
    connected_ = false;
    dropNotifiers();
    socket_ = -1;
    connectLimit_->stop();
    misc_->stop();
    pauseMs_ = pauseMs_ == 0 ? kFirstPauseMs : std::min(2 * pauseMs_, kLongestPauseMs);
    retry_->start(pauseMs_);
    // Once per change, not once per try: a broker that refuses us all night
    // is one line in the journal, not thousands.
    const std::string text
        = "the broker at " + settings_.host + ":" + std::to_string(settings_.port) + ": " + why;
    if (text != lastSaid_ || was) {
        lastSaid_ = text;
        say(was ? 4 : 3, text + "; trying again after growing pauses, up to a minute");
    }
}

void MosquittoLink::publish(const std::string &topic, const std::string &payload, bool retain)
{
    if (!connected_)
        return;
    const int rc = mosquitto_publish(
        client_, nullptr, topic.c_str(), static_cast<int>(payload.size()), payload.data(), kQos, retain);
    if (rc != MOSQ_ERR_SUCCESS)
        say(4, "not published on " + topic + ": " + errorText(rc));
    watchSocket();
}

void MosquittoLink::subscribe(const std::string &topic)
{
    if (!connected_)
        return;
    mosquitto_subscribe(client_, nullptr, topic.c_str(), kQos);
    watchSocket();
}

void MosquittoLink::finish(int ms)
{
    if (!connected_)
        return;
    QElapsedTimer waited;
    waited.start();
    while (mosquitto_want_write(client_) && waited.elapsed() < ms) {
        const int rc = mosquitto_loop_write(client_, 1);
        if (rc != MOSQ_ERR_SUCCESS)
            return;
    }
    mosquitto_disconnect(client_);
    mosquitto_loop_write(client_, 1);
    connected_ = false;
}

void MosquittoLink::say(int priority, const std::string &text)
{
    if (log_)
        log_(priority, text);
}
