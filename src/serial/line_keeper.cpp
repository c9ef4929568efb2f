// SPDX-License-Identifier: GPL-3.0-or-later
// Reopening paces: a local device is also watched for, so its steady poll is
// only a backstop and stays under one wake-up a second; a network line has
// nothing to watch and backs off, so a server that is down for the night is
// asked a few times a minute, not hammered.

#include "serial/line_keeper.h"

#include <algorithm>
#include <array>

#include "core/message_box.h"
#include "core/view.h"
#include "core/timer.h"

namespace {

constexpr std::array kDeviceTries = {250, 500, 1000, 1500};
constexpr std::array kNetworkTries = {500, 1000, 2000, 4000, 8000};
// A connection that comes back has to stay up this long to end the outage:
// a server that takes the connection and drops it at once (its own device
// missing) would otherwise bring a box every few seconds.
constexpr int kSettleMs = 3000;

template <std::size_t N> int paceFor(const std::array<int, N> &tries, int attempt)
{
    return tries[static_cast<std::size_t>(std::min(attempt, static_cast<int>(N) - 1))];
}

std::string withoutFullStop(std::string reason)
{
    while (!reason.empty() && (reason.back() == '.' || reason.back() == ' '))
        reason.pop_back();
    return reason;
}

} // namespace

LineKeeper::LineKeeper(SerialControl &MSComm1, View &view, MessageBox &messageBox, Timer &reopenTimer,
    Timer &settleTimer, Timer &displayTimer)
    : MSComm1_(MSComm1), view_(view), messageBox_(messageBox), reopenTimer_(reopenTimer),
      settleTimer_(settleTimer), displayTimer_(displayTimer)
{
    reopenTimer_.setEnabled(false);
    settleTimer_.setEnabled(false);
    settleTimer_.setInterval(kSettleMs);
}

void LineKeeper::enter(Phase phase)
{
    phase_ = phase;
    const bool down = phase == Phase::Waiting || phase == Phase::Retrying;
    if (phase != Phase::Waiting)
        reopenTimer_.setEnabled(false);
    if (phase != Phase::Settling)
        settleTimer_.setEnabled(false);
    if (!down)
        MSComm1_.setWatching(false);
    // The window's title says the line is not up, so a closed box leaves a
    // trace; while the line is up the title is the panel's own.
    switch (phase) {
    case Phase::Open:
    case Phase::Settling:
        view_.setLineState("");
        break;
    case Phase::Connecting:
        view_.setLineState(MSComm1_.portLabel() + " connecting");
        break;
    case Phase::Waiting:
    case Phase::Retrying:
        view_.setLineState(MSComm1_.portLabel() + " waiting"
            + (view_.retryKey().empty() ? std::string()
                                        : " (" + std::string(view_.retryKey()) + " tries now)"));
        break;
    case Phase::Closed:
        view_.setLineState(everUp_ || outage_ ? MSComm1_.portLabel() + " closed" : std::string());
        break;
    }
}

void LineKeeper::opened()
{
    carryOn(Phase::Connecting);
}

void LineKeeper::carryOn(Phase whileConnecting)
{
    if (MSComm1_.connected())
        up();
    else
        enter(whileConnecting);
}

std::string LineKeeper::startupFailed(const std::string &description)
{
    startOutage(description, false);
    return description + "\n\n" + whatThePanelDoes();
}

void LineKeeper::closed()
{
    outage_.reset();
    notSentTold_ = false;
    enter(Phase::Closed);
}

void LineKeeper::choosing()
{
    // A choice that opens the port ends an outage as the line coming back would.
    enter(Phase::Closed);
}

void LineKeeper::retryNow()
{
    switch (phase_) {
    case Phase::Waiting:
        outage_->tries = 0;
        tryOpening();
        break;
    case Phase::Closed:
        try {
            MSComm1_.setPortOpen(true);
        } catch (const ControlError &error) {
            messageBox_.warning(error.description());
            return;
        }
        opened();
        break;
    default:
        break;
    }
}

bool LineKeeper::onComm(std::int16_t event)
{
    switch (event) {
    case kCommEventLineLost:
        switch (phase_) {
        case Phase::Settling:
            // Dropped again at once: the same outage goes on, without a box.
            view_.setCaption(role::kStatusLine, " " + MSComm1_.lostLineDescription());
            enter(Phase::Waiting);
            if (MSComm1_.lineKind() == LineKind::Device)
                MSComm1_.setWatching(true);
            scheduleNextTry();
            break;
        case Phase::Waiting:
        case Phase::Retrying:
            // A try that did not connect: the user knows already.
            enter(Phase::Waiting);
            scheduleNextTry();
            break;
        case Phase::Connecting:
        case Phase::Open:
            startOutage(MSComm1_.lostLineDescription(), phase_ == Phase::Open);
            messageBox_.lineWarning(outage_->reason + "\n\n" + whatThePanelDoes());
            break;
        case Phase::Closed:
            break;
        }
        return true;
    case kCommEventConnected:
        if (phase_ == Phase::Connecting || phase_ == Phase::Retrying)
            up();
        return true;
    case kCommEventDeviceChanged:
        if (phase_ == Phase::Waiting) {
            outage_->tries = 0;
            tryOpening();
        }
        return true;
    default:
        return false;
    }
}

void LineKeeper::reopenTimer_Timer()
{
    reopenTimer_.setEnabled(false);
    if (phase_ == Phase::Waiting)
        tryOpening();
}

void LineKeeper::settleTimer_Timer()
{
    settleTimer_.setEnabled(false);
    if (phase_ == Phase::Settling) {
        outage_.reset(); // it stayed up: the outage is over
        enter(Phase::Open);
    }
}

std::optional<std::string> LineKeeper::notSentWarning(const std::string &description)
{
    // A write refused while the line is up or first connecting is no outage:
    // the status line says it.
    if (notSentTold_ || phase_ == Phase::Open || phase_ == Phase::Settling || phase_ == Phase::Connecting)
        return std::nullopt;
    notSentTold_ = true;
    std::string message = "Nothing was sent: " + description + ".\n\n";
    if (phase_ == Phase::Waiting || phase_ == Phase::Retrying)
        return message + outage_->reason + ". " + whatThePanelDoes() + " Until then commands are not sent.";
    return message + "Choose COM1 or COM2 in the port settings (the COM button) to open it.";
}

void LineKeeper::startOutage(const std::string &reason, bool afterLoss)
{
    outage_ = Outage{withoutFullStop(reason), afterLoss, 0};
    notSentTold_ = false;
    enter(Phase::Waiting);
    if (MSComm1_.lineKind() == LineKind::Device)
        MSComm1_.setWatching(true);
    scheduleNextTry();
}

void LineKeeper::scheduleNextTry()
{
    const int pace = MSComm1_.lineKind() == LineKind::Device ? paceFor(kDeviceTries, outage_->tries)
                                                             : paceFor(kNetworkTries, outage_->tries);
    ++outage_->tries;
    reopenTimer_.setInterval(pace);
    reopenTimer_.setEnabled(true);
}

void LineKeeper::tryOpening()
{
    reopenTimer_.setEnabled(false);
    try {
        if (!MSComm1_.portOpen())
            MSComm1_.setPortOpen(true);
    } catch (const ControlError &) {
        // Still not there; the user has been told once already.
        scheduleNextTry();
        return;
    }
    carryOn(Phase::Retrying);
}

void LineKeeper::up()
{
    if (outage_) {
        // What the box said is over; the status line says what happened.
        messageBox_.lineBack();
        // Truthfully: a port that was never open has been opened, not
        // opened again.
        showStatus(
            " " + MSComm1_.portLabel() + (outage_->afterLoss || everUp_ ? " is open again" : " opened"));
    }
    // A port that opened by itself (after a failed start-up) is shown chosen.
    if (outage_)
        view_.setSelected(MSComm1_.commPort() == 1 ? "Option1" : "Option2");
    everUp_ = true;
    // A line back after an outage has to stay up before the outage is over,
    // whatever its kind: a device that opens and is gone again at once (a
    // pseudo-terminal whose far end is closing) is the same outage, with no
    // second box.
    if (outage_) {
        enter(Phase::Settling);
        settleTimer_.setEnabled(true);
        return;
    }
    outage_.reset();
    enter(Phase::Open);
}

void LineKeeper::showStatus(const std::string &text)
{
    // Cleared by the display timer, as a decoded status is.
    view_.setCaption(role::kStatusLine, text);
    displayTimer_.setEnabled(true);
}

std::string LineKeeper::whatThePanelDoes() const
{
    const bool afterLoss = outage_ && outage_->afterLoss;
    const std::string who(view_.programName());
    if (MSComm1_.lineKind() == LineKind::Network)
        return who
            + (afterLoss ? " connects again by itself as soon as the server answers."
                         : " keeps trying and connects by itself as soon as the server answers.");
    return who
        + (afterLoss ? " opens the port again by itself as soon as the device is back."
                     : " keeps trying and opens the port by itself as soon as it can.");
}
