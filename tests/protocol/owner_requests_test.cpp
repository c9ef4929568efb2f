// SPDX-License-Identifier: GPL-3.0-or-later
// The owner's requests and the lines it answers, byte for byte, on the
// serial double and the virtual clock: other programs read these lines, so
// a field renamed or a reply reshaped is a broken promise, not a detail.

#include <gtest/gtest.h>

#include <QJsonObject>

#include <memory>
#include <regex>
#include <string>
#include <vector>

#include "core/monitor_text.h"
#include "owner/owner_service.h"
#include "owner/shared_line.h"
#include "protocol/json_lines.h"
#include "protocol/owner_protocol.h"
#include "serial_double.h"
#include "timers/virtual_clock.h"

namespace {

// An owner of one line, with one client whose lines are kept.
struct Owner {
    Owner()
    {
        serial.setPortOpen(true);
        client = service.connect([this](const std::string &line) { lines.push_back(line); });
    }

    VirtualClock clock;
    std::unique_ptr<Timer> watch = clock.createTimer(500);
    std::unique_ptr<Timer> quiet = clock.createTimer(SharedLine::kPanelQuietMs);
    std::unique_ptr<Timer> lease = clock.createTimer(1000);
    std::unique_ptr<Timer> lineWait = clock.createTimer(1000);
    SerialDouble serial;
    SharedLine shared{serial, *watch, *quiet, *lease, *lineWait, [this] { return clock.now(); }};
    OwnerService service{shared, "dev_ttyUSB0", "qv550-control (process 1)"};
    int client = 0;
    std::vector<std::string> lines;
};

// The lines with each "elapsed_ms" made 0: it is measured on the wall
// clock, which the virtual clock does not move. It must be a number.
std::vector<std::string> withoutElapsed(std::vector<std::string> lines)
{
    static const std::regex kElapsed(R"("elapsed_ms":[0-9]+(\.[0-9]+)?(e-?[0-9]+)?)");
    for (std::string &line : lines)
        line = std::regex_replace(line, kElapsed, "\"elapsed_ms\":0");
    return lines;
}

struct Row {
    std::string request;
    std::string arrives; // from the projector once the request is on its way
    int advanceMs = 0;   // then this much time passes
    std::vector<std::string> answer;
};

TEST(OwnerRequests, EachRequestIsAnsweredWithTheseLinesExactly)
{
    const std::string hello = std::string(R"({"clients":1,"id":12,"line":"dev_ttyUSB0","line_busy_ms":0,)")
        + R"x("owner":"qv550-control (process 1)","panel_writes_held":0,"polling":false,"polls":0,"version":")x"
        + PANEL_VERSION + "\"}";
    const std::vector<Row> rows = {
        {R"({"id":1,"command":"status"})", "80\r", 0,
            {R"({"complete":true,"elapsed_ms":0,"id":1,"monitor":"8 0 CR","reply_hex":"38300D","sent":"CR0\r",)"
             R"("status":"Stand by","via":"owner","written":true})"}},
        {R"({"id":2,"send":"C00","address":"all"})", "", 0,
            {R"({"complete":false,"elapsed_ms":0,"id":2,"monitor":"","reply_expected":false,"reply_hex":"",)"
             R"("sent":"AFFFC00\r","status":null,"via":"owner","written":true})"}},
        {R"({"id":3,"command":"status","timeout_ms":300})", "", 300,
            {R"({"complete":false,"elapsed_ms":0,"error":"no reply within 300 ms","id":3,"monitor":"",)"
             R"("reply_hex":"","sent":"CR0\r","status":null,"via":"owner","written":true})"}},
        {R"({"id":4,"command":"status","timeout_ms":300})", "8", 300,
            {R"({"complete":false,"elapsed_ms":0,"error":"the reply was cut off: no CR or ACK within 300 ms )"
             R"x((arrived: 8)","id":4,"monitor":"8","reply_hex":"38","sent":"CR0\r","status":null,"via":"owner",)x"
             R"("written":true})"}},
        {R"({"id":5,"lease":5})", "", 0, {R"({"id":5,"leased_s":5})"}},
        {R"({"id":6,"release":true})", "", 0, {R"({"id":6,"released":true})"}},
        {R"({"id":7,"subscribe":"traffic"})", "", 0, {R"({"id":7,"subscribed":"traffic"})"}},
        {R"({"id":8,"subscribe":"state"})", "", 0, {R"({"error":"subscribe takes \"traffic\"","id":8})"}},
        {R"({"id":9,"state":true})", "", 0, {R"({"error":"this owner keeps no live state","id":9})"}},
        {R"({"id":10,"scenes":true})", "", 0, {R"({"error":"this owner runs no scenes","id":10})"}},
        {R"({"id":11,"speed":9600})", "", 0,
            {R"({"event":"settings","settings":"9600,N,8,1"})", R"({"id":11,"speed":9600})"}},
        {R"({"id":12,"hello":true})", "", 0, {hello}},
        {R"({"id":13})", "", 0,
            {R"({"error":"no request: give command, send, lease, release, hello, subscribe, speed, state, )"
             R"(scene, scenes or scene_cancel","id":13})"}},
        {R"({"id":14,"lease":1,"hello":true})", "", 0,
            {R"({"error":"one request at a time: both \"hello\" and \"lease\"","id":14})"}},
        {R"({"id":15,"command":"status","wait":0})", "", 0, {R"({"error":"wait is true or false","id":15})"}},
        {R"({"id":"x","command":"status","frob":1})", "", 0,
            {R"({"error":"unknown field \"frob\"","id":"x"})"}},
        // Without an id, the answer has none either.
        {R"({"command":"status"})", "", 0, {R"({"error":"a request needs an \"id\""})"}},
    };
    for (const Row &row : rows) {
        Owner owner;
        ASSERT_TRUE(owner.service.receive(owner.client, row.request + "\n")) << row.request;
        if (!row.arrives.empty())
            owner.serial.feed(row.arrives);
        owner.clock.advance(row.advanceMs);
        EXPECT_EQ(withoutElapsed(owner.lines), row.answer) << row.request;
    }
}

TEST(OwnerRequests, ARequestOverTheBoundIsAnsweredOnceAndTheClientDropped)
{
    Owner owner;
    EXPECT_TRUE(owner.service.receive(owner.client, std::string(OwnerService::kLineLimit, ' ')));
    EXPECT_FALSE(owner.service.receive(owner.client, " "));
    EXPECT_EQ(
        owner.lines, std::vector<std::string>{R"({"error":"the request is longer than 64 KiB","id":null})"});
}

TEST(OwnerRequests, RequestsSplitAnywhereAreAnsweredInTheirOrder)
{
    const std::string stream = "{\"id\":1,\"release\":true}\n{\"id\":2,\"release\":true}\n";
    for (std::size_t cut = 1; cut < stream.size(); ++cut) {
        Owner owner;
        ASSERT_TRUE(owner.service.receive(owner.client, stream.substr(0, cut)));
        ASSERT_TRUE(owner.service.receive(owner.client, stream.substr(cut)));
        EXPECT_EQ(owner.lines,
            (std::vector<std::string>{R"({"id":1,"released":true})", R"({"id":2,"released":true})"}))
            << "cut at " << cut;
    }
}

// Every byte value goes to the line as it was asked and comes back in the
// reply as it arrived: one byte a character, never interpreted.
TEST(OwnerRequests, EveryByteValueReachesTheLineAndTheReplyWhole)
{
    QString asked;
    std::string bytes;
    for (int byte = 0; byte < 256; ++byte) {
        if (byte == '\r' || byte == '\n')
            continue;
        asked += QChar(byte);
        bytes += static_cast<char>(byte);
    }
    QJsonObject request;
    request[field::kId] = 1;
    request[field::kSend] = asked;
    Owner owner;
    ASSERT_TRUE(owner.service.receive(owner.client, jsonLine(request).toStdString()));
    ASSERT_EQ(owner.serial.writes(), std::vector<std::string>{bytes + '\r'});
    std::string arriving;
    for (int byte = 0; byte < 256; ++byte) {
        if (byte != '\r' && byte != 0x06)
            arriving += static_cast<char>(byte);
    }
    owner.serial.feed(arriving + '\r');
    ASSERT_EQ(owner.lines.size(), 1U);
    const QJsonObject reply = jsonObject(owner.lines.front());
    EXPECT_EQ(reply.value(field::kSent).toString(), asked + QLatin1Char('\r'));
    EXPECT_EQ(reply.value(field::kReplyHex).toString().toStdString(), hexText(arriving + '\r', ""));
    EXPECT_TRUE(reply.value(field::kComplete).toBool());
}

} // namespace
