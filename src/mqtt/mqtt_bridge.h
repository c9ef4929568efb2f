// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// qv550d on MQTT, under qv550/<name>/:
//   availability  "online" or "offline", retained (the link's last will
//                 says "offline" when qv550d vanishes)
//   state         the live state, retained: what qv550-cli state --json prints,
//                 on every change and at least once a minute, so that a late
//                 reader's ages (and each value's read_at) are never older
//   readings      the same as figures (power, input, lamp hours, temperatures,
//                 pressure, problem), retained, for dashboards and alarms
//   command       a command's name, {"command": NAME} or {"send": LINE}, with
//                 "id", "address", "timeout_ms" as on the owner's socket;
//                 each goes through the line's arbitration like any client's
//   reply         each command's result, with the request's id when it had one;
//                 a malformed or unknown command gets an error, and nothing is sent
// and Home Assistant's discovery, published on connecting and again when
// homeassistant/status says "online".

#include <string>

#include "mqtt/readings.h"

class LiveState;
class MqttLink;
class OwnerService;
class Timer;

struct BridgeSettings {
    std::string name; // the topic segment: letters, digits, '-' and '_'
    std::string discoveryPrefix = "homeassistant";
    ProblemLimits limits;
};

// `name` as a topic segment: anything but letters, digits, '-' and '_' becomes '_'.
std::string topicSegment(const std::string &name);

class MqttBridge {
public:
    static constexpr std::size_t kPayloadLimit = 65536;

    // Published again at least this often, changed or not.
    static constexpr int kRefreshMs = 60000;

    MqttBridge(
        MqttLink &link, OwnerService &service, LiveState &state, Timer &refresh, BridgeSettings settings);
    ~MqttBridge();

    std::string base() const { return "qv550/" + settings_.name; }
    // Says "offline" before a planned stop (a clean goodbye cancels the will).
    void goingAway();

private:
    void connected();
    void message(const std::string &topic, const std::string &payload);
    void publishState();
    void replyError(const std::string &why);

    MqttLink &link_;
    OwnerService &service_;
    LiveState &state_;
    Timer &refresh_;
    BridgeSettings settings_;
    int client_ = 0;
};
