// SPDX-License-Identifier: GPL-3.0-or-later
// JSON through Qt's reader and writer only: a request is never picked apart
// by hand, and every byte of a reply reaches the client as a Latin-1
// character.

#include "owner/owner_service.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QSet>

#include <cmath>

#include "commands/command_handlers.h"
#include "commands/named_commands.h"
#include "core/monitor_text.h"
#include "owner/live_state.h"
#include "owner/poller.h"
#include "owner/reply_object.h"
#include "owner/shared_line.h"

namespace {

constexpr int kLongestWatchMs = 600000;
constexpr std::string_view kBroadcastPrefix = "AFFF";

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
        event[QStringLiteral("event")] = QStringLiteral("traffic");
        event[QStringLiteral("direction")] = sent ? QStringLiteral("sent") : QStringLiteral("received");
        if (!by.empty())
            event[QStringLiteral("by")] = qs(by);
        event[QStringLiteral("hex")] = qs(hexText(bytes, ""));
        event[QStringLiteral("monitor")] = qs(monitorLine(std::string(bytes)));
        broadcast(event, true);
    };
    line_.nameOf = [this](int client) {
        const auto found = clients_.find(client);
        return found == clients_.end() ? "client " + std::to_string(client) : found->second.name;
    };
    line_.onSettings = [this](const std::string &settings) {
        QJsonObject event;
        event[QStringLiteral("event")] = QStringLiteral("settings");
        event[QStringLiteral("settings")] = qs(settings);
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
    event[QStringLiteral("event")] = QStringLiteral("state");
    event[QStringLiteral("state")] = live_->toJson();
    event[QStringLiteral("choices")] = live_->choicesJson();
    return QJsonDocument(event).toJson(QJsonDocument::Compact).toStdString();
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
    const QJsonValue address = request.value(QStringLiteral("address"));
    if (!live_ || (!address.isUndefined() && address != QStringLiteral("single")))
        return false;
    const std::string sent = code + '\r';
    const auto row = LiveState::rowFor(sent);
    if (!row)
        return false;
    const auto age = live_->ageMs(*row);
    const double maxAge = request.value(QStringLiteral("max_age_ms")).toDouble(kLiveQueries[*row].maxAgeMs);
    if (!age || static_cast<double>(*age) > maxAge)
        return false;
    const LiveState::Value &value = live_->value(*row);
    QJsonObject object = replyObject(sent, value.reply, value.status, 0);
    object[QStringLiteral("id")] = id;
    object[QStringLiteral("via")] = QStringLiteral("owner");
    object[QStringLiteral("written")] = false;
    object[QStringLiteral("cached")] = true;
    object[QStringLiteral("age_ms")] = static_cast<double>(*age);
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
    found->second.pending.append(bytes);
    for (;;) {
        found = clients_.find(client);
        if (found == clients_.end())
            return false;
        std::string &pending = found->second.pending;
        const std::size_t end = pending.find('\n');
        if (end == std::string::npos)
            break;
        std::string request = pending.substr(0, end);
        pending.erase(0, end + 1);
        if (request.size() > kLineLimit) {
            error(client, QJsonValue(), "the request is longer than 64 KiB");
            return false;
        }
        handle(client, request);
    }
    if (found->second.pending.size() > kLineLimit) {
        error(client, QJsonValue(), "the request is longer than 64 KiB");
        return false;
    }
    return true;
}

void OwnerService::reply(int client, const QJsonObject &object)
{
    const auto found = clients_.find(client);
    if (found != clients_.end())
        found->second.send(QJsonDocument(object).toJson(QJsonDocument::Compact).toStdString());
}

void OwnerService::error(int client, const QJsonValue &id, const std::string &why)
{
    QJsonObject object;
    object[QStringLiteral("id")] = id;
    object[QStringLiteral("error")] = qs(why);
    reply(client, object);
}

void OwnerService::broadcast(const QJsonObject &event, bool subscribersOnly)
{
    const std::string text = QJsonDocument(event).toJson(QJsonDocument::Compact).toStdString();
    for (auto &[id, client] : clients_) {
        if (!subscribersOnly || client.subscribed)
            client.send(text);
    }
}

void OwnerService::handle(int client, const std::string &text)
{
    QJsonParseError parseError{};
    const QJsonDocument document = QJsonDocument::fromJson(QByteArray::fromStdString(text), &parseError);
    if (!document.isObject())
        return error(client, QJsonValue(),
            parseError.error != QJsonParseError::NoError
                ? "malformed JSON: " + parseError.errorString().toStdString()
                : std::string("a request is a JSON object"));
    const QJsonObject request = document.object();
    const QJsonValue id = request.value(QStringLiteral("id"));
    static const QSet<QString> kVerbs = {QStringLiteral("command"), QStringLiteral("send"),
        QStringLiteral("lease"), QStringLiteral("release"), QStringLiteral("hello"),
        QStringLiteral("subscribe"), QStringLiteral("speed"), QStringLiteral("state"),
        QStringLiteral("scene"), QStringLiteral("scenes"), QStringLiteral("scene_cancel")};
    static const QSet<QString> kOptions
        = {QStringLiteral("id"), QStringLiteral("address"), QStringLiteral("timeout_ms"),
            QStringLiteral("wait"), QStringLiteral("max_age_ms"), QStringLiteral("line_wait_ms")};
    QString verb;
    for (auto key = request.begin(); key != request.end(); ++key) {
        if (kVerbs.contains(key.key())) {
            if (!verb.isEmpty())
                return error(client, id,
                    "one request at a time: both \"" + verb.toStdString() + "\" and \""
                        + key.key().toStdString() + "\"");
            verb = key.key();
        } else if (!kOptions.contains(key.key())) {
            return error(client, id, "unknown field \"" + key.key().toStdString() + "\"");
        }
    }
    if (!request.contains(QStringLiteral("id")))
        return error(client, id, "a request needs an \"id\"");
    if (verb.isEmpty())
        return error(client, id,
            "no request: give command, send, lease, release, hello, subscribe, speed, state, scene, "
            "scenes or scene_cancel");
    const QJsonValue argument = request.value(verb);

    if (verb.startsWith(QStringLiteral("scene"))) {
        if (!sceneRequests_)
            return error(client, id, "this owner runs no scenes");
        return sceneRequests_(
            client, request, [this, client](const QJsonObject &object) { reply(client, object); });
    }

    if (verb == QStringLiteral("hello")) {
        QJsonObject hello;
        hello[QStringLiteral("id")] = id;
        hello[QStringLiteral("version")] = QStringLiteral(PANEL_VERSION);
        hello[QStringLiteral("line")] = qs(lineName_);
        hello[QStringLiteral("owner")] = qs(owner_);
        hello[QStringLiteral("clients")] = static_cast<int>(clients_.size());
        hello[QStringLiteral("polling")] = poller_ && poller_->running();
        hello[QStringLiteral("polls")] = poller_ ? poller_->pollsSent() : 0;
        hello[QStringLiteral("line_busy_ms")] = std::round(line_.busyMs());
        hello[QStringLiteral("panel_writes_held")] = line_.panelWritesHeld();
        return reply(client, hello);
    }
    if (verb == QStringLiteral("state")) {
        if (!live_)
            return error(client, id, "this owner keeps no live state");
        QJsonObject state;
        state[QStringLiteral("id")] = id;
        state[QStringLiteral("state")] = live_->toJson();
        state[QStringLiteral("choices")] = live_->choicesJson();
        state[QStringLiteral("polling")] = poller_ && poller_->running();
        return reply(client, state);
    }
    if (verb == QStringLiteral("speed")) {
        const int rate = argument.toInt();
        if (rate != 19200 && rate != 9600)
            return error(client, id, "speed is 19200 or 9600");
        try {
            line_.setSettings(std::to_string(rate) + ",N,8,1"); // every client is told
        } catch (const ControlError &failure) {
            return error(client, id, failure.description());
        }
        QJsonObject done;
        done[QStringLiteral("id")] = id;
        done[QStringLiteral("speed")] = rate;
        return reply(client, done);
    }
    if (verb == QStringLiteral("subscribe")) {
        const QString what = argument.toString();
        if (what != QStringLiteral("traffic") && (what != QStringLiteral("state") || !live_))
            return error(client, id,
                live_ ? "subscribe takes \"traffic\" or \"state\"" : "subscribe takes \"traffic\"");
        (what == QStringLiteral("state") ? clients_[client].watchesState : clients_[client].subscribed)
            = true;
        QJsonObject done;
        done[QStringLiteral("id")] = id;
        done[QStringLiteral("subscribed")] = what;
        reply(client, done);
        if (what == QStringLiteral("state"))
            clients_[client].send(stateEvent()); // where things stand, to start from
        return;
    }
    // How long the request may wait for the line, and whether at all.
    const QJsonValue wait = request.value(QStringLiteral("wait"));
    if (!wait.isUndefined() && !wait.isBool())
        return error(client, id, "wait is true or false");
    int lineWaitMs = SharedLine::kDefaultLineWaitMs;
    if (request.contains(QStringLiteral("line_wait_ms"))) {
        const QJsonValue limit = request.value(QStringLiteral("line_wait_ms"));
        if (!limit.isDouble() || !(limit.toDouble() >= 0)
            || limit.toDouble() > SharedLine::kLongestLineWaitMs)
            return error(client, id, "line_wait_ms is a number of milliseconds, 0 to 600000");
        lineWaitMs = static_cast<int>(limit.toDouble());
    }

    if (verb == QStringLiteral("lease") || verb == QStringLiteral("release")) {
        if (verb == QStringLiteral("release")) {
            line_.release(client);
            QJsonObject done;
            done[QStringLiteral("id")] = id;
            done[QStringLiteral("released")] = true;
            return reply(client, done);
        }
        // Checked as a double before it becomes a number of seconds: 1e300
        // has no int.
        const double asked = argument.toDouble();
        if (!argument.isDouble() || !(asked >= 1))
            return error(client, id, "lease takes a number of seconds, 1 or more (60 at most are given)");
        const int seconds
            = asked >= SharedLine::kLongestLeaseS ? SharedLine::kLongestLeaseS : static_cast<int>(asked);
        Transaction lease;
        lease.client = client;
        lease.leaseS = seconds;
        lease.mayWait = wait.toBool(true);
        lease.lineWaitMs = lineWaitMs;
        ++clients_[client].awaiting;
        lease.done = [this, client, id, seconds](const TransactionResult &result) {
            if (const auto found = clients_.find(client); found != clients_.end())
                --found->second.awaiting;
            if (result.error)
                return error(client, id, *result.error);
            QJsonObject done;
            done[QStringLiteral("id")] = id;
            done[QStringLiteral("leased_s")] = seconds;
            reply(client, done);
        };
        line_.submit(std::move(lease));
        return;
    }

    // A command or a line: one transaction.
    std::string code;
    int watchMs = 2000; // as the SEND button's
    if (verb == QStringLiteral("command")) {
        const NamedCommand *command = commandNamed(argument.toString().toStdString());
        if (!argument.isString() || !command)
            return error(client, id, "unknown command \"" + argument.toString().toStdString() + "\"");
        code = std::string(command->code);
        watchMs = command->replyWatchMs;
    } else {
        if (!argument.isString())
            return error(client, id, "send takes a line of text");
        const std::string utf8 = argument.toString().toStdString();
        if (utf8.find_first_of("\r\n") != std::string::npos)
            return error(
                client, id, "the line to send holds a CR or LF: give one command line; the CR is added");
        std::string unsendable;
        const auto bytes = lineBytesFromUtf8(utf8, unsendable);
        if (!bytes)
            return error(client, id,
                "\"" + unsendable + "\" cannot be sent: the line carries one byte per character (Latin-1)");
        code = *bytes;
    }
    std::string prefix;
    if (request.contains(QStringLiteral("address"))) {
        const auto found
            = addressPrefixFor(request.value(QStringLiteral("address")).toString().toStdString());
        if (!found)
            return error(client, id, "address is single, all, 1, 2, 3 or 4");
        prefix = std::string(*found);
    }
    if (request.contains(QStringLiteral("timeout_ms"))) {
        const QJsonValue timeout = request.value(QStringLiteral("timeout_ms"));
        if (!timeout.isDouble() || timeout.toDouble() < 1 || timeout.toDouble() > kLongestWatchMs)
            return error(client, id, "timeout_ms is a number of milliseconds, 1 to 600000");
        watchMs = static_cast<int>(timeout.toDouble());
    }
    if (const QJsonValue maxAge = request.value(QStringLiteral("max_age_ms"));
        !maxAge.isUndefined() && (!maxAge.isDouble() || maxAge.toDouble() < 0))
        return error(client, id, "max_age_ms is a number of milliseconds, 0 or more");
    if (verb == QStringLiteral("command") && answeredFromCache(client, id, code, request))
        return;

    Transaction transaction;
    transaction.client = client;
    transaction.line = prefix + code + '\r';
    transaction.watchMs = watchMs;
    transaction.expectsReply = prefix != kBroadcastPrefix;
    transaction.mayWait = wait.toBool(true);
    transaction.lineWaitMs = lineWaitMs;
    transaction.addressPrefix = prefix;
    if (onClientSends)
        onClientSends(client, transaction.line);
    ++clients_[client].awaiting;
    transaction.done = [this, client, id, prefix, watchMs, expects = transaction.expectsReply](
                           const TransactionResult &result) {
        if (const auto found = clients_.find(client); found != clients_.end())
            --found->second.awaiting;
        QJsonObject object = replyObject(
            result.sent, result.reply, decodedStatus(result.sent, prefix, result.reply), result.elapsedMs);
        object[QStringLiteral("id")] = id;
        object[QStringLiteral("via")] = QStringLiteral("owner");
        object[QStringLiteral("written")] = result.written;
        if (!expects)
            object[QStringLiteral("reply_expected")] = false;
        if (result.error) {
            object[QStringLiteral("error")] = qs(*result.error);
        } else if (expects && result.complete && !result.fits) {
            object[QStringLiteral("error")] = qs(
                replyMisfit(result.sent, prefix, result.reply).value_or("the reply does not fit its query"));
        } else if (expects && !result.complete) {
            object[QStringLiteral("error")]
                = qs(result.reply.empty() ? "no reply within " + std::to_string(watchMs) + " ms"
                                          : "the reply was cut off: no CR or ACK within "
                            + std::to_string(watchMs) + " ms (arrived: " + monitorLine(result.reply) + ")");
        }
        reply(client, object);
    };
    line_.submit(std::move(transaction));
}
