// SPDX-License-Identifier: GPL-3.0-or-later
// Event routing and the reporting of failed operations. A command that could
// not be written says so on the status line, and in a box only the first
// time while the port is down, since a held button repeats every 50 ms; any
// other failure gets a warning box.

#include "panel/panel.h"

#include "core/control_error.h"
#include "core/message_box.h"
#include "core/startup.h"
#include "core/view.h"
#include "core/serial_control.h"
#include "core/timer.h"

Panel::Panel(SerialControl &MSComm1, View &view, MessageBox &messageBox, WindowGeometry &window,
    PanelTimers timers, std::function<void()> endProgram)
    : MSComm1_(MSComm1), view_(view), messageBox_(*this, messageBox), window_(window), timers_(timers),
      exchange_(state_, MSComm1, view, timers.timer2, timers.timer4),
      lineWords_(view, messageBox_, timers.timer4),
      lineKeeper_(MSComm1, lineWords_, timers.reopen, timers.settle),
      portLink_(state_, MSComm1, exchange_, view, messageBox_, lineKeeper_),
      ticks_(state_, view, timers.timer2, timers.timer3, timers.timer4),
      commands_(state_, exchange_, view, messageBox_, MSComm1, timers.timer1, timers.timer2, timers.timer3,
          timers.timer4,
          [this, end = std::move(endProgram)] {
              // END closed the port on purpose: it is not waited for.
              lineKeeper_.closed();
              end();
          }),
      holdButtons_(state_, exchange_, view, timers.timer1, timers.timer2, timers.timer4),
      dataPanel_(state_, window, view, timers.timer3)
{
    timers_.timer1.setOnTick([this] { guarded([this] { holdButtons_.Timer1_Timer(); }); });
    timers_.timer2.setOnTick([this] { guarded([this] { ticks_.Timer2_Timer(); }); });
    timers_.timer3.setOnTick([this] { guarded([this] { ticks_.Timer3_Timer(); }); });
    timers_.timer4.setOnTick([this] { guarded([this] { ticks_.Timer4_Timer(); }); });
    timers_.reopen.setOnTick([this] { guarded([this] { lineKeeper_.reopenTimer_Timer(); }); });
    timers_.settle.setOnTick([this] { guarded([this] { lineKeeper_.settleTimer_Timer(); }); });
    MSComm1_.setOnComm([this] { guarded([this] { portLink_.MSComm1_OnComm(); }); });
}

template <typename Handler> void Panel::guarded(Handler &&handler)
{
    try {
        handler();
    } catch (const ControlError &error) {
        if (error.op() == ControlOp::Output) {
            view_.setCaption(role::kStatusLine, " NOT SENT: " + error.description());
            lineKeeper_.notSent(error.failure());
        } else {
            messageBox_.warning(error.description());
        }
    }
}

std::optional<std::string> Panel::Form_Load()
{
    try {
        ::Form_Load(state_, window_, MSComm1_, [this] {
            view_.setSelected("Option1");
            portLink_.Option1_Click();
        });
    } catch (const ControlError &error) {
        if (error.op() == ControlOp::PortOpen) {
            lineKeeper_.startupFailed(error.failure());
            return lineWords_.takeStartupWarning();
        }
        return error.description();
    }
    return std::nullopt;
}

void Panel::click(std::string_view control)
{
    guarded([&] {
        if (control == "Option1")
            portLink_.Option1_Click();
        else if (control == "Option2")
            portLink_.Option2_Click();
        else if (control == "Option9")
            portLink_.Option9_Click();
        else if (control == "Option10")
            portLink_.Option10_Click();
        else if (control == "Command34")
            dataPanel_.Command34_Click();
        else
            commands_.click(control);
    });
}

void Panel::mouseDown(std::string_view control)
{
    if (holdButtonFor(control))
        held_ = std::string(control);
    guarded([&] { holdButtons_.press(control); });
}

void Panel::mouseUp(std::string_view control)
{
    if (control == held_)
        held_.clear();
    guarded([&] { holdButtons_.release(control); });
}

void Panel::releaseHeld()
{
    if (!held_.empty())
        mouseUp(std::string(held_));
}

void Panel::holdKeyDown(std::string_view control, bool autoRepeat)
{
    if (autoRepeat || !holdButtonFor(control) || held_ == control)
        return;
    releaseHeld(); // one button is held at a time
    mouseDown(control);
}

void Panel::holdKeyUp(std::string_view control, bool autoRepeat)
{
    if (!autoRepeat && held_ == control)
        mouseUp(control);
}

void Panel::holdStep(std::string_view control)
{
    if (!holdButtonFor(control))
        return;
    releaseHeld();
    mouseDown(control);
    mouseUp(control);
}

void Panel::dblClick(std::string_view control)
{
    if (control == "Image1")
        guarded([&] { dataPanel_.Image1_DblClick(); });
}

void Panel::openFullHeight()
{
    guarded([&] { dataPanel_.openFullHeight(); });
}

void Panel::backToCompact()
{
    guarded([&] { dataPanel_.backToCompact(); });
}

void Panel::keyDown(int keyCode, int shift)
{
    // F5 tries a line that is down now, without a trip through the settings.
    if (keyCode == kKeyF5 && shift == 0) {
        guarded([&] { lineKeeper_.retryNow(); });
        return;
    }
    guarded([&] { dataPanel_.Form_KeyDown(keyCode, shift); });
}
