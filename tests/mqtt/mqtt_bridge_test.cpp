// SPDX-License-Identifier: GPL-3.0-or-later
// The MQTT bridge on an in-memory link, the serial double and the virtual
// clock: what it publishes on connecting, commands through the line and
// their replies, bad commands that send nothing, Home Assistant's restart;
// the readings and problems table; the service's settings.

#include <gtest/gtest.h>

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

#include <map>
#include <memory>
#include <vector>

#include "mqtt/ha_discovery.h"
#include "mqtt/mqtt_bridge.h"
#include "mqtt/mqtt_link.h"
#include "owner/service_config.h"
#include "owner/live_owner.h"
#include "owner/owner_service.h"
#include "serial_double.h"
#include "timers/virtual_clock.h"

namespace {

// Publishes are recorded; retained ones also kept as the broker would.
class LinkDouble : public MqttLink {
public:
    void publish(const std::string &topic, const std::string &payload, bool retain) override
    {
        if (!up)
            return;
        published.emplace_back(topic, payload);
        if (retain)
            retained[topic] = payload;
    }
    void subscribe(const std::string &topic) override { subscriptions.push_back(topic); }
    bool connected() const override { return up; }
    void connect()
    {
        up = true;
        onConnected();
    }
    void deliver(const std::string &topic, const std::string &payload) { onMessage(topic, payload); }
    std::vector<std::string> on(const std::string &topic) const
    {
        std::vector<std::string> payloads;
        for (const auto &[t, p] : published) {
            if (t == topic)
                payloads.push_back(p);
        }
        return payloads;
    }

    bool up = false;
    std::vector<std::pair<std::string, std::string>> published;
    std::map<std::string, std::string> retained;
    std::vector<std::string> subscriptions;
};

QJsonObject json(const std::string &text)
{
    return QJsonDocument::fromJson(QByteArray::fromStdString(text)).object();
}

class Bridge : public ::testing::Test {
protected:
    Bridge()
    {
        serial.setPortOpen(true);
        shared.setOnComm([this] { (void)shared.input(); });
        service.setLiveState(&live.state, &live.poller);
    }

    VirtualClock clock;
    std::unique_ptr<Timer> watch = clock.createTimer(500);
    std::unique_ptr<Timer> quiet = clock.createTimer(SharedLine::kPanelQuietMs);
    std::unique_ptr<Timer> lease = clock.createTimer(1000);
    std::unique_ptr<Timer> poll = clock.createTimer(1000);
    SerialDouble serial;
    std::unique_ptr<Timer> lineWait = clock.createTimer(1000);
    SharedLine shared{serial, *watch, *quiet, *lease, *lineWait, [this] { return clock.now(); }};
    LiveOwner live{shared, *poll, [this] { return clock.now(); }};
    OwnerService service{shared, "ttyUSB0", "qv550d"};
    LinkDouble link;
    std::unique_ptr<Timer> refresh = clock.createTimer(MqttBridge::kRefreshMs);
    MqttBridge bridge{link, service, live.state, *refresh, BridgeSettings{"hall left", "homeassistant", {}}};
};

TEST_F(Bridge, OnConnectingItPublishesDiscoveryThenOnlineThenTheStateAndListens)
{
    link.connect();
    const std::string base = "qv550/hall_left";
    EXPECT_EQ(link.retained.at(base + "/availability"), "online");
    EXPECT_EQ(json(link.retained.at(base + "/state")).size(), 9);
    EXPECT_TRUE(json(link.retained.at(base + "/readings")).value(QStringLiteral("problem")).isNull());
    // Every discovery config comes before "online", or the entities stay unavailable.
    std::size_t online = 0, lastConfig = 0;
    for (std::size_t i = 0; i < link.published.size(); ++i) {
        if (link.published[i].first.ends_with("/config"))
            lastConfig = i;
        if (link.published[i].first == base + "/availability")
            online = i;
    }
    EXPECT_LT(lastConfig, online);
    EXPECT_EQ(link.subscriptions, (std::vector<std::string>{base + "/command", "homeassistant/status"}));

    // Home Assistant started again: everything once more.
    const std::size_t before = link.published.size();
    link.deliver("homeassistant/status", "offline");
    EXPECT_EQ(link.published.size(), before);
    link.deliver("homeassistant/status", "online");
    EXPECT_EQ(link.published.size(), 2 * before);

    // A change of state reaches the retained state at once.
    live.state.exchanged("CR0\r", "00\r", true);
    EXPECT_EQ(json(link.retained.at(base + "/state"))
                  .value(QStringLiteral("status"))
                  .toObject()
                  .value(QStringLiteral("status")),
        QStringLiteral("Power ON"));
    EXPECT_EQ(json(link.retained.at(base + "/readings")).value(QStringLiteral("power_switch")),
        QStringLiteral("ON"));
    // Unchanged, it is published again within a minute: a late reader's ages stay true.
    const std::size_t states = link.on(base + "/state").size();
    clock.advance(MqttBridge::kRefreshMs - 1);
    EXPECT_EQ(link.on(base + "/state").size(), states);
    clock.advance(1);
    EXPECT_EQ(link.on(base + "/state").size(), states + 1);
    EXPECT_EQ(json(link.retained.at(base + "/state"))
                  .value(QStringLiteral("status"))
                  .toObject()
                  .value(QStringLiteral("age_ms")),
        MqttBridge::kRefreshMs);
    bridge.goingAway();
    EXPECT_EQ(link.retained.at(base + "/availability"), "offline");
}

TEST_F(Bridge, CommandsGoThroughTheLineAndBadOnesGetAnErrorAndSendNothing)
{
    link.connect();
    const std::string topic = "qv550/hall_left/command";
    struct Case {
        std::string payload;
        std::string sent;  // on the line; empty: nothing
        std::string error; // in the reply; empty: none
        QJsonValue id = QJsonValue(QJsonValue::Undefined);
    };
    const std::vector<Case> cases = {
        {"power-on", "C00\r", ""},
        {"  input-2\n", "C06\r", ""},
        {R"({"id": 7, "command": "freeze-on"})", "C43\r", "", 7},
        {R"({"id": "a", "send": "CR VOLUME", "timeout_ms": 100})", "CR VOLUME\r", "", QStringLiteral("a")},
        {"power-onn", "", "unknown command \"power-onn\""},
        {"{\"command\": ", "", "malformed JSON"},
        {R"({"id": 3, "lease": 10})", "", "over MQTT a request is a command or a line to send"},
        {R"({"send": "C00\r"})", "", "holds a CR or LF"},
        {R"({"command": "status", "colour": "red"})", "", "unknown field \"colour\""},
        {"", "", "a command is one name"},
        {"power-on\npower-off", "", "a command is one name"},
        {std::string(MqttBridge::kPayloadLimit + 1, 'x'), "", "longer than 64 KiB"},
    };
    for (const Case &c : cases) {
        const std::size_t written = serial.writes().size();
        const std::size_t replies = link.on("qv550/hall_left/reply").size();
        link.deliver(topic, c.payload);
        if (!c.sent.empty()) {
            ASSERT_EQ(serial.writes().size(), written + 1) << c.payload;
            EXPECT_EQ(serial.writes().back(), c.sent);
            serial.feed("\x06");
        } else {
            EXPECT_EQ(serial.writes().size(), written) << c.payload.substr(0, 40);
        }
        clock.advance(SharedLine::kPanelQuietMs);
        const auto all = link.on("qv550/hall_left/reply");
        ASSERT_EQ(all.size(), replies + 1) << c.payload.substr(0, 40);
        const QJsonObject reply = json(all.back());
        EXPECT_EQ(reply.value(QStringLiteral("id")), c.id) << c.payload;
        if (c.error.empty()) {
            EXPECT_FALSE(reply.contains(QStringLiteral("error"))) << c.payload;
            EXPECT_EQ(reply.value(QStringLiteral("monitor")), QStringLiteral("ACK"));
        } else {
            EXPECT_NE(
                reply.value(QStringLiteral("error")).toString().indexOf(QString::fromStdString(c.error)), -1)
                << c.payload.substr(0, 40) << " -> " << all.back();
        }
    }
}

TEST(Readings, FiguresAndProblemsFromTheReplies)
{
    struct Case {
        std::vector<std::pair<std::string, std::string>> replies;
        const char *key;
        QJsonValue value;
        std::vector<QString> problems;
    };
    const std::vector<Case> cases = {
        {{}, "power", QJsonValue(), {}}, {{{"CR0\r", "80\r"}}, "power", QStringLiteral("standby"), {}},
        {{{"CR0\r", "40\r"}}, "power_switch", QStringLiteral("ON"), {}},
        {{{"CR0\r", "10\r"}}, "power", QStringLiteral("fail"), {QStringLiteral("Power Fail")}},
        {{{"CR0\r", "08\r"}}, "power", QStringLiteral("on"),
            {QStringLiteral("Temperature Warning(Power ON)")}},
        {{{"CR0\r", "21\r"}}, "power", QStringLiteral("cooling"),
            {QStringLiteral("Cooling down (All Lamp FAIL)")}},
        {{{"CR0\r", "00\r"}, {"CR1\r", "3\r"}}, "input", QStringLiteral("3"), {}},
        {{{"CR0\r", "00\r"}, {"CR3\r", "0123 0456 0789 1011\r"}}, "lamp_hours",
            QJsonArray{123, 456, 789, 1011}, {}},
        {{{"CR0\r", "00\r"}, {"CR6\r", "+25.5,+31.0\r"}}, "temperature_2", 31.0, {}},
        {{{"CR0\r", "00\r"}, {"CR6\r", "+61.5,+31.0\r"}}, "temperature_1", 61.5,
            {QStringLiteral("temperature 1 is 61.5 °C, above 60 °C")}},
        {{{"CR0\r", "00\r"}, {"CR PRESSURE\r", "512\r"}}, "pressure_hpa", 650, {}},
        {{{"CR0\r", "00\r"}, {"CR PRESSURE\r", "300\r"}}, "pressure_hpa", 425,
            {QStringLiteral("the pressure is 425 hPa, below 600 hPa")}},
        {{{"CR0\r", "00\r"}, {"CR7\r", "0F\r"}}, "problem", false, {}},
        {{{"CR0\r", "00\r"}, {"CR7\r", "0B\r"}}, "problem", true, {QStringLiteral("lamp 3 is not lit")}},
        {{{"CR0\r", "00\r"}, {"CR7\r", "18\r"}}, "problem", true, {QStringLiteral("lamp 1 is not lit")}},
        {{{"CR0\r", "80\r"}, {"CR7\r", "00\r"}}, "problem", false, {}}, // lamps are off in stand-by
    };
    for (const Case &c : cases) {
        LiveState state([] { return 0; });
        for (const auto &[sent, reply] : c.replies)
            state.exchanged(sent, reply, true);
        const QJsonObject figures = readings(state.toJson(), ProblemLimits{});
        EXPECT_EQ(figures.value(QString::fromLatin1(c.key)), c.value)
            << c.key << " " << (c.replies.empty() ? "" : c.replies.back().second);
        std::vector<QString> problems;
        for (const QJsonValue &problem : figures.value(QStringLiteral("problems")).toArray())
            problems.push_back(problem.toString());
        EXPECT_EQ(problems, c.problems) << c.key;
    }
}

TEST(Discovery, EveryEntityCarriesHomeAssistantsRequiredKeysAndOneDevice)
{
    const auto messages = discoveryMessages("hall_left", "qv550/hall_left");
    std::map<std::string, int> components;
    for (const DiscoveryMessage &message : messages) {
        const QJsonObject config = json(message.payload);
        const std::string component = message.topic.substr(14, message.topic.find('/', 14) - 14);
        ++components[component];
        EXPECT_TRUE(message.topic.starts_with("homeassistant/" + component + "/qv550_hall_left/"))
            << message.topic;
        EXPECT_TRUE(message.topic.ends_with("/config"));
        for (const char *key : {"name", "unique_id", "device", "availability_topic"})
            EXPECT_TRUE(config.contains(QString::fromLatin1(key))) << message.topic << " " << key;
        EXPECT_EQ(config.value(QStringLiteral("device"))
                      .toObject()
                      .value(QStringLiteral("identifiers"))
                      .toArray()
                      .first(),
            QStringLiteral("qv550_hall_left"));
        const bool reads = component != "button";
        const bool commands = component == "switch" || component == "select" || component == "button";
        EXPECT_EQ(config.contains(QStringLiteral("state_topic")), reads) << message.topic;
        EXPECT_EQ(config.contains(QStringLiteral("command_topic")), commands) << message.topic;
        if (component == "select") {
            EXPECT_EQ(config.value(QStringLiteral("options")).toArray().size(), 4);
        }
    }
    EXPECT_EQ(components,
        (std::map<std::string, int>{
            {"binary_sensor", 1}, {"button", 8}, {"select", 1}, {"sensor", 8}, {"switch", 1}}));
    EXPECT_EQ(json(messages[4].payload).value(QStringLiteral("value_template")),
        QStringLiteral("{{ value_json.lamp_hours[1] if value_json.lamp_hours else None }}"));
}

TEST(ServiceSettings, TheFileAndTheCommandLineAcceptAndRefuseAlike)
{
    ServiceConfig config;
    std::string whyNot;
    ASSERT_TRUE(
        readServiceConfig("# hall\nport = /dev/ttyUSB0\n\nname = hall-left  # the left one\npoll = no\n"
                          "mqtt = mqtts://broker.example\nmqtt-user = qv550\ntemperature-limit = 55.5\n",
            config, whyNot))
        << whyNot;
    EXPECT_EQ(config.port, "/dev/ttyUSB0");
    EXPECT_EQ(config.name, "hall-left");
    EXPECT_FALSE(config.poll);
    EXPECT_EQ(config.limits.temperatureAbove, 55.5);
    struct Bad {
        std::string text;
        std::string why;
    };
    for (const Bad &bad : std::vector<Bad>{
             {"port /dev/ttyS0", "line 1: a setting is \"key = value\""},
             {"\nspeed = 4800", "line 2: speed is 19200 or 9600"},
             {"mqtt-password = hunter2",
                 "line 1: unknown setting \"mqtt-password\": give the password in a file"},
             {"mqtt = http://broker", "line 1: the broker is mqtt://HOST:PORT or mqtts://HOST:PORT"},
             {"mqtt = mqtt://broker:99999", "line 1: the broker's port"},
             {"poll = maybe", "line 1: poll is yes or no"},
             {"pressure-limit = low", "line 1: pressure-limit is a number of hPa"},
         }) {
        ServiceConfig fresh;
        EXPECT_FALSE(readServiceConfig(bad.text, fresh, whyNot)) << bad.text;
        EXPECT_TRUE(whyNot.starts_with(bad.why)) << whyNot;
    }
    struct Address {
        std::string url;
        std::string host;
        int port;
        bool tls;
    };
    for (const Address &a : std::vector<Address>{{"mqtt://10.0.0.5", "10.0.0.5", 1883, false},
             {"mqtts://broker.example:8884/", "broker.example", 8884, true},
             {"mqtt://[::1]:1884", "::1", 1884, false}}) {
        const auto parsed = parseMqttAddress(a.url, whyNot);
        ASSERT_TRUE(parsed) << a.url << whyNot;
        EXPECT_EQ(parsed->host, a.host);
        EXPECT_EQ(parsed->port, a.port);
        EXPECT_EQ(parsed->tls, a.tls);
    }
}

} // namespace
