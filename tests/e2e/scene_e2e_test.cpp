// SPDX-License-Identifier: GPL-3.0-or-later
// Scenes as a room runs them: qv550d with a scene file on the simulated
// projector, qv550-cli asking for a scene, listing them, cancelling one,
// and running one itself on the port when no owner serves the line.

#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include "processes.h"

namespace {

const QString kCli = QStringLiteral(PANEL_BINARY_DIR "/bin/qv550-cli");
const QString kDaemon = QStringLiteral(PANEL_BINARY_DIR "/bin/qv550d");

// Count-down 3 s, cool-down 2 s in the simulator below.
constexpr const char *kScenes = R"({
  "presentation": [{"command": "power-on", "retry": {"count": 10, "interval_s": 1}},
                   {"wait": {"status": "Power ON"}, "timeout_s": 30},
                   {"command": "input-2"},
                   {"expect": {"mode": "Input mode 2"}, "timeout_s": 5}],
  "impatient": [{"command": "power-off"}, {"wait": {"status": "Stand by"}, "timeout_s": 0.5},
                {"command": "input-3"}],
  "slow": [{"delay_s": 30}, {"command": "input-4"}]
})";

struct CliResult {
    int status = -1;
    std::string out;
    std::string err;
};

CliResult cli(const QStringList &arguments, int timeoutMs = 60000)
{
    QProcess process;
    process.start(kCli, arguments);
    process.waitForFinished(timeoutMs);
    return {process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1,
        process.readAllStandardOutput().toStdString(), process.readAllStandardError().toStdString()};
}

std::vector<QJsonObject> objects(const std::string &lines)
{
    std::vector<QJsonObject> all;
    for (const QByteArray &line : QByteArray::fromStdString(lines).split('\n')) {
        if (!line.isEmpty())
            all.push_back(QJsonDocument::fromJson(line).object());
    }
    return all;
}

// The lines the simulator heard, without their times.
QStringList heard(const QString &log)
{
    QFile file(log);
    QStringList lines;
    if (!file.open(QIODevice::ReadOnly))
        return lines;
    for (const QByteArray &line : file.readAll().split('\n')) {
        if (!line.isEmpty())
            lines << QString::fromLatin1(line.mid(line.indexOf(' ') + 1));
    }
    return lines;
}

void startDaemon(QProcess &daemon, const QString &device, const QString &scenes)
{
    daemon.setReadChannel(QProcess::StandardError);
    daemon.start(kDaemon, {QStringLiteral("--port"), device, QStringLiteral("--scenes"), scenes});
    std::string said;
    while (said.find("serving") == std::string::npos && daemon.waitForReadyRead(5000))
        said += daemon.readAllStandardError().toStdString();
    ASSERT_NE(said.find("3 scenes from"), std::string::npos) << said;
}

TEST(SceneRuns, ABadFileStopsTheOwnerFromStartingAndSaysWhere)
{
    QTemporaryDir scratch;
    const QString file = scratch.filePath(QStringLiteral("room.json"));
    QFile bad(file);
    ASSERT_TRUE(bad.open(QIODevice::WriteOnly));
    bad.write(R"({"on": [{"command": "power-on"}, {"wait": {"status": "Powered"}}]})");
    bad.close();
    QProcess daemon;
    daemon.start(
        kDaemon, {QStringLiteral("--port"), QStringLiteral("/dev/null"), QStringLiteral("--scenes"), file});
    ASSERT_TRUE(daemon.waitForFinished(10000));
    EXPECT_EQ(daemon.exitCode(), 2);
    const std::string err = daemon.readAllStandardError().toStdString();
    EXPECT_NE(
        err.find(file.toStdString() + ": scene \"on\", step 2: \"Powered\" is never shown for \"status\""),
        std::string::npos)
        << err;
}

TEST(SceneRuns, APresentationThroughTheOwnerEndsWhenTheProjectorIsReallyOn)
{
    QTemporaryDir scratch;
    const QString file = scratch.filePath(QStringLiteral("room.json"));
    const QString log = scratch.filePath(QStringLiteral("sim.log"));
    QFile scenes(file);
    ASSERT_TRUE(scenes.open(QIODevice::WriteOnly));
    scenes.write(kScenes);
    scenes.close();
    ProjectorProcess projector({QStringLiteral("--log"), log, QStringLiteral("--countdown"),
        QStringLiteral("3000"), QStringLiteral("--cooldown"), QStringLiteral("2000")});
    QProcess daemon;
    startDaemon(daemon, projector.device(), file);

    const CliResult listed = cli({QStringLiteral("--port"), projector.device(), QStringLiteral("scenes")});
    EXPECT_EQ(listed.status, 0) << listed.err;
    EXPECT_NE(listed.out.find("presentation: command power-on; wait status = Power ON; command input-2; "
                              "expect mode = Input mode 2\n"),
        std::string::npos)
        << listed.out;

    const CliResult shown = cli({QStringLiteral("--port"), projector.device(), QStringLiteral("--json"),
        QStringLiteral("scene"), QStringLiteral("presentation")});
    ASSERT_EQ(shown.status, 0) << shown.out << shown.err;
    const auto steps = objects(shown.out);
    ASSERT_EQ(steps.size(), 5U) << shown.out; // four steps and the end
    const double waited = steps[1].value(QStringLiteral("elapsed_ms")).toDouble();
    EXPECT_GE(waited, 2500) << shown.out; // not before the count-down ended
    EXPECT_LE(waited, 10000) << shown.out;
    EXPECT_EQ(steps[1].value(QStringLiteral("detail")).toString(), QStringLiteral("status \"Power ON\""));
    EXPECT_EQ(steps[4].value(QStringLiteral("end")).toString(), QStringLiteral("done"));

    // A wait that runs out stops the scene: exit 1, the step and why, and
    // nothing after it is sent.
    const CliResult failed = cli(
        {QStringLiteral("--port"), projector.device(), QStringLiteral("scene"), QStringLiteral("impatient")});
    EXPECT_EQ(failed.status, 1) << failed.out << failed.err;
    EXPECT_NE(failed.out.find("impatient: failed, step 2 (wait status = Stand by): not met within 0.5 s"),
        std::string::npos)
        << failed.out;
    EXPECT_EQ(failed.out.find("3/3"), std::string::npos) << failed.out;
    EXPECT_TRUE(heard(log).contains(QStringLiteral("C06"))); // the log is read: input-2 went
    EXPECT_FALSE(heard(log).contains(QStringLiteral("C07")));

    // A scene that is cancelled stops at once, and its asker says so.
    QProcess slow;
    slow.start(kCli,
        {QStringLiteral("--port"), projector.device(), QStringLiteral("scene"), QStringLiteral("slow")});
    ASSERT_TRUE(slow.waitForStarted(5000));
    CliResult cancelled;
    for (int tries = 0; tries < 50; ++tries) { // until the owner has started it
        cancelled = cli({QStringLiteral("--port"), projector.device(), QStringLiteral("scene-cancel")});
        if (cancelled.status == 0)
            break;
        slow.waitForFinished(100);
    }
    EXPECT_EQ(cancelled.status, 0) << cancelled.err;
    EXPECT_EQ(cancelled.out, "stopped slow\n");
    ASSERT_TRUE(slow.waitForFinished(10000));
    EXPECT_EQ(slow.exitCode(), 1);
    EXPECT_NE(slow.readAllStandardOutput().indexOf("slow: stopped, cancelled by qv550-cli"), -1);
    EXPECT_FALSE(heard(log).contains(QStringLiteral("C08")));

    // Bash completes the scene names, as the scene file lists them.
    QProcess bash;
    bash.start(QStringLiteral("bash"),
        {QStringLiteral("-c"),
            QStringLiteral(
                "source " PANEL_SOURCE_DIR "/packaging/qv550-cli.bash-completion; "
                "COMP_WORDS=(%1 --scenes %2 scene \"\"); COMP_CWORD=4; _qv550_cli; echo ${COMPREPLY[@]}")
                .arg(kCli, file)});
    ASSERT_TRUE(bash.waitForFinished(10000));
    EXPECT_EQ(bash.readAllStandardOutput().trimmed().toStdString(), "impatient presentation slow");

    // No owner: with the scene file, qv550-cli runs the scene on the port itself.
    stopProcess(daemon);
    const CliResult off = cli({QStringLiteral("--port"), projector.device(), QStringLiteral("scene"),
        QStringLiteral("presentation")});
    EXPECT_EQ(off.status, 3) << off.err;
    EXPECT_NE(off.err.find("--scenes FILE"), std::string::npos) << off.err;
    const CliResult alone = cli({QStringLiteral("--port"), projector.device(), QStringLiteral("--scenes"),
        file, QStringLiteral("scene"), QStringLiteral("presentation")});
    EXPECT_EQ(alone.status, 0) << alone.out << alone.err;
    EXPECT_NE(alone.out.find("presentation: done"), std::string::npos) << alone.out;
}

} // namespace
