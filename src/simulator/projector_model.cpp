// SPDX-License-Identifier: GPL-3.0-or-later
// The simulated projector's answers, one table row per command code. Actions
// and settings answer ACK (06); reads answer figures or a word and a carriage
// return; anything unknown answers ERR and a carriage return.

#include "simulator/projector_model.h"

#include <cstdio>
#include <vector>

namespace {

std::string hex2(int value)
{
    char text[3];
    std::snprintf(text, sizeof text, "%02X", value & 0xFF);
    return text;
}

std::string padded(int value, int width)
{
    std::string text = std::to_string(value);
    return std::string(static_cast<std::size_t>(std::max(0, width - static_cast<int>(text.size()))), '0')
        + text;
}

std::string temperature(double celsius)
{
    char text[16];
    std::snprintf(text, sizeof text, "%+05.1f", celsius);
    return text;
}

std::string line(std::string text)
{
    return text + "\r";
}

using State = ProjectorState;
using Action = void (*)(State &);

struct ActionRow {
    std::string_view code;
    Action action;
};

// Commands of the form "C" + two hex digits that only change state.
constexpr ActionRow kActions[] = {
    {"C05", [](State &s) { s.inputMode = 1; }},
    {"C06", [](State &s) { s.inputMode = 2; }},
    {"C07", [](State &s) { s.inputMode = 3; }},
    {"C08", [](State &s) { s.inputMode = 4; }},
    {"C09", [](State &s) { s.volume = std::min(63, s.volume + 1); }},
    {"C0A", [](State &s) { s.volume = std::max(0, s.volume - 1); }},
    {"C0B", [](State &s) { s.soundMute = true; }},
    {"C0C", [](State &s) { s.soundMute = false; }},
    {"C0D", [](State &s) { s.pictureMute = true; }},
    {"C0E", [](State &s) { s.pictureMute = false; }},
    {"C0F", [](State &s) { s.fullScreen = false; }},
    {"C10", [](State &s) { s.fullScreen = true; }},
    {"C1C", [](State &s) { s.menu = true; }},
    {"C1D", [](State &s) { s.menu = false; }},
    {"C1E", [](State &) {}},
    {"C27", [](State &) {}},
    {"C89", [](State &) {}},
    {"C3A", [](State &) {}},
    {"C3B", [](State &) {}},
    {"C3C", [](State &) {}},
    {"C3D", [](State &) {}},
    {"C3E", [](State &) {}},
    {"C3F", [](State &) {}},
    {"C43", [](State &s) { s.freeze = true; }},
    {"C44", [](State &s) { s.freeze = false; }},
    {"C46", [](State &s) { s.zoom = std::max(0, s.zoom - 1); }},
    {"C47", [](State &s) { s.zoom = std::min(100, s.zoom + 1); }},
    {"C4A", [](State &s) { s.focus = std::max(0, s.focus - 1); }},
    {"C4B", [](State &s) { s.focus = std::min(100, s.focus + 1); }},
    {"C5D", [](State &s) { ++s.lensY; }},
    {"C5E", [](State &s) { --s.lensY; }},
    {"C5F", [](State &s) { --s.lensX; }},
    {"C60", [](State &s) { ++s.lensX; }},
    {"C70", [](State &s) { s.lampMode = 0; }},
    {"C71", [](State &s) { s.lampMode = 1; }},
    {"C72", [](State &s) { s.lampMode = 2; }},
};

constexpr std::string_view kImageModes[]
    = {"STANDPC", "REAL", "STANDAV", "CINEMA", "CUSTOM1", "CUSTOM2", "CUSTOM3", "CUSTOM4", "CUSTOM5"};
constexpr std::string_view kSources[]
    = {"DIGITAL", "ANALOG", "VIDEO", "YPBPR", "YCBCR", "S-VIDEO", "YC", "HD-SDI1"};

template <typename Range> bool contains(const Range &range, std::string_view word)
{
    for (std::string_view item : range) {
        if (item == word)
            return true;
    }
    return false;
}

} // namespace

ProjectorModel::ProjectorModel(int address, Timing timing) : address_(address), timing_(timing)
{ }

int ProjectorModel::litLamps() const
{
    if (state_.power != Power::On)
        return 0;
    const int modeLamps = state_.lampMode == 0 ? 0xF : state_.lampMode == 1 ? 0x9 : 0x6;
    return modeLamps & ~state_.failedLamps;
}

void ProjectorModel::receive(std::string_view bytes, std::int64_t nowMs,
    const std::function<void(std::string)> &reply, const std::function<void(std::string_view)> &heard)
{
    for (const char c : bytes) {
        if (c == '\n')
            continue;
        if (c != '\r') {
            if (pending_.size() < 256) // a runaway line is cut, not kept growing
                pending_ += c;
            continue;
        }
        const std::string text = std::move(pending_);
        pending_.clear();
        if (heard)
            heard(text);
        if (auto answered = answer(text, nowMs))
            reply(std::move(*answered));
    }
}

void ProjectorModel::settle(std::int64_t nowMs)
{
    if (state_.power == Power::CountDown && nowMs >= state_.powerChangeAt)
        state_.power = Power::On;
    if (state_.power == Power::CoolingDown && nowMs >= state_.powerChangeAt)
        state_.power = Power::Standby;
}

std::optional<std::string> ProjectorModel::answer(std::string_view text, std::int64_t nowMs)
{
    settle(nowMs);
    bool toAll = false;
    if (text.starts_with("AFFF")) {
        toAll = true;
        text.remove_prefix(4);
    } else if (text.size() >= 4 && text.starts_with("A00") && text[3] >= '1' && text[3] <= '4') {
        if (text[3] - '0' != address_)
            return std::nullopt;
        text.remove_prefix(4);
    }
    auto reply = command(text, nowMs);
    // Every projector obeys a line sent to all; none answers it, so that
    // their answers cannot collide on a shared line.
    if (toAll)
        return std::nullopt;
    return reply;
}

std::optional<std::string> ProjectorModel::command(std::string_view code, std::int64_t nowMs)
{
    if (code == "C00") {
        // Busy cooling down: the lamps may not strike again yet.
        if (state_.power == Power::CoolingDown)
            return std::string(kError);
        if (state_.power == Power::Standby) {
            state_.power = Power::CountDown;
            state_.powerChangeAt = nowMs + timing_.countDownMs;
        }
        return kAck;
    }
    if (code == "C01") {
        if (state_.power == Power::On || state_.power == Power::CountDown) {
            state_.power = Power::CoolingDown;
            state_.powerChangeAt = nowMs + timing_.coolDownMs;
        }
        return kAck;
    }
    for (const ActionRow &row : kActions) {
        if (row.code == code) {
            row.action(state_);
            return kAck;
        }
    }
    if (code.starts_with("CR ")) {
        auto value = read(code.substr(3));
        return value ? line(*value) : std::string(kError);
    }
    if (code.starts_with("CF ")) {
        const std::string_view rest = code.substr(3);
        const auto blank = rest.find(' ');
        if (blank == std::string_view::npos)
            return std::string(kError);
        auto done = setting(rest.substr(0, blank), rest.substr(blank + 1));
        return done ? *done : std::string(kError);
    }
    if (code.size() == 3 && code.starts_with("CR")) {
        switch (code[2]) {
        case '0': {
            const bool lampsFailed = state_.power == Power::On && litLamps() == 0;
            switch (state_.power) {
            case Power::On:
                return line(lampsFailed ? "21" : "00");
            case Power::Standby:
                return line("80");
            case Power::CountDown:
                return line("40");
            case Power::CoolingDown:
                return line("20");
            }
            break;
        }
        case '1':
            return line(std::to_string(state_.inputMode));
        case '3':
            return line(padded(state_.lampHours[0], 4) + " " + padded(state_.lampHours[1], 4) + " "
                + padded(state_.lampHours[2], 4) + " " + padded(state_.lampHours[3], 4));
        case '4':
            return line(state_.orientation);
        case '6':
            return line(temperature(state_.temperature1) + "," + temperature(state_.temperature2));
        case '7':
            return line(std::to_string(state_.lampMode) + "0123456789ABCDEF"[litLamps()]);
        case '9':
            return line("1024X768 60HZ");
        case 'A':
            if (state_.power == Power::Standby)
                return line("FF");
            if (!state_.signalPresent)
                return line("80");
            return line(hex2((state_.pictureMute ? 1 : 0) | (state_.soundMute ? 2 : 0)));
        default:
            break;
        }
    }
    return std::string(kError);
}

std::optional<std::string> ProjectorModel::read(std::string_view keyword)
{
    const std::string onOff[2] = {"OFF", "ON"};
    if (keyword == "PROJH")
        return padded(state_.projectorHours, 5);
    if (keyword == "INPUT")
        return std::to_string(state_.inputMode);
    if (keyword == "SOURCE")
        return state_.inputSources[static_cast<std::size_t>(state_.inputMode - 1)];
    if (keyword == "MUTE")
        return onOff[state_.soundMute];
    if (keyword == "VMUTE")
        return onOff[state_.pictureMute];
    if (keyword == "FREEZE")
        return onOff[state_.freeze];
    if (keyword == "SCREEN")
        return std::string(state_.fullScreen ? "FULL" : "NORMAL");
    if (keyword == "VOLUME")
        return padded(state_.volume, 2);
    if (keyword == "LAMPMODE")
        return std::string(state_.lampMode == 0 ? "4LAMP" : state_.lampMode == 1 ? "1-4" : "2-3");
    if (keyword == "PRESSURE")
        return std::to_string(state_.pressureReading);
    if (keyword == "FANSPEED")
        return state_.fanSpeed;
    if (keyword == "INFPFAIL")
        return hex2(state_.failedLamps);
    if (keyword.size() == 7 && keyword.starts_with("SRCINP") && keyword[6] >= '1' && keyword[6] <= '4')
        return state_.inputSources[static_cast<std::size_t>(keyword[6] - '1')];
    return std::nullopt;
}

std::optional<std::string> ProjectorModel::setting(std::string_view keyword, std::string_view value)
{
    if (keyword == "IMAGE" && contains(kImageModes, value)) {
        state_.imageMode = value;
        return kAck;
    }
    if (keyword == "FANSPEED" && (value == "MAX" || value == "NOR")) {
        state_.fanSpeed = value;
        return kAck;
    }
    if (keyword.size() == 6 && keyword.starts_with("INPUT") && keyword[5] >= '1' && keyword[5] <= '4'
        && contains(kSources, value)) {
        state_.inputSources[static_cast<std::size_t>(keyword[5] - '1')] = value;
        return kAck;
    }
    return std::nullopt;
}
