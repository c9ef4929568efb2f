// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// How qv550d shows itself to PJLink controllers: its name, the table that
// gives each of the projector's four input modes a PJLink input (a type
// 1 RGB, 2 VIDEO, 3 DIGITAL, 4 STORAGE or 5 NETWORK, and a digit 1-9), the
// limits past which a reading is a problem, and where it listens.

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "owner/service_config.h"

struct PjlinkInput {
    int mode = 1;     // the projector's input mode, 1 to 4
    std::string code; // the PJLink input, "31"
};

// Input mode 1 to 4 as the projector comes: a digital input, an RGB
// input, composite video and component video.
inline const std::vector<PjlinkInput> &defaultPjlinkInputs()
{
    static const std::vector<PjlinkInput> inputs = {{1, "31"}, {2, "11"}, {3, "21"}, {4, "22"}};
    return inputs;
}

struct PjlinkSettings {
    std::string name; // NAME: the projector's name, at most 64 bytes are told
    std::vector<PjlinkInput> inputs = defaultPjlinkInputs();
    ProblemLimits limits;
};

// "1:31 2:11 3:21 4:22" (blanks or commas between pairs): each input mode
// at most once, each PJLink input at most once; a mode left out is not
// offered. The reason on a bad table.
std::optional<std::vector<PjlinkInput>> parsePjlinkInputs(const std::string &text, std::string &whyNot);
// The table written as parsePjlinkInputs reads it.
std::string pjlinkInputsText(const std::vector<PjlinkInput> &inputs);

struct PjlinkListen {
    std::string address = "127.0.0.1"; // loopback unless an address is given
    std::uint16_t port = 4352;
};

// "[ADDR:]PORT": "4352", "0.0.0.0:4352", "[::]:4352", "192.0.2.7:4352".
std::optional<PjlinkListen> parsePjlinkListen(const std::string &text, std::string &whyNot);
