// SPDX-License-Identifier: GPL-3.0-or-later
// Every setting is read by one table-driven routine, from the file and the
// command line alike, so both accept and refuse the same values.

#include "owner/service_config.h"

#include "core/config_lines.h"
#include "core/host_port.h"

#include <array>
#include <charconv>
#include <cmath>
#include <string_view>

namespace {

std::optional<double> number(const std::string &text)
{
    double value = 0;
    const auto result = std::from_chars(text.data(), text.data() + text.size(), value);
    if (result.ec != std::errc() || result.ptr != text.data() + text.size())
        return std::nullopt;
    return value;
}

struct Setting {
    std::string_view key;
    bool (*apply)(ServiceConfig &, const std::string &, std::string &);
};

// clang-format off
constexpr std::array kSettings = {
    Setting{"port", [](ServiceConfig &c, const std::string &v, std::string &) { c.port = v; return true; }},
    Setting{"speed", [](ServiceConfig &c, const std::string &v, std::string &why) {
        if (v != "19200" && v != "9600") { why = "speed is 19200 or 9600"; return false; }
        c.speed = v; return true; }},
    Setting{"name", [](ServiceConfig &c, const std::string &v, std::string &why) {
        if (v.empty()) { why = "name is empty"; return false; }
        c.name = v; return true; }},
    Setting{"poll", [](ServiceConfig &c, const std::string &v, std::string &why) {
        if (v != "yes" && v != "no") { why = "poll is yes or no"; return false; }
        c.poll = v == "yes"; return true; }},
    Setting{"mqtt", [](ServiceConfig &c, const std::string &v, std::string &why) {
        if (!parseMqttAddress(v, why)) return false;
        c.mqtt = v; return true; }},
    Setting{"mqtt-ca", [](ServiceConfig &c, const std::string &v, std::string &) { c.mqttCa = v; return true; }},
    Setting{"mqtt-user", [](ServiceConfig &c, const std::string &v, std::string &) { c.mqttUser = v; return true; }},
    Setting{"mqtt-password-file", [](ServiceConfig &c, const std::string &v, std::string &) { c.mqttPasswordFile = v; return true; }},
    Setting{"mqtt-commands", [](ServiceConfig &c, const std::string &v, std::string &why) {
        if (v != "named" && v != "all" && v != "none") { why = "mqtt-commands is named, all or none"; return false; }
        c.mqttCommands = v; return true; }},
    Setting{"mqtt-command-age", [](ServiceConfig &c, const std::string &v, std::string &why) {
        const auto value = number(v);
        if (!value || *value < 1 || *value > 3600 || *value != std::floor(*value)) { why = "mqtt-command-age is a number of seconds, 1 to 3600"; return false; }
        c.mqttCommandAgeS = static_cast<int>(*value); return true; }},
    Setting{"mqtt-bridge-topic", [](ServiceConfig &c, const std::string &v, std::string &why) {
        if (v.empty() || v.find_first_of("+#") != std::string::npos) { why = "mqtt-bridge-topic is a topic without + or #"; return false; }
        c.mqttBridgeTopic = v; return true; }},
    Setting{"discovery-prefix", [](ServiceConfig &c, const std::string &v, std::string &why) {
        if (v.empty() || v.find_first_of("+#") != std::string::npos) { why = "discovery-prefix is a topic without + or #"; return false; }
        c.discoveryPrefix = v; return true; }},
    Setting{"temperature-limit", [](ServiceConfig &c, const std::string &v, std::string &why) {
        const auto value = number(v);
        if (!value) { why = "temperature-limit is a number of °C"; return false; }
        c.limits.temperatureAbove = *value; return true; }},
    Setting{"pressure-limit", [](ServiceConfig &c, const std::string &v, std::string &why) {
        const auto value = number(v);
        if (!value) { why = "pressure-limit is a number of hPa"; return false; }
        c.limits.pressureBelow = *value; return true; }},
    Setting{"pjlink", [](ServiceConfig &c, const std::string &v, std::string &) { c.pjlink = v; return true; }},
    Setting{"pjlink-password-file", [](ServiceConfig &c, const std::string &v, std::string &) { c.pjlinkPasswordFile = v; return true; }},
    Setting{"pjlink-inputs", [](ServiceConfig &c, const std::string &v, std::string &) { c.pjlinkInputs = v; return true; }},
    Setting{"pjlink-allow-no-password", [](ServiceConfig &c, const std::string &v, std::string &why) {
        if (v != "yes" && v != "no") { why = "pjlink-allow-no-password is yes or no"; return false; }
        c.pjlinkAllowNoPassword = v == "yes"; return true; }},
    Setting{"pjlink-search", [](ServiceConfig &c, const std::string &v, std::string &) { c.pjlinkSearch = v; return true; }},
    Setting{"scenes", [](ServiceConfig &c, const std::string &v, std::string &) { c.scenes = v; return true; }},
    Setting{"http", [](ServiceConfig &c, const std::string &v, std::string &why) {
        if (!parseHttpAddress(v, why)) return false;
        c.http = v; return true; }},
    Setting{"http-pin-file", [](ServiceConfig &c, const std::string &v, std::string &) { c.httpPinFile = v; return true; }},
    Setting{"http-without-pin", [](ServiceConfig &c, const std::string &v, std::string &why) {
        if (v != "yes" && v != "no") { why = "http-without-pin is yes or no"; return false; }
        c.httpWithoutPin = v == "yes"; return true; }},
};
// clang-format on

// The URL as it may be shown: a user or password in it is left out.
std::string shown(const std::string &url)
{
    const auto at = url.rfind('@');
    if (at == std::string::npos)
        return url;
    const auto scheme = url.find("://");
    return (scheme != std::string::npos && scheme < at ? url.substr(0, scheme + 3) : std::string()) + "..."
        + url.substr(at);
}

} // namespace

bool applySetting(
    ServiceConfig &config, const std::string &key, const std::string &value, std::string &whyNot)
{
    for (const Setting &setting : kSettings) {
        if (setting.key == key)
            return setting.apply(config, value, whyNot);
    }
    whyNot = "unknown setting \"" + key + "\"";
    if (key == "mqtt-password")
        whyNot += ": give the password in a file, with mqtt-password-file";
    if (key == "pjlink-password")
        whyNot += ": give the password in a file, with pjlink-password-file";
    return false;
}

bool readServiceConfig(const std::string &text, ServiceConfig &config, std::string &whyNot)
{
    for (const ConfigLine &line : configLines(text)) {
        std::string why;
        if (!line.assigns)
            why = "a setting is \"key = value\"";
        else if (applySetting(config, line.key, line.value, why))
            continue;
        whyNot = "line " + std::to_string(line.number) + ": " + why;
        return false;
    }
    return true;
}

std::optional<MqttAddress> parseMqttAddress(const std::string &url, std::string &whyNot)
{
    MqttAddress address;
    std::string rest;
    if (url.rfind("mqtt://", 0) == 0) {
        rest = url.substr(7);
    } else if (url.rfind("mqtts://", 0) == 0) {
        rest = url.substr(8);
        address.tls = true;
        address.port = 8883;
    } else {
        whyNot = "the broker is mqtt://HOST:PORT or mqtts://HOST:PORT, not \"" + shown(url) + "\"";
        return std::nullopt;
    }
    if (!rest.empty() && rest.back() == '/')
        rest.pop_back();
    if (rest.find('@') != std::string::npos) {
        whyNot = "the broker's URL \"" + shown(url)
            + "\" carries a user or password: give them with mqtt-user and mqtt-password-file";
        return std::nullopt;
    }
    HostPort where{{}, address.port};
    // Only what a host name or an address is made of is taken; the rest
    // could be anything, a password too, so it is not repeated.
    switch (parseHostPort(rest, HostPortShape::HostRequired, where)) {
    case HostPortFault::Host:
        whyNot = "no broker host in the URL: it is mqtt://HOST:PORT or mqtts://HOST:PORT";
        return std::nullopt;
    case HostPortFault::Port:
        whyNot = "the broker's port in \"" + shown(url) + "\" is not a number from 1 to 65535";
        return std::nullopt;
    case HostPortFault::None:
        break;
    }
    address.host = where.host;
    address.port = where.port;
    return address;
}

std::optional<HttpAddress> parseHttpAddress(const std::string &text, std::string &whyNot)
{
    HostPort where{HttpAddress().host, 0};
    switch (parseHostPort(text, HostPortShape::PortRequired, where)) {
    case HostPortFault::Host:
        whyNot = "http is [ADDR:]PORT, not \"" + text + "\"";
        return std::nullopt;
    case HostPortFault::Port:
        whyNot = "the http port in \"" + text + "\" is not a number from 1 to 65535";
        return std::nullopt;
    case HostPortFault::None:
        break;
    }
    return HttpAddress{where.host, where.port};
}
