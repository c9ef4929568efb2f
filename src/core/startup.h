// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// Form_Load: gives the panel state its start values, places the window and
// opens the serial port before the user can act.

#include <functional>

struct PanelState;
class SerialControl;
class WindowGeometry;

inline constexpr float kCompactHeight = 5350.0F;

// A failing step throws ControlError and the steps after it are not run.
// `selectOption1` selects the COM1 option by program, which runs its click.
void Form_Load(PanelState &state, WindowGeometry &window, SerialControl &MSComm1,
    const std::function<void()> &selectOption1);
