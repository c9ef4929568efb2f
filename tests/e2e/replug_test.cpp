// SPDX-License-Identifier: GPL-3.0-or-later
// A real unplug and replug under the whole panel: the line comes back with
// no restart, also when the panel was started before it existed. And the
// program itself: ended by a signal it closes the port and leaves no lock.

#include <QDir>
#include <QFile>
#include <QLabel>
#include <QTemporaryDir>
#include <QProcess>
#include <QTest>

#include <gtest/gtest.h>

#include "event_loop.h"
#include "processes.h"
#include "pseudo_terminal.h"
#include "real_panel.h"
#include "serial/open_failure.h"
#include "serial_rig.h"

namespace {

class Replug : public ::testing::Test {
protected:
    SerialRig rig;
    RealPanel real{rig.panelEnd()};

    QString caption(const char *label) { return qobject_cast<QLabel *>(real.form.control(label))->text(); }
    // STATUS is answered and decoded: the line really works.
    bool statusAnswered()
    {
        QTest::mouseClick(real.form.control("Command44"), Qt::LeftButton);
        return runUntil([&] { return caption("Label22") == QStringLiteral(" Stand by"); }, 3000);
    }
};

TEST_F(Replug, TheLineComesBackWithoutARestart)
{
    ASSERT_TRUE(rig.plug());
    ASSERT_FALSE(real.start().has_value());
    ASSERT_TRUE(statusAnswered()) << caption("Label22").toStdString();
    EXPECT_TRUE(rig.unplug()) << "qv550-sim idles on after its line hung up";
    ASSERT_TRUE(runUntil([&] { return !real.messageBox.messages.empty(); }, 3000));
    EXPECT_FALSE(real.serial.portOpen());
    ASSERT_TRUE(rig.plug());
    ASSERT_TRUE(runUntil([&] { return real.serial.portOpen(); }, 2000)) << "not reopened within 2 s";
    EXPECT_EQ(caption("Label22").toStdString(), " COM1 (" + rig.panelEnd() + ") is open again");
    runFor(kTimer4Design + 100); // the status line is blanked again
    EXPECT_TRUE(statusAnswered()) << caption("Label22").toStdString();
    EXPECT_EQ(real.messageBox.messages.size(), 1U);
}

TEST_F(Replug, APanelStartedBeforeTheLineExistsOpensItWhenItAppears)
{
    const auto failure = real.start();
    ASSERT_TRUE(failure.has_value());
    EXPECT_NE(failure->find("keeps trying"), std::string::npos) << *failure;
    runFor(300);
    ASSERT_TRUE(rig.plug());
    ASSERT_TRUE(runUntil([&] { return real.serial.portOpen(); }, 2000));
    EXPECT_TRUE(statusAnswered()) << caption("Label22").toStdString();
}

struct QuitSignal {
    const char *name;
    int number;
};

TEST(ProgramEnd, ASignalClosesThePortAndLeavesNoLockFile)
{
    for (const QuitSignal &quit : {QuitSignal{"SIGTERM", SIGTERM}, {"SIGINT", SIGINT}, {"SIGHUP", SIGHUP}}) {
        PseudoTerminal line;
        QProcess panel;
        panel.setProcessEnvironment(offscreenEnvironment());
        panel.start(QStringLiteral(PANEL_BINARY_DIR "/bin/qv550-control"),
            {QString::fromStdString(line.devicePath())});
        ASSERT_TRUE(runUntil([&] { return !existingLockFile(line.devicePath()).empty(); }, 5000))
            << quit.name;
        ASSERT_GT(panel.processId(), 0) << quit.name; // kill(0) would signal the whole test run
        ::kill(static_cast<pid_t>(panel.processId()), quit.number);
        ASSERT_TRUE(panel.waitForFinished(5000)) << quit.name;
        EXPECT_EQ(panel.exitStatus(), QProcess::NormalExit) << quit.name;
        EXPECT_EQ(existingLockFile(line.devicePath()), "") << quit.name;
    }
}

TEST(ProgramEnd, APanelStartedWithoutOptionsOpensThePortTheMappingNames)
{
    PseudoTerminal line;
    QTemporaryDir config;
    QDir().mkpath(config.filePath(QStringLiteral("qv550-control")));
    QFile file(config.filePath(QStringLiteral("qv550-control/ports.conf")));
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.write(QByteArray("COM1=") + QByteArray::fromStdString(line.devicePath()) + '\n');
    file.close();
    QProcess panel;
    QProcessEnvironment environment = offscreenEnvironment();
    environment.insert(QStringLiteral("XDG_CONFIG_HOME"), config.path());
    panel.setProcessEnvironment(environment);
    panel.start(QStringLiteral(PANEL_BINARY_DIR "/bin/qv550-control"), {});
    EXPECT_TRUE(runUntil([&] { return !existingLockFile(line.devicePath()).empty(); }, 5000));
    stopProcess(panel);
}

TEST(ProgramEnd, TwoDeviceArgumentsAreAUsageErrorNotIgnored)
{
    QProcess panel;
    panel.setProcessEnvironment(offscreenEnvironment());
    panel.start(QStringLiteral(PANEL_BINARY_DIR "/bin/qv550-control"),
        {QStringLiteral("/dev/ttyUSB0"), QStringLiteral("/dev/ttyUSB1")});
    ASSERT_TRUE(panel.waitForFinished(5000));
    EXPECT_EQ(panel.exitCode(), 2);
    EXPECT_NE(panel.readAllStandardError().indexOf("either as --com1 DEVICE or as DEVICE"), -1);
}

} // namespace
