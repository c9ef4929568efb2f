// SPDX-License-Identifier: GPL-3.0-or-later
// The line keeper's decisions, as the events it reports: which outage began
// (its kind, whether the line had been up), when it is over, and what is
// told once. No words here: each program's words are tested at its edge.

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "serial/line_keeper.h"
#include "serial_double.h"
#include "timers/virtual_clock.h"

namespace {

using Events = std::vector<std::string>;

const char *kindName(LineFailureKind kind)
{
    switch (kind) {
    case LineFailureKind::DeviceRemoved:
        return "DeviceRemoved";
    case LineFailureKind::NoSuchDevice:
        return "NoSuchDevice";
    case LineFailureKind::ConnectionClosed:
        return "ConnectionClosed";
    case LineFailureKind::NotOpen:
        return "NotOpen";
    default:
        return "other";
    }
}

// Every report, as one short line: "outage DeviceRemoved after-loss".
class RecordingListener : public LineListener {
public:
    Events events;
    std::vector<LinePhase> phases;

    void phaseEntered(LinePhase phase, const std::string &, bool) override { phases.push_back(phase); }
    void outageBegan(const LineOutage &outage) override
    {
        events.push_back(std::string("outage ") + kindName(outage.why.kind)
            + (outage.afterLoss ? " after-loss" : " never-up") + (outage.atStartup ? " at-startup" : "")
            + (outage.line == LineKind::Network ? " network" : ""));
    }
    void droppedAgain(const LineFailure &why) override
    {
        events.push_back(std::string("dropped-again ") + kindName(why.kind));
    }
    void lineBack(const std::string &port, std::int16_t number, bool reopened) override
    {
        events.push_back(
            "back " + port + " " + std::to_string(number) + (reopened ? " reopened" : " opened"));
    }
    void notSent(const LineFailure &why, const LineOutage *outage) override
    {
        events.push_back(std::string("not-sent ") + kindName(why.kind) + (outage ? " in-outage" : " closed"));
    }
    void retryFailed(const LineFailure &why) override
    {
        events.push_back(std::string("retry-failed ") + kindName(why.kind));
    }
};

class LineKeeperEvents : public ::testing::Test {
protected:
    VirtualClock clock;
    std::unique_ptr<Timer> reopen = clock.createTimer(1000);
    std::unique_ptr<Timer> settle = clock.createTimer(3000);
    SerialDouble serial;
    RecordingListener heard;
    LineKeeper keeper{serial, heard, *reopen, *settle};

    LineKeeperEvents()
    {
        reopen->setOnTick([this] { keeper.reopenTimer_Timer(); });
        settle->setOnTick([this] { keeper.settleTimer_Timer(); });
        serial.setOnComm([this] { keeper.onComm(serial.commEvent()); });
    }
    void open()
    {
        serial.setPortOpen(true);
        keeper.opened();
    }
    void unplug()
    {
        serial.setMissing(1);
        serial.vanish(serial.failure(LineFailureKind::DeviceRemoved));
    }
    void replug()
    {
        serial.setPresent(1);
        serial.raise(kCommEventDeviceChanged);
    }
};

TEST_F(LineKeeperEvents, ALossIsOneOutageUntilTheLineHasStayedUp)
{
    open();
    unplug();
    EXPECT_EQ(heard.events, Events({"outage DeviceRemoved after-loss"}));
    replug();
    EXPECT_EQ(keeper.phase(), LinePhase::Settling);
    unplug(); // gone again before it settled
    EXPECT_EQ(heard.events.back(), "dropped-again DeviceRemoved");
    replug();
    clock.advance(3000);
    EXPECT_EQ(keeper.phase(), LinePhase::Open);
    unplug(); // a new outage
    EXPECT_EQ(heard.events,
        Events({"outage DeviceRemoved after-loss", "back COM1 1 reopened", "dropped-again DeviceRemoved",
            "back COM1 1 reopened", "outage DeviceRemoved after-loss"}));
}

TEST_F(LineKeeperEvents, AFailedStartUpIsAnOutageAtStartUpAndItsPortIsOpenedNotReopened)
{
    serial.setMissing(1);
    try {
        serial.setPortOpen(true);
        FAIL() << "the missing port opened";
    } catch (const ControlError &error) {
        EXPECT_EQ(error.kind(), LineFailureKind::NoSuchDevice);
        keeper.startupFailed(error.failure());
    }
    EXPECT_EQ(keeper.phase(), LinePhase::Waiting);
    serial.setPresent(1);
    clock.advance(1500);
    EXPECT_EQ(heard.events, Events({"outage NoSuchDevice never-up at-startup", "back COM1 1 opened"}));
}

TEST_F(LineKeeperEvents, ACommandRefusedIsToldOncePerOutageAndNeverWhileTheLineIsUp)
{
    open();
    keeper.notSent(serial.failure(LineFailureKind::NotOpen)); // up: the status line's business
    EXPECT_TRUE(heard.events.empty());
    unplug();
    keeper.notSent(serial.failure(LineFailureKind::NotOpen));
    keeper.notSent(serial.failure(LineFailureKind::NotOpen));
    EXPECT_EQ(heard.events, Events({"outage DeviceRemoved after-loss", "not-sent NotOpen in-outage"}));
    keeper.closed(); // closed on purpose: told again, as closed
    keeper.notSent(serial.failure(LineFailureKind::NotOpen));
    EXPECT_EQ(heard.events.back(), "not-sent NotOpen closed");
}

TEST_F(LineKeeperEvents, ARetryOfAClosedLineThatFailsIsReportedWithItsKind)
{
    serial.setMissing(1);
    keeper.closed();
    keeper.retryNow();
    EXPECT_EQ(heard.events, Events({"retry-failed NoSuchDevice"}));
    EXPECT_EQ(keeper.phase(), LinePhase::Closed);
    EXPECT_FALSE(reopen->enabled()); // closed on purpose is not waited for
}

TEST_F(LineKeeperEvents, ANetworkLineIsConnectingUntilConnectedAndItsLossIsANetworkOutage)
{
    serial.setKind(LineKind::Network);
    open();
    EXPECT_EQ(keeper.phase(), LinePhase::Connecting);
    serial.connectNow();
    EXPECT_EQ(keeper.phase(), LinePhase::Open);
    serial.dropConnection(serial.failure(LineFailureKind::ConnectionClosed));
    EXPECT_EQ(heard.events, Events({"outage ConnectionClosed after-loss network"}));
    EXPECT_EQ(
        heard.phases, std::vector<LinePhase>({LinePhase::Connecting, LinePhase::Open, LinePhase::Waiting}));
}

} // namespace
