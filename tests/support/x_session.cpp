// SPDX-License-Identifier: GPL-3.0-or-later
// Xvfb with -displayfd picks a free display and tells us its number.

#include "x_session.h"

#include "processes.h"

#include <QElapsedTimer>
#include <QStandardPaths>
#include <QThread>

XSession::XSession(QString size) : size_(std::move(size))
{
    for (const char *tool : {"Xvfb", "xdotool", "xwininfo"}) {
        if (QStandardPaths::findExecutable(QString::fromLatin1(tool)).isEmpty()) {
            problem_ = std::string(tool)
                + " is not installed (Debian packages xvfb, xdotool, x11-utils); "
                  "the README's test command installs them";
            return;
        }
    }
    // Two servers started at the same moment (tests run in parallel) may
    // both pick one display, and the loser's number does not answer: check
    // that it does, and start again if not.
    for (int attempt = 0; attempt < 3; ++attempt) {
        problem_.clear();
        if (startServer() && answers())
            return;
        stopServer();
        if (problem_.empty())
            problem_ = "Xvfb's display " + display_.toStdString() + " does not answer";
    }
}

bool XSession::answers()
{
    QProcess probe;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("DISPLAY"), display_);
    probe.setProcessEnvironment(env);
    probe.start(QStringLiteral("xdpyinfo"), {});
    return probe.waitForFinished(5000) && probe.exitStatus() == QProcess::NormalExit && probe.exitCode() == 0;
}

bool XSession::startServer()
{
    server_ = std::make_unique<QProcess>();
    server_->setProcessChannelMode(QProcess::SeparateChannels);
    server_->start(QStringLiteral("Xvfb"),
        {QStringLiteral("-displayfd"), QStringLiteral("1"), QStringLiteral("-screen"), QStringLiteral("0"),
            size_, QStringLiteral("-nolisten"), QStringLiteral("tcp"),
            // No reset when the last client leaves: a client connecting meanwhile would be refused.
            QStringLiteral("-noreset")});
    if (!server_->waitForStarted(5000)) {
        problem_ = "Xvfb did not start";
        return false;
    }
    QElapsedTimer waited;
    waited.start();
    QByteArray number;
    while (!number.contains('\n') && waited.elapsed() < 10000) {
        server_->waitForReadyRead(200);
        number += server_->readAllStandardOutput();
    }
    if (!number.contains('\n')) {
        problem_ = "Xvfb did not report its display";
        return false;
    }
    display_ = QStringLiteral(":") + QString::fromLatin1(number.trimmed());
    return true;
}

XSession::~XSession()
{
    stopServer();
}

void XSession::stopServer()
{
    if (server_)
        stopProcess(*server_);
}

QProcessEnvironment XSession::environment() const
{
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("DISPLAY"), display_);
    env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("xcb"));
    return env;
}

QString XSession::run(const QString &program, const QStringList &arguments, int timeoutMs)
{
    QProcess process;
    process.setProcessEnvironment(environment());
    process.start(program, arguments);
    if (!process.waitForFinished(timeoutMs)) {
        process.kill();
        process.waitForFinished(1000);
        return {};
    }
    return QString::fromLocal8Bit(process.readAllStandardOutput()).trimmed();
}

QString XSession::waitForWindow(const QString &name, int timeoutMs)
{
    QElapsedTimer waited;
    waited.start();
    while (waited.elapsed() < timeoutMs) {
        const QString found = run(
            QStringLiteral("xdotool"), {QStringLiteral("search"), QStringLiteral("--name"), name}, 2000);
        if (!found.isEmpty())
            return found.split(QLatin1Char('\n')).first();
        QThread::msleep(100);
    }
    return {};
}
