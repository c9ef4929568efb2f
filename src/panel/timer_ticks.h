// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// The ticks of the reply watch (Timer2), the settings auto-hide (Timer3) and
// the monitor clear (Timer4). The window's Timer5 has no tick: nothing arms
// it, and a handler kept for it could only ever send.

struct PanelState;
class Timer;
class View;

class TimerTicks {
public:
    TimerTicks(PanelState &state, View &view, Timer &timer2, Timer &timer3, Timer &timer4);

    void Timer2_Timer();
    void Timer3_Timer();
    void Timer4_Timer();

private:
    PanelState &state_;
    View &view_;
    Timer &timer2_;
    Timer &timer3_;
    Timer &timer4_;
};

// The design intervals of the timers that run, in milliseconds.
inline constexpr int kTimer1Design = 200;
inline constexpr int kTimer2Design = 500;
inline constexpr int kTimer3Design = 5000;
inline constexpr int kTimer4Design = 1000;
