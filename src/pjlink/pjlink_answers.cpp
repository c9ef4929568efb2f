// SPDX-License-Identifier: GPL-3.0-or-later
// One table row per command, carrying its query and its set. Values are
// read from the replies' bytes (the live state keeps them), not from the
// decoded texts, which are spaced for the panel's status line.

#include "pjlink/pjlink_answers.h"

#include <array>
#include <charconv>
#include <optional>

#include "owner/live_state.h"

namespace {

const std::string kUndefined = "ERR1";
const std::string kOutOfParameter = "ERR2";
const std::string kUnavailable = "ERR3";
const std::string kFailure = "ERR4";

struct Context {
    const LiveState &state;
    const PjlinkSettings &settings;
};

// A kLiveQueries row's value if it is known now.
const LiveState::Value *knownValue(const LiveState &state, std::string_view name)
{
    for (std::size_t row = 0; row < kLiveQueries.size(); ++row) {
        if (kLiveQueries[row].name == name)
            return state.ageMs(row) && state.value(row).status ? &state.value(row) : nullptr;
    }
    return nullptr;
}

// The reply to a kLiveQueries row known now, less its CR; nothing otherwise.
std::optional<std::string> replyOf(const LiveState &state, std::string_view name)
{
    const LiveState::Value *value = knownValue(state, name);
    if (!value)
        return std::nullopt;
    return value->reply.substr(0, value->reply.find('\r'));
}

std::optional<double> number(std::string_view text)
{
    const auto first = text.find_first_not_of(' ');
    if (first == std::string_view::npos)
        return std::nullopt;
    text.remove_prefix(first);
    while (!text.empty() && text.back() == ' ')
        text.remove_suffix(1);
    double value = 0;
    const auto result = std::from_chars(text.data(), text.data() + text.size(), value);
    if (result.ec != std::errc() || result.ptr != text.data() + text.size())
        return std::nullopt;
    return value;
}

std::vector<std::string_view> fields(std::string_view text, char separator)
{
    std::vector<std::string_view> parts;
    std::size_t start = 0;
    for (std::size_t i = 0; i <= text.size(); ++i) {
        if (i == text.size() || text[i] == separator) {
            if (i > start)
                parts.emplace_back(text.substr(start, i - start));
            start = i + 1;
        }
    }
    return parts;
}

// The lamps each lamp mode lights, as a mask (bit 0 is lamp 1).
constexpr std::array<int, 3> kLampsOfMode = {0xF, 0x9, 0x6};

// The lamps lit now, as a mask: none unless the projector is on.
std::optional<int> litLamps(const LiveState &state)
{
    const PowerPhase power = state.power();
    if (power == PowerPhase::Unknown)
        return std::nullopt;
    if (power != PowerPhase::On)
        return 0;
    const auto lamps = replyOf(state, "lamp-mode");
    if (!lamps || lamps->size() < 2)
        return std::nullopt;
    const char digit = (*lamps)[1];
    if (digit >= '0' && digit <= '9')
        return digit - '0';
    if (digit >= 'A' && digit <= 'F')
        return digit - 'A' + 10;
    return std::nullopt;
}

// Set commands that need the picture: while the projector is known not to
// be on, the standard's answer is "unavailable time".
bool notOn(const LiveState &state)
{
    const PowerPhase power = state.power();
    return power != PowerPhase::Unknown && power != PowerPhase::On;
}

std::string powerQuery(const Context &c, std::string_view)
{
    switch (c.state.power()) {
    case PowerPhase::On:
        return "1";
    case PowerPhase::Standby:
        return "0";
    case PowerPhase::Cooling:
        return "2";
    case PowerPhase::CountDown:
        return "3";
    case PowerPhase::Fail:
        return kFailure;
    case PowerPhase::Unknown:
        break;
    }
    return kUnavailable;
}

PjlinkAnswer powerSet(const Context &c, std::string_view parameter)
{
    if (parameter == "1") {
        // A projector cooling down ignores power on; it says so only by
        // staying in cool-down.
        if (c.state.power() == PowerPhase::Cooling)
            return {kUnavailable, {}};
        if (c.state.power() == PowerPhase::Fail)
            return {kFailure, {}};
        return {{}, {"power-on"}};
    }
    if (parameter == "0")
        return {{}, {"power-off"}};
    return {kOutOfParameter, {}};
}

std::string inputQuery(const Context &c, std::string_view)
{
    if (c.state.power() != PowerPhase::On)
        return kUnavailable;
    const auto mode = replyOf(c.state, "mode");
    if (!mode)
        return kUnavailable;
    const auto value = number(*mode);
    for (const PjlinkInput &input : c.settings.inputs) {
        if (value && *value == input.mode)
            return input.code;
    }
    return kUnavailable; // an input mode the table leaves out
}

PjlinkAnswer inputSet(const Context &c, std::string_view parameter)
{
    for (const PjlinkInput &input : c.settings.inputs) {
        if (input.code == parameter) {
            if (notOn(c.state))
                return {kUnavailable, {}};
            return {{}, {"input-" + std::to_string(input.mode)}};
        }
    }
    return {kOutOfParameter, {}};
}

std::string muteQuery(const Context &c, std::string_view)
{
    if (c.state.power() != PowerPhase::On)
        return kUnavailable;
    const auto mutes = replyOf(c.state, "setting-2");
    // "80" (no signal) and "FF" (stand-by) say nothing of the mutes.
    if (mutes == "00")
        return "30";
    if (mutes == "01")
        return "11";
    if (mutes == "02")
        return "21";
    if (mutes == "03")
        return "31";
    return kUnavailable;
}

PjlinkAnswer muteSet(const Context &c, std::string_view parameter)
{
    struct Row {
        std::string_view parameter;
        std::vector<std::string> commands;
    };
    static const std::array<Row, 6> kRows = {{
        {"11", {"no-show-on"}},
        {"10", {"no-show-off"}},
        {"21", {"sound-mute-on"}},
        {"20", {"sound-mute-off"}},
        {"31", {"no-show-on", "sound-mute-on"}},
        {"30", {"no-show-off", "sound-mute-off"}},
    }};
    for (const Row &row : kRows) {
        if (row.parameter == parameter)
            return notOn(c.state) ? PjlinkAnswer{kUnavailable, {}} : PjlinkAnswer{{}, row.commands};
    }
    return {kOutOfParameter, {}};
}

// Fan, lamp, temperature, cover, filter, other: 0 nothing detected, 1
// warning, 2 error. This projector reports no fan, cover or filter state.
std::string errorQuery(const Context &c, std::string_view)
{
    const auto power = replyOf(c.state, "status");
    if (!power || power->size() < 2)
        return kUnavailable;
    char lamp = '0', temperature = '0', other = '0';
    const std::string code = power->substr(0, 2);
    if (code[1] == '1') // cooling down, all lamps failed
        lamp = '2';
    if (code == "08" || code == "88")
        temperature = '1';
    if (code == "28" || code == "24") // the projector shuts down for its temperature
        temperature = '2';
    if (code[0] == '1')
        other = '2';
    if (const auto temps = replyOf(c.state, "temp")) {
        for (const std::string_view field : fields(*temps, ',')) {
            const auto value = number(field);
            if (value && *value > c.settings.limits.temperatureAbove && temperature == '0')
                temperature = '1';
        }
    }
    if (const LiveState::Value *pressure = knownValue(c.state, "pressure")) {
        const std::string &text = *pressure->status; // "512 hPa", converted from the reading
        if (text.ends_with(" hPa")) {
            const auto hpa = number(std::string_view(text).substr(0, text.size() - 4));
            if (hpa && *hpa < c.settings.limits.pressureBelow && other == '0')
                other = '1';
        }
    }
    const auto lit = litLamps(c.state);
    const auto modeReply = replyOf(c.state, "lamp-mode");
    if (lamp == '0' && c.state.power() == PowerPhase::On && lit && modeReply && !modeReply->empty()) {
        const int mode = (*modeReply)[0] - '0';
        if (mode >= 0 && mode < static_cast<int>(kLampsOfMode.size())
            && (kLampsOfMode[static_cast<std::size_t>(mode)] & ~*lit) != 0)
            lamp = '1';
    }
    return std::string{'0', lamp, temperature, '0', '0', other};
}

std::string lampQuery(const Context &c, std::string_view)
{
    const auto hours = replyOf(c.state, "lamp-time");
    const auto lit = litLamps(c.state);
    if (!hours || !lit)
        return kUnavailable;
    const auto each = fields(*hours, ' ');
    if (each.size() != 4)
        return kUnavailable;
    std::string value;
    for (std::size_t lamp = 0; lamp < each.size(); ++lamp) {
        const auto figure = number(each[lamp]);
        if (!figure || *figure < 0 || *figure > 99999 || *figure != static_cast<int>(*figure))
            return kUnavailable;
        value += (value.empty() ? "" : " ") + std::to_string(static_cast<int>(*figure)) + " "
            + ((*lit >> lamp) & 1 ? "1" : "0");
    }
    return value;
}

std::string inputsQuery(const Context &c, std::string_view)
{
    std::string value;
    for (const PjlinkInput &input : c.settings.inputs)
        value += (value.empty() ? "" : " ") + input.code;
    return value;
}

std::string nameQuery(const Context &c, std::string_view)
{
    std::string name = c.settings.name;
    if (name.size() > 64) {
        name.resize(64);
        while (!name.empty() && (static_cast<unsigned char>(name.back()) & 0xC0) == 0x80)
            name.pop_back(); // a character cut in two
        if (!name.empty() && static_cast<unsigned char>(name.back()) >= 0xC0)
            name.pop_back();
    }
    for (char &c : name) {
        if (static_cast<unsigned char>(c) < 0x20)
            c = ' '; // a CR in a name would end the reply
    }
    return name;
}

std::string makerQuery(const Context &, std::string_view)
{
    return std::string(kPjlinkMaker);
}

std::string modelQuery(const Context &, std::string_view)
{
    return std::string(kPjlinkModel);
}

// Strict clients take at most 32 characters here.
std::string infoQuery(const Context &, std::string_view)
{
    return std::string("qv550d " PANEL_VERSION " RS-232 bridge").substr(0, 32);
}

std::string classQuery(const Context &, std::string_view)
{
    return std::string(kPjlinkClass);
}

// Freeze is not reported by any status query: the owner knows the last
// acknowledged choice, and a power change since then makes it unknown.
std::string freezeQuery(const Context &c, std::string_view)
{
    if (c.state.power() != PowerPhase::On)
        return kUnavailable;
    const auto &choices = c.state.choices();
    const auto freeze = choices.find("FREEZE");
    if (freeze == choices.end())
        return kUnavailable;
    if (const auto power = choices.find("POWER");
        power != choices.end() && power->second.at > freeze->second.at)
        return kUnavailable;
    return freeze->second.command == "freeze-on" ? "1" : "0";
}

PjlinkAnswer freezeSet(const Context &c, std::string_view parameter)
{
    if (parameter != "1" && parameter != "0")
        return {kOutOfParameter, {}};
    if (notOn(c.state))
        return {kUnavailable, {}};
    return {{}, {parameter == "1" ? "freeze-on" : "freeze-off"}};
}

PjlinkAnswer volumeSet(const Context &c, std::string_view parameter)
{
    if (parameter != "1" && parameter != "0")
        return {kOutOfParameter, {}};
    if (notOn(c.state))
        return {kUnavailable, {}};
    return {{}, {parameter == "1" ? "vol-up" : "vol-down"}};
}

std::string inputNameQuery(const Context &c, std::string_view parameter)
{
    for (const PjlinkInput &input : c.settings.inputs) {
        if (parameter.substr(1) == input.code)
            return "Input mode " + std::to_string(input.mode);
    }
    return kOutOfParameter;
}

// The PC type query's reply: "1024X768 60HZ".
std::string resolutionQuery(const Context &c, std::string_view)
{
    if (c.state.power() != PowerPhase::On)
        return kUnavailable;
    const auto type = replyOf(c.state, "pc-type");
    if (!type)
        return kUnavailable;
    const std::string_view text = *type;
    const auto x = text.find('X');
    const auto end = text.find(' ');
    if (x == std::string_view::npos || x == 0 || end == std::string_view::npos || end <= x + 1)
        return kUnavailable;
    const std::string_view width = text.substr(0, x), height = text.substr(x + 1, end - x - 1);
    if (width.find_first_not_of("0123456789") != std::string_view::npos
        || height.find_first_not_of("0123456789") != std::string_view::npos)
        return kUnavailable;
    return std::string(width) + "x" + std::string(height);
}

struct CommandRow {
    std::string_view command;
    char since; // the class that defines it
    std::string (*query)(const Context &, std::string_view parameter);
    PjlinkAnswer (*set)(const Context &, std::string_view parameter);
};

// Rows without query or set are commands this projector lacks: MVOL (no
// microphone), SNUM and SVER (it reports neither), FILT and RFIL (no
// filter), RLMP (no lamp model number), RRES (no panel resolution query).
// clang-format off
constexpr std::array kCommands = {
    CommandRow{"POWR", '1', powerQuery, powerSet},
    CommandRow{"INPT", '1', inputQuery, inputSet},
    CommandRow{"AVMT", '1', muteQuery, muteSet},
    CommandRow{"ERST", '1', errorQuery, nullptr},
    CommandRow{"LAMP", '1', lampQuery, nullptr},
    CommandRow{"INST", '1', inputsQuery, nullptr},
    CommandRow{"NAME", '1', nameQuery, nullptr},
    CommandRow{"INF1", '1', makerQuery, nullptr},
    CommandRow{"INF2", '1', modelQuery, nullptr},
    CommandRow{"INFO", '1', infoQuery, nullptr},
    CommandRow{"CLSS", '1', classQuery, nullptr},
    CommandRow{"FREZ", '2', freezeQuery, freezeSet},
    CommandRow{"SVOL", '2', nullptr, volumeSet},
    CommandRow{"INNM", '2', inputNameQuery, nullptr},
    CommandRow{"IRES", '2', resolutionQuery, nullptr},
    CommandRow{"MVOL", '2', nullptr, nullptr},
    CommandRow{"SNUM", '2', nullptr, nullptr},
    CommandRow{"SVER", '2', nullptr, nullptr},
    CommandRow{"FILT", '2', nullptr, nullptr},
    CommandRow{"RFIL", '2', nullptr, nullptr},
    CommandRow{"RLMP", '2', nullptr, nullptr},
    CommandRow{"RRES", '2', nullptr, nullptr},
};
// clang-format on

} // namespace

PjlinkAnswer pjlinkAnswer(
    const PjlinkRequest &request, const LiveState &state, const PjlinkSettings &settings)
{
    const Context context{state, settings};
    for (const CommandRow &row : kCommands) {
        if (row.command != request.command)
            continue;
        if (request.classDigit < row.since || request.classDigit > '2' || (!row.query && !row.set))
            return {kUndefined, {}};
        // INNM asks for one input: "?31".
        const bool query = row.command == "INNM" ? request.parameter.starts_with('?') : request.query();
        if (query && row.query)
            return {row.query(context, request.parameter), {}};
        if (!query && row.set)
            return row.set(context, request.parameter);
        return {kOutOfParameter, {}};
    }
    return {kUndefined, {}};
}

std::string pjlinkReply(const PjlinkRequest &request, std::string_view value)
{
    return "%" + std::string(1, request.classDigit) + request.command + "=" + std::string(value) + "\r";
}
