// SPDX-License-Identifier: GPL-3.0-or-later
// The Telnet coding of network serial lines, without a socket: escaping,
// negotiation answers, the line settings, and pieces split anywhere.

#include <gtest/gtest.h>

#include "serial/network_address.h"
#include "serial/telnet_codec.h"

namespace {

std::string bytes(std::initializer_list<int> values)
{
    std::string out;
    for (const int value : values)
        out += static_cast<char>(value);
    return out;
}

constexpr int IAC = 255, DONT = 254, DO = 253, WONT = 252, WILL = 251, SB = 250, SE = 240;
const LineSettings k19200{19200, 'N', 8, 10};
const LineSettings k9600{9600, 'N', 8, 10};

std::string allBytes()
{
    std::string all;
    for (int code = 0; code < 256; ++code)
        all += static_cast<char>(code);
    return all + bytes({IAC, IAC, '\r', 0, '\r', '\n'});
}

TEST(TelnetCodec, PayloadSurvivesEscapingAndEverySplitOfTheWire)
{
    const std::string payload = allBytes();
    const std::string wire = TelnetCodec::escape(payload);
    EXPECT_EQ(wire.size(), payload.size() + 3); // each 0xFF doubled, nothing added after a CR
    for (std::size_t split = 0; split <= wire.size(); ++split) {
        TelnetCodec codec(k19200);
        std::string data, reply;
        codec.receive(std::string_view(wire).substr(0, split), data, reply);
        codec.receive(std::string_view(wire).substr(split), data, reply);
        ASSERT_EQ(data, payload) << "split at " << split;
        EXPECT_EQ(reply, "");
    }
}

TEST(TelnetCodec, SettingsGoOutAsComPortSubnegotiations)
{
    const auto settings = [](int baudHigh, int baudLow) {
        return bytes({IAC, SB, 44, 1, 0, 0, baudHigh, baudLow, IAC, SE, IAC, SB, 44, 2, 8, IAC, SE, IAC, SB, 44, 3,
            1, IAC, SE, IAC, SB, 44, 4, 1, IAC, SE, IAC, SB, 44, 5, 1, IAC, SE});
    };
    EXPECT_EQ(TelnetCodec::settingsCommands(k19200), settings(0x4B, 0x00));
    EXPECT_EQ(TelnetCodec::settingsCommands(k9600), settings(0x25, 0x80));
    // A value byte of 0xFF is escaped inside the subnegotiation too.
    EXPECT_EQ(TelnetCodec::settingsCommands({255, 'E', 7, 20}).substr(0, 11),
        bytes({IAC, SB, 44, 1, 0, 0, 0, IAC, IAC, IAC, SE}));
}

TEST(TelnetCodec, NegotiationAnswersOnlyWhatChangesAndSendsTheSettingsOnceAgreed)
{
    struct Case {
        const char *what;
        std::string fromServer;
        std::string expectedReply;
    };
    const std::vector<Case> cases = {
        {"agreed already by our greeting", bytes({IAC, DO, 0, IAC, WILL, 0, IAC, DO, 3, IAC, WILL, 3}), ""},
        {"remote echo refused", bytes({IAC, WILL, 1}), bytes({IAC, DONT, 1})},
        {"an option we do not do", bytes({IAC, DO, 24}), bytes({IAC, WONT, 24})},
        {"binary withdrawn", bytes({IAC, WONT, 0}), bytes({IAC, DONT, 0})},
        {"binary refused to us", bytes({IAC, DONT, 0}), bytes({IAC, WONT, 0})},
        {"the option agreed: the settings follow", bytes({IAC, DO, 44}), TelnetCodec::settingsCommands(k19200)},
        {"NOP and GA carry nothing", bytes({IAC, 241, IAC, 249}), ""},
    };
    for (const Case &c : cases) {
        TelnetCodec codec(k19200);
        codec.greeting();
        std::string data, reply;
        codec.receive(c.fromServer, data, reply);
        EXPECT_EQ(reply, c.expectedReply) << c.what;
        EXPECT_EQ(data, "") << c.what;
    }
    TelnetCodec codec(k19200);
    EXPECT_EQ(codec.greeting(),
        bytes({IAC, WILL, 44, IAC, WILL, 0, IAC, DO, 0, IAC, WILL, 3, IAC, DO, 3}));
    std::string data, reply;
    EXPECT_EQ(codec.changeSettings(k9600), ""); // kept until the server agrees
    codec.receive(bytes({IAC, DO, 44}), data, reply);
    EXPECT_EQ(reply, TelnetCodec::settingsCommands(k9600));
    reply.clear();
    codec.receive(bytes({IAC, DO, 44}), data, reply);
    EXPECT_EQ(reply, ""); // once only
    EXPECT_EQ(codec.changeSettings(k19200), TelnetCodec::settingsCommands(k19200));
}

TEST(TelnetCodec, ServerAnswersAndNotificationsAreReadAcrossAnySplit)
{
    // baud acknowledged as 0x0000FF00 (escaped), then line state and modem
    // state notifications, with payload around them.
    const std::string wire = bytes({'8', IAC, SB, 44, 101, 0, 0, IAC, IAC, 0, IAC, SE, '0', IAC, SB, 44, 106, 0x60,
                                 IAC, SE, IAC, SB, 44, 107, 0x30, IAC, SE, '\r'});
    for (std::size_t first = 0; first <= wire.size(); ++first) {
        for (std::size_t second = first; second <= wire.size(); ++second) {
            TelnetCodec codec(k19200);
            std::string data, reply;
            codec.receive(wire.substr(0, first), data, reply);
            codec.receive(wire.substr(first, second - first), data, reply);
            codec.receive(wire.substr(second), data, reply);
            ASSERT_EQ(data, "80\r") << first << "," << second;
            EXPECT_EQ(codec.acknowledgedBaudRate(), 0xFF00);
            EXPECT_EQ(codec.lineState(), 0x60);
            EXPECT_EQ(codec.modemState(), 0x30);
        }
    }
}

TEST(NetworkAddress, NamesAreParsedStrictly)
{
    struct Case {
        std::string name;
        bool valid;
        NetworkAddress::Protocol protocol = NetworkAddress::RawTcp;
        std::string host = {};
        int port = 0;
    };
    const std::vector<Case> cases = {
        {"tcp://127.0.0.1:7001", true, NetworkAddress::RawTcp, "127.0.0.1", 7001},
        {"rfc2217://projector.local:2217/", true, NetworkAddress::Rfc2217, "projector.local", 2217},
        {"tcp://[::1]:7000", true, NetworkAddress::RawTcp, "::1", 7000},
        {"tcp://host", false},
        {"tcp://:7000", false},
        {"tcp://host:0", false},
        {"tcp://host:65536", false},
        {"tcp://host:70x", false},
        {"tcp://user@host:7000", false},
        {"telnet://host:23", false},
        {"tcp://::1:7000", false},
    };
    for (const Case &c : cases) {
        std::string whyNot;
        const auto address = parseNetworkAddress(c.name, whyNot);
        ASSERT_EQ(address.has_value(), c.valid) << c.name << ": " << whyNot;
        if (!address) {
            EXPECT_EQ(whyNot.rfind(c.name + ": ", 0), 0U) << whyNot;
            continue;
        }
        EXPECT_EQ(address->protocol, c.protocol) << c.name;
        EXPECT_EQ(address->host, c.host) << c.name;
        EXPECT_EQ(address->port, c.port) << c.name;
    }
    EXPECT_TRUE(isNetworkName("telnet://host:23"));
    EXPECT_FALSE(isNetworkName("/dev/ttyUSB0"));
}

} // namespace
