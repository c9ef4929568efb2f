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
// most its reply watch), and no script starts while the panel is busy (a
// press or a held button's repeats, and a moment after). A client may lease
// the line for a sequence; others then wait, or are refused with the
// holder's name if they ask not to wait.

#include <chrono>
#include <cstdint>
#include <deque>
#include <functional>
#include <optional>
#include <string>

#include "serial/serial_control.h"

class Timer;

struct TransactionResult {
    std::string sent;
    std::string reply;     // what arrived, whole or cut off
    bool complete = false; // ended by CR or ACK
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
    // A poll: it goes on the line only when nobody else's request waits.
    bool background = false;
    std::function<void(const TransactionResult &)> done;
};

class SharedLine : public SerialControl {
public:
    // How long after the panel's last write no script starts: longer than
    // the slowest hold repeat (500 ms), so a held button keeps its period.
    static constexpr int kPanelQuietMs = 600;
    static constexpr int kLongestLeaseS = 60;
    // Requests queued at once, for all clients together.
    static constexpr std::size_t kQueueLimit = 1000;
    // After a reply watch that ran out, this long for the late reply to end
    // before the next transaction: otherwise it would be read as the next
    // one's reply. It ends early at the late reply's CR or ACK.
    static constexpr int kLateReplyGraceMs = 1000;

    SharedLine(SerialControl &line, Timer &watchTimer, Timer &quietTimer, Timer &leaseTimer);

    // The panel's side: the serial control as the panel uses it.
    void setCommPort(std::int16_t port) override
    {
        line_.setCommPort(port);
        if (onPortChanged)
            onPortChanged();
    }
    void setSettings(std::string_view settings) override;
    bool portOpen() const override { return line_.portOpen(); }
    void setPortOpen(bool open) override { line_.setPortOpen(open); }
    void setOutput(std::string_view bytes) override;
    std::string input() override;
    std::int16_t commEvent() const override { return event_; }
    std::string lostLineDescription() const override { return line_.lostLineDescription(); }
    bool connected() const override { return line_.connected(); }
    LineKind lineKind() const override { return line_.lineKind(); }
    void setWatching(bool on) override { line_.setWatching(on); }
    std::string portLabel() const override { return line_.portLabel(); }
    std::int16_t commPort() const override { return line_.commPort(); }
    std::string takeDiscarded() override { return line_.takeDiscarded(); }

    // Other programs' side.
    void submit(Transaction transaction);
    // Leases the line to `client` for `seconds` (capped); the error when
    // another client holds it.
    std::optional<std::string> lease(int client, int seconds);
    void release(int client);
    // A client went away: its queued requests are dropped, a reply on its
    // way is discarded, its lease ends.
    void clientGone(int client);
    std::optional<int> leaseHolder() const { return leaseHolder_; }
    std::size_t queued() const { return queue_.size(); }

    // Everything that goes over the line, as it goes: for subscribers.
    std::function<void(std::string_view bytes, bool sent)> onTraffic;
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

    // How long transactions have held the line since the start, in ms: for
    // telling what polling costs the line.
    double busyMs() const { return busyMs_; }

private:
    void onLineEvent();
    void tryStart();
    void finish(std::optional<std::string> error = std::nullopt);
    void failAll(const std::string &why);
    void write(std::string_view bytes);
    void toPanel(std::int16_t event);
    std::string downReason() const;
    std::string holderName() const;
    void leaseEnded();

    SerialControl &line_;
    Timer &watchTimer_;
    Timer &quietTimer_;
    Timer &leaseTimer_;
    std::deque<Transaction> queue_;
    std::optional<Transaction> current_;
    std::chrono::steady_clock::time_point started_;
    std::string reply_;
    bool written_ = false;     // the current transaction's line reached the wire
    bool draining_ = false;    // taking in a late reply before the next transaction
    std::string forPanel_;     // bytes outside transactions, for the panel's input()
    std::string panelWaiting_; // the panel's writes held while a transaction is on the line
    std::string panelLine_;    // the panel's last line, while its reply is awaited
    std::string panelReply_;   // what came back for it so far
    double busyMs_ = 0;
    std::optional<int> leaseHolder_;
    int leaseMs_ = 0;
    std::int16_t event_ = 0;
};
