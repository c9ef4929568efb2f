// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// Where a headless owner says what the panel would show: its status texts
// and warnings become lines on standard error, which systemd's journal takes
// with their priority (a "<4>" prefix for a warning) when it is reading.

#include <iosfwd>
#include <string>
#include <string_view>

#include "core/message_box.h"
#include "core/view.h"

class Journal : public View, public MessageBox {
public:
    // `out`: standard error; `prefixed`: the journal reads it (JOURNAL_STREAM).
    Journal(std::ostream &out, std::string program, bool prefixed);

    void info(std::string_view text);
    void warning(std::string_view message) override;
    // A line at a syslog priority: 3 error, 4 warning, 6 info, 7 debug.
    void say(int priority, std::string_view text) { line(priority, text); }

    // Only the status line and the line's state mean something here.
    void setCaption(std::string_view control, std::string_view text) override;
    void setVisible(std::string_view, bool) override { }
    std::string text(std::string_view) const override { return {}; }
    void setText(std::string_view, std::string_view) override { }
    void setSelected(std::string_view) override { }
    void setLineState(std::string_view state) override;
    // Its own name in the line's messages, and no key to press.
    std::string_view programName() const override { return program_; }
    std::string_view retryKey() const override { return {}; }

private:
    void line(int priority, std::string_view text);

    std::ostream &out_;
    std::string program_;
    bool prefixed_;
    std::string lastState_;
};
