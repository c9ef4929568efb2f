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
#include <QStringDecoder>
#include <QTimer>

#include <algorithm>
#include <cmath>
#include <optional>
#include <ostream>

#include "commands/command_handlers.h"
#include "commands/named_commands.h"
#include "core/monitor_text.h"
#include "core/reply_decoders.h"
#include "serial/serial_control.h"
#include "serial/traffic_log.h"

namespace {

constexpr int kConnectWaitMs = 6000; // past the network line's own 5 s
constexpr int kWaitDefaultMs = 120000;
constexpr int kWaitRoundMs = 1000;
// After a watch that ran out, the port is kept this much longer to take in a
// reply that comes late, so that it cannot reach the next call as its reply.
// A reply later than the watch and this grace together may still be read by
// the next call (the README says so).
constexpr int kLateReplyGraceMs = 1000;
// Every projector obeys a command to all and none answers it.
constexpr std::string_view kBroadcastPrefix = "AFFF";

std::string trimmed(std::string text)
{
    const auto first = text.find_first_not_of(' ');
    if (first == std::string::npos)
        return {};
    return text.substr(first, text.find_last_not_of(' ') - first + 1);
}

bool ended(const std::string &reply)
{
    return reply.find('\r') != std::string::npos || reply.find('\x06') != std::string::npos;
}

QString latin1(const std::string &bytes)
{
    return QString::fromLatin1(bytes.data(), static_cast<qsizetype>(bytes.size()));
}

class Call {
public:
    explicit Call(SerialControl &line) : line_(line)
    {
        line_.setOnComm([this] {
            const std::int16_t event = line_.commEvent();
            if (event == kCommEventReceive)
                reply_ += line_.input();
            else if (event == kCommEventLineLost)
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

    // Opens the port; on failure the reason, for exit status 3.
    std::optional<std::string> open(const std::string &settings)
    {
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
        const bool whole = runUntil([this] { return ended(reply_); }, watchMs);
        elapsed_ = static_cast<double>(clock_.nsecsElapsed()) / 1e6;
        return whole;
    }

    // After a watch that ran out: takes in the rest of a late reply, so that
    // it is not left for whoever uses the line next.
    void absorbLateReply()
    {
        const std::string kept = reply_;
        runUntil([this] { return ended(reply_); }, kLateReplyGraceMs);
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
    double elapsed_ = 0;
};

std::optional<std::string> decoded(const std::string &line, const std::string &prefix, const std::string &reply)
{
    if (!ended(reply))
        return std::nullopt;
    std::int16_t pressure = 0;
    const auto status = decodeStatus(statusQueryFor(line, prefix), monitorText(reply), pressure);
    if (!status)
        return std::nullopt;
    // As the panel shows it, less the leading space of every status text.
    return status->rfind(' ', 0) == 0 ? status->substr(1) : *status;
}

// A reply as the object of --json: sent, reply_hex, monitor, status (null
// unless decoded from a whole reply), complete, elapsed_ms.
QJsonObject replyObject(
    const std::string &sent, const std::string &reply, const std::optional<std::string> &status, double elapsedMs)
{
    QJsonObject object;
    object[QStringLiteral("sent")] = latin1(sent);
    object[QStringLiteral("reply_hex")] = QString::fromStdString(hexText(reply, ""));
    object[QStringLiteral("monitor")] = latin1(trimmed(monitorText(reply)));
    object[QStringLiteral("status")] = status ? QJsonValue(QString::fromStdString(*status)) : QJsonValue();
    object[QStringLiteral("complete")] = ended(reply);
    object[QStringLiteral("elapsed_ms")] = std::round(elapsedMs * 1000.0) / 1000.0;
    return object;
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
};

void report(const CliRequest &request, const Outcome &outcome, std::ostream &out, std::ostream &err)
{
    if (request.json) {
        QJsonObject object = replyObject(outcome.sent, outcome.reply, outcome.status, outcome.elapsedMs);
        object[QStringLiteral("via")] = QStringLiteral("port");
        if (!outcome.replyExpected)
            object[QStringLiteral("reply_expected")] = false;
        if (outcome.error)
            object[QStringLiteral("error")] = QString::fromStdString(*outcome.error);
        out << QJsonDocument(object).toJson(QJsonDocument::Compact).toStdString() << '\n';
    } else if (outcome.exitStatus == 0 && outcome.replyExpected) {
        out << (outcome.status ? *outcome.status : trimmed(monitorText(outcome.reply))) << '\n';
    }
    if (outcome.error)
        err << "qv550-cli: " << *outcome.error << '\n';
}

} // namespace

void listCommands(std::ostream &out)
{
    for (const NamedCommand &command : namedCommands()) {
        out << command.name << "  " << command.code << "  " << command.caption << "  " << command.group
            << '\n';
    }
}

int runCliRequest(const CliRequest &request, SerialControl &line, std::ostream &out, std::ostream &err,
    TrafficLog *log)
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
        const QString decodedText = utf8(QByteArrayView(request.argument.data(), static_cast<qsizetype>(request.argument.size())));
        if (utf8.hasError()) {
            err << "qv550-cli: the line to send is not valid UTF-8 text\n";
            return 2;
        }
        std::string unsendable;
        const auto bytes = lineBytesFromUtf8(request.argument, unsendable);
        if (!bytes) {
            err << "qv550-cli: \"" << unsendable
                << "\" cannot be sent on the serial line, which carries one byte per character (Latin-1, up to "
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

    Call call(line);
    if (const auto failure = call.open(request.settings))
        return finish(3, *failure);
    // The port is held for the call only; a loss on the way is told.
    const auto close = [&] { line.setPortOpen(false); };

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
                const bool whole = call.exchange(outcome.sent, std::min<qint64>(watchMs, limit - total.elapsed()));
                everReplied = everReplied || whole;
                outcome.reply = call.reply();
                outcome.elapsedMs = call.elapsed();
                outcome.status = decoded(outcome.sent, request.addressPrefix, call.reply());
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
                return finish(1, "no reply ever came from the projector on " + line.portLabel() + " in "
                        + std::to_string(waited) + " ms");
            return finish(1, "the status did not become \"" + request.argument + "\" in " + std::to_string(waited)
                    + " ms" + (outcome.status ? " (last: \"" + *outcome.status + "\")" : std::string()));
        }
        const bool whole = call.exchange(outcome.sent, watchMs);
        outcome.reply = call.reply();
        outcome.elapsedMs = call.elapsed();
        outcome.status = decoded(outcome.sent, request.addressPrefix, outcome.reply);
        if (!whole && !call.lost())
            call.absorbLateReply();
        close();
        if (call.lost())
            return finish(1, *call.lost());
        if (whole)
            return finish(0);
        if (outcome.reply.empty())
            return finish(1, "no reply within " + std::to_string(watchMs) + " ms from " + line.portLabel());
        return finish(1, "the reply was cut off: no CR or ACK within " + std::to_string(watchMs)
                + " ms (arrived: " + trimmed(monitorText(outcome.reply)) + ")");
    } catch (const ControlError &error) {
        close();
        return finish(1, error.description());
    }
}
