// SPDX-License-Identifier: GPL-3.0-or-later
// The reply is complete at its CR or ACK: the projector's replies end so, and
// waiting out the whole watch would make every call as slow as the slowest.
// Only a whole reply is decoded or called a reply: a status read from half a
// reply, or from nothing, would be a value the projector never gave.

#include "cli/cli_session.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QJsonDocument>
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
// Every projector obeys a command to all and none answers it.
constexpr std::string_view kBroadcastPrefix = "AFFF";

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
    request[QStringLiteral("id")] = id;
    owner.write(QJsonDocument(request).toJson(QJsonDocument::Compact) + '\n');
    owner.flush();
    QElapsedTimer waited;
    waited.start();
    QByteArray pending;
    while (waited.elapsed() < waitMs) {
        if (!owner.waitForReadyRead(static_cast<int>(std::max<qint64>(1, waitMs - waited.elapsed())))
            && owner.state() != QLocalSocket::ConnectedState) {
            why = "the line's owner went away before it answered";
            return std::nullopt;
        }
        pending += owner.readAll();
        qsizetype end;
        while ((end = pending.indexOf('\n')) >= 0) {
            const QJsonObject reply = QJsonDocument::fromJson(pending.left(end)).object();
            pending.remove(0, end + 1);
            if (reply.value(QStringLiteral("id")).toInt() == id)
                return reply;
        }
    }
    why = "no answer came from the line's owner within " + std::to_string(waitMs) + " ms";
    return std::nullopt;
}

// What one call did, for the plain and the JSON output alike.
struct Outcome {
    std::string sent;
    std::string reply;
    std::optional<std::string> status;
    double elapsedMs = 0;
    bool replyExpected = true;
    std::optional<std::string> error;
    int exitStatus = 0;
    bool viaOwner = false;
    std::optional<double> cachedAgeMs; // answered from the owner's live state
};

void report(const CliRequest &request, const Outcome &outcome, std::ostream &out, std::ostream &err)
{
    if (request.json) {
        QJsonObject object = replyObject(outcome.sent, outcome.reply, outcome.status, outcome.elapsedMs);
        object[QStringLiteral("via")] = outcome.viaOwner ? QStringLiteral("owner") : QStringLiteral("port");
        if (!outcome.replyExpected)
            object[QStringLiteral("reply_expected")] = false;
        if (outcome.cachedAgeMs) {
            object[QStringLiteral("cached")] = true;
            object[QStringLiteral("age_ms")] = *outcome.cachedAgeMs;
        }
        if (outcome.error)
            object[QStringLiteral("error")] = QString::fromStdString(*outcome.error);
        out << QJsonDocument(object).toJson(QJsonDocument::Compact).toStdString() << '\n';
    } else if (outcome.exitStatus == 0 && outcome.replyExpected) {
        out << (outcome.status ? *outcome.status : monitorLine(outcome.reply)) << '\n';
    }
    // A result a line as it comes, also into a pipe: a sequence that is
    // ended early has told what it did.
    out.flush();
    if (outcome.error)
        err << "qv550-cli: " << *outcome.error << std::endl;
}

// Whether the projector's power status is known now: in stand-by the other
// values are not asked, so they may well be unknown.
bool powerKnown(const QJsonObject &state)
{
    return state.value(QStringLiteral("status")).toObject().value(QStringLiteral("status")).isString();
}

} // namespace

int runCliState(const CliRequest &request, SerialControl &line, std::ostream &out, std::ostream &err,
    const std::string &ownerSocket)
{
    QJsonObject state;
    bool answered = false;
    if (!ownerSocket.empty()) {
        QJsonObject ask;
        ask[QStringLiteral("state")] = true;
        std::string why;
        const auto got = askOwner(ownerSocket, ask, 5000, answered, why);
        if (answered) {
            if (!got || got->contains(QStringLiteral("error"))) {
                err << "qv550-cli: "
                    << (got ? got->value(QStringLiteral("error")).toString().toStdString() : why) << '\n';
                return 1;
            }
            state = got->value(QStringLiteral("state")).toObject();
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
        out << QJsonDocument(state).toJson(QJsonDocument::Compact).toStdString() << '\n';
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
    ask[QStringLiteral("lease")] = seconds;
    ask[QStringLiteral("line_wait_ms")] = lineWaitMs;
    std::string why;
    const auto got = askOwner(socket, ask, lineWaitMs + kOwnerSlackMs, answered, why);
    if (!answered)
        return std::nullopt;
    if (!got)
        return why;
    if (got->contains(QStringLiteral("error")))
        return got->value(QStringLiteral("error")).toString().toStdString();
    return std::nullopt;
}

void releaseOwner(const std::string &socket)
{
    bool answered = false;
    QJsonObject ask;
    ask[QStringLiteral("release")] = true;
    std::string why;
    askOwner(socket, ask, 5000, answered, why);
}

int runCliRequest(const CliRequest &request, SerialControl &line, std::ostream &out, std::ostream &err,
    TrafficLog *log, const std::string &ownerSocket, bool keepOpen)
{
    std::string code;
    int watchMs = 2000; // as the SEND button's
    if (request.verb == CliRequest::Command) {
        const NamedCommand *command = commandNamed(request.command);
        code = std::string(command->code);
        watchMs = command->replyWatchMs;
    } else if (request.verb == CliRequest::Send) {
        // Decoding it is what finds a malformed sequence; the text is not kept.
        QStringDecoder utf8(QStringDecoder::Utf8);
        const QString decodedText
            = utf8(QByteArrayView(request.argument.data(), static_cast<qsizetype>(request.argument.size())));
        if (utf8.hasError()) {
            err << "qv550-cli: the line to send is not valid UTF-8 text\n";
            return 2;
        }
        std::string unsendable;
        const auto bytes = lineBytesFromUtf8(request.argument, unsendable);
        if (!bytes) {
            err << "qv550-cli: \"" << unsendable
                << "\" cannot be sent on the serial line, which carries one byte per character (Latin-1, up "
                   "to "
                   "U+00FF)\n";
            return 2;
        }
        code = *bytes;
    } else if (request.verb == CliRequest::Wait) {
        code = std::string(commandNamed("status")->code);
        watchMs = kWaitRoundMs;
    }
    if (request.timeoutMs && request.verb != CliRequest::Wait)
        watchMs = *request.timeoutMs;

    Outcome outcome;
    outcome.sent = request.addressPrefix + code + '\r';
    outcome.replyExpected = request.addressPrefix != kBroadcastPrefix;
    const auto finish = [&](int status, std::optional<std::string> error = std::nullopt) {
        outcome.exitStatus = status;
        outcome.error = std::move(error);
        if (log && outcome.error)
            log->note(status == 3 ? "not-opened" : "failed", *outcome.error);
        report(request, outcome, out, err);
        return status;
    };

    if (!ownerSocket.empty()) {
        // The line's owner carries the call, one transaction among others'.
        bool answered = false;
        QJsonObject ask;
        if (request.verb == CliRequest::Send)
            ask[QStringLiteral("send")] = QString::fromStdString(request.argument);
        else
            ask[QStringLiteral("command")] = request.verb == CliRequest::Wait
                ? QStringLiteral("status")
                : QString::fromStdString(request.command);
        ask[QStringLiteral("address")] = QString::fromStdString(request.address);
        ask[QStringLiteral("timeout_ms")] = watchMs;
        const qint64 limit
            = request.verb == CliRequest::Wait ? request.timeoutMs.value_or(kWaitDefaultMs) : 0;
        QElapsedTimer total;
        total.start();
        bool everReplied = false;
        for (;;) {
            int lineWaitMs = request.lineWaitMs;
            if (request.verb == CliRequest::Wait) {
                // --timeout bounds the whole wait, the line's too.
                const qint64 left = std::max<qint64>(1, limit - total.elapsed());
                ask[QStringLiteral("timeout_ms")] = static_cast<int>(std::min<qint64>(watchMs, left));
                lineWaitMs = static_cast<int>(std::min<qint64>(lineWaitMs, left));
            }
            ask[QStringLiteral("line_wait_ms")] = lineWaitMs;
            // The owner holds the call behind others' for the line's limit at most.
            std::string why;
            const auto got = askOwner(ownerSocket, ask,
                ask[QStringLiteral("timeout_ms")].toInt() + lineWaitMs + kOwnerSlackMs, answered, why);
            if (!answered && !outcome.viaOwner)
                break; // nobody serves the line after all: open it here
            if (!answered)
                why = "the line's owner went away"; // between two rounds of a wait
            outcome.viaOwner = true;
            if (!got) {
                // Nothing of an earlier round is this call's result.
                outcome.sent = request.addressPrefix + code + '\r';
                outcome.reply.clear();
                outcome.status.reset();
                outcome.elapsedMs = 0;
                outcome.cachedAgeMs.reset();
                return finish(1, why);
            }
            outcome.sent = got->value(QStringLiteral("sent")).toString().toLatin1().toStdString();
            outcome.reply = QByteArray::fromHex(got->value(QStringLiteral("reply_hex")).toString().toLatin1())
                                .toStdString();
            outcome.elapsedMs = got->value(QStringLiteral("elapsed_ms")).toDouble();
            outcome.status = got->value(QStringLiteral("status")).isString()
                ? std::optional<std::string>(got->value(QStringLiteral("status")).toString().toStdString())
                : std::nullopt;
            if (got->value(QStringLiteral("cached")).toBool())
                outcome.cachedAgeMs = got->value(QStringLiteral("age_ms")).toDouble();
            // A value the owner read moments ago is an answer, though nothing was written for it.
            const bool written = got->value(QStringLiteral("written")).toBool()
                || got->value(QStringLiteral("cached")).toBool();
            const QString error = got->value(QStringLiteral("error")).toString();
            // Exit 3 only for a line its owner could not open; a line that
            // stayed busy past the call's limit is a failed call.
            const int unsent = error.startsWith(QStringLiteral("the line is down")) ? 3 : 1;
            if (request.verb != CliRequest::Wait) {
                if (!error.isEmpty())
                    return finish(written ? 1 : unsent, error.toStdString());
                return finish(0);
            }
            if (!written)
                return finish(unsent, error.toStdString());
            everReplied = everReplied || replyEnded(outcome.reply);
            if (outcome.status == request.argument)
                return finish(0);
            if (total.elapsed() + 1 >= limit)
                break;
            QThread::msleep(
                static_cast<unsigned long>(std::min<qint64>(kWaitRoundMs, limit - total.elapsed())));
        }
        if (outcome.viaOwner) {
            if (!everReplied)
                return finish(1,
                    "no reply ever came from the projector on " + line.portLabel() + " in "
                        + std::to_string(total.elapsed()) + " ms");
            return finish(1,
                "the status did not become \"" + request.argument + "\" in " + std::to_string(total.elapsed())
                    + " ms" + (outcome.status ? " (last: \"" + *outcome.status + "\")" : std::string()));
        }
    }

    Call call(line);
    if (const auto failure = call.open(request.settings))
        return finish(3, *failure);
    // The port is held for the call only (or the sequence); a loss on the way is told.
    const auto close = [&] {
        if (!keepOpen || call.lost())
            line.setPortOpen(false);
    };

    try {
        if (!outcome.replyExpected) {
            line.setOutput(outcome.sent);
            close();
            return finish(0);
        }
        if (request.verb == CliRequest::Wait) {
            const qint64 limit = request.timeoutMs.value_or(kWaitDefaultMs);
            bool everReplied = false;
            QElapsedTimer total;
            total.start();
            while (!call.lost() && total.elapsed() < limit) {
                QElapsedTimer round;
                round.start();
                const bool whole
                    = call.exchange(outcome.sent, std::min<qint64>(watchMs, limit - total.elapsed()));
                everReplied = everReplied || whole;
                outcome.reply = call.reply();
                outcome.elapsedMs = call.elapsed();
                outcome.status = decodedStatus(outcome.sent, request.addressPrefix, call.reply());
                if (outcome.status == request.argument)
                    break;
                call.pause(std::min<qint64>(kWaitRoundMs - round.elapsed(), limit - total.elapsed()));
            }
            const qint64 waited = total.elapsed();
            if (outcome.status == request.argument) {
                close();
                return finish(0);
            }
            // No grace here: --timeout is the whole wait's limit.
            close();
            if (call.lost())
                return finish(1, *call.lost());
            if (!everReplied)
                return finish(1,
                    "no reply ever came from the projector on " + line.portLabel() + " in "
                        + std::to_string(waited) + " ms");
            return finish(1,
                "the status did not become \"" + request.argument + "\" in " + std::to_string(waited) + " ms"
                    + (outcome.status ? " (last: \"" + *outcome.status + "\")" : std::string()));
        }
        const bool whole = call.exchange(outcome.sent, watchMs);
        outcome.reply = call.reply();
        outcome.elapsedMs = call.elapsed();
        outcome.status = decodedStatus(outcome.sent, request.addressPrefix, outcome.reply);
        const auto misfit
            = whole ? replyMisfit(outcome.sent, request.addressPrefix, outcome.reply) : std::nullopt;
        if ((!whole || misfit) && !call.lost())
            call.waitForQuiet();
        close();
        if (call.lost())
            return finish(1, *call.lost());
        if (misfit)
            return finish(1, *misfit);
        if (whole)
            return finish(0);
        if (outcome.reply.empty())
            return finish(1, "no reply within " + std::to_string(watchMs) + " ms from " + line.portLabel());
        return finish(1,
            "the reply was cut off: no CR or ACK within " + std::to_string(watchMs)
                + " ms (arrived: " + monitorLine(outcome.reply) + ")");
    } catch (const ControlError &error) {
        close();
        return finish(1, error.description());
    }
}
