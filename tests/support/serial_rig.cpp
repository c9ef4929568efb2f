// SPDX-License-Identifier: GPL-3.0-or-later
// socat removes its links when it is stopped with SIGTERM, which is how a
// pulled adapter looks to a program watching the folder.

#include "serial_rig.h"

#include <QFileInfo>

#include "event_loop.h"

SerialRig::SerialRig() = default;

SerialRig::~SerialRig()
{
    unplug();
}

std::string SerialRig::panelEnd() const
{
    return dir_.filePath(QStringLiteral("ttyPanel")).toStdString();
}

std::string SerialRig::farEnd() const
{
    return dir_.filePath(QStringLiteral("ttySim")).toStdString();
}

std::string SerialRig::simLog() const
{
    return dir_.filePath(QStringLiteral("sim.log")).toStdString();
}

void SerialRig::startPlugging()
{
    socat_.start(QStringLiteral("socat"),
        {QStringLiteral("pty,raw,echo=0,link=") + QString::fromStdString(panelEnd()),
            QStringLiteral("pty,raw,echo=0,link=") + QString::fromStdString(farEnd())});
}

bool SerialRig::plug(bool withSimulator, const QStringList &simArgs)
{
    const QString panel = QString::fromStdString(panelEnd());
    const QString far = QString::fromStdString(farEnd());
    startPlugging();
    if (!runUntil([&] { return QFileInfo::exists(panel) && QFileInfo::exists(far); }, 5000))
        return false;
    if (!withSimulator)
        return true;
    sim_.start(QStringLiteral(PANEL_BINARY_DIR "/bin/qv550-sim"),
        QStringList{QStringLiteral("--device"), far, QStringLiteral("--log"),
            QString::fromStdString(simLog())}
            + simArgs);
    // The simulator prints its device once it is listening.
    return runUntil([&] { return sim_.canReadLine(); }, 5000);
}

bool SerialRig::unplug()
{
    if (socat_.state() != QProcess::NotRunning) {
        socat_.terminate();
        socat_.waitForFinished(5000);
    }
    bool simEnded = true;
    if (sim_.state() != QProcess::NotRunning) {
        simEnded = runUntil([&] { return sim_.state() == QProcess::NotRunning; }, 3000);
        if (!simEnded) {
            sim_.kill();
            sim_.waitForFinished(2000);
        }
    }
    return simEnded;
}
