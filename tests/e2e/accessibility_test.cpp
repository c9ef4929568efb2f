// SPDX-License-Identifier: GPL-3.0-or-later
// The panel as a screen reader meets it: the real program under a private X
// server, read through AT-SPI (pyatspi, on the accessibility bus of a
// private D-Bus session), its controls' names, descriptions and actions read
// back, and a press made through AT-SPI reaching the line.

#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <map>

#include "processes.h"
#include "x_session.h"

namespace {

TEST(ScreenReader, EveryControlHasANameOfItsOwnADescriptionAndTheLabelsCanBePressed)
{
    XSession x;
    ASSERT_TRUE(x.problem().empty()) << x.problem();
    QTemporaryDir scratch;
    const QString log = scratch.filePath(QStringLiteral("sim.log"));
    QProcess simulator;
    simulator.start(QStringLiteral(PANEL_BINARY_DIR "/bin/qv550-sim"), {QStringLiteral("--log"), log});
    ASSERT_TRUE(simulator.waitForReadyRead(5000));
    const QString device = QString::fromLocal8Bit(simulator.readLine().trimmed());

    QProcess probe;
    probe.setProcessEnvironment(x.environment());
    probe.start(QStringLiteral("dbus-run-session"),
        {QStringLiteral("--"), QStringLiteral("/usr/bin/python3"),
            QStringLiteral(PANEL_SOURCE_DIR "/tests/e2e/atspi_probe.py"),
            QStringLiteral(PANEL_BINARY_DIR "/bin/qv550-control"), device, QStringLiteral("POWER"),
            QStringLiteral("POWER ON")});
    ASSERT_TRUE(probe.waitForFinished(60000)) << "the AT-SPI probe did not finish";
    ASSERT_EQ(probe.exitCode(), 0) << probe.readAllStandardError().toStdString()
                                   << probe.readAllStandardOutput().toStdString();

    std::map<QString, int> names;
    int buttons = 0, pressableLabels = 0;
    bool pressed = false;
    for (const QByteArray &line : probe.readAllStandardOutput().split('\n')) {
        const QJsonObject control = QJsonDocument::fromJson(line).object();
        if (control.isEmpty())
            continue;
        if (control.contains(QStringLiteral("pressed"))) {
            pressed = true;
            continue;
        }
        const QString name = control[QStringLiteral("name")].toString();
        const QString role = control[QStringLiteral("role")].toString();
        ++names[name];
        EXPECT_FALSE(name.isEmpty()) << line.toStdString();
        EXPECT_FALSE(control[QStringLiteral("description")].toString().isEmpty()) << line.toStdString();
        buttons += role == QStringLiteral("push button");
        pressableLabels += role == QStringLiteral("label");
    }
    ASSERT_TRUE(pressed);
    EXPECT_GE(buttons, 90); // the data panel button is hidden at first
    EXPECT_EQ(pressableLabels, 14);
    for (const auto &[name, count] : names)
        EXPECT_EQ(count, 1) << name.toStdString() << " is shared";
    stopProcess(simulator);
    QFile sent(log);
    ASSERT_TRUE(sent.open(QIODevice::ReadOnly));
    const QByteArray lines = sent.readAll();
    EXPECT_TRUE(lines.contains("CR PROJH")) << lines.toStdString(); // the POWER label, pressed through AT-SPI
    EXPECT_TRUE(lines.contains("C00")) << lines.toStdString();
}

} // namespace
