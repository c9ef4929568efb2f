// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// The ticks of the reply watch (Timer2), the settings auto-hide (Timer3), the
// monitor clear (Timer4) and Timer5, which nothing arms.

struct PanelState;
class Exchange;
class Timer;
class View;

class TimerTicks {
public:
    TimerTicks(PanelState &state, View &view, Exchange &exchange, Timer &timer2, Timer &timer3, Timer &timer4,
        Timer &timer5);

    void Timer2_Timer();
    void Timer3_Timer();
    void Timer4_Timer();
    void Timer5_Timer();

private:
    PanelState &state_;
    View &view_;
    Exchange &exchange_;
    Timer &timer2_;
    Timer &timer3_;
    Timer &timer4_;
    Timer &timer5_;
};

// The design intervals of the five timers, in milliseconds.
inline constexpr int kTimer1Design = 200;
inline constexpr int kTimer2Design = 500;
inline constexpr int kTimer3Design = 5000;
inline constexpr int kTimer4Design = 1000;
inline constexpr int kTimer5Design = 2000;
