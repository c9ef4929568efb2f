// SPDX-License-Identifier: GPL-3.0-or-later
// The schedule is a due time per query: a read by anyone moves its query's
// due time on by its interval, so a value someone else just read is not
// asked again, and one timer is armed for the earliest due query the
// projector's phase wants.

#include "owner/poller.h"

#include <algorithm>

#include "owner/shared_line.h"
#include "core/timer.h"

Poller::Poller(SharedLine &line, LiveState &state, Timer &timer, std::function<std::int64_t()> now)
    : line_(line), state_(state), timer_(timer), now_(std::move(now))
{
    timer_.setEnabled(false);
    timer_.setOnTick([this] {
        timer_.setEnabled(false);
        schedule();
    });
}

void Poller::start()
{
    running_ = true;
    schedule();
}

void Poller::stop()
{
    running_ = false;
    timer_.setEnabled(false);
}

bool Poller::wanted(std::size_t row) const
{
    if (kLiveQueries[row].pace == Pace::Power)
        return true;
    // Only the power status while the projector does not answer or is not on:
    // in stand-by the other values are not there to read.
    return backoffMs_ == 0 && state_.power() == PowerPhase::On;
}

int Poller::intervalFor(std::size_t row) const
{
    switch (kLiveQueries[row].pace) {
    case Pace::Power:
        return state_.power() == PowerPhase::Standby || state_.power() == PowerPhase::Fail ? kStandbyEveryMs
                                                                                           : kPowerEveryMs;
    case Pace::Fast:
        return kFastEveryMs;
    case Pace::Slow:
        return kSlowEveryMs;
    }
    return kFastEveryMs;
}

void Poller::schedule()
{
    if (!running_ || inFlight_)
        return;
    const std::int64_t now = now_();
    if (!line_.connected()) {
        state_.unknownFromNow();
        timer_.setInterval(kLineCheckMs);
        timer_.setEnabled(true);
        return;
    }
    std::optional<std::size_t> next;
    std::int64_t nextAt = 0;
    for (std::size_t row = 0; row < kLiveQueries.size(); ++row) {
        if (!wanted(row))
            continue;
        const std::int64_t at = due_[row].value_or(now);
        if (!next || at < nextAt) {
            next = row;
            nextAt = at;
        }
    }
    if (!next)
        return;
    nextAt = std::max(nextAt, lastEnd_ + kGapMs);
    if (nextAt > now) {
        timer_.setInterval(static_cast<int>(std::min<std::int64_t>(nextAt - now, kSlowEveryMs)));
        timer_.setEnabled(true);
        return;
    }
    poll(*next);
}

void Poller::poll(std::size_t row)
{
    Transaction transaction;
    transaction.client = kPollClient;
    transaction.line = std::string(kLiveQueries[row].code) + '\r';
    transaction.watchMs = kWatchMs;
    transaction.background = true;
    // A poll waits behind everyone else's requests as long as they last: a
    // busy line tells nothing about the projector.
    transaction.lineWaitMs = SharedLine::kLongestLineWaitMs;
    transaction.done = [this, row](const TransactionResult &result) {
        done(row, result.complete, result.error.has_value() || !result.written);
    };
    inFlight_ = true;
    ++pollsSent_;
    timer_.setEnabled(false);
    line_.submit(std::move(transaction));
}

void Poller::done(std::size_t row, bool complete, bool failed)
{
    inFlight_ = false;
    lastEnd_ = now_();
    if (failed) {
        // The line is down (the state was told by the line's own event, or
        // is told now); looked at again shortly, with nothing sent.
        state_.unknownFromNow();
        due_[row] = lastEnd_ + kLineCheckMs;
    } else if (!complete) {
        // No whole answer within the watch: the projector is silent.
        state_.unknownFromNow();
        backoffMs_ = backoffMs_ == 0 ? kFirstBackoffMs : std::min(2 * backoffMs_, kLongestBackoffMs);
        due_[0] = lastEnd_ + backoffMs_;
    }
    // A whole reply was taken in by exchanged(), which set the next due time.
    schedule();
}

void Poller::exchanged(const std::string &sent, const std::string &reply, bool complete)
{
    if (!complete)
        return;
    const std::int64_t now = now_();
    // The projector answers. After a silent spell every value is unknown:
    // all are read again now, one after another, not when each would have
    // been due (the lamp hours five minutes on).
    if (backoffMs_ != 0)
        due_.fill(std::nullopt);
    backoffMs_ = 0;
    if (const auto row = LiveState::rowFor(sent)) {
        due_[*row] = now + intervalFor(*row);
    } else if (reply.find('\x06') != std::string::npos) {
        if (const auto group = choiceGroupFor(sent); group && group->confirmRow) {
            const std::int64_t confirm = now + kConfirmAfterMs;
            due_[*group->confirmRow] = std::min(due_[*group->confirmRow].value_or(confirm), confirm);
        }
    }
    if (!inFlight_ && running_) {
        timer_.setEnabled(false);
        schedule();
    }
}

void Poller::lineChanged(bool up)
{
    if (!up) {
        state_.unknownFromNow();
        return;
    }
    // Back: every value was made unknown; the power status first, at once,
    // then the others in turn.
    due_.fill(std::nullopt);
    due_[0] = now_();
    backoffMs_ = 0;
    if (!inFlight_ && running_) {
        timer_.setEnabled(false);
        schedule();
    }
}
