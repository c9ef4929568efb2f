// SPDX-License-Identifier: GPL-3.0-or-later
// JSON through Qt's reader and writer only: a request is never picked apart
// by hand, and every byte of a reply reaches the client as a Latin-1
// character.

#include "owner/owner_service.h"

#include <QJsonArray>
#include <QJsonObject>

#include <algorithm>
#include <cmath>

#include "commands/command_handlers.h"
#include "commands/named_commands.h"
#include "core/monitor_text.h"
#include "owner/live_state.h"
#include "owner/poller.h"
#include "owner/reply_object.h"
#include "owner/shared_line.h"
#include "protocol/json_lines.h"
#include "protocol/owner_protocol.h"

namespace {

constexpr int kLongestWatchMs = 600000;

QString qs(const std::string &text)
{
    return QString::fromStdString(text);
}

} // namespace

OwnerService::OwnerService(SharedLine &line, std::string lineName, std::string owner)
    : line_(line), lineName_(std::move(lineName)), owner_(std::move(owner))
{
    line_.onTraffic = [this](std::string_view bytes, bool sent, const std::string &by) {
        QJsonObject event;
        event[field::kEvent] = word::kTraffic;
        event[field::kDirection] = sent ? word::kSentWay : word::kReceivedWay;
        if (!by.empty())
            event[field::kBy] = qs(by);
        event[field::kHex] = qs(hexText(bytes, ""));
        event[field::kMonitor] = qs(monitorLine(std::string(bytes)));
        broadcast(event, true);
    };
    line_.nameOf = [this](int client) {
        const auto found = clients_.find(client);
        return found == clients_.end() ? "client " + std::to_string(client) : found->second.name;
    };
    line_.onSettings = [this](const std::string &settings) {
        QJsonObject event;
        event[field::kEvent] = word::kSettings;
        event[field::kSettings] = qs(settings);
        broadcast(event, false);
    };
}

int OwnerService::connect(std::function<void(const std::string &)> send, std::string name)
{
    const int client = nextClient_++;
    clients_[client].send = std::move(send);
    clients_[client].name = name.empty() ? "client " + std::to_string(client) : std::move(name);
    return client;
}

void OwnerService::setLiveState(LiveState *state, const Poller *poller)
{
    live_ = state;
    poller_ = poller;
    if (live_)
        live_->listen([this] { stateChanged(); });
}

std::string OwnerService::stateEvent() const
{
    QJsonObject event;
    event[field::kEvent] = word::kState;
    event[field::kState] = live_->toJson();
    event[field::kChoices] = live_->choicesJson();
    return jsonText(event);
}

void OwnerService::stateChanged()
{
    const std::string text = stateEvent();
    for (auto &[id, client] : clients_) {
        if (client.watchesState)
            client.send(text);
    }
}

bool OwnerService::answeredFromCache(
    int client, const QJsonValue &id, const std::string &code, const QJsonObject &request)
{
    const QJsonValue address = request.value(field::kAddress);
    if (!live_ || (!address.isUndefined() && address != QJsonValue(word::kSingle)))
        return false;
    const std::string sent = code + '\r';
    const auto row = LiveState::rowFor(sent);
    if (!row)
        return false;
    const auto age = live_->ageMs(*row);
    const double maxAge = request.value(field::kMaxAgeMs).toDouble(kLiveQueries[*row].maxAgeMs);
    if (!age || static_cast<double>(*age) > maxAge)
        return false;
    const LiveState::Value &value = live_->value(*row);
    QJsonObject object = replyObject(sent, value.reply, value.status, 0);
    object[field::kId] = id;
    object[field::kVia] = word::kViaOwner;
    object[field::kWritten] = false;
    object[field::kCached] = true;
    object[field::kAgeMs] = static_cast<double>(*age);
    reply(client, object);
    return true;
}

std::string OwnerService::clientName(int client) const
{
    const auto found = clients_.find(client);
    return found == clients_.end() ? "client " + std::to_string(client) : found->second.name;
}

bool OwnerService::awaitingReplies(int client) const
{
    const auto found = clients_.find(client);
    return found != clients_.end() && found->second.awaiting > 0;
}

void OwnerService::disconnect(int client)
{
    clients_.erase(client);
    line_.clientGone(client);
}

bool OwnerService::receive(int client, std::string_view bytes)
{
    auto found = clients_.find(client);
    if (found == clients_.end())
        return false;
    found->second.reader.append(bytes);
    for (;;) {
        // A request may drop its own client (a scene's): look it up anew.
        found = clients_.find(client);
        if (found == clients_.end())
            return false;
        const auto request = found->second.reader.next();
        if (!request)
            break;
        handle(client, *request);
    }
    if (found->second.reader.tooLong()) {
        error(client, QJsonValue(), std::string(error_text::kTooLong));
        return false;
    }
    return true;
}

void OwnerService::reply(int client, const QJsonObject &object)
{
    const auto found = clients_.find(client);
    if (found != clients_.end())
        found->second.send(jsonText(object));
}

void OwnerService::error(int client, const QJsonValue &id, const std::string &why)
{
    reply(client, errorReply(id, why));
}

void OwnerService::broadcast(const QJsonObject &event, bool subscribersOnly)
{
    const std::string text = jsonText(event);
    for (auto &[id, client] : clients_) {
        if (!subscribersOnly || client.subscribed)
            client.send(text);
    }
}

const std::array<OwnerService::VerbHandler, kVerbs.size()> OwnerService::kHandlers = {{
    {Verb::Command, &OwnerService::onTransaction},
    {Verb::Send, &OwnerService::onTransaction},
    {Verb::Lease, &OwnerService::onLease},
    {Verb::Release, &OwnerService::onRelease},
    {Verb::Hello, &OwnerService::onHello},
    {Verb::Subscribe, &OwnerService::onSubscribe},
    {Verb::Speed, &OwnerService::onSpeed},
    {Verb::State, &OwnerService::onState},
    {Verb::Scene, &OwnerService::onScene},
    {Verb::Scenes, &OwnerService::onScene},
    {Verb::SceneCancel, &OwnerService::onScene},
}};

void OwnerService::handle(int client, const std::string &text)
{
    std::string whyNot;
    const auto object = requestObject(text, whyNot);
    if (!object)
        return error(client, QJsonValue(), whyNot);
    Request request{client, {}, *object, {}, {}};
    request.id = request.fields.value(field::kId);
    std::optional<Verb> verb;
    for (auto key = request.fields.begin(); key != request.fields.end(); ++key) {
        if (const auto named = verbNamed(key.key())) {
            if (verb)
                return error(client, request.id,
                    "one request at a time: both \"" + std::string(verbName(*verb).data()) + "\" and \""
                        + key.key().toStdString() + "\"");
            verb = named;
        } else if (std::find(kRequestOptions.begin(), kRequestOptions.end(), key.key())
            == kRequestOptions.end()) {
            return error(client, request.id, "unknown field \"" + key.key().toStdString() + "\"");
        }
    }
    if (!request.fields.contains(field::kId))
        return error(client, request.id, "a request needs an \"id\"");
    if (!verb)
        return error(client, request.id,
            "no request: give command, send, lease, release, hello, subscribe, speed, state, scene, "
            "scenes or scene_cancel");
    request.verb = *verb;
    request.argument = request.fields.value(verbName(*verb));
    for (const VerbHandler &row : kHandlers) {
        if (row.verb == *verb)
            return (this->*row.handler)(request);
    }
}

void OwnerService::onScene(const Request &request)
{
    if (!sceneRequests_)
        return error(request.client, request.id, "this owner runs no scenes");
    sceneRequests_(request.client, request.fields,
        [this, client = request.client](const QJsonObject &object) { reply(client, object); });
}

void OwnerService::onHello(const Request &request)
{
    QJsonObject hello;
    hello[field::kId] = request.id;
    hello[field::kVersion] = QStringLiteral(PANEL_VERSION);
    hello[field::kLine] = qs(lineName_);
    hello[field::kOwner] = qs(owner_);
    hello[field::kClients] = static_cast<int>(clients_.size());
    hello[field::kPolling] = poller_ && poller_->running();
    hello[field::kPolls] = poller_ ? poller_->pollsSent() : 0;
    hello[field::kLineBusyMs] = std::round(line_.busyMs());
    hello[field::kPanelWritesHeld] = line_.panelWritesHeld();
    reply(request.client, hello);
}

void OwnerService::onState(const Request &request)
{
    if (!live_)
        return error(request.client, request.id, "this owner keeps no live state");
    QJsonObject state;
    state[field::kId] = request.id;
    state[field::kState] = live_->toJson();
    state[field::kChoices] = live_->choicesJson();
    state[field::kPolling] = poller_ && poller_->running();
    reply(request.client, state);
}

void OwnerService::onSpeed(const Request &request)
{
    const int rate = request.argument.toInt();
    if (rate != 19200 && rate != 9600)
        return error(request.client, request.id, "speed is 19200 or 9600");
    try {
        line_.setSettings(std::to_string(rate) + ",N,8,1"); // every client is told
    } catch (const ControlError &failure) {
        return error(request.client, request.id, failure.description());
    }
    QJsonObject done;
    done[field::kId] = request.id;
    done[field::kSpeed] = rate;
    reply(request.client, done);
}

void OwnerService::onSubscribe(const Request &request)
{
    const QString what = request.argument.toString();
    const bool toState = what == word::kState;
    if (what != word::kTraffic && (!toState || !live_))
        return error(request.client, request.id,
            live_ ? "subscribe takes \"traffic\" or \"state\"" : "subscribe takes \"traffic\"");
    Client &client = clients_[request.client];
    (toState ? client.watchesState : client.subscribed) = true;
    QJsonObject done;
    done[field::kId] = request.id;
    done[field::kSubscribed] = what;
    reply(request.client, done);
    if (toState)
        clients_[request.client].send(stateEvent()); // where things stand, to start from
}

std::optional<OwnerService::LineWait> OwnerService::lineWaitOf(const Request &request)
{
    const QJsonValue wait = request.fields.value(field::kWait);
    if (!wait.isUndefined() && !wait.isBool()) {
        error(request.client, request.id, "wait is true or false");
        return std::nullopt;
    }
    LineWait lineWait{wait.toBool(true), SharedLine::kDefaultLineWaitMs};
    if (request.fields.contains(field::kLineWaitMs)) {
        const QJsonValue limit = request.fields.value(field::kLineWaitMs);
        if (!limit.isDouble() || !(limit.toDouble() >= 0)
            || limit.toDouble() > SharedLine::kLongestLineWaitMs) {
            error(request.client, request.id, "line_wait_ms is a number of milliseconds, 0 to 600000");
            return std::nullopt;
        }
        lineWait.ms = static_cast<int>(limit.toDouble());
    }
    return lineWait;
}

void OwnerService::onRelease(const Request &request)
{
    // Checked as for any request that touches the line, though it does not wait.
    if (!lineWaitOf(request))
        return;
    line_.release(request.client);
    QJsonObject done;
    done[field::kId] = request.id;
    done[field::kReleased] = true;
    reply(request.client, done);
}

void OwnerService::onLease(const Request &request)
{
    const auto lineWait = lineWaitOf(request);
    if (!lineWait)
        return;
    // Checked as a double before it becomes a number of seconds: 1e300 has
    // no int.
    const double asked = request.argument.toDouble();
    if (!request.argument.isDouble() || !(asked >= 1))
        return error(
            request.client, request.id, "lease takes a number of seconds, 1 or more (60 at most are given)");
    const int seconds
        = asked >= SharedLine::kLongestLeaseS ? SharedLine::kLongestLeaseS : static_cast<int>(asked);
    Transaction lease;
    lease.client = request.client;
    lease.leaseS = seconds;
    lease.mayWait = lineWait->mayWait;
    lease.lineWaitMs = lineWait->ms;
    ++clients_[request.client].awaiting;
    lease.done = [this, client = request.client, id = request.id, seconds](const TransactionResult &result) {
        if (const auto found = clients_.find(client); found != clients_.end())
            --found->second.awaiting;
        if (result.error)
            return error(client, id, *result.error);
        QJsonObject done;
        done[field::kId] = id;
        done[field::kLeasedS] = seconds;
        reply(client, done);
    };
    line_.submit(std::move(lease));
}

std::optional<OwnerService::Asked> OwnerService::askedLine(const Request &request)
{
    Asked asked;
    if (request.verb == Verb::Command) {
        const NamedCommand *command = commandNamed(request.argument.toString().toStdString());
        if (!request.argument.isString() || !command) {
            error(request.client, request.id,
                "unknown command \"" + request.argument.toString().toStdString() + "\"");
            return std::nullopt;
        }
        asked.code = std::string(command->code);
        asked.watchMs = command->replyWatchMs;
    } else {
        if (!request.argument.isString()) {
            error(request.client, request.id, "send takes a line of text");
            return std::nullopt;
        }
        const std::string utf8 = request.argument.toString().toStdString();
        if (utf8.find_first_of("\r\n") != std::string::npos) {
            error(request.client, request.id,
                "the line to send holds a CR or LF: give one command line; the CR is added");
            return std::nullopt;
        }
        std::string unsendable;
        const auto bytes = lineBytesFromUtf8(utf8, unsendable);
        if (!bytes) {
            error(request.client, request.id,
                "\"" + unsendable + "\" cannot be sent: the line carries one byte per character (Latin-1)");
            return std::nullopt;
        }
        asked.code = *bytes;
    }
    if (request.fields.contains(field::kAddress)) {
        const auto found = addressPrefixFor(request.fields.value(field::kAddress).toString().toStdString());
        if (!found) {
            error(request.client, request.id, "address is single, all, 1, 2, 3 or 4");
            return std::nullopt;
        }
        asked.prefix = std::string(*found);
    }
    if (request.fields.contains(field::kTimeoutMs)) {
        const QJsonValue timeout = request.fields.value(field::kTimeoutMs);
        if (!timeout.isDouble() || timeout.toDouble() < 1 || timeout.toDouble() > kLongestWatchMs) {
            error(request.client, request.id, "timeout_ms is a number of milliseconds, 1 to 600000");
            return std::nullopt;
        }
        asked.watchMs = static_cast<int>(timeout.toDouble());
    }
    if (const QJsonValue maxAge = request.fields.value(field::kMaxAgeMs);
        !maxAge.isUndefined() && (!maxAge.isDouble() || maxAge.toDouble() < 0)) {
        error(request.client, request.id, "max_age_ms is a number of milliseconds, 0 or more");
        return std::nullopt;
    }
    return asked;
}

void OwnerService::onTransaction(const Request &request)
{
    const auto lineWait = lineWaitOf(request);
    if (!lineWait)
        return;
    const auto asked = askedLine(request);
    if (!asked)
        return;
    if (request.verb == Verb::Command
        && answeredFromCache(request.client, request.id, asked->code, request.fields))
        return;

    Transaction transaction;
    transaction.client = request.client;
    transaction.line = asked->prefix + asked->code + '\r';
    transaction.watchMs = asked->watchMs;
    transaction.expectsReply = asked->prefix != kBroadcastPrefix;
    transaction.mayWait = lineWait->mayWait;
    transaction.lineWaitMs = lineWait->ms;
    transaction.addressPrefix = asked->prefix;
    if (onClientSends)
        onClientSends(request.client, transaction.line);
    ++clients_[request.client].awaiting;
    transaction.done
        = [this, client = request.client, id = request.id, prefix = asked->prefix, watchMs = asked->watchMs,
              expects = transaction.expectsReply](const TransactionResult &result) {
              if (const auto found = clients_.find(client); found != clients_.end())
                  --found->second.awaiting;
              QJsonObject object = transactionReply(result, prefix, watchMs, expects);
              object[field::kId] = id;
              reply(client, object);
          };
    line_.submit(std::move(transaction));
}

QJsonObject OwnerService::transactionReply(
    const TransactionResult &result, const std::string &prefix, int watchMs, bool expects)
{
    QJsonObject object = replyObject(
        result.sent, result.reply, decodedStatus(result.sent, prefix, result.reply), result.elapsedMs);
    object[field::kVia] = word::kViaOwner;
    object[field::kWritten] = result.written;
    if (!expects)
        object[field::kReplyExpected] = false;
    if (result.error) {
        object[field::kError] = qs(*result.error);
    } else if (expects && result.complete && !result.fits) {
        object[field::kError]
            = qs(replyMisfit(result.sent, prefix, result.reply).value_or("the reply does not fit its query"));
    } else if (expects && !result.complete) {
        object[field::kError] = qs(
            result.reply.empty() ? noReplyError(watchMs) : cutOffError(watchMs, monitorLine(result.reply)));
    }
    return object;
}
