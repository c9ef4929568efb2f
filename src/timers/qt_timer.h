// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// A window timer on QTimer. Precise timing is asked for: the default coarse
// timers may move a 25 ms interval by over a millisecond.

#include <QTimer>

#include "core/timer.h"

class QtTimer : public Timer {
public:
    QtTimer(const char *name, int interval);

    void setInterval(int milliseconds) override { timer_.setInterval(milliseconds); }
    int interval() const override { return timer_.interval(); }
    void setEnabled(bool enabled) override
    {
        if (enabled)
            timer_.start(); // also restarts a running timer
        else
            timer_.stop();
    }
    bool enabled() const override { return timer_.isActive(); }

private:
    QTimer timer_;
};
