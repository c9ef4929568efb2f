// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// The one reading of '#' in our configuration files (ports.conf and the
// service's config): a comment starts at a '#' at the start of a line or
// after a blank or tab, so a device path such as /srv/rig/dev#1 stays whole.

#include <string_view>

// `line` without its comment, if it has one.
inline std::string_view withoutComment(std::string_view line)
{
    for (std::size_t at = 0; at < line.size(); ++at) {
        if (line[at] == '#' && (at == 0 || line[at - 1] == ' ' || line[at - 1] == '\t'))
            return line.substr(0, at);
    }
    return line;
}
