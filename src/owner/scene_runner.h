// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// Runs scenes on a line as one more client of its owner: every command goes
// through the owner's arbitration like a script's, each burst of commands
// under a short lease, and no lease across a wait or a pause, so that others
// are served while a projector warms up. One scene at a time: a newer scene,
// a cancel or a press at the panel stops the running one at once, its queued
// request is dropped with its client, and nothing more is sent for it.
// A wait watches the live state and asks for the values it needs about once
// a second, so a change is seen within about a second, whatever the poll.
// A step that fails or runs out of time stops the scene, unless it says
// "on_error": "continue".
//
// Everything it says is an event: {"event": "scene", "run": 3, "scene":
// "presentation", ...} with "started", then one per step as it ends ("step",
// "steps", "did", "ok", "detail"), then "end": "done", "failed" or "stopped"
// with "why".

#include <QJsonObject>

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "owner/scene_book.h"

class LiveState;
class OwnerService;
class Timer;

class SceneRunner {
public:
    // How often a wait asks for the values it needs.
    static constexpr int kConfirmMs = 1000;
    // The lease a burst of commands holds; each command renews it.
    static constexpr int kLeaseS = 10;

    // `next`, `ask` and `deadline`: timers for going on (1 ms), the
    // confirming rate, and a step's time limit or pause.
    SceneRunner(OwnerService &service, LiveState &state, Timer &next, Timer &ask, Timer &deadline,
        std::function<std::int64_t()> now);
    ~SceneRunner();
    SceneRunner(const SceneRunner &) = delete;
    SceneRunner &operator=(const SceneRunner &) = delete;

    void setBook(SceneBook book) { book_ = std::move(book); }
    const SceneBook &book() const { return book_; }

    // Starts the scene `name` for `by` ("qv550-cli (process 42)"), stopping
    // a running one first; its run number, or why not.
    std::optional<std::string> start(const std::string &name, const std::string &by, int &run);
    // Stops the running scene, if any, saying why ("cancelled by ...").
    void stop(const std::string &why);
    bool running() const { return active_; }
    // The number the next run will have: to follow a run from its start.
    int nextRun() const { return run_ + 1; }
    const std::string &runningScene() const { return scene_.name; }

    void listen(std::function<void(const QJsonObject &event)> listener)
    {
        listeners_.push_back(std::move(listener));
    }

private:
    enum class Phase { Idle, Leasing, Sending, Pausing, Waiting, Delaying };

    void request(QJsonObject object, bool awaited);
    void replied(const std::string &line);
    void goOn();
    void beginStep();
    void sendStep();
    void handleReply(const QJsonObject &reply);
    void askNext();
    bool conditionsMet(std::string &shown) const;
    void waitTimedOut();
    void stepEnded(bool ok, const std::string &detail);
    void end(const std::string &outcome, const std::string &why);
    void release();
    void dropClient();
    void emit(QJsonObject event);
    const SceneStep &step() const { return scene_.steps[index_]; }

    OwnerService &service_;
    LiveState &state_;
    Timer &next_;
    Timer &ask_;
    Timer &deadline_;
    std::function<std::int64_t()> now_;
    std::vector<std::function<void(const QJsonObject &)>> listeners_;
    SceneBook book_;

    Scene scene_;
    bool active_ = false;
    int run_ = 0;
    int client_ = 0; // the run's client of the owner; 0: none
    Phase phase_ = Phase::Idle;
    std::size_t index_ = 0;
    int attempt_ = 0;
    bool leased_ = false;
    int nextId_ = 1;
    int awaiting_ = 0;                 // the request whose reply the step waits for
    std::optional<QJsonObject> reply_; // that reply, taken in at the next turn
    std::size_t askRow_ = 0;           // the condition asked for next
    std::int64_t stepStartMs_ = 0;
    std::int64_t sinceMs_ = 0; // values read before this do not meet a wait
    std::string lastSeen_;     // what a wait saw last, for its timeout
    bool stateChanged_ = false;
};
