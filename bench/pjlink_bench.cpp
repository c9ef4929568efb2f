// SPDX-License-Identifier: GPL-3.0-or-later
// qv550d as a PJLink projector in front of the simulated one, timed from a
// controller written from the protocol's bytes: Home Assistant's poll
// (connect, authenticate, POWR, INPT, AVMT, close) 100 times a second for
// 30 s with qv550d's CPU, a set from PJLink to its bytes on the projector's
// line (the simulator's log, in milliseconds), and a zoom held at a panel
// that goes through the same qv550d, with and without the polls.

#include <QCoreApplication>
#include <QDateTime>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <QThread>

#include <thread>

#include "bench_figures.h"
#include "event_loop.h"
#include "mqtt_broker.h"
#include "pjlink_client.h"
#include "processes.h"
#include "x_session.h"

namespace {

const QString kBin = QStringLiteral(PANEL_BINARY_DIR "/bin/");
const QByteArray kPassword = "bench-secret";

// The times (ms since the epoch) of the lines in the simulator's log that end in `code`.
std::vector<qint64> heardAt(const QString &log, const QByteArray &code)
{
    QFile file(log);
    file.open(QIODevice::ReadOnly);
    std::vector<qint64> times;
    for (const QByteArray &line : file.readAll().split('\n')) {
        if (line.endsWith(" " + code))
            times.push_back(
                QDateTime::fromString(QString::fromLatin1(line.left(line.indexOf(' '))), Qt::ISODateWithMs)
                    .toMSecsSinceEpoch());
    }
    return times;
}

long linesIn(const QString &log)
{
    QFile file(log);
    return file.open(QIODevice::ReadOnly) ? static_cast<long>(file.readAll().count('\n')) : 0;
}

QByteArray askOnce(int port, const QByteArray &request)
{
    PjlinkClient client;
    client.setPassword(kPassword);
    return client.open(port) ? client.ask(request) : QByteArray();
}

bool askUntil(int port, const QByteArray &request, const QByteArray &expected, int milliseconds)
{
    QElapsedTimer waited;
    waited.start();
    while (waited.elapsed() < milliseconds) {
        if (askOnce(port, request) == expected)
            return true;
        QThread::msleep(100);
    }
    return false;
}

// Home Assistant's poll, `perSecond` times a second for `milliseconds`
// (or until `stop` holds): each poll's time from connecting to the last reply.
std::vector<double> polls(int port, int perSecond, int milliseconds, long &failed)
{
    std::vector<double> latencies;
    const auto start = Clock::now();
    const auto step = std::chrono::microseconds(1000000 / perSecond);
    auto next = start;
    while (msSince(start, Clock::now()) < milliseconds) {
        std::this_thread::sleep_until(next);
        next += step;
        const auto began = Clock::now();
        PjlinkClient client;
        client.setPassword(kPassword);
        const bool ok = client.open(port) && client.ask("%1POWR ?") == "%1POWR=1"
            && client.ask("%1INPT ?") == "%1INPT=31" && client.ask("%1AVMT ?") == "%1AVMT=30";
        client.close();
        if (!ok)
            ++failed;
        latencies.push_back(msSince(began, Clock::now()));
    }
    return latencies;
}

// The zoom + button held for 3 s at a panel on `device` (a client of
// qv550d), with `during` run meanwhile: the repeats' deviation from 50 ms.
std::vector<double> heldZoom(
    XSession &x, const QString &device, const QString &log, const std::function<void()> &during)
{
    QProcess panel;
    panel.setProcessEnvironment(x.environment());
    panel.start(kBin + QStringLiteral("qv550-control"), {device});
    const QString window = x.waitForWindow(QStringLiteral("QV550  CONTROL"));
    std::vector<double> deviations;
    if (window.isEmpty())
        return deviations;
    QThread::msleep(1000);
    const std::size_t before = heardAt(log, "C47").size();
    x.run(QStringLiteral("xdotool"),
        {QStringLiteral("mousemove"), QStringLiteral("--window"), window,
            QString::number((4440 + 375 / 2) / 15), QString::number((2880 + 255 / 2) / 15)});
    x.run(QStringLiteral("xdotool"), {QStringLiteral("mousedown"), QStringLiteral("1")});
    during();
    x.run(QStringLiteral("xdotool"), {QStringLiteral("mouseup"), QStringLiteral("1")});
    QThread::msleep(300);
    stopProcess(panel);
    const std::vector<qint64> times = heardAt(log, "C47");
    for (std::size_t i = before + 2; i < times.size(); ++i) // after the press and the first tick
        deviations.push_back(std::abs(static_cast<double>(times[i] - times[i - 1]) - 50.0));
    return deviations;
}

void pjlink()
{
    QTemporaryDir folder;
    const QString log = folder.filePath(QStringLiteral("sim.log"));
    const QString passwordFile = folder.filePath(QStringLiteral("pjlink.password"));
    writeFile(passwordFile, kPassword + '\n');
    QFile::setPermissions(passwordFile, QFileDevice::ReadOwner | QFileDevice::WriteOwner);
    ProjectorProcess projector(
        {QStringLiteral("--log"), log, QStringLiteral("--countdown"), QStringLiteral("500")});
    const int port = freePort();
    QProcess daemon;
    daemon.start(kBin + QStringLiteral("qv550d"),
        {QStringLiteral("--port"), projector.device(), QStringLiteral("--pjlink"),
            QStringLiteral("127.0.0.1:%1").arg(port), QStringLiteral("--pjlink-password-file"),
            passwordFile});
    daemon.setReadChannel(QProcess::StandardError);
    QByteArray said;
    while (!said.contains("PJLink on") && daemon.waitForReadyRead(5000))
        said += daemon.readAllStandardError();
    if (!askUntil(port, "%1POWR ?", "%1POWR=0", 10000) || askOnce(port, "%1POWR 1") != "%1POWR=OK"
        || !askUntil(port, "%1AVMT ?", "%1AVMT=30", 20000)) {
        said += daemon.readAllStandardError();
        std::printf("  skipped: the projector did not come on through PJLink (%s; POWR %s, AVMT %s)\n",
            said.constData(), askOnce(port, "%1POWR ?").constData(), askOnce(port, "%1AVMT ?").constData());
        stopProcess(daemon);
        return;
    }

    // A set to its bytes on the line, and to its OK.
    std::vector<double> toWire, toOk;
    std::vector<qint64> sentAt;
    for (int i = 0; i < 40; ++i) {
        PjlinkClient client;
        client.setPassword(kPassword);
        client.open(port);
        const QByteArray request = i % 2 ? "%1AVMT 10" : "%1AVMT 11";
        sentAt.push_back(QDateTime::currentMSecsSinceEpoch());
        const auto began = Clock::now();
        if (client.ask(request) != request.left(6) + "=OK")
            std::printf("  set %d: no OK\n", i);
        toOk.push_back(msSince(began, Clock::now()));
        QThread::msleep(50);
    }
    const std::vector<qint64> on = heardAt(log, "C0D"), off = heardAt(log, "C0E");
    for (std::size_t i = 0; i < sentAt.size(); ++i) {
        const std::vector<qint64> &heard = i % 2 ? off : on;
        if (i / 2 < heard.size())
            toWire.push_back(static_cast<double>(heard[i / 2] - sentAt[i]));
    }
    report("PJLink set to its bytes on the line, p50",
        fixed(percentile(toWire, 50), 0) + " ms (log in 1 ms steps)", "< 20 ms",
        percentile(toWire, 50) < 20.0);
    report("PJLink set to its bytes on the line, p99", fixed(percentile(toWire, 99), 0) + " ms", "-", true);
    report("PJLink set to OK (the projector's ACK), p50", fixed(percentile(toOk, 50), 2) + " ms", "-", true);

    // Home Assistant's poll, 100 a second for 30 s, once the last unmute is confirmed.
    askUntil(port, "%1AVMT ?", "%1AVMT=30", 15000);
    const double cpuBefore = processCpuSeconds(static_cast<pid_t>(daemon.processId()));
    const long linesBefore = linesIn(log);
    long failed = 0;
    const auto began = Clock::now();
    const std::vector<double> latencies = polls(port, 100, 30000, failed);
    const double wall = msSince(began, Clock::now()) / 1000.0;
    const double cpu = processCpuSeconds(static_cast<pid_t>(daemon.processId())) - cpuBefore;
    report("HA poll (connect, digest, POWR, INPT, AVMT), p50", fixed(percentile(latencies, 50), 2) + " ms",
        "-", true);
    report("HA poll, p99", fixed(percentile(latencies, 99), 2) + " ms", "< 10 ms",
        percentile(latencies, 99) < 10.0);
    report("HA polls done / failed", std::to_string(latencies.size()) + " / " + std::to_string(failed),
        "none failed", failed == 0);
    report("qv550d CPU during the polls", fixed(100.0 * cpu / wall, 1) + " %", "-", true);
    report("lines on the projector's line meanwhile",
        std::to_string(linesIn(log) - linesBefore) + " (the owner's own polls)", "-", true);

    // A held button at a panel going through the same qv550d.
    XSession x;
    if (!x.problem().empty()) {
        std::printf("  held zoom skipped: %s\n", x.problem().c_str());
    } else {
        const auto alone = heldZoom(x, projector.device(), log, [] { QThread::msleep(3000); });
        long ignored = 0;
        const auto busy
            = heldZoom(x, projector.device(), log, [&] { (void)polls(port, 100, 3000, ignored); });
        if (alone.empty() || busy.empty()) {
            std::printf("  held zoom skipped: no repeats reached the projector\n");
        } else {
            report("zoom + held 3 s at a panel via qv550d, deviation p99",
                fixed(percentile(alone, 99), 1) + " ms", "-", true);
            report("the same with 100 PJLink polls a second", fixed(percentile(busy, 99), 1) + " ms",
                "as without (+1 ms)", percentile(busy, 99) <= percentile(alone, 99) + 1.0);
        }
    }
    stopProcess(daemon);
}

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    std::printf("PJLink benchmarks\n");
    pjlink();
    const auto missed = std::count_if(rows.begin(), rows.end(), [](const Row &row) { return !row.met; });
    std::printf("%zu figures, %ld goals missed\n", rows.size(), static_cast<long>(missed));
    return 0;
}
