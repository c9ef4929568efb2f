// SPDX-License-Identifier: GPL-3.0-or-later
// Network serial lines against real servers on 127.0.0.1: ser2net from
// Debian in front of a socat pair whose far end the test holds (or the
// simulated projector answers on), and pySerial's RFC 2217 server.

#include <QElapsedTimer>
#include <QFile>
#include <QTcpServer>
#include <QLabel>
#include <QProcess>
#include <QTest>

#include <gtest/gtest.h>

#include <ctime>
#include <optional>
#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <poll.h>
#include <unistd.h>

#include "event_loop.h"
#include "network_servers.h"
#include "real_panel.h"
#include "serial_rig.h"

namespace {

std::string everyByte()
{
    std::string all;
    for (int code = 0; code < 256; ++code)
        all += static_cast<char>(code);
    return all;
}

// The far end of the rig's line, as the projector's side of the cable.
class FarEnd {
public:
    explicit FarEnd(const std::string &path) : fd_(::open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK)) { }
    ~FarEnd()
    {
        if (fd_ >= 0)
            ::close(fd_);
    }
    bool ok() const { return fd_ >= 0; }
    void write(const std::string &bytes) { (void)!::write(fd_, bytes.data(), bytes.size()); }
    // What arrives within `milliseconds`, the event loop running meanwhile.
    std::string read(std::size_t atLeast, int milliseconds = 3000)
    {
        std::string got;
        runUntil(
            [&] {
                char buffer[512];
                ssize_t n;
                while ((n = ::read(fd_, buffer, sizeof buffer)) > 0)
                    got.append(buffer, static_cast<std::size_t>(n));
                return got.size() >= atLeast;
            },
            milliseconds);
        return got;
    }

private:
    int fd_;
};

// The serial control on one network address, with what it received.
struct NetworkControl {
    explicit NetworkControl(const std::string &url)
        : control([&] {
              DeviceMap devices;
              devices.setDevice(1, url);
              return devices;
          }())
    {
        control.setOnComm([this] {
            events.push_back(control.commEvent());
            if (control.commEvent() == kCommEventReceive)
                received += control.input();
        });
    }
    bool open(const char *settings = "19200,N,8,1")
    {
        control.setSettings(settings);
        control.setPortOpen(true);
        return runUntil([&] { return control.connected(); }, 5000);
    }
    QtSerialControl control;
    std::string received;
    std::vector<std::int16_t> events;
};

std::string deviceSpeed(const std::string &device)
{
    QProcess stty;
    stty.start(QStringLiteral("stty"),
        {QStringLiteral("-F"), QString::fromStdString(device), QStringLiteral("speed")});
    stty.waitForFinished(3000);
    return stty.readAllStandardOutput().trimmed().toStdString();
}

class Ser2netLine : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(rig.plug(false)) << "socat did not start";
        ASSERT_TRUE(server.start()) << "ser2net did not start";
        farEnd.emplace(rig.farEnd());
        ASSERT_TRUE(farEnd->ok());
    }
    SerialRig rig;
    Ser2net server{rig.panelEnd()};
    std::optional<FarEnd> farEnd; // there once the rig is plugged
    FarEnd &far() { return *farEnd; }
};

TEST_F(Ser2netLine, RawTcpCarriesEveryByteAsItIsBothWays)
{
    NetworkControl line(server.rawUrl());
    ASSERT_TRUE(line.open());
    EXPECT_EQ(line.control.lineKind(), LineKind::Network);
    line.control.setOutput("C00\r");
    EXPECT_EQ(far().read(4), "C00\r");
    line.control.setOutput(everyByte());
    EXPECT_EQ(far().read(256), everyByte());
    far().write(everyByte());
    EXPECT_TRUE(runUntil([&] { return line.received.size() >= 256; }, 3000));
    EXPECT_EQ(line.received, everyByte());
}

TEST_F(Ser2netLine, Rfc2217EscapesOnceAndTheSpeedChoiceReachesTheDevice)
{
    NetworkControl line(server.rfc2217Url());
    ASSERT_TRUE(line.open());
    line.control.setOutput(std::string("\x01\xff\x02\r", 4));
    EXPECT_EQ(far().read(4), std::string("\x01\xff\x02\r", 4)); // 0xFF arrives once, nothing after the CR
    line.control.setOutput(everyByte());
    EXPECT_EQ(far().read(256), everyByte());
    far().write(std::string("\x03\xff\x04", 3));
    EXPECT_TRUE(runUntil([&] { return line.received.size() >= 3; }, 3000));
    EXPECT_EQ(line.received, std::string("\x03\xff\x04", 3));
    line.control.setSettings("9600,N,8,1");
    EXPECT_TRUE(runUntil([&] { return deviceSpeed(rig.panelEnd()) == "9600"; }, 3000));
    line.control.setSettings("19200,N,8,1");
    EXPECT_TRUE(runUntil([&] { return deviceSpeed(rig.panelEnd()) == "19200"; }, 3000));
}

TEST_F(Ser2netLine, ABusyServerRefusesTheLineAndIsNeverAReplyAndNothingWaitsToBeSent)
{
    // Another client has the raw port: ser2net answers the next one with
    // its own text and closes. That is a refused line, told in its words.
    NetworkControl first(server.rawUrl());
    ASSERT_TRUE(first.open());
    for (const std::string &url : {server.rawUrl(), server.rfc2217Url()}) {
        NetworkControl second(url);
        second.control.setSettings("19200,N,8,1");
        second.control.setPortOpen(true);
        // While the connection is being made nothing is taken for later.
        EXPECT_THROW(second.control.setOutput("C01\r"), ControlError);
        ASSERT_TRUE(runUntil([&] { return !second.events.empty(); }, 5000)) << url;
        EXPECT_EQ(second.events, std::vector<std::int16_t>{kCommEventLineLost}) << url;
        // The server's own words are the reason.
        EXPECT_EQ(second.control.lostLine().kind, LineFailureKind::ServerRefused)
            << second.control.lostLineDescription();
        EXPECT_NE(second.control.lostLine().said.find("in use"), std::string::npos)
            << second.control.lostLineDescription();
        EXPECT_TRUE(second.received.empty()) << second.received;
    }
    EXPECT_EQ(far().read(1, 300), ""); // nothing refused ever reached the projector
    first.control.setOutput("C00\r");
    EXPECT_EQ(far().read(4), "C00\r");
}

TEST_F(Ser2netLine, WhatTheServerKeptFromAnEarlierConnectionIsNoReply)
{
    far().write("1\r"); // a late reply, sent while nobody is connected
    runFor(200);
    NetworkControl line(server.rawUrl());
    ASSERT_TRUE(line.open());
    EXPECT_EQ(line.control.takeDiscarded(), "1\r");
    far().write("8 0\r");
    EXPECT_TRUE(runUntil([&] { return line.received.size() >= 4; }, 3000));
    EXPECT_EQ(line.received, "8 0\r");
}

TEST(NetworkFailures, EachIsDescribedAndNothingBlocks)
{
    NetworkControl refused("tcp://127.0.0.1:" + std::to_string(freeTcpPort()));
    refused.control.setSettings("19200,N,8,1");
    refused.control.setPortOpen(true); // returns at once; the failure comes as an event
    ASSERT_TRUE(runUntil([&] { return !refused.events.empty(); }, 5000));
    EXPECT_EQ(refused.events.back(), kCommEventLineLost);
    EXPECT_EQ(refused.control.lostLine().kind, LineFailureKind::ConnectionRefused)
        << refused.control.lostLineDescription();
    EXPECT_FALSE(refused.control.portOpen());

    NetworkControl malformed("rfc2217://127.0.0.1");
    try {
        malformed.control.setPortOpen(true);
        ADD_FAILURE() << "a malformed address was opened";
    } catch (const ControlError &error) {
        EXPECT_EQ(error.kind(), LineFailureKind::BadAddress);
        EXPECT_EQ(error.description(), "COM1 (rfc2217://127.0.0.1: no port (write HOST:PORT))");
    }
}

TEST(NetworkFailures, AHostThatNeverAnswersIsToldAfterFiveSeconds)
{
    // A listening socket that never accepts, its queue filled: the kernel
    // drops every further connection request unanswered.
    const int server = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof address;
    ASSERT_EQ(::bind(server, reinterpret_cast<sockaddr *>(&address), sizeof address), 0);
    ASSERT_EQ(::listen(server, 0), 0);
    ASSERT_EQ(::getsockname(server, reinterpret_cast<sockaddr *>(&address), &length), 0);
    std::vector<int> fillers;
    for (int i = 0; i < 3; ++i) {
        fillers.push_back(::socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK, 0));
        (void)!::connect(fillers.back(), reinterpret_cast<sockaddr *>(&address), sizeof address);
    }
    runFor(200);
    NetworkControl silent("tcp://127.0.0.1:" + std::to_string(ntohs(address.sin_port)));
    silent.control.setSettings("19200,N,8,1");
    QElapsedTimer clock;
    clock.start();
    silent.control.setPortOpen(true);
    EXPECT_TRUE(silent.control.portOpen()); // connecting, not blocking the window
    ASSERT_TRUE(runUntil([&] { return !silent.events.empty(); }, 8000));
    EXPECT_GE(clock.elapsed(), 4900);
    EXPECT_EQ(silent.events.back(), kCommEventLineLost);
    EXPECT_EQ(silent.control.lostLine().kind, LineFailureKind::NoAnswer)
        << silent.control.lostLineDescription();
    EXPECT_EQ(silent.control.lostLine().seconds, 5);
    for (const int filler : fillers)
        ::close(filler);
    ::close(server);
}

TEST(NetworkFailures, ALossQueuedAsAnotherPortIsChosenIsNotToldAgainstIt)
{
    QTcpServer second;
    ASSERT_TRUE(second.listen(QHostAddress::LocalHost));
    DeviceMap devices;
    devices.setDevice(1, "tcp://127.0.0.1:" + std::to_string(freeTcpPort()));
    devices.setDevice(2, "tcp://127.0.0.1:" + std::to_string(second.serverPort()));
    QtSerialControl control(devices);
    std::vector<std::int16_t> events;
    control.setOnComm([&] { events.push_back(control.commEvent()); });
    control.setSettings("19200,N,8,1");
    control.setPortOpen(true);
    // One pass at a time: the refusal closes the line and queues its report.
    QElapsedTimer waited;
    waited.start();
    while (control.portOpen() && waited.elapsed() < 5000)
        QCoreApplication::processEvents();
    ASSERT_FALSE(control.portOpen());
    ASSERT_TRUE(events.empty()) << "the report came before the choice; nothing was tested";
    control.setCommPort(2);
    control.setPortOpen(true);
    ASSERT_TRUE(runUntil([&] { return control.connected(); }, 3000));
    runFor(100);
    EXPECT_EQ(events, std::vector<std::int16_t>{kCommEventConnected});
}

TEST(NetworkStartUp, ThePanelConnectsOnceAtStartUp)
{
    QTcpServer server; // a slow ser2net answers a second connection with "Port already in use"
    ASSERT_TRUE(server.listen(QHostAddress::LocalHost));
    int connections = 0;
    QObject::connect(&server, &QTcpServer::newConnection, [&] {
        while (server.nextPendingConnection())
            ++connections;
    });
    RealPanel real{"tcp://127.0.0.1:" + std::to_string(server.serverPort())};
    ASSERT_FALSE(real.start().has_value());
    ASSERT_TRUE(runUntil([&] { return real.serial.connected(); }, 3000));
    runFor(300);
    EXPECT_EQ(connections, 1);
    EXPECT_EQ(real.form.windowTitle(), QStringLiteral("ZORP  QV550  CONTROL  Ver.140"));
}

TEST(Rfc2217Servers, PySerialsServerEchoesEveryByteAndHearsTheSettings)
{
    LoopbackRfc2217Server server;
    ASSERT_TRUE(server.start()) << "pySerial's RFC 2217 server did not start (Debian package python3-serial)";
    NetworkControl line(server.url());
    ASSERT_TRUE(line.open("9600,N,8,1"));
    line.control.setOutput(everyByte());
    EXPECT_TRUE(runUntil([&] { return line.received.size() >= 256; }, 5000));
    EXPECT_EQ(line.received, everyByte());
    EXPECT_TRUE(runUntil([&] { return server.log().contains("9600"); }, 3000)) << server.log().toStdString();
}

// The whole panel through ser2net to the simulated projector.
class PanelOverNetwork : public ::testing::TestWithParam<bool> {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(rig.plug()) << "socat or qv550-sim did not start";
        ASSERT_TRUE(server.start()) << "ser2net did not start";
        const auto failure = real.start();
        ASSERT_FALSE(failure.has_value()) << *failure;
        ASSERT_TRUE(runUntil([&] { return real.serial.connected(); }, 5000));
    }
    QString caption(const char *label) { return qobject_cast<QLabel *>(real.form.control(label))->text(); }
    bool statusAnswered()
    {
        QTest::mouseClick(real.form.control("Command44"), Qt::LeftButton);
        return runUntil([&] { return caption("Label22") == QStringLiteral(" Stand by"); }, 3000);
    }
    SerialRig rig;
    Ser2net server{rig.panelEnd()};
    RealPanel real{GetParam() ? server.rfc2217Url() : server.rawUrl()};
};

TEST_P(PanelOverNetwork, RepliesAreEchoedAndDecoded)
{
    EXPECT_TRUE(statusAnswered()) << caption("Label22").toStdString();
    EXPECT_EQ(caption("Label12"), QStringLiteral(" 8 0 CR "));
}

TEST_P(PanelOverNetwork, AHoldDuringAReconnectIsNotSentAndNeverArrivesInABurst)
{
    server.stop();
    ASSERT_TRUE(runUntil([&] { return !real.messageBox.messages.empty(); }, 3000));
    ASSERT_TRUE(server.start());
    // Held from the moment the connection is being made again until after it is up.
    ASSERT_TRUE(runUntil([&] { return real.serial.portOpen() && !real.serial.connected(); }, 15000));
    QWidget *zoom = real.form.control("Command15");
    QTest::mousePress(zoom, Qt::LeftButton);
    EXPECT_TRUE(caption("Label22").startsWith(QStringLiteral(" NOT SENT: ")))
        << caption("Label22").toStdString();
    ASSERT_TRUE(runUntil([&] { return real.serial.connected(); }, 5000));
    runFor(300);
    QTest::mouseRelease(zoom, Qt::LeftButton);
    runFor(300);
    const auto zoomsAtTheProjector = [&] {
        QFile log(QString::fromStdString(rig.simLog()));
        log.open(QIODevice::ReadOnly);
        return QString::fromLatin1(log.readAll()).count(QStringLiteral("C47"));
    };
    EXPECT_EQ(zoomsAtTheProjector(), 0); // nothing was kept to go out later
    QTest::mousePress(zoom, Qt::LeftButton);
    runFor(300);
    QTest::mouseRelease(zoom, Qt::LeftButton);
    ASSERT_TRUE(runUntil([&] { return zoomsAtTheProjector() >= 3; }, 2000));
    runFor(200);
    EXPECT_LE(zoomsAtTheProjector(), 300 / 50 + 2);
}

TEST_P(PanelOverNetwork, AStoppedServerIsALostLineAndTheConnectionComesBack)
{
    server.stop();
    ASSERT_TRUE(runUntil([&] { return !real.messageBox.messages.empty(); }, 3000));
    EXPECT_NE(real.messageBox.messages[0].find("connects again by itself"), std::string::npos)
        << real.messageBox.messages[0];
    const double cpuBefore = threadCpuMs();
    runFor(1000);
    EXPECT_LT(threadCpuMs() - cpuBefore, 100.0) << "the window thread spins while the server is away";
    ASSERT_TRUE(server.start());
    ASSERT_TRUE(runUntil([&] { return real.serial.connected(); }, 15000)) << "not reconnected";
    runFor(kTimer4Design + 100);
    EXPECT_TRUE(statusAnswered()) << caption("Label22").toStdString();
    EXPECT_EQ(real.messageBox.messages.size(), 1U);
}

INSTANTIATE_TEST_SUITE_P(RawAndRfc2217, PanelOverNetwork, ::testing::Bool(),
    [](const ::testing::TestParamInfo<bool> &info) { return info.param ? "Rfc2217" : "RawTcp"; });

} // namespace
