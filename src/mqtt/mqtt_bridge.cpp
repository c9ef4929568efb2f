// SPDX-License-Identifier: GPL-3.0-or-later
// The bridge is one more client of the owner: a command from MQTT becomes
// the same JSON request a program on the socket sends, so it is checked,
// queued and answered exactly as theirs are. Before that, what MQTT alone
// needs: anyone allowed to publish on the broker reaches it, so a command
// is bounded (its wait, its length, its bytes), restricted by mqtt-commands,
// and refused when stale; and a second qv550d given a name already online
// stands aside instead of taking turns with the first.
//
// The name is claimed without a timer: the bridge subscribes to its owner
// topic, then publishes a probe there (not retained). The broker sends the
// retained claim for a subscription before anything published after it, so
// when the probe comes back the claim, if any, is known. A claim is
// retained; two made at once are ordered by the broker, and the later one wins.

#include "mqtt/mqtt_bridge.h"

#include <QDateTime>
#include <QJsonObject>

#include <algorithm>
#include <cmath>
#include <cstdio>

#include "commands/named_commands.h"
#include "mqtt/ha_discovery.h"
#include "mqtt/mqtt_link.h"
#include "owner/live_state.h"
#include "owner/owner_service.h"
#include "protocol/json_lines.h"
#include "protocol/owner_protocol.h"
#include "core/timer.h"

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

bool mqttCommandsFrom(const std::string &word, MqttCommands &commands)
{
    if (word == "named")
        commands = MqttCommands::Named;
    else if (word == "all")
        commands = MqttCommands::All;
    else if (word == "none")
        commands = MqttCommands::None;
    else
        return false;
    return true;
}

int MqttBridge::longestWatchMs()
{
    int longest = 0;
    for (const NamedCommand &command : namedCommands())
        longest = std::max(longest, command.replyWatchMs);
    return longest;
}

namespace {

QString qs(const std::string &text)
{
    return QString::fromStdString(text);
}

// The claim messages on the owner topic, by which bridges of one name find
// out which of them publishes: MQTT's own, not the owner's socket's.
constexpr QLatin1String kProbe{"probe"};
constexpr QLatin1String kClaimClient{"client"};
constexpr QLatin1String kClaimOwner{"owner"};
// Over MQTT a request is a command or a line to send.
constexpr std::array kNotOverMqtt
    = {Verb::Lease, Verb::Release, Verb::Hello, Verb::Subscribe, Verb::Speed, Verb::State};

std::string seconds(double ms)
{
    char text[32];
    std::snprintf(text, sizeof text, "%.1f", ms / 1000.0);
    return text;
}

} // namespace

MqttBridge::MqttBridge(
    MqttLink &link, OwnerService &service, LiveState &state, Timer &refresh, BridgeSettings settings)
    : link_(link), service_(service), state_(state), refresh_(refresh), settings_(std::move(settings))
{
    refresh_.setInterval(kRefreshMs);
    refresh_.setOnTick([this] { publishState(); });
    refresh_.setEnabled(true);
    settings_.name = topicSegment(settings_.name);
    if (!settings_.wallClockMs)
        settings_.wallClockMs = [] { return QDateTime::currentMSecsSinceEpoch(); };
    client_ = service_.connect(
        [this](const std::string &line) {
            // A request without an id gets a reply without one.
            QJsonObject reply = jsonObject(line);
            if (reply.value(field::kId).isNull())
                reply.remove(field::kId);
            link_.publish(base() + "/reply", jsonText(reply), false);
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
    claim_ = Claim::Waiting;
    holder_.clear();
    availability_.clear();
    link_.subscribe(base() + "/owner");
    link_.subscribe(base() + "/availability");
    probe();
}

void MqttBridge::probe()
{
    claim_ = Claim::Waiting;
    probedAtMs_ = settings_.wallClockMs();
    QJsonObject probe;
    probe[kProbe] = qs(settings_.clientId);
    link_.publish(base() + "/owner", jsonText(probe), false);
}

void MqttBridge::announce()
{
    DiscoveryOptions options;
    options.prefix = settings_.discoveryPrefix;
    options.bridgeTopic = settings_.bridgeTopic;
    options.commands = settings_.commands != MqttCommands::None;
    options.scenes = settings_.scenes;
    for (const DiscoveryMessage &config : discoveryMessages(settings_.name, base(), options))
        link_.publish(config.topic, config.payload, true);
    // After the configs, or Home Assistant shows the entities unavailable.
    link_.publish(base() + "/availability", "online", true);
    publishState();
    if (settings_.commands != MqttCommands::None)
        link_.subscribe(base() + "/command");
    link_.subscribe(settings_.discoveryPrefix + "/status");
}

void MqttBridge::ownerMessage(const std::string &payload)
{
    if (payload.empty()) { // the holder let the name go
        holder_.clear();
        return;
    }
    const QJsonObject object = jsonObject(payload);
    if (object.contains(kProbe)) {
        if (claim_ != Claim::Waiting || object.value(kProbe).toString().toStdString() != settings_.clientId)
            return;
        // Our probe is back: the retained claim, if any, came before it.
        if (!holder_.empty() && holder_ != settings_.clientId && availability_ == "online")
            return standAside(holderText_);
        QJsonObject claim;
        claim[kClaimClient] = qs(settings_.clientId);
        claim[kClaimOwner] = qs(settings_.owner);
        claim_ = Claim::Claiming;
        link_.publish(base() + "/owner", jsonText(claim), true);
        return;
    }
    const std::string client = object.value(kClaimClient).toString().toStdString();
    if (client.empty())
        return;
    holder_ = client;
    holderText_ = object.value(kClaimOwner).toString().toStdString();
    if (client == settings_.clientId) {
        if (claim_ == Claim::Claiming) {
            const bool back = yielded_;
            claim_ = Claim::Holding;
            if (back)
                say(5, "the name " + settings_.name + " is free again: publishing on " + base() + "/");
            yielded_ = false;
            announce();
        }
        return;
    }
    // Another's claim while ours waits for its echo was made before ours;
    // one after ours is later, and the later one wins.
    if (claim_ == Claim::Holding)
        standAside(holderText_);
}

void MqttBridge::standAside(const std::string &holder)
{
    const bool was = claim_ == Claim::Holding;
    claim_ = Claim::Yielded;
    if (was && settings_.commands != MqttCommands::None)
        link_.unsubscribe(base() + "/command");
    if (yielded_)
        return; // said once, not at every reconnection
    yielded_ = true;
    say(3,
        "the name " + settings_.name + " is already online: " + (holder.empty() ? "another qv550d" : holder)
            + " publishes on " + base() + "/. This one stays off MQTT until that one goes offline;"
            + " give each line its own name (name = ...)");
}

void MqttBridge::goingAway()
{
    if (claim_ != Claim::Holding)
        return;              // the name is another's: nothing of ours to take down
    claim_ = Claim::Waiting; // our own "offline" is not answered with "online"
    link_.publish(base() + "/availability", "offline", true);
    link_.publish(base() + "/owner", {}, true);
}

void MqttBridge::publishState()
{
    refresh_.setEnabled(true); // a minute from now at the latest
    if (claim_ == Claim::Waiting || claim_ == Claim::Claiming) {
        // A broker whose access list forbids the owner topic drops the
        // probe: rather than never publishing, publish without the check.
        if (!link_.connected() || settings_.wallClockMs() - probedAtMs_ < kNameCheckMs)
            return;
        say(4,
            "the name check on " + base() + "/owner had no answer within "
                + std::to_string(kNameCheckMs / 1000)
                + " s (may this user read and write it?): publishing without it");
        claim_ = Claim::Holding;
        return announce();
    }
    if (claim_ != Claim::Holding)
        return;
    const QJsonObject state = state_.toJson();
    link_.publish(base() + "/state", jsonText(state), true);
    link_.publish(base() + "/readings", jsonText(readings(state, settings_.limits)), true);
}

void MqttBridge::replyError(const std::string &why, const QJsonValue &id)
{
    QJsonObject reply = errorReply(id, why);
    if (id.isUndefined() || id.isNull())
        reply.remove(field::kId);
    link_.publish(base() + "/reply", jsonText(reply), false);
}

void MqttBridge::say(int priority, const std::string &text) const
{
    if (settings_.log)
        settings_.log(priority, text);
}

void MqttBridge::message(const std::string &topic, const std::string &payload)
{
    if (topic == base() + "/owner")
        return ownerMessage(payload);
    if (topic == base() + "/availability") {
        availability_ = payload;
        if (claim_ == Claim::Holding && payload != "online") {
            // Another qv550d's last will, or one that stopped, on our name:
            // this one is still here.
            link_.publish(base() + "/availability", "online", true);
        } else if (claim_ == Claim::Yielded && payload == "offline") {
            probe(); // the holder went: the name may be ours now
        }
        return;
    }
    if (claim_ != Claim::Holding)
        return;
    if (topic == settings_.discoveryPrefix + "/status") {
        if (payload == "online") // Home Assistant started again
            announce();
        return;
    }
    if (topic == base() + "/command" && settings_.commands != MqttCommands::None)
        command(payload);
}

void MqttBridge::command(const std::string &payload)
{
    if (payload.size() > kPayloadLimit)
        return replyError("the command is longer than 64 KiB", QJsonValue());
    const QString text = QString::fromUtf8(payload).trimmed();
    QJsonObject request;
    if (text.startsWith(QLatin1Char('{'))) {
        std::string whyNot;
        const auto object = requestObject(text.toStdString(), whyNot);
        if (!object)
            return replyError(whyNot, QJsonValue());
        request = *object;
        for (const Verb verb : kNotOverMqtt) {
            if (request.contains(verbName(verb)))
                return replyError("over MQTT a request is a command or a line to send, not \""
                        + std::string(verbName(verb).data()) + "\"",
                    request.value(field::kId));
        }
    } else if (text.isEmpty() || text.contains(QLatin1Char('\n'))) {
        return replyError("a command is one name, such as power-on, or a JSON object", QJsonValue());
    } else {
        request[field::kCommand] = text;
    }
    if (const std::string why = refusal(request); !why.empty())
        return replyError(why, request.value(field::kId));
    request.remove(QStringLiteral("sent_at"));
    if (!request.contains(field::kId))
        request[field::kId] = QJsonValue();
    service_.receive(client_, jsonLine(request).toStdString());
}

std::string MqttBridge::refusal(const QJsonObject &request) const
{
    if (request.contains(QStringLiteral("sent_at"))) {
        if (const std::string why = staleness(request.value(QStringLiteral("sent_at"))); !why.empty())
            return why;
    }
    const bool all = settings_.commands == MqttCommands::All;
    const QJsonValue send = request.value(field::kSend);
    if (!send.isUndefined()) {
        if (!all)
            return "a line to send is not taken on MQTT here (mqtt-commands = named): give a command's name";
        const QString line = send.toString();
        if (static_cast<std::size_t>(line.size()) > kLongestLine)
            return "the line to send is " + std::to_string(line.size()) + " characters: on MQTT at most "
                + std::to_string(kLongestLine) + " (the CR is added)";
        for (const QChar c : line) {
            const char16_t code = c.unicode();
            if (code < 0x20 || (code >= 0x7f && code < 0xa0)) {
                char hex[8];
                std::snprintf(hex, sizeof hex, "0x%02X", static_cast<unsigned>(code));
                return std::string("the line to send holds the control byte ") + hex
                    + ": on MQTT a line is printable text (the CR is added)";
            }
        }
    }
    // By the prefix the word stands for, not by the word.
    const auto prefix = addressPrefixFor(request.value(field::kAddress).toString().toStdString());
    if (prefix && *prefix == kBroadcastPrefix && !all)
        return "the broadcast address is not taken on MQTT here (mqtt-commands = named)";
    if (const QJsonValue timeout = request.value(field::kTimeoutMs);
        timeout.isDouble() && timeout.toDouble() > longestWatchMs())
        return "timeout_ms on MQTT is at most " + std::to_string(longestWatchMs())
            + " ms (the longest reply watch a command needs)";
    return {};
}

std::string MqttBridge::staleness(const QJsonValue &sentAt) const
{
    double at = 0;
    if (sentAt.isDouble()) {
        at = sentAt.toDouble();
    } else {
        const QDateTime time = QDateTime::fromString(sentAt.toString(), Qt::ISODateWithMs);
        // A time without its offset could be anyone's local time.
        if (!sentAt.isString() || !time.isValid() || time.timeSpec() == Qt::LocalTime)
            return "sent_at is milliseconds since 1970 (UTC) or an ISO 8601 time with its offset, such as "
                   "2026-03-01T18:30:00.250Z";
        at = static_cast<double>(time.toMSecsSinceEpoch());
    }
    if (!std::isfinite(at))
        return "sent_at is not a time";
    const double age = static_cast<double>(settings_.wallClockMs()) - at;
    const std::string bound = seconds(settings_.commandAgeMs) + " s (mqtt-command-age)";
    if (age > settings_.commandAgeMs)
        return "the command is stale: sent " + seconds(age) + " s ago, more than " + bound
            + "; nothing was sent";
    if (-age > settings_.commandAgeMs)
        return "the command's sent_at is " + seconds(-age) + " s ahead of this machine's clock, more than "
            + bound + "; nothing was sent";
    return {};
}
