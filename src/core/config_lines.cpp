// SPDX-License-Identifier: GPL-3.0-or-later
// Pure text, so the panel, qv550-cli and qv550d read a file alike whatever
// opened it.

#include "core/config_lines.h"

namespace {

std::string_view trimmed(std::string_view text)
{
    const auto first = text.find_first_not_of(" \t\r");
    if (first == std::string_view::npos)
        return {};
    return text.substr(first, text.find_last_not_of(" \t\r") - first + 1);
}

} // namespace

std::string_view withoutComment(std::string_view line)
{
    for (std::size_t at = 0; at < line.size(); ++at) {
        if (line[at] == '#' && (at == 0 || line[at - 1] == ' ' || line[at - 1] == '\t'))
            return line.substr(0, at);
    }
    return line;
}

std::vector<ConfigLine> configLines(std::string_view text)
{
    if (text.starts_with("\xEF\xBB\xBF"))
        text.remove_prefix(3);
    std::vector<ConfigLine> lines;
    int number = 0;
    while (!text.empty()) {
        ++number;
        const auto end = text.find('\n');
        const std::string_view line = text.substr(0, end);
        text.remove_prefix(end == std::string_view::npos ? text.size() : end + 1);
        ConfigLine entry;
        entry.number = number;
        entry.text = trimmed(withoutComment(line));
        if (entry.text.empty())
            continue;
        const auto equals = entry.text.find('=');
        entry.assigns = equals != std::string::npos;
        entry.key = entry.assigns ? trimmed(std::string_view(entry.text).substr(0, equals)) : entry.text;
        if (entry.assigns)
            entry.value = trimmed(std::string_view(entry.text).substr(equals + 1));
        lines.push_back(std::move(entry));
    }
    return lines;
}
