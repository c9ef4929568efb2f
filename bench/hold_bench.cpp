// SPDX-License-Identifier: GPL-3.0-or-later
// A held button beside scripts, as a venue has it: the real panel under a
// private X server holds zoom for 15 s while a client asks for the power
// status once a second and four scripts ask without pause, all through the
// panel, which owns the line. The projector is this program's own, on a
// pseudo-terminal, so every line is stamped the moment it arrives: the
// hold's period is measured where it matters, on the wire.

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>
#include <QPoint>
#include <QProcess>
#include <QTemporaryDir>

#include <atomic>
#include <cmath>
#include <cstdio>
#include <memory>
#include <mutex>
#include <optional>
#include <thread>
#include <vector>

#include "bench_figures.h"
#include "event_loop.h"
#include "processes.h"
#include "pseudo_terminal.h"
#include "serial/owner_socket.h"
#include "simulator/projector_model.h"
#include "x_session.h"

namespace {

const QString kBin = QStringLiteral(PANEL_BINARY_DIR "/bin/");
constexpr int kHoldMs = 15000;
constexpr double kRepeatMs = 50.0; // zoom's repeat

struct Arrival {
    Clock::time_point at;
    std::string line;
};

// The projector: answers every line at once, and stamps it as it arrives.
class StampingProjector {
public:
    StampingProjector() : thread_([this] { run(); }) { }
    ~StampingProjector()
    {
        stop_ = true;
        thread_.join();
    }
    std::string device() const { return pty_.devicePath(); }
    std::vector<Arrival> arrivals()
    {
        std::lock_guard lock(mutex_);
        return arrivals_;
    }

private:
    void run()
    {
        ProjectorModel model;
        const auto start = Clock::now();
        std::string pending;
        while (!stop_) {
            pending += pty_.read(20, 1);
            std::size_t end;
            while ((end = pending.find('\r')) != std::string::npos) {
                const auto now = Clock::now();
                const std::string line = pending.substr(0, end);
                pending.erase(0, end + 1);
                {
                    std::lock_guard lock(mutex_);
                    arrivals_.push_back({now, line});
                }
                if (auto answer = model.answer(line, static_cast<std::int64_t>(msSince(start, now))))
                    pty_.write(*answer);
            }
        }
    }

    PseudoTerminal pty_;
    std::mutex mutex_;
    std::vector<Arrival> arrivals_;
    std::atomic<bool> stop_{false};
    std::thread thread_;
};

// How far each interval between two repeats of the hold on the wire is from
// its period, for the repeats that arrived between `from` and `to`.
std::vector<double> periodDeviations(
    const std::vector<Arrival> &arrivals, Clock::time_point from, Clock::time_point to)
{
    std::vector<double> deviations;
    std::optional<Clock::time_point> previous;
    for (const Arrival &arrival : arrivals) {
        if (arrival.at < from || arrival.at > to || arrival.line != "C47")
            continue;
        if (previous)
            deviations.push_back(std::abs(msSince(*previous, arrival.at) - kRepeatMs));
        previous = arrival.at;
    }
    return deviations;
}

double worst(const std::vector<double> &values)
{
    return values.empty() ? 0.0 : *std::max_element(values.begin(), values.end());
}

} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    XSession x;
    if (!x.problem().empty()) {
        std::fprintf(stderr, "hold_bench: %s\n", x.problem().c_str());
        return 1;
    }
    QTemporaryDir runtime;
    QFile::setPermissions(
        runtime.path(), QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);
    qputenv("XDG_RUNTIME_DIR", runtime.path().toLocal8Bit());
    QProcessEnvironment environment = x.environment();
    environment.insert(QStringLiteral("XDG_RUNTIME_DIR"), runtime.path());

    StampingProjector projector;
    const QString device = QString::fromStdString(projector.device());
    QProcess panel;
    panel.setProcessEnvironment(environment);
    panel.start(kBin + QStringLiteral("qv550-control"), {QStringLiteral("--com1"), device});
    const QString window = x.waitForWindow(QStringLiteral("QV550  CONTROL"));
    if (window.isEmpty()) {
        std::fprintf(stderr, "hold_bench: the panel's window did not appear\n");
        return 1;
    }
    // Until the panel serves the line.
    QElapsedTimer waited;
    waited.start();
    for (;;) {
        QProcess probe;
        probe.setProcessEnvironment(environment);
        probe.start(kBin + QStringLiteral("qv550-cli"),
            {QStringLiteral("--port"), device, QStringLiteral("--json"), QStringLiteral("send"),
                QStringLiteral("CR0")});
        probe.waitForFinished(10000);
        if (probe.readAllStandardOutput().contains("\"via\":\"owner\""))
            break;
        if (waited.elapsed() > 20000) {
            std::fprintf(stderr, "hold_bench: the panel does not serve the line\n");
            return 1;
        }
        runFor(200);
    }

    // Zoom held on the panel.
    const QPoint zoomPlus((4440 + 375 / 2) / 15, (2880 + 255 / 2) / 15);
    x.run(QStringLiteral("xdotool"), {QStringLiteral("windowfocus"), QStringLiteral("--sync"), window});
    x.run(QStringLiteral("xdotool"),
        {QStringLiteral("mousemove"), QStringLiteral("--window"), window, QString::number(zoomPlus.x()),
            QString::number(zoomPlus.y())});
    const auto hold = [&x] {
        x.run(QStringLiteral("xdotool"), {QStringLiteral("mousedown"), QStringLiteral("1")});
    };
    const auto letGo = [&x] {
        x.run(QStringLiteral("xdotool"), {QStringLiteral("mouseup"), QStringLiteral("1")});
    };

    // The hold alone first: how steady the panel's own period is here.
    hold();
    const auto aloneStarted = Clock::now();
    runFor(5000);
    letGo();
    const auto aloneEnded = Clock::now();
    runFor(1000);

    // Four scripts without pause (each sends, so nothing is answered from the cache).
    std::vector<std::unique_ptr<QProcess>> scripts;
    for (int i = 0; i < 4; ++i) {
        scripts.push_back(std::make_unique<QProcess>());
        scripts.back()->setProcessEnvironment(environment);
        scripts.back()->start(QStringLiteral("bash"),
            {QStringLiteral("-c"),
                QStringLiteral("while :; do \"$0\" --port \"$1\" send CR6 >/dev/null 2>&1; done"),
                kBin + QStringLiteral("qv550-cli"), device});
    }
    runFor(500);

    // Zoom held again, among them all.
    hold();
    const auto holdStarted = Clock::now();

    // The client: once a second, the power status through the panel.
    std::vector<double> waits;
    int failures = 0;
    std::vector<std::unique_ptr<QProcess>> asked;
    std::vector<Clock::time_point> askedAt;
    for (int second = 0; second < kHoldMs / 1000 - 1; ++second) {
        runFor(1000 - static_cast<int>(msSince(holdStarted, Clock::now())) % 1000);
        asked.push_back(std::make_unique<QProcess>());
        QProcess *call = asked.back().get();
        call->setProcessEnvironment(environment);
        askedAt.push_back(Clock::now());
        const std::size_t index = askedAt.size() - 1;
        QObject::connect(call, &QProcess::finished, [&, call, index](int code) {
            waits.push_back(msSince(askedAt[index], Clock::now()));
            const QJsonObject reply = QJsonDocument::fromJson(call->readAllStandardOutput()).object();
            if (code != 0 || reply.value(QStringLiteral("via")).toString() != QStringLiteral("owner"))
                ++failures;
        });
        call->start(kBin + QStringLiteral("qv550-cli"),
            {QStringLiteral("--port"), device, QStringLiteral("--json"), QStringLiteral("--timeout"),
                QStringLiteral("500"), QStringLiteral("send"), QStringLiteral("CR0")});
    }
    runFor(kHoldMs - static_cast<int>(msSince(holdStarted, Clock::now())));
    letGo();
    const auto holdEnded = Clock::now();
    runUntil([&] { return waits.size() == asked.size(); }, 30000);
    // The owner's own count of the panel's repeats held behind a script.
    int held = -1;
    {
        QProcess hello;
        hello.setProcessEnvironment(environment);
        hello.start(QStringLiteral("bash"),
            {QStringLiteral("-c"),
                QStringLiteral(
                    "printf '%s\\n' '{\"id\":1,\"hello\":true}' | socat -t 5 - UNIX-CONNECT:\"$0\""),
                QString::fromStdString(ownerSocketPath(device.toStdString()))});
        hello.waitForFinished(10000);
        const QJsonObject answer = QJsonDocument::fromJson(hello.readAllStandardOutput()).object();
        if (answer.contains(QStringLiteral("panel_writes_held")))
            held = answer.value(QStringLiteral("panel_writes_held")).toInt();
    }
    for (auto &script : scripts)
        stopProcess(*script);
    stopProcess(panel);

    // The hold's repeats on the wire, and what else was served meanwhile.
    const std::vector<Arrival> arrivals = projector.arrivals();
    const std::vector<double> alone = periodDeviations(arrivals, aloneStarted, aloneEnded);
    const std::vector<double> deviations = periodDeviations(arrivals, holdStarted, holdEnded);
    int scriptLines = 0;
    int clientLines = 0;
    for (const Arrival &arrival : arrivals) {
        if (arrival.at >= holdStarted && arrival.at <= holdEnded) {
            scriptLines += arrival.line == "CR6";
            clientLines += arrival.line == "CR0";
        }
    }

    std::printf("hold_bench: zoom held %d s on the panel, a client asking once a second, four busy scripts\n",
        kHoldMs / 1000);
    report("client calls answered via the panel",
        std::to_string(waits.size() - static_cast<std::size_t>(failures)) + " of "
            + std::to_string(asked.size()),
        "all", failures == 0 && waits.size() == asked.size());
    report("client's wait, p99 (whole call)", fixed(percentile(waits, 99), 1) + " ms", "< 1000 ms",
        percentile(waits, 99) < 1000.0);
    report("client's worst wait (whole call)", fixed(worst(waits), 1) + " ms", "(shown)", true);
    report("client's wait, p50", fixed(percentile(waits, 50), 1) + " ms", "(shown)", true);
    report("hold alone: period deviation p50 / p99",
        fixed(percentile(alone, 50), 2) + " / " + fixed(percentile(alone, 99), 2) + " ms", "(shown)", true);
    report("hold's repeats on the wire", std::to_string(deviations.size() + 1), "(shown)", true);
    report("hold's period deviation, p50", fixed(percentile(deviations, 50), 2) + " ms", "(shown)", true);
    report("hold's period deviation, p99", fixed(percentile(deviations, 99), 2) + " ms", "< 3 ms",
        percentile(deviations, 99) < 3.0);
    report("panel's writes held behind a script", std::to_string(held), "(shown)", true);
    report("hold's period deviation, worst", fixed(worst(deviations), 2) + " ms", "(shown)", true);
    report("scripts' lines served during the hold", std::to_string(scriptLines), "(shown)", true);
    report("client's lines on the wire during the hold", std::to_string(clientLines), "(shown)", true);
    return 0;
}
