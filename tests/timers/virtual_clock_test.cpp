// SPDX-License-Identifier: GPL-3.0-or-later
// The timer rules on the virtual clock, including our choice that enabling
// an enabled timer restarts its count.

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "timers/virtual_clock.h"

namespace {

struct Ticks {
    VirtualClock clock;
    std::vector<std::string> log;
    void watch(Timer &timer, const std::string &name)
    {
        timer.setOnTick([this, name] { log.push_back(name + "@" + std::to_string(clock.now())); });
    }
};

TEST(VirtualClock, AnEnabledTimerTicksOncePerIntervalUntilDisabled)
{
    Ticks t;
    auto timer = t.clock.createTimer(50);
    t.watch(*timer, "A");
    timer->setEnabled(true);
    t.clock.advance(160);
    EXPECT_EQ(t.log, std::vector<std::string>({"A@50", "A@100", "A@150"}));
    timer->setEnabled(false);
    t.clock.advance(1000);
    EXPECT_EQ(t.log.size(), 3U);
}

TEST(VirtualClock, ADisabledTimerNeverTicks)
{
    Ticks t;
    auto timer = t.clock.createTimer(50);
    t.watch(*timer, "A");
    timer->setInterval(10);
    t.clock.advance(100);
    EXPECT_TRUE(t.log.empty());
    EXPECT_EQ(timer->interval(), 10);
}

TEST(VirtualClock, EnablingAnEnabledTimerRestartsItsCount)
{
    Ticks t;
    auto timer = t.clock.createTimer(500);
    t.watch(*timer, "A");
    timer->setEnabled(true);
    t.clock.advance(300);
    timer->setEnabled(true);
    t.clock.advance(499);
    EXPECT_TRUE(t.log.empty());
    t.clock.advance(1);
    EXPECT_EQ(t.log, std::vector<std::string>({"A@800"}));
}

TEST(VirtualClock, SettingTheIntervalOfAnEnabledTimerRestartsIt)
{
    Ticks t;
    auto timer = t.clock.createTimer(1000);
    t.watch(*timer, "A");
    timer->setEnabled(true);
    t.clock.advance(900);
    timer->setInterval(1000);
    t.clock.advance(999);
    EXPECT_TRUE(t.log.empty());
    t.clock.advance(1);
    EXPECT_EQ(t.log, std::vector<std::string>({"A@1900"}));
}

TEST(VirtualClock, TicksDueTogetherFireInTheOrderTheirTimersWereStarted)
{
    Ticks t;
    auto first = t.clock.createTimer(25);
    auto second = t.clock.createTimer(25);
    t.watch(*first, "first");
    t.watch(*second, "second");
    second->setEnabled(true);
    first->setEnabled(true);
    t.clock.advance(25);
    EXPECT_EQ(t.log, std::vector<std::string>({"second@25", "first@25"}));
}

TEST(VirtualClock, ATickMayStopOrRetimeOtherTimersBeforeTheyFire)
{
    Ticks t;
    auto a = t.clock.createTimer(10);
    auto b = t.clock.createTimer(20);
    t.watch(*b, "B");
    a->setOnTick([&] {
        t.log.push_back("A@" + std::to_string(t.clock.now()));
        b->setEnabled(false);
        a->setEnabled(false);
    });
    a->setEnabled(true);
    b->setEnabled(true);
    t.clock.advance(100);
    EXPECT_EQ(t.log, std::vector<std::string>({"A@10"}));
}

TEST(VirtualClock, ATimerReenabledInItsOwnTickKeepsItsPeriod)
{
    Ticks t;
    auto timer = t.clock.createTimer(200);
    timer->setOnTick([&] {
        t.log.push_back(std::to_string(t.clock.now()));
        timer->setEnabled(true);
    });
    timer->setEnabled(true);
    t.clock.advance(600);
    EXPECT_EQ(t.log, std::vector<std::string>({"200", "400", "600"}));
}

} // namespace
