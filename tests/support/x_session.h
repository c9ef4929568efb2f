// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// A private X server (Xvfb) for end-to-end tests of the real program, and
// xdotool to give it real input. Everything started here is stopped with it.

#include <QProcess>
#include <QStringList>

#include <memory>
#include <string>

class XSession {
public:
    // A screen of `size` ("WIDTHxHEIGHTxDEPTH").
    explicit XSession(QString size = QStringLiteral("1280x1024x24"));
    ~XSession();

    // Empty when the session is up; otherwise what is missing or failed.
    const std::string &problem() const { return problem_; }
    QString display() const { return display_; }
    QProcessEnvironment environment() const;

    // Runs xdotool (or another X client) in this session; returns its output.
    QString run(const QString &program, const QStringList &arguments, int timeoutMs = 10000);
    // The id of the first window whose name contains `name`, waiting for it.
    QString waitForWindow(const QString &name, int timeoutMs = 10000);

private:
    bool startServer();
    bool answers();
    void stopServer();

    std::unique_ptr<QProcess> server_;
    QString size_;
    QString display_;
    std::string problem_;
};
