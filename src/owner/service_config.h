// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// qv550d's settings, from its config file (/etc/qv550/NAME.conf for the
// service qv550d@NAME) and its command line, which has the same names and
// wins; qv550-cli --config takes the port and speed from it. The file is "key = value" lines; a '#' at the
// start of a line or after a blank starts a comment (core/config_lines.h).
//   port = /dev/serial/by-id/usb-...     the line
//   speed = 19200                        or 9600
//   name = hall-left                     the MQTT topic segment
//   poll = yes                           or no
//   mqtt = mqtt://broker.example:1883    or mqtts://HOST:PORT
//   mqtt-ca = /etc/qv550/ca.pem          for mqtts
//   mqtt-user = qv550
//   mqtt-password-file = /etc/qv550/hall-left.password
//   mqtt-commands = named                or all (also "send" and the broadcast address) or none
//   mqtt-command-age = 10                seconds: a command whose sent_at is further off is refused
//   mqtt-bridge-topic = bridges/room-101/state   the room bridge's notification topic, for discovery
//   discovery-prefix = homeassistant
//   temperature-limit = 60               °C: hotter is a problem
//   pressure-limit = 600                 hPa: thinner air is a problem
//   pjlink = 4352                        PJLink on [ADDRESS:]PORT (loopback without an address)
//   pjlink-password-file = /etc/qv550/hall-left.pjlink
//   pjlink-inputs = 1:31 2:11 3:21 4:22  input mode : PJLink input
//   pjlink-allow-no-password = no        yes: listen beyond loopback without a password
//   pjlink-search = 4352                 answer PJLink searches on UDP [ADDRESS:]PORT
//   scenes = /etc/qv550/scenes.json      named scenes the owner runs (checked at start)
//   http = 127.0.0.1:8550                the touch page, on [ADDR:]PORT (loopback without ADDR)
//   http-pin-file = /etc/qv550/hall-left.pin     the page's PIN, its first line
//   http-without-pin = no                yes: a listener off loopback may have no PIN
// A password is never given on the command line, where every user sees it.

#include <optional>
#include <string>

// When a reading is a problem.
struct ProblemLimits {
    // The hottest either sensor may read, in °C.
    double temperatureAbove = 60.0;
    // The thinnest air the cooling is made for, in hPa.
    double pressureBelow = 600.0;
};

struct ServiceConfig {
    std::string port;
    std::string speed = "19200";
    std::string name;
    bool poll = true;
    std::string mqtt;
    std::string mqttCa;
    std::string mqttUser;
    std::string mqttPasswordFile;
    std::string mqttCommands = "named";
    int mqttCommandAgeS = 10;
    std::string mqttBridgeTopic;
    std::string discoveryPrefix = "homeassistant";
    ProblemLimits limits;
    // PJLink: read by the PJLink face, which checks them.
    std::string pjlink;
    std::string pjlinkPasswordFile;
    std::string pjlinkInputs;
    bool pjlinkAllowNoPassword = false;
    std::string pjlinkSearch;
    std::string scenes; // the scene file; empty: none
    // The touch page.
    std::string http;
    std::string httpPinFile;
    bool httpWithoutPin = false;
};

struct HttpAddress {
    std::string host = "127.0.0.1";
    int port = 0;
};

struct MqttAddress {
    std::string host;
    int port = 1883;
    bool tls = false;
};

// One setting by its name; false, with the reason, for an unknown name or a bad value.
bool applySetting(
    ServiceConfig &config, const std::string &key, const std::string &value, std::string &whyNot);

// The lines of a config file over `config`; the reason names the line.
bool readServiceConfig(const std::string &text, ServiceConfig &config, std::string &whyNot);

// mqtt://HOST[:PORT] (1883) or mqtts://HOST[:PORT] (8883). A reason never
// repeats a user or password written into the URL.
std::optional<MqttAddress> parseMqttAddress(const std::string &url, std::string &whyNot);

// [ADDR:]PORT, an IPv6 address in brackets; without ADDR, 127.0.0.1.
std::optional<HttpAddress> parseHttpAddress(const std::string &text, std::string &whyNot);
