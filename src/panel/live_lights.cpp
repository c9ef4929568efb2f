// SPDX-License-Identifier: GPL-3.0-or-later
// The read buttons are matched on the reply's code digits, not on the
// decoded texts: thirteen power texts reduce to the first digit's phase.

#include "panel/live_lights.h"

#include <QJsonValue>

#include <algorithm>
#include <array>
#include <cstdio>
#include <string_view>

#include "commands/catalogue.h"
#include "core/view.h"
#include "owner/live_state.h"
#include "protocol/owner_protocol.h"

namespace {

struct LitRow {
    std::string_view control;
    std::string_view query; // the state's key
    std::string_view codes; // reply beginnings that light it, '|' between
};

// clang-format off
constexpr std::array kLitRows = {
    LitRow{"Command17", "status",    "0|4"},   // on, or counting down to it
    LitRow{"Command18", "status",    "8|2"},   // stand-by, or cooling down to it
    LitRow{"Command27", "mode",      "1"},
    LitRow{"Command28", "mode",      "2"},
    LitRow{"Command29", "mode",      "3"},
    LitRow{"Command53", "mode",      "4"},
    LitRow{"Command19", "setting-2", "02|03"}, // sound muted
    LitRow{"Command20", "setting-2", "00|01"},
    LitRow{"Command21", "setting-2", "01|03"}, // picture muted (no show)
    LitRow{"Command22", "setting-2", "00|02"},
    LitRow{"Command56", "lamp-mode", "0"},
    LitRow{"Command57", "lamp-mode", "1"},
    LitRow{"Command58", "lamp-mode", "2"},
};
// clang-format on

QString qs(std::string_view text)
{
    return QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size()));
}

// The reply's bytes of a known value; empty when it is not known now.
std::string replyOf(const QJsonObject &state, std::string_view query)
{
    const QJsonObject entry = state.value(qs(query)).toObject();
    if (!entry.value(field::kStatus).isString())
        return {};
    return QByteArray::fromHex(entry.value(field::kReplyHex).toString().toLatin1()).toStdString();
}

bool beginsWithOneOf(const std::string &reply, std::string_view codes)
{
    while (!codes.empty()) {
        const std::size_t bar = codes.find('|');
        const std::string_view code = codes.substr(0, bar);
        if (!code.empty() && reply.starts_with(code))
            return true;
        codes = bar == std::string_view::npos ? std::string_view() : codes.substr(bar + 1);
    }
    return false;
}

} // namespace

std::set<std::string> litControls(const QJsonObject &state, const QJsonObject &choices)
{
    std::set<std::string> lit;
    const std::string power = replyOf(state, "status");
    const bool on = power.starts_with('0');
    for (const LitRow &row : kLitRows) {
        if (row.query != "status" && !on)
            continue;
        if (beginsWithOneOf(replyOf(state, row.query), row.codes))
            lit.insert(std::string(row.control));
    }
    if (!on)
        return lit;
    for (auto choice = choices.begin(); choice != choices.end(); ++choice) {
        const std::string command = choice.value().toObject().value(field::kCommand).toString().toStdString();
        for (const CatalogueEntry &entry : kCatalogue) {
            if (entry.name == command && entry.group == choice.key().toStdString()) {
                // The read groups are lit from what was read, not from what was asked.
                const bool read = std::any_of(kLitRows.begin(), kLitRows.end(),
                    [&](const LitRow &row) { return row.control == entry.control; });
                if (!read)
                    lit.insert(std::string(entry.control));
            }
        }
    }
    return lit;
}

std::string liveStateText(const QJsonObject &state)
{
    std::string text;
    for (const LiveQuery &query : kLiveQueries) {
        const QJsonObject entry = state.value(qs(query.name)).toObject();
        std::string name(query.name);
        name.resize(std::max<std::size_t>(name.size(), 10), ' ');
        text += name + ' ';
        if (entry.value(field::kStatus).isString()) {
            char age[32];
            std::snprintf(age, sizeof age, "%.1f", entry.value(field::kAgeMs).toDouble() / 1000.0);
            text += entry.value(field::kStatus).toString().toStdString() + " (read " + age + " s ago)";
        } else if (entry.contains(field::kUnknownSince)) {
            text += "unknown since " + entry.value(field::kUnknownSince).toString().toStdString();
            const QJsonObject last = entry.value(field::kLast).toObject();
            if (last.contains(field::kStatus))
                text += " (last read: " + last.value(field::kStatus).toString().toStdString() + ')';
        } else {
            text += "not read yet";
        }
        text += '\n';
    }
    if (!text.empty())
        text.pop_back();
    return text;
}

void LiveLights::show(const QJsonObject &state, const QJsonObject &choices)
{
    std::set<std::string> lit = litControls(state, choices);
    for (const std::string &control : lit_) {
        if (!lit.count(control))
            view_.setLit(control, false);
    }
    for (const std::string &control : lit) {
        if (!lit_.count(control))
            view_.setLit(control, true);
    }
    lit_ = std::move(lit);
    view_.setHint(role::kStatusLine, liveStateText(state));
}
