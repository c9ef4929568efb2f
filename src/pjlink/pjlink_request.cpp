// SPDX-License-Identifier: GPL-3.0-or-later
// Every byte value may arrive here: the reader compares bytes, never
// converts them to text, and a line is only ever cut at a CR.

#include "pjlink/pjlink_request.h"

namespace {

constexpr std::size_t kParameterLimit = 128;

bool commandCharacter(char c)
{
    return (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9');
}

} // namespace

PjlinkParsed parsePjlinkLine(std::string_view line)
{
    PjlinkParsed parsed;
    if (line.size() < 2 || line[0] != '%' || line[1] < '0' || line[1] > '9')
        return parsed;
    parsed.request.classDigit = line[1];
    const std::string_view command = line.substr(2, 4);
    bool wellFormed = command.size() == 4;
    for (const char c : command)
        wellFormed = wellFormed && commandCharacter(c);
    if (!wellFormed)
        return parsed;
    parsed.request.command = std::string(command);
    parsed.kind = PjlinkLine::Undefined;
    if (line.size() < 7 || line[6] != ' ')
        return parsed;
    const std::string_view parameter = line.substr(7);
    if (parameter.size() > kParameterLimit)
        return parsed;
    parsed.request.parameter = std::string(parameter);
    parsed.kind = PjlinkLine::Request;
    return parsed;
}

void PjlinkReader::feed(std::string_view bytes)
{
    pending_.append(bytes);
    dropLineFeeds();
}

void PjlinkReader::dropLineFeeds()
{
    const std::size_t first = pending_.find_first_not_of('\n');
    pending_.erase(0, first == std::string::npos ? pending_.size() : first);
}

std::optional<std::string> PjlinkReader::nextLine(bool firstLine)
{
    const std::size_t end = pending_.find('\r');
    if (end == std::string::npos || end > kLineLimit - 1 + (firstLine ? kDigestSize : 0))
        return std::nullopt;
    std::string line = pending_.substr(0, end);
    pending_.erase(0, end + 1);
    dropLineFeeds();
    return line;
}

bool PjlinkReader::overflowed(bool firstLine) const
{
    const std::size_t limit = kLineLimit + (firstLine ? kDigestSize : 0);
    const std::size_t end = pending_.find('\r');
    if (end == std::string::npos)
        return pending_.size() >= limit;
    return end >= limit || pending_.size() > kPendingLimit;
}
