// SPDX-License-Identifier: GPL-3.0-or-later
// qv550d as a PJLink projector in front of the simulated projector, driven
// by a PJLink controller written here from the protocol's bytes: every class
// 1 command and reply form, the input table, sets reaching the line with the
// controller named in the owner's log, ERR codes in their situations, good
// and bad digests, garbage, an over-long line, the connection limit, the
// idle close, the UDP search, and a listener beyond loopback refused
// without a password.

#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QUdpSocket>

#include <csignal>
#include <memory>
#include <vector>

#include <gtest/gtest.h>

#include "event_loop.h"
#include "mqtt_broker.h"
#include "pjlink_client.h"
#include "processes.h"

namespace {

// qv550d serving `device` with PJLink on 127.0.0.1:`port`, until it says so.
class PjlinkDaemon {
public:
    PjlinkDaemon(const QString &device, int port, const QStringList &options = {})
    {
        process_.start(QStringLiteral(PANEL_BINARY_DIR "/bin/qv550d"),
            QStringList{QStringLiteral("--port"), device, QStringLiteral("--pjlink"),
                QStringLiteral("127.0.0.1:%1").arg(port)}
                + options);
        process_.setReadChannel(QProcess::StandardError);
        while (!said().contains(QStringLiteral("PJLink on")) && process_.waitForReadyRead(5000)) { }
    }
    ~PjlinkDaemon() { stopProcess(process_); }
    QString said()
    {
        said_ += QString::fromUtf8(process_.readAllStandardError());
        return said_;
    }
    bool running() const { return process_.state() == QProcess::Running; }

private:
    QProcess process_;
    QString said_;
};

QString fileText(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? QString::fromUtf8(file.readAll()) : QString();
}

// Asks `request` on new connections (as Home Assistant does) until the
// reply is `expected`; the last reply.
QByteArray askUntil(int port, const QByteArray &request, const QByteArray &expected, int milliseconds,
    const QByteArray &password = {})
{
    QElapsedTimer waited;
    waited.start();
    QByteArray reply;
    do {
        PjlinkClient client;
        client.setPassword(password);
        if (client.open(port))
            reply = client.ask(request);
        if (reply == expected)
            break;
        runFor(100);
    } while (waited.elapsed() < milliseconds);
    return reply;
}

} // namespace

TEST(Pjlink, EveryClass1CommandAndReplyFormAgainstTheSimulatedProjector)
{
    QTemporaryDir folder;
    const QString log = folder.filePath(QStringLiteral("sim.log"));
    ProjectorProcess projector({QStringLiteral("--log"), log, QStringLiteral("--countdown"),
        QStringLiteral("1000"), QStringLiteral("--cooldown"), QStringLiteral("3000")});
    const int port = freePort();
    PjlinkDaemon daemon(projector.device(), port,
        {QStringLiteral("--name"), QStringLiteral("Hall left"), QStringLiteral("--pjlink-inputs"),
            QStringLiteral("1:31 2:11 3:23 4:51")});
    ASSERT_TRUE(daemon.said().contains(QStringLiteral("PJLink on 127.0.0.1:%1").arg(port)))
        << daemon.said().toStdString();

    PjlinkClient client;
    ASSERT_TRUE(client.open(port));
    EXPECT_EQ(client.greeting(), "PJLINK 0");
    // Stand-by answers, from the live state.
    EXPECT_EQ(askUntil(port, "%1POWR ?", "%1POWR=0", 5000), "%1POWR=0");
    EXPECT_EQ(client.ask("%1INF1 ?"), "%1INF1=ZORP");
    EXPECT_EQ(client.ask("%1INF2 ?"), "%1INF2=QV550");
    EXPECT_EQ(client.ask("%1INFO ?"), "%1INFO=qv550d " PANEL_VERSION " RS-232 bridge");
    EXPECT_EQ(client.ask("%1NAME ?"), "%1NAME=Hall left");
    EXPECT_EQ(client.ask("%1CLSS ?"), "%1CLSS=1");
    EXPECT_EQ(client.ask("%1INST ?"), "%1INST=31 11 23 51");
    EXPECT_EQ(client.ask("%1ERST ?"), "%1ERST=000000");
    EXPECT_EQ(client.ask("%1INPT ?"), "%1INPT=ERR3"); // no input in stand-by
    EXPECT_EQ(client.ask("%1AVMT ?"), "%1AVMT=ERR3");
    EXPECT_EQ(client.ask("%1INPT 11"), "%1INPT=ERR3");
    EXPECT_EQ(client.ask("%1XXXX ?"), "%1XXXX=ERR1");
    EXPECT_EQ(client.ask("%1POWR 7"), "%1POWR=ERR2");
    EXPECT_EQ(client.ask("%1INPT 21"), "%1INPT=ERR2"); // not in the table

    // Power on: the byte reaches the line, named for the controller in the owner's log.
    EXPECT_EQ(client.ask("%1POWR 1"), "%1POWR=OK");
    EXPECT_TRUE(fileText(log).contains(QStringLiteral("C00")));
    EXPECT_TRUE(runUntil(
        [&] { return daemon.said().contains(QStringLiteral("PJLink 127.0.0.1: POWR 1: power-on")); }, 5000))
        << daemon.said().toStdString();
    EXPECT_EQ(askUntil(port, "%1POWR ?", "%1POWR=1", 10000), "%1POWR=1");

    // On: the input through the table, the mutes, the lamps as the owner reads them.
    EXPECT_EQ(askUntil(port, "%1INPT ?", "%1INPT=31", 15000), "%1INPT=31");
    EXPECT_EQ(askUntil(port, "%1AVMT ?", "%1AVMT=30", 15000), "%1AVMT=30");
    EXPECT_EQ(askUntil(port, "%1LAMP ?", "%1LAMP=123 1 456 1 789 1 1011 1", 15000),
        "%1LAMP=123 1 456 1 789 1 1011 1");
    PjlinkClient on;
    ASSERT_TRUE(on.open(port));
    EXPECT_EQ(on.ask("%1INPT 51"), "%1INPT=OK");
    EXPECT_EQ(on.ask("%1AVMT 31"), "%1AVMT=OK");
    EXPECT_EQ(on.ask("%2FREZ 1"), "%2FREZ=OK");
    EXPECT_EQ(on.ask("%2FREZ ?"), "%2FREZ=1");
    EXPECT_EQ(on.ask("%2SVOL 1"), "%2SVOL=OK");
    EXPECT_EQ(on.ask("%2INNM ?51"), "%2INNM=Input mode 4");
    const QString heard = fileText(log);
    for (const char *code : {"C08", "C0D", "C0B", "C43", "C09"})
        EXPECT_TRUE(heard.contains(QString::fromLatin1(code))) << code << " in " << heard.toStdString();
    EXPECT_EQ(askUntil(port, "%1INPT ?", "%1INPT=51", 15000), "%1INPT=51");
    EXPECT_EQ(askUntil(port, "%1AVMT ?", "%1AVMT=31", 15000), "%1AVMT=31");

    // Power off, then on while cooling: ERR3, and nothing sent for it.
    EXPECT_EQ(on.ask("%1POWR 0"), "%1POWR=OK");
    EXPECT_EQ(askUntil(port, "%1POWR ?", "%1POWR=2", 5000), "%1POWR=2");
    const int c00Before = static_cast<int>(fileText(log).count(QStringLiteral("C00")));
    EXPECT_EQ(on.ask("%1POWR 1"), "%1POWR=ERR3");
    EXPECT_EQ(fileText(log).count(QStringLiteral("C00")), c00Before);
    EXPECT_EQ(askUntil(port, "%1POWR ?", "%1POWR=0", 10000), "%1POWR=0");

    // A projector that stops answering: a set fails as the projector's
    // failure (power off in stand-by changes nothing while it still answers).
    projector.signal(SIGUSR2);
    EXPECT_EQ(askUntil(port, "%1POWR 0", "%1POWR=ERR4", 10000), "%1POWR=ERR4");
    projector.signal(SIGUSR2);

    // Every reply had the request's header and one value.
    const QRegularExpression form(QStringLiteral("^%[12][A-Z0-9]{4}=.*$"));
    EXPECT_TRUE(form.match(QString::fromLatin1(on.ask("%1POWR ?"))).hasMatch());
}

TEST(Pjlink, PasswordGoodAndBadGarbageTheConnectionLimitAndTheIdleClose)
{
    QTemporaryDir folder;
    const QString password = folder.filePath(QStringLiteral("pjlink.password"));
    writeFile(password, "Pr0jector-secret\n");
    QFile::setPermissions(password, QFileDevice::ReadOwner | QFileDevice::WriteOwner);
    ProjectorProcess projector;
    const int port = freePort();
    PjlinkDaemon daemon(projector.device(), port, {QStringLiteral("--pjlink-password-file"), password});
    ASSERT_TRUE(daemon.said().contains(QStringLiteral("with a password"))) << daemon.said().toStdString();

    // A connection that says nothing, timed from here.
    PjlinkClient idle;
    ASSERT_TRUE(idle.open(port));
    QElapsedTimer idleFor;
    idleFor.start();

    // The greeting as strict clients read it: 9 bytes, then 9 more.
    PjlinkClient good;
    good.setPassword("Pr0jector-secret");
    ASSERT_TRUE(good.open(port));
    ASSERT_EQ(good.greeting().size(), 17);
    EXPECT_TRUE(good.greeting().startsWith("PJLINK 1 "));
    EXPECT_EQ(askUntil(port, "%1POWR ?", "%1POWR=0", 5000, "Pr0jector-secret"), "%1POWR=0");
    EXPECT_EQ(good.ask("%1CLSS ?"), "%1CLSS=1");
    EXPECT_EQ(good.ask("%1POWR ?"), "%1POWR=0");

    // Each greeting has its own random.
    PjlinkClient other;
    ASSERT_TRUE(other.open(port));
    EXPECT_NE(other.greeting(), good.greeting());
    other.close();

    for (const QByteArray &wrong : {QByteArray("wrong-password"), QByteArray()}) {
        PjlinkClient bad;
        bad.setPassword(wrong);
        ASSERT_TRUE(bad.open(port));
        EXPECT_EQ(bad.ask("%1POWR 1"), "PJLINK ERRA");
        EXPECT_TRUE(bad.closedWithin(3000));
    }
    PjlinkClient noDigest;
    ASSERT_TRUE(noDigest.open(port));
    noDigest.send("%1POWR ?\r");
    EXPECT_EQ(noDigest.line(), "PJLINK ERRA");
    EXPECT_TRUE(noDigest.closedWithin(3000));

    // Garbage and a line over 136 bytes: closed, and nothing else changes.
    QByteArray everyByte;
    for (int value = 0; value < 256; ++value)
        everyByte += static_cast<char>(value);
    for (const QByteArray &garbage : {everyByte, QByteArray(40, 'f') + QByteArray(200, 'x') + '\r'}) {
        PjlinkClient rude;
        ASSERT_TRUE(rude.open(port));
        rude.send(garbage);
        EXPECT_TRUE(rude.closedWithin(3000));
    }
    PjlinkClient longLine;
    longLine.setPassword("Pr0jector-secret");
    ASSERT_TRUE(longLine.open(port));
    EXPECT_EQ(longLine.ask("%1CLSS ?"), "%1CLSS=1");
    longLine.send("%1NAME " + QByteArray(200, 'x') + "\r");
    EXPECT_TRUE(longLine.closedWithin(3000));
    EXPECT_EQ(good.ask("%1POWR ?"), "%1POWR=0");
    EXPECT_TRUE(daemon.running());

    // The limit: 16 at once (the idle one and `good` among them); one more is refused.
    std::vector<std::unique_ptr<PjlinkClient>> many;
    for (int i = 0; i < 14; ++i) {
        many.push_back(std::make_unique<PjlinkClient>());
        ASSERT_TRUE(many.back()->open(port));
        EXPECT_TRUE(many.back()->greeting().startsWith("PJLINK 1 "));
    }
    PjlinkClient refused;
    ASSERT_TRUE(refused.open(port));
    EXPECT_EQ(refused.greeting(), "PJLINK ERR3");
    EXPECT_TRUE(refused.closedWithin(3000));
    many.back()->close();
    EXPECT_EQ(askUntil(port, "%1CLSS ?", "%1CLSS=1", 5000, "Pr0jector-secret"), "%1CLSS=1");
    many.clear();

    // The idle connection is closed at 30 s, not before.
    EXPECT_TRUE(idle.closedWithin(40000));
    EXPECT_GE(idleFor.elapsed(), 29000);
    EXPECT_LE(idleFor.elapsed(), 36000);
    EXPECT_FALSE(daemon.said().contains(QStringLiteral("Pr0jector-secret")));
}

TEST(Pjlink, TheUdpSearchIsAnsweredWithTheMacAndNothingElseIs)
{
    ProjectorProcess projector;
    QUdpSocket probe;
    probe.bind(QHostAddress::LocalHost, 0);
    const quint16 searchPort = probe.localPort();
    probe.close();
    QTemporaryDir folder;
    const QString config = folder.filePath(QStringLiteral("hall.conf"));
    writeFile(config, QStringLiteral("pjlink-search = 127.0.0.1:%1\n").arg(searchPort).toUtf8());
    PjlinkDaemon daemon(projector.device(), freePort(), {QStringLiteral("--config"), config});
    ASSERT_TRUE(
        runUntil([&] { return daemon.said().contains(QStringLiteral("PJLink search on UDP")); }, 5000))
        << daemon.said().toStdString();

    QUdpSocket controller;
    ASSERT_TRUE(controller.bind(QHostAddress::LocalHost, 0));
    for (const QByteArray &ignored :
        {QByteArray("%1SRCH\r"), QByteArray("\xff\x00garbage"), QByteArray("%2SRCH")})
        controller.writeDatagram(ignored, QHostAddress::LocalHost, searchPort);
    controller.writeDatagram("%2SRCH\r", QHostAddress::LocalHost, searchPort);
    ASSERT_TRUE(runUntil([&] { return controller.hasPendingDatagrams(); }, 5000));
    QByteArray answer(128, '\0');
    answer.resize(controller.readDatagram(answer.data(), answer.size()));
    // Loopback's MAC; and the first answer is the search's, so nothing that
    // came before it was answered.
    EXPECT_EQ(answer, "%2ACKN=00:00:00:00:00:00\r");
}

TEST(Pjlink, BeyondLoopbackWithoutAPasswordIsRefusedAndBadSettingsStopIt)
{
    ProjectorProcess projector;
    QProcess daemon;
    daemon.start(QStringLiteral(PANEL_BINARY_DIR "/bin/qv550d"),
        {QStringLiteral("--port"), projector.device(), QStringLiteral("--pjlink"),
            QStringLiteral("0.0.0.0:4352")});
    ASSERT_TRUE(daemon.waitForFinished(5000));
    EXPECT_EQ(daemon.exitCode(), 2);
    EXPECT_TRUE(QString::fromUtf8(daemon.readAllStandardError())
                    .contains(QStringLiteral("without a password is refused")));

    for (const QString &bad : {QStringLiteral("--pjlink=4352x"), QStringLiteral("--pjlink-inputs=1:61")}) {
        QProcess wrong;
        wrong.start(QStringLiteral(PANEL_BINARY_DIR "/bin/qv550d"),
            {QStringLiteral("--port"), projector.device(), QStringLiteral("--pjlink=127.0.0.1:4352"), bad});
        ASSERT_TRUE(wrong.waitForFinished(5000));
        EXPECT_EQ(wrong.exitCode(), 2) << bad.toStdString();
    }
}
