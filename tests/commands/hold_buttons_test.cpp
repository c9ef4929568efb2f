// SPDX-License-Identifier: GPL-3.0-or-later
// Press-and-hold: what is sent at the press and on each tick, the intervals
// each press sets and when, and what a release undoes.

#include "panel_fixture.h"

#include "commands/hold_buttons.h"

namespace {

using HoldButtons_ = PanelFixture;

TEST_F(HoldButtons_, ZoomHeld200msSendsThePressLineAndOnePerTick)
{
    load();
    press("Command15");
    clock.advance(200);
    release("Command15");
    EXPECT_EQ(serial.writes(), Lines({"C47\r", "C47\r", "C47\r", "C47\r", "C47\r"}));
}

TEST_F(HoldButtons_, EveryLineIsBuiltAfreshWithTheAddressOfItsMoment)
{
    load();
    press("Command61");
    clock.advance(50);
    click("Option5");
    clock.advance(50);
    release("Command61");
    EXPECT_EQ(serial.writes(), Lines({"C60\r", "C60\r", "A001C60\r"}));
}

TEST_F(HoldButtons_, AQuickVolumeClickSendsOnce)
{
    load();
    press("Command2");
    clock.advance(249);
    release("Command2");
    clock.advance(2000);
    EXPECT_EQ(serial.writes(), Lines({"C0A\r"}));
}

struct HoldCase {
    const char *control;
    const char *code;
    int period;
};

void PrintTo(const HoldCase &c, std::ostream *os)
{
    *os << c.control << " every " << c.period << " ms";
}

class HoldPeriods : public PanelFixture, public ::testing::WithParamInterface<HoldCase> { };

TEST_P(HoldPeriods, EachHoldButtonRepeatsItsCodeAtItsPeriod)
{
    load();
    press(GetParam().control);
    clock.advance(GetParam().period * 4);
    release(GetParam().control);
    EXPECT_EQ(serial.writes(), Lines(5, std::string(GetParam().code) + "\r"));
}

INSTANTIATE_TEST_SUITE_P(Table, HoldPeriods,
    ::testing::Values(HoldCase{"Command1", "C09", 250}, HoldCase{"Command2", "C0A", 250},
        HoldCase{"Command15", "C47", 50}, HoldCase{"Command35", "C46", 50}, HoldCase{"Command36", "C4B", 50},
        HoldCase{"Command37", "C4A", 50}, HoldCase{"Command6", "C3F", 500}, HoldCase{"Command59", "C5D", 50},
        HoldCase{"Command62", "C5E", 50}, HoldCase{"Command60", "C5F", 50}, HoldCase{"Command61", "C60", 50},
        // the arrows repeat at the design 200 ms right after start-up
        HoldCase{"Command5", "C3C", 200}, HoldCase{"Command7", "C3D", 200}, HoldCase{"Command9", "C3B", 200},
        HoldCase{"Command8", "C3A", 200}));

TEST_F(HoldButtons_, PressesSetTheReplyIntervalsAfterSending)
{
    load();
    press("Command1");
    EXPECT_EQ(timer1->interval(), 250);
    EXPECT_EQ(timer2->interval(), 200);
    EXPECT_EQ(timer4->interval(), 245);
    clock.advance(200);
    EXPECT_EQ(rxd(), " X X X X"); // the reply watch ran at the press's 200 ms
}

TEST_F(HoldButtons_, ACursorArrowAfterStartUpLeavesTheReplyIntervalsAlone)
{
    load();
    press("Command5");
    EXPECT_EQ(timer2->interval(), 500);
    EXPECT_EQ(timer4->interval(), 1000);
    EXPECT_EQ(timer1->interval(), 200);
    release("Command5");
}

TEST_F(HoldButtons_, ACursorArrowAfterALensShiftRepeatsEvery50ms)
{
    load();
    press("Command59");
    release("Command59");
    press("Command9");
    clock.advance(100);
    release("Command9");
    EXPECT_EQ(serial.writes(), Lines({"C5D\r", "C3B\r", "C3B\r", "C3B\r"}));
}

TEST_F(HoldButtons_, InCursorPadModeTheArrowsSetTheWatchBeforeSendingAndRepeatAt200)
{
    load();
    click("Command13"); // A-IMAGE
    press("Command8");
    EXPECT_EQ(timer2->interval(), 150);
    EXPECT_EQ(timer4->interval(), 190);
    clock.advance(150);
    EXPECT_EQ(rxd(), " X X X X");
    clock.advance(50);
    EXPECT_EQ(serial.writes(), Lines({"C89\r", "C3A\r", "C3A\r"}));
    release("Command8");
}

TEST_F(HoldButtons_, AReleaseStopsEverythingSendsNothingAndBlanksOnceMoreAfter1000ms)
{
    load();
    click("Command44");
    serial.feed("0");
    press("Command36");
    clock.advance(10);
    release("Command36");
    EXPECT_EQ(txd(), "");
    EXPECT_EQ(rxd(), "");
    EXPECT_EQ(state().receiveBuffer, "");
    EXPECT_EQ(state().repeatKey, 0);
    EXPECT_FALSE(timer1->enabled());
    EXPECT_FALSE(timer2->enabled());
    EXPECT_EQ(timer2->interval(), 500);
    EXPECT_EQ(timer4->interval(), 1000);
    serial.feed("\r"); // a late reply is echoed without what came before
    EXPECT_EQ(rxd(), " CR ");
    clock.advance(999);
    EXPECT_EQ(rxd(), " CR ");
    clock.advance(1);
    EXPECT_EQ(rxd(), "");
    EXPECT_EQ(serial.writes(), Lines({"CR0\r", "C4B\r"}));
}

TEST_F(HoldButtons_, AReleaseDuringAReplyWatchShowsNoMark)
{
    load();
    press("Command1");
    release("Command1");
    clock.advance(5000);
    EXPECT_NE(rxd(), " X X X X");
}

TEST_F(HoldButtons_, SelectsReleaseLeavesKey14AndStillSendsNoMore)
{
    load();
    press("Command6");
    release("Command6");
    EXPECT_EQ(state().repeatKey, 14);
    clock.advance(3000);
    EXPECT_EQ(serial.writes(), Lines({"C3F\r"}));
}

TEST_F(HoldButtons_, APressThatCannotSendStartsNoRepetition)
{
    load();
    serial.failNext(ControlOp::Output, "COM1 is not open");
    press("Command15");
    clock.advance(500);
    EXPECT_FALSE(timer1->enabled());
    EXPECT_TRUE(serial.writes().empty());
    EXPECT_EQ(status(), " NOT SENT: COM1 is not open");
    EXPECT_TRUE(messageBox.messages.empty());
}

TEST_P(HoldPeriods, AKeyHoldsAsTheMouseDoesAndItsOwnRepeatsAddNothing)
{
    load();
    const std::string control = GetParam().control;
    panel.holdKeyDown(control, false);
    for (int tick = 0; tick < 4; ++tick) {
        clock.advance(GetParam().period / 2);
        panel.holdKeyUp(control, true); // the keyboard's repeat: a release and a press
        panel.holdKeyDown(control, true);
        panel.holdKeyDown(control, false); // Enter pressed while Space holds it
        clock.advance(GetParam().period - GetParam().period / 2);
    }
    panel.holdKeyUp(control, false);
    clock.advance(GetParam().period * 4);
    EXPECT_EQ(serial.writes(), Lines(5, std::string(GetParam().code) + "\r"));
    EXPECT_FALSE(timer1->enabled());
}

TEST_P(HoldPeriods, AnAssistiveStepSendsOnce)
{
    load();
    panel.holdStep(GetParam().control);
    clock.advance(GetParam().period * 4);
    EXPECT_EQ(serial.writes(), Lines(1, std::string(GetParam().code) + "\r"));
}

TEST_F(HoldButtons_, AKeyHoldLetsGoWithTheFocusAndAnotherButtonsReleaseIsNotItsOwn)
{
    load();
    panel.holdKeyDown("Command15", false);
    panel.holdKeyUp("Command35", false); // not the held button
    clock.advance(50);
    EXPECT_EQ(serial.writes().size(), 2U);
    panel.releaseHeld(); // the focus went elsewhere
    clock.advance(500);
    panel.holdKeyUp("Command15", false); // its key comes up afterwards
    EXPECT_EQ(serial.writes(), Lines(2, "C47\r"));
    panel.holdKeyDown("Command1", false); // a new hold ends the one before
    panel.holdKeyDown("Command2", false);
    clock.advance(250);
    panel.holdKeyUp("Command2", false);
    EXPECT_EQ(serial.writes(), Lines({"C47\r", "C47\r", "C09\r", "C0A\r", "C0A\r"}));
}

TEST(RepeatTable, EveryKeyAPressSetsRepeatsThatPresssCode)
{
    for (const HoldButton &button : kHoldButtons) {
        int found = 0;
        for (const RepeatEntry &entry : kRepeatTable) {
            if (entry.key == button.key) {
                EXPECT_EQ(entry.code, button.code) << button.control;
                ++found;
            }
        }
        EXPECT_EQ(found, 1) << button.control;
    }
}

} // namespace
