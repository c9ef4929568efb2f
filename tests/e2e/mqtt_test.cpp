// SPDX-License-Identifier: GPL-3.0-or-later
// qv550d on a real mosquitto broker (its own config: a password file,
// anonymous clients refused), watched and commanded with mosquitto's own
// clients: discovery, retained state for a late subscriber, commands
// reaching the simulated projector, bad commands, a broker that restarts,
// a wrong password, kill -9, and a room broker bridged to a central one.

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QTemporaryDir>

#include <csignal>
#include <memory>

#include <gtest/gtest.h>

#include "event_loop.h"
#include "mqtt_broker.h"
#include "processes.h"

namespace {

const QString kBin = QStringLiteral(PANEL_BINARY_DIR "/bin/");

// `count` messages on `topic` (retained ones first), as "topic payload" lines.
QStringList received(const MqttBroker &broker, const QString &topic, int count, int seconds = 5)
{
    QProcess sub;
    sub.start(QStringLiteral("mosquitto_sub"),
        broker.login()
            + QStringList{QStringLiteral("-v"), QStringLiteral("-t"), topic, QStringLiteral("-C"),
                QString::number(count), QStringLiteral("-W"), QString::number(seconds)});
    sub.waitForFinished((seconds + 2) * 1000);
    return QString::fromUtf8(sub.readAllStandardOutput()).split(QLatin1Char('\n'), Qt::SkipEmptyParts);
}

QJsonObject payloadOf(const QString &line)
{
    return QJsonDocument::fromJson(line.mid(line.indexOf(QLatin1Char(' ')) + 1).toUtf8()).object();
}

void publish(const MqttBroker &broker, const QString &topic, const QString &payload)
{
    QProcess::execute(QStringLiteral("mosquitto_pub"),
        broker.login() + QStringList{QStringLiteral("-t"), topic, QStringLiteral("-m"), payload});
}

QString fileText(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? QString::fromUtf8(file.readAll()) : QString();
}

class Service {
public:
    Service(const QString &device, const MqttBroker &broker, const QString &name, const QString &passwordFile)
    {
        process_.setProcessChannelMode(QProcess::SeparateChannels);
        process_.start(kBin + QStringLiteral("qv550d"),
            {QStringLiteral("--port"), device, QStringLiteral("--mqtt"), broker.url(),
                QStringLiteral("--mqtt-user"), QStringLiteral("qv"), QStringLiteral("--mqtt-password-file"),
                passwordFile, QStringLiteral("--name"), name});
        process_.waitForStarted(5000);
    }
    ~Service() { stopProcess(process_); }
    QString said()
    {
        said_ += QString::fromUtf8(process_.readAllStandardError());
        return said_;
    }
    void kill9() { ::kill(static_cast<pid_t>(process_.processId()), SIGKILL); }
    pid_t pid() const { return static_cast<pid_t>(process_.processId()); }

private:
    QProcess process_;
    QString said_;
};

class Mqtt : public ::testing::Test {
protected:
    void SetUp() override
    {
        password = folder.filePath(QStringLiteral("password"));
        writeFile(password, "secret\n");
        QFile::setPermissions(password, QFileDevice::ReadOwner | QFileDevice::WriteOwner);
        log = folder.filePath(QStringLiteral("sim.log"));
    }
    QTemporaryDir folder;
    QString password;
    QString log;
};

TEST_F(Mqtt, DiscoveryRetainedStateAndCommandsThroughARealBroker)
{
    MqttBroker broker;
    // The broker refuses anonymous clients: everything here logs in.
    QProcess anonymous;
    anonymous.start(QStringLiteral("mosquitto_sub"),
        {QStringLiteral("-p"), QString::number(broker.port()), QStringLiteral("-t"), QStringLiteral("#"),
            QStringLiteral("-W"), QStringLiteral("2")});
    anonymous.waitForFinished(4000);
    EXPECT_NE(anonymous.exitCode(), 0);

    ProjectorProcess projector({QStringLiteral("--log"), log});
    Service service(projector.device(), broker, QStringLiteral("hall"), password);
    ASSERT_EQ(received(broker, QStringLiteral("qv550/hall/availability"), 1),
        QStringList{QStringLiteral("qv550/hall/availability online")})
        << service.said().toStdString();
    // A late subscriber gets the retained state: the nine values, the power known.
    runFor(1000);
    const QStringList state = received(broker, QStringLiteral("qv550/hall/state"), 1);
    ASSERT_EQ(state.size(), 1);
    EXPECT_EQ(payloadOf(state[0]).size(), 9);
    EXPECT_EQ(payloadOf(state[0]).value(QStringLiteral("status")).toObject().value(QStringLiteral("status")),
        QStringLiteral("Stand by"));

    // Discovery: one device, every entity with Home Assistant's keys.
    const QStringList configs = received(broker, QStringLiteral("homeassistant/#"), 19);
    ASSERT_EQ(configs.size(), 19);
    for (const QString &line : configs) {
        const QJsonObject config = payloadOf(line);
        for (const char *key : {"name", "unique_id", "availability_topic", "device"})
            EXPECT_TRUE(config.contains(QString::fromLatin1(key))) << line.toStdString();
        EXPECT_EQ(
            config.value(QStringLiteral("availability_topic")), QStringLiteral("qv550/hall/availability"));
        EXPECT_EQ(config.value(QStringLiteral("device"))
                      .toObject()
                      .value(QStringLiteral("identifiers"))
                      .toArray()
                      .first(),
            QStringLiteral("qv550_hall"));
        if (!line.startsWith(QStringLiteral("homeassistant/button/"))) {
            EXPECT_TRUE(config.value(QStringLiteral("state_topic"))
                            .toString()
                            .startsWith(QStringLiteral("qv550/hall/")));
        }
    }

    // Commands: by name and as JSON reach the projector; bad ones send nothing.
    QProcess replies;
    replies.start(QStringLiteral("mosquitto_sub"),
        broker.login()
            + QStringList{QStringLiteral("-t"), QStringLiteral("qv550/hall/reply"), QStringLiteral("-C"),
                QStringLiteral("3"), QStringLiteral("-W"), QStringLiteral("10")});
    runFor(300);
    const int before = static_cast<int>(fileText(log).count(QLatin1Char('\n')));
    publish(broker, QStringLiteral("qv550/hall/command"), QStringLiteral("power-on"));
    publish(broker, QStringLiteral("qv550/hall/command"),
        QStringLiteral("{\"id\": 42, \"send\": \"CR VOLUME\"}"));
    publish(broker, QStringLiteral("qv550/hall/command"), QStringLiteral("{\"command\": "));
    ASSERT_TRUE(replies.waitForFinished(12000));
    const QList<QByteArray> answers = replies.readAllStandardOutput().trimmed().split('\n');
    ASSERT_EQ(answers.size(), 3);
    // A bad command is answered at once; the others after their turn on the line.
    QStringList seen;
    for (const QByteArray &answer : answers) {
        const QJsonObject reply = QJsonDocument::fromJson(answer).object();
        if (reply.value(QStringLiteral("error")).toString().startsWith(QStringLiteral("malformed JSON")))
            seen.push_back(QStringLiteral("malformed"));
        else if (reply.value(QStringLiteral("id")) == 42)
            seen.push_back(QStringLiteral("42 ") + reply.value(QStringLiteral("sent")).toString().trimmed());
        else if (!reply.contains(QStringLiteral("id")))
            seen.push_back(reply.value(QStringLiteral("monitor")).toString());
    }
    seen.sort();
    EXPECT_EQ(seen,
        (QStringList{QStringLiteral("42 CR VOLUME"), QStringLiteral("ACK"), QStringLiteral("malformed")}));
    const QStringList heard = fileText(log).split(QLatin1Char('\n'), Qt::SkipEmptyParts).mid(before);
    QStringList commands;
    for (const QString &line : heard) {
        if (!line.endsWith(QStringLiteral(" CR0"))) // polls
            commands.push_back(line.mid(line.indexOf(QLatin1Char(' ')) + 1));
    }
    EXPECT_EQ(commands, (QStringList{QStringLiteral("C00"), QStringLiteral("CR VOLUME")}));
}

TEST_F(Mqtt, ABrokerThatRestartsAWrongPasswordAndAKilledService)
{
    MqttBroker broker;
    ProjectorProcess projector({QStringLiteral("--log"), log});
    Service service(projector.device(), broker, QStringLiteral("hall"), password);
    ASSERT_EQ(received(broker, QStringLiteral("qv550/hall/availability"), 1).size(), 1);

    // The broker goes and comes back, its retained messages lost: they are published again.
    broker.kill();
    runFor(1500);
    broker.start();
    const QStringList back = received(broker, QStringLiteral("qv550/hall/availability"), 1, 10);
    EXPECT_EQ(back, QStringList{QStringLiteral("qv550/hall/availability online")})
        << service.said().toStdString();
    EXPECT_EQ(received(broker, QStringLiteral("qv550/hall/state"), 1).size(), 1);

    // A wrong password: said clearly, once, and tried again only after growing pauses.
    const QString wrong = folder.filePath(QStringLiteral("wrong"));
    writeFile(wrong, "guess\n");
    ProjectorProcess other({QStringLiteral("--log"), folder.filePath(QStringLiteral("other.log"))});
    Service refused(other.device(), broker, QStringLiteral("other"), wrong);
    runFor(8000);
    const QString said = refused.said();
    EXPECT_EQ(said.count(QStringLiteral("not authorised")), 1) << said.toStdString();
    EXPECT_TRUE(received(broker, QStringLiteral("qv550/other/availability"), 1, 1).isEmpty());

    // kill -9: the broker says "offline" for it at once.
    QProcess watcher;
    watcher.start(QStringLiteral("mosquitto_sub"),
        broker.login()
            + QStringList{QStringLiteral("-t"), QStringLiteral("qv550/hall/availability"),
                QStringLiteral("-C"), QStringLiteral("2"), QStringLiteral("-W"), QStringLiteral("6")});
    runFor(500); // the retained "online" first
    QElapsedTimer since;
    service.kill9();
    since.start();
    ASSERT_TRUE(watcher.waitForFinished(8000));
    EXPECT_LT(since.elapsed(), 2000);
    EXPECT_EQ(watcher.readAllStandardOutput(), QByteArray("online\noffline\n"));
}

TEST_F(Mqtt, AProjectorOnARoomBrokerIsSeenAndCommandedFromTheCentralOne)
{
    MqttBroker central;
    MqttBroker room("connection central\naddress 127.0.0.1:" + QByteArray::number(central.port())
        + "\nremote_username qv\nremote_password secret\ntopic qv550/# both 1\ntopic homeassistant/# out "
          "1\n");
    ProjectorProcess projector({QStringLiteral("--log"), log});
    Service service(projector.device(), room, QStringLiteral("room-101"), password);
    EXPECT_EQ(received(central, QStringLiteral("qv550/room-101/availability"), 1, 10),
        QStringList{QStringLiteral("qv550/room-101/availability online")})
        << service.said().toStdString();
    EXPECT_EQ(
        received(central, QStringLiteral("homeassistant/switch/qv550_room-101/power/config"), 1).size(), 1);
    publish(central, QStringLiteral("qv550/room-101/command"), QStringLiteral("freeze-on"));
    EXPECT_TRUE(runUntil([&] { return fileText(log).contains(QStringLiteral(" C43")); }, 5000))
        << fileText(log).toStdString();
}

} // namespace

namespace {

// A certificate authority of the test's own, and a broker certificate it
// signed for 127.0.0.1.
bool makeCertificates(const QString &folder)
{
    const auto openssl = [&](const QStringList &arguments) {
        QProcess process;
        process.setWorkingDirectory(folder);
        process.start(QStringLiteral("openssl"), arguments);
        return process.waitForFinished(30000) && process.exitCode() == 0;
    };
    writeFile(folder + QStringLiteral("/san"), "subjectAltName=IP:127.0.0.1\n");
    return openssl({QStringLiteral("req"), QStringLiteral("-x509"), QStringLiteral("-newkey"),
               QStringLiteral("rsa:2048"), QStringLiteral("-nodes"), QStringLiteral("-keyout"),
               QStringLiteral("ca.key"), QStringLiteral("-out"), QStringLiteral("ca.pem"),
               QStringLiteral("-days"), QStringLiteral("2"), QStringLiteral("-subj"),
               QStringLiteral("/CN=Test CA")})
        && openssl({QStringLiteral("req"), QStringLiteral("-x509"), QStringLiteral("-newkey"),
            QStringLiteral("rsa:2048"), QStringLiteral("-nodes"), QStringLiteral("-keyout"),
            QStringLiteral("other.key"), QStringLiteral("-out"), QStringLiteral("other.pem"),
            QStringLiteral("-days"), QStringLiteral("2"), QStringLiteral("-subj"),
            QStringLiteral("/CN=Other CA")})
        && openssl({QStringLiteral("req"), QStringLiteral("-newkey"), QStringLiteral("rsa:2048"),
            QStringLiteral("-nodes"), QStringLiteral("-keyout"), QStringLiteral("server.key"),
            QStringLiteral("-out"), QStringLiteral("server.csr"), QStringLiteral("-subj"),
            QStringLiteral("/CN=127.0.0.1")})
        && openssl({QStringLiteral("x509"), QStringLiteral("-req"), QStringLiteral("-in"),
            QStringLiteral("server.csr"), QStringLiteral("-CA"), QStringLiteral("ca.pem"),
            QStringLiteral("-CAkey"), QStringLiteral("ca.key"), QStringLiteral("-CAcreateserial"),
            QStringLiteral("-out"), QStringLiteral("server.pem"), QStringLiteral("-days"),
            QStringLiteral("2"), QStringLiteral("-extfile"), QStringLiteral("san")});
}

} // namespace

TEST_F(Mqtt, OverTlsTheBrokerIsCheckedAgainstTheGivenAuthority)
{
    ASSERT_TRUE(makeCertificates(folder.path())) << "openssl could not make the test's certificates";
    const int tlsPort = freePort();
    const QByteArray in = folder.path().toUtf8() + '/';
    MqttBroker broker("listener " + QByteArray::number(tlsPort) + " 127.0.0.1\ncafile " + in
        + "ca.pem\ncertfile " + in + "server.pem\nkeyfile " + in + "server.key\n");
    ProjectorProcess projector({QStringLiteral("--log"), log});
    const auto service = [&](const QString &name, const QString &authority) {
        auto process = std::make_unique<QProcess>();
        process->start(kBin + QStringLiteral("qv550d"),
            {QStringLiteral("--port"), projector.device(), QStringLiteral("--no-poll"),
                QStringLiteral("--mqtt"), QStringLiteral("mqtts://127.0.0.1:%1").arg(tlsPort),
                QStringLiteral("--mqtt-ca"), authority, QStringLiteral("--mqtt-user"), QStringLiteral("qv"),
                QStringLiteral("--mqtt-password-file"), password, QStringLiteral("--name"), name});
        return process;
    };
    {
        auto trusted = service(QStringLiteral("secure"), folder.filePath(QStringLiteral("ca.pem")));
        EXPECT_EQ(received(broker, QStringLiteral("qv550/secure/availability"), 1, 10),
            QStringList{QStringLiteral("qv550/secure/availability online")});
        stopProcess(*trusted);
    }
    // A broker whose certificate another authority signed is not talked to.
    auto wary = service(QStringLiteral("wary"), folder.filePath(QStringLiteral("other.pem")));
    EXPECT_TRUE(received(broker, QStringLiteral("qv550/wary/availability"), 1, 4).isEmpty());
    stopProcess(*wary);
    const QString said = QString::fromUtf8(wary->readAllStandardError());
    EXPECT_NE(said.indexOf(QStringLiteral("MQTT: the broker at 127.0.0.1")), -1) << said.toStdString();
}
