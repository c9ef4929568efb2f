// SPDX-License-Identifier: GPL-3.0-or-later
// The touch page's logic on the serial double and the virtual clock: PINs
// and their limit per address, signed tokens, which WebSockets are let in,
// presses through the owner, holds repeated at the panel's periods and
// stopped by release, silence or a closed page, the bounds on pages and
// messages, the layout the page is built from, and the listener's settings.

#include <gtest/gtest.h>

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

#include <memory>
#include <set>
#include <string>
#include <vector>

#include "owner/live_owner.h"
#include "owner/owner_service.h"
#include "owner/scene_book.h"
#include "owner/scene_runner.h"
#include "owner/scene_service.h"
#include "owner/service_config.h"
#include "owner_rig.h"
#include "serial_double.h"
#include "timers/virtual_clock.h"
#include "web/web_face.h"

namespace {

QJsonObject json(const std::string &text)
{
    return QJsonDocument::fromJson(QByteArray::fromStdString(text)).object();
}

class Web : public ::testing::Test, protected OwnerRig {
protected:
    Web() : OwnerRig("ttyUSB0", "qv550d")
    {
        shared.setOnComm([this] { (void)shared.input(); });
        clock.advance(1000); // tokens carry their time: not at zero
    }

    std::unique_ptr<WebFace> face(const std::string &pin = "2468", bool loopback = true)
    {
        WebSettings settings;
        settings.pin = pin;
        settings.loopbackOnly = loopback;
        settings.version = "1.2.3";
        settings.line = "/dev/ttyUSB0";
        return std::make_unique<WebFace>(
            service, live.state, [this] { return clock.now(); },
            [this](int interval) { return clock.createTimer(interval); }, settings);
    }

    // A page let in, whose messages are kept.
    int open(WebFace &web, std::vector<QJsonObject> &heard, const std::string &peer = "192.0.2.7")
    {
        return web.open(peer, [&heard](const std::string &text) { heard.push_back(json(text)); });
    }

    // Time passes; the projector acknowledges every line at once when `answering`.
    void run(int ms)
    {
        for (int step = 0; step < ms; step += 5) {
            while (answered < serial.writes().size()) {
                ++answered;
                if (answering)
                    serial.feed("\x06");
            }
            clock.advance(5);
        }
    }

    // When each write of `line` happened, by the clock.
    std::vector<std::int64_t> sentAt(const std::string &line) const
    {
        std::vector<std::int64_t> at;
        for (const auto &[time, text] : writeTimes) {
            if (text == line)
                at.push_back(time);
        }
        return at;
    }

    void recordWrites()
    {
        serial.setOnWrite([this](const std::string &bytes) { writeTimes.emplace_back(clock.now(), bytes); });
    }

    std::size_t answered = 0;
    bool answering = true;
    std::vector<std::pair<std::int64_t, std::string>> writeTimes;
};

TEST_F(Web, WrongPinsMakeTheAddressWaitLongerEachTimeAndOtherAddressesNot)
{
    auto web = face();
    EXPECT_EQ(web->login("192.0.2.7", "2468").status, 200);
    for (int i = 1; i < WebFace::kWrongPinsAllowed; ++i)
        EXPECT_EQ(web->login("192.0.2.7", "1111").status, 403) << i;
    const WebFace::Login fifth = web->login("192.0.2.7", "1111");
    EXPECT_EQ(fifth.status, 403);
    EXPECT_EQ(fifth.retryAfterS, 60);
    // Locked: the right PIN too is refused, and says how long to wait.
    const WebFace::Login locked = web->login("192.0.2.7", "2468");
    EXPECT_EQ(locked.status, 429);
    EXPECT_TRUE(locked.token.empty());
    EXPECT_EQ(locked.retryAfterS, 60);
    EXPECT_EQ(web->login("192.0.2.8", "2468").status, 200); // another address is not held up
    clock.advance(59'000);
    EXPECT_EQ(web->login("192.0.2.7", "2468").status, 429);
    clock.advance(1'000);
    // Five more wrong ones: twice as long.
    for (int i = 0; i < WebFace::kWrongPinsAllowed; ++i)
        (void)web->login("192.0.2.7", "1111");
    clock.advance(60'000);
    EXPECT_EQ(web->login("192.0.2.7", "2468").status, 429);
    clock.advance(60'000);
    const WebFace::Login open = web->login("192.0.2.7", "2468");
    EXPECT_EQ(open.status, 200);
    EXPECT_FALSE(open.token.empty());
    // A PIN that differs only in length, or is empty, is wrong.
    EXPECT_EQ(web->login("192.0.2.9", "24680").status, 403);
    EXPECT_EQ(web->login("192.0.2.9", "").status, 403);
}

TEST_F(Web, TokensAreSignedLastTwelveHoursSurviveARestartAndDieWithTheirPin)
{
    auto web = face();
    const std::string token = web->login("192.0.2.7", "2468").token;
    const std::string cookie = "theme=dark; " + std::string(WebFace::kCookie) + "=" + token + "; x=1";
    EXPECT_TRUE(web->tokenValid(cookie));
    std::string forged = token;
    forged[0] = forged[0] == '9' ? '8' : '9'; // issued at another time, same signature
    EXPECT_FALSE(web->tokenValid(std::string(WebFace::kCookie) + "=" + forged));
    EXPECT_FALSE(web->tokenValid(std::string(WebFace::kCookie) + "=" + token.substr(0, token.size() - 1)));
    EXPECT_FALSE(web->tokenValid(std::string(WebFace::kCookie) + "="));
    EXPECT_FALSE(web->tokenValid("other_" + std::string(WebFace::kCookie) + "=" + token));
    // qv550d started again with the same PIN knows it; with another PIN not.
    EXPECT_TRUE(face("2468")->tokenValid(cookie));
    EXPECT_FALSE(face("1357")->tokenValid(cookie));
    clock.advance(WebFace::kTokenLifeMs);
    EXPECT_TRUE(web->tokenValid(cookie));
    clock.advance(1);
    EXPECT_FALSE(web->tokenValid(cookie));
    // The cookie a browser gets cannot be read by scripts nor sent by other sites.
    const std::string set = WebFace::cookieFor(token);
    EXPECT_NE(set.find("; HttpOnly"), std::string::npos);
    EXPECT_NE(set.find("; SameSite=Strict"), std::string::npos);
}

TEST_F(Web, AWebSocketNeedsAValidTokenThePagesOwnOriginAndOnLoopbackALoopbackHost)
{
    auto web = face();
    auto network = face("2468", false);
    const std::string good = std::string(WebFace::kCookie) + "=" + web->login("192.0.2.7", "2468").token;
    struct Case {
        const WebFace *face;
        std::string cookie, origin, host;
        bool admitted;
    };
    const std::vector<Case> cases = {
        {web.get(), good, "http://127.0.0.1:8550", "127.0.0.1:8550", true},
        {web.get(), good, "http://localhost:8550", "localhost:8550", true},
        {web.get(), good, "http://[::1]:8550", "[::1]:8550", true},
        {web.get(), "", "http://127.0.0.1:8550", "127.0.0.1:8550", false},
        {web.get(), good, "http://evil.example", "127.0.0.1:8550", false},
        {web.get(), good, "", "127.0.0.1:8550", false},
        {web.get(), good, "http://127.0.0.1:8551", "127.0.0.1:8550", false},
        {web.get(), good, "https://127.0.0.1:8550", "127.0.0.1:8550", false},
        // A name that someone else's DNS points at loopback.
        {web.get(), good, "http://rebind.example:8550", "rebind.example:8550", false},
        {web.get(), good, "http://127.0.0.1:8550", "", false},
        {network.get(), good, "http://hall.example:8550", "hall.example:8550", true},
        {network.get(), good, "http://evil.example", "hall.example:8550", false},
    };
    for (const Case &c : cases)
        EXPECT_EQ(c.face->admission(c.cookie, c.origin, c.host).empty(), c.admitted)
            << c.cookie.size() << " " << c.origin << " " << c.host;
}

TEST_F(Web, WithoutAPinThePageGetsItsTokenWithItself)
{
    auto open = face("");
    EXPECT_FALSE(open->needsPin());
    const std::string token = open->tokenForPage();
    EXPECT_TRUE(open->tokenValid(std::string(WebFace::kCookie) + "=" + token));
    EXPECT_TRUE(face()->tokenForPage().empty()); // with a PIN, only the PIN gives one
}

TEST_F(Web, APressGoesThroughTheOwnerAndItsResultComesBackWithThePagesId)
{
    auto web = face();
    std::vector<QJsonObject> heard;
    const int page = open(*web, heard);
    ASSERT_GE(page, 1);
    ASSERT_FALSE(heard.empty());
    const QJsonObject hello = heard.front().value(QStringLiteral("hello")).toObject();
    EXPECT_EQ(hello.value(QStringLiteral("version")), QStringLiteral("1.2.3"));
    EXPECT_EQ(hello.value(QStringLiteral("values")).toArray().size(), 9);
    EXPECT_TRUE(std::any_of(heard.begin(), heard.end(),
        [](const QJsonObject &m) { return m.contains(QStringLiteral("state")); }));

    const std::size_t written = serial.writes().size();
    EXPECT_TRUE(web->message(page, R"({"id": 41, "press": "power-on"})"));
    ASSERT_EQ(serial.writes().size(), written + 1);
    EXPECT_EQ(serial.writes().back(), "C00\r");
    run(SharedLine::kPanelQuietMs + 10);
    const auto result = std::find_if(
        heard.begin(), heard.end(), [](const QJsonObject &m) { return m.value(QStringLiteral("id")) == 41; });
    ASSERT_NE(result, heard.end());
    EXPECT_EQ(result->value(QStringLiteral("result")).toObject().value(QStringLiteral("monitor")),
        QStringLiteral("ACK"));

    // With an address, and a line of the technician's.
    EXPECT_TRUE(web->message(page, R"({"id": 42, "press": "input-2", "address": "all"})"));
    EXPECT_EQ(serial.writes().back(), "AFFFC06\r");
    run(SharedLine::kPanelQuietMs + 600);
    EXPECT_TRUE(web->message(page, R"({"id": 43, "send": "CR1"})"));
    EXPECT_EQ(serial.writes().back(), "CR1\r");
    run(SharedLine::kPanelQuietMs + 600);

    // What is not a command sends nothing and is answered.
    const std::size_t before = serial.writes().size();
    for (const char *bad :
        {R"({"id": 44, "press": "power-onn"})", R"({"id": 45, "press": "power-on", "address": "9"})",
            R"({"id": 46, "send": ""})", R"({"id": 48, "send": "CR0\rC00"})",
            R"({"id": 49, "send": "C000000000000000000000000000000000000000000000000000000000000000000"})",
            R"({"id": 47, "lease": 10})", "[1, 2]", "\xff\xfe{"}) {
        const std::size_t messages = heard.size();
        EXPECT_TRUE(web->message(page, bad)) << bad;
        run(SharedLine::kPanelQuietMs + 10);
        EXPECT_EQ(serial.writes().size(), before) << bad;
        ASSERT_GT(heard.size(), messages) << bad;
        EXPECT_TRUE(heard.back().value(QStringLiteral("result")).toObject().contains(QStringLiteral("error")))
            << bad;
    }
    // Longer than the limit: the page is dropped.
    EXPECT_FALSE(web->message(page, std::string(WebFace::kMessageLimit + 1, ' ')));
}

TEST_F(Web, ThePageHearsTheOwnersScenesAndAScenesEveryStepUnderItsOwnId)
{
    std::unique_ptr<Timer> next = clock.createTimer(1), ask = clock.createTimer(SceneRunner::kConfirmMs),
                           deadline = clock.createTimer(1000);
    SceneRunner runner(service, live.state, *next, *ask, *deadline, [this] { return clock.now(); });
    SceneService scenes(service, runner);
    std::string whyNot;
    auto book = parseScenes(
        R"({"room": [{"command": "input-2"}, {"delay_s": 1}, {"command": "input-3"}]})", "room.json", whyNot);
    ASSERT_TRUE(book) << whyNot;
    runner.setBook(std::move(*book));
    auto web = face();
    std::vector<QJsonObject> heard;
    const int page = open(*web, heard);
    const auto listed = std::find_if(heard.begin(), heard.end(),
        [](const QJsonObject &m) { return m.contains(QStringLiteral("scenes")); });
    ASSERT_NE(listed, heard.end());
    const QJsonArray names = listed->value(QStringLiteral("scenes")).toArray();
    ASSERT_EQ(names.size(), 1);
    EXPECT_EQ(names[0].toObject().value(QStringLiteral("name")), QStringLiteral("room"));

    EXPECT_TRUE(web->message(page, R"({"id": 50, "scene": "room"})"));
    run(5000);
    std::vector<QJsonObject> progress;
    for (const QJsonObject &m : heard) {
        if (m.value(QStringLiteral("id")) == 50)
            progress.push_back(m.value(QStringLiteral("scene")).toObject());
    }
    ASSERT_EQ(progress.size(), 5U); // started, three steps, the end
    EXPECT_TRUE(progress[0].value(QStringLiteral("started")).toBool());
    EXPECT_EQ(progress[2].value(QStringLiteral("did")), QStringLiteral("delay 1 s"));
    EXPECT_EQ(progress[3].value(QStringLiteral("step")), 3);
    EXPECT_EQ(progress[4].value(QStringLiteral("end")), QStringLiteral("done"));
    EXPECT_EQ(std::count(serial.writes().begin(), serial.writes().end(), "C07\r"), 1);

    // An unknown scene is the owner's refusal; what is no name, the page's.
    const std::size_t written = serial.writes().size();
    for (const char *bad : {R"({"id": 51, "scene": "rooom"})", R"({"id": 52, "scene": 5})"}) {
        EXPECT_TRUE(web->message(page, bad)) << bad;
        run(100);
        EXPECT_TRUE(heard.back().value(QStringLiteral("result")).toObject().contains(QStringLiteral("error")))
            << bad;
    }
    EXPECT_EQ(serial.writes().size(), written);
}

TEST_F(Web, TheLitStateNamesTheButtonsOfWhatTheProjectorDoes)
{
    auto web = face();
    std::vector<QJsonObject> heard;
    open(*web, heard);
    live.state.exchanged("CR0\r", "00\r", true);
    live.state.exchanged("CR1\r", "2\r", true);
    ASSERT_TRUE(heard.back().contains(QStringLiteral("lit")));
    std::set<QString> lit;
    for (const QJsonValue &name : heard.back().value(QStringLiteral("lit")).toArray())
        lit.insert(name.toString());
    EXPECT_TRUE(lit.contains(QStringLiteral("power-on")));
    EXPECT_TRUE(lit.contains(QStringLiteral("input-2")));
    EXPECT_FALSE(lit.contains(QStringLiteral("input-1")));
    EXPECT_FALSE(lit.contains(QStringLiteral("power-off")));
}

TEST_F(Web, AHoldRepeatsAtThePanelsPeriodWhileAliveAndStopsAtRelease)
{
    recordWrites();
    auto web = face();
    std::vector<QJsonObject> heard;
    const int page = open(*web, heard);
    live.poller.stop();
    EXPECT_TRUE(web->message(page, R"({"hold": "vol-up"})"));
    const std::int64_t start = clock.now();
    for (int i = 0; i < 10; ++i) { // 1 s with a keep-alive every 100 ms
        run(100);
        web->message(page, R"({"alive": "vol-up"})");
    }
    web->message(page, R"({"release": "vol-up"})");
    const std::int64_t released = clock.now();
    run(1000);
    const auto at = sentAt("C09\r");
    ASSERT_EQ(at.size(), 5u);
    for (std::size_t i = 0; i < at.size(); ++i)
        EXPECT_EQ(at[i] - start, static_cast<std::int64_t>(i) * 250);
    EXPECT_LE(at.back(), released);
    EXPECT_EQ(heard.back().value(QStringLiteral("ended")), QStringLiteral("released"));
}

TEST_F(Web, AHoldStopsWhenTheKeepAliveStopsOrThePageGoes)
{
    recordWrites();
    auto web = face();
    std::vector<QJsonObject> heard;
    const int page = open(*web, heard);
    live.poller.stop();
    web->message(page, R"({"hold": "zoom-plus"})"); // every 50 ms
    run(100);
    web->message(page, R"({"alive": "zoom-plus"})");
    const std::int64_t lastAlive = clock.now();
    run(1000);
    const auto at = sentAt("C47\r");
    ASSERT_FALSE(at.empty());
    EXPECT_LE(at.back() - lastAlive, 300);
    EXPECT_GT(at.back() - lastAlive, 150); // it did go on while alive
    EXPECT_EQ(heard.back().value(QStringLiteral("ended")), QStringLiteral("keep-alive stopped"));
    // A keep-alive for another button does not keep this one.
    web->message(page, R"({"hold": "zoom-plus"})");
    const std::size_t sent = sentAt("C47\r").size();
    for (int i = 0; i < 5; ++i) {
        run(100);
        web->message(page, R"({"alive": "zoom-minus"})");
    }
    EXPECT_LE(sentAt("C47\r").size(), sent + 6);

    // The page goes mid-hold: nothing more.
    web->message(page, R"({"hold": "focus-plus"})");
    run(120);
    web->close(page);
    const std::size_t before = sentAt("C4B\r").size();
    run(1000);
    EXPECT_EQ(sentAt("C4B\r").size(), before);
    EXPECT_EQ(web->pages(), 0u);
    EXPECT_EQ(service.clients(), 0u);
}

TEST_F(Web, ARepeatWaitsForTheLastOneAndTheCursorPadKeepsTheLastHoldsPeriod)
{
    recordWrites();
    auto web = face();
    std::vector<QJsonObject> heard;
    const int page = open(*web, heard);
    live.poller.stop();
    // A silent projector: one repeat on the line at a time, none piled up.
    answering = false;
    web->message(page, R"({"hold": "lens-up"})");
    for (int i = 0; i < 4; ++i) {
        run(100);
        web->message(page, R"({"alive": "lens-up"})");
    }
    EXPECT_EQ(sentAt("C5D\r").size(), 1u);
    web->message(page, R"({"release": "lens-up"})");
    run(1000);
    answering = true;

    // A cursor-pad arrow repeats at what the panel's Timer1 was left at:
    // 50 ms after the lens hold, 200 ms after A-IMAGE.
    const auto arrow = [&](const char *code) {
        const std::int64_t start = clock.now();
        web->message(page, R"({"hold": "cursor-up"})");
        for (int i = 0; i < 6; ++i) {
            run(100);
            web->message(page, R"({"alive": "cursor-up"})");
        }
        web->message(page, R"({"release": "cursor-up"})");
        run(600);
        std::vector<std::int64_t> at;
        for (const std::int64_t time : sentAt(code))
            if (time >= start)
                at.push_back(time);
        return at.size() >= 2 ? at[1] - at[0] : -1;
    };
    EXPECT_EQ(arrow("C3C\r"), 50);
    web->message(page, R"({"id": 1, "press": "a-image"})");
    run(600);
    EXPECT_EQ(arrow("C3C\r"), 200);
}

TEST_F(Web, PagesAreBoundedAndEachIsAClientOfTheOwnerNamedByItsAddress)
{
    auto web = face();
    std::vector<QJsonObject> heard;
    for (int i = 0; i < WebFace::kMaxPages; ++i)
        EXPECT_GE(open(*web, heard), 1);
    EXPECT_EQ(open(*web, heard), -1);
    EXPECT_EQ(service.clients(), static_cast<std::size_t>(WebFace::kMaxPages));
    // As the line names its clients in what it logs and tells others.
    std::set<std::string> names;
    for (int client = 1; client <= WebFace::kMaxPages; ++client)
        names.insert(shared.nameOf(client));
    EXPECT_EQ(names, std::set<std::string>{"web page (192.0.2.7)"});
}

TEST_F(Web, TheLayoutHasEveryNamedCommandOnceInTheWindowsGroups)
{
    const QJsonArray layout = WebFace::layout();
    std::set<QString> names;
    std::vector<QString> groups;
    int holds = 0;
    for (const QJsonValue &group : layout) {
        groups.push_back(group[QStringLiteral("group")].toString());
        for (const QJsonValue &button : group[QStringLiteral("buttons")].toArray()) {
            EXPECT_TRUE(names.insert(button[QStringLiteral("name")].toString()).second);
            holds += button[QStringLiteral("hold")].toBool() ? 1 : 0;
        }
    }
    EXPECT_EQ(holds, 15);
    EXPECT_EQ(groups.front(), QStringLiteral("POWER"));
    EXPECT_TRUE(names.contains(QStringLiteral("matrix-4-sdi1")));
    EXPECT_TRUE(names.contains(QStringLiteral("fan-max")));
    EXPECT_EQ(cookieValue("a=1; qv550_session=x.y.z; b=2", "qv550_session"), "x.y.z");
    EXPECT_EQ(cookieValue("xqv550_session=1", "qv550_session"), "");
}

} // namespace

namespace {

TEST(WebSettings, TheListenerAndItsPinAreReadFromTheConfigAsFromTheCommandLine)
{
    struct Case {
        std::string text;
        std::string host; // empty: refused
        int port;
    };
    const std::vector<Case> cases = {
        {"8550", "127.0.0.1", 8550},
        {"0.0.0.0:8550", "0.0.0.0", 8550},
        {"192.0.2.10:80", "192.0.2.10", 80},
        {"[::1]:8550", "::1", 8550},
        {"localhost:1", "localhost", 1},
        {"hall:65535", "hall", 65535},
        {"0", "", 0},
        {"65536", "", 0},
        {":8550", "", 0},
        {"127.0.0.1:", "", 0},
        {"127.0.0.1:85x", "", 0},
        {"a b:8550", "", 0},
        {"http://127.0.0.1:8550", "", 0},
    };
    for (const Case &c : cases) {
        std::string why;
        const auto address = parseHttpAddress(c.text, why);
        EXPECT_EQ(address.has_value(), !c.host.empty()) << c.text;
        if (address) {
            EXPECT_EQ(address->host, c.host) << c.text;
            EXPECT_EQ(address->port, c.port) << c.text;
        } else {
            EXPECT_FALSE(why.empty()) << c.text;
        }
    }
    ServiceConfig config;
    std::string why;
    EXPECT_TRUE(config.http.empty()); // off unless asked for
    EXPECT_FALSE(config.httpWithoutPin);
    ASSERT_TRUE(readServiceConfig(
        "http = 0.0.0.0:8550\nhttp-pin-file = /etc/qv550/hall.pin\nhttp-without-pin = yes\n", config, why))
        << why;
    EXPECT_EQ(config.http, "0.0.0.0:8550");
    EXPECT_EQ(config.httpPinFile, "/etc/qv550/hall.pin");
    EXPECT_TRUE(config.httpWithoutPin);
    EXPECT_FALSE(readServiceConfig("http = 8550x\n", config, why));
    EXPECT_NE(why.find("line 1"), std::string::npos);
    EXPECT_FALSE(applySetting(config, "http-without-pin", "true", why));
}

} // namespace
