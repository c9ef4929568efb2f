// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// The panel's words for what the line keeper reports: the line's state in
// the window's title, a box once per outage that says what happened and
// what the panel does about it, and the status line when the line is back.
// The texts are pure functions of the events, so a table can test them.

#include <cstdint>
#include <optional>
#include <string>

#include "serial/line_listener.h"

class MessageBox;
class Timer;
class View;

class PanelLineWords : public LineListener {
public:
    // `displayTimer` clears the status line, as it does a decoded status.
    PanelLineWords(View &view, MessageBox &messageBox, Timer &displayTimer);

    void phaseEntered(LinePhase phase, const std::string &port, bool used) override;
    void outageBegan(const LineOutage &outage) override;
    void droppedAgain(const LineFailure &why) override;
    void lineBack(const std::string &port, std::int16_t number, bool reopened) override;
    void notSent(const LineFailure &why, const LineOutage *outage) override;
    void retryFailed(const LineFailure &why) override;

    // The warning of an outage at start-up, kept for when the window is up.
    std::optional<std::string> takeStartupWarning();

    // The title's note: "COM1 (/dev/ttyUSB0) waiting (F5 tries now)"; empty
    // while the line is up.
    static std::string lineStateText(LinePhase phase, const std::string &port, bool used);
    // The box when an outage begins.
    static std::string outageWarning(const LineOutage &outage);
    // The box for the first command that could not be sent.
    static std::string notSentWarning(const LineFailure &why, const LineOutage *outage);
    // The status line when the line is back.
    static std::string lineBackStatus(const std::string &port, bool reopened);

private:
    View &view_;
    MessageBox &messageBox_;
    Timer &displayTimer_;
    std::optional<std::string> startupWarning_;
};
