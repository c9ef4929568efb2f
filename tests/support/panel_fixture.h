// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// A whole panel on doubles: the serial double, a virtual clock for the five
// timers, a recording view, message box and window, so a test reads like the
// scenario it checks.

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "serial_double.h"
#include "recording_view.h"
#include "panel/timer_ticks.h"
#include "timers/virtual_clock.h"
#include "panel/panel.h"

using Lines = std::vector<std::string>;

class PanelFixture : public ::testing::Test {
protected:
    VirtualClock clock;
    std::unique_ptr<Timer> timer1 = clock.createTimer(kTimer1Design);
    std::unique_ptr<Timer> timer2 = clock.createTimer(kTimer2Design);
    std::unique_ptr<Timer> timer3 = clock.createTimer(kTimer3Design);
    std::unique_ptr<Timer> timer4 = clock.createTimer(kTimer4Design);
    std::unique_ptr<Timer> reopenTimer = clock.createTimer(1000);
    std::unique_ptr<Timer> settleTimer = clock.createTimer(3000);
    SerialDouble serial;
    RecordingView view;
    RecordingMessageBox messageBox;
    FakeWindow window;
    int endCalls = 0;
    Panel panel{serial, view, messageBox, window,
        {*timer1, *timer2, *timer3, *timer4, *reopenTimer, *settleTimer}, [this] { ++endCalls; }};

    // Start-up, as the program runs it; most tests begin here.
    void load() { ASSERT_FALSE(panel.Form_Load().has_value()); }
    void click(const std::string &control) { panel.click(control); }
    void press(const std::string &control) { panel.mouseDown(control); }
    void release(const std::string &control) { panel.mouseUp(control); }
    void typeCommand(const std::string &text) { view.setText("Text1", text); }
    std::string txd() const { return view.caption("Label11"); }
    std::string rxd() const { return view.caption("Label12"); }
    std::string status() const { return view.caption("Label22"); }
    const PanelState &state() const { return panel.state(); }
};
