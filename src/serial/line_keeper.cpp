// SPDX-License-Identifier: GPL-3.0-or-later
// Reopening paces: a local device is also watched for, so its steady poll is
// only a backstop and stays under one wake-up a second; a network line has
// nothing to watch and backs off, so a server that is down for the night is
// asked a few times a minute, not hammered.

#include "serial/line_keeper.h"

#include <algorithm>
#include <array>

#include "core/timer.h"

namespace {

constexpr std::array kDeviceTries = {250, 500, 1000, 1500};
constexpr std::array kNetworkTries = {500, 1000, 2000, 4000, 8000};
// A connection that comes back has to stay up this long to end the outage:
// a server that takes the connection and drops it at once (its own device
// missing) would otherwise be a new outage, told again, every few seconds.
constexpr int kSettleMs = 3000;

template <std::size_t N> int paceFor(const std::array<int, N> &tries, int attempt)
{
    return tries[static_cast<std::size_t>(std::min(attempt, static_cast<int>(N) - 1))];
}

} // namespace

LineKeeper::LineKeeper(SerialControl &MSComm1, LineListener &listener, Timer &reopenTimer, Timer &settleTimer)
    : MSComm1_(MSComm1), listener_(listener), reopenTimer_(reopenTimer), settleTimer_(settleTimer)
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
    listener_.phaseEntered(phase, MSComm1_.portLabel(), everUp_ || outage_);
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

void LineKeeper::startupFailed(const LineFailure &why)
{
    startOutage(why, false, true);
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
            listener_.retryFailed(error.failure());
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
            // Dropped again at once: the same outage goes on, told once.
            listener_.droppedAgain(MSComm1_.lostLine());
            enter(Phase::Waiting);
            if (MSComm1_.lineKind() == LineKind::Device)
                MSComm1_.setWatching(true);
            scheduleNextTry();
            break;
        case Phase::Waiting:
        case Phase::Retrying:
            // A try that did not connect: the outage was told already.
            enter(Phase::Waiting);
            scheduleNextTry();
            break;
        case Phase::Connecting:
        case Phase::Open:
            startOutage(MSComm1_.lostLine(), phase_ == Phase::Open, false);
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

void LineKeeper::notSent(const LineFailure &why)
{
    if (notSentTold_ || phase_ == Phase::Open || phase_ == Phase::Settling || phase_ == Phase::Connecting)
        return;
    notSentTold_ = true;
    const bool waiting = phase_ == Phase::Waiting || phase_ == Phase::Retrying;
    listener_.notSent(why, waiting ? &outage_->told : nullptr);
}

void LineKeeper::startOutage(const LineFailure &why, bool afterLoss, bool atStartup)
{
    outage_ = Outage{LineOutage{why, afterLoss, atStartup, MSComm1_.lineKind()}, 0};
    notSentTold_ = false;
    enter(Phase::Waiting);
    if (MSComm1_.lineKind() == LineKind::Device)
        MSComm1_.setWatching(true);
    scheduleNextTry();
    listener_.outageBegan(outage_->told);
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
        // Still not there; the outage was told once already.
        scheduleNextTry();
        return;
    }
    carryOn(Phase::Retrying);
}

void LineKeeper::up()
{
    // Truthfully: a port that was never open has been opened, not opened
    // again.
    if (outage_)
        listener_.lineBack(MSComm1_.portLabel(), MSComm1_.commPort(), outage_->told.afterLoss || everUp_);
    everUp_ = true;
    // A line back after an outage has to stay up before the outage is over,
    // whatever its kind: a device that opens and is gone again at once (a
    // pseudo-terminal whose far end is closing) is the same outage, not a
    // second one to tell.
    if (outage_) {
        enter(Phase::Settling);
        settleTimer_.setEnabled(true);
        return;
    }
    outage_.reset();
    enter(Phase::Open);
}
