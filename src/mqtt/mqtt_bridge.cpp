// SPDX-License-Identifier: GPL-3.0-or-later
// The bridge is one more client of the owner: a command from MQTT becomes
// the same JSON request a program on the socket sends, so it is checked,
// queued and answered exactly as theirs are.

#include "mqtt/mqtt_bridge.h"

#include <QJsonDocument>
#include <QJsonObject>

#include "mqtt/ha_discovery.h"
#include "mqtt/mqtt_link.h"
#include "owner/live_state.h"
#include "owner/owner_service.h"
#include "timers/timer.h"

std::string topicSegment(const std::string &name)
{
    std::string segment = name;
    for (char &c : segment) {
        const bool kept = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9')
            || c == '-' || c == '_';
        if (!kept)
            c = '_';
    }
    return segment;
}

MqttBridge::MqttBridge(
    MqttLink &link, OwnerService &service, LiveState &state, Timer &refresh, BridgeSettings settings)
    : link_(link), service_(service), state_(state), refresh_(refresh), settings_(std::move(settings))
{
    refresh_.setInterval(kRefreshMs);
    refresh_.setOnTick([this] { publishState(); });
    refresh_.setEnabled(true);
    settings_.name = topicSegment(settings_.name);
    client_ = service_.connect(
        [this](const std::string &line) {
            // A request without an id gets a reply without one.
            QJsonObject reply = QJsonDocument::fromJson(QByteArray::fromStdString(line)).object();
            if (reply.value(QStringLiteral("id")).isNull())
                reply.remove(QStringLiteral("id"));
            link_.publish(
                base() + "/reply", QJsonDocument(reply).toJson(QJsonDocument::Compact).toStdString(), false);
        },
        "MQTT (" + base() + ")");
    link_.onConnected = [this] { connected(); };
    link_.onMessage
        = [this](const std::string &topic, const std::string &payload) { message(topic, payload); };
    state_.listen([this] { publishState(); });
}

MqttBridge::~MqttBridge()
{
    link_.onConnected = nullptr;
    link_.onMessage = nullptr;
    service_.disconnect(client_);
}

void MqttBridge::connected()
{
    for (const DiscoveryMessage &config :
        discoveryMessages(settings_.name, base(), settings_.discoveryPrefix))
        link_.publish(config.topic, config.payload, true);
    // After the configs, or Home Assistant shows the entities unavailable.
    link_.publish(base() + "/availability", "online", true);
    publishState();
    link_.subscribe(base() + "/command");
    link_.subscribe(settings_.discoveryPrefix + "/status");
}

void MqttBridge::goingAway()
{
    link_.publish(base() + "/availability", "offline", true);
}

void MqttBridge::publishState()
{
    refresh_.setEnabled(true); // a minute from now at the latest
    const QJsonObject state = state_.toJson();
    link_.publish(base() + "/state", QJsonDocument(state).toJson(QJsonDocument::Compact).toStdString(), true);
    link_.publish(base() + "/readings",
        QJsonDocument(readings(state, settings_.limits)).toJson(QJsonDocument::Compact).toStdString(), true);
}

void MqttBridge::replyError(const std::string &why)
{
    QJsonObject reply;
    reply[QStringLiteral("error")] = QString::fromStdString(why);
    link_.publish(
        base() + "/reply", QJsonDocument(reply).toJson(QJsonDocument::Compact).toStdString(), false);
}

void MqttBridge::message(const std::string &topic, const std::string &payload)
{
    if (topic == settings_.discoveryPrefix + "/status") {
        if (payload == "online") // Home Assistant started again
            connected();
        return;
    }
    if (topic != base() + "/command")
        return;
    if (payload.size() > kPayloadLimit)
        return replyError("the command is longer than 64 KiB");
    const QString text = QString::fromUtf8(payload).trimmed();
    QJsonObject request;
    if (text.startsWith(QLatin1Char('{'))) {
        QJsonParseError parseError{};
        const QJsonDocument document = QJsonDocument::fromJson(text.toUtf8(), &parseError);
        if (!document.isObject())
            return replyError("malformed JSON: " + parseError.errorString().toStdString());
        request = document.object();
        for (const char *verb : {"lease", "release", "hello", "subscribe", "speed", "state"}) {
            if (request.contains(QString::fromLatin1(verb)))
                return replyError(
                    "over MQTT a request is a command or a line to send, not \"" + std::string(verb) + "\"");
        }
    } else if (text.isEmpty() || text.contains(QLatin1Char('\n'))) {
        return replyError("a command is one name, such as power-on, or a JSON object");
    } else {
        request[QStringLiteral("command")] = text;
    }
    if (!request.contains(QStringLiteral("id")))
        request[QStringLiteral("id")] = QJsonValue();
    service_.receive(client_, QJsonDocument(request).toJson(QJsonDocument::Compact).toStdString() + "\n");
}
