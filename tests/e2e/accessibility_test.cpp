// SPDX-License-Identifier: GPL-3.0-or-later
// The panel as a screen reader and a keyboard user meet it: the real program
// under a private X server, read and driven through AT-SPI (pyatspi, on the
// accessibility bus of a private D-Bus session) and the X keyboard, its
// controls' names, texts, roles and actions read back, a change of the
// status line heard, and what presses and keys put on the line read from
// the simulator's log.

#include <QDateTime>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <map>
#include <set>
#include <vector>

#include "processes.h"
#include "x_session.h"

namespace {

// One run of the probe against the panel on a simulated projector: the
// JSON lines it printed, and the lines the projector received with the
// time each arrived.
struct ProbeRun {
    std::vector<QJsonObject> output;
    std::vector<std::pair<QDateTime, QString>> received;
    std::string problem;

    std::vector<QJsonObject> nodes() const
    {
        std::vector<QJsonObject> found;
        for (const QJsonObject &line : output) {
            if (line.contains(QStringLiteral("role")) && !line.contains(QStringLiteral("tab"))
                && !line.contains(QStringLiteral("event")))
                found.push_back(line);
        }
        return found;
    }
    std::vector<QJsonObject> with(const QString &key) const
    {
        std::vector<QJsonObject> found;
        for (const QJsonObject &line : output) {
            if (line.contains(key))
                found.push_back(line);
        }
        return found;
    }
    std::vector<QDateTime> timesOf(const QString &line) const
    {
        std::vector<QDateTime> times;
        for (const auto &[when, text] : received) {
            if (text == line)
                times.push_back(when);
        }
        return times;
    }
};

ProbeRun runProbe(const QStringList &steps)
{
    ProbeRun run;
    XSession x;
    if (!x.problem().empty()) {
        run.problem = x.problem();
        return run;
    }
    QTemporaryDir scratch;
    const QString log = scratch.filePath(QStringLiteral("sim.log"));
    QProcess simulator;
    simulator.start(QStringLiteral(PANEL_BINARY_DIR "/bin/qv550-sim"), {QStringLiteral("--log"), log});
    if (!simulator.waitForReadyRead(5000)) {
        run.problem = "the simulator did not start";
        return run;
    }
    const QString device = QString::fromLocal8Bit(simulator.readLine().trimmed());
    QProcess probe;
    probe.setProcessEnvironment(x.environment());
    probe.start(QStringLiteral("dbus-run-session"),
        QStringList{QStringLiteral("--"), QStringLiteral("/usr/bin/python3"),
            QStringLiteral(PANEL_SOURCE_DIR "/tests/e2e/atspi_probe.py"),
            QStringLiteral(PANEL_BINARY_DIR "/bin/qv550-control"), device}
            + steps);
    if (!probe.waitForFinished(120000)) {
        stopProcess(probe);
        run.problem = "the AT-SPI probe did not finish";
    }
    const QByteArray out = probe.readAllStandardOutput();
    if (probe.exitCode() != 0)
        run.problem = probe.readAllStandardError().toStdString() + out.toStdString();
    for (const QByteArray &line : out.split('\n')) {
        const QJsonObject object = QJsonDocument::fromJson(line).object();
        if (!object.isEmpty())
            run.output.push_back(object);
    }
    stopProcess(simulator);
    QFile sent(log);
    if (sent.open(QIODevice::ReadOnly)) {
        for (const QByteArray &line : sent.readAll().split('\n')) {
            const qsizetype space = line.indexOf(' ');
            if (space > 0) {
                run.received.emplace_back(
                    QDateTime::fromString(QString::fromLatin1(line.left(space)), Qt::ISODateWithMs),
                    QString::fromLatin1(line.mid(space + 1)));
            }
        }
    }
    return run;
}

TEST(ScreenReader, EveryControlHasANameOfItsOwnEveryLabelItsTextAndEveryGroupIsAGroup)
{
    const ProbeRun run = runProbe({QStringLiteral("press:Ask POWER"), QStringLiteral("press:POWER ON"),
        QStringLiteral("press:Status query running state (STATUS)"),
        QStringLiteral("events:The status line")});
    ASSERT_TRUE(run.problem.empty()) << run.problem;

    std::map<QString, int> names;
    std::set<QString> labels, groups;
    int buttons = 0, pressableLabels = 0;
    for (const QJsonObject &node : run.nodes()) {
        const QString name = node[QStringLiteral("name")].toString();
        const QString role = node[QStringLiteral("role")].toString();
        const QJsonArray actions = node[QStringLiteral("actions")].toArray();
        const std::string line = QJsonDocument(node).toJson(QJsonDocument::Compact).toStdString();
        // Only the window itself is a window: a group inside it is no frame.
        if (role == QStringLiteral("frame")) {
            EXPECT_EQ(node[QStringLiteral("parent")].toString(), QStringLiteral("application")) << line;
        }
        if (role == QStringLiteral("panel") && !name.isEmpty())
            groups.insert(name);
        if (role == QStringLiteral("label")) {
            // Every label's text can be read, and names it unless the label
            // is one that asks the projector, which says so.
            ASSERT_TRUE(node[QStringLiteral("text")].isString()) << line << " has no Text interface";
            const QString text = node[QStringLiteral("text")].toString();
            if (actions.contains(QStringLiteral("Press"))) {
                ++pressableLabels;
                EXPECT_FALSE(text.isEmpty()) << line;
            } else {
                EXPECT_EQ(name, text) << line;
                labels.insert(name);
            }
        }
        if (role != QStringLiteral("push button") && role != QStringLiteral("radio button")
            && !actions.contains(QStringLiteral("Press")))
            continue;
        ++names[name];
        EXPECT_FALSE(name.isEmpty()) << line;
        EXPECT_FALSE(node[QStringLiteral("description")].toString().isEmpty()) << line;
        buttons += role == QStringLiteral("push button");
    }
    EXPECT_GE(buttons, 90); // the data panel button is hidden at first
    EXPECT_EQ(pressableLabels, 14);
    for (const auto &[name, count] : names)
        EXPECT_EQ(count, 1) << name.toStdString() << " is shared";
    for (const char *caption : {"Zoom", "Focus", "TXD", "RXD", "CMD", "PJ Select", "STATUS", "LENS SHIFT"})
        EXPECT_TRUE(labels.count(QString::fromLatin1(caption))) << caption << " cannot be read";
    for (const char *group : {"POWER", "INPUT MODE SET", "SOUND MUTE", "NO SHOW", "MENU", "FREEZE",
             "Screen size", "LENS SHIFT", "FAN SPEED", "Input selection matrix"})
        EXPECT_TRUE(groups.count(QString::fromLatin1(group))) << group << " is not a group";

    // Both presses reached the line, and the query's answer was heard: the
    // command on TXD and the decoded reply on the status line.
    EXPECT_FALSE(run.timesOf(QStringLiteral("CR PROJH")).empty());
    EXPECT_FALSE(run.timesOf(QStringLiteral("C00")).empty());
    ASSERT_FALSE(run.timesOf(QStringLiteral("CR0")).empty());
    bool heardTxd = false, heardStatus = false;
    for (const QJsonObject &event : run.with(QStringLiteral("event"))) {
        if (!event[QStringLiteral("event")].toString().startsWith(
                QStringLiteral("object:text-changed:insert")))
            continue;
        const QString description = event[QStringLiteral("description")].toString();
        const QString data = event[QStringLiteral("data")].toString();
        heardTxd = heardTxd
            || (description.contains(QStringLiteral("(TXD)")) && data.contains(QStringLiteral(" C R 0")));
        heardStatus = heardStatus
            || (description.startsWith(QStringLiteral("The status line")) && !data.trimmed().isEmpty());
    }
    EXPECT_TRUE(heardTxd);
    EXPECT_TRUE(heardStatus);
}

// The gaps between the arrivals of one line, in ms, and its runs: arrivals
// less than `apart` ms after the one before belong to the same run.
std::vector<std::vector<qint64>> runsOf(const std::vector<QDateTime> &times, qint64 apart)
{
    std::vector<std::vector<qint64>> runs;
    for (std::size_t i = 0; i < times.size(); ++i) {
        const qint64 gap = i == 0 ? apart : times[i - 1].msecsTo(times[i]);
        if (gap >= apart)
            runs.emplace_back();
        else
            runs.back().push_back(gap);
    }
    return runs;
}

qint64 median(std::vector<qint64> values)
{
    std::sort(values.begin(), values.end());
    return values.empty() ? -1 : values[values.size() / 2];
}

TEST(Keyboard, AHeldKeyRepeatsAHoldButtonAtItsPeriodUntilReleasedAPressStepsOnceAndEnterActivates)
{
    const ProbeRun run = runProbe({QStringLiteral("activate"), QStringLiteral("focus:Zoom plus"),
        QStringLiteral("keydown:space"), QStringLiteral("sleep:1000"), QStringLiteral("keyup:space"),
        QStringLiteral("sleep:1000"), QStringLiteral("press:Zoom plus"), QStringLiteral("sleep:300"),
        QStringLiteral("focus:Volume up"), QStringLiteral("keydown:Return"), QStringLiteral("sleep:1500"),
        QStringLiteral("keyup:Return"), QStringLiteral("sleep:1000"), QStringLiteral("press:Volume up"),
        QStringLiteral("focus:Screen size Full"), QStringLiteral("key:Return"),
        QStringLiteral("focus:Screen size Normal"), QStringLiteral("key:KP_Enter"),
        QStringLiteral("sleep:500")});
    ASSERT_TRUE(run.problem.empty()) << run.problem;

    // Zoom repeats every 50 ms while Space is held, then nothing until the
    // press action's one step.
    const auto zoom = runsOf(run.timesOf(QStringLiteral("C47")), 600);
    ASSERT_EQ(zoom.size(), 2U) << "a hold, then a step";
    EXPECT_GE(zoom[0].size(), 10U);
    EXPECT_LE(zoom[0].size(), 40U);
    EXPECT_GE(median(zoom[0]), 40);
    EXPECT_LE(median(zoom[0]), 100);
    EXPECT_TRUE(zoom[1].empty()) << "the press action sent more than one step";
    // The volume every 250 ms while Return is held.
    const auto volume = runsOf(run.timesOf(QStringLiteral("C09")), 900);
    ASSERT_EQ(volume.size(), 2U);
    EXPECT_GE(volume[0].size(), 3U);
    EXPECT_LE(volume[0].size(), 9U);
    EXPECT_GE(median(volume[0]), 220);
    EXPECT_LE(median(volume[0]), 350);
    EXPECT_TRUE(volume[1].empty());
    std::printf(
        "held Space on Zoom plus: %zu commands, every %lld ms (median); held Return on Volume up: %zu "
        "commands, every %lld ms\n",
        zoom[0].size() + 1, static_cast<long long>(median(zoom[0])), volume[0].size() + 1,
        static_cast<long long>(median(volume[0])));
    // Enter and the keypad's Enter activate a focused button.
    EXPECT_EQ(run.timesOf(QStringLiteral("C10")).size(), 1U);
    EXPECT_EQ(run.timesOf(QStringLiteral("C0F")).size(), 1U);
}

TEST(Keyboard, TabNeverStopsOffTheWindowAtAnyHeightAndTheKeyboardReachesTheFullHeight)
{
    const ProbeRun run
        = runProbe({QStringLiteral("activate"), QStringLiteral("tabround:75"), QStringLiteral("key:ctrl+q"),
            QStringLiteral("tabround:95"), QStringLiteral("key:ctrl+q"), QStringLiteral("tabround:125")});
    ASSERT_TRUE(run.problem.empty()) << run.problem;
    std::map<int, std::set<QString>> stops; // by the window's height
    for (const QJsonObject &tab : run.with(QStringLiteral("tab"))) {
        const std::string line = QJsonDocument(tab).toJson(QJsonDocument::Compact).toStdString();
        ASSERT_TRUE(tab[QStringLiteral("tab")].isString()) << "a Tab moved the focus nowhere";
        EXPECT_TRUE(tab[QStringLiteral("inside")].toBool()) << line;
        stops[tab[QStringLiteral("window")].toArray().at(3).toInt()].insert(
            tab[QStringLiteral("tab")].toString());
    }
    // The compact window, the data panel (Ctrl+Q) and the full height (Ctrl+Q
    // again), each gone round.
    const std::vector<int> heights = {(5350 - 370) / 15, (7200 - 370) / 15, (9100 - 370) / 15};
    for (const int height : heights)
        ASSERT_TRUE(stops.count(height)) << "no Tab at the height " << height;
    EXPECT_TRUE(stops[heights[0]].count(QStringLiteral("POWER ON")));
    EXPECT_TRUE(stops[heights[0]].count(QStringLiteral("Ask POWER"))); // a label that asks
    EXPECT_FALSE(stops[heights[0]].count(QStringLiteral("Status query running state (STATUS)")));
    EXPECT_TRUE(stops[heights[1]].count(QStringLiteral("Status query running state (STATUS)")));
    EXPECT_FALSE(stops[heights[1]].count(QStringLiteral("Fan speed MAX")));
    EXPECT_TRUE(stops[heights[2]].count(QStringLiteral("Fan speed MAX")));
    EXPECT_TRUE(stops[heights[2]].count(QStringLiteral("Command line")));
}

} // namespace
