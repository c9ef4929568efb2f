// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// The real window on the offscreen platform with the serial double and the
// virtual clock behind it, started up and shown, for widget tests.

#include <QLabel>
#include <QTest>

#include <gtest/gtest.h>

#include <memory>

#include "recording_view.h"
#include "serial_double.h"
#include "panel/timer_ticks.h"
#include "timers/virtual_clock.h"
#include "ui/fonts.h"
#include "ui/form1.h"
#include "panel/panel.h"

class WindowFixture : public ::testing::Test {
protected:
    VirtualClock clock;
    std::unique_ptr<Timer> timer1 = clock.createTimer(kTimer1Design);
    std::unique_ptr<Timer> timer2 = clock.createTimer(kTimer2Design);
    std::unique_ptr<Timer> timer3 = clock.createTimer(kTimer3Design);
    std::unique_ptr<Timer> timer4 = clock.createTimer(kTimer4Design);
    std::unique_ptr<Timer> reopenTimer = clock.createTimer(1000);
    std::unique_ptr<Timer> settleTimer = clock.createTimer(3000);
    SerialDouble serial;
    RecordingMessageBox messageBox;
    Form1 form;
    Panel panel{serial, form, messageBox, form,
        {*timer1, *timer2, *timer3, *timer4, *reopenTimer, *settleTimer}, [] {}};

    static void SetUpTestSuite() { installFontSubstitutes(); }
    void SetUp() override
    {
        form.attach(&panel);
        ASSERT_FALSE(panel.Form_Load().has_value());
        form.show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(&form));
    }
    QWidget *widget(const char *name) const
    {
        QWidget *found = form.control(name);
        EXPECT_NE(found, nullptr) << name;
        return found;
    }
};
