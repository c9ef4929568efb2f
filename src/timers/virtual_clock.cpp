// SPDX-License-Identifier: GPL-3.0-or-later
// Virtual timers: each knows when it is next due; the clock picks the
// earliest, moves time there and fires it, until nothing is due in the span.

#include "timers/virtual_clock.h"

#include <algorithm>

class VirtualClock::VirtualTimer : public Timer {
public:
    VirtualTimer(VirtualClock &clock, int interval) : clock_(clock), interval_(interval)
    {
        clock_.timers_.push_back(this);
    }
    ~VirtualTimer() override { std::erase(clock_.timers_, this); }

    void setInterval(int milliseconds) override
    {
        interval_ = milliseconds;
        if (enabled_)
            start();
    }
    int interval() const override { return interval_; }
    void setEnabled(bool enabled) override
    {
        enabled_ = enabled;
        if (enabled_)
            start();
    }
    bool enabled() const override { return enabled_; }

    bool dueBy(std::int64_t limit) const { return enabled_ && interval_ > 0 && due_ <= limit; }
    bool before(const VirtualTimer &other) const
    {
        return due_ != other.due_ ? due_ < other.due_ : sequence_ < other.sequence_;
    }
    std::int64_t due() const { return due_; }
    void fire()
    {
        // Periodic: the next tick is one interval on, unless the handler
        // restarts, re-times or stops the timer.
        due_ += interval_;
        sequence_ = clock_.nextSequence();
        tick();
    }

private:
    void start()
    {
        due_ = clock_.now_ + interval_;
        sequence_ = clock_.nextSequence();
    }

    VirtualClock &clock_;
    int interval_;
    bool enabled_ = false;
    std::int64_t due_ = 0;
    std::int64_t sequence_ = 0;
};

VirtualClock::VirtualClock() = default;
VirtualClock::~VirtualClock() = default;

std::unique_ptr<Timer> VirtualClock::createTimer(int interval)
{
    return std::make_unique<VirtualTimer>(*this, interval);
}

void VirtualClock::advance(std::int64_t milliseconds)
{
    const std::int64_t target = now_ + milliseconds;
    while (true) {
        VirtualTimer *next = nullptr;
        for (VirtualTimer *timer : timers_) {
            if (timer->dueBy(target) && (!next || timer->before(*next)))
                next = timer;
        }
        if (!next)
            break;
        now_ = next->due();
        next->fire();
    }
    now_ = target;
}
