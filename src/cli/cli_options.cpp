// SPDX-License-Identifier: GPL-3.0-or-later
// Options may come before or after the command, as --name VALUE or
// --name=VALUE; anything unknown is an error, never ignored.

#include "cli/cli_options.h"

#include <algorithm>
#include <array>
#include <charconv>
#include <string_view>
#include <vector>

#include "commands/named_commands.h"
#include "core/reply_decoders.h"

const char *const kCliUsage = R"(Usage: qv550-cli [OPTIONS] COMMAND [ARGUMENT]

Sends one command to a QV550 projector on a serial line and prints its reply:
the decoded status for the nine status queries (for example "Power ON"),
otherwise the reply as the panel's monitor shows it (for example "ACK").

Commands:
  NAME            a command of the panel by its name (see 'list'), e.g. power-on
  send LINE       any command line; the CR is added. Characters up to U+00FF go
                  as their Latin-1 byte, control characters too, as they are;
                  a line with any other character, or with a CR or LF (which
                  would make it two lines), is refused.
  list            every command: name, code, the window's caption and group
  ports           the serial ports the system knows, one a line: the device,
                  its /dev/serial/by-id names, description, manufacturer and
                  serial number ("-" when unknown); pseudo-terminals are
                  never listed
  wait STATUS     asks for the power status once a second until it reads
                  STATUS (e.g. wait "Power ON"), or until --timeout (120 s)
  state           the projector's live state: each status query's decoded
                  value and its age. From the line's owner (the panel or
                  qv550d), which keeps it, with nothing sent; with no owner,
                  the nine queries are asked once. A value that is not known
                  now (the line down, the projector silent) shows since when
  seq NAME...     the commands in turn, with nothing from another program
                  between them (the line is leased from its owner, or the
                  port held); stops at the first that fails, one result a line
  scene NAME      runs a scene of the owner's scene file (qv550d --scenes),
                  or with no owner and --scenes FILE, runs it here on the
                  port; one line per step as it ends (--json: one object per
                  step, and one for the end); stops at a step that fails
  scenes          the owner's scenes (or those of --scenes FILE), one a line:
                  the name and its steps
  scene-cancel    stops the scene the owner is running

Options:
  --port DEVICE   a device path, tcp://HOST:PORT or rfc2217://HOST:PORT, or
                  COM1 or COM2 as the panel's ports.conf sets them;
                  by default the panel's COM1 (its ports.conf, or /dev/ttyS0)
  --config FILE   the port and speed from a qv550d config file, such as
                  /etc/qv550/hall-left.conf (--port and --speed win)
  --speed RATE    19200 (default) or 9600
  --address ADDR  single (default), all, 1, 2, 3 or 4
  --timeout MS    how long to wait for the reply (by default the panel's
                  reply watch for the command: 500, 2000 or 5000 ms), at
                  most 600000
  --line-wait MS  how long to wait for the line while others use it (a
                  held button on the panel, a lease, other scripts) before
                  giving up: 0 to 600000, by default 10000
  --json          print one JSON object on every exit: sent, reply_hex,
                  monitor, status (null unless a whole reply was decoded),
                  complete, elapsed_ms, via, and error when there was none
  --log FILE      append every line sent and every arrival to FILE
  --scenes FILE   a scene file, for scene and scenes when no owner serves the
                  line (also scenes = FILE in the --config file)
  -h, --help      this text
  --version       the version

A command to every projector (--address all) is obeyed and never answered:
it ends once written, with exit status 0.

Exit status:
  0  a whole reply came, ended by CR or ACK (for wait: the status was
     reached; for --address all: the line was written; for state: the
     power status is known)
  1  no reply in time, one cut off, or one that does not fit its query
     (a status query's answer has a form: two hex digits and a CR for the
     power status); the line stayed busy past --line-wait (for wait: not
     reached in time; for state: the power status is not known)
  2  usage error: an unknown command or option, a bad value
  3  the port could not be opened (the reason on standard error)
For scene: 0 every step ran, 1 a step failed or the scene was stopped, 2 no
such scene or a bad scene file, 3 the port or the owner could not be reached.
)";

namespace {

bool toInt(const std::string &text, int &value)
{
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
    return !text.empty() && error == std::errc() && end == text.data() + text.size();
}

// Edits (insert, delete, replace, swap two neighbours) from `a` to `b`.
std::size_t editDistance(std::string_view a, std::string_view b)
{
    std::vector<std::vector<std::size_t>> d(a.size() + 1, std::vector<std::size_t>(b.size() + 1));
    for (std::size_t i = 0; i <= a.size(); ++i)
        d[i][0] = i;
    for (std::size_t j = 0; j <= b.size(); ++j)
        d[0][j] = j;
    for (std::size_t i = 1; i <= a.size(); ++i) {
        for (std::size_t j = 1; j <= b.size(); ++j) {
            d[i][j] = std::min(
                {d[i - 1][j] + 1, d[i][j - 1] + 1, d[i - 1][j - 1] + (a[i - 1] == b[j - 1] ? 0 : 1)});
            if (i > 1 && j > 1 && a[i - 1] == b[j - 2] && a[i - 2] == b[j - 1])
                d[i][j] = std::min(d[i][j], d[i - 2][j - 2] + 1);
        }
    }
    return d[a.size()][b.size()];
}

// The command name a typo most likely meant: within two edits, and closer
// than any other.
std::optional<std::string> nearestCommandName(std::string_view typed)
{
    std::optional<std::string> best;
    std::size_t bestDistance = 3;
    for (const std::string_view name : {std::string_view("list"), std::string_view("ports"),
             std::string_view("send"), std::string_view("wait"), std::string_view("seq"),
             std::string_view("state"), std::string_view("scene"), std::string_view("scenes")}) {
        if (const std::size_t distance = editDistance(typed, name); distance < bestDistance) {
            bestDistance = distance;
            best = std::string(name);
        }
    }
    for (const NamedCommand &command : namedCommands()) {
        if (const std::size_t distance = editDistance(typed, command.name); distance < bestDistance) {
            bestDistance = distance;
            best = std::string(command.name);
        }
    }
    return best;
}

// The options that take a value, each with what it does to the request:
// false, and why, for a value it does not take.
struct ValueOption {
    std::string_view name;
    bool (*apply)(CliRequest &request, const std::string &value, std::string &whyNot);
};

// A number of milliseconds from `least` to 600000, or why not.
bool readMs(const std::string &name, const std::string &value, int least, int &ms, std::string &whyNot)
{
    if (toInt(value, ms) && ms >= least && ms <= 600000)
        return true;
    whyNot
        = name + " is a number of milliseconds, " + std::to_string(least) + " to 600000, not '" + value + "'";
    return false;
}

constexpr std::array kValueOptions = {
    ValueOption{"--port",
        [](CliRequest &request, const std::string &value, std::string &) {
            request.port = value;
            return true;
        }},
    ValueOption{"--speed",
        [](CliRequest &request, const std::string &value, std::string &whyNot) {
            if (value != "19200" && value != "9600") {
                whyNot = "--speed is 19200 or 9600, not '" + value + "'";
                return false;
            }
            request.settings = value + ",N,8,1";
            request.speedGiven = true;
            return true;
        }},
    ValueOption{"--address",
        [](CliRequest &request, const std::string &value, std::string &whyNot) {
            const auto prefix = addressPrefixFor(value);
            if (!prefix) {
                whyNot = "--address is single, all, 1, 2, 3 or 4, not '" + value + "'";
                return false;
            }
            request.addressPrefix = std::string(*prefix);
            request.address = value;
            return true;
        }},
    ValueOption{"--timeout",
        [](CliRequest &request, const std::string &value, std::string &whyNot) {
            int ms = 0;
            if (!readMs("--timeout", value, 1, ms, whyNot))
                return false;
            request.timeoutMs = ms;
            return true;
        }},
    ValueOption{"--log",
        [](CliRequest &request, const std::string &value, std::string &) {
            request.logPath = value;
            return true;
        }},
    ValueOption{"--config",
        [](CliRequest &request, const std::string &value, std::string &) {
            request.configPath = value;
            return true;
        }},
    ValueOption{"--line-wait",
        [](CliRequest &request, const std::string &value, std::string &whyNot) {
            return readMs("--line-wait", value, 0, request.lineWaitMs, whyNot);
        }},
    ValueOption{"--scenes",
        [](CliRequest &request, const std::string &value, std::string &) {
            request.scenesPath = value;
            return true;
        }},
};

const ValueOption *valueOption(std::string_view name)
{
    for (const ValueOption &option : kValueOptions) {
        if (option.name == name)
            return &option;
    }
    return nullptr;
}

// The command's name after a typo, as a hint to add to `whyNot`.
void suggest(const std::string &typed, std::string &whyNot)
{
    if (const auto nearest = nearestCommandName(typed))
        whyNot += ": did you mean '" + *nearest + "'?";
}

// Whether `words` hold exactly `count` arguments after the first.
bool takes(const std::vector<std::string> &words, std::size_t count, std::string &whyNot)
{
    if (words.size() == count + 1)
        return true;
    whyNot = "'" + words[0] + "' takes " + (count ? "one argument" : "no argument");
    return false;
}

// send LINE, or wait STATUS.
bool readLineOrStatus(const std::vector<std::string> &words, CliRequest &request, std::string &whyNot)
{
    if (!takes(words, 1, whyNot))
        return false;
    request.verb = words[0] == "send" ? CliRequest::Send : CliRequest::Wait;
    request.argument = words[1];
    if (request.verb == CliRequest::Send && request.argument.find_first_of("\r\n") != std::string::npos) {
        whyNot = "the line to send holds a CR or LF: give one command line; the CR is added";
        return false;
    }
    if (request.verb == CliRequest::Wait) {
        const auto known = powerStatusTexts();
        if (std::find(known.begin(), known.end(), request.argument) == known.end()) {
            whyNot = "\"" + request.argument + "\" is no power status; wait takes one of:";
            for (const std::string_view text : known)
                whyNot += "\n  \"" + std::string(text) + "\"";
            return false;
        }
    }
    return true;
}

// seq NAME...
bool readSequence(const std::vector<std::string> &words, CliRequest &request, std::string &whyNot)
{
    if (words.size() < 2) {
        whyNot = "'seq' takes one command name or more";
        return false;
    }
    for (std::size_t i = 1; i < words.size(); ++i) {
        if (!commandNamed(words[i])) {
            whyNot = "unknown command '" + words[i] + "' in the sequence";
            suggest(words[i], whyNot);
            return false;
        }
    }
    request.verb = CliRequest::Sequence;
    request.sequence.assign(words.begin() + 1, words.end());
    return true;
}

// The words after the options: what to do, and its arguments.
bool readWords(const std::vector<std::string> &words, CliRequest &request, std::string &whyNot)
{
    if (words.empty()) {
        whyNot = "no command given";
        return false;
    }
    const std::string &verb = words[0];
    if (verb == "list" || verb == "ports" || verb == "state") {
        request.verb = verb == "list" ? CliRequest::List
            : verb == "ports"         ? CliRequest::Ports
                                      : CliRequest::State;
        return takes(words, 0, whyNot);
    }
    if (verb == "send" || verb == "wait")
        return readLineOrStatus(words, request, whyNot);
    if (verb == "scene") {
        request.verb = CliRequest::Scene;
        request.argument = words.size() > 1 ? words[1] : std::string();
        return takes(words, 1, whyNot);
    }
    if (verb == "scenes" || verb == "scene-cancel") {
        request.verb = verb == "scenes" ? CliRequest::Scenes : CliRequest::SceneCancel;
        return takes(words, 0, whyNot);
    }
    if (verb == "seq")
        return readSequence(words, request, whyNot);
    if (commandNamed(verb)) {
        request.verb = CliRequest::Command;
        request.command = verb;
        return takes(words, 0, whyNot);
    }
    whyNot = "unknown command '" + verb + "'";
    suggest(verb, whyNot);
    whyNot += " ('qv550-cli list' shows them)";
    return false;
}

} // namespace

std::optional<CliRequest> parseCliArguments(const std::vector<std::string> &arguments, std::string &whyNot)
{
    CliRequest request;
    std::vector<std::string> words;
    for (std::size_t i = 0; i < arguments.size(); ++i) {
        const std::string &argument = arguments[i];
        if (argument == "-h" || argument == "--help" || argument == "--version") {
            request.verb = argument == "--version" ? CliRequest::Version : CliRequest::Help;
            return request;
        }
        if (argument == "--json") {
            request.json = true;
            continue;
        }
        if (argument.rfind("--json=", 0) == 0) {
            whyNot = "--json takes no value";
            return std::nullopt;
        }
        if (argument == "--") {
            words.insert(words.end(), arguments.begin() + static_cast<long>(i) + 1, arguments.end());
            break;
        }
        if (argument.rfind("--", 0) != 0) {
            words.push_back(argument);
            continue;
        }
        const auto equals = argument.find('=');
        const std::string name = argument.substr(0, equals);
        const ValueOption *option = valueOption(name);
        if (!option) {
            whyNot = "unknown option " + name;
            return std::nullopt;
        }
        std::string value;
        if (equals != std::string::npos) {
            value = argument.substr(equals + 1);
        } else if (i + 1 < arguments.size()) {
            value = arguments[++i];
        } else {
            whyNot = name + " needs a value";
            return std::nullopt;
        }
        if (!option->apply(request, value, whyNot))
            return std::nullopt;
    }
    if (!readWords(words, request, whyNot))
        return std::nullopt;
    return request;
}
