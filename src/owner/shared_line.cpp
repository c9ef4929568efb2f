// SPDX-License-Identifier: GPL-3.0-or-later
// The order of things on a shared line: a transaction starts only when the
// line is connected, nothing else is on it, the panel is quiet (or leaves a
// gap it fits in) and no lease keeps its client out; it ends at its reply's
// end or its watch; then the panel's held writes go first, and the next
// transaction after them.

#include "owner/shared_line.h"

#include <algorithm>
#include <cstdio>

#include "commands/hold_buttons.h"
#include "core/reply_decoders.h"
#include "serial/open_failure.h"
#include "core/timer.h"
#include "protocol/owner_protocol.h"

namespace {

// Who wrote a line, in traffic events, when the panel did.
constexpr const char *kPanel = "the panel";

// Where a reply ends: just past its first CR or ACK, or npos.
std::size_t replyEnd(const std::string &bytes)
{
    const std::size_t at = bytes.find_first_of(kReplyEnds);
    return at == std::string::npos ? at : at + 1;
}

std::int64_t steadyMs()
{
    return std::chrono::duration_cast<std::chrono::milliseconds>(
        std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

// The hold button whose line `line` is (with or without an address), if any.
const HoldButton *heldButtonOf(const std::string &line)
{
    for (const HoldButton &button : kHoldButtons) {
        const std::string own = std::string(button.code) + '\r';
        if (line.size() >= own.size() && line.compare(line.size() - own.size(), own.size(), own) == 0)
            return &button;
    }
    return nullptr;
}

// The bytes a status reply takes on the wire at most, for telling whether a
// transaction fits a gap.
constexpr std::size_t kTypicalReplyBytes = 24;

constexpr std::size_t kPhases = 5;
constexpr std::size_t indexOf(SharedLine::Phase phase)
{
    return static_cast<std::size_t>(phase);
}

// kMoves[from][to]: the moves the line makes. A transaction starts only from
// a resting phase and ends in one, or in draining first; a drain never ends
// in another transaction at once, nor does the line rest where it already is.
constexpr bool kMoves[kPhases][kPhases] = {
    // to: Idle, PanelsTurn, Leased, Serving, Draining
    {false, true, true, true, false}, // from Idle
    {true, false, true, true, false}, // from PanelsTurn
    {true, true, false, true, false}, // from Leased
    {true, true, true, false, true},  // from Serving
    {true, true, true, false, false}, // from Draining
};

} // namespace

const char *SharedLine::phaseName(Phase phase)
{
    static constexpr const char *kNames[kPhases]
        = {"idle", "the panel's turn", "leased", "serving", "draining"};
    return kNames[indexOf(phase)];
}

bool SharedLine::legalMove(Phase from, Phase to)
{
    return kMoves[indexOf(from)][indexOf(to)];
}

SharedLine::Phase SharedLine::restingPhase() const
{
    if (leaseHolder_)
        return Phase::Leased;
    return quietTimer_.enabled() ? Phase::PanelsTurn : Phase::Idle;
}

void SharedLine::moveTo(Phase next)
{
    const Phase from = phase_;
    if (!legalMove(from, next))
        std::fprintf(stderr, "shared line: a move from %s to %s that should not happen\n", phaseName(from),
            phaseName(next));
    phase_ = next;
    if (onPhase)
        onPhase(from, next);
}

SharedLine::SharedLine(SerialControl &line, Timer &watchTimer, Timer &quietTimer, Timer &leaseTimer,
    Timer &deadlineTimer, std::function<std::int64_t()> now)
    : line_(line), watchTimer_(watchTimer), quietTimer_(quietTimer), leaseTimer_(leaseTimer),
      deadlineTimer_(deadlineTimer), now_(now ? std::move(now) : std::function<std::int64_t()>(steadyMs))
{
    watchTimer_.setEnabled(false);
    quietTimer_.setEnabled(false);
    leaseTimer_.setEnabled(false);
    deadlineTimer_.setEnabled(false);
    quietTimer_.setInterval(kPanelQuietMs);
    line_.setOnComm([this] { onLineEvent(); });
    watchTimer_.setOnTick([this] {
        watchTimer_.setEnabled(false);
        if (phase_ == Phase::Draining) {
            moveTo(restingPhase()); // the line fell quiet, or never will
            tryStart();
            return;
        }
        // The watch ran out: whatever arrived, cut off; a late rest is
        // waited for before the next transaction.
        if (phase_ == Phase::Serving)
            finish(std::nullopt, current_->expectsReply);
    });
    quietTimer_.setOnTick([this] {
        quietTimer_.setEnabled(false);
        panelIntervals_[0] = panelIntervals_[1] = 0; // a new press starts a new rhythm
        panelUnanswered_ = 0;                        // what was not answered by now never will be
        if (phase_ == Phase::PanelsTurn)
            moveTo(restingPhase());
        tryStart();
    });
    // Its holder went quiet: nobody holds the line forever.
    leaseTimer_.setOnTick([this] { leaseEnded(); });
    deadlineTimer_.setOnTick([this] { expire(); });
}

void SharedLine::setSettings(std::string_view settings)
{
    line_.setSettings(settings);
    // Ten bits a byte at the line's speed, for telling how long a transaction takes.
    int rate = 0;
    for (const char c : settings) {
        if (c < '0' || c > '9')
            break;
        rate = rate * 10 + (c - '0');
        if (rate > 10000000)
            break;
    }
    if (rate >= 300)
        msPerByte_ = 10000.0 / rate;
    if (onSettings)
        onSettings(std::string(settings));
}

void SharedLine::setOutput(std::string_view bytes)
{
    if (onPanelWrites)
        onPanelWrites(bytes);
    // The person at the panel is not turned away for a script, but a leased
    // line is promised to its holder, and the panel is told who has it.
    if (leaseHolder_)
        throw ControlError(ControlOp::Output, leasedTo(holderName()));
    const std::int64_t now = now_();
    if (quietTimer_.enabled()) {
        panelIntervals_[0] = panelIntervals_[1];
        panelIntervals_[1] = now - panelWroteAt_;
    }
    panelWroteAt_ = now;
    ++panelUnanswered_;
    quietTimer_.setEnabled(true);
    if (phase_ == Phase::Idle)
        moveTo(Phase::PanelsTurn);
    panelLine_ = bytes;
    panelLastLine_ = bytes;
    panelReply_.clear();
    if (phase_ == Phase::Serving) {
        if (!line_.portOpen())
            line_.setOutput(bytes); // fails as the closed line does
        panelWaiting_.append(bytes);
        ++panelWritesHeld_;
        return;
    }
    write(bytes, kPanel);
}

std::string SharedLine::input()
{
    std::string all;
    all.swap(forPanel_);
    return all;
}

void SharedLine::write(std::string_view bytes, const std::string &by)
{
    line_.setOutput(bytes);
    if (onTraffic)
        onTraffic(bytes, true, by);
}

void SharedLine::refuse(Transaction &transaction, const std::string &why)
{
    TransactionResult result;
    result.sent = transaction.line;
    result.error = why;
    if (transaction.done)
        transaction.done(result);
}

bool SharedLine::heldByOneOfOurs() const
{
    if (line_.connected())
        return false;
    // The device is the label's part in brackets, or the whole label.
    std::string device = line_.portLabel();
    if (const auto open = device.find(" ("); open != std::string::npos && device.back() == ')')
        device = device.substr(open + 2, device.size() - open - 3);
    if (device.empty() || device.front() != '/')
        return false;
    return lockHolder(device).starts_with("qv550");
}

void SharedLine::submit(Transaction transaction)
{
    if (!line_.connected() && !heldByOneOfOurs())
        return refuse(transaction, downReason());
    const bool leasedAway = leaseHolder_ && *leaseHolder_ != transaction.client;
    if (leasedAway && !transaction.mayWait)
        return refuse(transaction, lineLeasedError(holderName()));
    if (queue_.size() >= kQueueLimit)
        return refuse(transaction, "too many requests are waiting for the line");
    if (transaction.leaseS > 0 && !leasedAway && (leaseHolder_ || !transaction.mayWait)) {
        // Its own lease renewed, or one that will not wait: at once.
        if (const auto refused = lease(transaction.client, transaction.leaseS))
            return refuse(transaction, *refused);
        TransactionResult result;
        if (transaction.done)
            transaction.done(result);
        return;
    }
    if (leaseHolder_ && *leaseHolder_ == transaction.client)
        leaseTimer_.setEnabled(true); // each request renews the lease
    const int wait = std::clamp(transaction.lineWaitMs, 0, kLongestLineWaitMs);
    queue_.emplace_back(now_() + wait, std::move(transaction));
    tryStart();
    armDeadline();
}

std::optional<std::string> SharedLine::lease(int client, int seconds)
{
    if (leaseHolder_ && *leaseHolder_ != client)
        return lineLeasedError(holderName());
    const bool fresh = leaseHolder_ != client;
    leaseHolder_ = client;
    leaseMs_ = std::clamp(seconds, 1, kLongestLeaseS) * 1000;
    leaseTimer_.setInterval(leaseMs_);
    leaseTimer_.setEnabled(true);
    if (resting() && phase_ != Phase::Leased)
        moveTo(Phase::Leased);
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
    if (phase_ == Phase::Leased)
        moveTo(restingPhase());
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
    std::erase_if(queue_, [client](const auto &waiting) { return waiting.second.client == client; });
    if (current_ && current_->client == client)
        current_->done = nullptr; // its reply is taken in and discarded; the line goes on
    release(client);
    armDeadline();
}

std::string SharedLine::busyReason(int client) const
{
    if (leaseHolder_ && *leaseHolder_ != client)
        return "leased to " + holderName();
    if (!line_.connected())
        return downReason();
    if (quietTimer_.enabled() || !panelWaiting_.empty()) {
        if (const HoldButton *held = heldButtonOf(panelLastLine_); held && panelIntervals_[1] > 0)
            return "the panel's held " + std::string(held->name);
        return "the panel's own exchanges";
    }
    if (phase_ == Phase::Draining)
        return "the end of a reply that came late";
    if (phase_ == Phase::Serving)
        return "a transaction for "
            + (nameOf ? nameOf(current_->client) : "client " + std::to_string(current_->client));
    return "requests ahead of it";
}

bool SharedLine::fitsGap(const Transaction &transaction) const
{
    // Only into the rhythm of a held button whose last repeat the projector
    // has answered: then the next repeat's moment is known.
    if (panelUnanswered_ > 0 || !panelWaiting_.empty() || panelIntervals_[0] <= 0 || panelIntervals_[1] <= 0
        || transaction.background || transaction.leaseS > 0 || !transaction.expectsReply)
        return false;
    const std::int64_t period = std::min(panelIntervals_[0], panelIntervals_[1]);
    const double takes = static_cast<double>(panelLatencyMs_)
        + msPerByte_ * static_cast<double>(transaction.line.size() + kTypicalReplyBytes) + kGapMarginMs;
    return static_cast<double>(now_()) + takes <= static_cast<double>(panelWroteAt_ + period);
}

bool SharedLine::mayStart(const Transaction &transaction) const
{
    switch (phase_) {
    case Phase::Idle:
        return true;
    case Phase::PanelsTurn:
        return fitsGap(transaction);
    case Phase::Leased:
        // The panel's quiet time may still run out after a lease granted at once.
        return *leaseHolder_ == transaction.client && (!quietTimer_.enabled() || fitsGap(transaction));
    case Phase::Serving:
    case Phase::Draining:
        break;
    }
    return false;
}

void SharedLine::tryStart()
{
    while (resting() && line_.connected()) {
        // The first request whose client may go, polls only when nobody else waits.
        const auto mayGo
            = [this](const auto &waiting) { return !leaseHolder_ || *leaseHolder_ == waiting.second.client; };
        auto next = std::find_if(queue_.begin(), queue_.end(),
            [&](const auto &waiting) { return !waiting.second.background && mayGo(waiting); });
        if (next == queue_.end())
            next = std::find_if(queue_.begin(), queue_.end(), mayGo);
        if (next == queue_.end() || !mayStart(next->second))
            break;
        Transaction transaction = std::move(next->second);
        queue_.erase(next);
        if (transaction.leaseS > 0) {
            if (const auto refused = lease(transaction.client, transaction.leaseS)) {
                refuse(transaction, *refused);
                continue;
            }
            TransactionResult granted;
            if (transaction.done)
                transaction.done(granted);
            continue;
        }
        current_ = std::move(transaction);
        moveTo(Phase::Serving);
        reply_.clear();
        written_ = false;
        started_ = std::chrono::steady_clock::now();
        try {
            write(current_->line,
                current_->background ? std::string("a poll")
                    : nameOf         ? nameOf(current_->client)
                                     : "client " + std::to_string(current_->client));
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
    armDeadline();
}

void SharedLine::armDeadline()
{
    if (queue_.empty()) {
        deadlineTimer_.setEnabled(false);
        return;
    }
    std::int64_t first = queue_.front().first;
    for (const auto &waiting : queue_)
        first = std::min(first, waiting.first);
    deadlineTimer_.setInterval(
        static_cast<int>(std::clamp<std::int64_t>(first - now_(), 1, kLongestLineWaitMs)));
    deadlineTimer_.setEnabled(true);
}

void SharedLine::expire()
{
    deadlineTimer_.setEnabled(false);
    const std::int64_t now = now_();
    std::vector<Transaction> late;
    for (auto waiting = queue_.begin(); waiting != queue_.end();) {
        if (waiting->first <= now) {
            late.push_back(std::move(waiting->second));
            waiting = queue_.erase(waiting);
        } else {
            ++waiting;
        }
    }
    for (Transaction &transaction : late)
        refuse(transaction, "the line was busy: " + busyReason(transaction.client));
    armDeadline();
}

void SharedLine::startDraining()
{
    moveTo(Phase::Draining);
    drainStarted_ = now_();
    watchTimer_.setInterval(kLineQuietMs);
    watchTimer_.setEnabled(true);
}

void SharedLine::finish(std::optional<std::string> error, bool thenDrain)
{
    watchTimer_.setEnabled(false);
    Transaction done = std::move(*current_);
    current_.reset();
    TransactionResult result;
    result.sent = done.line;
    result.reply = std::move(reply_);
    reply_.clear();
    result.complete = replyEnd(result.reply) != std::string::npos;
    result.fits = !result.complete || replyFits(statusQueryFor(done.line, done.addressPrefix), result.reply);
    result.written = written_;
    result.elapsedMs
        = std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - started_).count();
    result.error = std::move(error);
    if (written_)
        busyMs_ += result.elapsedMs;
    // A reply that does not fit may be the head of a tail still coming. The
    // line moves before anything is told, so that nothing told starts the next.
    if (thenDrain || (result.complete && !result.fits && !result.error))
        startDraining();
    else
        moveTo(restingPhase());
    if (!panelWaiting_.empty()) {
        const std::string held = std::exchange(panelWaiting_, {});
        try {
            write(held, kPanel);
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
    if (phase_ == Phase::Serving)
        finish(why);
    if (phase_ == Phase::Draining)
        moveTo(restingPhase());
    watchTimer_.setEnabled(false);
    while (!queue_.empty()) {
        Transaction waiting = std::move(queue_.front().second);
        queue_.pop_front();
        refuse(waiting, why);
    }
    armDeadline();
}

std::string SharedLine::downReason() const
{
    const std::string lost = line_.lostLineDescription();
    return lineDownError(lost.empty() || line_.portOpen() ? line_.portLabel() + " is not open" : lost);
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
            failAll(lineDownError(line_.lostLineDescription()));
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
        onTraffic(arrived, false, {});
    if (phase_ == Phase::Serving) {
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
    // Not quiet yet: the quiet time starts again, unless these are answers
    // to a held button's repeats, which the panel awaits.
    if (phase_ == Phase::Draining && panelUnanswered_ == 0 && now_() - drainStarted_ < kLongestDrainMs)
        watchTimer_.setEnabled(true);
    forPanel_ += arrived;
    // Each reply's end answers one of the panel's lines, oldest first: a
    // projector that lags behind a hold's repeats leaves some unanswered,
    // and then no gap is known.
    for (std::size_t at = arrived.find_first_of(kReplyEnds); at != std::string::npos && panelUnanswered_ > 0;
         at = arrived.find_first_of(kReplyEnds, at + 1)) {
        if (--panelUnanswered_ == 0)
            panelLatencyMs_ = now_() - panelWroteAt_;
    }
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
