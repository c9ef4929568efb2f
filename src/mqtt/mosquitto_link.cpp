// SPDX-License-Identifier: GPL-3.0-or-later
// libmosquitto's "external loop": mosquitto_loop_read when its socket is
// readable, mosquitto_loop_write while mosquitto_want_write, and
// mosquitto_loop_misc once a second for keep-alive. Connecting is
// asynchronous (the connection completes when the socket turns writable),
// and one that has not completed within 10 s is given up and tried again.
// libmosquitto says only "A TLS error occurred." when it refuses a broker's
// certificate, so the chain is checked by our own hook in OpenSSL, which
// remembers why it failed: an unknown authority, another name, expired.

#include "mqtt/mosquitto_link.h"

#include <QElapsedTimer>
#include <QSocketNotifier>
#include <QTimer>

#include <mosquitto.h>
#include <mqtt_protocol.h>
#include <openssl/ssl.h>
#include <openssl/x509v3.h>

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

// The whole check of the broker's certificate: its chain to a trusted
// authority, its dates, and the name we asked for, all by OpenSSL, which
// leaves the reason for a refusal in the context. (libmosquitto's own
// callback, which checks the name, is set aside: it gives no reason.)
struct CertificateCheck {
    static int verify(X509_STORE_CTX *store, void *self)
    {
        auto *link = static_cast<MosquittoLink *>(self);
        X509_STORE_CTX_set_verify_cb(store, [](int ok, X509_STORE_CTX *) { return ok; });
        X509_VERIFY_PARAM *param = X509_STORE_CTX_get0_param(store);
        const std::string &host = link->settings_.host;
        if (X509_VERIFY_PARAM_set1_ip_asc(param, host.c_str()) != 1)
            X509_VERIFY_PARAM_set1_host(param, host.c_str(), host.size());
        const int ok = X509_verify_cert(store);
        link->certificateError_ = ok == 1 ? 0 : X509_STORE_CTX_get_error(store);
        return ok;
    }
};

MosquittoLink::MosquittoLink(MqttSettings settings, std::function<void(int, const std::string &)> log)
    : settings_(std::move(settings)), log_(std::move(log))
{
    static const int initialised = mosquitto_lib_init();
    (void)initialised;
    client_ = mosquitto_new(settings_.clientId.empty() ? nullptr : settings_.clientId.c_str(), true, this);
    mosquitto_int_option(client_, MOSQ_OPT_PROTOCOL_VERSION, MQTT_PROTOCOL_V5);
    if (!settings_.user.empty())
        mosquitto_username_pw_set(client_, settings_.user.c_str(), settings_.password.c_str());
    if (!settings_.willTopic.empty())
        mosquitto_will_set(client_, settings_.willTopic.c_str(),
            static_cast<int>(settings_.willPayload.size()), settings_.willPayload.data(), kQos, true);
    if (settings_.tls)
        setUpTls();
    mosquitto_connect_v5_callback_set(
        client_, [](mosquitto *, void *self, int rc, int, const mosquitto_property *) {
            auto *link = static_cast<MosquittoLink *>(self);
            // A 3.1.1 broker answers an MQTT 5 CONNECT with "unacceptable protocol version".
            if (link->v5_
                && (rc == MQTT_RC_UNSUPPORTED_PROTOCOL_VERSION || rc == CONNACK_REFUSED_PROTOCOL_VERSION)) {
                link->v5_ = false;
                mosquitto_int_option(link->client_, MOSQ_OPT_PROTOCOL_VERSION, MQTT_PROTOCOL_V311);
                link->say(5, "the broker speaks MQTT 3.1.1 only: commands carry no message expiry to it");
                link->lost({}); // at once tried again, and nothing to say
                link->pauseMs_ = 0;
                return;
            }
            if (rc != 0) {
                link->lost(std::string("the broker refused the connection: ")
                    + (link->v5_ ? mosquitto_reason_string(rc) : mosquitto_connack_string(rc)));
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
    mosquitto_disconnect_v5_callback_set(
        client_, [](mosquitto *, void *self, int rc, const mosquitto_property *) {
            static_cast<MosquittoLink *>(self)->lost(rc == 0 ? "disconnected"
                    : rc == MQTT_RC_SESSION_TAKEN_OVER ? "another client connected with this one's client id"
                                                       : "the connection was lost");
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
    SSL_CTX_free(tlsContext_); // none when null
}

void MosquittoLink::setUpTls()
{
    // Our context, with libmosquitto's own settings applied to it, so that
    // our check sees every certificate it refuses.
    tlsContext_ = SSL_CTX_new(TLS_client_method());
    SSL_CTX_set_cert_verify_callback(tlsContext_, &CertificateCheck::verify, this);
    mosquitto_int_option(client_, MOSQ_OPT_SSL_CTX_WITH_DEFAULTS, 1);
    mosquitto_void_option(client_, MOSQ_OPT_SSL_CTX, tlsContext_);
    // Without a CA file, the system's authorities.
    const int rc = mosquitto_tls_set(client_, settings_.caFile.empty() ? nullptr : settings_.caFile.c_str(),
        settings_.caFile.empty() ? "/etc/ssl/certs" : nullptr, nullptr, nullptr, nullptr);
    if (rc != MOSQ_ERR_SUCCESS)
        say(3, "TLS cannot be set up: " + errorText(rc));
}

std::string MosquittoLink::tlsFailure() const
{
    switch (certificateError_) {
    case X509_V_ERR_HOSTNAME_MISMATCH:
    case X509_V_ERR_IP_ADDRESS_MISMATCH:
        return "its certificate is not for " + settings_.host + " (name mismatch)";
    case X509_V_ERR_UNABLE_TO_GET_ISSUER_CERT_LOCALLY:
    case X509_V_ERR_UNABLE_TO_GET_ISSUER_CERT:
    case X509_V_ERR_DEPTH_ZERO_SELF_SIGNED_CERT:
    case X509_V_ERR_SELF_SIGNED_CERT_IN_CHAIN:
    case X509_V_ERR_UNABLE_TO_VERIFY_LEAF_SIGNATURE:
    case X509_V_ERR_CERT_UNTRUSTED:
        return "its certificate is signed by an authority not trusted here (unknown authority"
            + std::string(
                settings_.caFile.empty() ? ": give it with mqtt-ca)" : " for " + settings_.caFile + ")");
    case X509_V_ERR_CERT_HAS_EXPIRED:
        return "its certificate has expired";
    case X509_V_ERR_CERT_NOT_YET_VALID:
        return "its certificate is not valid yet (is this machine's clock right?)";
    default:
        return std::string("its certificate was refused: ")
            + X509_verify_cert_error_string(certificateError_);
    }
}

void MosquittoLink::start()
{
    connectNow();
}

void MosquittoLink::connectNow()
{
    ++attempts_;
    certificateError_ = 0;
    const int rc = attempts_ == 1
        ? mosquitto_connect_async(client_, settings_.host.c_str(), settings_.port, settings_.keepAliveS)
        : mosquitto_reconnect_async(client_);
    if (rc != MOSQ_ERR_SUCCESS) {
        // On a near broker the TLS handshake may be over before this returns.
        lost(rc == MOSQ_ERR_TLS && certificateError_ != 0 ? "TLS: " + tlsFailure() : errorText(rc));
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
        if (rc == MOSQ_ERR_TLS && certificateError_ != 0)
            lost("TLS: " + tlsFailure());
        else
            lost(rc == MOSQ_ERR_NO_CONN || rc == MOSQ_ERR_CONN_LOST ? "the connection was lost"
                                                                    : errorText(rc));
        return;
    }
    watchSocket();
}

void MosquittoLink::lost(const std::string &why)
{
    if (retry_->isActive() || finished_)
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
    if (why.empty())
        return;
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

void MosquittoLink::unsubscribe(const std::string &topic)
{
    if (!connected_)
        return;
    mosquitto_unsubscribe(client_, nullptr, topic.c_str());
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
    finished_ = true; // the goodbye is not a lost connection to try again
    mosquitto_disconnect(client_);
    mosquitto_loop_write(client_, 1);
    connected_ = false;
}

void MosquittoLink::say(int priority, const std::string &text)
{
    if (log_)
        log_(priority, text);
}
