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
