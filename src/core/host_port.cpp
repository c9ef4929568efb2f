// SPDX-License-Identifier: GPL-3.0-or-later
// Strict on purpose: an address that is almost right is refused rather
// than taken for another one.

#include "core/host_port.h"

#include <charconv>

namespace {

constexpr std::string_view kHostCharacters
    = "abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789.-_:";

} // namespace

HostPortFault parseHostPort(std::string_view text, HostPortShape shape, HostPort &address)
{
    // A ':' inside the brackets of an IPv6 address parts nothing.
    auto colon = text.rfind(':');
    if (colon != std::string_view::npos && text.starts_with('[')) {
        const auto close = text.rfind(']');
        if (close != std::string_view::npos && close > colon)
            colon = std::string_view::npos;
    }
    std::string_view host;
    std::string_view port;
    if (colon != std::string_view::npos) {
        host = text.substr(0, colon);
        port = text.substr(colon + 1);
    } else if (shape == HostPortShape::PortRequired) {
        port = text;
    } else {
        host = text;
    }
    if (colon != std::string_view::npos || shape == HostPortShape::HostRequired) {
        if (host.size() >= 2 && host.front() == '[' && host.back() == ']')
            host = host.substr(1, host.size() - 2);
        address.host = std::string(host);
        if (host.empty() || host.find_first_not_of(kHostCharacters) != std::string_view::npos)
            return HostPortFault::Host;
    }
    if (colon != std::string_view::npos || shape == HostPortShape::PortRequired) {
        int number = 0;
        const auto [end, error] = std::from_chars(port.data(), port.data() + port.size(), number);
        if (port.empty() || error != std::errc() || end != port.data() + port.size() || number < 1
            || number > 65535)
            return HostPortFault::Port;
        address.port = number;
    }
    return HostPortFault::None;
}
