// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// What assistive tools say for each control: a name that stands alone and
// says what the control does, qualified by its group in words ("POWER ON",
// "Lamp select 1-4", "Status query lamp hours (L-TIME)"), and a description
// of what it does followed by the command it sends, that command taken from
// the command, hold-button and option tables so that it can never drift
// from what the control really sends.

#include <optional>
#include <string>
#include <string_view>

struct AccessibleText {
    std::string name; // empty: what the control shows is its name
    std::string description;
};

// The texts of `control` (a frame's is its group name alone), or nothing for
// a label that only shows a caption: its text is its name.
std::optional<AccessibleText> accessibleTextFor(std::string_view control);

// The name of a control whose caption changes with what it does (the data
// panel button) while it shows `caption`.
std::string accessibleNameFor(std::string_view control, std::string_view caption);
