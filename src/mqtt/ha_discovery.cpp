// SPDX-License-Identifier: GPL-3.0-or-later
// The keys are Home Assistant's documented MQTT discovery keys. Values come
// from two retained topics: "state" (what qv550-cli state --json prints)
// and "readings" (the same as figures, see readings.h). A template that
// renders None leaves the entity unknown rather than showing a stale value.

#include "mqtt/ha_discovery.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

#include <algorithm>
#include <array>
#include <string_view>
#include <vector>

namespace {

enum class Source { None, State, Readings };

struct Entity {
    std::string_view component;
    std::string_view object;
    std::string_view name;
    Source source;
    std::string_view valueTemplate;
    std::string_view deviceClass = {};
    std::string_view unit = {};
    std::string_view stateClass = {};
    std::string_view command = {}; // a button's command; a switch's "on|off"
    std::string_view icon = {};
};

constexpr std::string_view kLampHours = "{{ value_json.lamp_hours[%] if value_json.lamp_hours else None }}";

// clang-format off
constexpr std::array kEntities = {
    Entity{"switch", "power", "Power", Source::Readings, "{{ value_json.power_switch }}", {}, {}, {}, "power-on|power-off", "mdi:projector"},
    Entity{"select", "input", "Input", Source::Readings, "{{ value_json.input }}"},
    Entity{"sensor", "power_status", "Power status", Source::State, "{{ value_json.status.status }}", {}, {}, {}, {}, "mdi:information-outline"},
    Entity{"sensor", "lamp_1_hours", "Lamp 1 hours", Source::Readings, kLampHours, "duration", "h", "total_increasing"},
    Entity{"sensor", "lamp_2_hours", "Lamp 2 hours", Source::Readings, kLampHours, "duration", "h", "total_increasing"},
    Entity{"sensor", "lamp_3_hours", "Lamp 3 hours", Source::Readings, kLampHours, "duration", "h", "total_increasing"},
    Entity{"sensor", "lamp_4_hours", "Lamp 4 hours", Source::Readings, kLampHours, "duration", "h", "total_increasing"},
    Entity{"sensor", "temperature_1", "Temperature 1", Source::Readings, "{{ value_json.temperature_1 }}", "temperature", "°C", "measurement"},
    Entity{"sensor", "temperature_2", "Temperature 2", Source::Readings, "{{ value_json.temperature_2 }}", "temperature", "°C", "measurement"},
    Entity{"sensor", "pressure", "Pressure", Source::Readings, "{{ value_json.pressure_hpa }}", "atmospheric_pressure", "hPa", "measurement"},
    Entity{"binary_sensor", "problem", "Problem", Source::Readings,
           "{% if value_json.problem is none %}None{% elif value_json.problem %}ON{% else %}OFF{% endif %}", "problem"},
    Entity{"button", "power_on", "Power on", Source::None, {}, {}, {}, {}, "power-on", "mdi:power-on"},
    Entity{"button", "power_off", "Power off", Source::None, {}, {}, {}, {}, "power-off", "mdi:power-off"},
    Entity{"button", "sound_mute_on", "Sound mute on", Source::None, {}, {}, {}, {}, "sound-mute-on", "mdi:volume-off"},
    Entity{"button", "sound_mute_off", "Sound mute off", Source::None, {}, {}, {}, {}, "sound-mute-off", "mdi:volume-high"},
    Entity{"button", "no_show_on", "Picture mute on", Source::None, {}, {}, {}, {}, "no-show-on", "mdi:projector-off"},
    Entity{"button", "no_show_off", "Picture mute off", Source::None, {}, {}, {}, {}, "no-show-off", "mdi:projector"},
    Entity{"button", "freeze_on", "Freeze on", Source::None, {}, {}, {}, {}, "freeze-on", "mdi:pause"},
    Entity{"button", "freeze_off", "Freeze off", Source::None, {}, {}, {}, {}, "freeze-off", "mdi:play"},
};
// clang-format on

QString qs(std::string_view text)
{
    return QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size()));
}

void setIf(QJsonObject &object, const char *key, std::string_view value)
{
    if (!value.empty())
        object[QString::fromLatin1(key)] = qs(value);
}

} // namespace

std::vector<DiscoveryMessage> discoveryMessages(
    const std::string &name, const std::string &base, const DiscoveryOptions &options)
{
    const std::string node = "qv550_" + name;
    QJsonObject device;
    device[QStringLiteral("identifiers")] = QJsonArray{qs(node)};
    device[QStringLiteral("name")] = qs("Projector " + name);
    device[QStringLiteral("model")] = QStringLiteral("QV550");
    // The projector's firmware is not known; what publishes it is told as the origin.
    QJsonObject origin;
    origin[QStringLiteral("name")] = QStringLiteral("qv550d");
    origin[QStringLiteral("sw_version")] = QStringLiteral(PANEL_VERSION);
    std::vector<DiscoveryMessage> messages;
    // A scene is one more button, its object id from its name.
    std::vector<Entity> entities(kEntities.begin(), kEntities.end());
    std::vector<std::string> sceneTexts; // what the scene buttons' views point into
    sceneTexts.reserve(options.scenes.size() * 3);
    for (const std::string &scene : options.scenes) {
        std::string object = "scene_" + scene;
        std::replace(object.begin(), object.end(), '-', '_');
        sceneTexts.push_back(object);
        sceneTexts.push_back("Scene " + scene);
        QJsonObject press;
        press[QStringLiteral("scene")] = qs(scene);
        sceneTexts.push_back(QJsonDocument(press).toJson(QJsonDocument::Compact).toStdString());
        const std::size_t at = sceneTexts.size() - 3;
        entities.push_back(Entity{"button", sceneTexts[at], sceneTexts[at + 1], Source::None, {}, {}, {}, {},
            sceneTexts[at + 2], "mdi:play-box-outline"});
    }
    for (const Entity &entity : entities) {
        const bool commands = entity.component != "sensor" && entity.component != "binary_sensor";
        const std::string topic = options.prefix + "/" + std::string(entity.component) + "/" + node + "/"
            + std::string(entity.object) + "/config";
        if (commands && !options.commands) {
            messages.push_back({topic, {}});
            continue;
        }
        QJsonObject config;
        config[QStringLiteral("name")] = qs(entity.name);
        config[QStringLiteral("unique_id")] = qs(node + "_" + std::string(entity.object));
        // The entity id Home Assistant gives it the first time (object_id is no longer read).
        config[QStringLiteral("default_entity_id")]
            = qs(std::string(entity.component) + "." + node + "_" + std::string(entity.object));
        config[QStringLiteral("device")] = device;
        config[QStringLiteral("origin")] = origin;
        if (options.bridgeTopic.empty()) {
            config[QStringLiteral("availability_topic")] = qs(base + "/availability");
            config[QStringLiteral("payload_available")] = QStringLiteral("online");
            config[QStringLiteral("payload_not_available")] = QStringLiteral("offline");
        } else {
            // Behind a bridge the room's own "online" stays retained on the
            // central broker through an outage: the bridge's state says it is cut off.
            QJsonObject own, bridge;
            own[QStringLiteral("topic")] = qs(base + "/availability");
            own[QStringLiteral("payload_available")] = QStringLiteral("online");
            own[QStringLiteral("payload_not_available")] = QStringLiteral("offline");
            bridge[QStringLiteral("topic")] = qs(options.bridgeTopic);
            bridge[QStringLiteral("payload_available")] = QStringLiteral("1");
            bridge[QStringLiteral("payload_not_available")] = QStringLiteral("0");
            config[QStringLiteral("availability")] = QJsonArray{own, bridge};
            config[QStringLiteral("availability_mode")] = QStringLiteral("all");
        }
        if (entity.source != Source::None) {
            config[QStringLiteral("state_topic")]
                = qs(base + (entity.source == Source::State ? "/state" : "/readings"));
            std::string value(entity.valueTemplate);
            if (const auto at = value.find('%');
                at != std::string::npos && entity.valueTemplate == kLampHours)
                value.replace(at, 1, std::to_string(entity.object[5] - '1')); // lamp_N_hours
            config[QStringLiteral("value_template")] = qs(value);
        }
        setIf(config, "device_class", entity.deviceClass);
        setIf(config, "unit_of_measurement", entity.unit);
        setIf(config, "state_class", entity.stateClass);
        setIf(config, "icon", entity.icon);
        if (commands)
            config[QStringLiteral("command_topic")] = qs(base + "/command");
        if (entity.component == "switch") {
            const std::string_view both = entity.command;
            config[QStringLiteral("payload_on")] = qs(both.substr(0, both.find('|')));
            config[QStringLiteral("payload_off")] = qs(both.substr(both.find('|') + 1));
            config[QStringLiteral("state_on")] = QStringLiteral("ON");
            config[QStringLiteral("state_off")] = QStringLiteral("OFF");
        } else if (entity.component == "button") {
            config[QStringLiteral("payload_press")] = qs(entity.command);
        } else if (entity.component == "select") {
            config[QStringLiteral("options")] = QJsonArray{
                QStringLiteral("1"), QStringLiteral("2"), QStringLiteral("3"), QStringLiteral("4")};
            config[QStringLiteral("command_template")] = QStringLiteral("input-{{ value }}");
        } else if (entity.component == "binary_sensor") {
            config[QStringLiteral("payload_on")] = QStringLiteral("ON");
            config[QStringLiteral("payload_off")] = QStringLiteral("OFF");
            config[QStringLiteral("json_attributes_topic")] = qs(base + "/readings");
            config[QStringLiteral("json_attributes_template")]
                = QStringLiteral("{{ {'problems': value_json.problems} | tojson }}");
        }
        messages.push_back({topic, QJsonDocument(config).toJson(QJsonDocument::Compact).toStdString()});
    }
    return messages;
}
