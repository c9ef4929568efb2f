// SPDX-License-Identifier: GPL-3.0-or-later
// Negotiation answers follow the rule that keeps two Telnet ends from
// looping: answer a request only when it changes what was agreed.

#include "serial/telnet_codec.h"

namespace {

// Subnegotiations longer than this are cut: none that we read is longer.
constexpr std::size_t kSubnegotiationLimit = 64;

constexpr unsigned char kSetBaudRate = 1, kSetDataSize = 2, kSetParity = 3, kSetStopSize = 4, kSetControl = 5;
constexpr unsigned char kServerOffset = 100, kNotifyLineState = 106, kNotifyModemState = 107;

std::string command(unsigned char verb, unsigned char option)
{
    return {static_cast<char>(TelnetCodec::kIac), static_cast<char>(verb), static_cast<char>(option)};
}

std::string subnegotiate(unsigned char code, std::string_view value)
{
    std::string out{static_cast<char>(TelnetCodec::kIac), static_cast<char>(TelnetCodec::kSb),
        static_cast<char>(TelnetCodec::kComPort), static_cast<char>(code)};
    out += TelnetCodec::escape(value);
    out += static_cast<char>(TelnetCodec::kIac);
    out += static_cast<char>(TelnetCodec::kSe);
    return out;
}

unsigned char parityCode(char letter)
{
    switch (letter) {
    case 'O':
        return 2;
    case 'E':
        return 3;
    case 'M':
        return 4;
    case 'S':
        return 5;
    default:
        return 1;
    }
}

unsigned char stopSizeCode(int stopBits10)
{
    if (stopBits10 == 20)
        return 2;
    if (stopBits10 == 15)
        return 3;
    return 1;
}

} // namespace

TelnetCodec::TelnetCodec(LineSettings settings) : settings_(settings)
{ }

std::string TelnetCodec::greeting()
{
    will_[kComPort] = will_[kBinary] = will_[kSuppressGoAhead] = true;
    do_[kBinary] = do_[kSuppressGoAhead] = true;
    return command(kWill, kComPort) + command(kWill, kBinary) + command(kDo, kBinary)
        + command(kWill, kSuppressGoAhead) + command(kDo, kSuppressGoAhead);
}

std::string TelnetCodec::escape(std::string_view data)
{
    std::string out;
    out.reserve(data.size());
    for (const char byte : data) {
        out += byte;
        if (static_cast<unsigned char>(byte) == kIac)
            out += byte;
    }
    return out;
}

std::string TelnetCodec::settingsCommands(const LineSettings &settings)
{
    const auto baud = static_cast<std::uint32_t>(settings.baudRate);
    const std::string baudBytes{static_cast<char>(baud >> 24), static_cast<char>((baud >> 16) & 0xFF),
        static_cast<char>((baud >> 8) & 0xFF), static_cast<char>(baud & 0xFF)};
    return subnegotiate(kSetBaudRate, baudBytes)
        + subnegotiate(kSetDataSize, std::string(1, static_cast<char>(settings.dataBits)))
        + subnegotiate(kSetParity, std::string(1, static_cast<char>(parityCode(settings.parity))))
        + subnegotiate(kSetStopSize, std::string(1, static_cast<char>(stopSizeCode(settings.stopBits10))))
        + subnegotiate(kSetControl, std::string(1, '\x01')); // no flow control
}

std::string TelnetCodec::changeSettings(const LineSettings &settings)
{
    settings_ = settings;
    settingsSent_ = comPortAgreed_;
    return comPortAgreed_ ? settingsCommands(settings_) : std::string();
}

void TelnetCodec::receive(std::string_view wire, std::string &data, std::string &reply)
{
    for (const char byte : wire) {
        const auto value = static_cast<unsigned char>(byte);
        switch (state_) {
        case State::Data:
            if (value == kIac)
                state_ = State::Iac;
            else
                data += byte;
            break;
        case State::Iac:
            if (value == kIac) {
                data += byte;
                state_ = State::Data;
            } else if (value == kWill || value == kWont || value == kDo || value == kDont) {
                command_ = value;
                state_ = State::Option;
            } else if (value == kSb) {
                sub_.clear();
                state_ = State::Sub;
            } else {
                state_ = State::Data; // NOP, GA and the like carry nothing for us
            }
            break;
        case State::Option:
            negotiate(command_, value, reply);
            state_ = State::Data;
            break;
        case State::Sub:
            if (value == kIac)
                state_ = State::SubIac;
            else if (sub_.size() < kSubnegotiationLimit)
                sub_ += byte;
            break;
        case State::SubIac:
            if (value == kSe) {
                subnegotiation();
                state_ = State::Data;
            } else {
                // IAC IAC is an escaped 0xFF inside the value; anything else
                // is a broken subnegotiation, kept going as the value.
                if (sub_.size() < kSubnegotiationLimit)
                    sub_ += byte;
                state_ = State::Sub;
            }
            break;
        }
    }
}

void TelnetCodec::negotiate(unsigned char verb, unsigned char option, std::string &reply)
{
    const bool wanted = option == kBinary || option == kSuppressGoAhead || option == kComPort;
    switch (verb) {
    case kDo:
        if (wanted) {
            if (!will_[option])
                reply += command(kWill, option);
            will_[option] = true;
            if (option == kComPort)
                comPortAgreed_ = true;
        } else {
            reply += command(kWont, option);
        }
        break;
    case kDont:
        if (will_[option])
            reply += command(kWont, option);
        will_[option] = false;
        if (option == kComPort)
            comPortAgreed_ = false;
        break;
    case kWill:
        // The server does BINARY and SGA for us; COM-PORT-OPTION is the
        // client's to offer, not the server's.
        if (wanted && option != kComPort) {
            if (!do_[option])
                reply += command(kDo, option);
            do_[option] = true;
        } else {
            reply += command(kDont, option);
        }
        break;
    case kWont:
        if (do_[option])
            reply += command(kDont, option);
        do_[option] = false;
        break;
    default:
        break;
    }
    if (comPortAgreed_ && !settingsSent_) {
        settingsSent_ = true;
        reply += settingsCommands(settings_);
    }
}

void TelnetCodec::subnegotiation()
{
    if (sub_.size() < 2 || static_cast<unsigned char>(sub_[0]) != kComPort)
        return;
    const auto code = static_cast<unsigned char>(sub_[1]);
    const std::string_view value = std::string_view(sub_).substr(2);
    if (code == kServerOffset + kSetBaudRate && value.size() == 4) {
        ackBaud_ = 0;
        for (const char byte : value)
            ackBaud_ = (ackBaud_ << 8) | static_cast<unsigned char>(byte);
    } else if (code == kNotifyLineState && !value.empty()) {
        lineState_ = static_cast<unsigned char>(value[0]);
    } else if (code == kNotifyModemState && !value.empty()) {
        modemState_ = static_cast<unsigned char>(value[0]);
    }
    // Other answers (data size, parity, stop size, control) only confirm.
}
