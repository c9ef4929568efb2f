// SPDX-License-Identifier: GPL-3.0-or-later
// Line settings parsing: four comma-separated items, no blanks.

#include "serial/line_settings.h"

#include <array>
#include <charconv>
#include <vector>

namespace {

std::vector<std::string_view> splitCommas(std::string_view text)
{
    std::vector<std::string_view> items;
    std::size_t start = 0;
    while (true) {
        const std::size_t comma = text.find(',', start);
        items.push_back(text.substr(start, comma == std::string_view::npos ? text.npos : comma - start));
        if (comma == std::string_view::npos)
            return items;
        start = comma + 1;
    }
}

std::optional<int> wholeNumber(std::string_view item)
{
    int value = 0;
    const auto [end, ec] = std::from_chars(item.data(), item.data() + item.size(), value);
    if (item.empty() || ec != std::errc() || end != item.data() + item.size())
        return std::nullopt;
    return value;
}

} // namespace

std::optional<LineSettings> parseLineSettings(std::string_view text, std::string &whyNot)
{
    const std::string quoted = "Invalid line settings \"" + std::string(text) + "\": ";
    const auto items = splitCommas(text);
    if (items.size() != 4) {
        whyNot = quoted + "expected baud rate, parity, data bits and stop bits separated by commas";
        return std::nullopt;
    }
    LineSettings settings;
    const auto baud = wholeNumber(items[0]);
    if (!baud || *baud < 50 || *baud > 4000000) {
        whyNot = quoted + "the baud rate must be a whole number of bits per second";
        return std::nullopt;
    }
    settings.baudRate = *baud;
    constexpr std::string_view parities = "NEOMS";
    if (items[1].size() != 1 || parities.find(items[1][0]) == std::string_view::npos) {
        whyNot = quoted + "the parity must be one of N, E, O, M, S";
        return std::nullopt;
    }
    settings.parity = items[1][0];
    const auto data = wholeNumber(items[2]);
    if (!data || *data < 5 || *data > 8) {
        whyNot = quoted + "the data bits must be 5, 6, 7 or 8";
        return std::nullopt;
    }
    settings.dataBits = *data;
    if (items[3] == "1") {
        settings.stopBits10 = 10;
    } else if (items[3] == "1.5") {
        settings.stopBits10 = 15;
    } else if (items[3] == "2") {
        settings.stopBits10 = 20;
    } else {
        whyNot = quoted + "the stop bits must be 1, 1.5 or 2";
        return std::nullopt;
    }
    return settings;
}
