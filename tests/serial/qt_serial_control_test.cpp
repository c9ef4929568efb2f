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
        EXPECT_EQ(error.kind(), LineFailureKind::NoSuchDevice) << error.description();
        EXPECT_EQ(error.failure().label, "COM2 (/dev/qv550-test-no-such-device)");
        EXPECT_EQ(error.failure().device, "/dev/qv550-test-no-such-device");
    }
    EXPECT_FALSE(port.portOpen());
}

TEST_F(QtSerial, UnparsableSettingsAreRefusedNotDefaulted)
{
    const auto kindOf = [](auto operation) {
        try {
            operation();
        } catch (const ControlError &error) {
            return error.kind();
        }
        return LineFailureKind::Other;
    };
    EXPECT_EQ(kindOf([&] { port.setSettings("19200,N,8"); }), LineFailureKind::BadSettings);
    EXPECT_EQ(kindOf([&] { port.setCommPort(3); }), LineFailureKind::NoDeviceForPort);
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
        EXPECT_EQ(error.kind(), LineFailureKind::NotOpen);
        EXPECT_EQ(error.failure().label, "COM1 (" + pty.devicePath() + ")");
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
    // The far end closed, the node of a pty is gone with it.
    const LineFailure lost = port.lostLine();
    EXPECT_TRUE(lost.kind == LineFailureKind::DeviceRemoved || lost.kind == LineFailureKind::HungUp)
        << port.lostLineDescription();
    EXPECT_EQ(lost.device, pty.devicePath());
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
        EXPECT_EQ(error.kind(), LineFailureKind::InUse) << error.description();
        EXPECT_EQ(error.failure().holder, "pty_tests (process " + std::to_string(holder.processId()) + ")");
    }
    holder.closeWriteChannel();
    ASSERT_TRUE(holder.waitForFinished(5000));
    EXPECT_NO_THROW(open());
}

} // namespace
