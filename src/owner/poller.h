// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// Keeps the live state fresh by asking the projector itself, within a budget
// a slow device bears: one query at a time, after everyone else's requests,
// only the power status while the projector is not on, and less and less
// often while it does not answer.
//
// The wire is not the limit (the nine queries and replies are 108 bytes,
// 56 ms at 19200 baud); silence is: an unanswered query holds the line for
// its whole watch, and a projector that is asked too often grows slow.

#include <array>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>

#include "owner/live_state.h"

class SharedLine;
class Timer;

class Poller {
public:
    // The power status while on or changing: an automation waiting for the
    // projector to be on (or cooled) learns it within 5 s, as with the
    // home-automation integrations people already use. About 10 bytes,
    // 5 ms of wire: 0.1 % of the line.
    static constexpr int kPowerEveryMs = 5000;
    // In stand-by: 10 s, as peers do; a minute made users' automations start
    // a minute late. 0.05 % of the line.
    static constexpr int kStandbyEveryMs = 10000;
    // Input, mutes, orientation, lamps and temperatures while on: a change
    // made with the remote is seen within about 10 s. Six queries in 10 s,
    // about 40 ms of wire: 0.4 % of the line.
    static constexpr int kFastEveryMs = 10000;
    // Lamp hours, PC type and pressure change over hours, if ever.
    static constexpr int kSlowEveryMs = 300000;
    // Between the end of one poll and the next: a burst of polls would keep
    // a person's press waiting behind several in a row.
    static constexpr int kGapMs = 1000;
    // After an acknowledged command that changes state, its query once, a
    // moment later: the projector has moved (count down, input switched),
    // and the switch does not show the old state until the next round.
    static constexpr int kConfirmAfterMs = 1000;
    // A silent projector is asked again after 5 s, then 10, 20, 40 and
    // every 60 s: within two minutes at most once a minute.
    static constexpr int kFirstBackoffMs = 5000;
    static constexpr int kLongestBackoffMs = 60000;
    // A poll's reply watch: the status queries answer within a few ms.
    static constexpr int kWatchMs = 500;
    // While the line is down, whether it is back is looked at this often
    // (nothing is sent).
    static constexpr int kLineCheckMs = 1000;
    // Polls are a client of the shared line with this number.
    static constexpr int kPollClient = -1;

    Poller(SharedLine &line, LiveState &state, Timer &timer, std::function<std::int64_t()> now);

    void start();
    void stop();
    bool running() const { return running_; }

    // An exchange ended on the line, whoever made it (the owner wires the
    // shared line's onExchange here, after the live state's).
    void exchanged(const std::string &sent, const std::string &reply, bool complete);
    // The line came up or went down.
    void lineChanged(bool up);

    int pollsSent() const { return pollsSent_; }

private:
    void schedule();
    void poll(std::size_t row);
    void done(std::size_t row, bool complete, bool failed);
    bool wanted(std::size_t row) const;
    int intervalFor(std::size_t row) const;

    SharedLine &line_;
    LiveState &state_;
    Timer &timer_;
    std::function<std::int64_t()> now_;
    std::array<std::optional<std::int64_t>, kLiveQueries.size()> due_{}; // nothing: now
    bool running_ = false;
    bool inFlight_ = false;
    std::int64_t lastEnd_ = -kGapMs; // no poll yet: the first goes at once
    int backoffMs_ = 0;
    int pollsSent_ = 0;
};
