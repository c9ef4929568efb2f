// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// The owner's socket protocol in one place: its field names, verbs and value
// words, the error texts other programs tell apart, the broadcast prefix and
// the end of a reply. Both ends name the fields through here, so they cannot
// drift apart; the framing is in json_lines.h.

#include <QLatin1String>
#include <QJsonObject>
#include <QJsonValue>

#include <array>
#include <optional>
#include <string>
#include <string_view>

// One request a line, {"id": ..., <verb>: <argument>, <options>...}; one
// reply a line with the same id, or {"id": ..., "error": "..."}; events carry
// "event" and no id of their own (a scene's carry the id that started it).
namespace field {
// Every request.
inline constexpr QLatin1String kId{"id"};
// The verbs: a request has exactly one of them.
inline constexpr QLatin1String kCommand{"command"};
inline constexpr QLatin1String kSend{"send"};
inline constexpr QLatin1String kLease{"lease"};
inline constexpr QLatin1String kRelease{"release"};
inline constexpr QLatin1String kHello{"hello"};
inline constexpr QLatin1String kSubscribe{"subscribe"};
inline constexpr QLatin1String kSpeed{"speed"};
inline constexpr QLatin1String kState{"state"};
inline constexpr QLatin1String kScene{"scene"};
inline constexpr QLatin1String kScenes{"scenes"};
inline constexpr QLatin1String kSceneCancel{"scene_cancel"};
// A request's options.
inline constexpr QLatin1String kAddress{"address"};
inline constexpr QLatin1String kTimeoutMs{"timeout_ms"};
inline constexpr QLatin1String kWait{"wait"};
inline constexpr QLatin1String kMaxAgeMs{"max_age_ms"};
inline constexpr QLatin1String kLineWaitMs{"line_wait_ms"};
// A transaction's reply (also qv550-cli --json's object).
inline constexpr QLatin1String kError{"error"};
inline constexpr QLatin1String kSent{"sent"};
inline constexpr QLatin1String kReplyHex{"reply_hex"};
inline constexpr QLatin1String kMonitor{"monitor"};
inline constexpr QLatin1String kStatus{"status"};
inline constexpr QLatin1String kComplete{"complete"};
inline constexpr QLatin1String kElapsedMs{"elapsed_ms"};
inline constexpr QLatin1String kVia{"via"};
inline constexpr QLatin1String kWritten{"written"};
inline constexpr QLatin1String kReplyExpected{"reply_expected"};
inline constexpr QLatin1String kCached{"cached"};
inline constexpr QLatin1String kAgeMs{"age_ms"};
// The other replies.
inline constexpr QLatin1String kVersion{"version"};
inline constexpr QLatin1String kLine{"line"};
inline constexpr QLatin1String kOwner{"owner"};
inline constexpr QLatin1String kClients{"clients"};
inline constexpr QLatin1String kPolling{"polling"};
inline constexpr QLatin1String kPolls{"polls"};
inline constexpr QLatin1String kLineBusyMs{"line_busy_ms"};
inline constexpr QLatin1String kPanelWritesHeld{"panel_writes_held"};
inline constexpr QLatin1String kChoices{"choices"};
inline constexpr QLatin1String kSubscribed{"subscribed"};
inline constexpr QLatin1String kLeasedS{"leased_s"};
inline constexpr QLatin1String kReleased{"released"};
inline constexpr QLatin1String kFile{"file"};
inline constexpr QLatin1String kRunning{"running"};
inline constexpr QLatin1String kCancelled{"cancelled"};
inline constexpr QLatin1String kName{"name"};
inline constexpr QLatin1String kSteps{"steps"};
// A value of the live state.
inline constexpr QLatin1String kReadAt{"read_at"};
inline constexpr QLatin1String kUnknownSince{"unknown_since"};
inline constexpr QLatin1String kLast{"last"};
// Events.
inline constexpr QLatin1String kEvent{"event"};
inline constexpr QLatin1String kDirection{"direction"};
inline constexpr QLatin1String kBy{"by"};
inline constexpr QLatin1String kHex{"hex"};
inline constexpr QLatin1String kSettings{"settings"};
inline constexpr QLatin1String kRun{"run"};
inline constexpr QLatin1String kStarted{"started"};
inline constexpr QLatin1String kStep{"step"};
inline constexpr QLatin1String kDid{"did"};
inline constexpr QLatin1String kOk{"ok"};
inline constexpr QLatin1String kDetail{"detail"};
inline constexpr QLatin1String kContinued{"continued"};
inline constexpr QLatin1String kEnd{"end"};
inline constexpr QLatin1String kWhy{"why"};
} // namespace field

// The words the protocol's values take.
namespace word {
// What "event" says, and what "subscribe" takes.
inline constexpr QLatin1String kTraffic{"traffic"};
inline constexpr QLatin1String kState{"state"};
inline constexpr QLatin1String kScene{"scene"};
inline constexpr QLatin1String kSettings{"settings"};
// A traffic event's "direction".
inline constexpr QLatin1String kSentWay{"sent"};
inline constexpr QLatin1String kReceivedWay{"received"};
// A reply's "via": who carried the transaction.
inline constexpr QLatin1String kViaOwner{"owner"};
inline constexpr QLatin1String kViaPort{"port"};
// The address that needs no prefix.
inline constexpr QLatin1String kSingle{"single"};
// A scene's "end".
inline constexpr QLatin1String kDone{"done"};
} // namespace word

enum class Verb { Command, Send, Lease, Release, Hello, Subscribe, Speed, State, Scene, Scenes, SceneCancel };

struct VerbName {
    Verb verb;
    QLatin1String name;
};

inline constexpr std::array kVerbs = {
    VerbName{Verb::Command, field::kCommand},
    VerbName{Verb::Send, field::kSend},
    VerbName{Verb::Lease, field::kLease},
    VerbName{Verb::Release, field::kRelease},
    VerbName{Verb::Hello, field::kHello},
    VerbName{Verb::Subscribe, field::kSubscribe},
    VerbName{Verb::Speed, field::kSpeed},
    VerbName{Verb::State, field::kState},
    VerbName{Verb::Scene, field::kScene},
    VerbName{Verb::Scenes, field::kScenes},
    VerbName{Verb::SceneCancel, field::kSceneCancel},
};

// The fields a request may carry besides its verb.
inline constexpr std::array kRequestOptions
    = {field::kId, field::kAddress, field::kTimeoutMs, field::kWait, field::kMaxAgeMs, field::kLineWaitMs};

// The verb `key` names, if it names one.
std::optional<Verb> verbNamed(QStringView key);
QLatin1String verbName(Verb verb);

// Every projector obeys a command to all and none answers it.
inline constexpr std::string_view kBroadcastPrefix = "AFFF";

// The bytes that end a reply: the projector ends every reply with a CR or
// an ACK.
inline constexpr std::string_view kReplyEnds{"\r\x06", 2};
// Whether `reply` is whole.
bool replyEnded(std::string_view reply);

// The error texts that other programs tell apart by their start: a line its
// owner could not open (qv550-cli exits 3), a lease another client holds (a
// PJLink request tries again), and the projector's silence or a reply cut
// off (the line itself is up).
namespace error_text {
inline constexpr std::string_view kLineDown = "the line is down";
inline constexpr std::string_view kLineLeased = "the line is leased to ";
inline constexpr std::string_view kNoReply = "no reply within ";
inline constexpr std::string_view kCutOff = "the reply was cut off";
inline constexpr std::string_view kTooLong = "the request is longer than 64 KiB";
inline constexpr std::string_view kTooManyClients = "too many clients";
} // namespace error_text

std::string lineDownError(const std::string &why);
std::string lineLeasedError(const std::string &holder);
// No byte within the watch, or some but no end: `arrived` is its monitor text.
std::string noReplyError(int watchMs);
std::string cutOffError(int watchMs, const std::string &arrived);
// Whether `error` starts with `text`.
bool errorIs(const QString &error, std::string_view text);
bool errorIs(const std::string &error, std::string_view text);

// {"id": id, "error": why}.
QJsonObject errorReply(const QJsonValue &id, const std::string &why);
