// SPDX-License-Identifier: GPL-3.0-or-later
// Only a whole reply to a query sent without an address is taken in: with an
// address the reply is another projector's on the same line, and a cut-off
// reply is not a value the projector gave.

#include "owner/live_state.h"

#include <QDateTime>
#include <QJsonValue>

#include "commands/catalogue.h"
#include "commands/named_commands.h"
#include "core/monitor_text.h"
#include "owner/reply_object.h"

namespace {

struct GroupRow {
    std::string_view group;
    std::string_view confirmCode; // the query that reports it; empty when none does
};

// The groups of the window whose buttons set a state of the projector.
// clang-format off
constexpr std::array kChoiceGroups = {
    GroupRow{"POWER", "CR0"},         GroupRow{"INPUT MODE SET", "CR1"},
    GroupRow{"SOUND MUTE", "CRA"},    GroupRow{"NO SHOW", "CRA"},
    GroupRow{"LAMP SELECT", "CR7"},   GroupRow{"FREEZE", ""},
    GroupRow{"Screen size", ""},      GroupRow{"Image modes", ""},
    GroupRow{"FAN SPEED", ""},
};
// clang-format on

std::optional<std::size_t> rowOfCode(std::string_view code)
{
    for (std::size_t row = 0; row < kLiveQueries.size(); ++row) {
        if (kLiveQueries[row].code == code)
            return row;
    }
    return std::nullopt;
}

QString utcText(std::int64_t wallMs)
{
    // Not the Qt::TimeSpec overload, deprecated from Qt 6.8, nor
    // QTimeZone::utc(), which Qt 6.4 lacks.
    return QDateTime::fromMSecsSinceEpoch(wallMs).toUTC().toString(Qt::ISODate);
}

} // namespace

std::optional<ChoiceGroup> choiceGroupFor(std::string_view sent)
{
    if (sent.empty() || sent.back() != '\r')
        return std::nullopt;
    const std::string_view code = sent.substr(0, sent.size() - 1);
    for (const CatalogueEntry &entry : kCatalogue) {
        if (entry.code != code || entry.code.starts_with("CR"))
            continue;
        for (const GroupRow &row : kChoiceGroups) {
            if (row.group == entry.group)
                return ChoiceGroup{
                    row.group, row.confirmCode.empty() ? std::nullopt : rowOfCode(row.confirmCode)};
        }
    }
    return std::nullopt;
}

LiveState::LiveState(std::function<std::int64_t()> now) : now_(std::move(now))
{ }

std::optional<std::size_t> LiveState::rowFor(std::string_view sent)
{
    for (std::size_t row = 0; row < kLiveQueries.size(); ++row) {
        if (statusQueryFor(sent, "") == kLiveQueries[row].query)
            return row;
    }
    return std::nullopt;
}

void LiveState::exchanged(const std::string &sent, const std::string &reply, bool complete)
{
    if (!complete)
        return;
    if (const auto row = rowFor(sent)) {
        // ERR is the projector's refusal, not a reading: decoded as figures
        // it would become lamp hours or a temperature the projector never gave.
        if (reply.rfind("ERR", 0) == 0)
            return;
        const auto status = decodedStatus(sent, "", reply);
        if (!status)
            return; // a code the query does not know tells nothing
        Value &value = values_[*row];
        const bool news = value.status != status || value.unknownSince;
        value.status = status;
        value.reply = reply;
        value.readAt = now_();
        value.unknownSince.reset();
        if (news)
            changed();
        return;
    }
    if (reply.find('\x06') == std::string::npos)
        return;
    const auto group = choiceGroupFor(sent);
    if (!group)
        return;
    for (const NamedCommand &command : namedCommands()) {
        if (command.code.size() + 1 == sent.size() && sent.starts_with(command.code)) {
            Choice &choice = choices_[std::string(group->group)];
            const bool news = choice.command != command.name;
            choice = Choice{std::string(command.name), now_()};
            if (news)
                changed();
            return;
        }
    }
}

void LiveState::unknownFromNow()
{
    bool news = false;
    for (Value &value : values_) {
        if (!value.unknownSince) {
            value.unknownSince = now_();
            news = news || value.readAt.has_value();
        }
    }
    if (news)
        changed();
}

void LiveState::forget()
{
    values_ = {};
    choices_.clear();
    changed();
}

std::optional<std::int64_t> LiveState::ageMs(std::size_t row) const
{
    const Value &value = values_[row];
    if (!value.readAt || value.unknownSince)
        return std::nullopt;
    return now_() - *value.readAt;
}

PowerPhase LiveState::power() const
{
    const Value &value = values_[0];
    if (!value.status || value.unknownSince || value.reply.empty())
        return PowerPhase::Unknown;
    switch (value.reply.front()) {
    case '0':
        return PowerPhase::On;
    case '8':
        return PowerPhase::Standby;
    case '4':
        return PowerPhase::CountDown;
    case '2':
        return PowerPhase::Cooling;
    case '1':
        return PowerPhase::Fail;
    default:
        return PowerPhase::Unknown;
    }
}

QJsonObject LiveState::toJson() const
{
    const std::int64_t now = now_();
    const std::int64_t wallNow = QDateTime::currentMSecsSinceEpoch();
    QJsonObject state;
    for (std::size_t row = 0; row < kLiveQueries.size(); ++row) {
        const Value &value = values_[row];
        QJsonObject entry;
        const auto age = ageMs(row);
        entry[field::kStatus]
            = age && value.status ? QJsonValue(QString::fromStdString(*value.status)) : QJsonValue();
        entry[field::kAgeMs] = age ? QJsonValue(static_cast<double>(*age)) : QJsonValue();
        if (age) {
            entry[field::kReplyHex] = QString::fromStdString(hexText(value.reply, ""));
            // For a reader who gets this later (a retained MQTT message), when it was read.
            entry[field::kReadAt] = utcText(wallNow - *age);
        }
        if (value.unknownSince) {
            entry[field::kUnknownSince] = utcText(wallNow - (now - *value.unknownSince));
            if (value.readAt && value.status) {
                QJsonObject last;
                last[field::kStatus] = QString::fromStdString(*value.status);
                last[field::kAgeMs] = static_cast<double>(now - *value.readAt);
                entry[field::kLast] = last;
            }
        }
        state[QString::fromUtf8(
            kLiveQueries[row].name.data(), static_cast<qsizetype>(kLiveQueries[row].name.size()))]
            = entry;
    }
    return state;
}

QJsonObject LiveState::choicesJson() const
{
    QJsonObject all;
    for (const auto &[group, choice] : choices_) {
        QJsonObject entry;
        entry[field::kCommand] = QString::fromStdString(choice.command);
        entry[field::kAgeMs] = static_cast<double>(now_() - choice.at);
        all[QString::fromStdString(group)] = entry;
    }
    return all;
}

void LiveState::changed()
{
    for (const auto &listener : listeners_)
        listener();
}

QJsonObject stateEntry(const QJsonObject &state, std::string_view name)
{
    return state.value(QLatin1String(name.data(), static_cast<qsizetype>(name.size()))).toObject();
}
