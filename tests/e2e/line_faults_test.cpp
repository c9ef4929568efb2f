// The whole panel on a bare pseudo-terminal the test holds the far end of:
// an unplugged line, and every byte value in every split.

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QLabel>
#include <QEventLoop>
#include <QTest>
#include <QTimer>

#include <gtest/gtest.h>

#include <ctime>

#include "core/monitor_text.h"
#include "event_loop.h"
#include "pseudo_terminal.h"
#include "real_panel.h"

namespace {

double threadCpuMs()
{
    timespec now{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &now);
    return static_cast<double>(now.tv_sec) * 1000.0 + static_cast<double>(now.tv_nsec) / 1e6;
}

class LineFaults : public ::testing::Test {
protected:
    PseudoTerminal line;
    RealPanel real{line.devicePath()};
    Form1 &form = real.form;
    RecordingMessageBox &messageBox = real.messageBox;

    void SetUp() override { ASSERT_FALSE(real.start().has_value()); }
    QString caption(const char *label) { return qobject_cast<QLabel *>(form.control(label))->text(); }
};

TEST_F(LineFaults, AnUnpluggedLineIsReportedOnceWithoutSpinningAndLaterCommandsSayNotSent)
{
    line.closeFarEnd();
    runUntil([&] { return !messageBox.messages.empty(); });
    ASSERT_EQ(messageBox.messages.size(), 1U);
    EXPECT_NE(messageBox.messages[0].find(line.devicePath()), std::string::npos) << messageBox.messages[0];
    EXPECT_NE(messageBox.messages[0].find("lost"), std::string::npos) << messageBox.messages[0];

    // A hung-up line left open would keep the event loop busy; closed, it idles.
    const double cpuBefore = threadCpuMs();
    runFor(500);
    EXPECT_LT(threadCpuMs() - cpuBefore, 250.0) << "the window thread spins on the dead line";

    QTest::mouseClick(form.control("Command17"), Qt::LeftButton);
    EXPECT_EQ(caption("Label22"),
        QString::fromStdString(" NOT SENT: COM1 (" + line.devicePath() + ") is not open"));
    QTest::mousePress(form.control("Command15"), Qt::LeftButton);
    runFor(200);
    QTest::mouseRelease(form.control("Command15"), Qt::LeftButton);
    EXPECT_FALSE(real.timer1.enabled()) << "a press that sent nothing must not repeat";
    EXPECT_EQ(messageBox.messages.size(), 1U) << "told once, not once per command";
}

TEST_F(LineFaults, EveryByteValueInEverySplitReachesTheRxdLineRendered)
{
    std::string all;
    for (int code = 0; code < 256; ++code)
        all += static_cast<char>(code);
    const QString expected = QString::fromLatin1(monitorText(all));
    for (std::size_t split = 0; split <= all.size(); ++split) {
        // A hold button's release empties the receive buffer.
        QTest::mousePress(form.control("Command1"), Qt::LeftButton);
        QTest::mouseRelease(form.control("Command1"), Qt::LeftButton);
        line.read(50, 4);
        line.write(all.substr(0, split));
        if (split > 0)
            runUntil([&] { return caption("Label12").size() > 1; });
        line.write(all.substr(split));
        runUntil([&] { return caption("Label12") == expected; });
        ASSERT_EQ(caption("Label12"), expected) << "split at " << split;
    }
}

} // namespace
