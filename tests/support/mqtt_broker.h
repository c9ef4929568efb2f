// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// A real mosquitto broker for tests and benchmarks, started with a config of
// its own: 127.0.0.1 on a free port, a user "qv" with the password "secret"
// in a password file (and any other users a test asks for), anonymous
// clients refused, nothing kept between runs.

#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>
#include <QHostAddress>
#include <QProcess>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTemporaryDir>

#include <cstdio>
#include <cstdlib>
#include <pwd.h>
#include <unistd.h>

#include "event_loop.h"
#include "processes.h"

inline int freePort()
{
    QTcpServer probe;
    probe.listen(QHostAddress::LocalHost, 0);
    return probe.serverPort();
}

inline void writeFile(const QString &path, const QByteArray &text)
{
    QFile file(path);
    if (file.open(QIODevice::WriteOnly))
        file.write(text);
}

// mosquitto on 127.0.0.1 with a user "qv" (password "secret") and nothing
// for anonymous clients; `extra` is appended to its config (a bridge, an
// access list), and `users` are more users, each with the password "secret".
class MqttBroker {
public:
    explicit MqttBroker(const QByteArray &extra = {}, const QStringList &users = {}) : port_(freePort())
    {
        const QString passwords = folder_.filePath(QStringLiteral("passwords"));
        QProcess::execute(QStringLiteral("mosquitto_passwd"),
            {QStringLiteral("-b"), QStringLiteral("-c"), passwords, QStringLiteral("qv"),
                QStringLiteral("secret")});
        for (const QString &user : users)
            QProcess::execute(QStringLiteral("mosquitto_passwd"),
                {QStringLiteral("-b"), passwords, user, QStringLiteral("secret")});
        config_ = folder_.filePath(QStringLiteral("mosquitto.conf"));
        // Started as root, mosquitto would become the user "mosquitto", who
        // cannot read this folder: it stays who we are.
        writeFile(config_,
            "user " + QByteArray(getpwuid(getuid())->pw_name) + "\nlistener " + QByteArray::number(port_)
                + " 127.0.0.1\nallow_anonymous false\npassword_file " + passwords.toUtf8()
                + "\npersistence false\n" + extra);
        start();
    }
    ~MqttBroker() { stopProcess(process_); }
    void start()
    {
        process_.start(QStringLiteral("mosquitto"), {QStringLiteral("-c"), config_});
        if (!process_.waitForStarted(5000)) {
            // Never skipped: a run without the broker fails.
            std::fprintf(stderr, "mosquitto is missing: the MQTT tests need it (Debian package mosquitto)\n");
            std::abort();
        }
        QElapsedTimer waited;
        waited.start();
        while (waited.elapsed() < 5000) {
            QTcpSocket probe;
            probe.connectToHost(QHostAddress::LocalHost, static_cast<quint16>(port_));
            if (probe.waitForConnected(200))
                return;
            runFor(50);
        }
    }
    void kill()
    {
        process_.kill();
        process_.waitForFinished(3000);
    }
    int port() const { return port_; }
    QString url() const { return QStringLiteral("mqtt://127.0.0.1:%1").arg(port_); }
    QStringList login(const QString &user = QStringLiteral("qv")) const
    {
        return {QStringLiteral("-p"), QString::number(port_), QStringLiteral("-u"), user,
            QStringLiteral("-P"), QStringLiteral("secret")};
    }

private:
    QTemporaryDir folder_;
    int port_;
    QString config_;
    QProcess process_;
};

// What a subscriber to `topic` reads: up to `count` messages ("topic payload"
// lines), retained ones first, within `seconds`.
inline QStringList received(const MqttBroker &broker, const QString &topic, int count, int seconds = 5)
{
    QProcess sub;
    sub.start(QStringLiteral("mosquitto_sub"),
        broker.login()
            + QStringList{QStringLiteral("-v"), QStringLiteral("-t"), topic, QStringLiteral("-C"),
                QString::number(count), QStringLiteral("-W"), QString::number(seconds)});
    sub.waitForFinished((seconds + 2) * 1000);
    return QString::fromUtf8(sub.readAllStandardOutput()).split(QLatin1Char('\n'), Qt::SkipEmptyParts);
}

// The JSON payload of such a line.
inline QJsonObject payloadOf(const QString &line)
{
    return QJsonDocument::fromJson(line.mid(line.indexOf(QLatin1Char(' ')) + 1).toUtf8()).object();
}
