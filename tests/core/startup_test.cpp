// SPDX-License-Identifier: GPL-3.0-or-later
// Start-up: the ten steps in order, centring from the design size, and what
// happens when the port cannot be opened.

#include "panel_fixture.h"

namespace {

using Startup = PanelFixture;

TEST_F(Startup, CentresOnTheDesignSizeThenGoesCompact)
{
    load();
    EXPECT_EQ(window.log, Lines({"Left=4852", "Top=3130", "Height=5350"}));
    EXPECT_FLOAT_EQ(window.left(), 4852.5F);
    EXPECT_FLOAT_EQ(window.top(), 3130.0F);
}

TEST_F(Startup, ASmallScreenPlacesTheWindowPartlyOffScreen)
{
    window.setScreen(7500.0F, 6000.0F);
    load();
    EXPECT_FLOAT_EQ(window.left(), -997.5F);
    EXPECT_FLOAT_EQ(window.top(), -1550.0F);
}

TEST_F(Startup, OpensPort1At19200ThenRunsTheCom1ChoiceOnce)
{
    load();
    EXPECT_EQ(serial.log(),
        Lines({"CommPort=1", "Settings=19200,N,8,1", "PortOpen=1", // start-up
            "PortOpen=0", "CommPort=1", "PortOpen=1"}));           // COM1 choice
    EXPECT_EQ(view.selected(), Lines({"Option1"}));
    EXPECT_TRUE(serial.portOpen());
    EXPECT_FALSE(view.visible("Frame8"));
    EXPECT_EQ(state().commSettings, "19200,N,8,1");
    EXPECT_EQ(state().addressPrefix, "");
}

TEST_F(Startup, SendsNothingAndStartsNoTimer)
{
    load();
    EXPECT_TRUE(serial.writes().empty());
    for (Timer *timer : {timer1.get(), timer2.get(), timer3.get(), timer4.get()})
        EXPECT_FALSE(timer->enabled());
    EXPECT_EQ(state().commandText, "");
    EXPECT_EQ(state().repeatKey, 0);
    EXPECT_EQ(state().awaitingReply, 0);
}

TEST_F(Startup, APortThatCannotBeOpenedStopsStartUpThereAndIsReported)
{
    serial.setMissing(1);
    const auto failure = panel.Form_Load();
    EXPECT_EQ(failure,
        "COM1: no such device (No such file or directory)\n\nThe panel keeps trying and opens the port by "
        "itself as soon as it can.");
    EXPECT_EQ(serial.log(), Lines({"CommPort=1", "Settings=19200,N,8,1", "PortOpen=1"}));
    EXPECT_TRUE(view.selected().empty()); // COM1 is not selected
    EXPECT_FALSE(serial.portOpen());
    EXPECT_EQ(window.log.back(), "Height=5350"); // the window itself is set up
}

TEST_F(Startup, ClicksAfterAFailedStartUpSayNothingWasSent)
{
    serial.setMissing(1);
    (void)panel.Form_Load();
    click("Command17");
    EXPECT_TRUE(serial.writes().empty());
    EXPECT_EQ(status(), " NOT SENT: COM1 is not open");
}

} // namespace
