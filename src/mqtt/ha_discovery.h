// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// Home Assistant's MQTT discovery for one projector: one device with a power
// switch, an input select, the power status, the four lamps' hours, the two
// temperatures and the pressure, a problem sensor, and buttons for the
// common commands. Each entity is one row of a table; one loop makes the
// retained config messages, each carrying the availability topic.

#include <string>
#include <vector>

struct DiscoveryMessage {
    std::string topic;   // homeassistant/<component>/<node>/<object>/config
    std::string payload; // JSON
};

// `name`: the projector's topic segment; `base`: "qv550/<name>".
std::vector<DiscoveryMessage> discoveryMessages(
    const std::string &name, const std::string &base, const std::string &prefix = "homeassistant");
