// SPDX-License-Identifier: GPL-3.0-or-later
// Hyouji on a whole panel: what a transmission changes and what it leaves,
// replies in pieces, a second command before the first reply, and a failed write.

#include "panel_fixture.h"

#include "core/exchange.h"

namespace {

using Exchange_ = PanelFixture;

TEST_F(Exchange_, TransmissionSendsShowsAndArmsTheReplyTimers)
{
    load();
    click("Command44"); // STATUS
    EXPECT_EQ(serial.writes(), Lines({"CR0\r"}));
    EXPECT_EQ(txd(), " C R 0 CR ");
    EXPECT_EQ(state().awaitingReply, 1);
    EXPECT_TRUE(timer2->enabled());
    EXPECT_TRUE(timer4->enabled());
}

TEST_F(Exchange_, TransmissionLeavesRxdStatusAndBufferAsTheyWere)
{
    load();
    click("Command44");
    serial.feed("00\r");
    click("Command17");
    EXPECT_EQ(rxd(), " 0 0 CR ");
    EXPECT_EQ(status(), " Power ON");
    EXPECT_EQ(state().receiveBuffer, "00\r");
}

TEST_F(Exchange_, ReplyInPiecesIsEchoedAndDecodedOncePerPiece)
{
    load();
    click("Command44");
    serial.feed("0");
    EXPECT_EQ(rxd(), " 0 ");
    EXPECT_EQ(status(), "");
    serial.feed("0\r");
    EXPECT_EQ(rxd(), " 0 0 CR ");
    EXPECT_EQ(status(), " Power ON");
    EXPECT_EQ(state().awaitingReply, 0);
}

TEST_F(Exchange_, SecondCommandBeforeTheFirstReplyKeepsTheFirstReplyInFront)
{
    load();
    click("Command44");
    serial.feed("80\r");
    click("Command45"); // MODE, before Timer2 of the first has fired
    EXPECT_EQ(txd(), " C R 1 CR ");
    serial.feed("2\r");
    EXPECT_EQ(rxd(), " 8 0 CR 2 CR ");
    // the decoder reads the front of the buffer, the earlier reply
    EXPECT_EQ(status(), " Stand by");
}

TEST_F(Exchange_, FailedWriteChangesNothingAndSaysSoOnTheStatusLine)
{
    load();
    click("Command44");
    clock.advance(1000); // lines blanked, timers idle
    serial.failNext(ControlOp::Output, "COM1 (/dev/ttyS0) is not open");
    click("Command17");
    EXPECT_EQ(serial.writes(), Lines({"CR0\r"}));
    EXPECT_EQ(txd(), "");
    EXPECT_FALSE(timer2->enabled());
    EXPECT_FALSE(timer4->enabled());
    EXPECT_EQ(state().awaitingReply, 0);
    EXPECT_EQ(status(), " NOT SENT: COM1 (/dev/ttyS0) is not open");
    EXPECT_TRUE(messageBox.messages.empty()); // no box per click
}

TEST_F(Exchange_, AnAddressChangedBetweenQueryAndReplySelectsNoDecoder)
{
    load();
    click("Command44");
    click("Option5");
    serial.feed("00\r");
    EXPECT_EQ(rxd(), " 0 0 CR ");
    EXPECT_EQ(status(), "");
}

TEST(ExchangeKinds, AnyKindButOneTakesTheReceivePath)
{
    for (const std::uint8_t kind : {std::uint8_t{0}, std::uint8_t{2}, std::uint8_t{3}, std::uint8_t{255}}) {
        PanelState state;
        SerialDouble serial;
        RecordingView view;
        VirtualClock clock;
        auto timer2 = clock.createTimer(500);
        auto timer4 = clock.createTimer(1000);
        Exchange exchange(state, serial, view, *timer2, *timer4);
        state.commandText = "CR1\r";
        exchange.Hyouji("3\r", kind);
        EXPECT_EQ(view.caption("Label12"), " 3 CR ") << int(kind);
        EXPECT_EQ(view.caption("Label22"), " Input mode 3") << int(kind);
        EXPECT_TRUE(serial.writes().empty());
        EXPECT_FALSE(timer2->enabled());
    }
}

TEST(ExchangeRendering, ARenderedBufferThatWasReplacedIsRenderedAfresh)
{
    PanelState state;
    SerialDouble serial;
    RecordingView view;
    VirtualClock clock;
    auto timer2 = clock.createTimer(500);
    auto timer4 = clock.createTimer(1000);
    Exchange exchange(state, serial, view, *timer2, *timer4);
    exchange.Hyouji("AB", kReceive);
    exchange.Hyouji("ABC", kReceive);
    EXPECT_EQ(view.caption("Label12"), " A B C ");
    exchange.Hyouji("X", kReceive); // emptied, then a new arrival
    EXPECT_EQ(view.caption("Label12"), " X ");
    exchange.Hyouji("", kReceive);
    EXPECT_EQ(view.caption("Label12"), " ");
}

} // namespace
