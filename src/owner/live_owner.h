// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// The live state and its poller fed by a shared line: every exchange on the
// line reaches the state first, then the schedule. Programs that own a line
// make one; the poller runs only when asked (always in qv550d, with --live
// in the panel).

#include <chrono>
#include <cstdint>

#include "owner/live_state.h"
#include "owner/poller.h"
#include "owner/shared_line.h"

class LiveOwner {
public:
    LiveOwner(SharedLine &line, Timer &pollTimer, std::function<std::int64_t()> now = steadyMs)
        : state(now), poller(line, state, pollTimer, now)
    {
        line.onExchange = [this](const std::string &sent, const std::string &reply, bool complete) {
            state.exchanged(sent, reply, complete);
            poller.exchanged(sent, reply, complete);
        };
        line.onConnection = [this](bool up) { poller.lineChanged(up); };
    }

    static std::int64_t steadyMs()
    {
        return std::chrono::duration_cast<std::chrono::milliseconds>(
            std::chrono::steady_clock::now().time_since_epoch())
            .count();
    }

    LiveState state;
    Poller poller;
};
