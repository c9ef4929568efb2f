// SPDX-License-Identifier: GPL-3.0-or-later
// Reply watch, monitor clear and settings auto-hide, on the virtual clock.

#include "panel_fixture.h"

namespace {

using ReplyTimers = PanelFixture;

TEST_F(ReplyTimers, AnUnansweredQueryIsMarkedAt500AndBlankedAt1000)
{
    load();
    click("Command44");
    clock.advance(499);
    EXPECT_EQ(rxd(), "");
    clock.advance(1);
    EXPECT_EQ(rxd(), " X X X X");
    EXPECT_EQ(state().awaitingReply, 0);
    clock.advance(499);
    EXPECT_EQ(txd(), " C R 0 CR ");
    clock.advance(1);
    EXPECT_EQ(txd(), "");
    EXPECT_EQ(rxd(), "");
    EXPECT_EQ(status(), "");
    EXPECT_FALSE(timer2->enabled());
    EXPECT_FALSE(timer4->enabled());
}

TEST_F(ReplyTimers, AnAnsweredImageModeIsNotMarkedAndIsBlankedAt2500)
{
    load();
    click("Command10"); // REAL, profile 2000/2500
    clock.advance(1500);
    serial.feed("\x06");
    clock.advance(500);
    EXPECT_EQ(rxd(), " ACK ");
    EXPECT_EQ(state().receiveBuffer, "");
    clock.advance(499);
    EXPECT_EQ(rxd(), " ACK ");
    clock.advance(1);
    EXPECT_EQ(rxd(), "");
    EXPECT_EQ(txd(), "");
}

TEST_F(ReplyTimers, PiecesBeforeTheTickAreOneTextAPieceAfterItStandsAlone)
{
    load();
    click("Command44");
    serial.feed("8");
    clock.advance(100);
    serial.feed("0");
    EXPECT_EQ(rxd(), " 8 0 ");
    clock.advance(400); // Timer2 fires: the collection window ends
    serial.feed("\r");
    EXPECT_EQ(rxd(), " CR ");
}

TEST_F(ReplyTimers, TheStatusTextStaysUntilTheMonitorClear)
{
    load();
    click("Command44");
    serial.feed("00\r");
    clock.advance(999);
    EXPECT_EQ(status(), " Power ON");
    clock.advance(1);
    EXPECT_EQ(status(), "");
}

TEST_F(ReplyTimers, ACommandWithoutProfileRestartsTheWatchOfTheOneBefore)
{
    load();
    click("Command44");
    clock.advance(300);
    click("Command45"); // the watch starts again: its reply has a full 500 ms
    clock.advance(499);
    EXPECT_EQ(rxd(), "");
    serial.feed("1");
    clock.advance(1);
    EXPECT_EQ(rxd(), " 1 ");
    EXPECT_EQ(status(), " Input mode 1");
}

using SettingsAutoHide = PanelFixture;

TEST_F(SettingsAutoHide, TheSettingsFrameHidesItself5000msAfterCom)
{
    load();
    click("Command33");
    EXPECT_TRUE(view.visible("Frame8"));
    clock.advance(4999);
    EXPECT_TRUE(view.visible("Frame8"));
    clock.advance(1);
    EXPECT_FALSE(view.visible("Frame8"));
    EXPECT_FALSE(timer3->enabled());
}

TEST_F(SettingsAutoHide, APortChoiceHidesItAtOnceAndTheLaterTickChangesNothing)
{
    load();
    click("Command33");
    clock.advance(1000);
    click("Option2");
    EXPECT_FALSE(view.visible("Frame8"));
    EXPECT_TRUE(timer3->enabled());
    clock.advance(4000);
    EXPECT_FALSE(view.visible("Frame8"));
    EXPECT_FALSE(timer3->enabled());
}

// The window has a Timer5 that nothing arms: no tick may send on its own,
// power-on least of all.
TEST_F(SettingsAutoHide, NoTimerSendsOnItsOwn)
{
    load();
    click("Command17");
    clock.advance(60000);
    EXPECT_EQ(serial.writes(), Lines({"C00\r"}));
}

} // namespace
