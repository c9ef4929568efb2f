// SPDX-License-Identifier: GPL-3.0-or-later
// The QSerialPort control on a real pseudo-terminal: bytes both ways
// unchanged, failures described, speed changes, and an unplugged line.

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QProcess>

#include <gtest/gtest.h>

#include <functional>

#include "event_loop.h"
#include "pseudo_terminal.h"
#include "serial/qt_serial_control.h"

namespace {

class QtSerial : public ::testing::Test {
protected:
    PseudoTerminal pty;
    DeviceMap devices = [this] {
        DeviceMap map;
        map.setDevice(1, pty.devicePath());
        map.setDevice(2, "/dev/qv550-test-no-such-device");
        return map;
    }();
    QtSerialControl port{devices};
    std::string received;
    std::vector<std::int16_t> events;

    void SetUp() override
    {
        port.setOnComm([this] {
            events.push_back(port.commEvent());
            if (port.commEvent() == kCommEventReceive)
                received += port.input();
        });
    }
    void open()
    {
        port.setCommPort(1);
        port.setSettings("19200,N,8,1");
        port.setPortOpen(true);
    }
};

TEST_F(QtSerial, OutputArrivesAtTheFarEndUnchanged)
{
    open();
    std::string line = "A001C00\r";
    port.setOutput(line);
    EXPECT_EQ(pty.read(2000, line.size()), line);
    std::string all;
    for (int code = 0; code < 256; ++code)
        all += static_cast<char>(code);
    port.setOutput(all);
    EXPECT_EQ(pty.read(2000, all.size()), all);
}

TEST_F(QtSerial, BytesFromTheFarEndComeBackThroughOnCommAndInput)
{
    open();
    pty.write("00\r");
    ASSERT_TRUE(runUntil([&] { return received.size() >= 3; }));
    EXPECT_EQ(received, "00\r");
    EXPECT_EQ(events.front(), kCommEventReceive);
}

TEST_F(QtSerial, EveryByteValueInEverySplitArrivesWhole)
{
    open();
    std::string all;
    for (int code = 0; code < 256; ++code)
        all += static_cast<char>(code);
    for (std::size_t split = 0; split <= all.size(); split += 17) {
        received.clear();
        pty.write(all.substr(0, split));
        QCoreApplication::processEvents();
        pty.write(all.substr(split));
        ASSERT_TRUE(runUntil([&] { return received.size() >= all.size(); })) << split;
        EXPECT_EQ(received, all) << "split at " << split;
    }
}

TEST_F(QtSerial, AMissingDeviceFailsWithADescription)
{
    port.setCommPort(2);
    try {
        port.setPortOpen(true);
        FAIL() << "opened a device that does not exist";
    } catch (const ControlError &error) {
        EXPECT_EQ(error.op(), ControlOp::PortOpen);
        EXPECT_NE(error.description().find("COM2 (/dev/qv550-test-no-such-device)"), std::string::npos)
            << error.description();
        EXPECT_NE(error.description().find("no such device"), std::string::npos) << error.description();
    }
    EXPECT_FALSE(port.portOpen());
}

TEST_F(QtSerial, UnparsableSettingsAreRefusedNotDefaulted)
{
    EXPECT_THROW(port.setSettings("19200,N,8"), ControlError);
    EXPECT_THROW(port.setCommPort(3), ControlError);
}

TEST_F(QtSerial, ASpeedChangeOnAnOpenPortKeepsItOpen)
{
    open();
    port.setSettings("9600,N,8,1");
    EXPECT_TRUE(port.portOpen());
    port.setOutput("CR0\r");
    EXPECT_EQ(pty.read(2000, 4), "CR0\r");
}

TEST_F(QtSerial, ThePortNumberCannotChangeWhileOpen)
{
    open();
    EXPECT_THROW(port.setCommPort(2), ControlError);
    port.setPortOpen(false);
    EXPECT_NO_THROW(port.setCommPort(2));
}

TEST_F(QtSerial, WritingToAClosedPortFailsAndSaysWhichPort)
{
    try {
        port.setOutput("C00\r");
        FAIL() << "wrote to a closed port";
    } catch (const ControlError &error) {
        EXPECT_EQ(error.op(), ControlOp::Output);
        EXPECT_NE(error.description().find("is not open"), std::string::npos);
    }
}

TEST_F(QtSerial, AVanishedFarEndClosesThePortAndIsReportedOnce)
{
    open();
    pty.closeFarEnd();
    ASSERT_TRUE(runUntil([&] { return !events.empty(); }));
    runFor(300); // anything more would arrive now
    EXPECT_EQ(events, std::vector<std::int16_t>({kCommEventLineLost}));
    EXPECT_FALSE(port.portOpen());
    EXPECT_NE(port.lostLineDescription().find(pty.devicePath()), std::string::npos);
    EXPECT_THROW(port.setOutput("C00\r"), ControlError);
}

TEST_F(QtSerial, ADeviceHeldByAnotherProgramNamesThatProgram)
{
    QProcess holder;
    holder.start(QCoreApplication::applicationFilePath(),
        {QStringLiteral("--hold-device"), QString::fromStdString(pty.devicePath())});
    ASSERT_TRUE(holder.waitForReadyRead(5000));
    ASSERT_EQ(holder.readLine().trimmed(), "held");
    try {
        open();
        FAIL() << "opened a device another program holds";
    } catch (const ControlError &error) {
        const std::string expected
            = "is in use by pty_tests (process " + std::to_string(holder.processId()) + ")";
        EXPECT_NE(error.description().find(expected), std::string::npos) << error.description();
    }
    holder.closeWriteChannel();
    ASSERT_TRUE(holder.waitForFinished(5000));
    EXPECT_NO_THROW(open());
}

TEST(OpenFailures, EachCauseSaysWhatWouldReallyFixIt)
{
    // A failure of `problem`, with what was found out filled in by `found`.
    const auto failure = [](OpenFailure::Problem problem, auto found) {
        OpenFailure f;
        f.label = "COM1 (/dev/ttyUSB0)";
        f.problem = problem;
        f.device = "/dev/ttyUSB0";
        found(f);
        return f;
    };
    struct Case {
        OpenFailure failure;
        std::string expected;
    };
    const std::vector<Case> cases = {
        {failure(OpenFailure::Missing, [](OpenFailure &f) { f.reason = "No such file or directory"; }),
            "COM1 (/dev/ttyUSB0): no such device (No such file or directory)"},
        {failure(OpenFailure::Refused,
             [](OpenFailure &f) {
                 f.accessible = false;
                 f.owner = "root";
                 f.group = "dialout";
                 f.mode = 0660;
             }),
            "COM1 (/dev/ttyUSB0): permission denied: only root and the group 'dialout' may open it (rw-rw----). "
            "Add your user to that group (sudo usermod -aG dialout $USER) and log in again; or, until the device "
            "is plugged in again: sudo chown $USER /dev/ttyUSB0."},
        // A root-only device: joining a group would not help.
        {failure(OpenFailure::Refused,
             [](OpenFailure &f) {
                 f.accessible = false;
                 f.owner = "root";
                 f.group = "root";
                 f.mode = 0600;
             }),
            "COM1 (/dev/ttyUSB0): permission denied: only root may open it (rw------- root:root). Ask an "
            "administrator for access, for example a udev rule that sets GROUP=\"dialout\" and MODE=\"0660\"; or, "
            "until the device is plugged in again: sudo chown $USER /dev/ttyUSB0."},
        {failure(OpenFailure::Refused,
             [](OpenFailure &f) {
                 f.holder = "minicom (process 42)";
                 f.staleLock = "/var/lock/LCK..ttyUSB0";
             }),
            "COM1 (/dev/ttyUSB0) is in use by minicom (process 42). Close that program to use the port here."},
        {failure(OpenFailure::Refused, [](OpenFailure &f) { f.staleLock = "/var/lock/LCK..ttyUSB0"; }),
            "COM1 (/dev/ttyUSB0) is blocked by the lock file /var/lock/LCK..ttyUSB0, left by a program that has "
            "ended. Remove it: sudo rm /var/lock/LCK..ttyUSB0"},
        {failure(OpenFailure::Refused, [](OpenFailure &f) { f.reason = "Permission error"; }),
            "COM1 (/dev/ttyUSB0) is in use by another program (Permission error)"},
        {failure(OpenFailure::Other, [](OpenFailure &f) { f.reason = "Unknown error"; }),
            "COM1 (/dev/ttyUSB0): the port could not be opened (Unknown error)"},
    };
    for (const Case &c : cases)
        EXPECT_EQ(describeOpenFailure(c.failure), c.expected);
}

} // namespace
