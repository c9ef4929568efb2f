// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// What the owner of a line answers its clients, as JSON lines: one request
// a line, with an "id", and one reply a line with the same id, which is the
// object qv550-cli --json prints, or {"id": ..., "error": "..."}. Requests:
//   {"id": 1, "command": "status"}          a command by name
//   {"id": 2, "send": "CR0"}                any line; the CR is added
//       either may carry "address" (single, all, 1-4), "timeout_ms" (the
//       reply watch), "line_wait_ms" (how long it may wait for the line, 0 to
//       600000, 10000 if not given; past it the reply's error says who had
//       the line) and "wait": false (refused at once while another client
//       leases the line)
//   {"id": 3, "lease": 10}                  the line for a sequence (at most 60 s,
//                                           renewed by each request); waits its
//                                           turn as a request does, with the same
//                                           "line_wait_ms" and "wait"
// A reply to a status query that does not have its answer's form is no
// answer: the object carries it, with an error that says it did not fit.
//   {"id": 4, "release": true}
//   {"id": 5, "hello": true}                version, line, owner, clients
//   {"id": 6, "subscribe": "traffic"}       then {"event": "traffic", ...} for every
//                                           line sent and every arrival
//   {"id": 7, "speed": 9600}                the line's speed; every client is told
//   {"id": 8, "state": true}                the live state: {"state": {...}, "choices": {...}}
//   {"id": 9, "subscribe": "state"}         then {"event": "state", ...} on every change
//   {"id": 10, "scene": "presentation"}     runs a scene (with --scenes): {"id": 10,
//                                           "scene": ..., "run": N}, then {"event": "scene",
//                                           "id": 10, ...} as each step ends and at the end
//   {"id": 11, "scenes": true}              the scenes and their steps
//   {"id": 12, "scene_cancel": true}        stops the running scene
// A command that is one of the nine status queries, without an address, is
// answered from the live state when its value is younger than the query's
// maximum age (or "max_age_ms"), with "cached": true and "age_ms": nothing
// is sent. "max_age_ms": 0 always asks the projector.
// Bad input gets a clear error and changes nothing else. No sockets here:
// the server glue hands bytes in and lines out.

#include <QJsonObject>
#include <QJsonValue>

#include <array>
#include <functional>
#include <map>
#include <optional>
#include <string>
#include <string_view>

#include "protocol/json_lines.h"
#include "protocol/owner_protocol.h"

class LiveState;
class Poller;
class SharedLine;
struct TransactionResult;

class OwnerService {
public:
    static constexpr std::size_t kLineLimit = 65536;

    OwnerService(SharedLine &line, std::string lineName, std::string owner);

    // A new client; `send` writes one line (without its newline) to it.
    // `name` says who it is, for messages ("qv550-cli (process 4242)").
    int connect(std::function<void(const std::string &)> send, std::string name = {});
    // The line served, after a port change.
    void setLineName(std::string name) { lineName_ = std::move(name); }
    // Bytes from a client: each whole line is one request. False when the
    // client is to be dropped (a line longer than the limit).
    bool receive(int client, std::string_view bytes);
    void disconnect(int client);
    std::size_t clients() const { return clients_.size(); }
    // Whether a request of `client` is still to be answered.
    bool awaitingReplies(int client) const;
    // The live state to answer from and to report (and its poller, if it
    // polls); without it "state" is refused.
    void setLiveState(LiveState *state, const Poller *poller);
    // Requests about scenes ("scene", "scenes", "scene_cancel") are handed
    // to this with a way to answer the client, then and later; without it
    // they are refused.
    using SceneRequests = std::function<void(
        int client, const QJsonObject &request, std::function<void(const QJsonObject &)> answer)>;
    void setSceneRequests(SceneRequests handler) { sceneRequests_ = std::move(handler); }
    // A client as messages name it.
    std::string clientName(int client) const;
    // Every line a client asks to send, as it is taken: a press at a panel
    // that is this owner's client stops a running scene.
    std::function<void(int client, const std::string &line)> onClientSends;

private:
    struct Client {
        std::function<void(const std::string &)> send;
        JsonLineReader reader{kLineLimit};
        bool subscribed = false;
        bool watchesState = false;
        std::string name;
        int awaiting = 0; // transactions asked and not yet answered
    };

    // A request that has passed the checks every request passes.
    struct Request {
        int client = 0;
        QJsonValue id;
        QJsonObject fields;
        QJsonValue argument; // the verb's
        Verb verb = Verb::Hello;
    };
    // Each verb's own function, as a row of a table.
    struct VerbHandler {
        Verb verb;
        void (OwnerService::*handler)(const Request &);
    };
    // One row a verb.
    static const std::array<VerbHandler, kVerbs.size()> kHandlers;
    // Whether and how long a request may wait for the line.
    struct LineWait {
        bool mayWait = true;
        int ms = 0;
    };
    // What a command or a line to send asks to be written.
    struct Asked {
        std::string code;
        std::string prefix;
        int watchMs = 2000; // as the SEND button's
    };

    void handle(int client, const std::string &request);
    void onHello(const Request &request);
    void onState(const Request &request);
    void onSpeed(const Request &request);
    void onSubscribe(const Request &request);
    void onLease(const Request &request);
    void onRelease(const Request &request);
    void onTransaction(const Request &request);
    void onScene(const Request &request);
    // Each of these answers the error itself when it returns nothing.
    std::optional<LineWait> lineWaitOf(const Request &request);
    std::optional<Asked> askedLine(const Request &request);
    static QJsonObject transactionReply(
        const TransactionResult &result, const std::string &prefix, int watchMs, bool expects);
    void reply(int client, const QJsonObject &object);
    void error(int client, const QJsonValue &id, const std::string &why);
    void broadcast(const QJsonObject &event, bool subscribersOnly);
    void stateChanged();
    std::string stateEvent() const;
    bool answeredFromCache(
        int client, const QJsonValue &id, const std::string &code, const QJsonObject &request);

    SharedLine &line_;
    std::string lineName_;
    std::string owner_;
    LiveState *live_ = nullptr;
    const Poller *poller_ = nullptr;
    SceneRequests sceneRequests_;
    std::map<int, Client> clients_;
    int nextClient_ = 1;
};
