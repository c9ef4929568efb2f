// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// The panel window's logic, without widgets: it owns the panel state and the
// handlers, and routes every window event (by control name), timer tick and
// serial event to the one handler that owns it. A failing control operation
// ends its handler; the panel then tells the user.

#include <functional>
#include <optional>
#include <string>
#include <string_view>

#include "commands/command_handlers.h"
#include "commands/hold_buttons.h"
#include "core/exchange.h"
#include "core/message_box.h"
#include "core/panel_state.h"
#include "serial/line_keeper.h"
#include "panel/panel_line_words.h"
#include "panel/port_link.h"
#include "panel/timer_ticks.h"
#include "panel/window_sizes.h"

class MessageBox;
class SerialControl;
class Timer;
class View;
class WindowGeometry;

inline constexpr int kKeyF5 = 0x74; // vbKeyF5

struct PanelTimers {
    Timer &timer1;
    Timer &timer2;
    Timer &timer3;
    Timer &timer4;
    Timer &reopen; // the line keeper's: paces the tries to open a lost line again
    Timer &settle; // the line keeper's: how long a network line that came back must stay up
};

class Panel {
public:
    Panel(SerialControl &MSComm1, View &view, MessageBox &messageBox, WindowGeometry &window,
        PanelTimers timers, std::function<void()> endProgram);

    // Runs start-up; returns the failure that stopped it, for the caller to
    // show once the window is up.
    std::optional<std::string> Form_Load();

    void click(std::string_view control);
    void mouseDown(std::string_view control);
    void mouseUp(std::string_view control);
    void dblClick(std::string_view control);
    // The logo's actions: the full height, and back to the compact height.
    void openFullHeight();
    void backToCompact();
    void keyDown(int keyCode, int shift);

    const PanelState &state() const { return state_; }
    const PortLink &portLink() const { return portLink_; }
    const LineKeeper &lineKeeper() const { return lineKeeper_; }

    // The held button is let go as if released: the window lost the mouse
    // or the keyboard.
    void releaseHeld();

    // A hold button from the keyboard (Space or Enter on the focused one):
    // the first press holds it as the mouse does and the release lets it
    // go; the keyboard's own repeats, and a second press while it is held,
    // add nothing, since the button repeats at its own period.
    void holdKeyDown(std::string_view control, bool autoRepeat);
    void holdKeyUp(std::string_view control, bool autoRepeat);
    // One step of a hold button (an assistive tool's press): its command
    // once, as a quick click sends it.
    void holdStep(std::string_view control);

private:
    // Every warning goes through here: a box takes the mouse, so the release
    // of a held button would never come and its repeat would run on.
    class HoldSafeMessageBox : public MessageBox {
    public:
        HoldSafeMessageBox(Panel &panel, MessageBox &box) : panel_(panel), box_(box) { }
        void warning(std::string_view message) override
        {
            panel_.releaseHeld();
            box_.warning(message);
        }
        void lineWarning(std::string_view message) override
        {
            panel_.releaseHeld();
            box_.lineWarning(message);
        }
        void lineBack() override { box_.lineBack(); }

    private:
        Panel &panel_;
        MessageBox &box_;
    };

    template <typename Handler> void guarded(Handler &&handler);

    PanelState state_;
    SerialControl &MSComm1_;
    View &view_;
    HoldSafeMessageBox messageBox_;
    WindowGeometry &window_;
    PanelTimers timers_;
    std::string held_; // the hold button the mouse or a key is down on, if any
    Exchange exchange_;
    PanelLineWords lineWords_;
    LineKeeper lineKeeper_;
    PortLink portLink_;
    TimerTicks ticks_;
    CommandHandlers commands_;
    HoldButtons holdButtons_;
    DataPanel dataPanel_;
};
