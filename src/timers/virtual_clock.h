// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// A clock that only moves when told to, and the timers that run on it, so
// timing is tested exactly and instantly. advance(d) fires every tick due up
// to now + d in due order; ticks due at the same moment fire in the order
// their timers were started.

#include <cstdint>
#include <memory>
#include <vector>

#include "core/timer.h"

class VirtualClock {
public:
    class VirtualTimer;

    VirtualClock();
    ~VirtualClock();
    VirtualClock(const VirtualClock &) = delete;
    VirtualClock &operator=(const VirtualClock &) = delete;

    // A new timer on this clock, disabled, with the given design interval.
    std::unique_ptr<Timer> createTimer(int interval);
    void advance(std::int64_t milliseconds);
    std::int64_t now() const { return now_; }

private:
    friend class VirtualTimer;
    std::int64_t nextSequence() { return ++sequence_; }

    std::int64_t now_ = 0;
    std::int64_t sequence_ = 0;
    std::vector<VirtualTimer *> timers_;
};
