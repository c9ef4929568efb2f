// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// qv550d on MQTT, under qv550/<name>/:
//   availability  "online" or "offline", retained (the link's last will
//                 says "offline" when qv550d vanishes)
//   owner         retained: which qv550d holds the name (its client id, host,
//                 process and line), so that a second one with the same name
//                 stays off the topics instead of fighting over them
//   state         the live state, retained: what qv550-cli state --json prints,
//                 on every change and at least once a minute, so that a late
//                 reader's ages (and each value's read_at) are never older
//   readings      the same as figures (power, input, lamp hours, temperatures,
//                 pressure, problem), retained, for dashboards and alarms
//   command       a command's name, {"command": NAME}, {"scene": NAME} (its
//                 steps then reach the reply topic as they end) or {"send": LINE}, with
//                 "id", "address", "timeout_ms" and "sent_at" (when it was
//                 sent: a stale command is refused), bounded so that no
//                 publisher can hold the line, and restricted by mqtt-commands
//   reply         each command's result, with the request's id when it had one;
//                 a malformed, refused or unknown command gets an error, and
//                 nothing is sent
// and Home Assistant's discovery, published on connecting and again when
// homeassistant/status says "online".

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "mqtt/readings.h"

class LiveState;
class MqttLink;
class OwnerService;
class QJsonObject;
class QJsonValue;
class Timer;

// What a publisher on the command topic may ask for.
enum class MqttCommands {
    Named, // the commands by name, to the projector or one of addresses 1-4
    All,   // also any line ("send") and the broadcast address
    None,  // nothing: the command topic is not even read
};

struct BridgeSettings {
    std::string name; // the topic segment: letters, digits, '-' and '_'
    std::string discoveryPrefix = "homeassistant";
    ProblemLimits limits;
    MqttCommands commands = MqttCommands::Named;
    // A command whose sent_at is further than this from our clock, either
    // way, is refused: it waited somewhere (a bridge's queue) or the clocks
    // disagree too much to tell.
    int commandAgeMs = 10000;
    // A room broker's bridge notification topic, named in discovery as a
    // second availability topic; empty: none.
    std::string bridgeTopic;
    // The link's client id (ours is told from another's by it) and how this
    // qv550d is described to a second one: host, process, line.
    std::string clientId;
    std::string owner;
    std::function<std::int64_t()> wallClockMs; // for sent_at; empty: this machine's clock
    std::function<void(int priority, const std::string &)> log;
    std::vector<std::string> scenes; // the owner's scenes, a button each in discovery
};

// `name` as a topic segment: anything but letters, digits, '-' and '_' becomes '_'.
std::string topicSegment(const std::string &name);

// "named", "all" or "none".
bool mqttCommandsFrom(const std::string &word, MqttCommands &commands);

class MqttBridge {
public:
    static constexpr std::size_t kPayloadLimit = 65536;
    // The projector's longest command line is under 32 bytes: a longer
    // one can only hold the line.
    static constexpr std::size_t kLongestLine = 32;

    // Published again at least this often, changed or not.
    static constexpr int kRefreshMs = 60000;
    // A name check with no answer after this long (the owner topic not
    // allowed to this user) is given up at the next publication.
    static constexpr int kNameCheckMs = 10000;

    // The longest reply watch any named command needs: the most a command on MQTT may wait.
    static int longestWatchMs();

    MqttBridge(
        MqttLink &link, OwnerService &service, LiveState &state, Timer &refresh, BridgeSettings settings);
    ~MqttBridge();

    std::string base() const { return "qv550/" + settings_.name; }
    // Whether this qv550d publishes on the name (not a second one waiting).
    bool holdsName() const { return claim_ == Claim::Holding; }
    // Says "offline" before a planned stop (a clean goodbye cancels the will).
    void goingAway();

private:
    enum class Claim { Waiting, Claiming, Holding, Yielded };

    void connected();
    void probe();
    void announce();
    void ownerMessage(const std::string &payload);
    void standAside(const std::string &holder);
    void command(const std::string &payload);
    std::string refusal(const QJsonObject &request) const;
    std::string staleness(const QJsonValue &sentAt) const;
    void message(const std::string &topic, const std::string &payload);
    void publishState();
    void replyError(const std::string &why, const QJsonValue &id);
    void say(int priority, const std::string &text) const;

    MqttLink &link_;
    OwnerService &service_;
    LiveState &state_;
    Timer &refresh_;
    BridgeSettings settings_;
    int client_ = 0;
    Claim claim_ = Claim::Waiting;
    std::string holder_;          // the client id of the retained claim; empty: none
    std::string holderText_;      // how the holder describes itself
    bool yielded_ = false;        // stood aside, and said so
    std::int64_t probedAtMs_ = 0; // when the last name check was sent
    std::string availability_;    // the retained availability as last heard
};
