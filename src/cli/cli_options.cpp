// Options may come before or after the command, as --name VALUE or
// --name=VALUE; anything unknown is an error, never ignored.

#include "cli/cli_options.h"

#include <charconv>

#include "commands/named_commands.h"

const char *const kCliUsage = R"(Usage: qv550-cli [OPTIONS] COMMAND [ARGUMENT]

Sends one command to a QV550 projector on a serial line and prints its reply:
the decoded status for the nine status queries (for example "Power ON"),
otherwise the reply as the panel's monitor shows it (for example "ACK").

Commands:
  NAME            a command of the panel by its name (see 'list'), e.g. power-on
  send LINE       any command line; the CR is added. Characters up to U+00FF go
                  as their Latin-1 byte; a line with any other is refused.
  list            every command: name, code, the window's caption and group
  ports           the serial ports the system knows, one a line: the device,
                  its /dev/serial/by-id names, description, manufacturer and
                  serial number ("-" when unknown); pseudo-terminals are
                  never listed
  wait STATUS     asks for the power status once a second until it reads
                  STATUS (e.g. wait "Power ON"), or until --timeout (120 s)

Options:
  --port DEVICE   a device path, tcp://HOST:PORT or rfc2217://HOST:PORT;
                  by default the panel's COM1 (its ports.conf, or /dev/ttyS0)
  --speed RATE    19200 (default) or 9600
  --address ADDR  single (default), all, 1, 2, 3 or 4
  --timeout MS    how long to wait for the reply (by default the panel's
                  reply watch for the command: 500, 2000 or 5000 ms)
  --json          print one JSON object: sent, reply_hex, monitor, status,
                  elapsed_ms
  --log FILE      append every line sent and every arrival to FILE
  -h, --help      this text
  --version       the version

Exit status:
  0  a reply came (for wait: the status was reached)
  1  no reply in time (for wait: not reached in time)
  2  usage error: an unknown command or option, a bad value
  3  the port could not be opened (the reason on standard error)
)";

namespace {

bool toInt(const std::string &text, int &value)
{
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
    return !text.empty() && error == std::errc() && end == text.data() + text.size();
}

} // namespace

std::optional<CliRequest> parseCliArguments(const std::vector<std::string> &arguments, std::string &whyNot)
{
    CliRequest request;
    std::vector<std::string> words;
    for (std::size_t i = 0; i < arguments.size(); ++i) {
        std::string argument = arguments[i];
        if (argument == "-h" || argument == "--help") {
            request.verb = CliRequest::Help;
            return request;
        }
        if (argument == "--version") {
            request.verb = CliRequest::Version;
            return request;
        }
        if (argument == "--json") {
            request.json = true;
            continue;
        }
        if (argument.rfind("--", 0) != 0 || argument == "--") {
            if (argument == "--") {
                words.insert(words.end(), arguments.begin() + static_cast<long>(i) + 1, arguments.end());
                break;
            }
            words.push_back(argument);
            continue;
        }
        std::string name = argument;
        std::string value;
        if (const auto equals = argument.find('='); equals != std::string::npos) {
            name = argument.substr(0, equals);
            value = argument.substr(equals + 1);
        } else if (name == "--port" || name == "--speed" || name == "--address" || name == "--timeout"
            || name == "--log") {
            if (i + 1 >= arguments.size()) {
                whyNot = name + " needs a value";
                return std::nullopt;
            }
            value = arguments[++i];
        }
        if (name == "--port") {
            request.port = value;
        } else if (name == "--speed") {
            if (value != "19200" && value != "9600") {
                whyNot = "--speed is 19200 or 9600, not '" + value + "'";
                return std::nullopt;
            }
            request.settings = value + ",N,8,1";
        } else if (name == "--address") {
            const auto prefix = addressPrefixFor(value);
            if (!prefix) {
                whyNot = "--address is single, all, 1, 2, 3 or 4, not '" + value + "'";
                return std::nullopt;
            }
            request.addressPrefix = std::string(*prefix);
        } else if (name == "--timeout") {
            int ms = 0;
            if (!toInt(value, ms) || ms < 1) {
                whyNot = "--timeout is a number of milliseconds, not '" + value + "'";
                return std::nullopt;
            }
            request.timeoutMs = ms;
        } else if (name == "--log") {
            request.logPath = value;
        } else {
            whyNot = "unknown option " + name;
            return std::nullopt;
        }
    }
    if (words.empty()) {
        whyNot = "no command given";
        return std::nullopt;
    }
    const std::string &verb = words[0];
    const auto takes = [&](std::size_t count) {
        if (words.size() == count + 1)
            return true;
        whyNot = "'" + verb + "' takes " + (count ? "one argument" : "no argument");
        return false;
    };
    if (verb == "list" || verb == "ports") {
        if (!takes(0))
            return std::nullopt;
        request.verb = verb == "list" ? CliRequest::List : CliRequest::Ports;
    } else if (verb == "send" || verb == "wait") {
        if (!takes(1))
            return std::nullopt;
        request.verb = verb == "send" ? CliRequest::Send : CliRequest::Wait;
        request.argument = words[1];
    } else if (commandNamed(verb)) {
        if (!takes(0))
            return std::nullopt;
        request.verb = CliRequest::Command;
        request.command = verb;
    } else {
        whyNot = "unknown command '" + verb + "' ('qv550-cli list' shows them)";
        return std::nullopt;
    }
    return request;
}
