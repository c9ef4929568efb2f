// SPDX-License-Identifier: GPL-3.0-or-later
// A line shared the way a venue uses it, with the real programs: replies
// that must fit their query, tails that must not join the next reply, waits
// that end within their limit and say why, and sequences that queue.

#include <QElapsedTimer>
#include <QFile>
#include <QJsonArray>
#include <QJsonObject>
#include <QLocalServer>
#include <QLocalSocket>
#include <QPoint>
#include <QTemporaryDir>
#include <QThread>

#include <gtest/gtest.h>

#include <csignal>
#include <memory>

#include "event_loop.h"
#include "owner_processes.h"
#include "processes.h"
#include "serial/owner_socket.h"
#include "x_session.h"

namespace {

const QString kPort = QStringLiteral("--port");
const QString kJson = QStringLiteral("--json");

// A projector that mixes bytes into every reply: no reply is its query's
// answer, directly or through the owner, and the owner's state takes none.
TEST(FairLine, AReplyThatDoesNotFitItsQueryIsNoSuccess)
{
    ProjectorProcess noisy({QStringLiteral("--noise"), QStringLiteral("100"),
        QStringLiteral("--random-state"), QStringLiteral("7")});
    ASSERT_FALSE(noisy.device().isEmpty());
    int misfits = 0;
    const auto check = [&misfits](const CliCall &run, const char *via) {
        const QJsonObject reply = run.json();
        ASSERT_FALSE(reply.isEmpty()) << via << ": " << run.out << run.err;
        EXPECT_EQ(reply[QStringLiteral("via")].toString().toStdString(), via);
        if (run.status == 0) {
            // A stray byte after the reply's CR leaves the reply itself whole.
            EXPECT_EQ(reply[QStringLiteral("reply_hex")].toString(), QStringLiteral("38300D")) << run.out;
            return;
        }
        EXPECT_EQ(run.status, 1) << run.err;
        if (run.err.find("does not fit CR0, whose answer is two hex digits and a CR") == std::string::npos)
            return;
        ++misfits;
        EXPECT_TRUE(reply[QStringLiteral("complete")].toBool()) << run.out;
        EXPECT_TRUE(reply[QStringLiteral("status")].isNull()) << run.out;
        EXPECT_FALSE(reply[QStringLiteral("reply_hex")].toString().isEmpty()) << run.out; // the bytes shown
        EXPECT_EQ(reply[QStringLiteral("error")].toString().toStdString() + "\n", run.err.substr(11));
    };
    for (int i = 0; i < 3; ++i)
        check(callCli({kPort, noisy.device(), kJson, QStringLiteral("status")}), "port");
    EXPECT_GE(misfits, 2);

    misfits = 0;
    OwnerDaemon owner(noisy.device());
    ASSERT_TRUE(owner.serving()) << owner.said();
    for (int i = 0; i < 3; ++i)
        check(callCli({kPort, noisy.device(), kJson, QStringLiteral("status")}), "owner");
    EXPECT_GE(misfits, 2);
    // Nothing that did not fit became the owner's power status.
    const CliCall state = callCli({kPort, noisy.device(), kJson, QStringLiteral("state")});
    const QJsonObject power = state.json()[QStringLiteral("status")].toObject();
    EXPECT_FALSE(power[QStringLiteral("status")].isString()) << state.out;
}

// The reproduction: a slow projector's lamp hours cut off, then the power
// status asked 0.3 s later. The tail is taken in before the next call, so
// the answer is the projector's own "80".
TEST(FairLine, ATailStillComingNeverJoinsTheNextReply)
{
    for (const bool throughOwner : {false, true}) {
        ProjectorProcess slow({QStringLiteral("--pieces"), QStringLiteral("1"), QStringLiteral("--gap"),
            QStringLiteral("200")});
        ASSERT_FALSE(slow.device().isEmpty());
        std::unique_ptr<OwnerDaemon> owner;
        if (throughOwner) {
            owner = std::make_unique<OwnerDaemon>(slow.device(), QStringList{QStringLiteral("--no-poll")});
            ASSERT_TRUE(owner->serving()) << owner->said();
        }
        const CliCall cut
            = callCli({kPort, slow.device(), kJson, QStringLiteral("send"), QStringLiteral("CR3")});
        EXPECT_EQ(cut.status, 1) << cut.err;
        EXPECT_NE(cut.err.find("cut off"), std::string::npos) << cut.err;
        runFor(300);
        const CliCall status = callCli({kPort, slow.device(), kJson, QStringLiteral("status")});
        EXPECT_EQ(status.status, 0) << (throughOwner ? "owner: " : "port: ") << status.out << status.err;
        EXPECT_EQ(status.json()[QStringLiteral("reply_hex")].toString(), QStringLiteral("38300D"))
            << status.out;
        EXPECT_EQ(status.json()[QStringLiteral("status")].toString(), QStringLiteral("Stand by"))
            << status.out;
    }
}

// A private runtime folder for the owner's socket, for the programs a test
// starts and for the test itself.
class RuntimeFolder {
public:
    RuntimeFolder()
    {
        QFile::setPermissions(
            folder_.path(), QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);
        qputenv("XDG_RUNTIME_DIR", folder_.path().toLocal8Bit());
    }
    QProcessEnvironment environment(QProcessEnvironment base = QProcessEnvironment::systemEnvironment()) const
    {
        base.insert(QStringLiteral("XDG_RUNTIME_DIR"), folder_.path());
        return base;
    }

private:
    QTemporaryDir folder_;
};

// One line to the owner's socket and its answer with that id.
QJsonObject askSocket(QLocalSocket &socket, const QByteArray &request, int id, int timeoutMs = 15000)
{
    socket.write(request + '\n');
    socket.flush();
    QElapsedTimer waited;
    waited.start();
    QByteArray pending;
    while (waited.elapsed() < timeoutMs) {
        socket.waitForReadyRead(100);
        pending += socket.readAll();
        qsizetype end;
        while ((end = pending.indexOf('\n')) >= 0) {
            const QJsonObject reply = QJsonDocument::fromJson(pending.left(end)).object();
            pending.remove(0, end + 1);
            if (reply[QStringLiteral("id")].toInt() == id)
                return reply;
        }
    }
    return {};
}

// The panel under a private X server owns the line; the zoom button is held
// with real X input while scripts ask through the panel.
class HeldOnThePanel : public ::testing::Test {
protected:
    void start(const QStringList &simulatorOptions)
    {
        ASSERT_TRUE(x.problem().empty()) << x.problem();
        projector = std::make_unique<ProjectorProcess>(simulatorOptions);
        ASSERT_FALSE(projector->device().isEmpty());
        panel.setProcessEnvironment(runtime.environment(x.environment()));
        panel.start(QStringLiteral(PANEL_BINARY_DIR "/bin/qv550-control"),
            {QStringLiteral("--com1"), projector->device()});
        window = x.waitForWindow(QStringLiteral("QV550  CONTROL"));
        ASSERT_FALSE(window.isEmpty()) << "the panel's window did not appear";
        // Until the panel serves the line.
        CliCall through;
        QElapsedTimer waited;
        waited.start();
        do {
            through
                = callCli({kPort, projector->device(), kJson, QStringLiteral("send"), QStringLiteral("CR0")});
        } while (through.json()[QStringLiteral("via")].toString() != QStringLiteral("owner")
            && waited.elapsed() < 20000);
        ASSERT_EQ(through.json()[QStringLiteral("via")].toString(), QStringLiteral("owner"))
            << through.out << through.err;
    }
    void TearDown() override
    {
        xdotool({QStringLiteral("mouseup"), QStringLiteral("1")});
        stopProcess(panel);
    }
    QString xdotool(const QStringList &arguments) { return x.run(QStringLiteral("xdotool"), arguments); }
    void pressZoomPlus()
    {
        // The zoom + button's centre, from its place on the window in twips.
        const QPoint at((4440 + 375 / 2) / 15, (2880 + 255 / 2) / 15);
        xdotool({QStringLiteral("windowfocus"), QStringLiteral("--sync"), window});
        xdotool({QStringLiteral("mousemove"), QStringLiteral("--window"), window, QString::number(at.x()),
            QString::number(at.y())});
        xdotool({QStringLiteral("mousedown"), QStringLiteral("1")});
    }
    // A call through the panel while the hold goes on, and how long it took.
    std::pair<CliCall, qint64> timedCall(const QStringList &arguments)
    {
        QElapsedTimer clock;
        clock.start();
        CliCall call = callCli(arguments);
        return {call, clock.elapsed()};
    }

    RuntimeFolder runtime;
    XSession x;
    std::unique_ptr<ProjectorProcess> projector;
    QProcess panel;
    QString window;
};

// The reproduction: zoom held on the panel, a script asking once a second.
// Each is answered between two repeats, long before the hold ends.
TEST_F(HeldOnThePanel, AScriptIsAnsweredBetweenTheRepeatsOfAHeldButton)
{
    start({});
    pressZoomPlus();
    runFor(300);
    for (int i = 0; i < 4; ++i) {
        const auto [call, tookMs] = timedCall({kPort, projector->device(), kJson, QStringLiteral("--timeout"),
            QStringLiteral("500"), QStringLiteral("send"), QStringLiteral("CR0")});
        EXPECT_EQ(call.status, 0) << call.out << call.err;
        EXPECT_EQ(call.json()[QStringLiteral("via")].toString(), QStringLiteral("owner"));
        EXPECT_EQ(call.json()[QStringLiteral("reply_hex")].toString(), QStringLiteral("38300D")) << call.out;
        EXPECT_LT(tookMs, 3000) << "waited for the hold to end";
        runFor(700);
    }
}

// A projector that answers each repeat late leaves no gap: the script's
// wait ends at its limit and names what held the line.
TEST_F(HeldOnThePanel, AWaitForABusyLineEndsAtItsLimitAndNamesTheHold)
{
    start({QStringLiteral("--delay"), QStringLiteral("45")});
    pressZoomPlus();
    runFor(300);
    const auto [call, tookMs] = timedCall({kPort, projector->device(), kJson, QStringLiteral("--line-wait"),
        QStringLiteral("1000"), QStringLiteral("send"), QStringLiteral("CR0")});
    EXPECT_EQ(call.status, 1) << call.out << call.err;
    EXPECT_NE(call.err.find("the line was busy: the panel's held zoom-plus"), std::string::npos) << call.err;
    EXPECT_FALSE(call.json()[QStringLiteral("complete")].toBool());
    EXPECT_TRUE(call.json()[QStringLiteral("status")].isNull());
    EXPECT_GE(tookMs, 1000);
    EXPECT_LT(tookMs, 4000);
}

// Two cron jobs in the same minute: both sequences succeed, one after the
// other; a lease that will not wait is refused naming the holder; a lease
// of any size is checked before it becomes a number of seconds.
TEST(FairLine, LeasesQueueAndTheirSecondsAreChecked)
{
    RuntimeFolder runtime;
    ProjectorProcess projector({QStringLiteral("--delay"), QStringLiteral("20")});
    OwnerDaemon owner(projector.device(), {QStringLiteral("--no-poll")});
    ASSERT_TRUE(owner.serving()) << owner.said();
    std::vector<std::unique_ptr<QProcess>> sequences;
    for (int i = 0; i < 2; ++i) {
        sequences.push_back(std::make_unique<QProcess>());
        sequences.back()->start(cliProgram(),
            {kPort, projector.device(), QStringLiteral("seq"), QStringLiteral("power-on"),
                QStringLiteral("input-2"), QStringLiteral("input-3"), QStringLiteral("mode")});
    }
    for (auto &sequence : sequences) {
        ASSERT_TRUE(sequence->waitForFinished(30000));
        EXPECT_EQ(sequence->exitCode(), 0) << sequence->readAllStandardError().toStdString();
        EXPECT_EQ(sequence->readAllStandardOutput().toStdString(), "ACK\nACK\nACK\nInput mode 3\n");
    }

    QLocalSocket holder;
    holder.connectToServer(QString::fromStdString(ownerSocketPath(projector.device().toStdString())));
    ASSERT_TRUE(holder.waitForConnected(3000));
    const QJsonObject huge = askSocket(holder, R"({"id":1,"lease":1e300})", 1);
    EXPECT_EQ(huge[QStringLiteral("leased_s")].toInt(), 60) << QJsonDocument(huge).toJson().toStdString();
    for (const char *bad :
        {R"({"id":2,"lease":-3})", R"({"id":2,"lease":"10"})", R"({"id":2,"lease":0.5})"}) {
        const QJsonObject refused = askSocket(holder, bad, 2);
        EXPECT_NE(
            refused[QStringLiteral("error")].toString().toStdString().find("lease takes a number of seconds"),
            std::string::npos)
            << bad;
    }
    const QJsonObject badWait = askSocket(holder, R"({"id":3,"command":"status","line_wait_ms":1e300})", 3);
    EXPECT_NE(badWait[QStringLiteral("error")].toString().toStdString().find("line_wait_ms is a number"),
        std::string::npos);

    // Another program asks for the line without waiting, then with a limit.
    QLocalSocket other;
    other.connectToServer(QString::fromStdString(ownerSocketPath(projector.device().toStdString())));
    ASSERT_TRUE(other.waitForConnected(3000));
    const QJsonObject atOnce = askSocket(other, R"({"id":1,"lease":5,"wait":false})", 1);
    EXPECT_NE(atOnce[QStringLiteral("error")].toString().toStdString().find("the line is leased to "),
        std::string::npos)
        << QJsonDocument(atOnce).toJson().toStdString();
    const CliCall sequence = callCli({kPort, projector.device(), QStringLiteral("--line-wait"),
        QStringLiteral("500"), QStringLiteral("seq"), QStringLiteral("mode")});
    EXPECT_EQ(sequence.status, 1) << "exit 3 is for a port that cannot be opened: " << sequence.err;
    EXPECT_NE(sequence.err.find("the line was busy: leased to "), std::string::npos) << sequence.err;
    askSocket(holder, R"({"id":9,"release":true})", 9);
    const QJsonObject granted = askSocket(other, R"({"id":2,"lease":5})", 2);
    EXPECT_EQ(granted[QStringLiteral("leased_s")].toInt(), 5)
        << QJsonDocument(granted).toJson().toStdString();
}

// The owner killed under a waiting call: the call says the owner went away
// (no time ran out), and its JSON carries nothing of an earlier round.
TEST(FairLine, WhenTheOwnerGoesAwayACallSaysSoWithNothingStale)
{
    // A slow projector: the owner is mostly killed while a round waits for
    // its answer; a prompt one: mostly between two rounds.
    for (const char *delay : {"600", "0"}) {
        RuntimeFolder runtime;
        ProjectorProcess projector({QStringLiteral("--delay"), QString::fromLatin1(delay)});
        auto owner
            = std::make_unique<OwnerDaemon>(projector.device(), QStringList{QStringLiteral("--no-poll")});
        ASSERT_TRUE(owner->serving()) << owner->said();
        QProcess waiting;
        waiting.start(cliProgram(),
            {kPort, projector.device(), kJson, QStringLiteral("--timeout"), QStringLiteral("20000"),
                QStringLiteral("wait"), QStringLiteral("Power ON")});
        runFor(2500); // a round or two has been answered "Stand by"
        owner->kill();
        ASSERT_TRUE(waiting.waitForFinished(10000));
        const std::string err = waiting.readAllStandardError().toStdString();
        EXPECT_EQ(waiting.exitCode(), 1) << delay;
        EXPECT_NE(err.find("the line's owner went away"), std::string::npos) << delay << ": " << err;
        EXPECT_EQ(err.find("in time"), std::string::npos) << err;
        const QJsonObject json = QJsonDocument::fromJson(waiting.readAllStandardOutput()).object();
        EXPECT_TRUE(json[QStringLiteral("status")].isNull()) << QJsonDocument(json).toJson().toStdString();
        EXPECT_FALSE(json[QStringLiteral("complete")].toBool());
        EXPECT_EQ(json[QStringLiteral("reply_hex")].toString(), QString());
    }
}

// A sequence into a pipe: each result is there as soon as it is known.
TEST(FairLine, ASequenceIntoAPipeWritesEachResultAsItComes)
{
    ProjectorProcess projector({QStringLiteral("--delay"), QStringLiteral("300")});
    QTemporaryDir scratch;
    const QString out = scratch.filePath(QStringLiteral("out"));
    QProcess sequence;
    sequence.start(QStringLiteral("bash"),
        {QStringLiteral("-c"),
            QStringLiteral(
                "\"$0\" --port \"$1\" seq power-on input-2 input-3 input-4 input-1 mode mode mode mode "
                "| cat > \"$2\""),
            cliProgram(), projector.device(), out});
    QByteArray firstSeen;
    const auto firstResult = [&] {
        QFile file(out);
        if (file.open(QIODevice::ReadOnly))
            firstSeen = file.readAll();
        return firstSeen.startsWith("ACK\n");
    };
    ASSERT_TRUE(runUntil([&] { return firstResult() || sequence.state() == QProcess::NotRunning; }, 20000));
    // Seen while the later commands were still to come, not all at the end.
    EXPECT_LT(firstSeen.count('\n'), 5)
        << "nothing reached the pipe until the sequence ended: " << firstSeen.toStdString();
    ASSERT_TRUE(sequence.waitForFinished(20000));
    QFile file(out);
    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    EXPECT_EQ(file.readAll(),
        QByteArray("ACK\nACK\nACK\nACK\nACK\nInput mode 1\nInput mode 1\nInput mode 1\nInput mode 1\n"));
}

// The README's one-liner through socat, with a reply slower than socat's
// own half-second: it prints the answer.
TEST(FairLine, TheReadmesSocatExampleWaitsForASlowReply)
{
    RuntimeFolder runtime;
    ProjectorProcess projector({QStringLiteral("--delay"), QStringLiteral("400")});
    OwnerDaemon owner(projector.device(), {QStringLiteral("--no-poll")});
    ASSERT_TRUE(owner.serving()) << owner.said();
    // Another script has the line first: the status waits its turn, and its
    // reply comes later than socat's own half-second.
    QProcess before;
    before.start(cliProgram(), {kPort, projector.device(), QStringLiteral("send"), QStringLiteral("CR1")});
    runFor(100);
    QFile readme(QStringLiteral(PANEL_SOURCE_DIR "/README.md"));
    ASSERT_TRUE(readme.open(QIODevice::ReadOnly));
    QByteArray example;
    for (const QByteArray &line : readme.readAll().split('\n')) {
        if (line.contains("| socat ") && line.contains("status"))
            example = line;
    }
    ASSERT_FALSE(example.isEmpty()) << "no socat example in the README";
    QProcess shell;
    shell.setProcessEnvironment(runtime.environment());
    shell.start(QStringLiteral("bash"),
        {QStringLiteral("-c"),
            QStringLiteral("S=") + QString::fromStdString(ownerSocketPath(projector.device().toStdString()))
                + QStringLiteral("; ") + QString::fromLatin1(example)});
    QElapsedTimer took;
    took.start();
    ASSERT_TRUE(shell.waitForFinished(15000));
    EXPECT_GT(took.elapsed(), 500); // the case that needs socat's -t
    const QByteArray said = shell.readAllStandardOutput();
    before.waitForFinished(5000);
    EXPECT_TRUE(said.contains("\"status\":\"Stand by\""))
        << example.toStdString() << " printed: " << said.toStdString()
        << shell.readAllStandardError().toStdString();
}

// A request that finds the owner's line down only because another program
// of ours holds the port for a moment waits, and is served once the owner
// has the line.
TEST(FairLine, ARequestWaitsWhileAnotherOfOurProgramsHoldsThePort)
{
    RuntimeFolder runtime;
    ProjectorProcess projector;
    QProcess holder; // no owner yet: it takes the port itself, for 2 s
    holder.start(cliProgram(),
        {kPort, projector.device(), QStringLiteral("--timeout"), QStringLiteral("2000"),
            QStringLiteral("wait"), QStringLiteral("Power ON")});
    ASSERT_TRUE(runUntil([&] { return holder.state() == QProcess::Running; }, 5000));
    runFor(300);
    OwnerDaemon owner(projector.device(), {QStringLiteral("--no-poll")});
    ASSERT_TRUE(owner.serving()) << owner.said();
    const CliCall call
        = callCli({kPort, projector.device(), kJson, QStringLiteral("send"), QStringLiteral("CR0")});
    EXPECT_EQ(call.status, 0) << call.out << call.err;
    EXPECT_EQ(call.json()[QStringLiteral("via")].toString(), QStringLiteral("owner"));
    EXPECT_EQ(call.json()[QStringLiteral("reply_hex")].toString(), QStringLiteral("38300D"));
    holder.waitForFinished(5000);
}

// The service's journal in its own words; its config keeps a '#' inside a
// value as ports.conf does.
TEST(FairLine, TheServiceSpeaksInItsOwnWordsAndReadsHashesAsPortsConfDoes)
{
    RuntimeFolder runtime;
    QTemporaryDir scratch;
    const QString device = scratch.filePath(QStringLiteral("rig#1"));
    QFile config(scratch.filePath(QStringLiteral("hall.conf")));
    ASSERT_TRUE(config.open(QIODevice::WriteOnly));
    config.write(("port = " + device.toStdString() + "  # the rig\npoll = no\n").c_str());
    config.close();
    QProcess owner;
    owner.setProcessEnvironment(runtime.environment());
    owner.start(
        QStringLiteral(PANEL_BINARY_DIR "/bin/qv550d"), {QStringLiteral("--config"), config.fileName()});
    std::string said;
    runUntil(
        [&] {
            said += owner.readAllStandardError().toStdString();
            return said.find("keeps trying") != std::string::npos;
        },
        10000);
    stopProcess(owner);
    EXPECT_NE(said.find("serving " + device.toStdString() + " "), std::string::npos) << said;
    EXPECT_NE(said.find("qv550d keeps trying"), std::string::npos) << said;
    EXPECT_EQ(said.find("F5"), std::string::npos) << said;
    EXPECT_EQ(said.find("The panel"), std::string::npos) << said;
}

// SIGHUP: a config a new run could not start with is told and the running
// settings kept; a good one runs qv550d anew in the same process, which
// serves the line again.
TEST(FairLine, AReloadTakesOnlyAConfigTheNewRunCanStartWith)
{
    RuntimeFolder runtime;
    ProjectorProcess projector;
    QTemporaryDir scratch;
    const QString configPath = scratch.filePath(QStringLiteral("hall.conf"));
    const auto writeConfig = [&](const std::string &extra) {
        QFile config(configPath);
        ASSERT_TRUE(config.open(QIODevice::WriteOnly | QIODevice::Truncate));
        config.write(("port = " + projector.device().toStdString() + "\npoll = no\n" + extra).c_str());
    };
    writeConfig("");
    QProcess owner;
    owner.setProcessEnvironment(runtime.environment());
    owner.start(QStringLiteral(PANEL_BINARY_DIR "/bin/qv550d"), {QStringLiteral("--config"), configPath});
    std::string said;
    const auto hears = [&](const std::string &text) {
        return runUntil(
            [&] {
                said += owner.readAllStandardError().toStdString();
                return said.find(text) != std::string::npos;
            },
            15000);
    };
    const auto answersThroughTheOwner = [&] {
        const CliCall call = callCli({QStringLiteral("--port"), projector.device(), QStringLiteral("--json"),
                                         QStringLiteral("status")},
            30000, runtime.environment());
        EXPECT_EQ(call.status, 0) << call.out << call.err;
        EXPECT_EQ(call.json()[QStringLiteral("via")].toString(), QStringLiteral("owner")) << call.out;
    };
    ASSERT_TRUE(hears("serving ")) << said;
    // An answer comes from the running loop, which takes signals from then on.
    answersThroughTheOwner();
    const qint64 pid = owner.processId();

    struct Bad {
        std::string line;
        std::string told; // what it says after "not reloaded, the running settings are kept: "
    };
    for (const Bad &bad : {Bad{"speed = 4800\n", "hall.conf: line 3: speed is 19200 or 9600"},
             Bad{"pjlink-inputs = 1:99\n", "kept: pjlink-inputs: \"1:99\" is not MODE:INPUT"},
             Bad{"pjlink-search = 127.0.0.1:99999\n", "kept: pjlink-search: [ADDRESS:]PORT takes a port"},
             Bad{"http = 8550x\n", "hall.conf: line 3: the http port in \"8550x\""}}) {
        said.clear();
        writeConfig(bad.line);
        ::kill(static_cast<pid_t>(pid), SIGHUP);
        EXPECT_TRUE(hears("not reloaded, the running settings are kept: ")) << said;
        EXPECT_TRUE(hears(bad.told)) << said;
    }
    ASSERT_EQ(owner.state(), QProcess::Running) << said;

    said.clear();
    writeConfig("name = hall\n");
    ::kill(static_cast<pid_t>(pid), SIGHUP);
    ASSERT_TRUE(hears("reloading")) << said;
    ASSERT_TRUE(hears("serving ")) << said;
    EXPECT_EQ(owner.processId(), pid);
    answersThroughTheOwner();
    stopProcess(owner);
}

// qv550-cli connects to the owner once a call: an owner of the test's own
// counts the connections.
TEST(FairLine, EachCallConnectsToTheOwnerOnce)
{
    RuntimeFolder runtime;
    ProjectorProcess projector;
    std::string whyNot;
    ASSERT_TRUE(prepareOwnerFolder(whyNot)) << whyNot;
    QLocalServer owner;
    ASSERT_TRUE(owner.listen(QString::fromStdString(ownerSocketPath(projector.device().toStdString()))));
    int connections = 0;
    std::vector<QLocalSocket *> clients;
    QObject::connect(&owner, &QLocalServer::newConnection, [&] {
        while (QLocalSocket *client = owner.nextPendingConnection()) {
            ++connections;
            QObject::connect(client, &QLocalSocket::readyRead, client, [client] {
                while (client->canReadLine()) {
                    const QJsonObject ask = QJsonDocument::fromJson(client->readLine()).object();
                    QJsonObject answer{{QStringLiteral("id"), ask[QStringLiteral("id")]},
                        {QStringLiteral("sent"), QStringLiteral("CR0\r")},
                        {QStringLiteral("reply_hex"), QStringLiteral("38300D")},
                        {QStringLiteral("complete"), true}, {QStringLiteral("written"), true},
                        {QStringLiteral("status"), QStringLiteral("Stand by")}};
                    client->write(QJsonDocument(answer).toJson(QJsonDocument::Compact) + '\n');
                }
            });
        }
    });
    QProcess call;
    call.start(cliProgram(), {kPort, projector.device(), QStringLiteral("status")});
    ASSERT_TRUE(runUntil([&] { return call.state() == QProcess::NotRunning; }, 10000));
    EXPECT_EQ(call.readAllStandardOutput().toStdString(), "Stand by\n")
        << call.readAllStandardError().toStdString();
    EXPECT_EQ(connections, 1);
}

} // namespace
