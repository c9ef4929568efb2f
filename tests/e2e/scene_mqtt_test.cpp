// SPDX-License-Identifier: GPL-3.0-or-later
// A scene from Home Assistant's side, on a real mosquitto broker: the
// scene's button in discovery, its press on the command topic, and each
// step reaching the reply topic as it ends, until the projector is on.

#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include "event_loop.h"
#include "mqtt_broker.h"
#include "processes.h"

namespace {

TEST(SceneMqtt, TheScenesButtonRunsItAndEachStepIsToldOnTheReplyTopic)
{
    QTemporaryDir folder;
    const QString password = folder.filePath(QStringLiteral("password"));
    writeFile(password, "secret\n");
    QFile::setPermissions(password, QFileDevice::ReadOwner | QFileDevice::WriteOwner);
    const QString scenes = folder.filePath(QStringLiteral("room.json"));
    writeFile(scenes, R"({"presentation": [{"command": "power-on"},
        {"wait": {"status": "Power ON"}, "timeout_s": 30}, {"command": "input-2"},
        {"expect": {"mode": "Input mode 2"}, "timeout_s": 5}]})");
    MqttBroker broker;
    ProjectorProcess projector({QStringLiteral("--countdown"), QStringLiteral("2000")});
    QProcess service;
    service.start(QStringLiteral(PANEL_BINARY_DIR "/bin/qv550d"),
        {QStringLiteral("--port"), projector.device(), QStringLiteral("--mqtt"), broker.url(),
            QStringLiteral("--mqtt-user"), QStringLiteral("qv"), QStringLiteral("--mqtt-password-file"),
            password, QStringLiteral("--name"), QStringLiteral("hall"), QStringLiteral("--scenes"), scenes});
    ASSERT_TRUE(service.waitForStarted(5000));
    const QStringList button = received(
        broker, QStringLiteral("homeassistant/button/qv550_hall/scene_presentation/config"), 1, 10);
    ASSERT_EQ(button.size(), 1) << service.readAllStandardError().toStdString();
    const QJsonObject config = payloadOf(button[0]);
    EXPECT_EQ(config.value(QStringLiteral("command_topic")), QStringLiteral("qv550/hall/command"));

    QProcess replies; // the start, four steps and the end
    replies.start(QStringLiteral("mosquitto_sub"),
        broker.login()
            + QStringList{QStringLiteral("-t"), QStringLiteral("qv550/hall/reply"), QStringLiteral("-C"),
                QStringLiteral("6"), QStringLiteral("-W"), QStringLiteral("30")});
    runFor(300);
    QProcess::execute(QStringLiteral("mosquitto_pub"),
        broker.login()
            + QStringList{QStringLiteral("-t"), QStringLiteral("qv550/hall/command"), QStringLiteral("-m"),
                config.value(QStringLiteral("payload_press")).toString()});
    ASSERT_TRUE(replies.waitForFinished(35000));
    const QList<QByteArray> told = replies.readAllStandardOutput().trimmed().split('\n');
    ASSERT_EQ(told.size(), 6) << told.join('\n').toStdString();
    const QJsonObject waited = QJsonDocument::fromJson(told[2]).object();
    EXPECT_EQ(waited.value(QStringLiteral("did")), QStringLiteral("wait status = Power ON"));
    EXPECT_GE(waited.value(QStringLiteral("elapsed_ms")).toDouble(), 1500); // the count-down, not less
    EXPECT_EQ(QJsonDocument::fromJson(told[5]).object().value(QStringLiteral("end")), QStringLiteral("done"));
    stopProcess(service);
}

} // namespace
