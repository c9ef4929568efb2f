// SPDX-License-Identifier: GPL-3.0-or-later
// The whole panel in one process with everything real but the screen: the
// window (offscreen), QTimer timers, the QSerialPort control, and the
// simulated projector on a real pseudo-terminal.

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QLabel>
#include <QTest>

#include <gtest/gtest.h>

#include "event_loop.h"
#include "real_panel.h"
#include "simulator/simulated_projector.h"
#include "ui/fonts.h"

namespace {

class LivePanel : public ::testing::Test {
protected:
    explicit LivePanel(SimOptions options = {}) : options_(options) { }

    SimOptions options_;
    std::string error;
    std::unique_ptr<SimulatedProjector> projector = SimulatedProjector::onNewPseudoTerminal(options_, error);
    RealPanel real{projector ? projector->devicePath() : std::string("/nonexistent")};
    Form1 &form = real.form;
    RecordingMessageBox &messageBox = real.messageBox;

    void SetUp() override
    {
        ASSERT_TRUE(projector) << error;
        installFontSubstitutes();
        const auto failure = real.start();
        ASSERT_FALSE(failure.has_value()) << *failure;
    }
    // Lets the reply watch of the last command run out.
    void settle() { runFor(kTimer2Design + 100); }
    QString caption(const char *label) { return qobject_cast<QLabel *>(form.control(label))->text(); }
    void click(const char *button) { QTest::mouseClick(form.control(button), Qt::LeftButton); }
    // Waits, with the event loop running, until `label` shows `text`.
    bool waitFor(const char *label, const QString &text, int milliseconds = 2000)
    {
        return runUntil([&] { return caption(label) == text; }, milliseconds);
    }
};

TEST_F(LivePanel, StatusQueriesShowTheirDecodedTexts)
{
    click("Command44");
    EXPECT_TRUE(waitFor("Label22", QStringLiteral(" Stand by"))) << caption("Label22").toStdString();
    click("Command17");
    settle(); // the reply watch of ON collects its ACK, then ends
    click("Command44");
    EXPECT_TRUE(waitFor("Label22", QStringLiteral(" Count down"))) << caption("Label22").toStdString();
    settle();
    click("Command99");
    EXPECT_TRUE(waitFor("Label22", QStringLiteral("650 hPa"))) << caption("Label22").toStdString();
    settle();
    click("Command55");
    EXPECT_TRUE(waitFor("Label22", QStringLiteral(" All OFF : 4 Lamp mode")))
        << caption("Label22").toStdString();
    settle();
    click("Command54");
    EXPECT_TRUE(waitFor("Label22", QStringLiteral("  S1= + 2 5 . 5 C  ,   S2=  3 1 . 0 C")))
        << caption("Label22").toStdString();
    EXPECT_TRUE(waitFor("Label22", QString(), 3000)) << "the monitor clear did not run";
    EXPECT_TRUE(messageBox.messages.empty());
}

TEST_F(LivePanel, AQuerySentBeforeTheLastReplyWatchEndedReadsThatReplyFirst)
{
    click("Command17");
    click("Command44"); // at once: the ACK of ON is still at the front of the buffer
    EXPECT_TRUE(waitFor("Label12", QStringLiteral(" ACK 4 0 CR ")));
    EXPECT_EQ(caption("Label22"), QString());
}

class SilentProjector : public LivePanel {
protected:
    SilentProjector()
        : LivePanel([] {
              SimOptions options;
              options.silent = true;
              return options;
          }())
    { }
};

TEST_F(SilentProjector, AnUnansweredQueryIsMarkedAndThenBlanked)
{
    click("Command45");
    EXPECT_TRUE(waitFor("Label12", QStringLiteral(" X X X X")));
    EXPECT_TRUE(waitFor("Label11", QString()));
    EXPECT_EQ(caption("Label12"), QString());
}

class SlowProjector : public LivePanel {
protected:
    SlowProjector()
        : LivePanel([] {
              SimOptions options;
              options.replyDelayMs = 50;
              options.pieceSize = 1;
              options.pieceGapMs = 20;
              return options;
          }())
    { }
};

TEST_F(SlowProjector, AReplyInPiecesIsEchoedGrowingAndDecodedWhenComplete)
{
    click("Command47"); // SETTING: "11" + CR in three pieces
    EXPECT_TRUE(waitFor("Label12", QStringLiteral(" 1 ")));
    EXPECT_EQ(caption("Label22"), QString());
    EXPECT_TRUE(waitFor("Label12", QStringLiteral(" 1 1 CR ")));
    EXPECT_EQ(caption("Label22"), QStringLiteral(" Normally"));
}

} // namespace
