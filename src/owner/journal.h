// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// Where a headless owner says what happens: lines on standard error, which
// systemd's journal takes with their priority (a "<4>" prefix for a warning)
// when it is reading. What the line keeper reports is said here in the
// service's own words: it has no window, no box and no key to press.

#include <cstdint>
#include <iosfwd>
#include <string>
#include <string_view>

#include "serial/line_listener.h"

class Journal : public LineListener {
public:
    // `out`: standard error; `prefixed`: the journal reads it (JOURNAL_STREAM).
    Journal(std::ostream &out, std::string program, bool prefixed);

    void info(std::string_view text);
    void warning(std::string_view message);
    // A line at a syslog priority: 3 error, 4 warning, 6 info, 7 debug.
    void say(int priority, std::string_view text) { line(priority, text); }

    void phaseEntered(LinePhase phase, const std::string &port, bool used) override;
    void outageBegan(const LineOutage &outage) override;
    void droppedAgain(const LineFailure &why) override;
    void lineBack(const std::string &port, std::int16_t number, bool reopened) override;
    void notSent(const LineFailure &why, const LineOutage *outage) override;
    void retryFailed(const LineFailure &why) override;

    // The line's state as the journal says it ("waiting for /dev/ttyUSB0");
    // empty when there is nothing to say.
    static std::string lineStateText(LinePhase phase, const std::string &port, bool used);
    // The warning when an outage begins: what happened and what `program` does.
    static std::string outageText(const LineOutage &outage, std::string_view program);

private:
    void line(int priority, std::string_view text);

    std::ostream &out_;
    std::string program_;
    bool prefixed_;
    std::string lastState_;
};
