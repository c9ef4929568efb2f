// SPDX-License-Identifier: GPL-3.0-or-later
// The port change sequence, the speed choice and the receive event.

#include "panel_fixture.h"

namespace {

using PortChoice = PanelFixture;

TEST_F(PortChoice, Com2WhileOpenClosesSwitchesAndReopens)
{
    load();
    click("Command33"); // COM shows the settings
    const auto before = serial.log().size();
    click("Option2");
    EXPECT_EQ(Lines(serial.log().begin() + static_cast<long>(before), serial.log().end()),
        Lines({"PortOpen=0", "CommPort=2", "PortOpen=1"}));
    EXPECT_TRUE(serial.portOpen());
    EXPECT_EQ(serial.port(), 2);
    EXPECT_FALSE(view.visible("Frame8"));
    EXPECT_TRUE(messageBox.messages.empty());
}

TEST_F(PortChoice, AMissingPortWarnsWithItsDescriptionAndFallsBack)
{
    load();
    serial.setMissing(2);
    click("Command33");
    click("Option2");
    EXPECT_EQ(messageBox.messages, Lines({"COM2: no such device (No such file or directory)"}));
    EXPECT_FALSE(serial.portOpen());
    EXPECT_EQ(serial.port(), 1);
    EXPECT_TRUE(view.visible("Frame8"));
}

TEST_F(PortChoice, AChoiceOnAClosedPortOpensIt)
{
    load();
    serial.setMissing(2);
    click("Option2"); // fails: closed, on the fallback number
    messageBox.messages.clear();
    click("Command33");
    click("Option2"); // still missing: told again, the frame stays
    EXPECT_EQ(messageBox.messages, Lines({"COM2: no such device (No such file or directory)"}));
    EXPECT_TRUE(view.visible("Frame8"));
    EXPECT_EQ(serial.port(), 1);
    serial.setPresent(2);
    click("Option2");
    EXPECT_TRUE(serial.portOpen());
    EXPECT_EQ(serial.port(), 2);
    EXPECT_FALSE(view.visible("Frame8"));
    EXPECT_EQ(messageBox.messages.size(), 1U);
}

TEST_F(PortChoice, TheLatestOfSeveralFailuresIsTheOneShown)
{
    load();
    serial.failNext(ControlOp::PortOpen, "close failed");
    serial.failNext(ControlOp::CommPort, "number refused");
    click("Option2");
    EXPECT_EQ(messageBox.messages, Lines({"number refused"}));
    // no re-opening after a failure; the fallback is set after the box
    EXPECT_EQ(serial.log().back(), "CommPort=1");
}

TEST_F(PortChoice, Speed9600KeepsThePortOpen)
{
    load();
    click("Command33");
    click("Option10");
    EXPECT_EQ(state().commSettings, "9600,N,8,1");
    EXPECT_EQ(serial.settings(), "9600,N,8,1");
    EXPECT_TRUE(serial.portOpen());
    EXPECT_EQ(serial.log().back(), "Settings=9600,N,8,1");
    EXPECT_FALSE(view.visible("Frame8"));
    click("Option9");
    EXPECT_EQ(serial.settings(), "19200,N,8,1");
}

TEST_F(PortChoice, AFailedSpeedWriteIsReportedAndKeepsTheNewText)
{
    load();
    click("Command33");
    serial.failNext(ControlOp::Settings, "speed refused");
    click("Option10");
    EXPECT_EQ(messageBox.messages, Lines({"speed refused"}));
    EXPECT_EQ(state().commSettings, "9600,N,8,1");
    EXPECT_TRUE(view.visible("Frame8"));
}

using ReceiveEvent = PanelFixture;

TEST_F(ReceiveEvent, OtherEventKindsChangeNothing)
{
    load();
    click("Command44");
    serial.raise(1001);
    EXPECT_EQ(state().awaitingReply, 1);
    EXPECT_EQ(state().receiveBuffer, "");
    EXPECT_EQ(rxd(), "");
}

TEST_F(ReceiveEvent, AnEmptyInputStillClearsTheWaitAndEchoes)
{
    load();
    click("Command44");
    serial.raise(kCommEventReceive);
    EXPECT_EQ(state().awaitingReply, 0);
    EXPECT_EQ(rxd(), " ");
}

TEST_F(ReceiveEvent, EveryByteValueIsKeptAsOneCharacter)
{
    load();
    std::string all;
    for (int code = 0; code < 256; ++code)
        all += static_cast<char>(code);
    serial.feed(all.substr(0, 100));
    serial.feed(all.substr(100));
    EXPECT_EQ(state().receiveBuffer, all);
}

TEST_F(ReceiveEvent, TheBufferStopsGrowingAtItsLimitAndKeepsTheFront)
{
    load();
    click("Command44");
    serial.feed("00");
    serial.feed(std::string(40000, 'x'));
    EXPECT_EQ(state().receiveBuffer.size(), kReceiveBufferLimit);
    EXPECT_EQ(state().receiveBuffer.substr(0, 3), "00x");
    EXPECT_EQ(panel.portLink().droppedBytes(), 40002U - kReceiveBufferLimit);
    EXPECT_EQ(status(), " Power ON");
    EXPECT_EQ(rxd().size(), 1 + 2 * kReceiveBufferLimit);
    // the next exchange starts a fresh buffer
    clock.advance(500);
    serial.feed("80");
    EXPECT_EQ(state().receiveBuffer, "80");
}

TEST_F(ReceiveEvent, ALostLineIsReportedOnceWithItsDescription)
{
    load();
    serial.vanish("COM1 (/dev/ttyUSB0): the line was lost");
    EXPECT_EQ(messageBox.messages,
        Lines({"COM1 (/dev/ttyUSB0): the line was lost\n\nThe panel opens the port "
               "again by itself as soon as the device is back."}));
}

} // namespace
