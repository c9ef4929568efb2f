// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// The modal message box: a warning with one OK button and the application's
// title. It returns when the user has closed it, or when what it says is no
// longer true: a box about the line being down closes when the line is back,
// so that nobody finds a stale warning in the morning, and the first press
// on the window is not swallowed by it.

#include <string_view>

class MessageBox {
public:
    virtual ~MessageBox() = default;
    virtual void warning(std::string_view message) = 0;
    // A warning about the line being down.
    virtual void lineWarning(std::string_view message) { warning(message); }
    // The line is up again: a box still showing a line warning closes.
    virtual void lineBack() { }
};
