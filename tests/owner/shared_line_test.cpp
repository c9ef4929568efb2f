// SPDX-License-Identifier: GPL-3.0-or-later
// One line, many programs, on the serial double and the virtual clock: one
// transaction at a time, each reply to its own asker, the panel first,
// leases, clients that go away and a line that goes down.

#include <gtest/gtest.h>

#include <QJsonDocument>
#include <QJsonObject>

#include <algorithm>
#include <functional>
#include <map>
#include <memory>
#include <vector>

#include "owner/owner_service.h"
#include "owner/shared_line.h"
#include "serial_double.h"
#include "timers/virtual_clock.h"

namespace {

class Sharing : public ::testing::Test {
protected:
    Sharing()
    {
        serial.setPortOpen(true);
        shared.setOnComm([this] { panelGot += shared.input(); });
    }
    // Submits `line` for `client`; its result lands in results[client].
    void ask(int client, const std::string &line, int watchMs = 500, bool mayWait = true)
    {
        Transaction transaction;
        transaction.client = client;
        transaction.line = line;
        transaction.watchMs = watchMs;
        transaction.mayWait = mayWait;
        transaction.done
            = [this, client](const TransactionResult &result) { results[client].push_back(result); };
        shared.submit(std::move(transaction));
    }

    VirtualClock clock;
    std::unique_ptr<Timer> watch = clock.createTimer(500);
    std::unique_ptr<Timer> quiet = clock.createTimer(SharedLine::kPanelQuietMs);
    std::unique_ptr<Timer> lease = clock.createTimer(1000);
    SerialDouble serial;
    std::unique_ptr<Timer> lineWait = clock.createTimer(1000);
    SharedLine shared{serial, *watch, *quiet, *lease, *lineWait, [this] { return clock.now(); }};
    std::string panelGot;
    std::map<int, std::vector<TransactionResult>> results;
};

TEST_F(Sharing, OneTransactionAtATimeEachReplyToItsOwnAsker)
{
    ask(1, "CR0\r");
    ask(2, "CR3\r");
    EXPECT_EQ(serial.writes(), (std::vector<std::string>{"CR0\r"})); // the second waits
    serial.feed("8");
    serial.feed("0\rjunk"); // the reply ends at its CR; what follows is nobody's reply
    EXPECT_EQ(serial.writes().back(), "CR3\r");
    serial.feed("0123\r");
    ASSERT_EQ(results[1].size(), 1U);
    EXPECT_EQ(results[1][0].reply, "80\r");
    EXPECT_TRUE(results[1][0].complete);
    EXPECT_EQ(results[2][0].reply, "0123\r");
    EXPECT_EQ(panelGot, "junk"); // bytes outside a transaction go to the panel
}

TEST_F(Sharing, AWatchThatRunsOutEndsTheTransactionCutOffAndTheNextGoes)
{
    ask(1, "CR3\r", 500);
    ask(2, "CR0\r", 500);
    serial.feed("01");
    clock.advance(499);
    EXPECT_TRUE(results[1].empty());
    clock.advance(1);
    ASSERT_EQ(results[1].size(), 1U);
    EXPECT_FALSE(results[1][0].complete);
    EXPECT_EQ(results[1][0].reply, "01");
    serial.feed("23\r"); // the cut-off reply's rest is nobody's reply
    EXPECT_EQ(panelGot, "23\r");
    EXPECT_EQ(serial.writes().back(), "CR3\r"); // the next waits for the line to fall quiet
    clock.advance(SharedLine::kLineQuietMs);
    EXPECT_EQ(serial.writes().back(), "CR0\r");
}

TEST_F(Sharing, AfterACutOffReplyTheNextWaitsForTheLineToFallQuietNotForATailsEnd)
{
    // A slow projector: its reply to lamp hours trickles in a byte every 200 ms.
    ask(1, "CR3\r", 500);
    ask(2, "CR0\r", 500);
    serial.feed("0");
    clock.advance(500);
    ASSERT_EQ(results[1].size(), 1U);
    EXPECT_FALSE(results[1][0].complete);
    for (const char *rest : {"1", "2\r", "0", "1\r"}) { // a tail with a CR in it, and more after
        clock.advance(200);
        serial.feed(rest);
        EXPECT_EQ(serial.writes().back(), "CR3\r") << "went between two bytes of the tail";
    }
    clock.advance(SharedLine::kLineQuietMs - 1);
    EXPECT_EQ(serial.writes().back(), "CR3\r");
    clock.advance(1);
    EXPECT_EQ(serial.writes().back(), "CR0\r");
    serial.feed("80\r");
    EXPECT_EQ(results[2][0].reply, "80\r"); // nothing of the tail joined it
    EXPECT_TRUE(results[2][0].fits);
    // A line that never falls quiet holds the next one back for a bounded time only.
    ask(1, "CR3\r", 500);
    ask(2, "CR1\r", 500);
    clock.advance(500);
    for (int at = 0; at < SharedLine::kLongestDrainMs + 200; at += 100) {
        serial.feed("9");
        clock.advance(100);
    }
    EXPECT_EQ(serial.writes().back(), "CR1\r");
}

TEST_F(Sharing, AReplyThatDoesNotFitItsQueryIsMarkedAndTheLineWaitsForQuiet)
{
    ask(1, "CR0\r");
    ask(2, "CR1\r");
    serial.feed("8101\r"); // a tail and a reply run together
    ASSERT_EQ(results[1].size(), 1U);
    EXPECT_TRUE(results[1][0].complete);
    EXPECT_FALSE(results[1][0].fits);
    EXPECT_EQ(serial.writes().back(), "CR0\r");
    clock.advance(SharedLine::kLineQuietMs);
    EXPECT_EQ(serial.writes().back(), "CR1\r");
    serial.feed("1\r");
    EXPECT_TRUE(results[2][0].fits);
    // An addressed query is told by its address too; a line that is no query fits anything.
    ask(3, "A002CR0\r");
    results.clear();
    Transaction addressed;
    addressed.client = 4;
    addressed.line = "A002CR0\r";
    addressed.addressPrefix = "A002";
    addressed.done = [this](const TransactionResult &result) { results[4].push_back(result); };
    shared.submit(std::move(addressed));
    serial.feed("80\r");
    serial.feed("8\r");
    ASSERT_EQ(results[4].size(), 1U);
    EXPECT_FALSE(results[4][0].fits);
    clock.advance(SharedLine::kLineQuietMs);
    ask(5, "CR VOLUME\r");
    serial.feed("Anything at all\r");
    EXPECT_TRUE(results[5][0].fits);
}

TEST_F(Sharing, ThePanelGoesFirstAndNoScriptStartsWhileItIsBusy)
{
    shared.setOutput("C47\r"); // a held zoom: a repeat every 50 ms
    ask(1, "CR0\r");
    for (int repeat = 0; repeat < 10; ++repeat) {
        clock.advance(50);
        shared.setOutput("C47\r");
    }
    EXPECT_EQ(std::count(serial.writes().begin(), serial.writes().end(), "CR0\r"), 0);
    clock.advance(SharedLine::kPanelQuietMs);
    EXPECT_EQ(serial.writes().back(), "CR0\r"); // once the panel is quiet
    // A press during a script's transaction is held until its reply ends, then goes first.
    shared.setOutput("C00\r");
    EXPECT_EQ(serial.writes().back(), "CR0\r");
    serial.feed("80\r");
    EXPECT_EQ(serial.writes().back(), "C00\r");
    EXPECT_EQ(results[1][0].reply, "80\r");
}

TEST_F(Sharing, ALeaseKeepsOthersWaitingRefusesThoseWhoWillNotWaitAndRunsOut)
{
    ASSERT_FALSE(shared.lease(1, 5).has_value());
    EXPECT_TRUE(shared.lease(2, 5).has_value());
    ask(2, "CR0\r");
    ask(3, "CR1\r", 500, false);
    ASSERT_EQ(results[3].size(), 1U);
    EXPECT_NE(results[3][0].error->find("leased to client 1"), std::string::npos) << *results[3][0].error;
    EXPECT_FALSE(results[3][0].written);
    ask(1, "C00\r");
    EXPECT_EQ(serial.writes(), (std::vector<std::string>{"C00\r"})); // the holder goes; client 2 waits
    serial.feed("\x06");
    EXPECT_THROW(shared.setOutput("C01\r"), ControlError); // the panel is told who has the line
    clock.advance(5000);                                   // the holder went quiet: the lease runs out
    EXPECT_FALSE(shared.leaseHolder().has_value());
    EXPECT_EQ(serial.writes().back(), "CR0\r");
}

TEST_F(Sharing, AClientThatGoesAwayLosesItsRepliesAndTheLineGoesOn)
{
    ask(1, "CR0\r");
    ask(1, "CR1\r");
    ask(2, "CR3\r");
    shared.clientGone(1);
    serial.feed("80\r"); // its reply is taken in and discarded
    EXPECT_TRUE(results[1].empty());
    EXPECT_EQ(serial.writes().back(), "CR3\r"); // its queued request is gone
    serial.feed("0\r");
    EXPECT_EQ(results[2].size(), 1U);
    EXPECT_EQ(panelGot, "");
}

TEST_F(Sharing, ALineThatIsDownIsToldAtOnce)
{
    ask(1, "CR0\r");
    ask(2, "CR1\r");
    serial.vanish("COM1 (/dev/ttyUSB0): the device went away");
    for (const int client : {1, 2}) {
        ASSERT_EQ(results[client].size(), 1U);
        EXPECT_EQ(*results[client][0].error, "the line is down: COM1 (/dev/ttyUSB0): the device went away");
    }
    EXPECT_TRUE(results[1][0].written);
    EXPECT_FALSE(results[2][0].written);
    ask(3, "CR0\r");
    ASSERT_EQ(results[3].size(), 1U); // at once, no wait
    EXPECT_NE(results[3][0].error->find("the line is down"), std::string::npos);
}

// A held zoom: the panel writes every 50 ms and the projector acknowledges
// each write `ackMs` later; `during` runs after each acknowledgement.
class HeldZoom : public Sharing {
protected:
    // Holds for `repeats` repeats; true when every repeat went out the moment
    // the panel wrote it (none was held behind a script's transaction).
    bool hold(int repeats, int ackMs, const std::function<void()> &during = {})
    {
        bool onTime = true;
        for (int repeat = 0; repeat < repeats; ++repeat) {
            const std::size_t before = serial.writes().size();
            shared.setOutput("C47\r");
            onTime = onTime && serial.writes().size() == before + 1 && serial.writes().back() == "C47\r";
            clock.advance(ackMs);
            serial.feed("\x06");
            if (during)
                during();
            clock.advance(50 - ackMs);
        }
        return onTime;
    }
    void askFor(int client, const std::string &line, int lineWaitMs)
    {
        Transaction transaction;
        transaction.client = client;
        transaction.line = line;
        transaction.lineWaitMs = lineWaitMs;
        transaction.done
            = [this, client](const TransactionResult &result) { results[client].push_back(result); };
        shared.submit(std::move(transaction));
    }
};

TEST_F(HeldZoom, AShortTransactionGoesBetweenTwoRepeatsAndTheHoldKeepsItsPeriod)
{
    int asked = 0;
    const bool onTime = hold(40, 5, [&] {
        // A script asks every 200 ms; the projector answers it 5 ms after it is written.
        if (clock.now() / 200 > asked) {
            ++asked;
            askFor(1, "CR0\r", 10000);
        }
        if (serial.writes().back() == "CR0\r") {
            clock.advance(5);
            serial.feed("80\r");
        }
    });
    EXPECT_TRUE(onTime) << "a repeat was held behind a script";
    // Every request was answered, each in the first gap after it was asked.
    ASSERT_EQ(results[1].size(), static_cast<std::size_t>(asked));
    for (const TransactionResult &result : results[1]) {
        EXPECT_FALSE(result.error.has_value()) << *result.error;
        EXPECT_EQ(result.reply, "80\r");
    }
}

TEST_F(HeldZoom, ASlowProjectorLeavesNoGapAndTheWaitEndsAtItsLimitNamingTheHold)
{
    EXPECT_TRUE(hold(2, 40));
    askFor(1, "CR0\r", 1000);
    EXPECT_TRUE(hold(30, 40)); // acknowledged 40 ms after each repeat: nothing fits in 10 ms
    ASSERT_EQ(results[1].size(), 1U);
    EXPECT_EQ(*results[1][0].error, "the line was busy: the panel's held zoom-plus");
    EXPECT_FALSE(results[1][0].written);
    EXPECT_EQ(std::count(serial.writes().begin(), serial.writes().end(), "CR0\r"), 0);
    // A repeat the projector did not answer opens no gap either.
    askFor(2, "CR0\r", 10000);
    shared.setOutput("C47\r");
    clock.advance(50);
    shared.setOutput("C47\r");
    clock.advance(50);
    shared.setOutput("C47\r");
    EXPECT_NE(serial.writes().back(), "CR0\r");
    clock.advance(SharedLine::kPanelQuietMs); // the panel let go: the request goes
    EXPECT_EQ(serial.writes().back(), "CR0\r");
    serial.feed("80\r");
    // A projector that lags a repeat behind: each acknowledgement that comes
    // answers the repeat before, so no gap is known and nothing goes.
    results.clear();
    askFor(3, "CR0\r", 10000);
    clock.advance(SharedLine::kPanelQuietMs);
    serial.feed("80\r");
    for (int repeat = 0; repeat < 10; ++repeat) {
        shared.setOutput("C47\r");
        clock.advance(5);
        if (repeat > 0)
            serial.feed("\x06"); // the previous repeat's
        askFor(4, "CR0\r", 10000);
        EXPECT_EQ(serial.writes().back(), "C47\r") << "went into a gap that was not there";
        clock.advance(45);
    }
}

TEST_F(HeldZoom, TheHoldsOwnAnswersDoNotKeepTheLineFromFallingQuietAfterACutOffReply)
{
    askFor(1, "CR0\r", 10000); // the projector does not answer it: cut off after 500 ms
    clock.advance(500);
    ASSERT_EQ(results[1].size(), 1U);
    askFor(2, "CR0\r", 10000);
    EXPECT_TRUE(hold(20, 5, [this] {
        if (serial.writes().back() == "CR0\r" && results[2].empty()) {
            clock.advance(5);
            serial.feed("80\r");
        }
    }));
    ASSERT_EQ(results[2].size(), 1U) << "the repeats' acknowledgements kept the line from falling quiet";
    EXPECT_EQ(results[2][0].reply, "80\r");
}

TEST_F(Sharing, LeasesQueueLikeRequestsWithinTheirLimitAndAClientThatWillNotWaitIsRefusedAtOnce)
{
    const auto askLease = [this](int client, int lineWaitMs, bool mayWait) {
        Transaction lease;
        lease.client = client;
        lease.leaseS = 10;
        lease.lineWaitMs = lineWaitMs;
        lease.mayWait = mayWait;
        lease.done = [this, client](const TransactionResult &result) { results[client].push_back(result); };
        shared.submit(std::move(lease));
    };
    askLease(1, 10000, true);
    ASSERT_EQ(results[1].size(), 1U);
    EXPECT_FALSE(results[1][0].error.has_value());
    EXPECT_EQ(shared.leaseHolder(), 1);
    askLease(2, 10000, true); // a second sequence: waits its turn
    askLease(3, 10000, false);
    askLease(4, 1500, true);
    EXPECT_TRUE(results[2].empty());
    ASSERT_EQ(results[3].size(), 1U);
    EXPECT_EQ(*results[3][0].error, "the line is leased to client 1");
    clock.advance(1000);
    shared.release(1); // the first sequence is done
    ASSERT_EQ(results[2].size(), 1U);
    EXPECT_FALSE(results[2][0].error.has_value());
    EXPECT_EQ(shared.leaseHolder(), 2);
    clock.advance(500);
    ASSERT_EQ(results[4].size(), 1U);
    EXPECT_EQ(*results[4][0].error, "the line was busy: leased to client 2");
    EXPECT_EQ(shared.queued(), 0U);
}

// The line's phase, step by step: where it rests after a transaction depends
// on what happened while it was on the wire (a lease granted at once, the
// panel writing, a tail draining), and every move it makes is one it may make.
TEST_F(Sharing, ThePhaseMovesOnlyAsItMayAndRestsWhereTheLineIsPromised)
{
    using Phase = SharedLine::Phase;
    std::vector<std::string> illegal;
    shared.onPhase = [&illegal](Phase from, Phase to) {
        if (!SharedLine::legalMove(from, to))
            illegal.push_back(std::string(SharedLine::phaseName(from)) + " -> " + SharedLine::phaseName(to));
    };
    const auto leaseNow = [this](int client) {
        Transaction lease;
        lease.client = client;
        lease.leaseS = 10;
        lease.mayWait = false; // granted at once, whatever is on the wire
        lease.done = [this, client](const TransactionResult &result) { results[client].push_back(result); };
        shared.submit(std::move(lease));
    };
    struct Step {
        const char *what;
        std::function<void()> act;
        Phase after;
    };
    const std::vector<std::vector<Step>> scenarios = {
        {
            {"client 1 asks", [&] { ask(1, "CR0\r"); }, Phase::Serving},
            {"client 2 leases at once", [&] { leaseNow(2); }, Phase::Serving},
            {"client 1 asks again", [&] { ask(1, "CR1\r"); }, Phase::Serving},
            {"the reply ends", [&] { serial.feed("80\r"); }, Phase::Leased},
            {"the holder asks", [&] { ask(2, "CR0\r"); }, Phase::Serving},
            {"its reply ends", [&] { serial.feed("80\r"); }, Phase::Leased},
            {"the holder lets go: client 1's turn", [&] { shared.release(2); }, Phase::Serving},
            {"its reply ends", [&] { serial.feed("1\r"); }, Phase::Idle},
        },
        {
            {"client 1 asks", [&] { ask(1, "CR0\r"); }, Phase::Serving},
            {"the panel writes, held", [&] { shared.setOutput("C00\r"); }, Phase::Serving},
            {"the reply ends, the panel's write goes", [&] { serial.feed("80\r"); }, Phase::PanelsTurn},
            {"client 1 asks meanwhile", [&] { ask(1, "CR1\r"); }, Phase::PanelsTurn},
            {"the panel falls quiet", [&] { clock.advance(SharedLine::kPanelQuietMs); }, Phase::Serving},
            {"its reply ends", [&] { serial.feed("1\r"); }, Phase::Idle},
        },
        {
            {"client 1 asks", [&] { ask(1, "CR3\r", 500); }, Phase::Serving},
            {"its watch runs out", [&] { clock.advance(500); }, Phase::Draining},
            {"the panel writes", [&] { shared.setOutput("C00\r"); }, Phase::Draining},
            {"the line falls quiet", [&] { clock.advance(SharedLine::kLineQuietMs); }, Phase::PanelsTurn},
            {"the panel falls quiet",
                [&] { clock.advance(SharedLine::kPanelQuietMs - SharedLine::kLineQuietMs); }, Phase::Idle},
            {"client 3 leases at once", [&] { leaseNow(3); }, Phase::Leased},
            {"the lease runs out", [&] { clock.advance(10000); }, Phase::Idle},
        },
        {
            {"client 1 asks", [&] { ask(1, "CR0\r"); }, Phase::Serving},
            {"an answer that does not fit", [&] { serial.feed("8101\r"); }, Phase::Draining},
            {"client 2 leases at once", [&] { leaseNow(2); }, Phase::Draining},
            {"the line falls quiet", [&] { clock.advance(SharedLine::kLineQuietMs); }, Phase::Leased},
            {"the holder asks", [&] { ask(2, "CR0\r"); }, Phase::Serving},
            {"the line is lost", [&] { serial.vanish("unplugged"); }, Phase::Leased},
        },
    };
    int number = 0;
    for (const auto &steps : scenarios) {
        ++number;
        for (const Step &step : steps) {
            step.act();
            EXPECT_EQ(SharedLine::phaseName(shared.phase()), std::string(SharedLine::phaseName(step.after)))
                << "scenario " << number << ": " << step.what;
        }
        // The next scenario starts on a fresh line.
        clock.advance(SharedLine::kLongestLeaseS * 1000);
        if (shared.leaseHolder())
            shared.release(*shared.leaseHolder());
        serial.connectNow();
    }
    EXPECT_TRUE(illegal.empty()) << illegal.front();
}

// The protocol: JSON lines in, JSON lines out.
class Protocol : public Sharing {
protected:
    Protocol()
    {
        client = service.connect([this](const std::string &line) {
            replies.push_back(QJsonDocument::fromJson(QByteArray::fromStdString(line)).object());
        });
    }
    bool say(const std::string &text) { return service.receive(client, text + "\n"); }
    std::string error() const { return replies.back()[QStringLiteral("error")].toString().toStdString(); }

    OwnerService service{shared, "dev_ttyUSB0", "qv550-control (process 1)"};
    int client = 0;
    std::vector<QJsonObject> replies;
};

TEST_F(Protocol, BadRequestsGetAClearErrorAndChangeNothing)
{
    struct Case {
        std::string request;
        std::string error;
    };
    for (const Case &c : std::vector<Case>{{"{\"id\":1,\"send\":\"CR0", "malformed JSON"},
             {"[1,2]", "a request is a JSON object"}, {"{\"id\":2,\"frob\":true}", "unknown field \"frob\""},
             {"{\"id\":3,\"command\":\"statsu\"}", "unknown command \"statsu\""},
             {"{\"id\":4,\"send\":\"C00\\rC01\"}", "holds a CR or LF"},
             {"{\"id\":5,\"command\":\"status\",\"send\":\"CR0\"}", "one request at a time"},
             {"{\"id\":6,\"command\":\"status\",\"address\":\"9\"}", "address is single"},
             {"{\"command\":\"status\"}", "needs an \"id\""}}) {
        ASSERT_TRUE(say(c.request)) << c.request;
        EXPECT_NE(error().find(c.error), std::string::npos) << c.request << " -> " << error();
    }
    EXPECT_TRUE(serial.writes().empty());
    EXPECT_FALSE(service.receive(client, std::string(OwnerService::kLineLimit + 1, 'x')));
}

// Every number a client gives is checked for its type and range before it
// is used: a double far beyond an int never becomes one.
TEST_F(Protocol, NumbersAreCheckedBeforeUse)
{
    struct Case {
        std::string request;
        std::string error; // empty: taken
    };
    for (const Case &c : std::vector<Case>{{R"({"id":1,"lease":"10"})", "lease takes a number of seconds"},
             {R"({"id":1,"lease":0.5})", "lease takes a number of seconds"},
             {R"({"id":1,"lease":-1e300})", "lease takes a number of seconds"},
             {R"({"id":1,"command":"status","timeout_ms":1e300})", "timeout_ms is a number"},
             {R"({"id":1,"command":"status","timeout_ms":"500"})", "timeout_ms is a number"},
             {R"({"id":1,"command":"status","line_wait_ms":-1})", "line_wait_ms is a number"},
             {R"({"id":1,"command":"status","line_wait_ms":3e9})", "line_wait_ms is a number"},
             {R"({"id":1,"command":"status","max_age_ms":-5})", "max_age_ms is a number"},
             {R"({"id":1,"speed":1e300})", "speed is 19200 or 9600"},
             {R"({"id":1,"speed":"9600"})", "speed is 19200 or 9600"},
             {R"({"id":1,"command":"status","address":2})", "address is single"},
             {R"({"id":1,"command":"status","wait":0})", "wait is true or false"}}) {
        ASSERT_TRUE(say(c.request)) << c.request;
        EXPECT_NE(error().find(c.error), std::string::npos) << c.request << " -> " << error();
    }
    EXPECT_TRUE(serial.writes().empty());
    // A lease beyond the longest is the longest, and says so.
    for (const char *asked :
        {R"({"id":2,"lease":1e300})", R"({"id":2,"lease":3e9})", R"({"id":2,"lease":600})"}) {
        ASSERT_TRUE(say(asked));
        EXPECT_EQ(replies.back()[QStringLiteral("leased_s")].toInt(), SharedLine::kLongestLeaseS) << asked;
    }
    EXPECT_EQ(shared.leaseHolder(), client);
}

TEST_F(Protocol, ACommandIsAnsweredWithTheCliObjectAndItsId)
{
    ASSERT_TRUE(say("{\"id\":\"a\",\"command\":\"status\",\"address\":\"2\"}"));
    EXPECT_EQ(serial.writes().back(), "A002CR0\r");
    serial.feed("80\r");
    ASSERT_EQ(replies.size(), 1U);
    const QJsonObject reply = replies.back();
    EXPECT_EQ(reply[QStringLiteral("id")].toString(), QStringLiteral("a"));
    EXPECT_EQ(reply[QStringLiteral("status")].toString(), QStringLiteral("Stand by"));
    EXPECT_EQ(reply[QStringLiteral("via")].toString(), QStringLiteral("owner"));
    EXPECT_TRUE(reply[QStringLiteral("complete")].toBool());
    ASSERT_TRUE(say("{\"id\":7,\"hello\":true}"));
    EXPECT_EQ(replies.back()[QStringLiteral("line")].toString(), QStringLiteral("dev_ttyUSB0"));
    EXPECT_EQ(replies.back()[QStringLiteral("clients")].toInt(), 1);
}

} // namespace
