// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// What becomes of the port once it has closed by itself: the program waits
// for the line and opens it again, with no restart, and reports once per
// outage what happened, for its listener to tell in its own words. The one
// place that decides open, lost, waiting and open again, for every kind of
// line.
//
// Each state is one value of Phase, and every event is one switch over it:
//   Closed       closed on purpose (END, a failed choice); only a choice or
//                a retry asked for opens it
//   Connecting   a network line chosen or started is being connected
//   Open         carrying bytes
//   Waiting      down: lost or never up; tries paced by the reopen timer
//   Retrying     down, and a try on a network line is connecting
//   Settling     the line came back after an outage; it must stay up for a
//                while (the settle timer) before the outage is over
// The outage (why the line is down, whether it was lost or never came up)
// lives exactly as long as the line is down or settling.

#include <cstdint>
#include <optional>
#include <string>

#include "core/serial_control.h"
#include "serial/line_listener.h"

class Timer;

class LineKeeper {
public:
    using Phase = LinePhase;

    LineKeeper(SerialControl &MSComm1, LineListener &listener, Timer &reopenTimer, Timer &settleTimer);

    // The port was opened by start-up or a port choice.
    void opened();
    // Start-up could not open the port: it is waited for, and the outage is
    // reported as one at start-up.
    void startupFailed(const LineFailure &why);
    // The port is closed and stays so until a port choice: a failed choice, END.
    void closed();
    // A port choice is about to run: whatever was being waited for is over.
    void choosing();
    // The user asked to try the line again now, rather than wait.
    void retryNow();
    // Handles the control's line events; false for any other event kind.
    bool onComm(std::int16_t event);
    void reopenTimer_Timer();
    void settleTimer_Timer();
    // A command could not be written: reported the first time in an outage
    // (or since the line was closed); nothing after that. A write refused
    // while the line is up or first connecting is no outage and is not
    // reported here.
    void notSent(const LineFailure &why);

    Phase phase() const { return phase_; }
    bool lineUp() const { return phase_ == Phase::Open || phase_ == Phase::Settling; }

private:
    struct Outage {
        LineOutage told; // what was reported when it began
        int tries = 0;
    };

    void enter(Phase phase);
    void startOutage(const LineFailure &why, bool afterLoss, bool atStartup);
    void scheduleNextTry();
    void tryOpening();
    // The port is open: up now, or in `whileConnecting` until connected.
    void carryOn(Phase whileConnecting);
    void up();

    SerialControl &MSComm1_;
    LineListener &listener_;
    Timer &reopenTimer_;
    Timer &settleTimer_;
    Phase phase_ = Phase::Closed;
    std::optional<Outage> outage_;
    bool everUp_ = false;      // the line has been open at least once
    bool notSentTold_ = false; // since the line went down
};
