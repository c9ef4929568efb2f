// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// qv550-cli runs and a qv550d as the tests of a shared line start them: a
// call's exit status and output, and an owner that has said it serves.

#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QProcessEnvironment>
#include <QStringList>

#include <string>

#include "processes.h"

struct CliCall {
    int status = -1;
    std::string out;
    std::string err;
    QJsonObject json() const { return QJsonDocument::fromJson(QByteArray::fromStdString(out)).object(); }
};

inline QString cliProgram()
{
    return QStringLiteral(PANEL_BINARY_DIR "/bin/qv550-cli");
}

// One whole qv550-cli call; -1 when it did not end within `timeoutMs`.
inline CliCall callCli(const QStringList &arguments, int timeoutMs = 30000,
    const QProcessEnvironment &environment = QProcessEnvironment::systemEnvironment())
{
    QProcess process;
    process.setProcessEnvironment(environment);
    process.start(cliProgram(), arguments);
    if (!process.waitForFinished(timeoutMs))
        stopProcess(process);
    return {process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1,
        process.readAllStandardOutput().toStdString(), process.readAllStandardError().toStdString()};
}

// qv550d serving `device` with `options`, from when it says so; stopped with it.
class OwnerDaemon {
public:
    explicit OwnerDaemon(const QString &device, const QStringList &options = {},
        const QProcessEnvironment &environment = QProcessEnvironment::systemEnvironment())
    {
        process_.setProcessEnvironment(environment);
        process_.setReadChannel(QProcess::StandardError);
        process_.start(QStringLiteral(PANEL_BINARY_DIR "/bin/qv550d"),
            QStringList{QStringLiteral("--port"), device} + options);
        while (said_.find("serving") == std::string::npos && process_.waitForReadyRead(5000))
            said_ += process_.readAllStandardError().toStdString();
    }
    ~OwnerDaemon() { stopProcess(process_); }
    bool serving() const { return said_.find("serving") != std::string::npos; }
    // All it has said on standard error so far.
    const std::string &said()
    {
        process_.waitForReadyRead(0);
        said_ += process_.readAllStandardError().toStdString();
        return said_;
    }
    void kill()
    {
        process_.kill();
        process_.waitForFinished(3000);
    }
    qint64 pid() const { return process_.processId(); }

private:
    QProcess process_;
    std::string said_;
};
