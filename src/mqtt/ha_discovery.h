// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// Home Assistant's MQTT discovery for one projector: one device with a power
// switch, an input select, the power status, the four lamps' hours, the two
// temperatures and the pressure, a problem sensor, buttons for the
// common commands, and a button per scene. Each entity is one row of a table; one loop makes the
// retained config messages, each carrying the availability topic (and, for a
// room behind a bridge, the bridge's own state as a second one).

#include <string>
#include <vector>

struct DiscoveryMessage {
    std::string topic;   // homeassistant/<component>/<node>/<object>/config
    std::string payload; // JSON
};

struct DiscoveryOptions {
    std::string prefix = "homeassistant";
    // A room broker's bridge notification topic ("1" while the bridge to the
    // central broker is up, "0" when it is not); empty: none.
    std::string bridgeTopic;
    // Without commands the switch, select and buttons are removed (an empty
    // retained config removes an entity), so nothing offers what is refused.
    bool commands = true;
    // The owner's scenes: a button each, pressing it runs the scene.
    std::vector<std::string> scenes;
};

// `name`: the projector's topic segment; `base`: "qv550/<name>".
std::vector<DiscoveryMessage> discoveryMessages(
    const std::string &name, const std::string &base, const DiscoveryOptions &options = {});
