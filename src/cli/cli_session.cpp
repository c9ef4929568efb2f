// The reply is complete at its CR or ACK: the projector's replies end so, and
// waiting out the whole watch would make every call as slow as the slowest.

#include "cli/cli_session.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QTimer>

#include <cstdio>
#include <optional>
#include <ostream>

#include "commands/command_handlers.h"
#include "commands/named_commands.h"
#include "core/monitor_text.h"
#include "core/reply_decoders.h"
#include "serial/serial_control.h"

namespace {

constexpr int kConnectWaitMs = 6000; // past the network line's own 5 s
constexpr int kWaitDefaultMs = 120000;

std::string jsonString(std::string_view text)
{
    std::string out = "\"";
    for (const char c : text) {
        const auto value = static_cast<unsigned char>(c);
        if (c == '"' || c == '\\') {
            out += '\\';
            out += c;
        } else if (value < 0x20 || value >= 0x7F) {
            // Bytes are Latin-1 characters: U+0000 to U+00FF.
            char escaped[8];
            std::snprintf(escaped, sizeof escaped, "\\u%04X", value);
            out += escaped;
        } else {
            out += c;
        }
    }
    return out + "\"";
}

std::string trimmed(std::string text)
{
    const auto first = text.find_first_not_of(' ');
    if (first == std::string::npos)
        return {};
    return text.substr(first, text.find_last_not_of(' ') - first + 1);
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
    template <typename Done> bool runUntil(Done done, int ms)
    {
        QTimer timeout;
        timeout.setSingleShot(true);
        timeout.setTimerType(Qt::PreciseTimer); // a coarse timer may end the watch early
        QObject::connect(&timeout, &QTimer::timeout, &loop_, &QEventLoop::quit);
        timeout.start(ms);
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

    // Sends `text` and reads the reply until it ends or `watchMs` pass.
    bool exchange(const std::string &text, int watchMs)
    {
        reply_.clear();
        clock_.start();
        line_.setOutput(text);
        const bool ended = runUntil(
            [this] { return reply_.find('\r') != std::string::npos || reply_.find('\x06') != std::string::npos; },
            watchMs);
        elapsed_ = static_cast<double>(clock_.nsecsElapsed()) / 1e6;
        return ended || !reply_.empty();
    }

    // Lets `ms` pass with the event loop running (nothing if not positive).
    void pause(qint64 ms)
    {
        if (ms > 0)
            runUntil([] { return false; }, static_cast<int>(ms));
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
    std::int16_t pressure = 0;
    const auto status = decodeStatus(statusQueryFor(line, prefix), monitorText(reply), pressure);
    if (!status)
        return std::nullopt;
    // As the panel shows it, less the leading space of every status text.
    return status->rfind(' ', 0) == 0 ? status->substr(1) : *status;
}

} // namespace

std::string replyJson(const std::string &sent, const std::string &reply, const std::string *status, double elapsedMs)
{
    char elapsedText[32];
    std::snprintf(elapsedText, sizeof elapsedText, "%.3f", elapsedMs);
    return "{\"sent\": " + jsonString(sent) + ", \"reply_hex\": \"" + hexText(reply, "") + "\", \"monitor\": "
        + jsonString(trimmed(monitorText(reply))) + ", \"status\": " + (status ? jsonString(*status) : "null")
        + ", \"elapsed_ms\": " + elapsedText + "}";
}

void listCommands(std::ostream &out)
{
    for (const NamedCommand &command : namedCommands()) {
        out << command.name << "  " << command.code << "  " << command.caption << "  " << command.group
            << '\n';
    }
}

int runCliRequest(const CliRequest &request, SerialControl &line, std::ostream &out, std::ostream &err)
{
    std::string code;
    int watchMs = 2000; // as the SEND button's
    if (request.verb == CliRequest::Command) {
        const NamedCommand *command = commandNamed(request.command);
        code = std::string(command->code);
        watchMs = command->replyWatchMs;
    } else if (request.verb == CliRequest::Send) {
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
        watchMs = 1000;
    }
    if (request.timeoutMs && request.verb != CliRequest::Wait)
        watchMs = *request.timeoutMs;

    Call call(line);
    if (const auto failure = call.open(request.settings)) {
        err << "qv550-cli: " << *failure << '\n';
        return 3;
    }
    const std::string text = request.addressPrefix + code + '\r';
    // The port is held for the call only; a loss on the way is told.
    const auto close = [&] {
        line.setPortOpen(false);
        if (call.lost())
            err << "qv550-cli: " << *call.lost() << '\n';
    };

    try {
        if (request.verb == CliRequest::Wait) {
            const int limit = request.timeoutMs.value_or(kWaitDefaultMs);
            std::string last;
            QElapsedTimer total;
            total.start();
            while (last != request.argument && !call.lost() && total.elapsed() < limit) {
                QElapsedTimer round;
                round.start();
                if (call.exchange(text, watchMs))
                    last = decoded(text, request.addressPrefix, call.reply()).value_or(std::string());
                if (last != request.argument)
                    call.pause(std::min<qint64>(1000 - round.elapsed(), limit - total.elapsed()));
            }
            close();
            if (last == request.argument) {
                if (request.json)
                    out << replyJson(text, call.reply(), &last, call.elapsed()) << '\n';
                else
                    out << last << '\n';
                return 0;
            }
            err << "qv550-cli: the status did not become \"" << request.argument << "\" within " << limit << " ms"
                << (last.empty() ? std::string() : " (last: \"" + last + "\")") << '\n';
            return 1;
        }
        const bool replied = call.exchange(text, watchMs);
        close();
        const auto status = decoded(text, request.addressPrefix, call.reply());
        if (request.json)
            out << replyJson(text, call.reply(), status ? &*status : nullptr, call.elapsed()) << '\n';
        else if (replied)
            out << (status ? *status : trimmed(monitorText(call.reply()))) << '\n';
        if (!replied)
            err << "qv550-cli: no reply within " << watchMs << " ms\n";
        return replied ? 0 : 1;
    } catch (const ControlError &error) {
        err << "qv550-cli: " << error.description() << '\n';
        return 1;
    }
}
