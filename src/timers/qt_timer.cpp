// SPDX-License-Identifier: GPL-3.0-or-later
// QTimer glue.

#include "timers/qt_timer.h"

QtTimer::QtTimer(const char *name, int interval)
{
    timer_.setObjectName(QString::fromLatin1(name));
    timer_.setTimerType(Qt::PreciseTimer);
    timer_.setInterval(interval);
    QObject::connect(&timer_, &QTimer::timeout, [this] { tick(); });
}
