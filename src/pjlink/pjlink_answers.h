// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// What each PJLink command means on this projector. A query is answered at
// once from the owner's live state; a value the owner does not know now is
// ERR3 (or ERR4 for a projector that reports its own failure), never a guess.
// A set becomes the named commands that are sent, through the owner, in
// order; "OK" once the projector has acknowledged them all.

#include <string>
#include <string_view>
#include <vector>

#include "pjlink/pjlink_request.h"
#include "pjlink/pjlink_settings.h"

class LiveState;

// The class this face implements completely, as CLSS tells it.
inline constexpr std::string_view kPjlinkClass = "1";
// The maker and model, as the panel's window shows them.
inline constexpr std::string_view kPjlinkMaker = "ZORP";
inline constexpr std::string_view kPjlinkModel = "QV550";

struct PjlinkAnswer {
    std::string value;                 // the reply's value when nothing is to be sent: "1", "ERR3"
    std::vector<std::string> commands; // otherwise the named commands to send: "power-on"
};

PjlinkAnswer pjlinkAnswer(
    const PjlinkRequest &request, const LiveState &state, const PjlinkSettings &settings);

// "%1POWR=1\r": the reply line to `request` with `value`.
std::string pjlinkReply(const PjlinkRequest &request, std::string_view value);
