// SPDX-License-Identifier: GPL-3.0-or-later
// The simulated projector: its answers, its power sequence and addressing.

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "simulator/projector_model.h"

namespace {

struct Exchange {
    std::string line;
    std::string reply;
};

void PrintTo(const Exchange &e, std::ostream *os)
{
    *os << ::testing::PrintToString(e.line);
}

class Answers : public ::testing::TestWithParam<Exchange> { };

TEST_P(Answers, AFreshProjectorAnswersInItsFormat)
{
    ProjectorModel projector(1);
    EXPECT_EQ(projector.answer(GetParam().line, 0), GetParam().reply);
}

INSTANTIATE_TEST_SUITE_P(Formats, Answers,
    ::testing::Values(Exchange{"CR0", "80\r"}, Exchange{"CR1", "1\r"},
        Exchange{"CR3", "0123 0456 0789 1011\r"}, Exchange{"CR4", "11\r"}, Exchange{"CR6", "+25.5,+31.0\r"},
        Exchange{"CR7", "00\r"}, Exchange{"CR9", "1024X768 60HZ\r"}, Exchange{"CRA", "FF\r"},
        Exchange{"CR PRESSURE", "512\r"}, Exchange{"CR PROJH", "02345\r"}, Exchange{"CR SRCINP2", "ANALOG\r"},
        Exchange{"CR FANSPEED", "NOR\r"}, Exchange{"C1C", "\x06"}, Exchange{"CF IMAGE CUSTOM3", "\x06"},
        Exchange{"CF FANSPEED MAX", "\x06"}, Exchange{"CF INPUT4 HD-SDI1", "\x06"},
        Exchange{"CF IMAGE PRETTY", "ERR\r"}, Exchange{"CF INPUT5 VIDEO", "ERR\r"},
        Exchange{"CR NOTHING", "ERR\r"}, Exchange{"CRZ", "ERR\r"}, Exchange{"C99", "ERR\r"},
        Exchange{"", "ERR\r"}, Exchange{"cr0", "ERR\r"}));

TEST(Power, OnCountsDownThenRunsAndOffCoolsDownThenStandsBy)
{
    ProjectorModel projector(1, {100, 200});
    EXPECT_EQ(projector.answer("C00", 0), "\x06");
    EXPECT_EQ(projector.answer("CR0", 99), "40\r");
    EXPECT_EQ(projector.answer("CR0", 100), "00\r");
    EXPECT_EQ(projector.answer("CR7", 100), "0F\r");
    EXPECT_EQ(projector.answer("C01", 150), "\x06");
    EXPECT_EQ(projector.answer("CR0", 349), "20\r");
    EXPECT_EQ(projector.answer("C00", 349), "ERR\r"); // busy cooling down: refused
    EXPECT_EQ(projector.answer("CR0", 350), "80\r");
}

TEST(Power, LampModesLightTheirLampsAndFailedLampsStayDark)
{
    ProjectorModel projector(1, {0, 0});
    projector.answer("C00", 0);
    projector.answer("C71", 0);
    EXPECT_EQ(projector.answer("CR7", 1), "19\r");
    projector.answer("C72", 1);
    EXPECT_EQ(projector.answer("CR7", 1), "26\r");
    projector.state().failedLamps = 0x6;
    EXPECT_EQ(projector.answer("CR7", 1), "20\r");
    EXPECT_EQ(projector.answer("CR0", 1), "21\r");
}

TEST(Mutes, SettingTwoReportsPictureAndSoundBits)
{
    ProjectorModel projector(1, {0, 0});
    projector.answer("C00", 0);
    EXPECT_EQ(projector.answer("CRA", 1), "00\r");
    projector.answer("C0D", 1);
    EXPECT_EQ(projector.answer("CRA", 1), "01\r");
    projector.answer("C0B", 1);
    EXPECT_EQ(projector.answer("CRA", 1), "03\r");
    projector.state().signalPresent = false;
    EXPECT_EQ(projector.answer("CRA", 1), "80\r");
}

TEST(Addressing, OwnAddressAndNoPrefixAreAnsweredAllIsObeyedSilently)
{
    ProjectorModel projector(3);
    EXPECT_EQ(projector.answer("CR1", 0), "1\r");
    EXPECT_EQ(projector.answer("A003CR1", 0), "1\r");
    EXPECT_EQ(projector.answer("A002C06", 0), std::nullopt);
    EXPECT_EQ(projector.answer("CR1", 0), "1\r");
    EXPECT_EQ(projector.answer("AFFFC07", 0), std::nullopt);
    EXPECT_EQ(projector.answer("CR1", 0), "3\r");
}

TEST(Lines, PiecesAreJoinedLineFeedsIgnoredAndRunawayLinesCut)
{
    ProjectorModel projector(1);
    std::vector<std::string> replies;
    std::vector<std::string> heard;
    const auto collect = [&](std::string reply) { replies.push_back(std::move(reply)); };
    const auto hear = [&](std::string_view line) { heard.emplace_back(line); };
    projector.receive("C", 0, collect, hear);
    projector.receive("R1\r\nCR", 0, collect, hear);
    projector.receive("4\r", 0, collect, hear);
    projector.receive(std::string(100000, 'x') + "\r", 0, collect, hear);
    EXPECT_EQ(replies, std::vector<std::string>({"1\r", "11\r", "ERR\r"}));
    EXPECT_EQ(heard, std::vector<std::string>({"CR1", "CR4", std::string(256, 'x')}));
}

TEST(Lines, EveryByteValueIsSafeToSend)
{
    ProjectorModel projector(1);
    std::string all;
    for (int code = 0; code < 256; ++code)
        all += static_cast<char>(code);
    int replies = 0;
    projector.receive(all, 0, [&](std::string) { ++replies; });
    EXPECT_EQ(replies, 1); // one carriage return among them
}

} // namespace
