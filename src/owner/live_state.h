// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// What the line's owner knows of the projector: the last decoded reply to
// each of the nine status queries, with when it was read, whoever asked (a
// poll, the person at the panel, a script), and the last acknowledged choice
// of the settings no query reports (freeze, screen size, image mode, fan
// speed). A value is unknown until first read, and unknown again from the
// moment the line goes down or the projector stops answering: it is never
// shown as current when it is not.

#include <QJsonObject>

#include <array>
#include <cstdint>
#include <functional>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "core/reply_decoders.h"

// How often a value is worth asking for.
enum class Pace { Power, Fast, Slow };

struct LiveQuery {
    std::string_view name; // the command's name, and the key in the state object
    std::string_view code; // what is sent, without the CR
    StatusQuery query;
    Pace pace;
    // An answer this young is given from the cache, not asked again: the
    // projector is asked at most once for what two clients want at once.
    // Lamp hours move by one an hour, the PC type never, the pressure slowly.
    int maxAgeMs;
};

// clang-format off
inline constexpr std::array kLiveQueries = {
    LiveQuery{"status",    "CR0",         StatusQuery::CR0,      Pace::Power, 1000},
    LiveQuery{"mode",      "CR1",         StatusQuery::CR1,      Pace::Fast,  1000},
    LiveQuery{"lamp-time", "CR3",         StatusQuery::CR3,      Pace::Slow,  60000},
    LiveQuery{"setting",   "CR4",         StatusQuery::CR4,      Pace::Fast,  1000},
    LiveQuery{"temp",      "CR6",         StatusQuery::CR6,      Pace::Fast,  5000},
    LiveQuery{"lamp-mode", "CR7",         StatusQuery::CR7,      Pace::Fast,  1000},
    LiveQuery{"pc-type",   "CR9",         StatusQuery::CR9,      Pace::Slow,  60000},
    LiveQuery{"setting-2", "CRA",         StatusQuery::CRA,      Pace::Fast,  1000},
    LiveQuery{"pressure",  "CR PRESSURE", StatusQuery::Pressure, Pace::Slow,  60000},
};
// clang-format on

// The power status's first code digit, as a phase.
enum class PowerPhase { Unknown, On, Standby, CountDown, Cooling, Fail };

class LiveState {
public:
    struct Value {
        std::optional<std::string> status;  // the decoded text (no leading blank)
        std::string reply;                  // the reply's bytes
        std::optional<std::int64_t> readAt; // when it was read
        std::optional<std::int64_t> unknownSince;
    };
    struct Choice {
        std::string command; // "freeze-on"
        std::int64_t at = 0;
    };

    // `now`: a steady clock in milliseconds.
    explicit LiveState(std::function<std::int64_t()> now);

    // An exchange on the line: `sent` with its CR. Replies to the nine
    // queries are taken in, an acknowledged choice is remembered; anything
    // else, or a reply that did not end, changes nothing.
    void exchanged(const std::string &sent, const std::string &reply, bool complete);
    // The line went down or the projector went silent: every value is
    // unknown from now on, until it is read again.
    void unknownFromNow();
    // Another line, another projector: nothing is known of it.
    void forget();

    // The row of kLiveQueries that `sent` asks (no address), if any.
    static std::optional<std::size_t> rowFor(std::string_view sent);
    const Value &value(std::size_t row) const { return values_[row]; }
    std::optional<std::int64_t> ageMs(std::size_t row) const;
    PowerPhase power() const;
    // Choices by group ("FREEZE"), for the settings no query reports.
    const std::map<std::string, Choice> &choices() const { return choices_; }

    // {"status": {"status": "Power ON", "age_ms": 1200, "read_at": "2026-...Z",
    // "reply_hex": "30300D"}, ...}: the nine
    // queries by name; an unknown value has "status" and "age_ms" null, and
    // "unknown_since" (UTC) and "last" once it had been read.
    QJsonObject toJson() const;
    // {"FREEZE": {"command": "freeze-on", "age_ms": 5000}, ...}
    QJsonObject choicesJson() const;

    // Called after anything that a reader would see as a change: a new
    // text, a value becoming known or unknown, a new choice.
    void listen(std::function<void()> listener) { listeners_.push_back(std::move(listener)); }

private:
    void changed();

    std::function<std::int64_t()> now_;
    std::array<Value, kLiveQueries.size()> values_{};
    std::map<std::string, Choice> choices_;
    std::vector<std::function<void()>> listeners_;
};

// The group of a command whose acknowledgement changes what the projector
// does (power, input, mutes, lamps, freeze, screen, image mode, fan speed),
// and the query that reports it, if any; nothing for other commands.
struct ChoiceGroup {
    std::string_view group;                // the catalogue's group
    std::optional<std::size_t> confirmRow; // the kLiveQueries row that reports it
};
std::optional<ChoiceGroup> choiceGroupFor(std::string_view sent);

// The entry of the row named `name` ("status", "pressure": a name of
// kLiveQueries) in a state object, as toJson() writes it.
QJsonObject stateEntry(const QJsonObject &state, std::string_view name);
