// SPDX-License-Identifier: GPL-3.0-or-later
// Tick handlers. The reply watch runs to its tick whether or not a reply came:
// the tick closes the collection window for the exchange.

#include "panel/timer_ticks.h"

#include "core/panel_state.h"
#include "core/view.h"
#include "core/timer.h"

TimerTicks::TimerTicks(PanelState &state, View &view, Timer &timer2, Timer &timer3, Timer &timer4)
    : state_(state), view_(view), timer2_(timer2), timer3_(timer3), timer4_(timer4)
{ }

void TimerTicks::Timer2_Timer()
{
    if (state_.awaitingReply == 1)
        view_.setCaption("Label12", " X X X X");
    timer2_.setEnabled(false);
    state_.receiveBuffer = "";
    state_.awaitingReply = 0;
}

void TimerTicks::Timer3_Timer()
{
    view_.setVisible("Frame8", false);
    timer3_.setEnabled(false);
}

void TimerTicks::Timer4_Timer()
{
    view_.setCaption("Label11", "");
    view_.setCaption("Label12", "");
    view_.setCaption(role::kStatusLine, "");
    timer4_.setEnabled(false);
}
