// SPDX-License-Identifier: GPL-3.0-or-later
// What keeping the projector's state fresh costs and how fresh it is: qv550d
// polling the simulated projector, watched through its socket. The line's
// occupancy is counted in bytes on the wire (each 10 bits at 19200 baud:
// start, 8 data, stop) over the time measured, from the traffic the owner
// reports; the time transactions held the line (the owner's own count, which
// includes waiting for replies) is shown beside it. Changes are timed from the
// cause to the state event a subscriber receives.

#include <QCoreApplication>
#include <QDateTime>
#include <QElapsedTimer>
#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>
#include <QLocalSocket>
#include <QProcess>
#include <QTemporaryDir>

#include <csignal>
#include <map>
#include <random>

#include "bench_figures.h"
#include "event_loop.h"
#include "processes.h"
#include "serial/owner_socket.h"

namespace {

const QString kBin = QStringLiteral(PANEL_BINARY_DIR "/bin/");

// One connection to the owner: requests answered in turn, the state events
// of a subscription, each stamped as it arrives, and the bytes of traffic.
class OwnerClient {
public:
    explicit OwnerClient(const QString &socket)
    {
        socket_.connectToServer(socket);
        socket_.waitForConnected(2000);
        QObject::connect(&socket_, &QLocalSocket::readyRead, [this] { read(); });
    }
    QJsonObject ask(QJsonObject request, int waitMs = 5000)
    {
        const int id = ++nextId_;
        request[QStringLiteral("id")] = id;
        socket_.write(QJsonDocument(request).toJson(QJsonDocument::Compact) + '\n');
        runUntil([&] { return replies_.count(id) > 0; }, waitMs);
        return replies_[id];
    }
    QJsonObject latest;
    Clock::time_point latestAt;
    long trafficBytes = 0;

private:
    void read()
    {
        while (socket_.canReadLine()) {
            const QJsonObject message = QJsonDocument::fromJson(socket_.readLine()).object();
            if (message.value(QStringLiteral("event")) == QStringLiteral("traffic")) {
                trafficBytes += message.value(QStringLiteral("hex")).toString().size() / 2;
            } else if (message.value(QStringLiteral("event")) == QStringLiteral("state")) {
                latest = message.value(QStringLiteral("state")).toObject();
                latestAt = Clock::now();
            } else if (message.contains(QStringLiteral("id"))) {
                replies_[message.value(QStringLiteral("id")).toInt()] = message;
            }
        }
    }
    QLocalSocket socket_;
    std::map<int, QJsonObject> replies_;
    int nextId_ = 0;
};

QString statusIn(const QJsonObject &state, const char *name)
{
    return state.value(QString::fromLatin1(name)).toObject().value(QStringLiteral("status")).toString();
}

QJsonObject request(const char *verb, const QJsonValue &value)
{
    QJsonObject object;
    object[QString::fromLatin1(verb)] = value;
    return object;
}

struct Occupancy {
    double wire = 0; // the share of the time bytes were on the wire
    double held = 0; // the share of the time transactions held the line
};

// Over `seconds`; `traffic` is subscribed to the owner's traffic.
Occupancy occupancy(OwnerClient &owner, OwnerClient &traffic, int seconds)
{
    const double before = owner.ask(request("hello", true)).value(QStringLiteral("line_busy_ms")).toDouble();
    const long bytesBefore = traffic.trafficBytes;
    runFor(seconds * 1000);
    const double after = owner.ask(request("hello", true)).value(QStringLiteral("line_busy_ms")).toDouble();
    constexpr double kBitsPerByte = 10, kBaud = 19200;
    return {static_cast<double>(traffic.trafficBytes - bytesBefore) * kBitsPerByte / kBaud / seconds,
        (after - before) / (seconds * 1000.0)};
}

QList<double> linesAt(const QString &log)
{
    // Each line of the simulator's log begins with its local time, ISO 8601 with ms.
    QList<double> times;
    QFile file(log);
    if (!file.open(QIODevice::ReadOnly))
        return times;
    for (const QByteArray &line : file.readAll().split('\n')) {
        const QDateTime at
            = QDateTime::fromString(QString::fromLatin1(line.left(line.indexOf(' '))), Qt::ISODateWithMs);
        if (at.isValid())
            times.push_back(static_cast<double>(at.toMSecsSinceEpoch()) / 1000.0);
    }
    return times;
}

void polling()
{
    QTemporaryDir folder;
    const QString log = folder.filePath(QStringLiteral("sim.log"));
    ProjectorProcess sim(
        {QStringLiteral("--log"), log, QStringLiteral("--countdown"), QStringLiteral("2000")});
    const QString device = sim.device();
    QProcess daemon;
    daemon.start(kBin + QStringLiteral("qv550d"), {QStringLiteral("--port"), device});
    runFor(500);
    const pid_t daemonPid = static_cast<pid_t>(daemon.processId());
    OwnerClient owner(QString::fromStdString(ownerSocketPath(device.toStdString())));
    OwnerClient watcher(QString::fromStdString(ownerSocketPath(device.toStdString())));
    watcher.ask(request("subscribe", QStringLiteral("state")));
    OwnerClient traffic(QString::fromStdString(ownerSocketPath(device.toStdString())));
    traffic.ask(request("subscribe", QStringLiteral("traffic")));

    const Occupancy standby = occupancy(owner, traffic, 60);
    report("live: line occupancy in stand-by (60 s, bytes on the wire)", fixed(standby.wire * 100, 3) + " %",
        "< 0.2 %", standby.wire < 0.002);
    report("live: line held by transactions in stand-by (60 s)", fixed(standby.held * 100, 3) + " %",
        "(with the reply waits)", true);

    const auto ordered = Clock::now();
    const QJsonObject acked = owner.ask(request("command", QStringLiteral("power-on")));
    const auto replied = ordered
        + std::chrono::microseconds(
            static_cast<long>(acked.value(QStringLiteral("elapsed_ms")).toDouble() * 1000));
    runUntil([&] { return statusIn(watcher.latest, "status") == QStringLiteral("Count down"); }, 5000);
    const double shown = msSince(replied, watcher.latestAt);
    report(
        "live: a command's change shown after its reply", fixed(shown, 0) + " ms", "< 2000 ms", shown < 2000);
    runUntil([&] { return !statusIn(watcher.latest, "temp").isEmpty(); }, 20000);

    const double cpuBefore = processCpuSeconds(daemonPid);
    const auto cpuFrom = Clock::now();
    const Occupancy on = occupancy(owner, traffic, 60);
    report("live: line occupancy when on (60 s, bytes on the wire)", fixed(on.wire * 100, 3) + " %", "< 2 %",
        on.wire < 0.02);
    report("live: line held by transactions when on (60 s)", fixed(on.held * 100, 3) + " %",
        "(with the reply waits)", true);
    const double cpu = (processCpuSeconds(daemonPid) - cpuBefore) / (msSince(cpuFrom, Clock::now()) / 1000.0);
    report("live: qv550d CPU while polling (on, 60 s)", fixed(cpu * 100, 3) + " % of a core", "< 0.5 %",
        cpu < 0.005);
    // One more qv550d costs its unique memory; resident memory counts the shared libraries whole.
    const Memory memory = memoryOf(daemonPid);
    report("live: qv550d unique memory (USS)",
        fixed(memory.uss, 1) + " MB (RSS " + fixed(memory.rss, 1) + ")", "< 4 MB", memory.uss < 4);

    // Behind the owner's back: the remote chooses the next input.
    std::vector<double> remote;
    std::mt19937 random(7);
    for (int i = 0; i < 5; ++i) {
        const QString before = statusIn(watcher.latest, "mode");
        sim.signal(SIGUSR1);
        const auto changed = Clock::now();
        runUntil([&] { return statusIn(watcher.latest, "mode") != before; }, 30000);
        remote.push_back(msSince(changed, watcher.latestAt));
        runFor(std::uniform_int_distribution<int>(0, 4000)(random));
    }
    report("live: a remote change shown (when on, worst of 5)",
        fixed(*std::max_element(remote.begin(), remote.end()) / 1000, 1) + " s", "< 12 s",
        *std::max_element(remote.begin(), remote.end()) < 12000);

    // Presses (a client's commands) among polls: none waits behind a poll
    // longer than the poll's watch (500 ms).
    std::vector<double> waits;
    for (int i = 0; i < 200; ++i) {
        runFor(std::uniform_int_distribution<int>(20, 300)(random));
        const auto asked = Clock::now();
        const QJsonObject got = owner.ask(request("command", QStringLiteral("vol-query")));
        waits.push_back(msSince(asked, Clock::now()) - got.value(QStringLiteral("elapsed_ms")).toDouble());
    }
    report("live: a script's wait for the line among polls, max of 200",
        fixed(*std::max_element(waits.begin(), waits.end()), 1) + " ms", "< 500 ms",
        *std::max_element(waits.begin(), waits.end()) < 500);

    // Silent: how often it is still asked from the second minute on.
    sim.signal(SIGUSR2);
    const int before = static_cast<int>(linesAt(log).size());
    runFor(180000);
    const QList<double> asked = linesAt(log).mid(before);
    int late = 0;
    double start = asked.isEmpty() ? 0 : asked.front();
    for (const double at : asked)
        late += at - start >= 120 ? 1 : 0;
    report("live: polls of a silent projector, minute 2 to 3",
        std::to_string(late) + " (" + std::to_string(asked.size()) + " in 3 min)", "<= 1", late <= 1);
    stopProcess(daemon);
}

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    std::printf("Live state benchmarks\n");
    polling();
    const auto missed = std::count_if(rows.begin(), rows.end(), [](const Row &row) { return !row.met; });
    std::printf("%zu figures, %ld goals missed\n", rows.size(), static_cast<long>(missed));
    return 0;
}
