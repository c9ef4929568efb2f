// SPDX-License-Identifier: GPL-3.0-or-later
// Default port-number-to-device mapping per platform.

#include "serial/device_map.h"

DeviceMap::DeviceMap()
{
#ifdef _WIN32
    devices_ = {{1, "COM1"}, {2, "COM2"}};
#else
    devices_ = {{1, "/dev/ttyS0"}, {2, "/dev/ttyS1"}};
#endif
}

void DeviceMap::setDevice(std::int16_t port, std::string path, std::string source)
{
    devices_[port] = std::move(path);
    sources_[port] = std::move(source);
}

std::string DeviceMap::sourceFor(std::int16_t port) const
{
    const auto found = sources_.find(port);
    return found == sources_.end() ? std::string() : found->second;
}

std::optional<std::string> DeviceMap::deviceFor(std::int16_t port) const
{
    const auto found = devices_.find(port);
    if (found == devices_.end())
        return std::nullopt;
    return found->second;
}
