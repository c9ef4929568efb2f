// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// Which device each port number opens: COM1 and COM2 by default (/dev/ttyS0
// and /dev/ttyS1 on Linux), replaceable by any device path from the command
// line, such as a USB adapter or a pseudo-terminal.

#include <cstdint>
#include <map>
#include <optional>
#include <string>

class DeviceMap {
public:
    DeviceMap();
    // `source` says where it was set, for messages ("COM1 is set in FILE");
    // empty for an option.
    void setDevice(std::int16_t port, std::string path, std::string source = {});
    std::optional<std::string> deviceFor(std::int16_t port) const;
    std::string sourceFor(std::int16_t port) const;

private:
    std::map<std::int16_t, std::string> devices_;
    std::map<std::int16_t, std::string> sources_;
};
