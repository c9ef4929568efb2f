// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// One line, many programs: the line's owner puts this between its own panel
// and the line, and every other program's requests go through it, one
// transaction at a time. A transaction is a line sent and its reply, which
// ends at its CR or ACK or when its reply watch runs out; the reply goes to
// the one who asked, and bytes that arrive outside any transaction go to the
// panel and to observers, never into someone else's reply.
//
// The person at the panel comes first: the panel's own writes are never
// refused for a script, only held while a transaction is on the line (at
// most its reply watch). While the panel is busy (a press, or a held
// button's repeats, and a moment after) a script's transaction goes only
// into the gap between two repeats, and only when the projector answered the
// last repeat and the transaction fits before the next is due, so a held
// button keeps its period. A client may lease the line for a sequence;
// leases wait their turn like any request.
//
// Every request waits for the line at most its own limit (lineWaitMs); past
// it, it ends unsent with the reason: who had the line.
//
// The line is always in one phase (SharedLine::Phase), and one function
// moves it: while the wire is free it rests Idle, in the panel's turn or
// leased; a transaction takes it to Serving, and a reply that came late or
// did not fit to Draining before it rests again.

#include <chrono>
#include <cstdint>
#include <deque>
#include <functional>
#include <optional>
#include <string>
#include <utility>

#include "core/serial_control.h"

class Timer;

struct TransactionResult {
    std::string sent;
    std::string reply;     // what arrived, whole or cut off
    bool complete = false; // ended by CR or ACK
    bool fits = true;      // has the form of its query's answer (any reply to a line that is no query)
    bool written = false;  // the line reached the wire
    double elapsedMs = 0;
    std::optional<std::string> error; // nothing was sent, or the line went down
};

struct Transaction {
    int client = 0;
    std::string line; // with its CR
    int watchMs = 500;
    bool expectsReply = true; // false for a command to every projector
    bool mayWait = true;      // false: refused at once while another holds a lease
    // How long it may wait for the line before it is given up, unsent.
    int lineWaitMs = 10000;
    std::string addressPrefix; // the address it carries, for telling its reply's form
    // A lease of the line for this many seconds rather than a line to send:
    // granted when its turn comes, with nothing written.
    int leaseS = 0;
    // A poll: it goes on the line only when nobody else's request waits.
    bool background = false;
    std::function<void(const TransactionResult &)> done;
};

class SharedLine : public SerialControl {
public:
    // What the line is doing. The first three are where it rests while the
    // wire is free, chosen by who may start: a lease outranks the panel's
    // quiet time. A lease granted, or the panel writing, while a transaction
    // is on the wire or its tail drains changes no phase: it is where the line
    // rests afterwards.
    enum class Phase {
        Idle,       // the first waiting request goes
        PanelsTurn, // the panel wrote a moment ago: a request only into a gap of its rhythm
        Leased,     // only the lease holder's requests go
        Serving,    // a transaction's line is out and its reply awaited
        Draining,   // a reply came late or did not fit: the line must fall quiet first
    };
    static const char *phaseName(Phase phase);
    // Whether the line ever moves from `from` to `to`.
    static bool legalMove(Phase from, Phase to);

    // How long after the panel's last write no script starts: longer than
    // the slowest hold repeat (500 ms), so a held button keeps its period.
    static constexpr int kPanelQuietMs = 600;
    static constexpr int kLongestLeaseS = 60;
    // Requests queued at once, for all clients together.
    static constexpr std::size_t kQueueLimit = 1000;
    // After a reply that was cut off, or did not fit its query, the next
    // transaction waits until no byte has come for this long: a tail that
    // is still on its way would otherwise be read as the next one's reply.
    // A line that never falls quiet is taken as it is after kLongestDrainMs.
    static constexpr int kLineQuietMs = 300;
    static constexpr int kLongestDrainMs = 5000;
    // What a request waits for the line at most unless it says otherwise.
    static constexpr int kDefaultLineWaitMs = 10000;
    static constexpr int kLongestLineWaitMs = 600000;
    // Room left before a held button's next repeat when a transaction goes
    // into the gap, for the operating system's own delays.
    static constexpr int kGapMarginMs = 4;

    // `deadlineTimer` ends requests that waited their limit; `now` is the
    // clock (ms) the gaps and limits are measured on.
    SharedLine(SerialControl &line, Timer &watchTimer, Timer &quietTimer, Timer &leaseTimer,
        Timer &deadlineTimer, std::function<std::int64_t()> now = {});

    // The panel's side: the serial control as the panel uses it.
    void setCommPort(std::int16_t port) override
    {
        line_.setCommPort(port);
        if (onPortChanged)
            onPortChanged();
    }
    void setSettings(std::string_view settings) override;
    bool portOpen() const override { return line_.portOpen(); }
    void setPortOpen(bool open) override
    {
        line_.setPortOpen(open);
        // A device opens at once, with no event: what waited for it goes now.
        if (open)
            tryStart();
    }
    void setOutput(std::string_view bytes) override;
    std::string input() override;
    std::int16_t commEvent() const override { return event_; }
    LineFailure lostLine() const override { return line_.lostLine(); }
    bool connected() const override { return line_.connected(); }
    LineKind lineKind() const override { return line_.lineKind(); }
    void setWatching(bool on) override { line_.setWatching(on); }
    std::string portLabel() const override { return line_.portLabel(); }
    std::int16_t commPort() const override { return line_.commPort(); }
    std::string takeDiscarded() override { return line_.takeDiscarded(); }

    // Other programs' side.
    void submit(Transaction transaction);
    // Leases the line to `client` for `seconds` (capped) at once; the error
    // when another client holds it. A lease that waits its turn is a
    // Transaction with leaseS.
    std::optional<std::string> lease(int client, int seconds);
    void release(int client);
    // A client went away: its queued requests are dropped, a reply on its
    // way is discarded, its lease ends.
    void clientGone(int client);
    std::optional<int> leaseHolder() const { return leaseHolder_; }
    std::size_t queued() const { return queue_.size(); }
    Phase phase() const { return phase_; }
    // Every move of the phase, as it happens: for a log.
    std::function<void(Phase from, Phase to)> onPhase;

    // Everything that goes over the line, as it goes: for subscribers. `by`
    // names who sent a line: a client as nameOf() names it, "the panel" or
    // "a poll"; empty for what arrived.
    std::function<void(std::string_view bytes, bool sent, const std::string &by)> onTraffic;
    // The line's speed changed: for clients to be told.
    std::function<void(const std::string &settings)> onSettings;
    // The port number changed: the owner serves the new line.
    std::function<void()> onPortChanged;
    // Who holds the line now ("" when nobody), for the panel's status line.
    std::function<void(const std::string &holder)> onLeaseChanged;
    // A client as messages name it: "qv550-cli (process 4242)".
    std::function<std::string(int client)> nameOf;
    // Every exchange that ended, whoever made it (a client, a poll or the
    // panel): the line sent and its reply, whole or not. For the live state.
    std::function<void(const std::string &sent, const std::string &reply, bool complete)> onExchange;
    // The line came up (true) or went down (false).
    std::function<void(bool up)> onConnection;
    // The panel writes `line`: told first, so that what the panel's owner
    // runs (a scene) can give way before the line is found leased.
    std::function<void(std::string_view line)> onPanelWrites;

    // How long transactions have held the line since the start, in ms: for
    // telling what polling costs the line.
    double busyMs() const { return busyMs_; }
    // How many of the panel's writes waited behind another's transaction.
    int panelWritesHeld() const { return panelWritesHeld_; }

    // Why a request of `client` cannot go now: "leased to ...", "the
    // panel's held zoom-plus", ...
    std::string busyReason(int client) const;

private:
    // The one place the phase changes. A move the line cannot make is a
    // fault of ours: it is told on standard error, and the move made anyway,
    // so that the line goes on.
    void moveTo(Phase next);
    // Where the line rests once the wire is free.
    Phase restingPhase() const;
    bool resting() const
    {
        return phase_ == Phase::Idle || phase_ == Phase::PanelsTurn || phase_ == Phase::Leased;
    }
    void onLineEvent();
    void tryStart();
    bool mayStart(const Transaction &transaction) const;
    bool fitsGap(const Transaction &transaction) const;
    void armDeadline();
    void expire();
    void startDraining();
    void refuse(Transaction &transaction, const std::string &why);
    bool heldByOneOfOurs() const;
    // Ends the transaction on the wire; `thenDrain` waits for the line to
    // fall quiet before the next.
    void finish(std::optional<std::string> error = std::nullopt, bool thenDrain = false);
    void failAll(const std::string &why);
    void write(std::string_view bytes, const std::string &by);
    void toPanel(std::int16_t event);
    std::string downReason() const;
    std::string holderName() const;
    void leaseEnded();

    SerialControl &line_;
    Timer &watchTimer_;
    Timer &quietTimer_;
    Timer &leaseTimer_;
    Timer &deadlineTimer_;
    std::function<std::int64_t()> now_;
    std::deque<std::pair<std::int64_t, Transaction>> queue_; // with the moment it is given up
    std::int64_t drainStarted_ = 0;
    // The panel's rhythm: when it last wrote, the shortest of its last two
    // intervals while it repeats (0 when it does not), when its last line
    // was answered and how long that took.
    std::int64_t panelWroteAt_ = 0;
    std::int64_t panelIntervals_[2] = {0, 0};
    int panelUnanswered_ = 0; // the panel's lines whose replies have not ended yet
    std::int64_t panelLatencyMs_ = 0;
    double msPerByte_ = 10000.0 / 19200.0;
    Phase phase_ = Phase::Idle;
    std::optional<Transaction> current_; // while Serving
    std::chrono::steady_clock::time_point started_;
    std::string reply_;
    bool written_ = false;      // the current transaction's line reached the wire
    std::string forPanel_;      // bytes outside transactions, for the panel's input()
    std::string panelWaiting_;  // the panel's writes held while Serving
    std::string panelLine_;     // the panel's last line, while its reply is awaited
    std::string panelReply_;    // what came back for it so far
    std::string panelLastLine_; // the panel's last line, answered or not
    double busyMs_ = 0;
    int panelWritesHeld_ = 0;
    std::optional<int> leaseHolder_;
    int leaseMs_ = 0;
    std::int16_t event_ = 0;
};
