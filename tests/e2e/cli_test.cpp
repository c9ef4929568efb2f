// SPDX-License-Identifier: GPL-3.0-or-later
// qv550-cli as scripts run it: a whole process against the simulated
// projector on a pseudo-terminal, its output, JSON and exit status.

#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QDir>
#include <QFileInfo>
#include <QElapsedTimer>
#include <QFile>
#include <QTemporaryDir>
#include <QLocalSocket>
#include <QSerialPort>

#include <csignal>
#include <sys/stat.h>
#include <memory>

#include <gtest/gtest.h>

#include "core/monitor_text.h"
#include "core/reply_decoders.h"
#include "serial/open_failure.h"
#include "serial/owner_socket.h"
#include "event_loop.h"
#include "processes.h"

namespace {

const QString kCli = QStringLiteral(PANEL_BINARY_DIR "/bin/qv550-cli");

struct CliRun {
    int status = -1;
    std::string out;
    std::string err;
};

CliRun cli(const QStringList &arguments,
    const QProcessEnvironment &environment = QProcessEnvironment::systemEnvironment(), int timeoutMs = 20000)
{
    QProcess process;
    process.setProcessEnvironment(environment);
    process.start(kCli, arguments);
    process.waitForFinished(timeoutMs);
    return {process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1,
        process.readAllStandardOutput().toStdString(), process.readAllStandardError().toStdString()};
}

using Projector = ProjectorProcess;

std::string fromHex(const QString &hex)
{
    return QByteArray::fromHex(hex.toLatin1()).toStdString();
}

TEST(Cli, EveryStatusQueryIsDecodedAsThePanelDecodesIt)
{
    Projector projector;
    ASSERT_FALSE(projector.device().isEmpty());
    for (const char *name :
        {"status", "mode", "lamp-time", "setting", "temp", "lamp-mode", "pc-type", "setting-2", "pressure"}) {
        const CliRun json = cli({QStringLiteral("--port"), projector.device(), QStringLiteral("--json"),
            QString::fromLatin1(name)});
        ASSERT_EQ(json.status, 0) << name << json.err;
        const QJsonObject reply = QJsonDocument::fromJson(QByteArray::fromStdString(json.out)).object();
        ASSERT_FALSE(reply.isEmpty()) << name << ": not JSON: " << json.out;
        const std::string bytes = fromHex(reply[QStringLiteral("reply_hex")].toString());
        std::int16_t pressure = 0;
        const auto expected
            = decodeStatus(statusQueryFor(reply[QStringLiteral("sent")].toString().toStdString(), ""),
                monitorText(bytes), pressure);
        ASSERT_TRUE(expected.has_value()) << name;
        // The panel's text less its leading space, where it has one.
        const std::string shown = expected->rfind(' ', 0) == 0 ? expected->substr(1) : *expected;
        EXPECT_EQ(reply[QStringLiteral("status")].toString().toStdString(), shown) << name;
        const CliRun plain = cli({QStringLiteral("--port"), projector.device(), QString::fromLatin1(name)});
        EXPECT_EQ(plain.out, shown + "\n") << name;
    }
}

TEST(Cli, ACommandThatIsNoQueryPrintsItsReplyAndAnAddressGoesFirst)
{
    Projector projector({QStringLiteral("--address"), QStringLiteral("2")});
    const CliRun run = cli({QStringLiteral("--port"), projector.device(), QStringLiteral("--address"),
        QStringLiteral("2"), QStringLiteral("--json"), QStringLiteral("power-on")});
    EXPECT_EQ(run.status, 0) << run.err;
    const QJsonObject reply = QJsonDocument::fromJson(QByteArray::fromStdString(run.out)).object();
    EXPECT_EQ(reply[QStringLiteral("sent")].toString(), QStringLiteral("A002C00\r"));
    EXPECT_EQ(reply[QStringLiteral("monitor")].toString(), QStringLiteral("ACK"));
    EXPECT_TRUE(reply[QStringLiteral("status")].isNull());
}

QJsonObject jsonOf(const CliRun &run)
{
    return QJsonDocument::fromJson(QByteArray::fromStdString(run.out)).object();
}

TEST(Cli, ASilentProjectorIsExitOneAfterTheReplyWatchAndNoStatusIsInvented)
{
    Projector projector({QStringLiteral("--silent")});
    QTemporaryDir folder;
    const QString log = folder.filePath(QStringLiteral("traffic.log"));
    QElapsedTimer clock;
    clock.start();
    const CliRun run = cli({QStringLiteral("--port"), projector.device(), QStringLiteral("--log"), log,
        QStringLiteral("status")});
    EXPECT_EQ(run.status, 1);
    EXPECT_GE(clock.elapsed(), 500);
    EXPECT_NE(
        run.err.find("no reply within 500 ms from " + projector.device().toStdString()), std::string::npos)
        << run.err;
    QFile file(log);
    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    EXPECT_TRUE(file.readAll().contains(" failed no reply within 500 ms")); // the log has the failed call too
    // The decoders would make a text out of nothing: none is given.
    for (const char *name : {"pressure", "lamp-time", "temp"}) {
        const CliRun json = cli({QStringLiteral("--port"), projector.device(), QStringLiteral("--json"),
            QStringLiteral("--timeout"), QStringLiteral("100"), QString::fromLatin1(name)});
        EXPECT_EQ(json.status, 1) << name;
        const QJsonObject reply = jsonOf(json);
        EXPECT_TRUE(reply[QStringLiteral("status")].isNull()) << name << ": " << json.out;
        EXPECT_EQ(reply[QStringLiteral("complete")], QJsonValue(false)) << json.out;
        EXPECT_EQ(reply[QStringLiteral("via")].toString(), QStringLiteral("port"));
        EXPECT_TRUE(reply[QStringLiteral("error")].toString().startsWith(QStringLiteral("no reply")))
            << json.out;
    }
    // wait keeps to its limit, and says that nothing ever answered.
    clock.restart();
    const CliRun wait = cli({QStringLiteral("--port"), projector.device(), QStringLiteral("--timeout"),
        QStringLiteral("1500"), QStringLiteral("wait"), QStringLiteral("Power ON")});
    EXPECT_EQ(wait.status, 1);
    EXPECT_LT(clock.elapsed(), 1500 + 400);
    EXPECT_NE(wait.err.find("no reply ever came"), std::string::npos) << wait.err;
    // A command to every projector is never answered: written is done.
    clock.restart();
    const CliRun all = cli({QStringLiteral("--port"), projector.device(), QStringLiteral("--address"),
        QStringLiteral("all"), QStringLiteral("--json"), QStringLiteral("power-off")});
    EXPECT_EQ(all.status, 0) << all.err;
    EXPECT_LT(clock.elapsed(), 500);
    EXPECT_EQ(jsonOf(all)[QStringLiteral("reply_expected")], QJsonValue(false)) << all.out;
}

TEST(Cli, ACutOffReplyIsIncompleteAndALateOneNeverReachesTheNextCall)
{
    Projector pieces(
        {QStringLiteral("--pieces"), QStringLiteral("3"), QStringLiteral("--gap"), QStringLiteral("400")});
    const CliRun cut = cli({QStringLiteral("--port"), pieces.device(), QStringLiteral("--json"),
        QStringLiteral("--timeout"), QStringLiteral("200"), QStringLiteral("lamp-time")});
    EXPECT_EQ(cut.status, 1);
    const QJsonObject reply = jsonOf(cut);
    EXPECT_EQ(reply[QStringLiteral("complete")], QJsonValue(false)) << cut.out;
    EXPECT_TRUE(reply[QStringLiteral("status")].isNull()) << cut.out;
    EXPECT_FALSE(reply[QStringLiteral("reply_hex")].toString().isEmpty()) << cut.out; // what did arrive
    EXPECT_NE(cut.err.find("cut off"), std::string::npos) << cut.err;

    Projector slow({QStringLiteral("--delay"), QStringLiteral("700")});
    EXPECT_EQ(cli({QStringLiteral("--port"), slow.device(), QStringLiteral("mode")}).status, 1);
    const CliRun next = cli({QStringLiteral("--port"), slow.device(), QStringLiteral("--timeout"),
        QStringLiteral("2000"), QStringLiteral("power-on")});
    EXPECT_EQ(next.status, 0) << next.err;
    EXPECT_EQ(next.out, "ACK\n"); // its own reply, not mode's "1 CR"
}

TEST(Cli, RepliesInPiecesOrAmidNoiseAreReadWhole)
{
    Projector pieces(
        {QStringLiteral("--pieces"), QStringLiteral("3"), QStringLiteral("--gap"), QStringLiteral("40")});
    const CliRun run = cli({QStringLiteral("--port"), pieces.device(), QStringLiteral("lamp-time")});
    EXPECT_EQ(run.status, 0) << run.err;
    EXPECT_NE(run.out.find("Hour Use"), std::string::npos) << run.out;
    Projector noisy({QStringLiteral("--noise"), QStringLiteral("40")});
    for (int i = 0; i < 5; ++i) {
        const CliRun noise = cli(
            {QStringLiteral("--port"), noisy.device(), QStringLiteral("--json"), QStringLiteral("status")});
        EXPECT_TRUE(noise.status == 0 || noise.status == 1) << noise.err;
        EXPECT_FALSE(QJsonDocument::fromJson(QByteArray::fromStdString(noise.out)).isNull()) << noise.out;
    }
}

TEST(Cli, APortThatCannotBeOpenedIsExitThreeWithItsReason)
{
    const CliRun missing = cli(
        {QStringLiteral("--port"), QStringLiteral("/dev/qv550-no-such-device"), QStringLiteral("status")});
    EXPECT_EQ(missing.status, 3);
    EXPECT_NE(missing.err.find("/dev/qv550-no-such-device: no such device"), std::string::npos)
        << missing.err;

    // Held by a program that is not ours: it is named.
    Projector projector;
    QSerialPort foreign;
    foreign.setPortName(projector.device());
    ASSERT_TRUE(foreign.open(QIODevice::ReadWrite));
    const CliRun busy = cli({QStringLiteral("--port"), projector.device(), QStringLiteral("status")});
    EXPECT_EQ(busy.status, 3);
    EXPECT_NE(busy.err.find(
                  "is in use by e2e_tests (process " + std::to_string(QCoreApplication::applicationPid())),
        std::string::npos)
        << busy.err;
}

// The panel owns its line and serves it: scripts given the same line talk
// through it, each getting only its own replies.
TEST(SharedLine, ScriptsTalkThroughThePanelAndEachGetsOnlyItsOwnReplies)
{
    Projector projector({QStringLiteral("--delay"), QStringLiteral("20")});
    const auto startPanel = [&](QProcess &panel) {
        panel.setProcessEnvironment(offscreenEnvironment());
        panel.start(QStringLiteral(PANEL_BINARY_DIR "/bin/qv550-control"), {projector.device()});
        QElapsedTimer waited;
        waited.start();
        CliRun through;
        while (waited.elapsed() < 5000) {
            through = cli({QStringLiteral("--port"), projector.device(), QStringLiteral("--json"),
                QStringLiteral("status")});
            if (through.status == 0 && through.out.find("\"via\":\"owner\"") != std::string::npos)
                return through;
            runFor(100);
        }
        return through;
    };
    QProcess panel;
    const CliRun first = startPanel(panel);
    ASSERT_EQ(first.status, 0) << first.err;
    EXPECT_EQ(jsonOf(first)[QStringLiteral("status")].toString(), QStringLiteral("Stand by"));

    // Four scripts at once, each asking its own query ten times.
    struct Script {
        const char *query;
        const char *code;
        const char *says; // a part of every decoded reply to it
    };
    const std::vector<Script> scripts = {{"status", "CR0\r", "Stand by"}, {"mode", "CR1\r", "Input mode"},
        {"lamp-time", "CR3\r", "Hour Use"}, {"setting", "CR4\r", "Normally"}};
    std::vector<std::unique_ptr<QProcess>> running;
    for (const Script &script : scripts) {
        running.push_back(std::make_unique<QProcess>());
        running.back()->start(QStringLiteral("bash"),
            {QStringLiteral("-c"),
                QStringLiteral("for i in 1 2 3 4 5 6 7 8 9 10; do \"$0\" --port \"$1\" --json \"$2\"; done"),
                kCli, projector.device(), QString::fromLatin1(script.query)});
    }
    for (std::size_t i = 0; i < scripts.size(); ++i) {
        ASSERT_TRUE(running[i]->waitForFinished(60000)) << scripts[i].query;
        const QList<QByteArray> replies = running[i]->readAllStandardOutput().trimmed().split('\n');
        EXPECT_EQ(replies.size(), 10) << scripts[i].query;
        for (const QByteArray &line : replies) {
            const QJsonObject reply = QJsonDocument::fromJson(line).object();
            EXPECT_EQ(reply[QStringLiteral("via")].toString(), QStringLiteral("owner")) << line.toStdString();
            EXPECT_EQ(reply[QStringLiteral("sent")].toString().toStdString(), scripts[i].code);
            EXPECT_TRUE(
                reply[QStringLiteral("status")].toString().contains(QString::fromLatin1(scripts[i].says)))
                << scripts[i].query << " was answered: " << line.toStdString();
        }
    }

    // Killed without a word, the owner leaves its socket behind: the next
    // owner finds nobody answering there and serves, with no clean-up by hand.
    ::kill(static_cast<pid_t>(panel.processId()), SIGKILL);
    panel.waitForFinished(3000);
    QProcess second;
    const CliRun after = startPanel(second);
    EXPECT_EQ(after.status, 0) << after.err;
    EXPECT_EQ(jsonOf(after)[QStringLiteral("via")].toString(), QStringLiteral("owner")) << after.out;
    stopProcess(second);
}

TEST(SharedLine, TheHeadlessOwnerServesTheLineAndLeavesNothingBehindWhenStopped)
{
    Projector projector;
    QProcess daemon;
    daemon.start(
        QStringLiteral(PANEL_BINARY_DIR "/bin/qv550d"), {QStringLiteral("--port"), projector.device()});
    daemon.setReadChannel(QProcess::StandardError);
    std::string said;
    while (said.find('\n') == std::string::npos && daemon.waitForReadyRead(5000))
        said += daemon.readAllStandardError().toStdString();
    const auto on = said.find(" on ");
    ASSERT_NE(on, std::string::npos) << said;
    const QString socket = QString::fromStdString(said.substr(on + 4, said.find('\n') - on - 4));
    EXPECT_TRUE(QFile::exists(socket)) << socket.toStdString();
    const CliRun through = cli({QStringLiteral("--port"), projector.device(), QStringLiteral("--json"),
        QStringLiteral("lamp-time")});
    EXPECT_EQ(through.status, 0) << through.err;
    EXPECT_EQ(jsonOf(through)[QStringLiteral("via")].toString(), QStringLiteral("owner"));
    // The owner's reply as --json prints it: the same fields as a call on the
    // port, without the socket's own id and "written".
    EXPECT_EQ(jsonOf(through).keys(),
        (QStringList{QStringLiteral("complete"), QStringLiteral("elapsed_ms"), QStringLiteral("monitor"),
            QStringLiteral("reply_hex"), QStringLiteral("sent"), QStringLiteral("status"),
            QStringLiteral("via")}))
        << through.out;
    EXPECT_FALSE(existingLockFile(projector.device().toStdString()).empty()); // it holds the port
    // A shell one-liner: the client's input ends after its requests, and it
    // still gets every reply.
    QProcess oneLiner;
    oneLiner.start(QStringLiteral("bash"),
        {QStringLiteral("-c"),
            QStringLiteral("printf '%s\\n' '{\"id\":1,\"hello\":true}' '{\"id\":2,\"command\":\"status\"}' | "
                           "socat - UNIX-CONNECT:\"$0\""),
            socket});
    ASSERT_TRUE(oneLiner.waitForFinished(10000));
    const QList<QByteArray> answers = oneLiner.readAllStandardOutput().trimmed().split('\n');
    ASSERT_EQ(answers.size(), 2) << oneLiner.readAllStandardError().toStdString();
    EXPECT_EQ(QJsonDocument::fromJson(answers[1]).object()[QStringLiteral("status")].toString(),
        QStringLiteral("Stand by"));
    // Two hundred clients at once: every one is answered.
    std::vector<std::unique_ptr<QLocalSocket>> clients;
    for (int i = 0; i < 200; ++i) {
        clients.push_back(std::make_unique<QLocalSocket>());
        clients.back()->connectToServer(socket);
        ASSERT_TRUE(clients.back()->waitForConnected(2000)) << i;
        clients.back()->write(QByteArray("{\"id\":") + QByteArray::number(i) + ",\"hello\":true}\n");
        clients.back()->flush();
    }
    int answered = 0;
    for (auto &client : clients) {
        if (client->canReadLine() || client->waitForReadyRead(3000))
            answered
                += QJsonDocument::fromJson(client->readLine()).object().contains(QStringLiteral("clients"));
    }
    EXPECT_EQ(answered, 200);
    clients.clear();
    // A second owner on the same line is refused, and says why.
    QProcess second;
    second.start(
        QStringLiteral(PANEL_BINARY_DIR "/bin/qv550d"), {QStringLiteral("--port"), projector.device()});
    ASSERT_TRUE(second.waitForFinished(5000));
    EXPECT_EQ(second.exitCode(), 1);
    EXPECT_NE(second.readAllStandardError().indexOf("already serves this line"), -1);
    ::kill(static_cast<pid_t>(daemon.processId()), SIGTERM);
    ASSERT_TRUE(daemon.waitForFinished(5000));
    EXPECT_EQ(daemon.exitStatus(), QProcess::NormalExit);
    EXPECT_EQ(daemon.exitCode(), 0);
    EXPECT_FALSE(QFile::exists(socket));
    EXPECT_TRUE(existingLockFile(projector.device().toStdString()).empty());
}

TEST(SharedLine, ASequenceRunsWithNothingFromAnotherProgramBetweenItsCommands)
{
    QTemporaryDir scratch;
    const QString log = scratch.filePath(QStringLiteral("sim.log"));
    Projector projector({QStringLiteral("--log"), log, QStringLiteral("--delay"), QStringLiteral("5")});
    QProcess daemon;
    daemon.start(
        QStringLiteral(PANEL_BINARY_DIR "/bin/qv550d"), {QStringLiteral("--port"), projector.device()});
    daemon.setReadChannel(QProcess::StandardError);
    ASSERT_TRUE(daemon.waitForReadyRead(5000));
    QProcess
        busy; // another script asking for the temperatures without pause (sent, not from the owner's cache)
    busy.start(QStringLiteral("bash"),
        {QStringLiteral("-c"),
            QStringLiteral("for i in $(seq 40); do \"$0\" --port \"$1\" send CR6 >/dev/null; done"), kCli,
            projector.device()});
    runFor(200);
    const CliRun sequence = cli(
        {QStringLiteral("--port"), projector.device(), QStringLiteral("seq"), QStringLiteral("power-on"),
            QStringLiteral("input-2"), QStringLiteral("input-3"), QStringLiteral("mode")});
    EXPECT_EQ(sequence.status, 0) << sequence.err;
    EXPECT_EQ(sequence.out, "ACK\nACK\nACK\nInput mode 3\n");
    ASSERT_TRUE(busy.state() == QProcess::NotRunning || busy.waitForFinished(60000));
    stopProcess(daemon);
    QFile sent(log);
    ASSERT_TRUE(sent.open(QIODevice::ReadOnly));
    QStringList lines;
    for (const QByteArray &line : sent.readAll().split('\n')) {
        if (!line.isEmpty())
            lines << QString::fromLatin1(line.mid(line.indexOf(' ') + 1));
    }
    const qsizetype first = lines.indexOf(QStringLiteral("C00"));
    ASSERT_GE(first, 0) << lines.join(u' ').toStdString();
    EXPECT_EQ(lines.mid(first, 4),
        QStringList(
            {QStringLiteral("C00"), QStringLiteral("C06"), QStringLiteral("C07"), QStringLiteral("CR1")}))
        << lines.join(u' ').toStdString();
    EXPECT_GT(lines.count(QStringLiteral("CR6")), 10); // the other script was served too
}

TEST(SharedLine, AnotherUserGetsNothingFromTheOwner)
{
    // A second user of this machine, with the same runtime folder named:
    // the owner's folder is its user's alone.
    const auto run = [](const QString &program, const QStringList &arguments) {
        QProcess process;
        process.start(program, arguments);
        process.waitForFinished(10000);
        return process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1;
    };
    run(QStringLiteral("useradd"),
        {QStringLiteral("--no-create-home"), QStringLiteral("qv550-other")}); // once per machine
    ASSERT_EQ(run(QStringLiteral("id"), {QStringLiteral("qv550-other")}), 0) << "useradd failed";
    QTemporaryDir runtime;
    QFile::setPermissions(runtime.path(),
        QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner | QFileDevice::ExeGroup
            | QFileDevice::ExeOther);
    QProcessEnvironment environment = offscreenEnvironment();
    environment.insert(QStringLiteral("XDG_RUNTIME_DIR"), runtime.path());
    QTemporaryDir scratch;
    const QString log = scratch.filePath(QStringLiteral("sim.log"));
    Projector projector({QStringLiteral("--log"), log});
    QProcess panel;
    panel.setProcessEnvironment(environment);
    panel.start(QStringLiteral(PANEL_BINARY_DIR "/bin/qv550-control"), {projector.device()});
    // Until the panel serves the line: before it opens the port, a call may
    // reach the port itself, and that is no answer through the owner.
    CliRun mine;
    const auto viaOwner = [&mine] {
        return mine.status == 0 && jsonOf(mine)[QStringLiteral("via")].toString() == QStringLiteral("owner");
    };
    QElapsedTimer waited;
    waited.start();
    do {
        runFor(100);
        mine = cli({QStringLiteral("--port"), projector.device(), QStringLiteral("--json"),
                       QStringLiteral("status")},
            environment);
    } while (!viaOwner() && waited.elapsed() < 20000);
    EXPECT_EQ(jsonOf(mine)[QStringLiteral("via")].toString(), QStringLiteral("owner"))
        << mine.out << mine.err;
    QProcess other;
    other.setProcessEnvironment(environment);
    other.start(QStringLiteral("runuser"),
        {QStringLiteral("-u"), QStringLiteral("qv550-other"), QStringLiteral("--"), kCli,
            QStringLiteral("--port"), projector.device(), QStringLiteral("--json"), QStringLiteral("mode")});
    ASSERT_TRUE(other.waitForFinished(20000));
    EXPECT_EQ(other.exitCode(), 3) << other.readAllStandardError().toStdString();
    EXPECT_EQ(
        QJsonDocument::fromJson(other.readAllStandardOutput()).object()[QStringLiteral("via")].toString(),
        QStringLiteral("port"));
    stopProcess(panel);
    QFile sent(log);
    ASSERT_TRUE(sent.open(QIODevice::ReadOnly));
    EXPECT_FALSE(sent.readAll().contains("CR1")) << "the other user's request reached the line";
}

TEST(Cli, ThePortIsLockedByTheDeviceItLeadsToWhateverItsPath)
{
    Projector projector({QStringLiteral("--countdown"), QStringLiteral("60000")});
    ASSERT_EQ(cli({QStringLiteral("--port"), projector.device(), QStringLiteral("power-on")}).status, 0);
    QProcess holder; // waits for a status that will not come in time, holding the port
    holder.start(kCli,
        {QStringLiteral("--port"), projector.device(), QStringLiteral("--timeout"), QStringLiteral("3000"),
            QStringLiteral("wait"), QStringLiteral("Power ON")});
    ASSERT_TRUE(holder.waitForStarted(5000));
    QTemporaryDir folder;
    const QString link = folder.filePath(QStringLiteral("projector"));
    ASSERT_TRUE(QFile::link(projector.device(), link));
    const QString device = projector.device();
    const QString dotted = device.left(device.lastIndexOf(u'/')) + QStringLiteral("/./")
        + device.mid(device.lastIndexOf(u'/') + 1);
    runFor(300);
    // Another qv550-cli waits for the port within its own time: with a short
    // one it is still held, and named.
    for (const QString &path : {link, dotted}) {
        const CliRun other = cli({QStringLiteral("--port"), path, QStringLiteral("--timeout"),
            QStringLiteral("200"), QStringLiteral("status")});
        EXPECT_EQ(other.status, 3) << path.toStdString() << ": " << other.out << other.err;
        EXPECT_NE(other.err.find("in use by qv550-cli"), std::string::npos) << other.err;
    }
    // With a longer one it gets the port once the holder is done.
    const CliRun patient = cli({QStringLiteral("--port"), link, QStringLiteral("--timeout"),
        QStringLiteral("8000"), QStringLiteral("mode")});
    EXPECT_EQ(patient.status, 0) << patient.err;
    holder.waitForFinished(5000);
}

TEST(Cli, WaitAsksUntilTheCountDownIsOver)
{
    Projector projector({QStringLiteral("--countdown"), QStringLiteral("1500")});
    ASSERT_EQ(cli({QStringLiteral("--port"), projector.device(), QStringLiteral("power-on")}).status, 0);
    QElapsedTimer clock;
    clock.start();
    const CliRun run = cli({QStringLiteral("--port"), projector.device(), QStringLiteral("--timeout"),
        QStringLiteral("10000"), QStringLiteral("wait"), QStringLiteral("Power ON")});
    EXPECT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(run.out, "Power ON\n");
    EXPECT_GE(clock.elapsed(), 1000);
    const CliRun late = cli({QStringLiteral("--port"), projector.device(), QStringLiteral("--timeout"),
        QStringLiteral("1500"), QStringLiteral("wait"), QStringLiteral("Stand by")});
    EXPECT_EQ(late.status, 1);
    EXPECT_NE(late.err.find("(last: \"Power ON\")"), std::string::npos) << late.err;
}

TEST(Cli, UsageErrorsAreExitTwoAndSayWhy)
{
    struct Case {
        QStringList arguments;
        const char *says;
    };
    const std::vector<Case> cases = {
        {{QStringLiteral("power-up")}, "unknown command 'power-up'"},
        {{QStringLiteral("--address"), QStringLiteral("5"), QStringLiteral("status")}, "--address is single"},
        {{QStringLiteral("--speed"), QStringLiteral("38400"), QStringLiteral("status")},
            "--speed is 19200 or 9600"},
        {{QStringLiteral("--frobnicate"), QStringLiteral("status")}, "unknown option --frobnicate"},
        {{QStringLiteral("send")}, "'send' takes one argument"},
        {{QStringLiteral("send"), QStringLiteral("CR\u20AC")}, "cannot be sent"},
        {{QStringLiteral("send"), QStringLiteral("C00\rC01")}, "holds a CR or LF"},
        {{QStringLiteral("statsu")}, "did you mean 'status'?"},
        {{QStringLiteral("wait"), QStringLiteral("Power on")},
            "\"Power on\" is no power status; wait takes one of:\n  \"Power ON\""},
        {{QStringLiteral("--json=1"), QStringLiteral("status")}, "--json takes no value"},
        {{QStringLiteral("seq")}, "'seq' takes one command name or more"},
        {{QStringLiteral("--port"), QStringLiteral("tcp://127.0.0.1"), QStringLiteral("status")}, "no port"},
        {{}, "no command given"},
    };
    for (const Case &c : cases) {
        const CliRun run = cli(c.arguments);
        EXPECT_EQ(run.status, 2) << c.says;
        EXPECT_NE(run.err.find(c.says), std::string::npos) << run.err;
    }
    // A byte that is no UTF-8 reaches the program only through a shell.
    QProcess shell;
    shell.start(QStringLiteral("bash"),
        {QStringLiteral("-c"), QStringLiteral("exec \"$0\" send \"$(printf 'C0\\377')\""), kCli});
    ASSERT_TRUE(shell.waitForFinished(10000));
    EXPECT_EQ(shell.exitCode(), 2);
    EXPECT_NE(shell.readAllStandardError().indexOf("not valid UTF-8"), -1);
}

TEST(Cli, TheLogHoldsWhatWasSentAndWhatArrived)
{
    Projector projector;
    QTemporaryDir folder;
    const QString log = folder.filePath(QStringLiteral("traffic.log"));
    ASSERT_EQ(cli({QStringLiteral("--port"), projector.device(), QStringLiteral("--log"), log,
                      QStringLiteral("status")})
                  .status,
        0);
    QFile file(log);
    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    const QStringList lines = QString::fromLatin1(file.readAll()).split(u'\n', Qt::SkipEmptyParts);
    ASSERT_GE(lines.size(), 2);
    EXPECT_TRUE(lines[0].endsWith(QStringLiteral(" sent 43 52 30 0D | C R 0 CR "))) << lines[0].toStdString();
    EXPECT_NE(lines[1].indexOf(QStringLiteral(" received 38 30 0D | 8 0 CR ")), -1) << lines[1].toStdString();
}

TEST(Cli, ThePortMappingSetsTheDefaultPortAndAnOptionOverridesIt)
{
    Projector projector;
    QTemporaryDir config;
    QDir().mkpath(config.filePath(QStringLiteral("qv550-control")));
    const QString file = config.filePath(QStringLiteral("qv550-control/ports.conf"));
    const auto withMapping = [&](const QString &text, const QStringList &arguments) {
        QFile out(file);
        out.open(QIODevice::WriteOnly | QIODevice::Truncate);
        out.write(text.toUtf8());
        out.close();
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.insert(QStringLiteral("XDG_CONFIG_HOME"), config.path());
        return cli(arguments, environment);
    };
    const CliRun mapped
        = withMapping(QStringLiteral("COM1=") + projector.device() + u'\n', {QStringLiteral("status")});
    EXPECT_EQ(mapped.status, 0) << mapped.err;
    EXPECT_EQ(mapped.out, "Stand by\n");
    const CliRun overridden = withMapping(QStringLiteral("COM1=") + projector.device() + u'\n',
        {QStringLiteral("--port"), QStringLiteral("/dev/qv550-no-such-device"), QStringLiteral("status")});
    EXPECT_EQ(overridden.status, 3);
    const CliRun missing
        = withMapping(QStringLiteral("COM1=/dev/qv550-no-such-device\n"), {QStringLiteral("status")});
    EXPECT_EQ(missing.status, 3);
    EXPECT_NE(missing.err.find("(COM1 is set in " + file.toStdString() + ")"), std::string::npos)
        << missing.err;
    const CliRun second = withMapping(QStringLiteral("COM2=") + projector.device() + u'\n',
        {QStringLiteral("--port"), QStringLiteral("COM2"), QStringLiteral("status")});
    EXPECT_EQ(second.status, 0) << second.err;
    const CliRun secondMissing = withMapping(QStringLiteral("COM2=/dev/qv550-no-such-device\n"),
        {QStringLiteral("--port"), QStringLiteral("COM2"), QStringLiteral("--json"),
            QStringLiteral("status")});
    EXPECT_EQ(secondMissing.status, 3);
    EXPECT_NE(secondMissing.err.find("(COM2 is set in " + file.toStdString() + ")"), std::string::npos)
        << secondMissing.err;
    EXPECT_FALSE(jsonOf(secondMissing)[QStringLiteral("error")].toString().isEmpty()) << secondMissing.out;
    const CliRun malformed
        = withMapping(QStringLiteral("# ok\nCOM1 /dev/ttyUSB0\n"), {QStringLiteral("status")});
    EXPECT_EQ(malformed.status, 2);
    EXPECT_NE(malformed.err.find(file.toStdString() + ":2: expected COM1=DEVICE"), std::string::npos)
        << malformed.err;
}

TEST(Cli, BashCompletesFromTheProgramsOwnListsAndNothingAfterACommand)
{
    QTemporaryDir folder;
    ASSERT_TRUE(QFile::link(QStringLiteral("/dev/null"), folder.filePath(QStringLiteral("ttyLectern"))));
    struct Case {
        QString words; // after the program's name; the last is the one completed
        std::string offered;
    };
    const std::string lectern = folder.filePath(QStringLiteral("ttyLectern")).toStdString();
    for (const Case &c : {Case{QStringLiteral("--address 2 lamp-"),
                              "lamp-4 lamp-1-4 lamp-2-3 lamp-select-query lamp-time lamp-mode"},
             Case{QStringLiteral("--json status ''"), ""}, Case{QStringLiteral("power-on --js"), "--json"},
             Case{QStringLiteral("seq power-on inp"), "input-1 input-2 input-3 input-4 input-query"},
             Case{QStringLiteral("wait Power"), "Power\\ ON Power\\ Fail"},
             Case{QStringLiteral("--port CO"), "COM1 COM2"},
             Case{QStringLiteral("--line-wait 3000 sta"), "status state"},
             Case{QStringLiteral("--li"), "--line-wait"},
             Case{QStringLiteral("--port ") + folder.filePath(QStringLiteral("ttyL")), lectern}}) {
        QProcess bash;
        bash.start(QStringLiteral("bash"),
            {QStringLiteral("-c"),
                QStringLiteral("source " PANEL_SOURCE_DIR "/packaging/qv550-cli.bash-completion; "
                               "COMP_WORDS=(%1 %2); COMP_CWORD=$((${#COMP_WORDS[@]} - 1)); _qv550_cli; "
                               "echo ${COMPREPLY[@]}")
                    .arg(kCli, c.words)});
        ASSERT_TRUE(bash.waitForFinished(10000));
        EXPECT_EQ(bash.readAllStandardOutput().trimmed().toStdString(), c.offered) << c.words.toStdString();
    }
}

} // namespace

namespace {

QJsonObject stateOf(const QString &device, int &status)
{
    const CliRun run
        = cli({QStringLiteral("--port"), device, QStringLiteral("--json"), QStringLiteral("state")});
    status = run.status;
    return QJsonDocument::fromJson(QByteArray::fromStdString(run.out)).object();
}

QString statusIn(const QJsonObject &state, const char *name)
{
    return state.value(QString::fromLatin1(name)).toObject().value(QStringLiteral("status")).toString();
}

int linesIn(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? static_cast<int>(file.readAll().count('\n')) : -1;
}

// qv550d with `options`, until it says it serves the line.
class Daemon {
public:
    Daemon(const QString &device, const QStringList &options = {})
    {
        process_.start(QStringLiteral(PANEL_BINARY_DIR "/bin/qv550d"),
            QStringList{QStringLiteral("--port"), device} + options);
        process_.setReadChannel(QProcess::StandardError);
        std::string said;
        while (said.find("serving") == std::string::npos && process_.waitForReadyRead(5000))
            said += process_.readAllStandardError().toStdString();
    }
    ~Daemon() { stopProcess(process_); }

private:
    QProcess process_;
};

} // namespace

TEST(LiveState, ScriptsReadTheOwnersStateWithNothingSentAndAFreshValueFromTheCache)
{
    QTemporaryDir folder;
    const QString log = folder.filePath(QStringLiteral("sim.log"));
    Projector projector({QStringLiteral("--log"), log});
    int status = -1;
    // No owner: the nine queries, once, on the port.
    QJsonObject state = stateOf(projector.device(), status);
    EXPECT_EQ(status, 0);
    EXPECT_EQ(linesIn(log), 9);
    EXPECT_EQ(state.size(), 9);
    EXPECT_EQ(statusIn(state, "setting-2"), QStringLiteral("Stand by"));

    Daemon daemon(projector.device(), {QStringLiteral("--no-poll")});
    state = stateOf(projector.device(), status);
    EXPECT_EQ(status, 1); // nothing read yet: the power status is not known
    EXPECT_TRUE(state.value(QStringLiteral("status")).toObject().value(QStringLiteral("status")).isNull());
    EXPECT_EQ(cli({QStringLiteral("--port"), projector.device(), QStringLiteral("status")}).status, 0);
    const int linesAfterAsking = linesIn(log);
    EXPECT_EQ(linesAfterAsking, 10);
    // Within its maximum age, the same question is answered from the cache.
    QLocalSocket owner;
    owner.connectToServer(QString::fromStdString(ownerSocketPath(projector.device().toStdString())));
    ASSERT_TRUE(owner.waitForConnected(2000));
    owner.write("{\"id\": 7, \"command\": \"status\", \"max_age_ms\": 60000}\n");
    ASSERT_TRUE(owner.waitForReadyRead(3000));
    const QJsonObject cached = QJsonDocument::fromJson(owner.readLine()).object();
    EXPECT_TRUE(cached.value(QStringLiteral("cached")).toBool());
    EXPECT_EQ(cached.value(QStringLiteral("status")), QStringLiteral("Stand by"));
    EXPECT_EQ(linesIn(log), linesAfterAsking);
    state = stateOf(projector.device(), status);
    EXPECT_EQ(status, 0);
    EXPECT_EQ(statusIn(state, "status"), QStringLiteral("Stand by"));
    EXPECT_GE(
        state.value(QStringLiteral("status")).toObject().value(QStringLiteral("age_ms")).toDouble(), 0.0);
    const CliRun plain = cli({QStringLiteral("--port"), projector.device(), QStringLiteral("state")});
    EXPECT_NE(plain.out.find("status     Stand by (read "), std::string::npos) << plain.out;
    EXPECT_NE(plain.out.find("mode       not read yet"), std::string::npos) << plain.out;
    EXPECT_LE(linesIn(log), linesAfterAsking + 1); // state itself sent nothing

    // A silent projector with no owner: told after one watch, not nine.
    Projector silent({QStringLiteral("--silent")});
    QElapsedTimer took;
    took.start();
    const CliRun nothing = cli({QStringLiteral("--port"), silent.device(), QStringLiteral("state")});
    EXPECT_EQ(nothing.status, 1);
    EXPECT_LT(took.elapsed(), 3000);
    EXPECT_NE(nothing.err.find("no reply from the projector"), std::string::npos) << nothing.err;
    EXPECT_NE(nothing.out.find("status     unknown since "), std::string::npos) << nothing.out;
}

TEST(LiveState, TheServiceFollowsCommandsRemoteChangesAndSilenceAndSaysSoToSubscribers)
{
    Projector projector({QStringLiteral("--countdown"), QStringLiteral("500")});
    Daemon daemon(projector.device());
    QLocalSocket watcher;
    watcher.connectToServer(QString::fromStdString(ownerSocketPath(projector.device().toStdString())));
    ASSERT_TRUE(watcher.waitForConnected(2000));
    watcher.write("{\"id\": 1, \"subscribe\": \"state\"}\n");
    QJsonObject latest;
    QObject::connect(&watcher, &QLocalSocket::readyRead, [&] {
        while (watcher.canReadLine()) {
            const QJsonObject event = QJsonDocument::fromJson(watcher.readLine()).object();
            if (event.value(QStringLiteral("event")) == QStringLiteral("state"))
                latest = event.value(QStringLiteral("state")).toObject();
        }
    });
    ASSERT_TRUE(runUntil([&] { return statusIn(latest, "status") == QStringLiteral("Stand by"); }, 3000));

    // A command through the owner: its confirming query shows the change.
    QElapsedTimer since;
    EXPECT_EQ(cli({QStringLiteral("--port"), projector.device(), QStringLiteral("power-on")}).status, 0);
    since.start();
    ASSERT_TRUE(runUntil([&] { return statusIn(latest, "status") != QStringLiteral("Stand by"); }, 3000));
    EXPECT_LT(since.elapsed(), 2500);
    // On: the full set follows, and a change made with the remote is seen.
    ASSERT_TRUE(runUntil([&] { return statusIn(latest, "mode") == QStringLiteral("Input mode 1"); }, 15000));
    projector.signal(SIGUSR1);
    since.restart();
    ASSERT_TRUE(runUntil([&] { return statusIn(latest, "mode") == QStringLiteral("Input mode 2"); }, 15000));
    EXPECT_LT(since.elapsed(), 12500);

    // Silent: unknown since a given time, never the last value as current.
    projector.signal(SIGUSR2);
    ASSERT_TRUE(runUntil(
        [&] {
            return latest.value(QStringLiteral("status"))
                .toObject()
                .contains(QStringLiteral("unknown_since"));
        },
        8000));
    int status = -1;
    const QJsonObject state = stateOf(projector.device(), status);
    EXPECT_EQ(status, 1);
    EXPECT_TRUE(state.value(QStringLiteral("mode")).toObject().value(QStringLiteral("status")).isNull());
    EXPECT_EQ(state.value(QStringLiteral("mode"))
                  .toObject()
                  .value(QStringLiteral("last"))
                  .toObject()
                  .value(QStringLiteral("status")),
        QStringLiteral("Input mode 2"));
    // Answering again: known again at the next probe (5 s after the first silence).
    projector.signal(SIGUSR2);
    EXPECT_TRUE(runUntil([&] { return statusIn(latest, "status") == QStringLiteral("Power ON"); }, 15000));
}

// qv550d as the system service runs it (its runtime folder /run/qv550, for
// the group dialout): the socket is for that group and no one else, and the
// panel and qv550-cli given the line find it.
TEST(Service, TheSystemServicesSocketIsForTheGroupDialoutAndEveryProgramFindsIt)
{
    const auto run = [](const QString &program, const QStringList &arguments, QByteArray *out = nullptr) {
        QProcess process;
        process.start(program, arguments);
        process.waitForFinished(10000);
        if (out)
            *out = process.readAllStandardOutput();
        return process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1;
    };
    run(QStringLiteral("useradd"),
        {QStringLiteral("--no-create-home"), QStringLiteral("qv550-other")}); // once per machine
    ASSERT_EQ(run(QStringLiteral("id"), {QStringLiteral("qv550-other")}), 0) << "useradd failed";
    const QString folder = QString::fromLatin1(kServiceFolder);
    ASSERT_FALSE(QFileInfo::exists(folder)) << "a service already runs here";
    ASSERT_TRUE(QDir().mkpath(folder));
    ASSERT_EQ(run(QStringLiteral("chgrp"), {QStringLiteral("dialout"), folder}), 0);
    Projector projector;
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QStringLiteral("RUNTIME_DIRECTORY"), folder);
    // A folder that would not give the socket its group is refused: the
    // unit's system call filter forbids chown, so the socket is never chowned.
    ::chmod(kServiceFolder, 0750);
    {
        QProcess refused;
        refused.setProcessEnvironment(environment);
        refused.start(
            QStringLiteral(PANEL_BINARY_DIR "/bin/qv550d"), {QStringLiteral("--port"), projector.device()});
        ASSERT_TRUE(refused.waitForFinished(10000));
        EXPECT_EQ(refused.exitCode(), 1);
        EXPECT_TRUE(refused.readAllStandardError().contains("would not have the group of /run/qv550"));
    }
    // As systemd makes it for the unit: RuntimeDirectoryMode=2750 (set-group-ID), Group=dialout.
    ::chmod(kServiceFolder, 02750);

    QProcess daemon;
    daemon.setProcessEnvironment(environment);
    daemon.start(
        QStringLiteral(PANEL_BINARY_DIR "/bin/qv550d"), {QStringLiteral("--port"), projector.device()});
    daemon.setReadChannel(QProcess::StandardError);
    std::string said;
    while (said.find('\n') == std::string::npos && daemon.waitForReadyRead(5000))
        said += daemon.readAllStandardError().toStdString();
    const std::string socket = ownerSocketPath(projector.device().toStdString());
    EXPECT_TRUE(socket.starts_with(kServiceFolder)) << socket;
    EXPECT_NE(said.find(" on " + socket), std::string::npos) << said;
    struct stat info { };
    ASSERT_EQ(::stat(socket.c_str(), &info), 0);
    EXPECT_EQ(info.st_mode & 0077, 0070U) << std::oct << info.st_mode;

    // Scripts find it.
    const CliRun mine = cli(
        {QStringLiteral("--port"), projector.device(), QStringLiteral("--json"), QStringLiteral("status")});
    EXPECT_EQ(jsonOf(mine)[QStringLiteral("via")].toString(), QStringLiteral("owner"))
        << mine.out << mine.err;
    // Another user reaches it only as a member of dialout.
    const QString hello = QStringLiteral("printf '%s\\n' '{\"id\":1,\"hello\":true}' | socat - UNIX-CONNECT:")
        + QString::fromStdString(socket);
    QByteArray answer;
    EXPECT_NE(run(QStringLiteral("setpriv"),
                  {QStringLiteral("--reuid=qv550-other"), QStringLiteral("--regid=qv550-other"),
                      QStringLiteral("--clear-groups"), QStringLiteral("bash"), QStringLiteral("-c"), hello},
                  &answer),
        0);
    EXPECT_TRUE(answer.isEmpty());
    EXPECT_EQ(
        run(QStringLiteral("setpriv"),
            {QStringLiteral("--reuid=qv550-other"), QStringLiteral("--regid=qv550-other"),
                QStringLiteral("--groups=dialout"), QStringLiteral("bash"), QStringLiteral("-c"), hello},
            &answer),
        0);
    EXPECT_TRUE(QJsonDocument::fromJson(answer).object().contains(QStringLiteral("clients")))
        << answer.toStdString();

    // A panel with --live on the line attaches to it, and follows its state.
    QProcess panel;
    panel.setProcessEnvironment(offscreenEnvironment());
    panel.start(QStringLiteral(PANEL_BINARY_DIR "/bin/qv550-control"),
        {QStringLiteral("--live"), projector.device()});
    QLocalSocket owner;
    owner.connectToServer(QString::fromStdString(socket));
    ASSERT_TRUE(owner.waitForConnected(2000));
    int clients = 0;
    for (int i = 0; i < 50 && clients < 3; ++i) {
        runFor(100);
        owner.write("{\"id\": 2, \"hello\": true}\n");
        if (owner.waitForReadyRead(1000))
            clients
                = QJsonDocument::fromJson(owner.readLine()).object().value(QStringLiteral("clients")).toInt();
    }
    EXPECT_EQ(clients, 3); // this test, the panel's line and its state feed
    EXPECT_EQ(panel.state(), QProcess::Running);
    stopProcess(panel);
    stopProcess(daemon);
    EXPECT_FALSE(QFileInfo::exists(QString::fromStdString(socket)));
    QDir().rmdir(folder);
}
