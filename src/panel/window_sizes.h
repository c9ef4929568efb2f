// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// The data panel gestures: Ctrl+Q, the double-click on the logo and the data
// panel button, which switch the window between its four outer heights.

#include <cstdint>

struct PanelState;
class Timer;
class View;
class WindowGeometry;

inline constexpr float kMonitorHeight = 6645.0F;
inline constexpr float kDataPanelHeight = 7200.0F;
inline constexpr float kFullHeight = 9100.0F;
inline constexpr float kPanelOpenThreshold = 6000.0F;
// Title bar and borders, the difference between outer and client height.
inline constexpr int kTitleAllowance = 370;

inline constexpr char kShowDataCaption[] = "\u30C7\u30FC\u30BF\u3092\u8868\u793A\u3059\u308B";
inline constexpr char kHideDataCaption[] = "\u30C7\u30FC\u30BF\u3092\u8868\u793A\u3057\u306A\u3044";
inline constexpr char kCloseCaption[] = "CLOSE";

inline constexpr int kKeyQ = 81; // the code of the upper-case letter Q
inline constexpr int kShiftMask = 1;
inline constexpr int kCtrlMask = 2;
inline constexpr int kAltMask = 4;

// How much smaller than the screen's own scale the window has to be drawn so
// that the compact window fits an available area of this many logical
// pixels: 1 when it fits, else the largest factor in steps of 0.05 that
// makes it fit. On a small screen at a large scale (1024x768 at 2x) the
// window would otherwise reach past the screen's edge, the logo with it.
double fittingScale(int availableWidth, int availableHeight);

class DataPanel {
public:
    DataPanel(PanelState &state, WindowGeometry &window, View &view, Timer &timer3);

    // Ctrl+Q opens the data panel; pressed again at the data panel's
    // height it opens the full height, as the logo's double-click does, so
    // that the keyboard reaches every height (and Ctrl+Q at the full height
    // goes back to the data panel's).
    void Form_KeyDown(int keyCode, int shift);
    void Image1_DblClick();
    void Command34_Click();
    // The logo's actions for assistive tools: the full height from any
    // height, and back to the compact height from an open data panel.
    void openFullHeight();
    void backToCompact();

private:
    PanelState &state_;
    WindowGeometry &window_;
    View &view_;
    Timer &timer3_;
};
