// SPDX-License-Identifier: GPL-3.0-or-later
// The scene file through Qt's JSON reader: a step is never picked apart by
// hand. Every fault names where it is, the first one found is told.

#include "owner/scene_book.h"

#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

#include <algorithm>
#include <cmath>

#include "commands/command_handlers.h"
#include "commands/named_commands.h"
#include "owner/live_state.h"

namespace {

// The words a step may hold, each once.
// clang-format off
constexpr std::array kStepKeys = {
    std::string_view{"command"}, std::string_view{"send"}, std::string_view{"wait"},
    std::string_view{"expect"},  std::string_view{"delay_s"}, std::string_view{"address"},
    std::string_view{"retry"},   std::string_view{"timeout_s"}, std::string_view{"on_error"},
};
// clang-format on

std::string normalised(std::string_view text)
{
    std::string out;
    bool blank = false;
    for (const char c : text) {
        if (c == ' ' || c == '\t') {
            blank = !out.empty();
            continue;
        }
        if (blank)
            out += ' ';
        blank = false;
        out += c;
    }
    return out;
}

bool validName(const QString &name)
{
    if (name.isEmpty() || name.size() > 64)
        return false;
    return std::all_of(name.begin(), name.end(), [](QChar c) {
        return (c >= u'a' && c <= u'z') || (c >= u'A' && c <= u'Z') || (c >= u'0' && c <= u'9') || c == u'-'
            || c == u'_';
    });
}

// Seconds as milliseconds, more than 0 and at most `longest` seconds.
std::optional<int> seconds(const QJsonValue &value, int longest)
{
    if (!value.isDouble() || !std::isfinite(value.toDouble()) || value.toDouble() <= 0
        || value.toDouble() > longest)
        return std::nullopt;
    return std::max(1, static_cast<int>(std::lround(value.toDouble() * 1000.0)));
}

std::string keyList()
{
    std::string keys;
    for (const LiveQuery &query : kLiveQueries)
        keys += (keys.empty() ? "" : ", ") + std::string(query.name);
    return keys;
}

// A condition, or the reason it cannot be met.
std::optional<std::string> readCondition(const QJsonValue &value, std::vector<SceneCondition> &conditions)
{
    if (!value.isObject() || value.toObject().isEmpty())
        return "a condition is an object of live values, such as {\"status\": \"Power ON\"}";
    const QJsonObject object = value.toObject();
    for (auto entry = object.begin(); entry != object.end(); ++entry) {
        const std::string key = entry.key().toStdString();
        const auto row = std::find_if(kLiveQueries.begin(), kLiveQueries.end(),
            [&key](const LiveQuery &query) { return query.name == key; });
        if (row == kLiveQueries.end())
            return "unknown state key \"" + key + "\" (the keys are " + keyList() + ")";
        SceneCondition condition;
        condition.row = static_cast<std::size_t>(row - kLiveQueries.begin());
        QJsonArray texts;
        if (entry.value().isString())
            texts.append(entry.value());
        else if (entry.value().isArray() && !entry.value().toArray().isEmpty())
            texts = entry.value().toArray();
        else
            return "\"" + key + "\" takes a text or a list of texts";
        const auto possible = statusTexts(row->query);
        for (const QJsonValue &text : texts) {
            if (!text.isString())
                return "\"" + key + "\" takes a text or a list of texts";
            const std::string wanted = text.toString().toStdString();
            if (possible
                && std::none_of(possible->begin(), possible->end(),
                    [&wanted](const std::string &shown) { return sceneTextMatches(shown, wanted); })) {
                std::string all;
                for (const std::string &shown : *possible)
                    all += (all.empty() ? "\"" : ", \"") + normalised(shown) + "\"";
                return "\"" + wanted + "\" is never shown for \"" + key + "\" (it shows " + all + ")";
            }
            condition.anyOf.push_back(wanted);
        }
        conditions.push_back(std::move(condition));
    }
    return std::nullopt;
}

// One step, or the reason it is refused.
std::optional<std::string> readStep(const QJsonValue &value, SceneStep &step)
{
    if (!value.isObject())
        return std::string("a step is a JSON object");
    const QJsonObject object = value.toObject();
    std::string action;
    for (auto entry = object.begin(); entry != object.end(); ++entry) {
        const std::string key = entry.key().toStdString();
        if (std::find(kStepKeys.begin(), kStepKeys.end(), key) == kStepKeys.end())
            return "unknown field \"" + key + "\"";
        if (key == "command" || key == "send" || key == "wait" || key == "expect" || key == "delay_s") {
            if (!action.empty())
                return "one action a step: both \"" + action + "\" and \"" + key + "\"";
            action = key;
        }
    }
    if (action.empty())
        return std::string("no action: give command, send, wait, expect or delay_s");
    const QJsonValue argument = object.value(QString::fromStdString(action));
    if (action == "command") {
        step.kind = SceneStep::Kind::Command;
        if (!argument.isString() || !commandNamed(argument.toString().toStdString()))
            return "unknown command \""
                + (argument.isString() ? argument.toString().toStdString() : std::string("(not a text)"))
                + "\" (qv550-cli list names them)";
        step.what = argument.toString().toStdString();
    } else if (action == "send") {
        step.kind = SceneStep::Kind::Send;
        if (!argument.isString() || argument.toString().isEmpty())
            return std::string("send takes a line of text");
        step.what = argument.toString().toStdString();
        if (step.what.find_first_of("\r\n") != std::string::npos)
            return std::string("the line to send holds a CR or LF: give one command line; the CR is added");
        std::string unsendable;
        if (!lineBytesFromUtf8(step.what, unsendable))
            return "\"" + unsendable + "\" cannot be sent: the line carries one byte per character (Latin-1)";
    } else if (action == "delay_s") {
        step.kind = SceneStep::Kind::Delay;
        const auto ms = seconds(argument, SceneBook::kLongestS);
        if (!ms)
            return "delay_s is a number of seconds, more than 0 and at most "
                + std::to_string(SceneBook::kLongestS);
        step.delayMs = *ms;
    } else {
        step.kind = action == "wait" ? SceneStep::Kind::Wait : SceneStep::Kind::Expect;
        if (auto why = readCondition(argument, step.conditions))
            return why;
        step.timeoutMs = 1000 * (action == "wait" ? SceneBook::kDefaultWaitS : SceneBook::kDefaultExpectS);
    }
    if (object.contains(QStringLiteral("timeout_s"))) {
        if (step.kind == SceneStep::Kind::Delay)
            return std::string("a delay has no timeout_s");
        const int longest = step.sends() ? 600 : SceneBook::kLongestS;
        const auto ms = seconds(object.value(QStringLiteral("timeout_s")), longest);
        if (!ms)
            return "timeout_s is a number of seconds, more than 0 and at most " + std::to_string(longest);
        step.timeoutMs = *ms;
    }
    if (object.contains(QStringLiteral("address")) || object.contains(QStringLiteral("retry"))) {
        if (!step.sends())
            return std::string("only a command or a line has an address or a retry");
    }
    if (const QJsonValue address = object.value(QStringLiteral("address")); !address.isUndefined()) {
        if (!address.isString() || !addressPrefixFor(address.toString().toStdString()))
            return std::string("address is single, all, 1, 2, 3 or 4");
        step.address = address.toString().toStdString();
    }
    if (const QJsonValue retry = object.value(QStringLiteral("retry")); !retry.isUndefined()) {
        const QJsonObject r = retry.toObject();
        const QJsonValue count = r.value(QStringLiteral("count"));
        // "interval" is taken as seconds too: the word people write first.
        const QJsonValue interval = r.contains(QStringLiteral("interval_s"))
            ? r.value(QStringLiteral("interval_s"))
            : r.value(QStringLiteral("interval"));
        const auto intervalMs = interval.isUndefined() ? std::optional<int>(1000) : seconds(interval, 600);
        bool onlyKnown = true;
        for (auto key = r.begin(); key != r.end(); ++key)
            onlyKnown = onlyKnown
                && (key.key() == QStringLiteral("count") || key.key() == QStringLiteral("interval_s")
                    || key.key() == QStringLiteral("interval"));
        if (!retry.isObject() || !onlyKnown || !count.isDouble() || count.toDouble() < 1
            || count.toDouble() > 100 || count.toDouble() != std::floor(count.toDouble()) || !intervalMs)
            return std::string(
                "retry is {\"count\": 1 to 100, \"interval_s\": seconds, more than 0 and at most 600}");
        step.retries = count.toInt();
        step.retryIntervalMs = *intervalMs;
    }
    if (const QJsonValue onError = object.value(QStringLiteral("on_error")); !onError.isUndefined()) {
        if (onError != QStringLiteral("continue") && onError != QStringLiteral("stop"))
            return std::string("on_error is \"continue\" or \"stop\"");
        step.continueOnError = onError == QStringLiteral("continue");
    }
    return std::nullopt;
}

} // namespace

bool sceneTextMatches(std::string_view shown, std::string_view wanted)
{
    return normalised(shown) == normalised(wanted);
}

std::string SceneStep::describe() const
{
    const auto secondsText = [](int ms) {
        std::string text = std::to_string(ms / 1000);
        if (ms % 1000 != 0) {
            std::string fraction = std::to_string(1000 + ms % 1000).substr(1);
            while (fraction.back() == '0')
                fraction.pop_back();
            text += "." + fraction;
        }
        return text + " s";
    };
    switch (kind) {
    case Kind::Command:
    case Kind::Send:
        return std::string(kind == Kind::Command ? "command " : "send ") + what
            + (address.empty() ? "" : " to " + address);
    case Kind::Delay:
        return "delay " + secondsText(delayMs);
    case Kind::Wait:
    case Kind::Expect: {
        std::string text = kind == Kind::Wait ? "wait" : "expect";
        bool first = true;
        for (const SceneCondition &condition : conditions) {
            text += first ? " " : " and ";
            first = false;
            text += std::string(kLiveQueries[condition.row].name) + " = ";
            for (std::size_t i = 0; i < condition.anyOf.size(); ++i)
                text += (i ? " or " : "") + condition.anyOf[i];
        }
        return text;
    }
    }
    return {};
}

const Scene *SceneBook::find(std::string_view name) const
{
    for (const Scene &scene : scenes) {
        if (scene.name == name)
            return &scene;
    }
    return nullptr;
}

std::optional<SceneBook> parseScenes(std::string_view json, const std::string &file, std::string &whyNot)
{
    if (json.size() > SceneBook::kLongestFile) {
        whyNot = file + ": longer than 1 MiB";
        return std::nullopt;
    }
    QJsonParseError parseError{};
    const QJsonDocument document
        = QJsonDocument::fromJson(QByteArray(json.data(), static_cast<qsizetype>(json.size())), &parseError);
    if (parseError.error != QJsonParseError::NoError) {
        whyNot = file + ": malformed JSON at byte " + std::to_string(parseError.offset) + ": "
            + parseError.errorString().toStdString();
        return std::nullopt;
    }
    if (!document.isObject()) {
        whyNot = file + ": the scenes are a JSON object of named lists of steps";
        return std::nullopt;
    }
    SceneBook book;
    book.file = file;
    const QJsonObject all = document.object();
    for (auto entry = all.begin(); entry != all.end(); ++entry) {
        const std::string name = entry.key().toStdString();
        const std::string where = file + ": scene \"" + name + "\"";
        if (!validName(entry.key())) {
            whyNot = where + ": a scene's name is 1 to 64 letters, digits, '-' or '_'";
            return std::nullopt;
        }
        if (!entry.value().isArray() || entry.value().toArray().isEmpty()) {
            whyNot = where + ": a scene is a list of steps, at least one";
            return std::nullopt;
        }
        const QJsonArray steps = entry.value().toArray();
        if (static_cast<std::size_t>(steps.size()) > SceneBook::kMostSteps) {
            whyNot = where + ": more than 1000 steps";
            return std::nullopt;
        }
        Scene scene;
        scene.name = name;
        for (qsizetype i = 0; i < steps.size(); ++i) {
            SceneStep step;
            if (const auto why = readStep(steps.at(i), step)) {
                whyNot = where + ", step " + std::to_string(i + 1) + ": " + *why;
                return std::nullopt;
            }
            scene.steps.push_back(std::move(step));
        }
        book.scenes.push_back(std::move(scene));
    }
    return book;
}

std::optional<SceneBook> readSceneFile(const std::string &path, std::string &whyNot)
{
    QFile file(QString::fromStdString(path));
    if (!file.open(QIODevice::ReadOnly)) {
        whyNot = path + ": " + file.errorString().toStdString();
        return std::nullopt;
    }
    const QByteArray text = file.read(static_cast<qint64>(SceneBook::kLongestFile) + 1);
    return parseScenes(
        std::string_view(text.constData(), static_cast<std::size_t>(text.size())), path, whyNot);
}
