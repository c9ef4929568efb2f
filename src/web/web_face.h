// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// qv550d's page for a browser, without sockets: who may open it (a PIN
// checked here, a session token for a cookie, wrong PINs limited per
// address), whether a WebSocket is let in (a valid token and the page's own
// Origin), and what the page and the owner say to each other over it. Each
// page is one more client of the owner, named by the peer's address, so its
// commands are arbitrated, leased and logged as every other client's.
//
// Page to owner, one JSON object a message:
//   {"id": 7, "press": "power-on"}             a command by name ("address" optional)
//   {"id": 8, "send": "CR0"}                   any line (the technician's command line)
//   {"id": 9, "scene": "presentation"}         a scene of the owner's
//   {"hold": "vol-up"}                         a hold starts: sent now, then repeated
//   {"alive": "vol-up"}                        the finger is still down (every 100 ms)
//   {"release": "vol-up"}                      the finger is up
//   {"ping": 5}                                answered {"pong": 5}: the page's heartbeat
// Owner to page:
//   {"hello": {"version": ..., "layout": [...], "line": ...}}   once, first
//   {"state": {...}, "choices": {...}, "lit": [names]}          at once and on every change
//   {"scenes": [{"name", "steps"}]}            the owner's scenes, once, after the state
//   {"id": 7, "result": {...}}                 the owner's reply (or {"error": ...})
//   {"id": 9, "scene": {"scene", "step", "steps", "did", "ok", "detail", "end", "why", ...}}
//                                              a scene's start, each step as it ends, its end
//   {"hold": "vol-up", "ended": "released"}    a hold ended, and why
// A hold is repeated here, at the period the panel's button repeats at, only
// while the page says it is alive: at "released", at the first silence
// longer than kAliveMs, or when the page goes, the repeats stop. A repeat is
// skipped while the last one is still on the line, so nothing piles up.

#include <QByteArray>
#include <QJsonArray>
#include <QJsonObject>

#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <string>

class LiveState;
class OwnerService;
class Timer;

struct WebSettings {
    std::string pin;          // empty: no PIN (only where allowed)
    bool loopbackOnly = true; // the listener is on a loopback address: Host must name one
    std::string version;      // the page reloads when this changes
    std::string line;         // the line served, for the page's title
    // Random bytes for a token (16 are asked); empty: the system's generator.
    std::function<std::string(int)> random;
};

class WebFace {
public:
    static constexpr std::size_t kMessageLimit = 4096;
    static constexpr qsizetype kLongestLine = 64; // the page's command line
    static constexpr int kMaxPages = 32;
    static constexpr int kWrongPinsAllowed = 5; // then the address waits
    static constexpr int kLockoutMs = 60000;    // doubled for each further lockout, up to 15 min
    static constexpr int kMaxLockoutMs = 900000;
    static constexpr std::int64_t kTokenLifeMs = 12LL * 3600 * 1000;
    static constexpr std::size_t kMaxAddresses = 1024;
    static constexpr int kAliveMs = 250; // a hold without a keep-alive this long ends
    static constexpr int kAliveCheckMs = 25;
    static constexpr const char *kCookie = "qv550_session";

    WebFace(OwnerService &service, LiveState &state, std::function<std::int64_t()> now,
        std::function<std::unique_ptr<Timer>(int)> makeTimer, WebSettings settings);
    ~WebFace();
    WebFace(const WebFace &) = delete;
    WebFace &operator=(const WebFace &) = delete;

    bool needsPin() const { return !settings_.pin.empty(); }

    struct Login {
        int status = 0;    // 200, 403 (wrong PIN) or 429 (this address waits)
        std::string token; // for the cookie, on 200
        std::string why;   // on a refusal
        int retryAfterS = 0;
    };
    Login login(const std::string &peer, const std::string &pin);
    // Without a PIN the page gets a token with itself; with one, nothing.
    std::string tokenForPage();
    // The Set-Cookie value for a token.
    static std::string cookieFor(const std::string &token);

    // Whether a WebSocket from `peer` may open: empty if so, else why not.
    // `cookie`, `origin` and `host` are the upgrade request's headers.
    std::string admission(
        const std::string &cookie, const std::string &origin, const std::string &host) const;
    bool tokenValid(const std::string &cookie) const;

    // An admitted page; `send` writes one text message to it. -1 when there
    // are kMaxPages already.
    int open(const std::string &peer, std::function<void(const std::string &)> send);
    // A text message from a page. False when it is to be dropped.
    bool message(int page, const std::string &text);
    void close(int page);
    std::size_t pages() const { return pages_.size(); }

    // The buttons as the window groups them: [{"group", "colour", "buttons":
    // [{"name", "caption", "colour", "hold", "choice"}], "technician"}].
    static QJsonArray layout();

private:
    struct Hold {
        std::string name;
        std::unique_ptr<Timer> repeat;
        std::unique_ptr<Timer> watch;
        std::int64_t aliveAt = 0;
    };
    struct Page {
        std::string peer;
        std::function<void(const std::string &)> send;
        int client = 0;                          // at the owner
        std::map<std::string, QJsonValue> asked; // owner id -> the page's id
        int nextAsk = 1;
        int timer1Ms = 0; // the period a cursor-pad arrow repeats at, as the panel's Timer1 has it
        std::unique_ptr<Hold> hold;
        std::unique_ptr<Hold> retired; // an ended hold, kept until its tick has returned
        bool repeatOut = false;        // a repeat not yet answered
    };
    struct Strikes {
        int wrong = 0;
        int lockouts = 0;
        std::int64_t lockedUntil = 0;
        std::int64_t lastAt = 0;
    };

    void fromOwner(int page, const std::string &line);
    void ask(int page, QJsonObject request, const QJsonValue &pageId);
    void startHold(int page, const std::string &name);
    void endHold(int page, const char *why);
    void repeatHold(int page);
    void sendTo(int page, const QJsonObject &object);
    void refuse(int page, const QJsonValue &id, const std::string &why);
    std::string makeToken();
    std::string signature(const std::string &payload) const;

    OwnerService &service_;
    LiveState &state_;
    std::function<std::int64_t()> now_;
    std::function<std::unique_ptr<Timer>(int)> makeTimer_;
    WebSettings settings_;
    std::map<int, Page> pages_;
    int nextPage_ = 1;
    QByteArray key_; // signs tokens
    std::map<std::string, Strikes> strikes_;
};

// The value of cookie `name` in a Cookie header; empty when absent.
std::string cookieValue(const std::string &header, const std::string &name);
