// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// What assistive tools say for each control: a name that stands alone
// ("POWER ON", not one of five "ON"s) and a description of what the control
// sends or does, derived from the command, hold-button and option tables so
// that they can never drift from what the control really does.

#include <optional>
#include <string>
#include <string_view>

struct AccessibleText {
    std::string name; // empty: the caption the user sees is the name
    std::string description;
};

// The texts of `control`, or nothing for a control that has none of its
// own (a frame, a display label).
std::optional<AccessibleText> accessibleTextFor(std::string_view control);
