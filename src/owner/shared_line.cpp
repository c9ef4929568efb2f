// SPDX-License-Identifier: GPL-3.0-or-later
// The order of things on a shared line: a transaction starts only when the
// line is connected, nothing else is on it, the panel is quiet and no lease
// keeps its client out; it ends at its reply's end or its watch; then the
// panel's held writes go first, and the next transaction after them.

#include "owner/shared_line.h"

#include <algorithm>

#include "timers/timer.h"

namespace {

// Where a reply ends: just past its first CR or ACK, or npos.
std::size_t replyEnd(const std::string &bytes)
{
    const std::size_t at = bytes.find_first_of("\r\x06");
    return at == std::string::npos ? at : at + 1;
}

} // namespace

SharedLine::SharedLine(SerialControl &line, Timer &watchTimer, Timer &quietTimer, Timer &leaseTimer)
    : line_(line), watchTimer_(watchTimer), quietTimer_(quietTimer), leaseTimer_(leaseTimer)
{
    watchTimer_.setEnabled(false);
    quietTimer_.setEnabled(false);
    leaseTimer_.setEnabled(false);
    quietTimer_.setInterval(kPanelQuietMs);
    line_.setOnComm([this] { onLineEvent(); });
    watchTimer_.setOnTick([this] {
        watchTimer_.setEnabled(false);
        if (draining_) {
            draining_ = false; // no late reply came, or not all of it
            tryStart();
            return;
        }
        // The watch ran out: whatever arrived, cut off; a late rest is
        // waited for before the next transaction.
        draining_ = current_->expectsReply; // before finish() would start the next
        finish();
        if (draining_) {
            watchTimer_.setInterval(kLateReplyGraceMs);
            watchTimer_.setEnabled(true);
        }
    });
    quietTimer_.setOnTick([this] {
        quietTimer_.setEnabled(false);
        tryStart();
    });
    // Its holder went quiet: nobody holds the line forever.
    leaseTimer_.setOnTick([this] { leaseEnded(); });
}

void SharedLine::setSettings(std::string_view settings)
{
    line_.setSettings(settings);
    if (onSettings)
        onSettings(std::string(settings));
}

void SharedLine::setOutput(std::string_view bytes)
{
    // The person at the panel is not turned away for a script, but a leased
    // line is promised to its holder, and the panel is told who has it.
    if (leaseHolder_)
        throw ControlError(ControlOp::Output, "the line is leased to " + holderName());
    quietTimer_.setEnabled(true);
    panelLine_ = bytes;
    panelReply_.clear();
    if (current_) {
        if (!line_.portOpen())
            line_.setOutput(bytes); // fails as the closed line does
        panelWaiting_.append(bytes);
        return;
    }
    write(bytes);
}

std::string SharedLine::input()
{
    std::string all;
    all.swap(forPanel_);
    return all;
}

void SharedLine::write(std::string_view bytes)
{
    line_.setOutput(bytes);
    if (onTraffic)
        onTraffic(bytes, true);
}

void SharedLine::submit(Transaction transaction)
{
    const auto refuse = [&](const std::string &why) {
        TransactionResult result;
        result.sent = transaction.line;
        result.error = why;
        if (transaction.done)
            transaction.done(result);
    };
    if (!line_.connected())
        return refuse(downReason());
    if (leaseHolder_ && *leaseHolder_ != transaction.client && !transaction.mayWait)
        return refuse("the line is leased to " + holderName());
    if (queue_.size() >= kQueueLimit)
        return refuse("too many requests are waiting for the line");
    if (leaseHolder_ && *leaseHolder_ == transaction.client)
        leaseTimer_.setEnabled(true); // each request renews the lease
    queue_.push_back(std::move(transaction));
    tryStart();
}

std::optional<std::string> SharedLine::lease(int client, int seconds)
{
    if (leaseHolder_ && *leaseHolder_ != client)
        return "the line is leased to " + holderName();
    const bool fresh = leaseHolder_ != client;
    leaseHolder_ = client;
    leaseMs_ = std::clamp(seconds, 1, kLongestLeaseS) * 1000;
    leaseTimer_.setInterval(leaseMs_);
    leaseTimer_.setEnabled(true);
    if (fresh && onLeaseChanged)
        onLeaseChanged(holderName());
    return std::nullopt;
}

std::string SharedLine::holderName() const
{
    if (!leaseHolder_)
        return {};
    return nameOf ? nameOf(*leaseHolder_) : "client " + std::to_string(*leaseHolder_);
}

void SharedLine::leaseEnded()
{
    leaseHolder_.reset();
    leaseTimer_.setEnabled(false);
    if (onLeaseChanged)
        onLeaseChanged({});
    tryStart();
}

void SharedLine::release(int client)
{
    if (leaseHolder_ != client)
        return;
    leaseEnded();
}

void SharedLine::clientGone(int client)
{
    std::erase_if(queue_, [client](const Transaction &transaction) { return transaction.client == client; });
    if (current_ && current_->client == client)
        current_->done = nullptr; // its reply is taken in and discarded; the line goes on
    release(client);
}

void SharedLine::tryStart()
{
    while (!current_ && !draining_ && panelWaiting_.empty() && !quietTimer_.enabled() && line_.connected()) {
        const auto mayGo = [this](const Transaction &transaction) {
            return !leaseHolder_ || *leaseHolder_ == transaction.client;
        };
        auto next = std::find_if(queue_.begin(), queue_.end(),
            [&](const Transaction &transaction) { return !transaction.background && mayGo(transaction); });
        if (next == queue_.end())
            next = std::find_if(queue_.begin(), queue_.end(), mayGo);
        if (next == queue_.end())
            return;
        current_ = std::move(*next);
        queue_.erase(next);
        reply_.clear();
        written_ = false;
        started_ = std::chrono::steady_clock::now();
        try {
            write(current_->line);
        } catch (const ControlError &error) {
            finish(error.description());
            continue;
        }
        written_ = true;
        if (!current_->expectsReply) {
            finish();
            continue;
        }
        watchTimer_.setInterval(current_->watchMs);
        watchTimer_.setEnabled(true);
    }
}

void SharedLine::finish(std::optional<std::string> error)
{
    watchTimer_.setEnabled(false);
    Transaction done = std::move(*current_);
    current_.reset();
    TransactionResult result;
    result.sent = done.line;
    result.reply = std::move(reply_);
    reply_.clear();
    result.complete = replyEnd(result.reply) != std::string::npos;
    result.written = written_;
    result.elapsedMs
        = std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - started_).count();
    result.error = std::move(error);
    if (written_)
        busyMs_ += result.elapsedMs;
    if (!panelWaiting_.empty()) {
        const std::string held = std::exchange(panelWaiting_, {});
        try {
            write(held);
        } catch (const ControlError &) {
            // The line went down meanwhile; the panel hears of it as a lost line.
        }
    }
    if (written_ && onExchange)
        onExchange(result.sent, result.reply, result.complete);
    if (done.done)
        done.done(result);
    tryStart();
}

void SharedLine::failAll(const std::string &why)
{
    draining_ = false;
    if (current_)
        finish(why);
    while (!queue_.empty()) {
        Transaction waiting = std::move(queue_.front());
        queue_.pop_front();
        TransactionResult result;
        result.sent = waiting.line;
        result.error = why;
        if (waiting.done)
            waiting.done(result);
    }
}

std::string SharedLine::downReason() const
{
    const std::string lost = line_.lostLineDescription();
    return "the line is down: "
        + (lost.empty() || line_.portOpen() ? line_.portLabel() + " is not open" : lost);
}

void SharedLine::toPanel(std::int16_t event)
{
    event_ = event;
    raiseOnComm();
}

void SharedLine::onLineEvent()
{
    const std::int16_t event = line_.commEvent();
    if (event != kCommEventReceive) {
        if (event == kCommEventLineLost)
            failAll("the line is down: " + line_.lostLineDescription());
        if ((event == kCommEventLineLost || event == kCommEventConnected) && onConnection)
            onConnection(event == kCommEventConnected);
        toPanel(event);
        if (event == kCommEventConnected)
            tryStart();
        return;
    }
    std::string arrived = line_.input();
    if (arrived.empty())
        return;
    if (onTraffic)
        onTraffic(arrived, false);
    if (current_) {
        reply_ += arrived;
        const std::size_t end = replyEnd(reply_);
        if (end == std::string::npos)
            return;
        // What follows the reply's end is not part of it.
        arrived = reply_.substr(end);
        reply_.resize(end);
        finish();
        if (arrived.empty())
            return;
    }
    if (draining_ && replyEnd(arrived) != std::string::npos) {
        draining_ = false; // the late reply has ended: the line is free
        watchTimer_.setEnabled(false);
    }
    forPanel_ += arrived;
    if (!panelLine_.empty()) {
        // The reply to the panel's own line, for the live state too.
        panelReply_ += arrived;
        if (const std::size_t end = replyEnd(panelReply_); end != std::string::npos) {
            panelReply_.resize(end);
            if (onExchange)
                onExchange(panelLine_, panelReply_, true);
            panelLine_.clear();
            panelReply_.clear();
        }
    }
    // An owner without a panel never takes them: keep the latest only.
    constexpr std::size_t kPanelBacklog = 65536;
    if (forPanel_.size() > kPanelBacklog)
        forPanel_.erase(0, forPanel_.size() - kPanelBacklog);
    toPanel(kCommEventReceive);
    tryStart();
}
