// SPDX-License-Identifier: GPL-3.0-or-later
// Scenes: the file's checks, table by table, and scenes run by the owner on
// the serial double, the virtual clock and the simulator's projector model,
// whose count-down and cool-down take real (virtual) time.

#include <gtest/gtest.h>

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

#include <map>
#include <memory>
#include <vector>

#include "owner/live_owner.h"
#include "owner/owner_service.h"
#include "panel/panel_scenes.h"
#include "owner/scene_book.h"
#include "owner/scene_runner.h"
#include "owner/scene_service.h"
#include "owner_rig.h"
#include "serial_double.h"
#include "simulator/projector_model.h"
#include "timers/virtual_clock.h"

namespace {

struct BadFile {
    const char *json;
    const char *why; // what the refusal says, after the file's name
};

class RefusedFiles : public ::testing::TestWithParam<BadFile> { };

TEST_P(RefusedFiles, SayFileSceneStepAndWhy)
{
    std::string whyNot;
    EXPECT_FALSE(parseScenes(GetParam().json, "room.json", whyNot));
    EXPECT_EQ(whyNot, std::string("room.json: ") + GetParam().why);
}

INSTANTIATE_TEST_SUITE_P(Scenes, RefusedFiles,
    ::testing::Values(BadFile{"{\"a\": [", "malformed JSON at byte 7: unterminated array"},
        BadFile{"[]", "the scenes are a JSON object of named lists of steps"},
        BadFile{"{\"on\": []}", "scene \"on\": a scene is a list of steps, at least one"},
        BadFile{"{\"a b\": [{\"delay_s\": 1}]}",
            "scene \"a b\": a scene's name is 1 to 64 letters, digits, '-' or '_'"},
        BadFile{"{\"on\": [{\"delay_s\": 1}, {\"command\": \"power-onn\"}]}",
            "scene \"on\", step 2: unknown command \"power-onn\" (qv550-cli list names them)"},
        BadFile{"{\"on\": [{\"wait\": {\"power\": \"Power ON\"}}]}",
            "scene \"on\", step 1: unknown state key \"power\" (the keys are status, mode, lamp-time, "
            "setting, temp, lamp-mode, pc-type, setting-2, pressure)"},
        BadFile{"{\"on\": [{\"expect\": {\"mode\": \"Input 2\"}}]}",
            "scene \"on\", step 1: \"Input 2\" is never shown for \"mode\" (it shows \"Input mode 1\", "
            "\"Input mode 2\", \"Input mode 3\", \"Input mode 4\")"},
        BadFile{"{\"on\": [{\"wait\": {\"status\": [\"Power ON\", 5]}}]}",
            "scene \"on\", step 1: \"status\" takes a text or a list of texts"},
        BadFile{"{\"on\": [{\"command\": \"power-on\", \"wait\": {\"status\": \"Power ON\"}}]}",
            "scene \"on\", step 1: one action a step: both \"command\" and \"wait\""},
        BadFile{"{\"on\": [{\"timeout_s\": 3}]}",
            "scene \"on\", step 1: no action: give command, send, wait, expect or delay_s"},
        BadFile{"{\"on\": [{\"command\": \"power-on\", \"retries\": 3}]}",
            "scene \"on\", step 1: unknown field \"retries\""},
        BadFile{"{\"on\": [{\"command\": \"power-on\", \"retry\": {\"count\": 0}}]}",
            "scene \"on\", step 1: retry is {\"count\": 1 to 100, \"interval_s\": seconds, more than 0 "
            "and at most 600}"},
        BadFile{"{\"on\": [{\"wait\": {\"status\": \"Stand by\"}, \"timeout_s\": 0}]}",
            "scene \"on\", step 1: timeout_s is a number of seconds, more than 0 and at most 3600"},
        BadFile{"{\"on\": [{\"send\": \"C00\\r\"}]}",
            "scene \"on\", step 1: the line to send holds a CR or LF: give one command line; the CR is "
            "added"},
        BadFile{"{\"on\": [{\"send\": \"C\u20ac\"}]}",
            "scene \"on\", step 1: \"\u20ac\" cannot be sent: the line carries one byte per character "
            "(Latin-1)"},
        BadFile{"{\"on\": [{\"command\": \"power-on\", \"address\": \"5\"}]}",
            "scene \"on\", step 1: address is single, all, 1, 2, 3 or 4"},
        BadFile{"{\"on\": [{\"delay_s\": 1, \"on_error\": \"ignore\"}]}",
            "scene \"on\", step 1: on_error is \"continue\" or \"stop\""}));

TEST(Scenes, AGoodFileReadsAsWritten)
{
    std::string whyNot;
    const auto book
        = parseScenes(R"({"presentation": [{"command": "power-on", "retry": {"count": 3, "interval_s": 2}},
        {"wait": {"status": "Power ON"}, "timeout_s": 120},
        {"send": "C06", "address": "1", "on_error": "continue"},
        {"expect": {"mode": ["Input mode 2", "Input mode 3"], "lamp-mode": "All ON : 4 Lamp mode"}},
        {"delay_s": 0.5}]})",
            "room.json", whyNot);
    ASSERT_TRUE(book) << whyNot;
    const Scene *scene = book->find("presentation");
    ASSERT_NE(scene, nullptr);
    ASSERT_EQ(scene->steps.size(), 5U);
    EXPECT_EQ(scene->steps[0].retries, 3);
    EXPECT_EQ(scene->steps[0].retryIntervalMs, 2000);
    EXPECT_EQ(scene->steps[1].timeoutMs, 120000);
    EXPECT_TRUE(scene->steps[2].continueOnError);
    EXPECT_EQ(scene->steps[3].timeoutMs, SceneBook::kDefaultExpectS * 1000);
    EXPECT_EQ(scene->steps[4].delayMs, 500);
    const std::vector<std::string> described = {"command power-on", "wait status = Power ON", "send C06 to 1",
        "expect lamp-mode = All ON : 4 Lamp mode and mode = Input mode 2 or Input mode 3", "delay 0.5 s"};
    for (std::size_t i = 0; i < described.size(); ++i)
        EXPECT_EQ(scene->steps[i].describe(), described[i]);
    EXPECT_EQ(book->find("shutdown"), nullptr);
}

// A projector on the shared line, the live state, an owner and its scenes.
class SceneLine : public ::testing::Test, protected OwnerRig {
protected:
    SceneLine() : OwnerRig("ttyS0", "test")
    {
        shared.setOnComm([this] { (void)shared.input(); });
        serial.setOnWrite([this](const std::string &bytes) {
            sent.push_back(bytes);
            if (auto answer
                = model.answer(std::string_view(bytes).substr(0, bytes.size() - 1), clock.now())) {
                replying += *answer;
                replyTimer->setEnabled(true);
            }
        });
        replyTimer->setOnTick([this] {
            replyTimer->setEnabled(false);
            serial.feed(std::exchange(replying, {}));
        });
        runner.listen([this](const QJsonObject &event) { events.push_back(event); });
        std::string whyNot;
        auto book = parseScenes(R"({
            "presentation": [{"command": "power-on", "retry": {"count": 10, "interval_s": 1}},
                             {"wait": {"status": "Power ON"}, "timeout_s": 30},
                             {"command": "input-2"},
                             {"expect": {"mode": "Input mode 2"}, "timeout_s": 5}],
            "shutdown": [{"command": "no-show-on"}, {"command": "power-off"},
                         {"wait": {"status": "Stand by"}, "timeout_s": 30}],
            "impatient": [{"command": "power-on"}, {"wait": {"status": "Power ON"}, "timeout_s": 2},
                          {"command": "input-3"}],
            "standing-by": [{"wait": {"status": "Stand by"}, "timeout_s": 3}],
            "sloppy": [{"send": "CX9", "on_error": "continue"}, {"command": "input-4"}]})",
            "room.json", whyNot);
        EXPECT_TRUE(book) << whyNot;
        runner.setBook(std::move(*book));
    }

    // Runs the clock until the run's end event, at most `limitMs`.
    std::optional<QJsonObject> runUntilEnd(int run, std::int64_t limitMs)
    {
        for (std::int64_t waited = 0; waited <= limitMs; waited += 10) {
            for (const QJsonObject &event : events) {
                if (event.value(QStringLiteral("run")).toInt() == run
                    && event.contains(QStringLiteral("end")))
                    return event;
            }
            clock.advance(10);
        }
        return std::nullopt;
    }
    int start(const std::string &name)
    {
        int run = 0;
        EXPECT_FALSE(runner.start(name, "a test", run));
        return run;
    }
    std::vector<QJsonObject> stepsOf(int run) const
    {
        std::vector<QJsonObject> steps;
        for (const QJsonObject &event : events) {
            if (event.value(QStringLiteral("run")).toInt() == run && event.contains(QStringLiteral("step")))
                steps.push_back(event);
        }
        return steps;
    }
    int count(const std::string &line) const
    {
        return static_cast<int>(std::count(sent.begin(), sent.end(), line));
    }

    std::unique_ptr<Timer> replyTimer = clock.createTimer(5);
    std::unique_ptr<Timer> next = clock.createTimer(1);
    std::unique_ptr<Timer> ask = clock.createTimer(SceneRunner::kConfirmMs);
    std::unique_ptr<Timer> deadline = clock.createTimer(1000);
    SceneRunner runner{service, live.state, *next, *ask, *deadline, [this] { return clock.now(); }};
    ProjectorModel model{1, ProjectorModel::Timing{8000, 6000}};
    std::string replying;
    std::vector<std::string> sent;
    std::vector<QJsonObject> events;
};

TEST_F(SceneLine, APresentationFromStandByEndsWhenTheProjectorIsReallyOn)
{
    const int run = start("presentation");
    const auto end = runUntilEnd(run, 60000);
    ASSERT_TRUE(end);
    EXPECT_EQ(end->value(QStringLiteral("end")).toString(), QStringLiteral("done"));
    // The count-down is 8 s: the wait ends within about a second of it, not
    // at its 30 s limit and not before.
    const auto steps = stepsOf(run);
    ASSERT_EQ(steps.size(), 4U);
    const double waited = steps[1].value(QStringLiteral("elapsed_ms")).toDouble();
    EXPECT_GE(waited, 7900);
    EXPECT_LE(waited, 9200);
    EXPECT_EQ(steps[1].value(QStringLiteral("detail")).toString(), QStringLiteral("status \"Power ON\""));
    EXPECT_EQ(model.state().inputMode, 2);
    EXPECT_EQ(model.state().power, Power::On);
    // input-2 went after the projector was on, never during its count-down.
    const auto input = std::find(sent.begin(), sent.end(), "C06\r");
    ASSERT_NE(input, sent.end());
    EXPECT_TRUE(std::find(input, sent.end(), "CR1\r") != sent.end()); // the expect asked
    EXPECT_FALSE(shared.leaseHolder()); // nothing holds the line after the scene
}

TEST_F(SceneLine, APowerOnRefusedWhileCoolingDownIsRetriedUntilTaken)
{
    model.state().power = Power::CoolingDown;
    model.state().powerChangeAt = 3500;
    const int run = start("presentation");
    const auto end = runUntilEnd(run, 60000);
    ASSERT_TRUE(end);
    EXPECT_EQ(end->value(QStringLiteral("end")).toString(), QStringLiteral("done"));
    EXPECT_GE(count("C00\r"), 4); // refused at 0, 1, 2, 3 s; taken once stood by
    EXPECT_EQ(model.state().power, Power::On);
}

TEST_F(SceneLine, AWaitThatTimesOutStopsTheSceneAndNothingAfterItIsSent)
{
    const int run = start("impatient");
    const auto end = runUntilEnd(run, 10000);
    ASSERT_TRUE(end);
    EXPECT_EQ(end->value(QStringLiteral("end")).toString(), QStringLiteral("failed"));
    EXPECT_EQ(end->value(QStringLiteral("why")).toString(),
        QStringLiteral("step 2 (wait status = Power ON): not met within 2.0 s: status \"Count down\""));
    clock.advance(30000);
    EXPECT_EQ(count("C07\r"), 0); // input-3 never went
    EXPECT_EQ(stepsOf(run).size(), 2U);
}

TEST_F(SceneLine, AWaitTrustsNoValueReadBeforeItsSceneBegan)
{
    const int asker = service.connect([](const std::string &) {});
    service.receive(asker, "{\"id\": 1, \"command\": \"status\"}\n");
    clock.advance(100);
    ASSERT_EQ(live.state.value(0).status, "Stand by");
    model.state().power = Power::On; // switched on at the projector itself
    clock.advance(500);
    const auto end = runUntilEnd(start("standing-by"), 10000);
    ASSERT_TRUE(end);
    EXPECT_EQ(end->value(QStringLiteral("end")).toString(), QStringLiteral("failed"));
    EXPECT_EQ(live.state.value(0).status, "Power ON"); // it asked, within the confirming rate
}

TEST_F(SceneLine, AFailedStepThatSaysContinueGoesOn)
{
    model.state().power = Power::On;
    const int run = start("sloppy");
    const auto end = runUntilEnd(run, 10000);
    ASSERT_TRUE(end);
    EXPECT_EQ(end->value(QStringLiteral("end")).toString(), QStringLiteral("done"));
    const auto steps = stepsOf(run);
    ASSERT_EQ(steps.size(), 2U);
    EXPECT_FALSE(steps[0].value(QStringLiteral("ok")).toBool());
    EXPECT_TRUE(steps[0].value(QStringLiteral("continued")).toBool());
    EXPECT_EQ(model.state().inputMode, 4);
}

TEST_F(SceneLine, ACancelOrANewerSceneStopsAtOnceAndNothingMoreIsSent)
{
    const int first = start("presentation");
    clock.advance(3000); // counting down
    const int second = start("shutdown");
    ASSERT_TRUE(runUntilEnd(first, 0));
    EXPECT_EQ(runUntilEnd(first, 0)->value(QStringLiteral("end")).toString(), QStringLiteral("stopped"));
    EXPECT_EQ(runUntilEnd(first, 0)->value(QStringLiteral("why")).toString(),
        QStringLiteral("scene \"shutdown\" started by a test"));
    clock.advance(2000);
    runner.stop("a press at the panel");
    const auto end = runUntilEnd(second, 0);
    ASSERT_TRUE(end);
    EXPECT_EQ(end->value(QStringLiteral("why")).toString(), QStringLiteral("a press at the panel"));
    const std::size_t before = sent.size();
    clock.advance(60000);
    EXPECT_EQ(sent.size(), before); // no poll runs here: every line would be the scenes'
    EXPECT_EQ(count("C06\r"), 0);   // the presentation's input-2 never went
}

TEST_F(SceneLine, AStoppedScenesQueuedCommandIsNeverSent)
{
    const int other = service.connect([](const std::string &) {}, "other");
    service.receive(other, "{\"id\": 1, \"lease\": 30}\n");
    ASSERT_EQ(shared.leaseHolder(), other);
    const int run = start("shutdown"); // its first command waits for the lease to end
    clock.advance(1000);
    EXPECT_EQ(count("C0D\r"), 0);
    runner.stop("cancelled");
    service.receive(other, "{\"id\": 2, \"release\": true}\n");
    clock.advance(5000);
    EXPECT_EQ(count("C0D\r"), 0);
    EXPECT_EQ(runUntilEnd(run, 0)->value(QStringLiteral("end")).toString(), QStringLiteral("stopped"));
}

TEST_F(SceneLine, NoLeaseIsHeldDuringAWaitAndAnotherClientIsServed)
{
    std::vector<std::string> got;
    const int other = service.connect([&got](const std::string &line) { got.push_back(line); }, "other");
    const int run = start("presentation");
    clock.advance(2000); // waiting for the count-down
    EXPECT_FALSE(shared.leaseHolder());
    service.receive(other, "{\"id\": 1, \"command\": \"lamp-time\", \"wait\": false}\n");
    clock.advance(100);
    ASSERT_EQ(got.size(), 1U);
    EXPECT_FALSE(
        QJsonDocument::fromJson(QByteArray::fromStdString(got[0])).object().contains(QStringLiteral("error")))
        << got[0];
    // Another client may lease the line meanwhile; the scene's next command waits its turn.
    service.receive(other, "{\"id\": 2, \"lease\": 5}\n");
    ASSERT_TRUE(runUntilEnd(run, 60000));
    EXPECT_EQ(runUntilEnd(run, 0)->value(QStringLiteral("end")).toString(), QStringLiteral("done"));
}

TEST_F(SceneLine, APressAtThePanelStopsTheSceneItsQueriesAndOtherClientsDoNot)
{
    SceneService scenes(service, runner);
    const int panel = service.connect([](const std::string &) {}, "qv550-control (process 9)");
    const int script = service.connect([](const std::string &) {}, "qv550-cli (process 10)");
    const int run = start("presentation");
    clock.advance(1000); // counting down: the scene waits
    service.receive(panel, "{\"id\": 1, \"send\": \"CR0\"}\n");
    service.receive(script, "{\"id\": 1, \"command\": \"sound-mute-on\"}\n");
    clock.advance(100);
    EXPECT_TRUE(runner.running());
    service.receive(panel, "{\"id\": 2, \"send\": \"C08\"}\n"); // input-4, pressed in the room
    const auto end = runUntilEnd(run, 0);
    ASSERT_TRUE(end);
    EXPECT_EQ(end->value(QStringLiteral("why")).toString(),
        QStringLiteral("a press at the panel (qv550-control (process 9))"));
    clock.advance(20000);
    EXPECT_EQ(count("C06\r"), 0); // the scene's input-2 never followed
    EXPECT_EQ(model.state().inputMode, 4);
}

// The panel that owns its line: its presses reach the shared line directly.
TEST_F(SceneLine, OnAPanelsOwnLineTheStatusLineFollowsTheSceneAndAPressStopsIt)
{
    std::vector<std::string> shown;
    PanelScenes panel(shared, runner, [&shown](const std::string &text) { shown.push_back(text); });
    const int run = start("presentation");
    ASSERT_FALSE(shown.empty());
    EXPECT_EQ(shown.back(), " Scene presentation 1/4: command power-on");
    for (int waited = 0; waited < 5000 && shown.back() != " Scene presentation 2/4: wait status = Power ON";
         waited += 10)
        clock.advance(10);
    EXPECT_EQ(panel.status(), " Scene presentation 2/4: wait status = Power ON");
    shared.setOutput("CR0\r"); // the panel's query: it reads, it does not press
    shared.setOutput("A001CR1\r");
    clock.advance(700);
    EXPECT_TRUE(runner.running());
    shared.setOutput("C08\r"); // input-4, pressed in the room
    const auto end = runUntilEnd(run, 0);
    ASSERT_TRUE(end);
    EXPECT_EQ(shown.back(), " Scene presentation stopped: a press at the panel");
    clock.advance(20000);
    EXPECT_EQ(count("C06\r"), 0); // the scene's input-2 never followed
    EXPECT_EQ(count("C08\r"), 1);
}

TEST_F(SceneLine, APanelPressWhileTheScenesBurstHoldsTheLineIsTakenNotRefused)
{
    std::vector<std::string> shown;
    PanelScenes panel(shared, runner, [&shown](const std::string &text) { shown.push_back(text); });
    const int run = start("shutdown");
    for (int waited = 0; waited < 1000 && !shared.leaseHolder(); ++waited)
        clock.advance(1);
    ASSERT_TRUE(shared.leaseHolder());
    EXPECT_NO_THROW(shared.setOutput("C07\r"));
    ASSERT_TRUE(runUntilEnd(run, 0));
    EXPECT_FALSE(shared.leaseHolder());
    clock.advance(5000);
    EXPECT_EQ(count("C07\r"), 1);
    EXPECT_EQ(count("C01\r"), 0); // its power-off never followed
}

TEST(Scenes, APanelLineIsAPressUnlessItIsAQuery)
{
    const std::vector<std::pair<std::string, bool>> lines
        = {{"CR0\r", false}, {"A001CR1\r", false}, {"AFFFCR0\r", false}, {"C00\r", true}, {"A002C06\r", true},
            {"AFFFC01\r", true}, {"C\r", true}, {"", true}};
    for (const auto &[line, press] : lines)
        EXPECT_EQ(isPanelPress(line), press) << line;
}

TEST_F(SceneLine, OnTheSocketTheAskerHearsEachStepWithItsId)
{
    SceneService scenes(service, runner);
    std::vector<QJsonObject> got;
    const int client = service.connect(
        [&got](const std::string &line) {
            got.push_back(QJsonDocument::fromJson(QByteArray::fromStdString(line)).object());
        },
        "qv550-cli");
    model.state().power = Power::On;
    service.receive(client, "{\"id\": 7, \"scenes\": true}\n");
    ASSERT_EQ(got.size(), 1U);
    EXPECT_EQ(got[0].value(QStringLiteral("scenes")).toArray().size(), 5);
    service.receive(client, "{\"id\": 8, \"scene\": \"nothing\"}\n");
    EXPECT_EQ(got.back().value(QStringLiteral("error")).toString(),
        QStringLiteral("no scene \"nothing\" in room.json"));
    got.clear();
    service.receive(client, "{\"id\": 9, \"scene\": \"shutdown\"}\n");
    clock.advance(15000);
    ASSERT_EQ(got.size(), 5U); // started, three steps, the end
    for (const QJsonObject &event : got)
        EXPECT_EQ(event.value(QStringLiteral("id")).toInt(), 9);
    EXPECT_TRUE(got[0].value(QStringLiteral("started")).toBool());
    EXPECT_EQ(got[4].value(QStringLiteral("end")).toString(), QStringLiteral("done"));
    EXPECT_EQ(sceneEventText(got[3]).substr(0, 44), "shutdown 3/3 wait status = Stand by: ok, sta");
    service.receive(client, "{\"id\": 10, \"scene_cancel\": true}\n");
    EXPECT_EQ(got.back().value(QStringLiteral("error")).toString(), QStringLiteral("no scene is running"));
}

} // namespace
