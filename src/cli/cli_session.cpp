// SPDX-License-Identifier: GPL-3.0-or-later
// The reply is complete at its CR or ACK: the projector's replies end so, and
// waiting out the whole watch would make every call as slow as the slowest.
// Only a whole reply is decoded or called a reply: a status read from half a
// reply, or from nothing, would be a value the projector never gave.

#include "cli/cli_session.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QJsonObject>
#include <QLocalSocket>
#include <QThread>
#include <QStringDecoder>
#include <QTimer>

#include <algorithm>
#include <cstdio>
#include <cmath>
#include <optional>
#include <ostream>

#include "commands/command_handlers.h"
#include "commands/named_commands.h"
#include "core/monitor_text.h"
#include "core/reply_decoders.h"
#include "core/serial_control.h"
#include "panel/live_lights.h"
#include "owner/live_state.h"
#include "owner/reply_object.h"
#include "protocol/json_lines.h"
#include "protocol/owner_protocol.h"
#include "serial/traffic_log.h"

namespace {

constexpr int kConnectWaitMs = 6000; // past the network line's own 5 s
constexpr int kWaitDefaultMs = 120000;
constexpr int kWaitRoundMs = 1000;
// After a reply that was cut off (or did not fit its query), the port is
// kept until no byte has come for this long, so that a tail still on its way
// cannot reach the next call as its reply; a line that never falls quiet is
// let go after kLongestDrainMs. The owner waits the same way.
constexpr int kLineQuietMs = 300;
constexpr int kLongestDrainMs = 5000;
// The command a wait asks, round after round.
constexpr std::string_view kStatusCommand = "status";

class Call {
public:
    explicit Call(SerialControl &line) : line_(line)
    {
        line_.setOnComm([this] {
            const std::int16_t event = line_.commEvent();
            if (event == kCommEventReceive) {
                const std::string arrived = line_.input();
                reply_ += arrived;
                arrivals_ += arrived.size();
            } else if (event == kCommEventLineLost)
                lost_ = line_.lostLineDescription();
            loop_.quit();
        });
    }

    // Runs the event loop until `done` or `ms` have passed.
    template <typename Done> bool runUntil(Done done, qint64 ms)
    {
        if (ms <= 0)
            return done();
        QTimer timeout;
        timeout.setSingleShot(true);
        timeout.setTimerType(Qt::PreciseTimer); // a coarse timer may end the watch early
        QObject::connect(&timeout, &QTimer::timeout, &loop_, &QEventLoop::quit);
        timeout.start(static_cast<int>(ms));
        while (!done() && timeout.isActive() && !lost_)
            loop_.exec();
        return done();
    }

    // Opens the port; on failure the reason, for exit status 3. A port
    // still open from the command before in a sequence is used as it is.
    std::optional<std::string> open(const std::string &settings)
    {
        if (line_.portOpen() && line_.connected())
            return std::nullopt;
        try {
            line_.setCommPort(1);
            line_.setSettings(settings);
            line_.setPortOpen(true);
        } catch (const ControlError &error) {
            return error.description();
        }
        if (!runUntil([this] { return line_.connected(); }, kConnectWaitMs))
            return lost_ ? *lost_ : line_.portLabel() + ": no answer within 5 s";
        return std::nullopt;
    }

    // Sends `text` and reads the reply until it ends or `watchMs` pass;
    // true for a whole reply.
    bool exchange(const std::string &text, qint64 watchMs)
    {
        reply_.clear();
        clock_.start();
        line_.setOutput(text);
        const bool whole = runUntil([this] { return replyEnded(reply_); }, watchMs);
        elapsed_ = static_cast<double>(clock_.nsecsElapsed()) / 1e6;
        return whole;
    }

    // After a reply cut off or run together with another: takes in what
    // still comes until the line falls quiet, so that it is not left for
    // whoever uses the line next.
    void waitForQuiet()
    {
        const std::string kept = reply_;
        QElapsedTimer draining;
        draining.start();
        for (;;) {
            const std::size_t before = arrivals_;
            runUntil([&] { return arrivals_ != before; }, kLineQuietMs);
            if (arrivals_ == before || lost_ || draining.elapsed() >= kLongestDrainMs)
                break;
        }
        reply_ = kept;
    }

    // Lets `ms` pass with the event loop running (nothing if not positive).
    void pause(qint64 ms)
    {
        runUntil([] { return false; }, ms);
    }

    const std::string &reply() const { return reply_; }
    double elapsed() const { return elapsed_; }
    const std::optional<std::string> &lost() const { return lost_; }

private:
    SerialControl &line_;
    QEventLoop loop_;
    QElapsedTimer clock_;
    std::string reply_;
    std::optional<std::string> lost_;
    std::size_t arrivals_ = 0; // bytes taken in, ever
    double elapsed_ = 0;
};

// One connection to the owner for the whole process: a lease belongs to the
// connection that took it, so the commands of a sequence share one.
QLocalSocket &ownerConnection(const std::string &socket)
{
    // Made once and kept to the end: a socket must not outlive the
    // application object, as a static one would.
    static QLocalSocket *const owner = new QLocalSocket;
    if (owner->state() != QLocalSocket::ConnectedState) {
        owner->connectToServer(QString::fromStdString(socket));
        owner->waitForConnected(1000);
    }
    return *owner;
}

// How long past its own limits a call waits for its owner's answer: the
// owner keeps the limits; this only ends a call whose owner hangs.
constexpr int kOwnerSlackMs = 5000;

// The owner of the line at `socket`, asked `request`: its reply; nothing
// when no owner answers there (`answered` false: the caller then opens the
// port itself), or when the owner went away or gave no answer within
// `waitMs` (`why` says which).
std::optional<QJsonObject> askOwner(
    const std::string &socket, QJsonObject request, int waitMs, bool &answered, std::string &why)
{
    QLocalSocket &owner = ownerConnection(socket);
    answered = owner.state() == QLocalSocket::ConnectedState;
    if (!answered)
        return std::nullopt;
    static int nextId = 1;
    const int id = nextId++;
    request[field::kId] = id;
    owner.write(jsonLine(request));
    owner.flush();
    QElapsedTimer waited;
    waited.start();
    // Its replies are ours and bounded; an event between them may be long.
    JsonLineReader lines(std::size_t(1) << 24);
    while (waited.elapsed() < waitMs) {
        if (!owner.waitForReadyRead(static_cast<int>(std::max<qint64>(1, waitMs - waited.elapsed())))
            && owner.state() != QLocalSocket::ConnectedState) {
            why = "the line's owner went away before it answered";
            return std::nullopt;
        }
        lines.append(owner.readAll());
        while (const auto line = lines.next()) {
            const QJsonObject reply = jsonObject(*line);
            if (reply.value(field::kId).toInt() == id)
                return reply;
        }
    }
    why = "no answer came from the line's owner within " + std::to_string(waitMs) + " ms";
    return std::nullopt;
}

// What one call did, for the plain and the JSON output alike: the reply's
// object as --json prints it (the owner's own, less what only the socket
// needs), and how the call ends.
struct Outcome {
    QJsonObject object;
    std::optional<std::string> error;
    int exitStatus = 0;
};

// The object of a call that has no reply to show: nothing arrived.
QJsonObject emptyReply(const std::string &sent, bool replyExpected, QLatin1String via)
{
    QJsonObject object = replyObject(sent, {}, std::nullopt, 0);
    object[field::kVia] = via;
    if (!replyExpected)
        object[field::kReplyExpected] = false;
    return object;
}

void report(const CliRequest &request, Outcome outcome, std::ostream &out, std::ostream &err)
{
    if (request.json) {
        if (outcome.error)
            outcome.object[field::kError] = QString::fromStdString(*outcome.error);
        else
            outcome.object.remove(field::kError);
        out << jsonText(outcome.object) << '\n';
    } else if (outcome.exitStatus == 0 && outcome.object.value(field::kReplyExpected).toBool(true)) {
        const QJsonValue status = outcome.object.value(field::kStatus);
        out << (status.isString() ? status.toString().toStdString()
                                  : outcome.object.value(field::kMonitor).toString().toLatin1().toStdString())
            << '\n';
    }
    // A result a line as it comes, also into a pipe: a sequence that is
    // ended early has told what it did.
    out.flush();
    if (outcome.error)
        err << "qv550-cli: " << *outcome.error << std::endl;
}

// The status a reply's object reads, if it reads one.
std::optional<std::string> statusOf(const QJsonObject &object)
{
    const QJsonValue status = object.value(field::kStatus);
    return status.isString() ? std::optional<std::string>(status.toString().toStdString()) : std::nullopt;
}

// How a call that failed ends: its exit status, and why.
struct Failure {
    int exitStatus = 1;
    std::string why;
};

// Whoever carries the call: the line's owner, or the port opened here.
// One round asks once; the wait asks round after round through the same.
class Carrier {
public:
    virtual ~Carrier() = default;
    // Sends the call's line once, watching `watchMs` for the reply, and
    // waiting at most `lineWaitMs` for the line; the reply's object lands in
    // `object`. A failure that ends the call at once (the owner gone, the
    // line lost or down).
    virtual std::optional<Failure> round(qint64 watchMs, qint64 lineWaitMs, QJsonObject &object) = 0;
    // Lets `ms` pass (nothing if not positive).
    virtual void pause(qint64 ms) = 0;
    // Where the reply comes from, for messages.
    virtual std::string portLabel() const = 0;
};

// Asks for the status until it reads request.argument, a round a second,
// for --timeout at most (the whole wait's limit, the line's too).
std::optional<Failure> waitForStatus(const CliRequest &request, Carrier &carrier, QJsonObject &object)
{
    const qint64 limit = request.timeoutMs.value_or(kWaitDefaultMs);
    QElapsedTimer total;
    total.start();
    bool everReplied = false;
    while (total.elapsed() < limit) {
        QElapsedTimer round;
        round.start();
        const qint64 left = std::max<qint64>(1, limit - total.elapsed());
        if (auto failure = carrier.round(
                std::min<qint64>(kWaitRoundMs, left), std::min<qint64>(request.lineWaitMs, left), object))
            return failure;
        everReplied = everReplied || object.value(field::kComplete).toBool();
        if (statusOf(object) == request.argument)
            return std::nullopt;
        if (total.elapsed() + 1 >= limit)
            break;
        carrier.pause(std::min<qint64>(kWaitRoundMs - round.elapsed(), limit - total.elapsed()));
    }
    const std::string waited = std::to_string(total.elapsed()) + " ms";
    if (!everReplied)
        return Failure{
            1, "no reply ever came from the projector on " + carrier.portLabel() + " in " + waited};
    const auto last = statusOf(object);
    return Failure{1,
        "the status did not become \"" + request.argument + "\" in " + waited
            + (last ? " (last: \"" + *last + "\")" : std::string())};
}

// Whether the projector's power status is known now: in stand-by the other
// values are not asked, so they may well be unknown.
bool powerKnown(const QJsonObject &state)
{
    return stateEntry(state, kStatusCommand).value(field::kStatus).isString();
}

} // namespace

int runCliState(const CliRequest &request, SerialControl &line, std::ostream &out, std::ostream &err,
    const std::string &ownerSocket)
{
    QJsonObject state;
    bool answered = false;
    if (!ownerSocket.empty()) {
        QJsonObject ask;
        ask[field::kState] = true;
        std::string why;
        const auto got = askOwner(ownerSocket, ask, 5000, answered, why);
        if (answered) {
            if (!got || got->contains(field::kError)) {
                err << "qv550-cli: " << (got ? got->value(field::kError).toString().toStdString() : why)
                    << '\n';
                return 1;
            }
            state = got->value(field::kState).toObject();
        }
    }
    if (!answered) {
        // Nobody keeps it: the nine queries, once, into a state of our own.
        QElapsedTimer clock;
        clock.start();
        LiveState live([&clock] { return clock.elapsed(); });
        Call call(line);
        if (const auto failure = call.open(request.settings)) {
            err << "qv550-cli: " << *failure << '\n';
            return 3;
        }
        try {
            for (const LiveQuery &query : kLiveQueries) {
                const std::string sent = std::string(query.code) + '\r';
                const bool whole = call.exchange(sent, request.timeoutMs.value_or(500));
                if (call.lost())
                    break;
                live.exchanged(sent, call.reply(), whole);
                if (!whole && call.reply().empty()) {
                    // Silent: the other eight would only wait out their watches too.
                    err << "qv550-cli: no reply from the projector on " << line.portLabel() << '\n';
                    live.unknownFromNow();
                    break;
                }
                if (!whole || replyMisfit(sent, "", call.reply()))
                    call.waitForQuiet();
            }
        } catch (const ControlError &error) {
            err << "qv550-cli: " << error.description() << '\n';
        }
        line.setPortOpen(false);
        if (call.lost())
            err << "qv550-cli: " << *call.lost() << '\n';
        state = live.toJson();
    }
    if (request.json)
        out << jsonText(state) << '\n';
    else
        out << liveStateText(state) << '\n';
    return powerKnown(state) ? 0 : 1;
}

void listCommands(std::ostream &out)
{
    for (const NamedCommand &command : namedCommands()) {
        out << command.name << "  " << command.code << "  " << command.caption << "  " << command.group
            << '\n';
    }
}

bool ownerReachable(const std::string &socket)
{
    return !socket.empty() && ownerConnection(socket).state() == QLocalSocket::ConnectedState;
}

std::optional<std::string> leaseFromOwner(const std::string &socket, int seconds, int lineWaitMs)
{
    bool answered = false;
    QJsonObject ask;
    ask[field::kLease] = seconds;
    ask[field::kLineWaitMs] = lineWaitMs;
    std::string why;
    const auto got = askOwner(socket, ask, lineWaitMs + kOwnerSlackMs, answered, why);
    if (!answered)
        return std::nullopt;
    if (!got)
        return why;
    if (got->contains(field::kError))
        return got->value(field::kError).toString().toStdString();
    return std::nullopt;
}

void releaseOwner(const std::string &socket)
{
    bool answered = false;
    QJsonObject ask;
    ask[field::kRelease] = true;
    std::string why;
    askOwner(socket, ask, 5000, answered, why);
}

namespace {

// The line's owner carries the call, one transaction among others'.
class OwnerCarrier : public Carrier {
public:
    OwnerCarrier(const CliRequest &request, std::string socket, std::string sent, std::string label)
        : socket_(std::move(socket)), sent_(std::move(sent)), label_(std::move(label)),
          replyExpected_(request.addressPrefix != kBroadcastPrefix)
    {
        if (request.verb == CliRequest::Send)
            ask_[field::kSend] = QString::fromStdString(request.argument);
        else
            ask_[field::kCommand] = QString::fromStdString(
                request.verb == CliRequest::Wait ? std::string(kStatusCommand) : request.command);
        ask_[field::kAddress] = QString::fromStdString(request.address);
    }

    std::optional<Failure> round(qint64 watchMs, qint64 lineWaitMs, QJsonObject &object) override
    {
        ask_[field::kTimeoutMs] = static_cast<int>(watchMs);
        ask_[field::kLineWaitMs] = static_cast<int>(lineWaitMs);
        // The owner holds the call behind others' for the line's limit at most.
        bool answered = false;
        std::string why;
        const auto got
            = askOwner(socket_, ask_, static_cast<int>(watchMs + lineWaitMs) + kOwnerSlackMs, answered, why);
        if (!answered)
            why = "the line's owner went away"; // between two rounds of a wait
        if (!got) {
            // Nothing of an earlier round is this call's result.
            object = emptyReply(sent_, replyExpected_, word::kViaOwner);
            return Failure{1, why};
        }
        // The owner's object as it is: only its id and whether it wrote are
        // the socket's own.
        object = *got;
        object.remove(field::kId);
        object.remove(field::kWritten);
        // A value the owner read moments ago is an answer, though nothing was
        // written for it.
        const bool written = got->value(field::kWritten).toBool() || got->value(field::kCached).toBool();
        const QString error = got->value(field::kError).toString();
        if (written)
            return std::nullopt;
        // Exit 3 only for a line its owner could not open; a line that stayed
        // busy past the call's limit is a failed call.
        return Failure{errorIs(error, error_text::kLineDown) ? 3 : 1, error.toStdString()};
    }

    void pause(qint64 ms) override
    {
        if (ms > 0)
            QThread::msleep(static_cast<unsigned long>(ms));
    }

    std::string portLabel() const override { return label_; }

private:
    std::string socket_;
    std::string sent_;
    std::string label_;
    bool replyExpected_;
    QJsonObject ask_;
};

// The port opened here carries the call.
class PortCarrier : public Carrier {
public:
    PortCarrier(Call &call, SerialControl &line, const CliRequest &request, std::string sent, bool drain)
        : call_(call), line_(line), prefix_(request.addressPrefix), sent_(std::move(sent)), drain_(drain)
    { }

    std::optional<Failure> round(qint64 watchMs, qint64, QJsonObject &object) override
    {
        const bool whole = call_.exchange(sent_, watchMs);
        const std::string &reply = call_.reply();
        object = replyObject(sent_, reply, decodedStatus(sent_, prefix_, reply), call_.elapsed());
        object[field::kVia] = word::kViaPort;
        const auto misfit = whole ? replyMisfit(sent_, prefix_, reply) : std::nullopt;
        // A single call keeps the port until a tail still on its way has
        // come, so that it cannot reach the next call as its reply.
        if (drain_ && (!whole || misfit) && !call_.lost())
            call_.waitForQuiet();
        if (call_.lost())
            return Failure{1, *call_.lost()};
        const int watch = static_cast<int>(watchMs);
        if (misfit)
            object[field::kError] = QString::fromStdString(*misfit);
        else if (!whole && reply.empty())
            object[field::kError]
                = QString::fromStdString(noReplyError(watch) + " from " + line_.portLabel());
        else if (!whole)
            object[field::kError] = QString::fromStdString(cutOffError(watch, monitorLine(reply)));
        return std::nullopt;
    }

    void pause(qint64 ms) override { call_.pause(ms); }
    std::string portLabel() const override { return line_.portLabel(); }

private:
    Call &call_;
    SerialControl &line_;
    std::string prefix_;
    std::string sent_;
    bool drain_;
};

// The line a request sends and the watch for its reply; exit status 2 and
// why when it cannot be sent at all.
struct AskedLine {
    std::string code;
    int watchMs = 2000; // as the SEND button's
};

std::optional<AskedLine> lineFor(const CliRequest &request, std::ostream &err)
{
    AskedLine line;
    if (request.verb == CliRequest::Command) {
        const NamedCommand *command = commandNamed(request.command);
        line.code = std::string(command->code);
        line.watchMs = command->replyWatchMs;
    } else if (request.verb == CliRequest::Send) {
        // Decoding it is what finds a malformed sequence; the text is not kept.
        QStringDecoder utf8(QStringDecoder::Utf8);
        [[maybe_unused]] const QString decoded
            = utf8(QByteArrayView(request.argument.data(), static_cast<qsizetype>(request.argument.size())));
        if (utf8.hasError()) {
            err << "qv550-cli: the line to send is not valid UTF-8 text\n";
            return std::nullopt;
        }
        std::string unsendable;
        const auto bytes = lineBytesFromUtf8(request.argument, unsendable);
        if (!bytes) {
            err << "qv550-cli: \"" << unsendable
                << "\" cannot be sent on the serial line, which carries one byte per character (Latin-1, up "
                   "to U+00FF)\n";
            return std::nullopt;
        }
        line.code = *bytes;
    } else if (request.verb == CliRequest::Wait) {
        line.code = std::string(commandNamed(kStatusCommand)->code);
        line.watchMs = kWaitRoundMs;
    }
    if (request.timeoutMs && request.verb != CliRequest::Wait)
        line.watchMs = *request.timeoutMs;
    return line;
}

// One call, or a wait, through `carrier`: how it ended.
std::optional<Failure> carry(const CliRequest &request, Carrier &carrier, int watchMs, QJsonObject &object)
{
    if (request.verb == CliRequest::Wait)
        return waitForStatus(request, carrier, object);
    if (auto failure = carrier.round(watchMs, request.lineWaitMs, object))
        return failure;
    if (const QJsonValue error = object.value(field::kError); error.isString())
        return Failure{1, error.toString().toStdString()};
    return std::nullopt;
}

} // namespace

int runCliRequest(const CliRequest &request, SerialControl &line, std::ostream &out, std::ostream &err,
    TrafficLog *log, const std::string &ownerSocket, bool keepOpen)
{
    const auto asked = lineFor(request, err);
    if (!asked)
        return 2;
    const std::string sent = request.addressPrefix + asked->code + '\r';
    const bool replyExpected = request.addressPrefix != kBroadcastPrefix;
    const auto finish = [&](QJsonObject object, const std::optional<Failure> &failure) {
        Outcome outcome{std::move(object), std::nullopt, failure ? failure->exitStatus : 0};
        if (failure)
            outcome.error = failure->why;
        if (log && outcome.error)
            log->note(outcome.exitStatus == 3 ? "not-opened" : "failed", *outcome.error);
        report(request, std::move(outcome), out, err);
        return failure ? failure->exitStatus : 0;
    };

    if (ownerReachable(ownerSocket)) {
        OwnerCarrier owner(request, ownerSocket, sent, line.portLabel());
        QJsonObject object;
        const auto failure = carry(request, owner, asked->watchMs, object);
        return finish(std::move(object), failure);
    }

    QJsonObject object = emptyReply(sent, replyExpected, word::kViaPort);
    Call call(line);
    if (const auto failure = call.open(request.settings))
        return finish(std::move(object), Failure{3, *failure});
    // The port is held for the call only (or the sequence); a loss on the way is told.
    const auto close = [&] {
        if (!keepOpen || call.lost())
            line.setPortOpen(false);
    };
    std::optional<Failure> failure;
    try {
        if (!replyExpected) {
            line.setOutput(sent);
        } else {
            PortCarrier port(call, line, request, sent, request.verb != CliRequest::Wait);
            failure = carry(request, port, asked->watchMs, object);
        }
    } catch (const ControlError &error) {
        failure = Failure{1, error.description()};
    }
    close();
    return finish(std::move(object), failure);
}
