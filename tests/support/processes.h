// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// Programs the tests start: how to run a window without a display, and how
// to stop a program for sure (asked first, killed if it will not go).

#include <QProcess>
#include <QProcessEnvironment>

inline QProcessEnvironment offscreenEnvironment()
{
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
    return environment;
}

inline void stopProcess(QProcess &process)
{
    if (process.state() == QProcess::NotRunning)
        return;
    process.terminate();
    if (!process.waitForFinished(3000))
        process.kill();
    process.waitForFinished(1000);
}
