// SPDX-License-Identifier: GPL-3.0-or-later
// One line per message: a text of several paragraphs is joined, so the
// journal keeps it as one entry. The line's state is said when it changes,
// not each time a try fails.

#include "owner/journal.h"

#include <ostream>

Journal::Journal(std::ostream &out, std::string program, bool prefixed)
    : out_(out), program_(std::move(program)), prefixed_(prefixed)
{ }

void Journal::line(int priority, std::string_view text)
{
    std::string joined;
    for (const char c : text) {
        if (c == '\n') {
            if (!joined.empty() && joined.back() != ' ')
                joined += ' ';
        } else {
            joined += c;
        }
    }
    while (!joined.empty() && joined.front() == ' ')
        joined.erase(0, 1);
    if (joined.empty())
        return;
    if (prefixed_)
        out_ << '<' << priority << '>';
    out_ << program_ << ": " << joined << std::endl;
}

void Journal::info(std::string_view text)
{
    line(6, text);
}

void Journal::warning(std::string_view message)
{
    line(4, message);
}

std::string Journal::lineStateText(LinePhase phase, const std::string &port, bool used)
{
    switch (phase) {
    case LinePhase::Open:
    case LinePhase::Settling:
        return "the line is up";
    case LinePhase::Connecting:
        return "connecting to " + port;
    case LinePhase::Waiting:
    case LinePhase::Retrying:
        return "waiting for " + port;
    case LinePhase::Closed:
        return used ? port + " closed" : std::string();
    }
    return {};
}

std::string Journal::outageText(const LineOutage &outage, std::string_view program)
{
    std::string account = lineFailureText(outage.why);
    while (!account.empty() && (account.back() == '.' || account.back() == ' '))
        account.pop_back();
    const std::string who(program);
    if (outage.line == LineKind::Network)
        return account + ". " + who
            + (outage.afterLoss ? " connects again as soon as the server answers."
                                : " keeps trying and connects as soon as the server answers.");
    return account + ". " + who
        + (outage.afterLoss ? " opens the port again as soon as the device is back."
                            : " keeps trying and opens the port as soon as it can.");
}

void Journal::phaseEntered(LinePhase phase, const std::string &port, bool used)
{
    const std::string state = lineStateText(phase, port, used);
    if (state == lastState_)
        return;
    lastState_ = state;
    const bool up = phase == LinePhase::Open || phase == LinePhase::Settling;
    line(up ? 6 : 4, state);
}

void Journal::outageBegan(const LineOutage &outage)
{
    warning(outageText(outage, program_));
}

void Journal::droppedAgain(const LineFailure &why)
{
    // The same outage, already warned of.
    info(lineFailureText(why) + " (again, as it came back)");
}

void Journal::lineBack(const std::string &port, std::int16_t /*number*/, bool reopened)
{
    info(port + (reopened ? " is open again" : " opened"));
}

void Journal::notSent(const LineFailure &why, const LineOutage * /*outage*/)
{
    warning("nothing was sent: " + lineFailureText(why));
}

void Journal::retryFailed(const LineFailure &why)
{
    warning(lineFailureText(why));
}
