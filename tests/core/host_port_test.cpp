// SPDX-License-Identifier: GPL-3.0-or-later
// The one reading of "host:port" behind every address qv550d is given: a
// listener's "[ADDR:]PORT" and the broker's "HOST[:PORT]".

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "core/host_port.h"

namespace {

TEST(HostPort, ReadsBothShapesAndSaysWhichPartIsWrong)
{
    using enum HostPortShape;
    using enum HostPortFault;
    struct Case {
        std::string text;
        HostPortShape shape;
        HostPortFault fault;
        std::string host; // what is read (the default 127.0.0.1 / broker untouched)
        int port;         // the default is 7
    };
    const std::vector<Case> cases = {
        {"4352", PortRequired, None, "default", 4352},
        {"0.0.0.0:4352", PortRequired, None, "0.0.0.0", 4352},
        {"[::]:14352", PortRequired, None, "::", 14352},
        {"::1:8550", PortRequired, None, "::1", 8550},
        {"hall_left:65535", PortRequired, None, "hall_left", 65535},
        {"0", PortRequired, Port, "default", 7},
        {"65536", PortRequired, Port, "default", 7},
        {"-1", PortRequired, Port, "default", 7},
        {"85x", PortRequired, Port, "default", 7},
        {"", PortRequired, Port, "default", 7},
        {"127.0.0.1:", PortRequired, Port, "127.0.0.1", 7},
        {"[::1]", PortRequired, Port, "default", 7},
        {":8550", PortRequired, Host, "", 7},
        {"[]:8550", PortRequired, Host, "", 7},
        {"a b:8550", PortRequired, Host, "a b", 7},
        {"http://127.0.0.1:8550", PortRequired, Host, "http://127.0.0.1", 7},
        {"broker.example", HostRequired, None, "broker.example", 7},
        {"10.0.0.5:1884", HostRequired, None, "10.0.0.5", 1884},
        {"[::1]", HostRequired, None, "::1", 7},
        {"[fe80::1]:1884", HostRequired, None, "fe80::1", 1884},
        {"", HostRequired, Host, "", 7},
        {"broker/?password=x", HostRequired, Host, "broker/?password=x", 7},
        {"broker:", HostRequired, Port, "broker", 7},
        {"broker:99999", HostRequired, Port, "broker", 7},
        // The host is judged first.
        {"bad host:x", HostRequired, Host, "bad host", 7},
    };
    for (const Case &c : cases) {
        HostPort address{"default", 7};
        EXPECT_EQ(parseHostPort(c.text, c.shape, address), c.fault) << c.text;
        EXPECT_EQ(address.host, c.host) << c.text;
        EXPECT_EQ(address.port, c.port) << c.text;
    }
}

} // namespace
