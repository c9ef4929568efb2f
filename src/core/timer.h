// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// A window timer: an interval in milliseconds and an enabled flag.
//  - While enabled it ticks once per interval until disabled.
//  - Enabling it starts its count from the full interval, also when it is
//    already enabled: every transmission gets a full reply window.
//  - Setting the interval of an enabled timer restarts the count; of a
//    disabled one only stores it.
//  - Disabling it stops it; no tick follows.

#include <functional>
#include <utility>

class Timer {
public:
    virtual ~Timer() = default;
    virtual void setInterval(int milliseconds) = 0;
    virtual int interval() const = 0;
    virtual void setEnabled(bool enabled) = 0;
    virtual bool enabled() const = 0;

    void setOnTick(std::function<void()> handler) { onTick_ = std::move(handler); }

protected:
    void tick()
    {
        if (onTick_)
            onTick_();
    }

private:
    std::function<void()> onTick_;
};
