// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// The PJLink request reader: bytes from a controller in, whole request lines
// out, each read into its class, its four-letter command and its parameter.
// No sockets here, so the reader is tested and fuzzed on bytes alone.

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

struct PjlinkRequest {
    char classDigit = '1'; // '1' or '2' as the controller wrote it
    std::string command;   // four characters, "POWR"
    std::string parameter; // "?" for a query, "1" for a set
    bool query() const { return parameter == "?"; }
};

// What a line turned out to be.
enum class PjlinkLine {
    Request,   // a well-formed request
    Undefined, // "%" and a class digit, then something no command is: ERR1 with its header
    Garbage,   // not a request at all: the connection is closed
};

struct PjlinkParsed {
    PjlinkLine kind = PjlinkLine::Garbage;
    PjlinkRequest request; // for Request and Undefined (what header there was)
};

// One line without its CR. The header is "%" + class digit + four
// characters of A-Z and 0-9, then one blank and the parameter (at most
// 128 bytes).
PjlinkParsed parsePjlinkLine(std::string_view line);

class PjlinkReader {
public:
    // "%1" + four letters + blank + 128 bytes of parameter + CR.
    static constexpr std::size_t kLineLimit = 136;
    // With the 32 hex digits of a digest before the first command.
    static constexpr std::size_t kDigestSize = 32;
    // Bytes held unread while a request is being answered (pipelined lines).
    static constexpr std::size_t kPendingLimit = 4096;

    // Bytes from the controller. A LF before a line is dropped, as some
    // controllers end their lines with CR LF.
    void feed(std::string_view bytes);
    // The next whole line without its CR, or nothing yet.
    std::optional<std::string> nextLine(bool firstLine);
    // A line longer than the standard allows, or too much sent ahead: the
    // controller is not speaking PJLink, and is dropped.
    bool overflowed(bool firstLine) const;

private:
    void dropLineFeeds();

    std::string pending_;
};
