// SPDX-License-Identifier: GPL-3.0-or-later
// The panel speaks of itself ("The panel keeps trying") and names the key
// that tries a line at once. A box about the line being down closes by
// itself when the line is back; the status line then says what happened.

#include "panel/panel_line_words.h"

#include "core/message_box.h"
#include "core/timer.h"
#include "core/view.h"

#include <utility>

namespace {

// The account ends a sentence the panel goes on with.
std::string withoutFullStop(std::string reason)
{
    while (!reason.empty() && (reason.back() == '.' || reason.back() == ' '))
        reason.pop_back();
    return reason;
}

std::string whatThePanelDoes(const LineOutage &outage)
{
    if (outage.line == LineKind::Network)
        return outage.afterLoss
            ? "The panel connects again by itself as soon as the server answers."
            : "The panel keeps trying and connects by itself as soon as the server answers.";
    return outage.afterLoss ? "The panel opens the port again by itself as soon as the device is back."
                            : "The panel keeps trying and opens the port by itself as soon as it can.";
}

} // namespace

PanelLineWords::PanelLineWords(View &view, MessageBox &messageBox, Timer &displayTimer)
    : view_(view), messageBox_(messageBox), displayTimer_(displayTimer)
{ }

std::string PanelLineWords::lineStateText(LinePhase phase, const std::string &port, bool used)
{
    switch (phase) {
    case LinePhase::Open:
    case LinePhase::Settling:
        return {};
    case LinePhase::Connecting:
        return port + " connecting";
    case LinePhase::Waiting:
    case LinePhase::Retrying:
        return port + " waiting (F5 tries now)";
    case LinePhase::Closed:
        return used ? port + " closed" : std::string();
    }
    return {};
}

std::string PanelLineWords::outageWarning(const LineOutage &outage)
{
    // At start-up the account is shown as the port gave it.
    const std::string account = lineFailureText(outage.why);
    return (outage.atStartup ? account : withoutFullStop(account)) + "\n\n" + whatThePanelDoes(outage);
}

std::string PanelLineWords::notSentWarning(const LineFailure &why, const LineOutage *outage)
{
    const std::string message = "Nothing was sent: " + lineFailureText(why) + ".\n\n";
    if (outage)
        return message + withoutFullStop(lineFailureText(outage->why)) + ". " + whatThePanelDoes(*outage)
            + " Until then commands are not sent.";
    return message + "Choose COM1 or COM2 in the port settings (the COM button) to open it.";
}

std::string PanelLineWords::lineBackStatus(const std::string &port, bool reopened)
{
    return " " + port + (reopened ? " is open again" : " opened");
}

void PanelLineWords::phaseEntered(LinePhase phase, const std::string &port, bool used)
{
    // The window's title says the line is not up, so a closed box leaves a
    // trace; while the line is up the title is the panel's own.
    view_.setLineState(lineStateText(phase, port, used));
}

void PanelLineWords::outageBegan(const LineOutage &outage)
{
    // At start-up there is no window yet to own the box.
    if (outage.atStartup)
        startupWarning_ = outageWarning(outage);
    else
        messageBox_.lineWarning(outageWarning(outage));
}

void PanelLineWords::droppedAgain(const LineFailure &why)
{
    // The same outage: no second box.
    view_.setCaption(role::kStatusLine, " " + lineFailureText(why));
}

void PanelLineWords::lineBack(const std::string &port, std::int16_t number, bool reopened)
{
    // What the box said is over; the status line says what happened, and is
    // cleared as a decoded status is.
    messageBox_.lineBack();
    view_.setCaption(role::kStatusLine, lineBackStatus(port, reopened));
    displayTimer_.setEnabled(true);
    // A port that opened by itself (after a failed start-up) is shown chosen.
    view_.setSelected(number == 1 ? "Option1" : "Option2");
}

void PanelLineWords::notSent(const LineFailure &why, const LineOutage *outage)
{
    messageBox_.lineWarning(notSentWarning(why, outage));
}

void PanelLineWords::retryFailed(const LineFailure &why)
{
    messageBox_.warning(lineFailureText(why));
}

std::optional<std::string> PanelLineWords::takeStartupWarning()
{
    return std::exchange(startupWarning_, std::nullopt);
}
