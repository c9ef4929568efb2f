// SPDX-License-Identifier: GPL-3.0-or-later
// A venue, simulated: 20 projectors (qv550-sim), 20 qv550d polling them and
// publishing to one local mosquitto. Figures per qv550d (memory, CPU while
// polling), how soon a change read by a poll reaches the broker, how soon
// a killed qv550d reads "offline", and how soon a command published on MQTT
// reaches its projector's line. Times on the projector's side come from the
// simulator's log (its clock is this machine's).

#include <QCoreApplication>
#include <QDateTime>
#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QTemporaryDir>

#include <csignal>
#include <fstream>
#include <map>
#include <memory>

#include "bench_figures.h"
#include "event_loop.h"
#include "mqtt_broker.h"
#include "processes.h"

namespace {

constexpr int kProjectors = 20;
const QString kBin = QStringLiteral(PANEL_BINARY_DIR "/bin/");

qint64 nowMs()
{
    return QDateTime::currentMSecsSinceEpoch();
}

// The times (ms since the epoch) at which the simulator's log shows `line`.
std::vector<qint64> heardAt(const QString &log, const QString &line)
{
    std::vector<qint64> times;
    QFile file(log);
    if (!file.open(QIODevice::ReadOnly))
        return times;
    for (const QByteArray &entry : file.readAll().split('\n')) {
        const qsizetype blank = entry.indexOf(' ');
        if (blank > 0 && entry.mid(blank + 1) == line.toLatin1())
            times.push_back(QDateTime::fromString(QString::fromLatin1(entry.left(blank)), Qt::ISODateWithMs)
                                .toMSecsSinceEpoch());
    }
    return times;
}

struct Room {
    QString name;
    QString log;
    std::unique_ptr<ProjectorProcess> sim;
    std::unique_ptr<QProcess> daemon;
    QString device;
};

// Every message on `topic`, stamped as it arrives.
class Watch {
public:
    Watch(const QStringList &login, const QString &topic)
    {
        process_.start(QStringLiteral("mosquitto_sub"),
            login + QStringList{QStringLiteral("-v"), QStringLiteral("-t"), topic});
        QObject::connect(&process_, &QProcess::readyReadStandardOutput, [this] {
            while (process_.canReadLine()) {
                const QString line = QString::fromUtf8(process_.readLine()).trimmed();
                const qsizetype blank = line.indexOf(QLatin1Char(' '));
                seen.push_back({nowMs(), line.left(blank), line.mid(blank + 1)});
            }
        });
    }
    ~Watch() { stopProcess(process_); }
    struct Message {
        qint64 at;
        QString topic;
        QString payload;
    };
    std::vector<Message> seen;

private:
    QProcess process_;
};

void fleet()
{
    QTemporaryDir folder;
    MqttBroker broker;
    const QStringList login = broker.login();
    const int port = broker.port();
    QFile password(folder.filePath(QStringLiteral("password")));
    password.open(QIODevice::WriteOnly);
    password.write("secret\n");
    password.close();

    Watch states(login, QStringLiteral("qv550/+/state"));
    Watch availability(login, QStringLiteral("qv550/+/availability"));
    std::vector<Room> rooms(kProjectors);
    for (int i = 0; i < kProjectors; ++i) {
        Room &room = rooms[static_cast<std::size_t>(i)];
        room.name = QStringLiteral("room-%1").arg(i + 1);
        room.log = folder.filePath(room.name + QStringLiteral(".log"));
        room.sim = std::make_unique<ProjectorProcess>(QStringList{
            QStringLiteral("--log"), room.log, QStringLiteral("--countdown"), QStringLiteral("1000")});
        room.device = room.sim->device();
        room.daemon = std::make_unique<QProcess>();
        room.daemon->start(kBin + QStringLiteral("qv550d"),
            {QStringLiteral("--port"), room.device, QStringLiteral("--name"), room.name,
                QStringLiteral("--mqtt"), QStringLiteral("mqtt://127.0.0.1:%1").arg(port),
                QStringLiteral("--mqtt-user"), QStringLiteral("qv"), QStringLiteral("--mqtt-password-file"),
                password.fileName()});
    }
    // Every projector on, by MQTT, through a publisher kept open (-l: a message a line).
    std::map<QString, std::unique_ptr<QProcess>> publishers;
    for (Room &room : rooms) {
        auto publisher = std::make_unique<QProcess>();
        publisher->start(QStringLiteral("mosquitto_pub"),
            login
                + QStringList{QStringLiteral("-t"), QStringLiteral("qv550/%1/command").arg(room.name),
                    QStringLiteral("-l")});
        publishers[room.name] = std::move(publisher);
    }
    runFor(3000);
    for (auto &[name, publisher] : publishers)
        publisher->write("power-on\n");
    runFor(20000); // on, and the full set read

    double worstCpu = 0;
    Memory worst, sum;
    std::vector<double> cpuBefore;
    for (Room &room : rooms)
        cpuBefore.push_back(processCpuSeconds(static_cast<pid_t>(room.daemon->processId())));
    const auto cpuFrom = Clock::now();
    runFor(60000);
    const double seconds = msSince(cpuFrom, Clock::now()) / 1000.0;
    for (std::size_t i = 0; i < rooms.size(); ++i) {
        const pid_t pid = static_cast<pid_t>(rooms[i].daemon->processId());
        worstCpu = std::max(worstCpu, (processCpuSeconds(pid) - cpuBefore[i]) / seconds);
        const Memory memory = memoryOf(pid);
        worst.rss = std::max(worst.rss, memory.rss);
        worst.pss = std::max(worst.pss, memory.pss);
        worst.uss = std::max(worst.uss, memory.uss);
        sum.rss += memory.rss;
        sum.pss += memory.pss;
        sum.uss += memory.uss;
    }
    // What a fleet pays for one more qv550d is its unique memory: the goal
    // is on that. Resident memory counts Qt, OpenSSL and libc in full in
    // every process, though the machine holds them once.
    const auto perDaemon = [&](double total, double worstOne) {
        return fixed(total / kProjectors, 1) + " MB mean, " + fixed(worstOne, 1) + " MB worst";
    };
    report("fleet: unique memory (USS) per qv550d", perDaemon(sum.uss, worst.uss), "< 4 MB", worst.uss < 4);
    report("fleet: proportional memory (PSS) per qv550d", perDaemon(sum.pss, worst.pss),
        "(shared pages split)", true);
    report("fleet: resident memory (RSS) per qv550d", perDaemon(sum.rss, worst.rss),
        "(shared libraries counted whole)", true);
    report("fleet: CPU per qv550d while polling (worst, 60 s)", fixed(worstCpu * 100, 3) + " % of a core",
        "< 0.5 %", worstCpu < 0.005);

    // A change behind each qv550d's back (the remote), read by a poll: from
    // the poll that read it to the state on the broker.
    const qint64 changed = nowMs();
    for (Room &room : rooms)
        room.sim->signal(SIGUSR1);
    runFor(15000);
    std::vector<double> toBroker;
    for (Room &room : rooms) {
        qint64 polled = 0;
        for (const qint64 at : heardAt(room.log, QStringLiteral("CR1"))) {
            if (at >= changed) {
                polled = at;
                break;
            }
        }
        for (const Watch::Message &message : states.seen) {
            if (message.at >= polled && message.topic == QStringLiteral("qv550/%1/state").arg(room.name)
                && QJsonDocument::fromJson(message.payload.toUtf8())
                        .object()
                        .value(QStringLiteral("mode"))
                        .toObject()
                        .value(QStringLiteral("status"))
                    == QStringLiteral("Input mode 2")) {
                toBroker.push_back(static_cast<double>(message.at - polled));
                break;
            }
        }
    }
    const double worstToBroker = toBroker.empty() ? 1e9 : *std::max_element(toBroker.begin(), toBroker.end());
    report("fleet: poll to state on the broker (worst of " + std::to_string(toBroker.size()) + ")",
        fixed(worstToBroker, 0) + " ms", "< 1000 ms",
        toBroker.size() == rooms.size() && worstToBroker < 1000);

    // Commands by MQTT to the projectors' lines.
    std::vector<double> toLine;
    for (int round = 0; round < 3; ++round) {
        for (Room &room : rooms) {
            const qint64 sent = nowMs();
            publishers[room.name]->write(round % 2 ? "freeze-off\n" : "freeze-on\n");
            const QString code = round % 2 ? QStringLiteral("C44") : QStringLiteral("C43");
            runUntil(
                [&] { return !heardAt(room.log, code).empty() && heardAt(room.log, code).back() >= sent; },
                3000);
            const auto heard = heardAt(room.log, code);
            if (!heard.empty() && heard.back() >= sent)
                toLine.push_back(static_cast<double>(heard.back() - sent));
            runFor(100);
        }
    }
    report("fleet: MQTT command to the projector's line, median of " + std::to_string(toLine.size()),
        fixed(percentile(toLine, 50), 0) + " ms (p95 " + fixed(percentile(toLine, 95), 0) + ")", "< 50 ms",
        toLine.size() == 3 * rooms.size() && percentile(toLine, 50) < 50);

    // kill -9: "offline" from the broker (the last will).
    Room &victim = rooms.front();
    const qint64 killed = nowMs();
    ::kill(static_cast<pid_t>(victim.daemon->processId()), SIGKILL);
    const QString topic = QStringLiteral("qv550/%1/availability").arg(victim.name);
    runUntil(
        [&] {
            return std::any_of(
                availability.seen.begin(), availability.seen.end(), [&](const Watch::Message &m) {
                    return m.at >= killed && m.topic == topic && m.payload == QStringLiteral("offline");
                });
        },
        10000);
    double offline = 1e9;
    for (const Watch::Message &message : availability.seen) {
        if (message.at >= killed && message.topic == topic && message.payload == QStringLiteral("offline")) {
            offline = static_cast<double>(message.at - killed);
            break;
        }
    }
    report("fleet: \"offline\" after kill -9", fixed(offline, 0) + " ms", "< 2000 ms", offline < 2000);

    for (auto &[name, publisher] : publishers)
        stopProcess(*publisher);
    for (Room &room : rooms) {
        stopProcess(*room.daemon);
    }
}

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    std::printf("Fleet benchmarks (%d projectors, one broker)\n", kProjectors);
    fleet();
    const auto missed = std::count_if(rows.begin(), rows.end(), [](const Row &row) { return !row.met; });
    std::printf("%zu figures, %ld goals missed\n", rows.size(), static_cast<long>(missed));
    return 0;
}
