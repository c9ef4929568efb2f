// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// One PJLink controller's connection, without the socket: the greeting, the
// digest check on the first line, then one request at a time, answered in
// order. Queries are answered at once from the live state; sets go to the
// owner as this connection's own requests, named "PJLink <peer>", so they
// queue, wait and show like any other client's. A connection that says
// nothing for 30 s, sends a line no PJLink controller would, or fails the
// digest is closed; nothing else changes.

#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "pjlink/pjlink_request.h"
#include "pjlink/pjlink_settings.h"

class LiveState;
class OwnerService;
class Timer;

class PjlinkSession {
public:
    static constexpr int kIdleMs = 30000;
    // How long a set waits while another client leases the line, asking
    // again every kRetryMs: past it, ERR3.
    static constexpr int kLeaseWaitMs = 4000;
    static constexpr int kRetryMs = 250;

    struct Peer {
        std::string address;  // "192.0.2.7": for the owner's log and its list of clients
        std::string password; // empty: no authentication
        std::string random;   // the greeting's 8 characters
    };

    PjlinkSession(OwnerService &service, const LiveState &state, const PjlinkSettings &settings, Timer &idle,
        Timer &retry, Peer peer, std::function<void(const std::string &)> send,
        std::function<void()> closeConnection, std::function<void(const std::string &)> log);
    ~PjlinkSession();
    PjlinkSession(const PjlinkSession &) = delete;
    PjlinkSession &operator=(const PjlinkSession &) = delete;

    // Says the greeting and starts the idle count.
    void start();
    void receive(std::string_view bytes);
    bool closed() const { return closed_; }

    // "PJLINK 0\r", or "PJLINK 1 <random>\r" with a password.
    static std::string greeting(const std::string &password, const std::string &random);
    // md5(random + password) as 32 lower-case hex digits.
    static std::string digest(const std::string &random, const std::string &password);

private:
    void next();
    void handle(const std::string &line);
    void sendCommand();
    void ownerReplied(const std::string &line);
    void answer(const std::string &value);
    void close();

    OwnerService &service_;
    const LiveState &state_;
    const PjlinkSettings &settings_;
    Timer &idle_;
    Timer &retry_;
    Peer peer_;
    std::function<void(const std::string &)> send_;
    std::function<void()> close_;
    std::function<void(const std::string &)> log_;
    int client_ = 0;
    PjlinkReader reader_;
    bool authenticated_ = false;
    bool closed_ = false;
    bool busy_ = false; // a set is on its way
    PjlinkRequest current_;
    std::vector<std::string> commands_; // the set's commands not yet acknowledged
    int requestId_ = 0;
    int retries_ = 0;
};
