// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// Programs the tests start: how to run a window without a display, and how
// to stop a program for sure (asked first, killed if it will not go).

#include <QProcess>
#include <QProcessEnvironment>

#include <csignal>
#include <signal.h>

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

// The simulated projector (qv550-sim) on a new pseudo-terminal, with
// `options`; stopped with it.
class ProjectorProcess {
public:
    explicit ProjectorProcess(const QStringList &options = {})
    {
        process_.start(QStringLiteral(PANEL_BINARY_DIR "/bin/qv550-sim"), options);
        if (process_.waitForReadyRead(5000))
            device_ = QString::fromLocal8Bit(process_.readLine().trimmed());
    }
    ~ProjectorProcess() { stopProcess(process_); }
    QString device() const { return device_; }
    // SIGUSR1: the remote chooses the next input; SIGUSR2: silent, or answering again.
    void signal(int number) { ::kill(static_cast<pid_t>(process_.processId()), number); }

private:
    QProcess process_;
    QString device_;
};
