// SPDX-License-Identifier: GPL-3.0-or-later
// A page is trusted with the line only after the server itself saw the PIN:
// anything the browser keeps for itself can be skipped in its developer
// tools. The token it gets is random, lives twelve hours at most, and
// travels only in an HttpOnly, SameSite=Strict cookie, so a script of
// another site cannot read it nor have the browser send it. The Origin of
// the upgrade must be the page's own, as the browser reports it: Qt does
// not look at it.

#include "web/web_face.h"

#include <QJsonDocument>
#include <QMessageAuthenticationCode>
#include <QPasswordDigestor>
#include <QRandomGenerator>

#include <algorithm>
#include <charconv>
#include <set>
#include <tuple>
#include <vector>

#include "commands/catalogue.h"
#include "commands/hold_buttons.h"
#include "commands/named_commands.h"
#include "panel/live_lights.h"
#include "owner/live_state.h"
#include "owner/owner_service.h"
#include "core/timer.h"
#include "protocol/json_lines.h"
#include "protocol/owner_protocol.h"
#include "panel/timer_ticks.h"
#include "panel/control_table.h"

namespace {

QString qs(std::string_view text)
{
    return QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size()));
}

// The page's own messages on its WebSocket. Some of their words are also
// the owner's; the two meet only in this file, so each use says whose it is.
namespace pageKey {
constexpr QLatin1String kId{"id"};
constexpr QLatin1String kResult{"result"};
constexpr QLatin1String kHello{"hello"};
constexpr QLatin1String kVersion{"version"};
constexpr QLatin1String kLine{"line"};
constexpr QLatin1String kLayout{"layout"};
constexpr QLatin1String kValues{"values"};
constexpr QLatin1String kPing{"ping"};
constexpr QLatin1String kPong{"pong"};
constexpr QLatin1String kAlive{"alive"};
constexpr QLatin1String kPress{"press"};
constexpr QLatin1String kSend{"send"};
constexpr QLatin1String kScene{"scene"};
constexpr QLatin1String kScenes{"scenes"};
constexpr QLatin1String kAddress{"address"};
constexpr QLatin1String kHold{"hold"};
constexpr QLatin1String kRelease{"release"};
constexpr QLatin1String kEnded{"ended"};
constexpr QLatin1String kStarted{"started"};
constexpr QLatin1String kState{"state"};
constexpr QLatin1String kChoices{"choices"};
constexpr QLatin1String kLit{"lit"};
constexpr QLatin1String kName{"name"};
} // namespace pageKey

// The ids of a page's own requests to the owner; those it asks for the
// page are "p1", "p2", ...
constexpr QLatin1String kHoldId{"hold"};
constexpr QLatin1String kStateId{"state"};
constexpr QLatin1String kScenesId{"scenes"};

// {"id": id, verb: argument} as the line the owner reads.
std::string ownerRequest(QLatin1String id, QLatin1String verb, const QJsonValue &argument)
{
    QJsonObject request;
    request[field::kId] = id;
    request[verb] = argument;
    return jsonLine(request).toStdString();
}

const ControlRow *rowOf(std::string_view control)
{
    for (const ControlRow &row : kControls) {
        if (row.name == control)
            return &row;
    }
    return nullptr;
}

QString colour(std::int32_t rgb)
{
    if (rgb == kSystemColour)
        rgb = kWindowBack;
    char text[8];
    std::snprintf(text, sizeof text, "#%06X", static_cast<unsigned>(rgb) & 0xFFFFFFu);
    return QString::fromLatin1(text);
}

// Where a control is on the window, in twips, frames included.
std::pair<int, int> placeOf(const ControlRow &row)
{
    int top = row.top;
    int left = row.left;
    for (std::string_view container = row.container; container != "Form1";) {
        const ControlRow *frame = rowOf(container);
        if (!frame)
            break;
        top += frame->top;
        left += frame->left;
        container = frame->container;
    }
    return {top, left};
}

bool technicianGroup(std::string_view group)
{
    return group == "Input selection matrix" || group == "CMD";
}

// The control that sends a named command (the catalogue's or a hold's).
std::string_view controlOf(std::string_view name)
{
    for (const CatalogueEntry &entry : kCatalogue) {
        if (entry.name == name)
            return entry.control;
    }
    for (const HoldButton &button : kHoldButtons) {
        if (button.name == name)
            return button.control;
    }
    return {};
}

const HoldButton *holdNamed(std::string_view name)
{
    for (const HoldButton &button : kHoldButtons) {
        if (button.name == name)
            return &button;
    }
    return nullptr;
}

bool timeSafeEqual(const std::string &a, const std::string &b)
{
    unsigned char difference = a.size() == b.size() ? 0 : 1;
    for (std::size_t i = 0; i < a.size(); ++i)
        difference |= static_cast<unsigned char>(a[i] ^ (i < b.size() ? b[i] : 0));
    return difference == 0;
}

// Host headers a loopback listener answers to: anything else was resolved
// to us by a name someone else controls (DNS rebinding).
bool loopbackHost(const std::string &host)
{
    std::string name = host;
    if (name.starts_with('[')) {
        name = name.substr(0, name.find(']') + 1);
    } else if (const auto colon = name.rfind(':'); colon != std::string::npos) {
        name.resize(colon);
    }
    return name == "127.0.0.1" || name == "localhost" || name == "[::1]";
}

} // namespace

std::string cookieValue(const std::string &header, const std::string &name)
{
    std::size_t at = 0;
    while (at < header.size()) {
        std::size_t end = header.find(';', at);
        if (end == std::string::npos)
            end = header.size();
        std::string pair = header.substr(at, end - at);
        const auto first = pair.find_first_not_of(' ');
        pair = first == std::string::npos ? std::string() : pair.substr(first);
        if (pair.size() > name.size() && pair.compare(0, name.size(), name) == 0 && pair[name.size()] == '=')
            return pair.substr(name.size() + 1);
        at = end + 1;
    }
    return {};
}

WebFace::WebFace(OwnerService &service, LiveState &state, std::function<std::int64_t()> now,
    std::function<std::unique_ptr<Timer>(int)> makeTimer, WebSettings settings)
    : service_(service), state_(state), now_(std::move(now)), makeTimer_(std::move(makeTimer)),
      settings_(std::move(settings))
{
    // Tokens are signed, not stored: a qv550d started again still knows the
    // pages it let in, and a new PIN shuts every one of them out. Without
    // a PIN the key is new each time, as the page then gets a token with itself.
    if (needsPin()) {
        key_ = QPasswordDigestor::deriveKeyPbkdf2(QCryptographicHash::Sha256,
            QByteArray::fromStdString(settings_.pin), QByteArrayLiteral("qv550d page sessions"), 20000, 32);
    } else {
        for (int i = 0; i < 8; ++i) {
            const quint32 word = QRandomGenerator::system()->generate();
            key_.append(reinterpret_cast<const char *>(&word), sizeof word);
        }
    }
}

WebFace::~WebFace()
{
    while (!pages_.empty())
        close(pages_.begin()->first);
}

std::string WebFace::makeToken()
{
    std::string nonce = settings_.random ? settings_.random(16) : std::string();
    if (nonce.empty()) {
        for (int i = 0; i < 4; ++i) {
            const quint32 word = QRandomGenerator::system()->generate();
            nonce.append(reinterpret_cast<const char *>(&word), sizeof word);
        }
    }
    const std::string payload
        = std::to_string(now_()) + "." + QByteArray::fromStdString(nonce).toHex().toStdString();
    return payload + "." + signature(payload);
}

std::string WebFace::signature(const std::string &payload) const
{
    return QMessageAuthenticationCode::hash(
        QByteArray::fromStdString(payload), key_, QCryptographicHash::Sha256)
        .toHex()
        .toStdString();
}

WebFace::Login WebFace::login(const std::string &peer, const std::string &pin)
{
    Login result;
    const std::int64_t now = now_();
    if (!needsPin()) {
        result.status = 200;
        result.token = tokenForPage();
        return result;
    }
    if (strikes_.size() >= kMaxAddresses && !strikes_.count(peer)) {
        auto stalest = std::min_element(strikes_.begin(), strikes_.end(),
            [](const auto &a, const auto &b) { return a.second.lastAt < b.second.lastAt; });
        strikes_.erase(stalest);
    }
    Strikes &strikes = strikes_[peer];
    strikes.lastAt = now;
    if (strikes.lockedUntil > now) {
        result.status = 429;
        result.retryAfterS = static_cast<int>((strikes.lockedUntil - now + 999) / 1000);
        result.why = "too many wrong PINs from this address: try again in "
            + std::to_string(result.retryAfterS) + " s";
        return result;
    }
    if (!timeSafeEqual(pin, settings_.pin)) {
        result.status = 403;
        result.why = "wrong PIN";
        if (++strikes.wrong >= kWrongPinsAllowed) {
            const std::int64_t wait = std::min<std::int64_t>(
                static_cast<std::int64_t>(kLockoutMs) << std::min(strikes.lockouts, 10), kMaxLockoutMs);
            strikes.lockedUntil = now + wait;
            strikes.wrong = 0;
            ++strikes.lockouts;
            result.retryAfterS = static_cast<int>(wait / 1000);
            result.why += ": this address waits " + std::to_string(result.retryAfterS) + " s";
        }
        return result;
    }
    strikes_.erase(peer);
    result.status = 200;
    result.token = makeToken();
    return result;
}

std::string WebFace::tokenForPage()
{
    if (needsPin())
        return {};
    return makeToken();
}

std::string WebFace::cookieFor(const std::string &token)
{
    return std::string(kCookie) + "=" + token
        + "; Path=/; HttpOnly; SameSite=Strict; Max-Age=" + std::to_string(kTokenLifeMs / 1000);
}

bool WebFace::tokenValid(const std::string &cookie) const
{
    const std::string token = cookieValue(cookie, kCookie);
    if (token.empty())
        return false;
    // issued.nonce.signature
    const auto dot = token.rfind('.');
    const auto first = token.find('.');
    if (dot == std::string::npos || first == dot
        || !timeSafeEqual(token.substr(dot + 1), signature(token.substr(0, dot))))
        return false;
    std::int64_t issued = 0;
    const auto parsed = std::from_chars(token.data(), token.data() + first, issued);
    if (parsed.ec != std::errc() || parsed.ptr != token.data() + first)
        return false;
    const std::int64_t age = now_() - issued;
    return age >= 0 && age <= kTokenLifeMs;
}

std::string WebFace::admission(
    const std::string &cookie, const std::string &origin, const std::string &host) const
{
    if (host.empty())
        return "no Host";
    if (settings_.loopbackOnly && !loopbackHost(host))
        return "Host " + host + " is not this loopback listener";
    if (origin != "http://" + host)
        return "Origin " + (origin.empty() ? std::string("(none)") : origin) + " is not this page's";
    if (!tokenValid(cookie))
        return "no valid session: open the page and give the PIN";
    return {};
}

int WebFace::open(const std::string &peer, std::function<void(const std::string &)> send)
{
    if (pages_.size() >= static_cast<std::size_t>(kMaxPages))
        return -1;
    const int id = nextPage_++;
    Page &page = pages_[id];
    page.peer = peer;
    page.send = std::move(send);
    page.timer1Ms = kTimer1Design;
    page.client = service_.connect(
        [this, id](const std::string &line) { fromOwner(id, line); }, "web page (" + peer + ")");
    QJsonObject hello;
    hello[pageKey::kVersion] = qs(settings_.version);
    hello[pageKey::kLine] = qs(settings_.line);
    hello[pageKey::kLayout] = layout();
    QJsonArray values;
    for (const LiveQuery &query : kLiveQueries)
        values.append(qs(query.name));
    hello[pageKey::kValues] = values;
    QJsonObject wrapped;
    wrapped[pageKey::kHello] = hello;
    sendTo(id, wrapped);
    // The state now and on every change, as any subscriber of the owner gets it.
    service_.receive(page.client, ownerRequest(kStateId, field::kSubscribe, word::kState));
    // The scenes the owner runs, for the page's scene buttons.
    service_.receive(page.client, ownerRequest(kScenesId, field::kScenes, true));
    return id;
}

void WebFace::close(int id)
{
    auto found = pages_.find(id);
    if (found == pages_.end())
        return;
    found->second.hold.reset(); // no repeat after the page has gone
    service_.disconnect(found->second.client);
    pages_.erase(found);
}

void WebFace::sendTo(int id, const QJsonObject &object)
{
    auto found = pages_.find(id);
    if (found != pages_.end() && found->second.send)
        found->second.send(jsonText(object));
}

void WebFace::refuse(int id, const QJsonValue &pageId, const std::string &why)
{
    QJsonObject result;
    result[field::kError] = qs(why);
    QJsonObject reply;
    reply[pageKey::kId] = pageId;
    reply[pageKey::kResult] = result;
    sendTo(id, reply);
}

void WebFace::ask(int id, QJsonObject request, const QJsonValue &pageId)
{
    Page &page = pages_.at(id);
    const std::string ownerId = "p" + std::to_string(page.nextAsk++);
    page.asked[ownerId] = pageId;
    request[field::kId] = qs(ownerId);
    service_.receive(page.client, jsonLine(request).toStdString());
}

bool WebFace::message(int id, const std::string &text)
{
    auto found = pages_.find(id);
    if (found == pages_.end())
        return false;
    if (text.size() > kMessageLimit)
        return false;
    QJsonParseError error{};
    const QJsonDocument document = QJsonDocument::fromJson(QByteArray::fromStdString(text), &error);
    if (!document.isObject()) {
        refuse(id, QJsonValue(), "not a JSON object");
        return true;
    }
    const QJsonObject object = document.object();
    const QJsonValue pageId = object.value(pageKey::kId);
    if (object.contains(pageKey::kPing)) { // the page hears that we are here
        QJsonObject pong;
        pong[pageKey::kPong] = object.value(pageKey::kPing);
        sendTo(id, pong);
        return true;
    }
    if (object.contains(pageKey::kAlive)) {
        Page &page = found->second;
        if (page.hold && page.hold->name == object.value(pageKey::kAlive).toString().toStdString())
            page.hold->aliveAt = now_();
        return true;
    }
    if (object.contains(pageKey::kHold)) {
        startHold(id, object.value(pageKey::kHold).toString().toStdString());
        return true;
    }
    if (object.contains(pageKey::kRelease)) {
        Page &page = found->second;
        if (page.hold && page.hold->name == object.value(pageKey::kRelease).toString().toStdString())
            endHold(id, "released");
        return true;
    }
    QJsonObject request;
    if (object.contains(pageKey::kPress)) {
        const std::string name = object.value(pageKey::kPress).toString().toStdString();
        if (!commandNamed(name))
            return refuse(id, pageId, "no command is named \"" + name + "\""), true;
        if (name == "a-image") // as the panel's A-IMAGE: the cursor pad repeats at 200 ms from now
            found->second.timer1Ms = 200;
        request[field::kCommand] = qs(name);
    } else if (object.contains(pageKey::kSend)) {
        const QJsonValue line = object.value(pageKey::kSend);
        if (!line.isString() || line.toString().isEmpty())
            return refuse(id, pageId, "send takes the line to send"), true;
        // What a person types on the line: printable, and short (the CR is added).
        if (line.toString().size() > kLongestLine)
            return refuse(id, pageId, "a line is at most " + std::to_string(kLongestLine) + " characters"),
                   true;
        for (const QChar c : line.toString()) {
            if (c.unicode() < 0x20 || c.unicode() == 0x7f)
                return refuse(id, pageId, "a line to send is printable text (the CR is added)"), true;
        }
        request[field::kSend] = line;
    } else if (object.contains(pageKey::kScene)) {
        const QJsonValue name = object.value(pageKey::kScene);
        if (!name.isString() || name.toString().isEmpty())
            return refuse(id, pageId, "scene takes a scene's name"), true;
        request[field::kScene] = name; // the owner knows its scenes
    } else {
        return refuse(id, pageId, "a message is press, send, scene, hold, alive or release"), true;
    }
    if (const QJsonValue address = object.value(pageKey::kAddress); address.isString())
        request[field::kAddress] = address;
    ask(id, request, pageId);
    return true;
}

void WebFace::startHold(int id, const std::string &name)
{
    Page &page = pages_.at(id);
    const HoldButton *button = holdNamed(name);
    if (!button) {
        QJsonObject ended;
        ended[pageKey::kHold] = qs(name);
        ended[pageKey::kEnded] = QStringLiteral("not a button that repeats");
        return sendTo(id, ended);
    }
    if (page.hold)
        endHold(id, "another hold started");
    // The period the panel's Timer1 has for this button: its own, or for a
    // cursor-pad arrow, whatever the last hold or A-IMAGE left.
    if (!button->cursorPadArrow)
        page.timer1Ms = button->timer1;
    auto hold = std::make_unique<Hold>();
    hold->name = name;
    hold->aliveAt = now_();
    hold->repeat = makeTimer_(page.timer1Ms);
    hold->repeat->setInterval(page.timer1Ms);
    hold->repeat->setOnTick([this, id] { repeatHold(id); });
    hold->watch = makeTimer_(kAliveCheckMs);
    hold->watch->setInterval(kAliveCheckMs);
    hold->watch->setOnTick([this, id] {
        Page &held = pages_.at(id);
        if (held.hold && now_() - held.hold->aliveAt > kAliveMs)
            endHold(id, "keep-alive stopped");
    });
    page.hold = std::move(hold);
    QJsonObject started;
    started[pageKey::kHold] = qs(name);
    started[pageKey::kStarted] = page.timer1Ms;
    sendTo(id, started);
    page.repeatOut = true;
    QJsonObject request;
    request[field::kId] = kHoldId;
    request[field::kCommand] = qs(name);
    request[field::kWait] = false;
    page.hold->repeat->setEnabled(true);
    page.hold->watch->setEnabled(true);
    service_.receive(page.client, jsonLine(request).toStdString());
}

void WebFace::repeatHold(int id)
{
    Page &page = pages_.at(id);
    if (!page.hold)
        return;
    if (now_() - page.hold->aliveAt > kAliveMs)
        return endHold(id, "keep-alive stopped");
    if (page.repeatOut)
        return; // the last one is still on the line: this tick is skipped, not queued
    page.repeatOut = true;
    QJsonObject request;
    request[field::kId] = kHoldId;
    request[field::kCommand] = qs(page.hold->name);
    request[field::kWait] = false;
    service_.receive(page.client, jsonLine(request).toStdString());
}

void WebFace::endHold(int id, const char *why)
{
    Page &page = pages_.at(id);
    if (!page.hold)
        return;
    QJsonObject ended;
    ended[pageKey::kHold] = qs(page.hold->name);
    ended[pageKey::kEnded] = QString::fromLatin1(why);
    // Stopped now, destroyed later: this may be one of its own timers' ticks.
    page.hold->repeat->setEnabled(false);
    page.hold->watch->setEnabled(false);
    page.retired = std::move(page.hold);
    sendTo(id, ended);
}

void WebFace::fromOwner(int id, const std::string &line)
{
    auto found = pages_.find(id);
    if (found == pages_.end())
        return;
    Page &page = found->second;
    QJsonObject object = jsonObject(line);
    if (object.value(field::kEvent) == QJsonValue(word::kState)) {
        const QJsonObject state = object.value(field::kState).toObject();
        const QJsonObject choices = object.value(field::kChoices).toObject();
        QJsonArray lit;
        for (const std::string &control : litControls(state, choices)) {
            for (const CatalogueEntry &entry : kCatalogue) {
                if (entry.control == control && !entry.name.empty())
                    lit.append(qs(entry.name));
            }
        }
        QJsonObject out;
        out[pageKey::kState] = state;
        out[pageKey::kChoices] = choices;
        out[pageKey::kLit] = lit;
        return sendTo(id, out);
    }
    const QString ownerId = object.value(field::kId).toString();
    if (ownerId == kHoldId) {
        page.repeatOut = false;
        // A refused or failed repeat ends the hold: it would fail the same way again.
        if (object.contains(field::kError) && page.hold) {
            QJsonObject reply;
            reply[pageKey::kId] = QJsonValue();
            object.remove(field::kId);
            reply[pageKey::kResult] = object;
            sendTo(id, reply);
            endHold(id, "refused");
        }
        return;
    }
    if (ownerId == kScenesId) {
        QJsonObject scenes;
        scenes[pageKey::kScenes] = object.value(field::kScenes).toArray();
        return sendTo(id, scenes);
    }
    const auto asked = page.asked.find(ownerId.toStdString());
    if (asked == page.asked.end())
        return; // the subscription's own answer
    object.remove(field::kId);
    // A scene answers with its start, then each step as it ends, then its
    // end: the page hears them all under its own id.
    if (object.value(field::kEvent) == QJsonValue(word::kScene)) {
        object.remove(field::kEvent);
        QJsonObject progress;
        progress[pageKey::kId] = asked->second;
        progress[pageKey::kScene] = object;
        if (object.contains(field::kEnd))
            page.asked.erase(asked);
        return sendTo(id, progress);
    }
    QJsonObject reply;
    reply[pageKey::kId] = asked->second;
    reply[pageKey::kResult] = object;
    page.asked.erase(asked);
    sendTo(id, reply);
}

QJsonArray WebFace::layout()
{
    struct Button {
        std::string_view name, caption, group;
        std::int32_t back;
        std::pair<int, int> place;
        bool hold;
        bool choice;
    };
    std::vector<Button> buttons;
    for (const NamedCommand &command : namedCommands()) {
        const ControlRow *row = rowOf(controlOf(command.name));
        if (!row)
            continue;
        buttons.push_back({command.name, command.caption, command.group, row->back, placeOf(*row),
            holdNamed(command.name) != nullptr,
            choiceGroupFor(std::string(command.code) + "\r").has_value()});
    }
    // Groups in the order they are read on the window: by their top-left control.
    std::vector<std::pair<std::pair<int, int>, std::string_view>> groups;
    for (const Button &button : buttons) {
        auto found = std::find_if(
            groups.begin(), groups.end(), [&](const auto &group) { return group.second == button.group; });
        if (found == groups.end())
            groups.push_back({button.place, button.group});
        else
            found->first = std::min(found->first, button.place);
    }
    std::stable_sort(groups.begin(), groups.end());
    QJsonArray out;
    for (const auto &[place, group] : groups) {
        QJsonArray members;
        std::int32_t groupColour = kSystemColour;
        for (const Button &button : buttons) {
            if (button.group != group)
                continue;
            if (groupColour == kSystemColour && button.back != kSystemColour && button.back != kWindowBack)
                groupColour = button.back;
            QJsonObject member;
            member[pageKey::kName] = qs(button.name);
            member[QStringLiteral("caption")] = qs(button.caption);
            member[QStringLiteral("colour")] = colour(button.back);
            if (button.hold)
                member[pageKey::kHold] = true;
            if (button.choice) // lit while it is what the projector does
                member[QStringLiteral("choice")] = true;
            members.append(member);
        }
        QJsonObject entry;
        entry[QStringLiteral("group")] = qs(group);
        entry[QStringLiteral("colour")] = colour(groupColour);
        if (technicianGroup(group))
            entry[QStringLiteral("technician")] = true;
        entry[QStringLiteral("buttons")] = members;
        out.append(entry);
    }
    return out;
}
