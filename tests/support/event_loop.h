// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// Running the event loop in tests that use real timers and a real line.

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QTimer>

#include <ctime>
#include <functional>

// Runs the event loop until `done` holds or `milliseconds` have passed;
// returns whether it holds.
inline bool runUntil(const std::function<bool()> &done, int milliseconds = 2000)
{
    QElapsedTimer waited;
    waited.start();
    while (!done() && waited.elapsed() < milliseconds)
        QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
    return done();
}

// Runs the event loop for `milliseconds`, asleep until something is due, as
// the program's own loop is.
inline void runFor(int milliseconds)
{
    QEventLoop loop;
    QTimer::singleShot(milliseconds, Qt::PreciseTimer, &loop, &QEventLoop::quit);
    loop.exec();
}

// CPU time this thread (the window's) has used, in milliseconds: a thread
// that spins on a dead line shows here.
inline double threadCpuMs()
{
    timespec now{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &now);
    return static_cast<double>(now.tv_sec) * 1000.0 + static_cast<double>(now.tv_nsec) / 1e6;
}
