// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// SIGTERM, SIGINT and SIGHUP end the event loop instead of the process, so the
// port is closed and its lock file removed as on a normal exit: a panel killed
// by a session logout or a service manager must not leave a lock that blocks
// every other user of the device. The handler only writes to a pipe; the loop
// reads it between events.

#include <QCoreApplication>
#include <QSocketNotifier>

#include <csignal>
#include <functional>
#include <sys/socket.h>
#include <unistd.h>

// The pipe's end the signal handler writes to; a handler can reach no other state.
inline int quitSignalWriteEnd = -1;

// `onSignal` runs on the event loop's thread with the signal's number; by
// default the application's loop ends with status 128 + number.
inline void quitOnSignals(QCoreApplication &app, std::function<void(int)> onSignal = {})
{
    if (!onSignal)
        onSignal = [](int number) { QCoreApplication::exit(128 + number); };
    int fds[2];
    if (socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, fds) != 0)
        return;
    quitSignalWriteEnd = fds[1];
    auto *notifier = new QSocketNotifier(fds[0], QSocketNotifier::Read, &app);
    QObject::connect(notifier, &QSocketNotifier::activated, &app, [notifier, readEnd = fds[0], onSignal] {
        char signalNumber = 0;
        if (::read(readEnd, &signalNumber, 1) == 1) {
            notifier->setEnabled(false);
            onSignal(signalNumber);
        }
    });
    struct sigaction action {};
    action.sa_handler = [](int number) {
        const char byte = static_cast<char>(number);
        (void)!::write(quitSignalWriteEnd, &byte, 1);
    };
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    for (int number : {SIGTERM, SIGINT, SIGHUP})
        sigaction(number, &action, nullptr);
}
