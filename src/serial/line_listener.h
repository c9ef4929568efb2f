// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// What the line keeper reports as it keeps a line: typed events, with no
// words. Each program says them in its own way: the panel in its title,
// status line and boxes, qv550d in its journal.

#include <cstdint>
#include <string>

#include "core/line_failure.h"
#include "core/serial_control.h"

// The keeper's phases (see LineKeeper).
enum class LinePhase { Closed, Connecting, Open, Waiting, Retrying, Settling };

// An outage as it is told: once, when it begins.
struct LineOutage {
    LineFailure why;
    bool afterLoss = false; // the line was up before, not a failed opening
    bool atStartup = false; // the first opening failed, before anything else ran
    LineKind line = LineKind::Device;
};

class LineListener {
public:
    virtual ~LineListener() = default;
    // The keeper entered `phase`. `port` names the port as the control does;
    // `used`: the line was up once or an outage was told, so that a closed
    // line is news.
    virtual void phaseEntered(LinePhase phase, const std::string &port, bool used) = 0;
    // A line that was wanted is down and is waited for.
    virtual void outageBegan(const LineOutage &outage) = 0;
    // A line that had just come back dropped again before it settled: the
    // same outage goes on.
    virtual void droppedAgain(const LineFailure &why) = 0;
    // The line is up after an outage. `reopened`: it had been up before;
    // `number`: the port number it is on.
    virtual void lineBack(const std::string &port, std::int16_t number, bool reopened) = 0;
    // A command could not be written: told the first time since the line
    // went down or was closed. `outage` is null for a line closed on purpose.
    virtual void notSent(const LineFailure &why, const LineOutage *outage) = 0;
    // Opening a closed line at the user's request failed.
    virtual void retryFailed(const LineFailure &why) = 0;
};
