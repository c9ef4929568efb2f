// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// Network serial lines named like devices: "tcp://HOST:PORT" for raw TCP (the
// bytes as they are) and "rfc2217://HOST:PORT" for Telnet with the
// COM-PORT-OPTION. An IPv6 host is written in brackets: "tcp://[::1]:7000".

#include <optional>
#include <string>
#include <string_view>

struct NetworkAddress {
    enum Protocol { RawTcp, Rfc2217 };
    Protocol protocol = RawTcp;
    std::string host;
    int port = 0;
};

// Whether `device` names a network line (it has a "scheme://" prefix); such a
// name is either a valid address or refused, never opened as a file.
bool isNetworkName(std::string_view device);
std::optional<NetworkAddress> parseNetworkAddress(std::string_view device, std::string &whyNot);

// Why `device` can never be opened, for a network name that is no valid
// address (a usage error at start-up); empty for anything else.
std::string malformedNetworkName(std::string_view device);
