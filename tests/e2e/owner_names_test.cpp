// SPDX-License-Identifier: GPL-3.0-or-later
// Finding a line's owner by any name of the line: the path it was given
// (relative or not), a link to the device (as udev's by-id links are), and
// the node the device is today, for a device that appeared after the owner
// started and for one that came back under another node; and finding it
// without a runtime folder, where another user made /tmp/qv550-UID first.
// Real programs on socat pairs.

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QJsonDocument>
#include <QJsonObject>
#include <QLocalSocket>
#include <QProcess>
#include <QTemporaryDir>

#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include "event_loop.h"
#include "processes.h"
#include "serial/owner_socket.h"
#include "serial_rig.h"

namespace {

struct Finished {
    int status = -1;
    QString out;
    QString err;
    QString via() const
    {
        return QJsonDocument::fromJson(out.toUtf8()).object().value(QStringLiteral("via")).toString();
    }
};

// A program to its end: `runAs` is a user name for runuser, or empty.
Finished run(const QString &program, const QStringList &arguments, const QString &folder = {},
    const QProcessEnvironment &environment = QProcessEnvironment::systemEnvironment(),
    const QString &runAs = {})
{
    QProcess process;
    process.setProcessEnvironment(environment);
    if (!folder.isEmpty())
        process.setWorkingDirectory(folder);
    if (runAs.isEmpty())
        process.start(program, arguments);
    else
        process.start(QStringLiteral("runuser"),
            QStringList{QStringLiteral("-u"), runAs, QStringLiteral("--"), program} + arguments);
    Finished result;
    if (!process.waitForFinished(30000)) {
        process.kill();
        process.waitForFinished(1000);
        return result;
    }
    result.status = process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1;
    result.out = QString::fromUtf8(process.readAllStandardOutput());
    result.err = QString::fromUtf8(process.readAllStandardError());
    return result;
}

const QString kCli = QStringLiteral(PANEL_BINARY_DIR "/bin/qv550-cli");

// `qv550-cli --port NAME --json status` until it goes through an owner or
// `ms` pass; every try that fails must not blame one of our owners.
Finished statusViaOwner(const QString &name, const QString &folder = {}, int ms = 15000)
{
    Finished last;
    QElapsedTimer waited;
    waited.start();
    do {
        last = run(kCli, {QStringLiteral("--port"), name, QStringLiteral("--json"), QStringLiteral("status")},
            folder);
        EXPECT_FALSE(last.err.contains(QStringLiteral("in use by qv550")))
            << name.toStdString() << ": " << last.err.toStdString();
        if (last.status == 0 && last.via() == QStringLiteral("owner"))
            return last;
        runFor(100);
    } while (waited.elapsed() < ms);
    return last;
}

class Owner {
public:
    Owner(const QStringList &arguments, const QString &folder = {},
        const QProcessEnvironment &environment = QProcessEnvironment::systemEnvironment(),
        const QString &runAs = {})
    {
        process_.setProcessEnvironment(environment);
        if (!folder.isEmpty())
            process_.setWorkingDirectory(folder);
        const QString daemon = QStringLiteral(PANEL_BINARY_DIR "/bin/qv550d");
        if (runAs.isEmpty())
            process_.start(daemon, arguments);
        else
            process_.start(QStringLiteral("runuser"),
                QStringList{QStringLiteral("-u"), runAs, QStringLiteral("--"), daemon} + arguments);
        process_.setReadChannel(QProcess::StandardError);
        while (said_.indexOf(QStringLiteral("serving")) < 0 && process_.waitForReadyRead(5000))
            said_ += QString::fromUtf8(process_.readAllStandardError());
    }
    ~Owner() { stopProcess(process_); }
    const QString &said() const { return said_; }

private:
    QProcess process_;
    QString said_;
};

} // namespace

TEST(OwnerNames, EveryNameOfTheLineFindsAnOwnerStartedBeforeItsDeviceAndAfterAReplug)
{
    SerialRig rig;
    const QString folder = QFileInfo(QString::fromStdString(rig.panelEnd())).absolutePath();
    QTemporaryDir byId;
    const QString link = byId.filePath(QStringLiteral("usb-QV550_Test_Cable-if00-port0"));
    ASSERT_TRUE(QFile::link(QString::fromStdString(rig.panelEnd()), link));

    // Given a relative name of a device that is not there yet.
    Owner owner(
        {QStringLiteral("--port"), QStringLiteral("./ttyPanel"), QStringLiteral("--no-poll")}, folder);
    ASSERT_TRUE(owner.said().contains(QStringLiteral("serving"))) << owner.said().toStdString();
    ASSERT_TRUE(rig.plug());
    const QString node = QFileInfo(link).canonicalFilePath();
    for (const auto &[name, from] : {std::pair{QStringLiteral("./ttyPanel"), folder},
             std::pair{QString::fromStdString(rig.panelEnd()), QString()}, std::pair{link, QString()},
             std::pair{node, QString()}}) {
        const Finished got = statusViaOwner(name, from);
        EXPECT_EQ(got.via(), QStringLiteral("owner"))
            << name.toStdString() << ": " << got.out.toStdString() << got.err.toStdString();
    }

    // The adapter is pulled and comes back under another node: the freed
    // nodes are taken by another pair first.
    rig.unplug();
    QProcess other;
    other.start(
        QStringLiteral("socat"), {QStringLiteral("pty,raw,echo=0"), QStringLiteral("pty,raw,echo=0")});
    ASSERT_TRUE(runUntil([&] { return QFileInfo::exists(node); }, 5000));
    ASSERT_TRUE(rig.plug());
    const QString again = QFileInfo(link).canonicalFilePath();
    ASSERT_NE(again, node);
    for (const QString &name : {again, link, QString::fromStdString(rig.panelEnd())}) {
        const Finished got = statusViaOwner(name);
        EXPECT_EQ(got.via(), QStringLiteral("owner"))
            << name.toStdString() << ": " << got.out.toStdString() << got.err.toStdString();
    }
    // The old node is another line now: no owner of ours is found for it.
    const Finished old
        = run(kCli, {QStringLiteral("--port"), node, QStringLiteral("--json"), QStringLiteral("status")});
    EXPECT_NE(old.via(), QStringLiteral("owner")) << old.out.toStdString();
    stopProcess(other);
}

TEST(OwnerNames, WithoutARuntimeFolderTheUsersOwnFolderIsUsedThoughAnotherUserMadeTheTmpOneFirst)
{
    // A user with a home and no session (so no /run/user/UID), and another
    // user who makes the first user's /tmp/qv550-UID before any of our
    // programs runs.
    const auto ensureUser = [](const QString &name, bool home) {
        if (run(QStringLiteral("id"), {name}).status != 0)
            run(QStringLiteral("useradd"),
                {home ? QStringLiteral("--create-home") : QStringLiteral("--no-create-home"), name});
        return run(QStringLiteral("id"), {name}).status == 0;
    };
    ASSERT_TRUE(ensureUser(QStringLiteral("qv550-home"), true));
    ASSERT_TRUE(ensureUser(QStringLiteral("qv550-other"), false));
    const passwd *user = getpwnam("qv550-home");
    ASSERT_NE(user, nullptr);
    const std::string uid = std::to_string(user->pw_uid);
    ASSERT_FALSE(QFileInfo::exists(QString::fromStdString("/run/user/" + uid)));
    const QString taken = QString::fromStdString("/tmp/qv550-" + uid);
    QDir(taken).removeRecursively();
    ASSERT_TRUE(QDir().mkdir(taken));
    ASSERT_EQ(run(QStringLiteral("chown"), {QStringLiteral("qv550-other"), taken}).status, 0);
    ::chmod(taken.toLocal8Bit().constData(), 0700);

    ProjectorProcess projector;
    ASSERT_FALSE(projector.device().isEmpty());
    ::chmod(projector.device().toLocal8Bit().constData(), 0666);
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.remove(QStringLiteral("XDG_RUNTIME_DIR"));
    environment.insert(QStringLiteral("HOME"), QStringLiteral("/nonexistent")); // not what decides
    const QString expected = QString::fromLocal8Bit(user->pw_dir) + QStringLiteral("/.cache/qv550/");
    {
        Owner owner({QStringLiteral("--port"), projector.device(), QStringLiteral("--no-poll")},
            QStringLiteral("/"), environment, QStringLiteral("qv550-home"));
        EXPECT_TRUE(owner.said().contains(QStringLiteral(" on ") + expected)) << owner.said().toStdString();
        const Finished got = run(kCli,
            {QStringLiteral("--port"), projector.device(), QStringLiteral("--json"),
                QStringLiteral("status")},
            QStringLiteral("/"), environment, QStringLiteral("qv550-home"));
        EXPECT_EQ(got.via(), QStringLiteral("owner")) << got.out.toStdString() << got.err.toStdString();
    }
    QDir(taken).removeRecursively();
}

TEST(OwnerNames, APanelStartedBeforeItsDeviceIsFoundByTheNodeItOpenedThoughItsSocketHasNoSuchName)
{
    // The panel names its socket when it starts serving, before its device
    // is there: a client given the node finds it by the lock's process.
    SerialRig rig;
    QProcess panel;
    panel.setProcessEnvironment(offscreenEnvironment());
    panel.start(
        QStringLiteral(PANEL_BINARY_DIR "/bin/qv550-control"), {QString::fromStdString(rig.panelEnd())});
    ASSERT_TRUE(panel.waitForStarted(5000));
    runFor(500);
    ASSERT_TRUE(rig.plug());
    const QString node = QFileInfo(QString::fromStdString(rig.panelEnd())).canonicalFilePath();
    const Finished got = statusViaOwner(node);
    EXPECT_EQ(got.via(), QStringLiteral("owner")) << got.out.toStdString() << got.err.toStdString();

    // A second panel given the node is that panel's client, not refused.
    QProcess second;
    second.setProcessEnvironment(offscreenEnvironment());
    second.start(QStringLiteral(PANEL_BINARY_DIR "/bin/qv550-control"), {node});
    ASSERT_TRUE(second.waitForStarted(5000));
    QLocalSocket owner;
    owner.connectToServer(QString::fromStdString(ownerFolder() + "/" + lineName(rig.panelEnd()) + ".sock"));
    ASSERT_TRUE(owner.waitForConnected(2000));
    int clients = 0;
    for (int i = 0; i < 50 && clients < 2; ++i) {
        runFor(100);
        owner.write("{\"id\": 1, \"hello\": true}\n");
        if (owner.waitForReadyRead(1000))
            clients
                = QJsonDocument::fromJson(owner.readLine()).object().value(QStringLiteral("clients")).toInt();
    }
    EXPECT_EQ(clients, 2); // this test and the second panel's line
    EXPECT_EQ(second.state(), QProcess::Running);
    stopProcess(second);
    stopProcess(panel);
}
