// SPDX-License-Identifier: GPL-3.0-or-later
// The whole panel on a bare pseudo-terminal the test holds the far end of:
// an unplugged line, and every byte value in every split.

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QLabel>
#include <QEventLoop>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

#include <gtest/gtest.h>

#include <atomic>
#include <ctime>
#include <thread>
#include <fcntl.h>
#include <poll.h>
#include <unistd.h>

#include "core/monitor_text.h"
#include "event_loop.h"
#include "pseudo_terminal.h"
#include "real_panel.h"

namespace {

class LineFaults : public ::testing::Test {
protected:
    PseudoTerminal line;
    // The panel opens the line through a link of its own, which goes with an
    // unplug: the pseudo-terminal's number is soon given to another test's
    // line, which the waiting panel would rightly open again.
    QTemporaryDir folder;
    std::string link = [this] {
        const std::string path = folder.filePath(QStringLiteral("ttyPanel")).toStdString();
        if (::symlink(line.devicePath().c_str(), path.c_str()) != 0)
            ADD_FAILURE() << "no link to the line";
        return path;
    }();
    RealPanel real{link};
    Form1 &form = real.form;
    RecordingMessageBox &messageBox = real.messageBox;

    void SetUp() override
    {
        const auto failure = real.start();
        ASSERT_FALSE(failure.has_value()) << *failure;
    }
    void unplug()
    {
        line.closeFarEnd();
        ::unlink(link.c_str());
    }
    QString caption(const char *label) { return qobject_cast<QLabel *>(form.control(label))->text(); }
};

TEST_F(LineFaults, AnUnpluggedLineIsReportedOnceWithoutSpinningAndLaterCommandsSayNotSent)
{
    unplug();
    runUntil([&] { return !messageBox.messages.empty(); });
    ASSERT_EQ(messageBox.messages.size(), 1U);
    EXPECT_NE(messageBox.messages[0].find(link), std::string::npos) << messageBox.messages[0];
    EXPECT_NE(messageBox.messages[0].find("went away"), std::string::npos) << messageBox.messages[0];

    // A hung-up line left open would keep the event loop busy; closed, it idles.
    const double cpuBefore = threadCpuMs();
    runFor(500);
    EXPECT_LT(threadCpuMs() - cpuBefore, 250.0) << "the window thread spins on the dead line";

    QTest::mouseClick(form.control("Command17"), Qt::LeftButton);
    EXPECT_EQ(caption("Label22"), QString::fromStdString(" NOT SENT: COM1 (" + link + ") is not open"));
    QTest::mousePress(form.control("Command15"), Qt::LeftButton);
    runFor(200);
    QTest::mouseRelease(form.control("Command15"), Qt::LeftButton);
    EXPECT_FALSE(real.timer1.enabled()) << "a press that sent nothing must not repeat";
    // The loss, and the first command that could not be sent; no more.
    EXPECT_EQ(messageBox.messages.size(), 2U) << "told once, not once per command";
}

TEST_F(LineFaults, ASecondReaderTakingTheBytesIsNoLostLine)
{
    // Another program reading the same device makes the panel's reads come
    // back empty now and then; only a hang-up closes the port.
    const int other = ::open(line.devicePath().c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK);
    ASSERT_GE(other, 0);
    // A blocking reader on its own thread races the panel for every burst.
    std::atomic<bool> done{false};
    std::thread reader([&] {
        char sink[64];
        pollfd readable{other, POLLIN, 0};
        while (!done) {
            if (::poll(&readable, 1, 20) == 1)
                (void)!::read(other, sink, sizeof sink);
        }
    });
    for (int burst = 0; burst < 300; ++burst) {
        line.write("80\r");
        runFor(2);
    }
    done = true;
    reader.join();
    ::close(other);
    EXPECT_TRUE(real.serial.portOpen());
    EXPECT_TRUE(messageBox.messages.empty());
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
