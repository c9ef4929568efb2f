// SPDX-License-Identifier: GPL-3.0-or-later
// The PJLink face without sockets, on the serial double and the virtual
// clock: the request reader's lines, the greeting and the digest, every
// class 1 answer from the live state, sets through the owner with their
// bytes on the line and their ERR codes, one request at a time, the idle
// close, and the input table and listen address as the config gives them.

#include <gtest/gtest.h>

#include <QJsonDocument>
#include <QJsonObject>
#include <QStringList>

#include <memory>
#include <string>
#include <vector>

#include "owner/live_owner.h"
#include "owner/owner_service.h"
#include "owner/service_config.h"
#include "pjlink/pjlink_answers.h"
#include "pjlink/pjlink_request.h"
#include "pjlink/pjlink_search.h"
#include "pjlink/pjlink_session.h"
#include "pjlink/pjlink_settings.h"
#include "serial_double.h"
#include "timers/virtual_clock.h"
#include "panel/control_table.h"

namespace {

using Lines = std::vector<std::string>;

TEST(PjlinkReader, LinesAreReadIntoClassCommandAndParameter)
{
    struct Case {
        std::string line;
        PjlinkLine kind;
        std::string command;
        std::string parameter;
    };
    const std::vector<Case> cases = {
        {"%1POWR ?", PjlinkLine::Request, "POWR", "?"},
        {"%1POWR 1", PjlinkLine::Request, "POWR", "1"},
        {"%2INNM ?31", PjlinkLine::Request, "INNM", "?31"},
        {"%1INF1 ?", PjlinkLine::Request, "INF1", "?"},
        {"%1NAME " + std::string(128, 'x'), PjlinkLine::Request, "NAME", std::string(128, 'x')},
        {"%1NAME " + std::string(129, 'x'), PjlinkLine::Undefined, "NAME", ""},
        {"%1POWR", PjlinkLine::Undefined, "POWR", ""},  // no blank, no parameter
        {"%1POWR?", PjlinkLine::Undefined, "POWR", ""}, // the blank is required
        {"%1powr ?", PjlinkLine::Garbage, "", ""},      // commands are upper case
        {"%1PO\xffR ?", PjlinkLine::Garbage, "", ""},
        {"POWR ?", PjlinkLine::Garbage, "", ""},
        {"%XPOWR ?", PjlinkLine::Garbage, "", ""},
        {"", PjlinkLine::Garbage, "", ""},
    };
    for (const Case &c : cases) {
        const PjlinkParsed parsed = parsePjlinkLine(c.line);
        EXPECT_EQ(parsed.kind, c.kind) << c.line;
        EXPECT_EQ(parsed.request.command, c.command) << c.line;
        if (c.kind == PjlinkLine::Request) {
            EXPECT_EQ(parsed.request.parameter, c.parameter) << c.line;
        }
    }
}

TEST(PjlinkReader, AWholeLineAtEverySplitPointCrLfAndTheLengthLimit)
{
    const std::string bytes = "%1POWR ?\r\n%1INPT 31\r";
    for (std::size_t split = 0; split <= bytes.size(); ++split) {
        PjlinkReader reader;
        reader.feed(bytes.substr(0, split));
        Lines lines;
        while (const auto line = reader.nextLine(false))
            lines.push_back(*line);
        reader.feed(bytes.substr(split));
        while (const auto line = reader.nextLine(false))
            lines.push_back(*line);
        EXPECT_EQ(lines, (Lines{"%1POWR ?", "%1INPT 31"})) << split;
        EXPECT_FALSE(reader.overflowed(false));
    }
    PjlinkReader full;
    full.feed(std::string(135, 'x'));
    EXPECT_FALSE(full.overflowed(false)); // 135 bytes and a CR may still come
    full.feed("x");
    EXPECT_TRUE(full.overflowed(false));
    EXPECT_FALSE(full.overflowed(true)); // the first line may carry a digest
    PjlinkReader ended;
    ended.feed(std::string(136, 'x') + "\r");
    EXPECT_TRUE(ended.overflowed(false));
    EXPECT_FALSE(ended.nextLine(false));
}

TEST(PjlinkSettingsText, TheInputTableAndTheListenAddress)
{
    std::string why;
    const auto inputs = parsePjlinkInputs("1:11, 3:35 2:59", why);
    ASSERT_TRUE(inputs) << why;
    EXPECT_EQ(pjlinkInputsText(*inputs), "1:11 3:35 2:59");
    for (const char *bad : {"", "5:11", "1:61", "1:10", "1:11 1:12", "1:11 2:11", "1-11", "1:111"}) {
        EXPECT_FALSE(parsePjlinkInputs(bad, why)) << bad;
        EXPECT_FALSE(why.empty());
    }
    EXPECT_EQ(pjlinkInputsText(defaultPjlinkInputs()), "1:31 2:11 3:21 4:22");

    const auto port = parsePjlinkListen("4352", why);
    ASSERT_TRUE(port);
    EXPECT_EQ(port->address, "127.0.0.1"); // loopback unless told
    EXPECT_EQ(port->port, 4352);
    const auto any = parsePjlinkListen("[::]:14352", why);
    ASSERT_TRUE(any);
    EXPECT_EQ(any->address, "::");
    EXPECT_EQ(any->port, 14352);
    for (const char *bad : {"", "0", "65536", ":4352", "host:", "43x52", "localhost:4352", "[]:4352"})
        EXPECT_FALSE(parsePjlinkListen(bad, why)) << bad;
}

TEST(PjlinkSettingsText, TheServicesConfigTakesThePjlinkKeysAndNoPassword)
{
    ServiceConfig config;
    std::string why;
    ASSERT_TRUE(
        readServiceConfig("pjlink = 0.0.0.0:4352\npjlink-password-file = /etc/qv550/a.pjlink\n"
                          "pjlink-inputs = 1:11\npjlink-allow-no-password = yes\npjlink-search = 4352\n",
            config, why))
        << why;
    EXPECT_EQ(config.pjlink, "0.0.0.0:4352");
    EXPECT_EQ(config.pjlinkPasswordFile, "/etc/qv550/a.pjlink");
    EXPECT_EQ(config.pjlinkInputs, "1:11");
    EXPECT_TRUE(config.pjlinkAllowNoPassword);
    EXPECT_EQ(config.pjlinkSearch, "4352");
    EXPECT_FALSE(ServiceConfig{}.pjlinkAllowNoPassword); // refused unless said
    EXPECT_FALSE(readServiceConfig("pjlink-allow-no-password = maybe\n", config, why));
    EXPECT_FALSE(readServiceConfig("pjlink-password = secret\n", config, why));
    EXPECT_NE(why.find("pjlink-password-file"), std::string::npos) << why;
}

TEST(PjlinkSettingsText, TheMakerAndModelAreTheWindowsOwn)
{
    const std::string_view caption = kWindowCaption;
    EXPECT_NE(caption.find(kPjlinkMaker), std::string_view::npos);
    EXPECT_NE(caption.find(kPjlinkModel), std::string_view::npos);
}

TEST(PjlinkSearchReply, OnlyASearchIsAnsweredWithTheMac)
{
    EXPECT_EQ(pjlinkSearchReply("%2SRCH\r", "00:1A:2B:3C:4D:5E"), "%2ACKN=00:1A:2B:3C:4D:5E\r");
    EXPECT_EQ(pjlinkSearchReply("%2SRCH\r\n", "00:1A:2B:3C:4D:5E"), "%2ACKN=00:1A:2B:3C:4D:5E\r");
    for (const char *other : {"%2SRCH", "%1SRCH\r", "%2SRCH ?\r", "%2ACKN=00:00:00:00:00:00\r", "", "\r"})
        EXPECT_FALSE(pjlinkSearchReply(other, "00:00:00:00:00:00")) << other;
}

class Pjlink : public ::testing::Test {
protected:
    Pjlink()
    {
        serial.setPortOpen(true);
        shared.setOnComm([this] { (void)shared.input(); });
        service.setLiveState(&live.state, &live.poller);
        settings.name = "Hall left";
    }

    // A new connection from 192.0.2.7, its greeting taken.
    void open(const std::string &password = {})
    {
        session = std::make_unique<PjlinkSession>(
            service, live.state, settings, *idle, *retry,
            PjlinkSession::Peer{"192.0.2.7", password, "498e4a67"},
            [this](const std::string &bytes) { said += bytes; }, [this] { closed = true; },
            [this](const std::string &line) { logged.push_back(line); });
        session->start();
    }
    // What the controller is told for `bytes`.
    std::string ask(const std::string &bytes)
    {
        said.clear();
        session->receive(bytes);
        return said;
    }
    // The projector's reply to what was last written.
    void projector(const std::string &reply) { serial.feed(reply); }
    void known(const std::string &sent, const std::string &reply) { live.state.exchanged(sent, reply, true); }
    void on()
    {
        known("CR0\r", "00\r");
        known("CR1\r", "2\r");
        known("CRA\r", "00\r");
        known("CR3\r", "0123 0456 0789 1011\r");
        known("CR7\r", "0F\r");
        known("CR6\r", "25.5,31.0\r");
        known("CR9\r", "1024X768 60HZ\r");
    }

    VirtualClock clock;
    std::unique_ptr<Timer> watch = clock.createTimer(500);
    std::unique_ptr<Timer> quiet = clock.createTimer(SharedLine::kPanelQuietMs);
    std::unique_ptr<Timer> lease = clock.createTimer(1000);
    std::unique_ptr<Timer> poll = clock.createTimer(1000);
    std::unique_ptr<Timer> idle = clock.createTimer(PjlinkSession::kIdleMs);
    std::unique_ptr<Timer> retry = clock.createTimer(PjlinkSession::kRetryMs);
    std::unique_ptr<Timer> lineWait = clock.createTimer(1000);
    SerialDouble serial;
    SharedLine shared{serial, *watch, *quiet, *lease, *lineWait, [this] { return clock.now(); }};
    LiveOwner live{shared, *poll, [this] { return clock.now(); }};
    OwnerService service{shared, "ttyUSB0", "qv550d"};
    PjlinkSettings settings;
    std::unique_ptr<PjlinkSession> session;
    std::string said;
    bool closed = false;
    Lines logged;
};

TEST_F(Pjlink, WithoutPasswordTheGreetingIsPjlink0AndCommandsAreAnsweredAtOnce)
{
    open();
    EXPECT_EQ(said, "PJLINK 0\r");
    EXPECT_EQ(ask("%1POWR ?\r"), "%1POWR=ERR3\r"); // nothing known yet
    known("CR0\r", "80\r");
    EXPECT_EQ(ask("%1POWR ?\r"), "%1POWR=0\r");
    EXPECT_TRUE(serial.writes().empty()); // queries never wait for the wire
}

TEST_F(Pjlink, TheDigestOfRandomAndPasswordComesWithTheFirstCommand)
{
    EXPECT_EQ(PjlinkSession::digest("498e4a67", "JBMIAProjectorLink"), "5d8409bc1c3fa39749434aa3a5c38682");
    open("JBMIAProjectorLink");
    EXPECT_EQ(said, "PJLINK 1 498e4a67\r");
    known("CR0\r", "80\r");
    // In two pieces, as a controller's write may arrive.
    EXPECT_EQ(ask("5d8409bc1c3fa39749434aa3a5c38682%1PO"), "");
    EXPECT_EQ(ask("WR ?\r"), "%1POWR=0\r");
    EXPECT_EQ(ask("%1CLSS ?\r"), "%1CLSS=1\r"); // only the first line carries it
    EXPECT_FALSE(closed);
}

TEST_F(Pjlink, AWrongOrMissingDigestIsErraAndTheConnectionCloses)
{
    for (const char *first : {"00000000000000000000000000000000%1POWR 1\r", "%1POWR 1\r",
             "5d8409bc1c3fa39749434aa3a5c3868%1POWR 1\r", "\xff\r"}) {
        closed = false;
        open("JBMIAProjectorLink");
        EXPECT_EQ(ask(first), "PJLINK ERRA\r") << first;
        EXPECT_TRUE(closed);
        EXPECT_EQ(ask("%1POWR 1\r"), ""); // nothing more is read
    }
    EXPECT_TRUE(serial.writes().empty());
    EXPECT_EQ(service.clients(), 1U); // the last session's; the others left
}

TEST_F(Pjlink, EveryClass1QueryFromTheLiveStateOfAProjectorThatIsOn)
{
    open();
    on();
    const std::vector<std::pair<std::string, std::string>> answers = {
        {"%1POWR ?\r", "%1POWR=1\r"},
        {"%1INPT ?\r", "%1INPT=11\r"}, // input mode 2 by the default table
        {"%1AVMT ?\r", "%1AVMT=30\r"},
        {"%1ERST ?\r", "%1ERST=000000\r"},
        {"%1LAMP ?\r", "%1LAMP=123 1 456 1 789 1 1011 1\r"},
        {"%1INST ?\r", "%1INST=31 11 21 22\r"},
        {"%1NAME ?\r", "%1NAME=Hall left\r"},
        {"%1INF1 ?\r", "%1INF1=ZORP\r"},
        {"%1INF2 ?\r", "%1INF2=QV550\r"},
        {"%1INFO ?\r", "%1INFO=qv550d " PANEL_VERSION " RS-232 bridge\r"},
        {"%1CLSS ?\r", "%1CLSS=1\r"},
        {"%2IRES ?\r", "%2IRES=1024x768\r"},
        {"%2INNM ?21\r", "%2INNM=Input mode 3\r"},
    };
    for (const auto &[request, reply] : answers)
        EXPECT_EQ(ask(request), reply);
    EXPECT_LE(ask("%1INFO ?\r").size(), std::string("%1INFO=\r").size() + 32);
}

TEST_F(Pjlink, PowerMutesLampsAndProblemsInEachStateTheProjectorReports)
{
    open();
    struct Case {
        std::string sent, reply, request, expected;
    };
    const std::vector<Case> cases = {
        {"CR0\r", "80\r", "%1POWR ?\r", "%1POWR=0\r"},
        {"CR0\r", "40\r", "%1POWR ?\r", "%1POWR=3\r"},
        {"CR0\r", "20\r", "%1POWR ?\r", "%1POWR=2\r"},
        {"CR0\r", "10\r", "%1POWR ?\r", "%1POWR=ERR4\r"},
        {"CR0\r", "10\r", "%1ERST ?\r", "%1ERST=000002\r"},
        {"CR0\r", "21\r", "%1ERST ?\r", "%1ERST=020000\r"},
        {"CR0\r", "08\r", "%1ERST ?\r", "%1ERST=001000\r"},
        {"CR0\r", "28\r", "%1ERST ?\r", "%1ERST=002000\r"},
        {"CR0\r", "00\r", "%1POWR ?\r", "%1POWR=1\r"},
        {"CRA\r", "01\r", "%1AVMT ?\r", "%1AVMT=11\r"},
        {"CRA\r", "02\r", "%1AVMT ?\r", "%1AVMT=21\r"},
        {"CRA\r", "03\r", "%1AVMT ?\r", "%1AVMT=31\r"},
        {"CRA\r", "80\r", "%1AVMT ?\r", "%1AVMT=ERR3\r"},   // no signal says nothing of the mutes
        {"CR7\r", "0E\r", "%1ERST ?\r", "%1ERST=010000\r"}, // lamp 1 of four is not lit
        {"CR7\r", "0E\r", "%1LAMP ?\r", "%1LAMP=ERR3\r"},   // lamp hours not read yet
        {"CR3\r", "0001 0002 0003 0004\r", "%1LAMP ?\r", "%1LAMP=1 0 2 1 3 1 4 1\r"},
        {"CR7\r", "26\r", "%1ERST ?\r", "%1ERST=000000\r"}, // lamps 2 and 3 only, as the mode says
        {"CR6\r", "61.0,30.0\r", "%1ERST ?\r", "%1ERST=001000\r"},
        {"CR1\r", "4\r", "%1INPT ?\r", "%1INPT=22\r"},
        {"CR0\r", "80\r", "%1LAMP ?\r", "%1LAMP=1 0 2 0 3 0 4 0\r"}, // stand-by: none lit
        {"CR0\r", "80\r", "%1INPT ?\r", "%1INPT=ERR3\r"},
        {"CR0\r", "80\r", "%1AVMT ?\r", "%1AVMT=ERR3\r"},
    };
    for (const Case &c : cases) {
        known(c.sent, c.reply);
        EXPECT_EQ(ask(c.request), c.expected) << c.sent << " " << c.reply;
    }
    settings.inputs = {{1, "51"}};
    known("CR0\r", "00\r");
    EXPECT_EQ(ask("%1INPT ?\r"), "%1INPT=ERR3\r"); // mode 4 is not in the table
    EXPECT_EQ(ask("%1INST ?\r"), "%1INST=51\r");
    // The line goes down: nothing is known any more.
    live.state.unknownFromNow();
    EXPECT_EQ(ask("%1POWR ?\r"), "%1POWR=ERR3\r");
    EXPECT_EQ(ask("%1ERST ?\r"), "%1ERST=ERR3\r");
}

TEST_F(Pjlink, UndefinedCommandsClassesAndParametersGetErr1OrErr2)
{
    open();
    on();
    const std::vector<std::pair<std::string, std::string>> answers = {
        {"%1XXXX ?\r", "%1XXXX=ERR1\r"},
        {"%1FREZ ?\r", "%1FREZ=ERR1\r"}, // a class 2 command asked as class 1
        {"%3POWR ?\r", "%3POWR=ERR1\r"},
        {"%2MVOL 1\r", "%2MVOL=ERR1\r"}, // no microphone
        {"%2SNUM ?\r", "%2SNUM=ERR1\r"},
        {"%2FILT ?\r", "%2FILT=ERR1\r"},
        {"%1POWR\r", "%1POWR=ERR1\r"},
        {"%1POWR 2\r", "%1POWR=ERR2\r"},
        {"%1POWR 11\r", "%1POWR=ERR2\r"},
        {"%1INPT 12\r", "%1INPT=ERR2\r"}, // not in the table
        {"%1INPT 61\r", "%1INPT=ERR2\r"},
        {"%1AVMT 12\r", "%1AVMT=ERR2\r"},
        {"%1LAMP 1\r", "%1LAMP=ERR2\r"},
        {"%2SVOL ?\r", "%2SVOL=ERR2\r"},
        {"%2INNM ?99\r", "%2INNM=ERR2\r"},
    };
    for (const auto &[request, reply] : answers)
        EXPECT_EQ(ask(request), reply);
    EXPECT_TRUE(serial.writes().empty());
    EXPECT_FALSE(closed);
}

TEST_F(Pjlink, GarbageOrAnOverlongLineClosesTheConnectionAndSendsNothing)
{
    for (const std::string &garbage : {std::string("\x00\x01\xfe\r", 4), std::string("GET / HTTP/1.1\r"),
             std::string(137, '%'), std::string("%1NAME ") + std::string(200, 'x') + "\r"}) {
        closed = false;
        open();
        ask(garbage);
        EXPECT_TRUE(closed) << garbage.size();
    }
    EXPECT_TRUE(serial.writes().empty());
}

TEST_F(Pjlink, ASetGoesThroughTheOwnerAndIsOkOnlyAfterTheProjectorsAck)
{
    open();
    known("CR0\r", "80\r");
    // The owner's traffic says who sent each line.
    QStringList sentBy;
    const int watcher = service.connect([&sentBy](const std::string &line) {
        const QJsonObject event = QJsonDocument::fromJson(QByteArray::fromStdString(line)).object();
        if (event.value(QStringLiteral("direction")) == QStringLiteral("sent"))
            sentBy << event.value(QStringLiteral("by")).toString();
    });
    service.receive(watcher, "{\"id\":1,\"subscribe\":\"traffic\"}\n");
    EXPECT_EQ(ask("%1POWR 1\r"), "");
    EXPECT_EQ(serial.writes(), Lines{"C00\r"});
    projector("\x06");
    EXPECT_EQ(said, "%1POWR=OK\r");
    EXPECT_EQ(logged, Lines{"PJLink 192.0.2.7: POWR 1: power-on"});
    EXPECT_EQ(sentBy, QStringList{QStringLiteral("PJLink 192.0.2.7")});

    on();
    serial.setOnWrite([this](const std::string &) {});
    EXPECT_EQ(ask("%1AVMT 31\r"), "");
    projector("\x06");
    EXPECT_EQ(said, ""); // the second of its two commands is on its way
    projector("\x06");
    EXPECT_EQ(said, "%1AVMT=OK\r");
    ask("%1INPT 21\r");
    projector("\x06");
    ask("%2FREZ 1\r");
    projector("\x06");
    ask("%2SVOL 0\r");
    projector("\x06");
    EXPECT_EQ(said, "%2SVOL=OK\r");
    EXPECT_EQ(serial.writes(), (Lines{"C00\r", "C0D\r", "C0B\r", "C07\r", "C43\r", "C0A\r"}));
    EXPECT_EQ(ask("%2FREZ ?\r"), "%2FREZ=1\r"); // the acknowledged choice
}

TEST_F(Pjlink, RequestsAreAnsweredOneAtATimeInOrder)
{
    open();
    on();
    EXPECT_EQ(ask("%1AVMT 11\r%1POWR ?\r%1CLSS ?\r"), ""); // the query waits behind the set
    projector("\x06");
    EXPECT_EQ(said, "%1AVMT=OK\r%1POWR=1\r%1CLSS=1\r");
}

TEST_F(Pjlink, ErrorCodesOfSetsInTheirSituations)
{
    open();
    // Cooling down: power on cannot be taken, and nothing is sent.
    known("CR0\r", "20\r");
    EXPECT_EQ(ask("%1POWR 1\r"), "%1POWR=ERR3\r");
    // Not on: no input, mute or freeze.
    EXPECT_EQ(ask("%1INPT 31\r"), "%1INPT=ERR3\r");
    EXPECT_EQ(ask("%1AVMT 11\r"), "%1AVMT=ERR3\r");
    EXPECT_EQ(ask("%2FREZ 1\r"), "%2FREZ=ERR3\r");
    EXPECT_TRUE(serial.writes().empty());

    // The projector refuses: ERR4; says nothing: ERR4.
    on();
    ask("%1INPT 31\r");
    projector("ERR\r");
    EXPECT_EQ(said, "%1INPT=ERR4\r");
    ask("%1INPT 31\r");
    clock.advance(600);
    EXPECT_EQ(said, "%1INPT=ERR4\r");
    clock.advance(SharedLine::kLongestDrainMs);

    // Another client leases the line: asked again until the wait runs out,
    // then ERR3, and nothing reaches the projector later.
    const std::size_t written = serial.writes().size();
    const int holder = service.connect([](const std::string &) {});
    service.receive(holder, "{\"id\":1,\"lease\":30}\n");
    ask("%1AVMT 21\r");
    clock.advance(PjlinkSession::kLeaseWaitMs - PjlinkSession::kRetryMs);
    EXPECT_EQ(said, "");
    clock.advance(PjlinkSession::kRetryMs);
    EXPECT_EQ(said, "%1AVMT=ERR3\r");
    service.receive(holder, "{\"id\":2,\"release\":true}\n");
    clock.advance(1000);
    EXPECT_EQ(serial.writes().size(), written);

    // Released within the wait: the set goes.
    service.receive(holder, "{\"id\":3,\"lease\":30}\n");
    ask("%1AVMT 21\r");
    clock.advance(1000);
    service.receive(holder, "{\"id\":4,\"release\":true}\n");
    clock.advance(PjlinkSession::kRetryMs);
    ASSERT_EQ(serial.writes().size(), written + 1);
    EXPECT_EQ(serial.writes().back(), "C0B\r");
    projector("\x06");
    EXPECT_EQ(said, "%1AVMT=OK\r");

    // The line is down: ERR3.
    serial.vanish("unplugged");
    EXPECT_EQ(ask("%1POWR 0\r"), "%1POWR=ERR3\r");
}

TEST_F(Pjlink, AnIdleConnectionClosesAfter30s)
{
    open();
    clock.advance(PjlinkSession::kIdleMs - 1000);
    ask("%1CLSS ?\r"); // a request starts the count again
    clock.advance(PjlinkSession::kIdleMs - 1);
    EXPECT_FALSE(closed);
    clock.advance(1);
    EXPECT_TRUE(closed);
}

TEST_F(Pjlink, ASetOnItsWayWhenTheControllerLeavesNeverAnswersIt)
{
    open();
    on();
    ask("%1AVMT 11\r");
    session.reset(); // the connection went away
    projector("\x06");
    EXPECT_EQ(said, "");
    EXPECT_EQ(service.clients(), 0U);
}

TEST_F(Pjlink, ALongNameIsCutAt64BytesWholeCharactersOnly)
{
    settings.name = std::string(63, 'a') + "\xc3\xa9" + "b";
    open();
    EXPECT_EQ(ask("%1NAME ?\r"), "%1NAME=" + std::string(63, 'a') + "\r");
}

} // namespace
