// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// The user's own assignment of devices to the port numbers, for launches
// without a command line (a menu entry): a small file,
// $XDG_CONFIG_HOME/qv550-control/ports.conf (~/.config/... by default), of
// lines "COM1=/dev/serial/by-id/..." and "COM2=...", with blank lines and
// '#' comments (a '#' at the start of a line or after a blank, as in the
// service's config). Read by the panel and qv550-cli; the program never writes it.

#include <cstdint>
#include <map>
#include <optional>
#include <string>

class DeviceMap;

struct PortMapping {
    std::string path; // the file it was read from
    std::map<std::int16_t, std::string> devices;

    // Sets the ports it names in `map`, naming this file as their source,
    // except those the command line gave already.
    void fillIn(DeviceMap &map, bool com1Given, bool com2Given) const;
};

// Where the file is: $XDG_CONFIG_HOME, or $HOME/.config.
std::string portMappingPath();

// Reads `path`. A missing file is an empty mapping; a file that cannot be
// read or has a malformed line gives nothing, with "PATH:LINE: what" in
// `whyNot`.
std::optional<PortMapping> readPortMapping(const std::string &path, std::string &whyNot);
