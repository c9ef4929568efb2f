// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// The Telnet side of a network serial line (RFC 854 with the COM-PORT-OPTION
// of RFC 2217), without sockets: bytes in, payload and answers out, so it is
// tested and fuzzed alone. The client asks for BINARY both ways and
// SUPPRESS-GO-AHEAD, offers COM-PORT-OPTION, refuses everything else (remote
// ECHO included: an echo would come back as a reply), and sends the line
// settings once the server has agreed to the option. A server that never
// acknowledges a setting is fine: nothing waits for it.

#include <cstdint>
#include <string>
#include <string_view>

#include "serial/line_settings.h"

class TelnetCodec {
public:
    static constexpr unsigned char kIac = 255, kDont = 254, kDo = 253, kWont = 252, kWill = 251, kSb = 250,
                                   kSe = 240;
    static constexpr unsigned char kBinary = 0, kSuppressGoAhead = 3, kEcho = 1, kComPort = 44;

    explicit TelnetCodec(LineSettings settings);

    // What the client says first.
    std::string greeting();
    // Payload for the wire: every 0xFF doubled, nothing else added.
    static std::string escape(std::string_view data);
    // The line settings as COM-PORT-OPTION subnegotiations.
    static std::string settingsCommands(const LineSettings &settings);

    // Takes bytes from the wire in any pieces: payload is appended to
    // `data`, whatever must be sent back (answers, the settings) to `reply`.
    void receive(std::string_view wire, std::string &data, std::string &reply);
    // New settings: sent at once when the server has agreed to the option,
    // otherwise kept until it does.
    std::string changeSettings(const LineSettings &settings);

    bool comPortAgreed() const { return comPortAgreed_; }
    // What the server reported last (-1 before it did).
    long acknowledgedBaudRate() const { return ackBaud_; }
    int lineState() const { return lineState_; }
    int modemState() const { return modemState_; }

private:
    enum class State { Data, Iac, Option, Sub, SubIac };
    void negotiate(unsigned char command, unsigned char option, std::string &reply);
    void subnegotiation();

    LineSettings settings_;
    State state_ = State::Data;
    unsigned char command_ = 0;
    std::string sub_;
    bool comPortAgreed_ = false;
    bool settingsSent_ = false;
    // Options we have said WILL (we do them) and DO (the server should) to.
    bool will_[256] = {};
    bool do_[256] = {};
    long ackBaud_ = -1;
    int lineState_ = -1;
    int modemState_ = -1;
};
