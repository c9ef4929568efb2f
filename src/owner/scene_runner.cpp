// SPDX-License-Identifier: GPL-3.0-or-later
// The runner never acts inside the owner's callback: a reply is taken in
// and handled at the next turn of the event loop, so that a step's end, a
// progress listener or a stop never runs inside the owner's own dispatch.

#include "owner/scene_runner.h"

#include <cmath>

#include "owner/live_state.h"
#include "owner/owner_service.h"
#include "core/timer.h"
#include "protocol/json_lines.h"
#include "protocol/owner_protocol.h"

namespace {

QString qs(const std::string &text)
{
    return QString::fromStdString(text);
}

// The reply's bytes, from its hex.
std::string replyBytes(const QJsonObject &reply)
{
    return QByteArray::fromHex(reply.value(field::kReplyHex).toString().toLatin1()).toStdString();
}

std::string secondsText(std::int64_t ms)
{
    const std::int64_t tenths = (ms + 50) / 100;
    return std::to_string(tenths / 10) + "." + std::to_string(tenths % 10) + " s";
}

} // namespace

SceneRunner::SceneRunner(OwnerService &service, LiveState &state, Timer &next, Timer &ask, Timer &deadline,
    std::function<std::int64_t()> now)
    : service_(service), state_(state), next_(next), ask_(ask), deadline_(deadline), now_(std::move(now))
{
    next_.setInterval(1);
    next_.setOnTick([this] {
        next_.setEnabled(false);
        goOn();
    });
    ask_.setInterval(kConfirmMs);
    ask_.setOnTick([this] {
        if (phase_ == Phase::Waiting && awaiting_ == 0)
            askNext();
    });
    deadline_.setOnTick([this] {
        deadline_.setEnabled(false);
        if (phase_ == Phase::Waiting)
            waitTimedOut();
        else if (phase_ == Phase::Delaying)
            stepEnded(true, "");
        else if (phase_ == Phase::Pausing)
            sendStep();
    });
    state_.listen([this] {
        if (phase_ == Phase::Waiting) {
            stateChanged_ = true;
            next_.setEnabled(true);
        }
    });
}

SceneRunner::~SceneRunner()
{
    dropClient();
}

std::optional<std::string> SceneRunner::start(const std::string &name, const std::string &by, int &run)
{
    const Scene *scene = book_.find(name);
    if (!scene) {
        if (book_.scenes.empty())
            return std::string("no scenes: qv550d was started without --scenes");
        return "no scene \"" + name + "\" in " + book_.file;
    }
    Scene chosen = *scene; // the book may be read again while it runs
    if (active_)
        stop("scene \"" + chosen.name + "\" started by " + by);
    scene_ = std::move(chosen);
    active_ = true;
    run = ++run_;
    index_ = 0;
    leased_ = false;
    sinceMs_ = now_();
    client_ = service_.connect(
        [this, run](const std::string &line) {
            if (run == run_)
                replied(line);
        },
        "scene \"" + scene_.name + "\"");
    QJsonObject event;
    event[field::kStarted] = true;
    event[field::kSteps] = static_cast<int>(scene_.steps.size());
    event[field::kBy] = qs(by);
    emit(event);
    beginStep();
    return std::nullopt;
}

void SceneRunner::stop(const std::string &why)
{
    if (!active_)
        return;
    // The client goes first: its queued request is dropped with it, and
    // its lease ends, before anyone hears of the stop.
    dropClient();
    end("stopped", why);
}

void SceneRunner::dropClient()
{
    if (client_ != 0)
        service_.disconnect(std::exchange(client_, 0));
    leased_ = false;
}

void SceneRunner::request(QJsonObject object, bool awaited)
{
    const int id = nextId_++;
    object[field::kId] = id;
    if (awaited) {
        awaiting_ = id;
        reply_.reset();
    }
    service_.receive(client_, jsonLine(object).toStdString());
}

void SceneRunner::replied(const std::string &line)
{
    const QJsonObject reply = jsonObject(line);
    if (awaiting_ == 0 || reply.value(field::kId).toInt() != awaiting_)
        return; // a release's answer, or an event
    awaiting_ = 0;
    reply_ = reply;
    next_.setEnabled(true);
}

void SceneRunner::goOn()
{
    if (!active_)
        return;
    if (reply_) {
        const QJsonObject reply = *std::exchange(reply_, std::nullopt);
        return handleReply(reply);
    }
    if (phase_ == Phase::Waiting && std::exchange(stateChanged_, false)) {
        std::string shown;
        if (conditionsMet(shown))
            stepEnded(true, shown);
        return;
    }
    if (phase_ == Phase::Idle)
        beginStep();
}

void SceneRunner::beginStep()
{
    ask_.setEnabled(false);
    deadline_.setEnabled(false);
    phase_ = Phase::Idle;
    if (index_ >= scene_.steps.size()) {
        dropClient();
        return end("done", "");
    }
    stepStartMs_ = now_();
    attempt_ = 0;
    const SceneStep &current = step();
    if (current.sends()) {
        if (leased_)
            return sendStep();
        phase_ = Phase::Leasing;
        QJsonObject lease;
        lease[field::kLease] = kLeaseS;
        return request(lease, true);
    }
    release(); // never a lease across a wait or a pause
    if (current.kind == SceneStep::Kind::Delay) {
        phase_ = Phase::Delaying;
        deadline_.setInterval(current.delayMs);
        deadline_.setEnabled(true);
        return;
    }
    phase_ = Phase::Waiting;
    if (current.kind == SceneStep::Kind::Expect)
        sinceMs_ = stepStartMs_; // asked of the projector, not from what was known
    lastSeen_.clear();
    askRow_ = 0;
    deadline_.setInterval(current.timeoutMs);
    deadline_.setEnabled(true);
    std::string shown;
    if (conditionsMet(shown))
        return stepEnded(true, shown);
    ask_.setEnabled(true);
    askNext();
}

void SceneRunner::release()
{
    if (!leased_)
        return;
    leased_ = false;
    QJsonObject release;
    release[field::kRelease] = true;
    request(release, false);
}

void SceneRunner::sendStep()
{
    const SceneStep &current = step();
    phase_ = Phase::Sending;
    QJsonObject command;
    command[current.kind == SceneStep::Kind::Command ? field::kCommand : field::kSend] = qs(current.what);
    if (!current.address.empty())
        command[field::kAddress] = qs(current.address);
    if (current.timeoutMs > 0)
        command[field::kTimeoutMs] = current.timeoutMs;
    // A query the scene sends is asked of the projector, never answered from what is known.
    command[field::kMaxAgeMs] = 0;
    request(command, true);
}

void SceneRunner::handleReply(const QJsonObject &reply)
{
    if (phase_ == Phase::Leasing) {
        // Refused: another client holds the line. The commands then wait
        // their turn in the owner's queue, as a script's do.
        leased_ = !reply.contains(field::kError);
        return sendStep();
    }
    if (phase_ == Phase::Waiting) {
        std::string shown;
        if (conditionsMet(shown))
            return stepEnded(true, shown);
        if (reply.contains(field::kError))
            lastSeen_ = reply.value(field::kError).toString().toStdString();
        if (askRow_ != 0)
            askNext(); // the other values the condition needs, one after another
        return;
    }
    if (phase_ != Phase::Sending)
        return;
    const std::string bytes = replyBytes(reply);
    std::string why;
    if (reply.contains(field::kError))
        why = reply.value(field::kError).toString().toStdString();
    else if (bytes.rfind("ERR", 0) == 0)
        why = "the projector answered ERR";
    else if (bytes.find('\x15') != std::string::npos)
        why = "the projector answered NAK";
    if (why.empty()) {
        sinceMs_ = now_();
        const QJsonValue status = reply.value(field::kStatus);
        return stepEnded(true,
            status.isString() ? status.toString().toStdString()
                              : reply.value(field::kMonitor).toString().toStdString());
    }
    if (attempt_ < step().retries) {
        ++attempt_;
        phase_ = Phase::Pausing;
        release();
        deadline_.setInterval(step().retryIntervalMs);
        deadline_.setEnabled(true);
        return;
    }
    if (step().retries > 0)
        why += " (tried " + std::to_string(step().retries + 1) + " times)";
    stepEnded(false, why);
}

void SceneRunner::askNext()
{
    const SceneStep &current = step();
    if (current.conditions.empty())
        return;
    const std::size_t row = current.conditions[askRow_].row;
    askRow_ = (askRow_ + 1) % current.conditions.size();
    QJsonObject query;
    query[field::kCommand] = QString::fromUtf8(
        kLiveQueries[row].name.data(), static_cast<qsizetype>(kLiveQueries[row].name.size()));
    // A value read since the last command is as good as asking again; an
    // older one is not.
    query[field::kMaxAgeMs] = static_cast<double>(std::clamp<std::int64_t>(now_() - sinceMs_, 0, kConfirmMs));
    request(query, true);
}

bool SceneRunner::conditionsMet(std::string &shown) const
{
    bool met = true;
    std::string seen;
    for (const SceneCondition &condition : step().conditions) {
        const LiveState::Value &value = state_.value(condition.row);
        const std::string name(kLiveQueries[condition.row].name);
        const bool current = value.status && value.readAt && !value.unknownSince && *value.readAt >= sinceMs_;
        seen += (seen.empty() ? "" : ", ") + name + " "
            + (current ? "\"" + *value.status + "\"" : std::string("not read yet"));
        bool matched = false;
        for (const std::string &wanted : condition.anyOf)
            matched = matched || (current && sceneTextMatches(*value.status, wanted));
        met = met && matched;
    }
    shown = seen;
    return met;
}

void SceneRunner::waitTimedOut()
{
    std::string shown;
    if (conditionsMet(shown))
        return stepEnded(true, shown);
    stepEnded(false,
        "not met within " + secondsText(step().timeoutMs) + ": " + shown
            + (lastSeen_.empty() ? "" : " (" + lastSeen_ + ")"));
}

void SceneRunner::stepEnded(bool ok, const std::string &detail)
{
    ask_.setEnabled(false);
    deadline_.setEnabled(false);
    awaiting_ = 0;
    const SceneStep &current = step();
    QJsonObject event;
    event[field::kStep] = static_cast<int>(index_ + 1);
    event[field::kSteps] = static_cast<int>(scene_.steps.size());
    event[field::kDid] = qs(current.describe());
    event[field::kOk] = ok;
    event[field::kDetail] = qs(detail);
    event[field::kElapsedMs] = static_cast<double>(now_() - stepStartMs_);
    if (!ok && current.continueOnError)
        event[field::kContinued] = true;
    emit(event);
    if (!active_)
        return; // a listener started another scene or stopped this one
    if (!ok && !current.continueOnError) {
        dropClient();
        return end(
            "failed", "step " + std::to_string(index_ + 1) + " (" + current.describe() + "): " + detail);
    }
    ++index_;
    phase_ = Phase::Idle;
    next_.setEnabled(true);
}

void SceneRunner::end(const std::string &outcome, const std::string &why)
{
    active_ = false;
    phase_ = Phase::Idle;
    awaiting_ = 0;
    reply_.reset();
    next_.setEnabled(false);
    ask_.setEnabled(false);
    deadline_.setEnabled(false);
    QJsonObject event;
    event[field::kEnd] = qs(outcome);
    event[field::kSteps] = static_cast<int>(scene_.steps.size());
    if (!why.empty())
        event[field::kWhy] = qs(why);
    emit(event);
}

void SceneRunner::emit(QJsonObject event)
{
    event[field::kEvent] = word::kScene;
    event[field::kScene] = qs(scene_.name);
    event[field::kRun] = run_;
    const auto listeners = listeners_; // a listener may add another
    for (const auto &listener : listeners)
        listener(event);
}
