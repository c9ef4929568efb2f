// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// The one reading of a host and a port written together, for every address
// qv550d is given: where it listens ("[ADDR:]PORT": PJLink, its search and
// the touch page) and the broker it reaches ("HOST[:PORT]" inside the MQTT
// URL). An IPv6 address is written in brackets, "[::1]:8550"; the last ':'
// outside them parts the host from the port. Each face words a fault its
// own way, so this says only which part was wrong.

#include <string>
#include <string_view>

struct HostPort {
    std::string host; // without brackets
    int port = 0;
};

enum class HostPortShape {
    PortRequired, // "[HOST:]PORT": a lone word is the port
    HostRequired, // "HOST[:PORT]": a lone word is the host
};

enum class HostPortFault { None, Host, Port };

// Reads `text` over `address`, which holds the defaults. A host is letters,
// digits and ". - _ :"; a port a number from 1 to 65535. On a fault the
// parts read so far are left in `address` for the reason to name.
HostPortFault parseHostPort(std::string_view text, HostPortShape shape, HostPort &address);
