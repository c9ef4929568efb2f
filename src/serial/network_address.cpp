// SPDX-License-Identifier: GPL-3.0-or-later
// Parsing is strict: a name that is almost right is refused with the reason,
// so a typo is not taken for a host.

#include "serial/network_address.h"

#include <charconv>

bool isNetworkName(std::string_view device)
{
    return device.find("://") != std::string_view::npos;
}

std::optional<NetworkAddress> parseNetworkAddress(std::string_view device, std::string &whyNot)
{
    const std::string name(device);
    const auto fail = [&](const std::string &reason) -> std::optional<NetworkAddress> {
        whyNot = name + ": " + reason;
        return std::nullopt;
    };
    NetworkAddress address;
    std::string_view rest;
    if (device.rfind("tcp://", 0) == 0) {
        rest = device.substr(6);
    } else if (device.rfind("rfc2217://", 0) == 0) {
        address.protocol = NetworkAddress::Rfc2217;
        rest = device.substr(10);
    } else {
        return fail("not a line the panel knows (use tcp://HOST:PORT or rfc2217://HOST:PORT)");
    }
    if (!rest.empty() && rest.back() == '/')
        rest.remove_suffix(1);
    std::string_view portText;
    if (!rest.empty() && rest.front() == '[') {
        const auto close = rest.find(']');
        if (close == std::string_view::npos || close + 1 >= rest.size() || rest[close + 1] != ':')
            return fail("an IPv6 host is written [ADDRESS]:PORT");
        address.host = std::string(rest.substr(1, close - 1));
        portText = rest.substr(close + 2);
    } else {
        const auto colon = rest.rfind(':');
        if (colon == std::string_view::npos)
            return fail("no port (write HOST:PORT)");
        address.host = std::string(rest.substr(0, colon));
        portText = rest.substr(colon + 1);
    }
    if (address.host.empty())
        return fail("no host");
    for (const char c : address.host) {
        if (c == '/' || c == '@' || c == ' ' || c == '?' || c == '#' || (c == ':' && rest.front() != '['))
            return fail("the host has a character no host name has");
    }
    int port = 0;
    const auto [end, error] = std::from_chars(portText.data(), portText.data() + portText.size(), port);
    if (portText.empty() || error != std::errc() || end != portText.data() + portText.size() || port < 1
        || port > 65535)
        return fail("the port must be a number from 1 to 65535");
    address.port = port;
    return address;
}

std::string malformedNetworkName(std::string_view device)
{
    std::string whyNot;
    if (isNetworkName(device))
        parseNetworkAddress(device, whyNot);
    return whyNot;
}
