// SPDX-License-Identifier: GPL-3.0-or-later
// The input table is read strictly: a controller that was shown an input
// must always reach the same input mode with it.

#include "pjlink/pjlink_settings.h"

#include "core/host_port.h"

#include <QHostAddress>
#include <QString>

#include <set>
#include <sstream>

std::optional<std::vector<PjlinkInput>> parsePjlinkInputs(const std::string &text, std::string &whyNot)
{
    std::string spaced = text;
    for (char &c : spaced) {
        if (c == ',')
            c = ' ';
    }
    std::istringstream pairs(spaced);
    std::vector<PjlinkInput> inputs;
    std::set<int> modes;
    std::set<std::string> codes;
    for (std::string pair; pairs >> pair;) {
        const bool shaped = pair.size() == 4 && pair[0] >= '1' && pair[0] <= '4' && pair[1] == ':'
            && pair[2] >= '1' && pair[2] <= '5' && pair[3] >= '1' && pair[3] <= '9';
        if (!shaped) {
            whyNot = "pjlink-inputs: \"" + pair
                + "\" is not MODE:INPUT (an input mode 1-4, a PJLink type 1-5 and a digit 1-9, as 1:31)";
            return std::nullopt;
        }
        PjlinkInput input{pair[0] - '0', pair.substr(2)};
        if (!modes.insert(input.mode).second || !codes.insert(input.code).second) {
            whyNot = "pjlink-inputs: \"" + pair + "\" repeats an input mode or a PJLink input";
            return std::nullopt;
        }
        inputs.push_back(input);
    }
    if (inputs.empty()) {
        whyNot = "pjlink-inputs: no input: give MODE:INPUT pairs, as 1:31 2:11";
        return std::nullopt;
    }
    return inputs;
}

std::string pjlinkInputsText(const std::vector<PjlinkInput> &inputs)
{
    std::string text;
    for (const PjlinkInput &input : inputs)
        text += (text.empty() ? "" : " ") + std::to_string(input.mode) + ":" + input.code;
    return text;
}

std::optional<PjlinkListen> parsePjlinkListen(const std::string &text, std::string &whyNot)
{
    HostPort where{PjlinkListen().address, 0};
    const HostPortFault fault = parseHostPort(text, HostPortShape::PortRequired, where);
    // A listener binds an address of this machine, never a name to look up.
    if (fault == HostPortFault::Host
        || (fault == HostPortFault::None && QHostAddress(QString::fromStdString(where.host)).isNull())) {
        whyNot = "[ADDRESS:]PORT takes an IP address, not \"" + where.host + "\" in \"" + text + "\"";
        return std::nullopt;
    }
    if (fault == HostPortFault::Port) {
        whyNot = "[ADDRESS:]PORT takes a port from 1 to 65535, not \"" + text + "\"";
        return std::nullopt;
    }
    return PjlinkListen{where.host, static_cast<std::uint16_t>(where.port)};
}
