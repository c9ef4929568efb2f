// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// Parses a line settings text such as "19200,N,8,1" (baud rate, parity
// letter, data bits, stop bits). A text that does not parse is refused with a
// reason; nothing is silently defaulted.

#include <optional>
#include <string>
#include <string_view>

struct LineSettings {
    int baudRate = 0;
    char parity = 'N';   // N, E, O, M or S
    int dataBits = 8;    // 5 to 8
    int stopBits10 = 10; // stop bits times ten: 10, 15 or 20
};

std::optional<LineSettings> parseLineSettings(std::string_view text, std::string &whyNot);
