// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// The fifteen buttons that act while held: a press sends at once and starts
// Timer1, each tick sends the held command again, a release stops it all.

#include <array>
#include <cstdint>
#include <string_view>

struct PanelState;
class Exchange;
class Timer;
class View;

struct HoldButton {
    std::string_view control;
    std::string_view name; // for scripts, as in the catalogue
    std::string_view caption;
    std::string_view group;
    std::string_view code;
    std::uint8_t key; // what the press puts in repeatKey
    // Intervals the press sets, in ms; 0 leaves that timer's interval alone.
    int timer1;
    int timer2;
    int timer4;
    bool cursorPadArrow = false; // sets Timer2/Timer4 before sending, only in cursor-pad mode
};

// clang-format off
inline constexpr std::array kHoldButtons = {
    HoldButton{"Command1", "vol-up", "+", "VOL", "C09", 1, 250, 200, 245},
    HoldButton{"Command2", "vol-down", "-", "VOL", "C0A", 2, 250, 200, 245},
    HoldButton{"Command15", "zoom-plus", "+", "Zoom", "C47", 7, 50, 25, 25},
    HoldButton{"Command35", "zoom-minus", "-", "Zoom", "C46", 8, 50, 25, 25},
    HoldButton{"Command36", "focus-plus", "+", "Focus", "C4B", 9, 50, 25, 25},
    HoldButton{"Command37", "focus-minus", "-", "Focus", "C4A", 10, 50, 25, 25},
    HoldButton{"Command5", "cursor-up", "\u2191", "cursor pad", "C3C", 3, 0, 150, 190, true},
    HoldButton{"Command7", "cursor-down", "\u2193", "cursor pad", "C3D", 4, 0, 150, 190, true},
    HoldButton{"Command9", "cursor-left", "\u2190", "cursor pad", "C3B", 5, 0, 150, 190, true},
    HoldButton{"Command8", "cursor-right", "\u2192", "cursor pad", "C3A", 6, 0, 150, 190, true},
    HoldButton{"Command6", "select", "SELECT", "cursor pad", "C3F", 13, 500, 200, 245},
    HoldButton{"Command59", "lens-up", "\u2191", "LENS SHIFT", "C5D", 21, 50, 25, 25},
    HoldButton{"Command62", "lens-down", "\u2193", "LENS SHIFT", "C5E", 22, 50, 25, 25},
    HoldButton{"Command60", "lens-left", "\u2190", "LENS SHIFT", "C5F", 23, 50, 25, 25},
    HoldButton{"Command61", "lens-right", "\u2192", "LENS SHIFT", "C60", 24, 50, 25, 25},
};
// clang-format on

struct RepeatEntry {
    std::uint8_t key;
    std::string_view code;
};

// What a Timer1 tick sends for each repeatKey: every press's own code, and
// 14, which only a SELECT release leaves behind and no tick can see, since
// that release also stops Timer1.
// clang-format off
inline constexpr std::array kRepeatTable = {
    RepeatEntry{1, "C09"},  RepeatEntry{2, "C0A"},  RepeatEntry{3, "C3C"},  RepeatEntry{4, "C3D"},
    RepeatEntry{5, "C3B"},  RepeatEntry{6, "C3A"},  RepeatEntry{7, "C47"},  RepeatEntry{8, "C46"},
    RepeatEntry{9, "C4B"},  RepeatEntry{10, "C4A"}, RepeatEntry{13, "C3F"}, RepeatEntry{14, "C3E"},
    RepeatEntry{21, "C5D"}, RepeatEntry{22, "C5E"}, RepeatEntry{23, "C5F"}, RepeatEntry{24, "C60"},
};
// clang-format on

const HoldButton *holdButtonFor(std::string_view control);

class HoldButtons {
public:
    HoldButtons(
        PanelState &state, Exchange &exchange, View &view, Timer &timer1, Timer &timer2, Timer &timer4);

    // Mouse down and up on a hold button; false when `control` is not one.
    bool press(std::string_view control);
    bool release(std::string_view control);
    void Timer1_Timer();

private:
    void send(std::string_view code);

    PanelState &state_;
    Exchange &exchange_;
    View &view_;
    Timer &timer1_;
    Timer &timer2_;
    Timer &timer4_;
};
