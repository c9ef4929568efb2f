// SPDX-License-Identifier: GPL-3.0-or-later
// One line per message: a warning's paragraphs are joined, so the journal
// keeps it as one entry.

#include "owner/journal.h"

#include "core/view.h"

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

void Journal::setCaption(std::string_view control, std::string_view text)
{
    if (control == role::kStatusLine)
        line(6, text);
}

void Journal::setLineState(std::string_view state)
{
    if (state == lastState_)
        return;
    lastState_ = std::string(state);
    line(state.empty() ? 6 : 4, state.empty() ? std::string_view("the line is up") : state);
}
