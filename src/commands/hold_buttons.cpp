// SPDX-License-Identifier: GPL-3.0-or-later
// Press, tick and release in the orders the repeat mechanism depends on: the
// cursor-pad arrows set the reply intervals before sending and never touch
// Timer1's interval, so they repeat at whatever rate the last hold set.

#include "commands/hold_buttons.h"

#include <string>

#include "core/exchange.h"
#include "core/panel_state.h"
#include "core/view.h"
#include "core/timer.h"

const HoldButton *holdButtonFor(std::string_view control)
{
    for (const HoldButton &button : kHoldButtons) {
        if (button.control == control)
            return &button;
    }
    return nullptr;
}

HoldButtons::HoldButtons(
    PanelState &state, Exchange &exchange, View &view, Timer &timer1, Timer &timer2, Timer &timer4)
    : state_(state), exchange_(exchange), view_(view), timer1_(timer1), timer2_(timer2), timer4_(timer4)
{ }

void HoldButtons::send(std::string_view code)
{
    state_.commandText = state_.addressPrefix + std::string(code) + '\r';
    exchange_.Hyouji(state_.commandText, kTransmit);
}

bool HoldButtons::press(std::string_view control)
{
    const HoldButton *button = holdButtonFor(control);
    if (!button)
        return false;
    if (button->cursorPadArrow) {
        if (state_.cursorPadMode == 1) {
            timer2_.setInterval(button->timer2);
            timer4_.setInterval(button->timer4);
        }
        state_.repeatKey = button->key;
        send(button->code);
        timer1_.setEnabled(true);
        return true;
    }
    state_.repeatKey = button->key;
    send(button->code);
    timer1_.setInterval(button->timer1);
    timer2_.setInterval(button->timer2);
    timer4_.setInterval(button->timer4);
    timer1_.setEnabled(true);
    return true;
}

void HoldButtons::Timer1_Timer()
{
    if (state_.repeatKey == 0)
        return;
    for (const RepeatEntry &entry : kRepeatTable) {
        if (entry.key == state_.repeatKey) {
            send(entry.code);
            // Timer1 is running (this is its tick), so it keeps its period;
            // enabling it again would restart the count and let every tick's
            // delivery delay add up.
            if (!timer1_.enabled())
                timer1_.setEnabled(true);
            return;
        }
    }
}

bool HoldButtons::release(std::string_view control)
{
    if (!holdButtonFor(control))
        return false;
    state_.repeatKey = control == "Command6" ? 14 : 0;
    timer1_.setEnabled(false);
    timer2_.setEnabled(false);
    timer4_.setEnabled(true);
    view_.setCaption("Label11", "");
    view_.setCaption("Label12", "");
    timer2_.setInterval(500);
    timer4_.setInterval(1000);
    state_.receiveBuffer = "";
    return true;
}
