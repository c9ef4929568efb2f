// Reopening paces: a local device is also watched for, so its steady poll is
// only a backstop and stays under one wake-up a second; a network line has
// nothing to watch and backs off, so a server that is down for the night is
// asked a few times a minute, not hammered.

#include "serial/line_keeper.h"

#include <algorithm>
#include <array>

#include "core/message_box.h"
#include "core/view.h"
#include "timers/timer.h"

namespace {

constexpr std::array kDeviceTries = {250, 500, 1000, 1500};
constexpr std::array kNetworkTries = {500, 1000, 2000, 4000, 8000};
// A connection that comes back has to stay up this long to end the outage.
constexpr int kSettleMs = 3000;

template <std::size_t N> int paceFor(const std::array<int, N> &tries, int attempt)
{
    return tries[static_cast<std::size_t>(std::min(attempt, static_cast<int>(N) - 1))];
}

} // namespace

LineKeeper::LineKeeper(SerialControl &MSComm1, View &view, MessageBox &messageBox, Timer &reopenTimer)
    : MSComm1_(MSComm1), view_(view), messageBox_(messageBox), reopenTimer_(reopenTimer)
{
    reopenTimer_.setEnabled(false);
}

void LineKeeper::opened()
{
    stopWaiting();
    openedOrConnecting();
}

void LineKeeper::openedOrConnecting()
{
    if (!MSComm1_.connected()) {
        phase_ = Phase::Connecting;
        return;
    }
    phase_ = Phase::Open;
    if (inOutage_)
        cameBack();
}

std::string LineKeeper::startupFailed(const std::string &description)
{
    startWaiting(description);
    afterLoss_ = false;
    return description + "\n\n" + whatThePanelDoes();
}

void LineKeeper::closed()
{
    stopWaiting();
    phase_ = Phase::Closed;
    inOutage_ = true;
    notSentTold_ = false;
    outageReason_.clear();
}

void LineKeeper::choosing()
{
    stopWaiting();
    phase_ = Phase::Closed;
}

bool LineKeeper::onComm(std::int16_t event)
{
    switch (event) {
    case kCommEventLineLost:
        if (phase_ == Phase::Open && settling_) {
            // A server that takes the connection and drops it at once (its
            // own device is missing, another client has it): the outage goes
            // on, without a box every few seconds.
            settling_ = false;
            phase_ = Phase::Waiting;
            inOutage_ = true;
            view_.setCaption("Label22", " " + MSComm1_.lostLineDescription());
            scheduleNextTry();
        } else if (phase_ == Phase::Waiting || (phase_ == Phase::Connecting && outageTold())) {
            // A try that did not connect: the user knows already.
            phase_ = Phase::Waiting;
            scheduleNextTry();
        } else if (const Phase phase_before = phase_; phase_before != Phase::Closed) {
            startWaiting(MSComm1_.lostLineDescription());
            afterLoss_ = phase_before == Phase::Open;
            messageBox_.warning(outageReason_ + "\n\n" + whatThePanelDoes());
        }
        return true;
    case kCommEventConnected:
        if (phase_ == Phase::Connecting) {
            phase_ = Phase::Open;
            if (inOutage_)
                cameBack();
        }
        return true;
    case kCommEventDeviceChanged:
        if (phase_ == Phase::Waiting) {
            tries_ = 0;
            tryReopen();
        }
        return true;
    default:
        return false;
    }
}

void LineKeeper::reopenTimer_Timer()
{
    reopenTimer_.setEnabled(false);
    if (phase_ == Phase::Waiting) {
        tryReopen();
    } else if (settling_) {
        settling_ = false; // it stayed up: the outage is over
        outageReason_.clear();
    }
}

std::optional<std::string> LineKeeper::notSentWarning(const std::string &description)
{
    // A write that failed on an open port is no outage: the status line says it.
    if (notSentTold_ || phase_ == Phase::Open || phase_ == Phase::Connecting)
        return std::nullopt;
    notSentTold_ = true;
    std::string message = "Nothing was sent: " + description + ".\n\n";
    if (phase_ == Phase::Waiting)
        return message + outageReason_ + ". " + whatThePanelDoes() + " Until then commands are not sent.";
    return message + "Choose COM1 or COM2 in the port settings (the COM button) to open it.";
}

void LineKeeper::startWaiting(const std::string &reason)
{
    phase_ = Phase::Waiting;
    inOutage_ = true;
    notSentTold_ = false;
    outageReason_ = reason;
    while (!outageReason_.empty() && (outageReason_.back() == '.' || outageReason_.back() == ' '))
        outageReason_.pop_back();
    tries_ = 0;
    if (MSComm1_.lineKind() == LineKind::Device)
        MSComm1_.setWatching(true);
    scheduleNextTry();
}

void LineKeeper::stopWaiting()
{
    settling_ = false;
    reopenTimer_.setEnabled(false);
    MSComm1_.setWatching(false);
}

void LineKeeper::scheduleNextTry()
{
    const int pace = MSComm1_.lineKind() == LineKind::Device ? paceFor(kDeviceTries, tries_)
                                                             : paceFor(kNetworkTries, tries_);
    ++tries_;
    reopenTimer_.setInterval(pace);
    reopenTimer_.setEnabled(true);
}

void LineKeeper::tryReopen()
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
    MSComm1_.setWatching(false);
    openedOrConnecting();
}

void LineKeeper::cameBack()
{
    inOutage_ = false;
    notSentTold_ = false;
    view_.setCaption("Label22", " " + MSComm1_.portLabel() + " is open again");
    if (MSComm1_.lineKind() == LineKind::Network) {
        settling_ = true;
        reopenTimer_.setInterval(kSettleMs);
        reopenTimer_.setEnabled(true);
    } else {
        outageReason_.clear();
    }
}

std::string LineKeeper::whatThePanelDoes() const
{
    if (MSComm1_.lineKind() == LineKind::Network)
        return afterLoss_ ? "The panel connects again by itself as soon as the server answers."
                          : "The panel keeps trying and connects by itself as soon as the server answers.";
    return afterLoss_ ? "The panel opens the port again by itself as soon as the device is back."
                      : "The panel keeps trying and opens the port by itself as soon as it can.";
}
