// SPDX-License-Identifier: GPL-3.0-or-later
// A line that goes away and comes back, as the panel shows it: waiting,
// reopening at a pace that costs nothing, one box per outage in the panel's
// words, the line's state in the title, and F5.

#include <algorithm>

#include "panel_fixture.h"

namespace {

class LineKeeping : public PanelFixture {
protected:
    // Opening attempts made so far.
    long opens() const { return std::count(serial.log().begin(), serial.log().end(), "PortOpen=1"); }
    void unplug()
    {
        serial.setMissing(1);
        serial.vanish(failure(LineFailureKind::DeviceRemoved, "COM1 (/dev/ttyUSB0)"));
    }
    // A failure of `kind` as a real line names its port.
    LineFailure failure(LineFailureKind kind, std::string label)
    {
        LineFailure why = serial.failure(kind);
        why.label = std::move(label);
        why.port = 7001;
        return why;
    }
    LineFailure closedByFarEnd()
    {
        return failure(LineFailureKind::ConnectionClosed, "COM1 (tcp://127.0.0.1:7001)");
    }
};

TEST_F(LineKeeping, ALostDeviceIsWatchedForAndReopenedWhenItIsBack)
{
    load();
    unplug();
    EXPECT_EQ(messageBox.messages,
        Lines(
            {"COM1 (/dev/ttyUSB0): the device went away\n\nThe panel opens the port again by itself as soon "
             "as the device is back."}));
    EXPECT_TRUE(serial.watching());
    clock.advance(3000);
    EXPECT_FALSE(serial.portOpen());
    serial.setPresent(1);
    serial.raise(kCommEventDeviceChanged);
    EXPECT_TRUE(serial.portOpen());
    EXPECT_FALSE(serial.watching());
    EXPECT_EQ(status(), " COM1 is open again");
    EXPECT_EQ(messageBox.messages.size(), 1U);
    click("Command17");
    EXPECT_EQ(serial.writes().back(), "C00\r");
}

TEST_F(LineKeeping, WithoutAHintThePollFindsItAndWakesLessThanOnceASecond)
{
    load();
    unplug();
    clock.advance(10000);
    const long before = opens();
    clock.advance(10000);
    EXPECT_LT(opens() - before, 10);
    serial.setPresent(1);
    clock.advance(1500);
    EXPECT_TRUE(serial.portOpen());
    const long reopened = opens();
    clock.advance(10000);
    EXPECT_EQ(opens(), reopened); // no timer while open
    EXPECT_FALSE(reopenTimer->enabled());
}

TEST_F(LineKeeping, OneBoxPerOutageForCommandsThatCannotBeSent)
{
    load();
    unplug();
    for (const char *button : {"Command17", "Command18", "Command17"})
        click(button);
    ASSERT_EQ(messageBox.messages.size(), 2U);
    EXPECT_EQ(messageBox.messages[1],
        "Nothing was sent: COM1 is not open.\n\nCOM1 (/dev/ttyUSB0): the device went away. The panel opens "
        "the "
        "port again by itself as soon as the device is back. Until then commands are not sent.");
    EXPECT_EQ(status(), " NOT SENT: COM1 is not open");
    serial.setPresent(1);
    clock.advance(1500);
    unplug(); // gone again at once: the same outage
    click("Command17");
    EXPECT_EQ(messageBox.messages.size(), 2U);
    serial.setPresent(1);
    clock.advance(1500 + 3000); // back, and it stays
    unplug();                   // a second outage is told again
    click("Command17");
    EXPECT_EQ(messageBox.messages.size(), 4U);
}

TEST_F(LineKeeping, TheOutagesBoxClosesWhenTheLineIsBackAndAFlappingDeviceGivesNoSecondBox)
{
    load();
    unplug();
    ASSERT_EQ(messageBox.messages.size(), 1U);
    EXPECT_TRUE(messageBox.lineBoxOpen);
    serial.setPresent(1);
    serial.raise(kCommEventDeviceChanged);
    ASSERT_TRUE(serial.portOpen());
    EXPECT_FALSE(messageBox.lineBoxOpen) << "the box says the device went away; it is back";
    EXPECT_EQ(view.lineState(), "");
    // A device that opens and is gone again at once, twice within the
    // settling time: one outage, one box, and the device is watched for.
    for (int flap = 0; flap < 2; ++flap) {
        unplug();
        EXPECT_TRUE(serial.watching());
        clock.advance(1000);
        serial.setPresent(1);
        serial.raise(kCommEventDeviceChanged);
        ASSERT_TRUE(serial.portOpen());
    }
    EXPECT_EQ(messageBox.messages.size(), 1U);
    clock.advance(3000);
    EXPECT_EQ(panel.lineKeeper().phase(), LineKeeper::Phase::Open);
    unplug();
    EXPECT_EQ(messageBox.messages.size(), 2U);
}

TEST_F(LineKeeping, AStartUpFailureIsWaitedForToo)
{
    serial.setMissing(1);
    EXPECT_TRUE(panel.Form_Load().has_value());
    EXPECT_TRUE(serial.watching());
    serial.setPresent(1);
    clock.advance(1500);
    EXPECT_TRUE(serial.portOpen());
}

TEST_F(LineKeeping, ClosedOnPurposeOrByAFailedChoiceIsNeverReopened)
{
    load();
    serial.setMissing(2);
    click("Option2"); // failed choice: the user is choosing
    clock.advance(10000);
    EXPECT_EQ(opens(), 3); // start-up, COM1 at start-up, the choice
    EXPECT_FALSE(serial.watching());
    click("Command16"); // END
    EXPECT_EQ(endCalls, 1);
    clock.advance(10000);
    EXPECT_EQ(opens(), 3);
}

TEST_F(LineKeeping, AChoiceWhileWaitingEndsTheWait)
{
    load();
    unplug();
    serial.setPresent(1);
    click("Option1");
    EXPECT_TRUE(serial.portOpen());
    EXPECT_FALSE(reopenTimer->enabled());
    EXPECT_FALSE(serial.watching());
}

TEST_F(LineKeeping, ANetworkLineBacksOffUntilTheServerAnswers)
{
    serial.setKind(LineKind::Network);
    load();
    serial.connectNow();
    serial.dropConnection(closedByFarEnd());
    EXPECT_EQ(messageBox.messages.size(), 1U);
    EXPECT_FALSE(serial.watching()); // nothing to watch on a network
    // Each try connects and is refused; the gaps between them grow.
    std::vector<long> tries;
    for (int ms = 0; ms < 20000; ms += 10) {
        clock.advance(10);
        if (serial.portOpen()) {
            tries.push_back(ms);
            serial.dropConnection(failure(LineFailureKind::ConnectionRefused, "COM1 (tcp://127.0.0.1:7001)"));
        }
    }
    ASSERT_GE(tries.size(), 4U);
    EXPECT_GT(tries[3] - tries[2], tries[1] - tries[0]);
    EXPECT_EQ(messageBox.messages.size(), 1U); // refused tries are not told again
    clock.advance(10000);
    ASSERT_TRUE(serial.portOpen());
    serial.connectNow();
    EXPECT_EQ(status(), " COM1 is open again");
    // A server that takes the connection and drops it at once is no new outage.
    serial.dropConnection(closedByFarEnd());
    EXPECT_EQ(messageBox.messages.size(), 1U);
    clock.advance(10000);
    serial.connectNow();
    clock.advance(3000); // stayed up: the next drop is told again
    serial.dropConnection(closedByFarEnd());
    EXPECT_EQ(messageBox.messages.size(), 2U);
}

TEST_F(LineKeeping, ABoxStopsTheRepeatOfTheButtonItTookTheMouseFrom)
{
    load();
    press("Command15"); // zoom +, repeats every 50 ms
    clock.advance(120);
    unplug(); // the box takes the release
    EXPECT_FALSE(timer1->enabled());
    const auto sent = serial.writes().size();
    clock.advance(500);
    EXPECT_EQ(serial.writes().size(), sent);
}

TEST_F(LineKeeping, TheTitleShowsALineThatIsDownAndF5TriesItNow)
{
    serial.setMissing(1);
    ASSERT_TRUE(panel.Form_Load().has_value());
    EXPECT_EQ(view.lineState(), "COM1 waiting (F5 tries now)");
    clock.advance(10000);
    serial.setPresent(1);
    const long before = opens();
    panel.keyDown(kKeyF5, 0); // no wait for the next try
    EXPECT_EQ(opens(), before + 1);
    EXPECT_TRUE(serial.portOpen());
    EXPECT_EQ(view.lineState(), "");
    // Never open before: "opened", not "open again"; cleared as other texts are.
    EXPECT_EQ(status(), " COM1 opened");
    clock.advance(kTimer4Design);
    EXPECT_EQ(status(), "");
    unplug();
    serial.setPresent(1);
    serial.raise(kCommEventDeviceChanged);
    EXPECT_EQ(status(), " COM1 is open again");
}

TEST_F(LineKeeping, AFailedNetworkChoiceFallsBackLikeADeviceAndIsNotRetried)
{
    serial.setKind(LineKind::Network);
    load();
    serial.connectNow();
    const long before = opens();
    click("Option1"); // the line already connected: left as it is
    EXPECT_EQ(opens(), before);
    view.setVisible("Frame8", true); // the port settings are open
    click("Option2");
    EXPECT_TRUE(view.visible("Frame8")); // still choosing while it connects
    LineFailure refused = failure(LineFailureKind::ConnectionRefused, "COM2 (tcp://127.0.0.1:7002)");
    refused.port = 7002;
    serial.dropConnection(refused);
    ASSERT_EQ(messageBox.messages.size(), 1U);
    EXPECT_EQ(messageBox.messages[0],
        "COM2 (tcp://127.0.0.1:7002): the connection was refused (nothing listens on port 7002)");
    EXPECT_EQ(serial.port(), 1);
    EXPECT_TRUE(view.visible("Frame8"));
    const long afterChoice = opens();
    clock.advance(60000);
    EXPECT_EQ(opens(), afterChoice);
    EXPECT_EQ(view.lineState(), "COM1 closed");
    click("Option2");
    serial.connectNow();
    EXPECT_FALSE(view.visible("Frame8"));
    EXPECT_EQ(view.lineState(), "");
}

} // namespace
