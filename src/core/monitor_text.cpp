// SPDX-License-Identifier: GPL-3.0-or-later
// Monitor text rendering: the first rule that matches a byte gives its token.

#include "core/monitor_text.h"

void appendMonitorTokens(std::string &out, std::string_view bytes)
{
    for (const char c : bytes) {
        const auto code = static_cast<unsigned char>(c);
        if (code == 6) {
            out += "ACK ";
        } else if (code == 20) {
            out += '&'; // no trailing space: it runs into the next token
        } else if (code == 13) {
            out += "CR ";
        } else if (code == 10) {
            out += "LF ";
        } else if (code < 32 || code > 122) {
            out += "? ";
        } else {
            out += c;
            out += ' ';
        }
    }
}

std::string monitorText(std::string_view bytes)
{
    std::string out;
    out.reserve(1 + 4 * bytes.size()); // the longest token, "ACK ", has four characters
    out += ' ';
    appendMonitorTokens(out, bytes);
    return out;
}

std::string hexText(std::string_view bytes, std::string_view separator)
{
    static constexpr char kHex[] = "0123456789ABCDEF";
    std::string out;
    for (std::size_t i = 0; i < bytes.size(); ++i) {
        if (i > 0)
            out += separator;
        const auto value = static_cast<unsigned char>(bytes[i]);
        out += kHex[value >> 4];
        out += kHex[value & 0x0F];
    }
    return out;
}
