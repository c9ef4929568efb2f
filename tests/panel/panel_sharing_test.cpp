// SPDX-License-Identifier: GPL-3.0-or-later
// The panel's serve / follow decision on the virtual clock, against a world
// of sockets where other owners answer or not and listening may fail.

#include <gtest/gtest.h>

#include <memory>
#include <set>
#include <string>
#include <vector>

#include "panel/panel_sharing.h"
#include "timers/virtual_clock.h"

namespace {

// The sockets, the panel's server, its polls, the feed and the lights, as
// the decision sees them.
struct World {
    std::string device = "/dev/ttyS0";
    std::set<std::string> otherOwners; // sockets where another owner answers
    bool listenFails = false;
    std::string served;   // where the panel's own server listens
    bool polling = false; // the panel's own polls
    std::string feedFollows;
    int looked = 0; // how often the port's device was looked at
    int listens = 0;
    int forgotten = 0;
    int refreshed = 0;
    int shownOwn = 0;
    int shownFollowed = 0;
    std::vector<std::string> told;

    PanelSharing::Seams seams()
    {
        PanelSharing::Seams s;
        s.device = [this] {
            ++looked;
            return device;
        };
        s.socketFor = [](const std::string &of) { return "/run/owners/" + of.substr(of.rfind('/') + 1); };
        s.ownerAnswers = [this](const std::string &path) { return otherOwners.count(path) > 0; };
        s.servedPath = [this] { return served; };
        s.serve = [this](const std::string &path, const std::string &, std::string &whyNot) {
            ++listens;
            if (listenFails) {
                whyNot = "no runtime folder";
                return false;
            }
            served = path;
            return true;
        };
        s.stopServing = [this] { served.clear(); };
        s.forgetState = [this] { ++forgotten; };
        s.poll = [this](bool on) { polling = on; };
        s.follow = [this](const std::string &path) { feedFollows = path; };
        s.refreshFollowed = [this] { ++refreshed; };
        s.ownState = [] { return QJsonObject{{QStringLiteral("own"), true}}; };
        s.ownChoices = [] { return QJsonObject{}; };
        s.show = [this](const QJsonObject &state, const QJsonObject &) {
            ++(state.contains(QStringLiteral("own")) ? shownOwn : shownFollowed);
        };
        s.tell = [this](const std::string &whyNot) { told.push_back(whyNot); };
        return s;
    }
};

class SharingDecision : public ::testing::Test {
protected:
    void assemble(bool showLive)
    {
        sharing = std::make_unique<PanelSharing>(world.seams(), *check, showLive);
    }
    // Lets `checks` five-second checks pass.
    void checks(int count) { clock.advance(count * PanelSharing::kCheckEveryMs); }

    VirtualClock clock;
    std::unique_ptr<Timer> check = clock.createTimer(1000);
    World world;
    std::unique_ptr<PanelSharing> sharing;
};

const std::string kLine0 = "/run/owners/ttyS0";
const std::string kLine1 = "/run/owners/ttyS1";

TEST_F(SharingDecision, ServesFollowsOrChecksAsTheLineAndTheLiveViewAsk)
{
    struct Case {
        bool showLive;
        bool anotherOwner;
        const char *served;
        const char *followed;
        bool polling;
        const char *feedFollows;
        bool checking; // the five-second check wakes the panel
    };
    const Case cases[] = {
        {false, false, "/run/owners/ttyS0", "", false, "", false},
        {true, false, "/run/owners/ttyS0", "", true, "", true},
        {false, true, "", "/run/owners/ttyS0", false, "", true},
        {true, true, "", "/run/owners/ttyS0", false, "/run/owners/ttyS0", true},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(testing::Message() << "showLive " << c.showLive << ", another owner " << c.anotherOwner);
        world = World{};
        if (c.anotherOwner)
            world.otherOwners.insert(kLine0);
        assemble(c.showLive);
        sharing->decide();
        EXPECT_EQ(world.served, c.served);
        EXPECT_EQ(sharing->followed(), c.followed);
        EXPECT_EQ(world.polling, c.polling);
        EXPECT_EQ(world.feedFollows, c.feedFollows);
        EXPECT_EQ(check->enabled(), c.checking);
        EXPECT_TRUE(world.told.empty());
        const int looked = world.looked;
        checks(3);
        EXPECT_EQ(world.looked > looked, c.checking) << "the check woke the panel, or did not";
    }
}

TEST_F(SharingDecision, ServesTheLineOnceTheFollowedOwnerHasGone)
{
    world.otherOwners.insert(kLine0);
    assemble(false);
    sharing->decide();
    ASSERT_EQ(sharing->followed(), kLine0);
    checks(2);
    EXPECT_EQ(world.forgotten, 1) << "following the same owner again forgets nothing";
    EXPECT_TRUE(world.served.empty());
    world.otherOwners.clear();
    checks(1);
    EXPECT_EQ(world.served, kLine0);
    EXPECT_TRUE(sharing->followed().empty());
    EXPECT_EQ(world.forgotten, 2);
    EXPECT_FALSE(check->enabled()) << "serving without the live view, nothing needs checking";
}

TEST_F(SharingDecision, AChangeOfPortDecidesAnewForTheNewLine)
{
    world.otherOwners.insert(kLine1);
    assemble(true);
    sharing->decide();
    ASSERT_EQ(world.served, kLine0);
    world.device = "/dev/ttyS1"; // served by another owner
    sharing->decide();
    EXPECT_TRUE(world.served.empty());
    EXPECT_FALSE(world.polling) << "the line is not polled twice";
    EXPECT_EQ(sharing->followed(), kLine1);
    EXPECT_EQ(world.feedFollows, kLine1);
    EXPECT_EQ(world.forgotten, 2) << "another line, another projector";
    world.device = "/dev/ttyS0"; // back to a line nobody serves
    sharing->decide();
    EXPECT_EQ(world.served, kLine0);
    EXPECT_TRUE(world.polling);
    EXPECT_TRUE(world.feedFollows.empty());
    world.device.clear(); // no device: nothing to decide
    sharing->decide();
    EXPECT_EQ(world.served, kLine0);
}

TEST_F(SharingDecision, ALineThatCannotBeSharedIsToldOnceAndTriedAgainQuietly)
{
    world.listenFails = true;
    assemble(true);
    sharing->decide();
    ASSERT_EQ(world.told, std::vector<std::string>{"no runtime folder"});
    EXPECT_TRUE(world.polling) << "the panel still keeps its own state";
    checks(3);
    EXPECT_EQ(world.told.size(), 1U);
    EXPECT_EQ(world.forgotten, 1) << "the state read meanwhile is kept";
    EXPECT_EQ(world.listens, 4);
    world.listenFails = false;
    checks(1);
    EXPECT_EQ(world.served, kLine0);
    // Another port that fails too is told again.
    world.listenFails = true;
    world.device = "/dev/ttyS1";
    sharing->decide();
    EXPECT_EQ(world.told.size(), 2U);
}

TEST_F(SharingDecision, TheLightsShowTheStateOfWhoeverServesTheLine)
{
    world.otherOwners.insert(kLine0);
    assemble(true);
    sharing->decide();
    sharing->ownStateChanged();
    sharing->followedStateArrived(QJsonObject{}, QJsonObject{});
    EXPECT_EQ(world.shownOwn, 0) << "following, the panel's own state is not shown";
    EXPECT_EQ(world.shownFollowed, 1);
    checks(1);
    EXPECT_EQ(world.refreshed, 1) << "the followed state is asked anew, so its ages move on";
    world.otherOwners.clear();
    checks(1);
    EXPECT_EQ(world.shownOwn, 1) << "serving, the check shows the own state";
    sharing->followedStateArrived(QJsonObject{}, QJsonObject{});
    sharing->ownStateChanged();
    EXPECT_EQ(world.shownFollowed, 1);
    EXPECT_EQ(world.shownOwn, 2);
}

TEST_F(SharingDecision, WithoutTheLiveViewNothingIsShownOrFollowed)
{
    world.otherOwners.insert(kLine0);
    assemble(false);
    sharing->decide();
    sharing->followedStateArrived(QJsonObject{}, QJsonObject{});
    sharing->ownStateChanged();
    checks(1);
    EXPECT_EQ(world.shownOwn + world.shownFollowed, 0);
    EXPECT_TRUE(world.feedFollows.empty());
    EXPECT_EQ(world.refreshed, 0);
}

} // namespace
