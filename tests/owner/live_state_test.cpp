// SPDX-License-Identifier: GPL-3.0-or-later
// The live state and its poll schedule on the serial double and the virtual
// clock, against the simulator's projector model answering 5 ms after each
// line: the line's budget over a day of power cycles, silence and presses,
// what the cache answers and what it never claims.

#include <gtest/gtest.h>

#include <QJsonDocument>
#include <QJsonObject>

#include <map>
#include <memory>
#include <vector>

#include "owner/live_owner.h"
#include "owner/owner_service.h"
#include "serial_double.h"
#include "simulator/projector_model.h"
#include "timers/virtual_clock.h"

namespace {

constexpr int kTurnaroundMs = 5;

class LiveLine : public ::testing::Test {
protected:
    LiveLine()
    {
        model.state().power = Power::Standby;
        serial.setPortOpen(true);
        shared.setOnComm([this] { (void)shared.input(); });
        serial.setOnWrite([this](const std::string &bytes) { heard(bytes); });
        replyTimer->setOnTick([this] {
            replyTimer->setEnabled(false);
            const std::string reply = std::exchange(replying, {});
            wireBytes += reply.size();
            serial.feed(reply);
        });
        service.setLiveState(&live.state, &live.poller);
        client = service.connect([this](const std::string &line) { clientGot.push_back(line); });
    }

    void heard(const std::string &bytes)
    {
        wireBytes += bytes.size();
        ++exchanges;
        sentAt.emplace_back(clock.now(), bytes);
        if (silent)
            return;
        for (std::size_t start = 0; start < bytes.size();) {
            const std::size_t end = bytes.find('\r', start);
            if (end == std::string::npos)
                break;
            if (auto answer = model.answer(std::string_view(bytes).substr(start, end - start), clock.now()))
                replying += *answer;
            start = end + 1;
        }
        if (!replying.empty())
            replyTimer->setEnabled(true);
    }
    // Wire time plus the projector's turnaround, as a share of `spanMs`.
    double occupancy(std::int64_t spanMs) const
    {
        return (static_cast<double>(wireBytes) * 10.0 / 19.2 + exchanges * kTurnaroundMs)
            / static_cast<double>(spanMs);
    }
    void resetBudget()
    {
        wireBytes = 0;
        exchanges = 0;
        sentAt.clear();
    }
    // Lines sent since the budget was reset, counted by text.
    std::map<std::string, int> sentCounts() const
    {
        std::map<std::string, int> counts;
        for (const auto &[at, line] : sentAt)
            ++counts[line];
        return counts;
    }
    void ask(const std::string &request) { service.receive(client, request + "\n"); }
    QJsonObject lastReply() const
    {
        return clientGot.empty()
            ? QJsonObject()
            : QJsonDocument::fromJson(QByteArray::fromStdString(clientGot.back())).object();
    }
    std::string statusOf(const char *name) const
    {
        return live.state.toJson()
            .value(QString::fromUtf8(name))
            .toObject()
            .value(QStringLiteral("status"))
            .toString()
            .toStdString();
    }

    VirtualClock clock;
    std::unique_ptr<Timer> watch = clock.createTimer(500);
    std::unique_ptr<Timer> quiet = clock.createTimer(SharedLine::kPanelQuietMs);
    std::unique_ptr<Timer> lease = clock.createTimer(1000);
    std::unique_ptr<Timer> pollTimer = clock.createTimer(1000);
    std::unique_ptr<Timer> replyTimer = clock.createTimer(kTurnaroundMs);
    SerialDouble serial;
    std::unique_ptr<Timer> lineWait = clock.createTimer(1000);
    SharedLine shared{serial, *watch, *quiet, *lease, *lineWait, [this] { return clock.now(); }};
    LiveOwner live{shared, *pollTimer, [this] { return clock.now(); }};
    OwnerService service{shared, "ttyS0", "test"};
    ProjectorModel model{1, ProjectorModel::Timing{3000, 5000}};
    bool silent = false;
    std::string replying;
    std::size_t wireBytes = 0;
    int exchanges = 0;
    std::vector<std::pair<std::int64_t, std::string>> sentAt;
    int client = 0;
    std::vector<std::string> clientGot;
};

constexpr std::int64_t kMinute = 60000;
constexpr std::int64_t kHour = 60 * kMinute;

TEST_F(LiveLine, ADayOfPowerCyclesKeepsWithinTheLinesBudget)
{
    live.poller.start();
    for (int day = 0; day < 2; ++day) { // two cycles: the schedule does not drift
        // Stand-by: the power status only, every 10 s.
        resetBudget();
        clock.advance(2 * kHour);
        EXPECT_LT(occupancy(2 * kHour), 0.002);
        EXPECT_EQ(sentCounts().size(), 1U);
        EXPECT_NEAR(sentCounts()["CR0\r"], 720, 3);
        EXPECT_EQ(statusOf("status"), "Stand by");

        // Power on from a script: confirmed within 2 s of the ACK.
        ask(R"({"id": 1, "command": "power-on"})");
        clock.advance(10);
        ASSERT_EQ(lastReply().value(QStringLiteral("monitor")).toString(), QStringLiteral("ACK"));
        clock.advance(2000);
        EXPECT_EQ(statusOf("status"), "Count down");
        clock.advance(10000);
        EXPECT_EQ(live.state.power(), PowerPhase::On);

        // On for 8 hours, with a person's bursts of presses every hour.
        resetBudget();
        for (int hour = 0; hour < 8; ++hour) {
            for (int press = 0; press < 20; ++press) {
                shared.setOutput("C47\r");
                clock.advance(100);
            }
            clock.advance(kHour - 2000);
        }
        EXPECT_LT(occupancy(8 * kHour), 0.02);
        const auto counts = sentCounts();
        EXPECT_GE(counts.at("CR1\r"), 8 * 360 * 9 / 10); // every 10 s, less the bursts
        EXPECT_LE(counts.at("CR3\r"), 8 * 12 + 1);       // the slow values every 5 minutes
        EXPECT_GE(counts.at("CR3\r"), 8 * 12 - 1);
        for (const char *name : {"status", "mode", "lamp-time", "setting", "temp", "lamp-mode", "pc-type",
                 "setting-2", "pressure"})
            EXPECT_FALSE(statusOf(name).empty()) << name;

        // Power off: cooling down is shown, then stand-by again.
        ask(R"({"id": 2, "command": "power-off"})");
        clock.advance(2010);
        EXPECT_EQ(statusOf("status"), "Cooling down");
        clock.advance(14 * kHour);
    }
}

TEST_F(LiveLine, AChangeBehindTheOwnersBackIsSeenWithinTwelveSeconds)
{
    model.state().power = Power::On;
    live.poller.start();
    clock.advance(30000);
    ASSERT_EQ(statusOf("mode"), "Input mode 1");
    for (int input : {3, 2, 4}) {
        model.state().inputMode = input; // with the remote
        std::int64_t waited = 0;
        while (statusOf("mode") != "Input mode " + std::to_string(input) && waited < 20000) {
            clock.advance(100);
            waited += 100;
        }
        EXPECT_LE(waited, 12000) << input;
    }
}

TEST_F(LiveLine, ASilentProjectorIsAskedLessAndLessAndItsValuesAreUnknown)
{
    model.state().power = Power::On;
    live.poller.start();
    clock.advance(30000);
    ASSERT_EQ(statusOf("mode"), "Input mode 1");
    silent = true;
    resetBudget();
    const std::int64_t silentFrom = clock.now();
    clock.advance(10 * kMinute);
    // Nothing but the power status, and from two minutes on at most once a minute.
    std::vector<std::int64_t> late;
    for (const auto &[at, line] : sentAt) {
        EXPECT_EQ(line, "CR0\r");
        if (at - silentFrom >= 2 * kMinute)
            late.push_back(at);
    }
    for (std::size_t i = 1; i < late.size(); ++i)
        EXPECT_GE(late[i] - late[i - 1], kMinute - 1000);
    EXPECT_LE(sentAt.size(), 16U);
    // Never shown as current: no status, and since when it is not known.
    const QJsonObject mode = live.state.toJson().value(QStringLiteral("mode")).toObject();
    EXPECT_TRUE(mode.value(QStringLiteral("status")).isNull());
    EXPECT_TRUE(mode.value(QStringLiteral("age_ms")).isNull());
    EXPECT_FALSE(mode.value(QStringLiteral("unknown_since")).toString().isEmpty());
    EXPECT_EQ(mode.value(QStringLiteral("last")).toObject().value(QStringLiteral("status")).toString(),
        QStringLiteral("Input mode 1"));
    // A client asking in between is not answered from the cache.
    ask(R"({"id": 3, "command": "mode"})");
    clock.advance(3000);
    EXPECT_FALSE(lastReply().contains(QStringLiteral("cached")));
    EXPECT_EQ(lastReply().value(QStringLiteral("error")), QStringLiteral("no reply within 500 ms"));

    // It answers again: within a minute of backing off, everything is known
    // again, the slow values too (not five minutes after they were last read).
    silent = false;
    resetBudget();
    clock.advance(kMinute + 15000);
    EXPECT_EQ(statusOf("status"), "Power ON");
    EXPECT_EQ(statusOf("mode"), "Input mode 1");
}

TEST_F(LiveLine, AfterAShortSilentSpellEveryValueIsReadAgainSoon)
{
    model.state().power = Power::On;
    live.poller.start();
    clock.advance(30000);
    ASSERT_FALSE(statusOf("lamp-time").empty());
    silent = true;
    clock.advance(40000); // shorter than the slow values' five minutes
    ASSERT_TRUE(statusOf("lamp-time").empty());
    silent = false;
    resetBudget();
    // Answered at the next try of the back-off (at most a minute on), then
    // every value in turn, a second apart: long before the lamp hours would
    // have been due again.
    clock.advance(kMinute + 15000);
    for (const char *name : {"status", "mode", "lamp-time", "pc-type", "pressure", "temp"}) {
        EXPECT_FALSE(statusOf(name).empty()) << name << " is still unknown";
    }
    EXPECT_EQ(sentCounts()["CR3\r"], 1) << "the lamp hours once, not again and again";
}

TEST_F(LiveLine, PressesAndScriptsGoAheadOfPollsAndWaitAtMostOneWatch)
{
    model.state().power = Power::On;
    silent = true; // the worst case: every poll holds the line for its whole watch
    live.poller.start();
    clock.advance(100);
    ASSERT_EQ(sentAt.size(), 1U); // a poll is on the line
    const std::int64_t pressed = clock.now();
    shared.setOutput("C0B\r");
    ask(R"({"id": 4, "command": "input-2"})");
    clock.advance(Poller::kWatchMs);
    // The press went out when the poll's watch ended, before the script's line.
    ASSERT_GE(sentAt.size(), 2U);
    EXPECT_EQ(sentAt[1].second, "C0B\r");
    EXPECT_LE(sentAt[1].first - pressed, Poller::kWatchMs);
    clock.advance(SharedLine::kPanelQuietMs + SharedLine::kLineQuietMs);
    ASSERT_GE(sentAt.size(), 3U);
    EXPECT_EQ(sentAt[2].second, "C06\r");

    // Queued together, a client's request goes before a poll.
    silent = false;
    clock.advance(kMinute);
    resetBudget();
    Transaction poll;
    poll.client = Poller::kPollClient;
    poll.line = "CR9\r";
    poll.background = true;
    shared.submit(std::move(poll)); // on the line now
    Transaction background;
    background.client = Poller::kPollClient;
    background.line = "CR3\r";
    background.background = true;
    shared.submit(std::move(background));
    ask(R"({"id": 5, "send": "CR VOLUME"})");
    clock.advance(50);
    ASSERT_GE(sentAt.size(), 3U);
    EXPECT_EQ(sentAt[1].second, "CR VOLUME\r");
    EXPECT_EQ(sentAt[2].second, "CR3\r");
}

TEST_F(LiveLine, AFreshValueIsAnsweredFromTheCacheAndSubscribersHearOfChanges)
{
    model.state().power = Power::On;
    ask(R"({"id": 1, "subscribe": "state"})");
    ASSERT_EQ(clientGot.size(), 2U); // the confirmation, then where things stand
    EXPECT_EQ(QJsonDocument::fromJson(QByteArray::fromStdString(clientGot[1]))
                  .object()
                  .value(QStringLiteral("event")),
        QStringLiteral("state"));
    live.poller.start();
    clock.advance(20);
    ASSERT_EQ(statusOf("status"), "Power ON");
    const QJsonObject event = lastReply();
    EXPECT_EQ(event.value(QStringLiteral("state"))
                  .toObject()
                  .value(QStringLiteral("status"))
                  .toObject()
                  .value(QStringLiteral("status")),
        QStringLiteral("Power ON"));

    resetBudget();
    clock.advance(300);
    ask(R"({"id": 2, "command": "status"})"); // read 300 ms ago
    EXPECT_TRUE(lastReply().value(QStringLiteral("cached")).toBool());
    EXPECT_EQ(lastReply().value(QStringLiteral("status")), QStringLiteral("Power ON"));
    EXPECT_EQ(lastReply().value(QStringLiteral("age_ms")).toInt(), 315); // read 5 ms in
    EXPECT_TRUE(sentAt.empty());
    for (const char *request : {R"({"id": 3, "command": "status", "max_age_ms": 0})",
             R"({"id": 4, "command": "status", "address": "1"})", R"({"id": 5, "send": "CR0"})"}) {
        const std::size_t before = sentAt.size();
        ask(request);
        clock.advance(20);
        EXPECT_EQ(sentAt.size(), before + 1) << request;
        EXPECT_FALSE(lastReply().contains(QStringLiteral("cached"))) << request;
    }
    // An acknowledged choice no query reports is remembered.
    ask(R"({"id": 6, "command": "freeze-on"})");
    clock.advance(20);
    EXPECT_EQ(
        live.state.choicesJson().value(QStringLiteral("FREEZE")).toObject().value(QStringLiteral("command")),
        QStringLiteral("freeze-on"));
}

TEST_F(LiveLine, ALineThatGoesDownMakesEveryValueUnknownAndNothingIsSentUntilItIsBack)
{
    model.state().power = Power::On;
    live.poller.start();
    clock.advance(30000);
    ASSERT_EQ(live.state.power(), PowerPhase::On);
    serial.vanish("the device went away");
    EXPECT_EQ(live.state.power(), PowerPhase::Unknown);
    EXPECT_TRUE(live.state.toJson()
                    .value(QStringLiteral("temp"))
                    .toObject()
                    .value(QStringLiteral("status"))
                    .isNull());
    resetBudget();
    clock.advance(kMinute);
    EXPECT_TRUE(sentAt.empty());
    serial.setPortOpen(true);
    serial.raise(kCommEventConnected);
    clock.advance(10);
    ASSERT_FALSE(sentAt.empty());
    EXPECT_EQ(sentAt[0].second, "CR0\r"); // the power status first
    clock.advance(15000);
    EXPECT_EQ(statusOf("temp").empty(), false);
}

// The decoded replies that reach the cache, whoever asked: a reply that
// never ended, one to another address and an ERR change nothing.
TEST_F(LiveLine, OnlyWholeAnswersToOurOwnQueriesAreTakenIn)
{
    struct Case {
        std::string sent;
        std::string reply;
        bool complete;
        std::string status; // of "status" afterwards; empty: unknown
    };
    const std::vector<Case> cases = {
        {"CR0\r", "80\r", true, "Stand by"},
        {"CR0\r", "00", false, "Stand by"},
        {"A001CR0\r", "00\r", true, "Stand by"},
        {"CR0\r", "ERR\r", true, "Stand by"},
        {"CR0\r", "99\r", true, "Stand by"},
        {"CR0\r", "00\r", true, "Power ON"},
    };
    for (const Case &c : cases) {
        live.state.exchanged(c.sent, c.reply, c.complete);
        EXPECT_EQ(statusOf("status"), c.status) << c.sent << " " << c.reply;
    }
    live.state.exchanged("CR3\r", "ERR\r", true);
    EXPECT_EQ(statusOf("lamp-time"), "");
    // The panel's own press of a query is taken in too.
    shared.setOutput("CR1\r");
    clock.advance(10);
    EXPECT_EQ(statusOf("mode"), "Input mode 1");
}

} // namespace
