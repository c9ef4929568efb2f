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
#include <initializer_list>
#include <map>
#include <memory>
#include <utility>
#include <sys/socket.h>
#include <unistd.h>

// The pipe's end the signal handler writes to; a handler can reach no other state.
inline int signalWriteEnd = -1;
inline std::map<int, std::function<void(int)>> signalHandlers;

// `onSignal` runs on the event loop's thread, between events, with the
// signal's number, each time one of `numbers` arrives.
inline void onSignals(QCoreApplication &app, std::initializer_list<int> numbers, std::function<void(int)> onSignal)
{
    if (signalWriteEnd < 0) {
        int fds[2];
        if (socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, fds) != 0)
            return;
        signalWriteEnd = fds[1];
        auto *notifier = new QSocketNotifier(fds[0], QSocketNotifier::Read, &app);
        QObject::connect(notifier, &QSocketNotifier::activated, &app, [readEnd = fds[0]] {
            char signalNumber = 0;
            if (::read(readEnd, &signalNumber, 1) == 1) {
                if (const auto handler = signalHandlers.find(signalNumber); handler != signalHandlers.end())
                    handler->second(signalNumber);
            }
        });
    }
    struct sigaction action {};
    action.sa_handler = [](int number) {
        const char byte = static_cast<char>(number);
        (void)!::write(signalWriteEnd, &byte, 1);
    };
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    for (const int number : numbers) {
        signalHandlers[number] = onSignal;
        sigaction(number, &action, nullptr);
    }
}

// `onSignal` runs once, for the first of them; by default the application's
// loop ends with status 128 + number.
inline void quitOnSignals(QCoreApplication &app, std::function<void(int)> onSignal = {})
{
    if (!onSignal)
        onSignal = [](int number) { QCoreApplication::exit(128 + number); };
    auto ended = std::make_shared<bool>(false);
    onSignals(app, {SIGTERM, SIGINT, SIGHUP}, [ended, onSignal](int number) {
        if (!std::exchange(*ended, true))
            onSignal(number);
    });
}
