// SPDX-License-Identifier: GPL-3.0-or-later
// Status reply decoders: the code tables, the compositions and the pressure
// conversion. Code tables compare a fixed prefix of the monitor text exactly,
// so a reply matches only once both of its code characters are in.

#include "core/reply_decoders.h"

#include <array>
#include <charconv>
#include <cmath>
#include <vector>

namespace {

struct CodeEntry {
    std::string_view prefix; // monitor-text prefix, e.g. " 8 0"
    std::string_view text;   // status line
};

// clang-format off
constexpr std::array kCr0 = {
    CodeEntry{" 0 0", " Power ON"},
    CodeEntry{" 8 0", " Stand by"},
    CodeEntry{" 4 0", " Count down"},
    CodeEntry{" 2 0", " Cooling down"},
    CodeEntry{" 1 0", " Power Fail"},
    CodeEntry{" 0 8", " Temperature Warning(Power ON)"},
    CodeEntry{" 0 2", " NO Key input "},
    CodeEntry{" 0 4", " Lamp OFF by PWR Management"},
    CodeEntry{" 2 8", " Temperature Warning & cooling down"},
    CodeEntry{" 2 4", " Lamp OFF & Tempereture Warning by PWR Management"},
    CodeEntry{" 8 8", " Temperature Warning and recoverd"},
    CodeEntry{" 2 1", " Cooling down (All Lamp FAIL)"},
    CodeEntry{" 8 1", " Cooling down & sutandby (All Lamp FAIL)"},
};

constexpr std::array kCr1 = {
    CodeEntry{" 1", " Input mode 1"},
    CodeEntry{" 2", " Input mode 2"},
    CodeEntry{" 3", " Input mode 3"},
    CodeEntry{" 4", " Input mode 4"},
};

constexpr std::array kCr4 = {
    CodeEntry{" 1 1", " Normally"},
    CodeEntry{" 1 0", " Top/Bottom reversal"},
    CodeEntry{" 0 1", " Left/Right reversal"},
    CodeEntry{" 0 0", " Top/Bottom , Left/Right reversal"},
};

constexpr std::array kCra = {
    CodeEntry{" 0 0", " Video & Audio mute OFF"},
    CodeEntry{" 0 1", " Video mute ON"},
    CodeEntry{" 0 2", " Audio mute ON"},
    CodeEntry{" 0 3", " Video & Audio mute ON"},
    CodeEntry{" 8 0", " No signal"},
    CodeEntry{" F F", " Stand by"},
};

// Lamp mode: first reply digit; lamps on: second digit, a bit mask of lamps 1-4.
constexpr std::array<std::string_view, 3> kLampModes = {"4 Lamp mode", "2 Lamp mode(1,4)",
                                                        "2 Lamp mode(2,3)"};
constexpr std::string_view kMaskOrder = "012483596AC7BDEF";
// clang-format on

struct OwnedEntry {
    std::string prefix;
    std::string text;
};

std::string lampPart(int mask)
{
    if (mask == 0)
        return "All OFF";
    if (mask == 15)
        return "All ON ";
    std::string part = "No";
    bool first = true;
    for (int lamp = 1; lamp <= 4; ++lamp) {
        if (mask & (1 << (lamp - 1))) {
            if (!first)
                part += ',';
            part += static_cast<char>('0' + lamp);
            first = false;
        }
    }
    return part + " ON ";
}

// The 48 lamp-mode entries in their test order: mode 0, 1, 2, each with the
// masks 0, 1, 2, 4, 8, 3, 5, 9, 6, A, C, 7, B, D, E, F.
const std::vector<OwnedEntry> &cr7Table()
{
    static const std::vector<OwnedEntry> table = [] {
        std::vector<OwnedEntry> rows;
        for (std::size_t mode = 0; mode < kLampModes.size(); ++mode) {
            for (const char digit : kMaskOrder) {
                const int mask = digit <= '9' ? digit - '0' : digit - 'A' + 10;
                std::string prefix = " ";
                prefix += static_cast<char>('0' + mode);
                prefix += ' ';
                prefix += digit;
                rows.push_back({prefix, " " + lampPart(mask) + " : " + std::string(kLampModes[mode])});
            }
        }
        return rows;
    }();
    return table;
}

template <typename Table>
std::optional<std::string> matchCode(const Table &table, std::string_view monitor, std::size_t width)
{
    const std::string_view head = monitor.substr(0, width);
    std::optional<std::string> result;
    for (const auto &entry : table) { // every entry is tested, as the codes are distinct
        if (head == std::string_view(entry.prefix))
            result = std::string(entry.text);
    }
    return result;
}

// Characters `from` to `to` (counted from 1) of `s`, or what there is of them.
std::string_view middle(std::string_view s, std::size_t from, std::size_t count)
{
    if (from > s.size())
        return {};
    return s.substr(from - 1, count);
}

std::string formatReading(double reading)
{
    std::array<char, 64> buffer{};
    const auto result = std::to_chars(buffer.data(), buffer.data() + buffer.size(), reading);
    return std::string(buffer.data(), result.ptr);
}

std::string pressureText(std::string_view monitor, std::int16_t &pressureValue)
{
    const double reading = readNumber(monitor);
    const double rounded = roundHalfEven(reading);
    // Five times the reading must fit the 16-bit product the conversion uses.
    if (!std::isfinite(rounded) || rounded < -32768.0 || rounded > 32767.0)
        return " Pressure reading out of range: " + formatReading(reading);
    pressureValue = static_cast<std::int16_t>(rounded);
    const int product = pressureValue * 5;
    if (product < -32768 || product > 32767)
        return " Pressure reading out of range: " + std::to_string(pressureValue);
    const double hpa = (static_cast<double>(product) / 1024.0 - 0.204) / 0.00459 + 150.0;
    pressureValue = static_cast<std::int16_t>(roundHalfEven(hpa));
    return std::to_string(pressureValue) + " hPa";
}

struct QueryRow {
    std::string_view code;
    StatusQuery query;
};

// The order in which the lines are compared with the last command.
constexpr std::array kQueries = {
    QueryRow{"CR0", StatusQuery::CR0},
    QueryRow{"CR1", StatusQuery::CR1},
    QueryRow{"CR4", StatusQuery::CR4},
    QueryRow{"CR3", StatusQuery::CR3},
    QueryRow{"CR6", StatusQuery::CR6},
    QueryRow{"CRA", StatusQuery::CRA},
    QueryRow{"CR9", StatusQuery::CR9},
    QueryRow{"CR PRESSURE", StatusQuery::Pressure},
    QueryRow{"CR7", StatusQuery::CR7},
};

// What each query's answer is made of, before its CR.
struct ReplyForm {
    StatusQuery query;
    std::string_view characters; // empty: any printable ASCII character
    std::size_t shortest;
    std::size_t longest;
    bool needsDigit;
    std::string_view words;
};

constexpr std::string_view kHexDigits = "0123456789ABCDEF";

// clang-format off
constexpr std::array kReplyForms = {
    ReplyForm{StatusQuery::CR0, kHexDigits, 2, 2, false, "two hex digits and a CR"},
    ReplyForm{StatusQuery::CR1, "0123456789", 1, 1, false, "one digit and a CR"},
    ReplyForm{StatusQuery::CR4, kHexDigits, 2, 2, false, "two hex digits and a CR"},
    ReplyForm{StatusQuery::CRA, kHexDigits, 2, 2, false, "two hex digits and a CR"},
    ReplyForm{StatusQuery::CR7, kHexDigits, 2, 2, false, "two hex digits and a CR"},
    ReplyForm{StatusQuery::CR3, "0123456789 ", 1, 19, true, "up to 19 digits and blanks, and a CR"},
    ReplyForm{StatusQuery::CR6, "0123456789+-., ", 1, 16, true,
              "up to 16 figures, signs, points, commas and blanks, and a CR"},
    ReplyForm{StatusQuery::CR9, "", 1, 64, false, "up to 64 printable characters and a CR"},
    ReplyForm{StatusQuery::Pressure, "0123456789+- ", 1, 8, true,
              "a number of up to 8 characters and a CR"},
};
// clang-format on

const ReplyForm *formOf(StatusQuery query)
{
    for (const ReplyForm &form : kReplyForms) {
        if (form.query == query)
            return &form;
    }
    return nullptr;
}

} // namespace

bool replyFits(StatusQuery query, std::string_view reply)
{
    const ReplyForm *form = formOf(query);
    if (!form)
        return true;
    if (reply.empty() || reply.back() != '\r')
        return false;
    const std::string_view body = reply.substr(0, reply.size() - 1);
    if (body == "ERR")
        return true;
    if (body.size() < form->shortest || body.size() > form->longest)
        return false;
    bool digit = false;
    for (const char c : body) {
        const bool allowed = form->characters.empty() ? c >= 0x20 && c <= 0x7E
                                                      : form->characters.find(c) != std::string_view::npos;
        if (!allowed)
            return false;
        digit = digit || (c >= '0' && c <= '9');
    }
    return digit || !form->needsDigit;
}

std::string_view replyForm(StatusQuery query)
{
    const ReplyForm *form = formOf(query);
    return form ? form->words : std::string_view();
}

StatusQuery statusQueryFor(std::string_view commandText, std::string_view addressPrefix)
{
    for (const QueryRow &row : kQueries) {
        if (commandText.size() == addressPrefix.size() + row.code.size() + 1
            && commandText.starts_with(addressPrefix)
            && commandText.substr(addressPrefix.size(), row.code.size()) == row.code
            && commandText.back() == '\r')
            return row.query;
    }
    return StatusQuery::None;
}

std::optional<std::string> decodeStatus(
    StatusQuery query, std::string_view monitor, std::int16_t &pressureValue)
{
    switch (query) {
    case StatusQuery::None:
        return std::nullopt;
    case StatusQuery::CR0:
        return matchCode(kCr0, monitor, 4);
    case StatusQuery::CR1:
        return matchCode(kCr1, monitor, 2);
    case StatusQuery::CR4:
        return matchCode(kCr4, monitor, 4);
    case StatusQuery::CRA:
        return matchCode(kCra, monitor, 4);
    case StatusQuery::CR7:
        return matchCode(cr7Table(), monitor, 4);
    case StatusQuery::CR3:
        return std::string(monitor.substr(0, 38)) + " Hour Use";
    case StatusQuery::CR6:
        return "  S1=" + std::string(middle(monitor, 1, 10))
            + " C  ,   S2= " + std::string(middle(monitor, 15, 8)) + " C";
    case StatusQuery::CR9:
        return std::string(monitor);
    case StatusQuery::Pressure:
        return pressureText(monitor, pressureValue);
    }
    return std::nullopt;
}

std::vector<std::string_view> powerStatusTexts()
{
    std::vector<std::string_view> texts;
    for (const CodeEntry &entry : kCr0)
        texts.push_back(entry.text.substr(1));
    return texts;
}

std::optional<std::vector<std::string>> statusTexts(StatusQuery query)
{
    std::vector<std::string> texts;
    const auto add = [&texts](const auto &table) {
        for (const auto &entry : table)
            texts.push_back(std::string(entry.text).substr(1));
    };
    switch (query) {
    case StatusQuery::CR0:
        add(kCr0);
        return texts;
    case StatusQuery::CR1:
        add(kCr1);
        return texts;
    case StatusQuery::CR4:
        add(kCr4);
        return texts;
    case StatusQuery::CRA:
        add(kCra);
        return texts;
    case StatusQuery::CR7:
        add(cr7Table());
        return texts;
    default:
        return std::nullopt;
    }
}

double roundHalfEven(double value)
{
    if (!std::isfinite(value))
        return value;
    const double floor = std::floor(value);
    const double fraction = value - floor;
    if (fraction > 0.5)
        return floor + 1.0;
    if (fraction < 0.5)
        return floor;
    return std::fmod(floor, 2.0) == 0.0 ? floor : floor + 1.0;
}

double readNumber(std::string_view text)
{
    std::string number;
    bool sawDigit = false;
    bool sawPoint = false;
    enum class Stage { Sign, Mantissa, ExponentSign, Exponent } stage = Stage::Sign;
    for (const char c : text) {
        if (c == ' ' || c == '\t' || c == '\n')
            continue;
        const bool digit = c >= '0' && c <= '9';
        if (stage == Stage::Sign) {
            stage = Stage::Mantissa;
            if (c == '-' || c == '+') {
                if (c == '-')
                    number += '-';
                continue;
            }
        }
        if (stage == Stage::Mantissa) {
            if (digit) {
                number += c;
                sawDigit = true;
                continue;
            }
            if (c == '.' && !sawPoint) {
                number += '.';
                sawPoint = true;
                continue;
            }
            if ((c == 'E' || c == 'e' || c == 'D' || c == 'd') && sawDigit) {
                stage = Stage::ExponentSign;
                continue;
            }
            break;
        }
        if (stage == Stage::ExponentSign) {
            stage = Stage::Exponent;
            if (c == '-' || c == '+') {
                number += 'e';
                number += c == '-' ? "-" : "";
                continue;
            }
            if (!digit)
                break;
            number += 'e';
        }
        if (stage == Stage::Exponent) {
            if (!digit)
                break;
            number += c;
        }
    }
    if (!sawDigit)
        return 0.0;
    // An exponent letter with no digits after it counts for nothing.
    while (!number.empty() && (number.back() == 'e' || number.back() == '-'))
        number.pop_back();
    double value = 0.0;
    const auto result = std::from_chars(number.data(), number.data() + number.size(), value);
    if (result.ec == std::errc::result_out_of_range) {
        // Too small or too large for a double: which one is told by the
        // value's decimal order (where its first significant digit stands,
        // plus the exponent), never by how long the text is.
        const bool negative = number.starts_with('-');
        const std::size_t e = std::min(number.find('e'), number.size());
        const std::string_view mantissa
            = std::string_view(number).substr(negative ? 1 : 0, e - (negative ? 1 : 0));
        const std::size_t point = std::min(mantissa.find('.'), mantissa.size());
        const std::size_t first = mantissa.find_first_of("123456789");
        if (first == std::string_view::npos)
            return 0.0;
        long long order = first < point ? static_cast<long long>(point - first) - 1
                                        : -static_cast<long long>(first - point);
        if (e < number.size()) {
            const std::string_view exponent = std::string_view(number).substr(e + 1);
            const bool down = exponent.starts_with('-');
            long long power = 0;
            for (const char digit : exponent.substr(down ? 1 : 0))
                power = std::min(power * 10 + (digit - '0'), 1000000000LL);
            order += down ? -power : power;
        }
        if (order < 0)
            return 0.0;
        return negative ? -HUGE_VAL : HUGE_VAL;
    }
    return value;
}
