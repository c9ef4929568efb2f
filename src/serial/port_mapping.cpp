// SPDX-License-Identifier: GPL-3.0-or-later
// Strict on purpose: a line the panel does not understand is reported with
// its place in the file, never skipped, so a typo does not quietly send the
// panel to the wrong port.

#include "serial/port_mapping.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <sstream>
#include <sys/stat.h>

#include "core/config_lines.h"
#include "serial/device_map.h"

std::string portMappingPath()
{
    const char *config = std::getenv("XDG_CONFIG_HOME");
    std::string folder;
    if (config && *config == '/') {
        folder = config;
    } else {
        const char *home = std::getenv("HOME");
        folder = std::string(home ? home : "") + "/.config";
    }
    return folder + "/qv550-control/ports.conf";
}

std::optional<PortMapping> readPortMapping(const std::string &path, std::string &whyNot)
{
    PortMapping mapping;
    mapping.path = path;
    // A folder opens like an empty file: say what it is rather than use no
    // mapping without a word.
    struct stat info { };
    if (stat(path.c_str(), &info) == 0 && S_ISDIR(info.st_mode)) {
        whyNot = path + ": is a folder, not a file of COM1=DEVICE lines";
        return std::nullopt;
    }
    std::ifstream file(path);
    if (!file) {
        if (errno == ENOENT)
            return mapping;
        whyNot = path + ": cannot be read (" + std::strerror(errno) + ")";
        return std::nullopt;
    }
    std::ostringstream text;
    text << file.rdbuf();
    for (const ConfigLine &line : configLines(text.str())) {
        const std::string place = path + ":" + std::to_string(line.number) + ": ";
        if (!line.assigns || (line.key != "COM1" && line.key != "COM2")) {
            whyNot = place + "expected COM1=DEVICE or COM2=DEVICE, found \"" + line.text + "\"";
            return std::nullopt;
        }
        if (line.value.empty()) {
            whyNot = place + line.key + " has no device";
            return std::nullopt;
        }
        const std::int16_t port = line.key == "COM1" ? 1 : 2;
        if (mapping.devices.count(port)) {
            whyNot = place + line.key + " is set a second time";
            return std::nullopt;
        }
        mapping.devices[port] = line.value;
    }
    return mapping;
}

void PortMapping::fillIn(DeviceMap &map, bool com1Given, bool com2Given) const
{
    for (const auto &[number, device] : devices) {
        if ((number == 1 && !com1Given) || (number == 2 && !com2Given))
            map.setDevice(number, device, "COM" + std::to_string(number) + " is set in " + path);
    }
}
