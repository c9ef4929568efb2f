// SPDX-License-Identifier: GPL-3.0-or-later
// Status decoding: every table entry, the compositions on partial replies,
// the pressure conversion and the choice of decoder by the last line sent.

#include <gtest/gtest.h>

#include <array>
#include <set>
#include <string>
#include <vector>

#include "core/monitor_text.h"
#include "core/reply_decoders.h"

namespace {

std::optional<std::string> decode(StatusQuery query, const std::string &reply)
{
    std::int16_t pressure = 0;
    return decodeStatus(query, monitorText(reply), pressure);
}

struct TableCase {
    StatusQuery query;
    std::string reply;
    std::string status;
};

void PrintTo(const TableCase &c, std::ostream *os)
{
    *os << "reply " << ::testing::PrintToString(c.reply);
}

class CodeTables : public ::testing::TestWithParam<TableCase> { };

TEST_P(CodeTables, ReplyGivesItsText)
{
    EXPECT_EQ(decode(GetParam().query, GetParam().reply + "\r"), GetParam().status);
}

INSTANTIATE_TEST_SUITE_P(Status, CodeTables,
    ::testing::Values(TableCase{StatusQuery::CR0, "00", " Power ON"},
        TableCase{StatusQuery::CR0, "80", " Stand by"}, TableCase{StatusQuery::CR0, "40", " Count down"},
        TableCase{StatusQuery::CR0, "20", " Cooling down"}, TableCase{StatusQuery::CR0, "10", " Power Fail"},
        TableCase{StatusQuery::CR0, "08", " Temperature Warning(Power ON)"},
        TableCase{StatusQuery::CR0, "02", " NO Key input "},
        TableCase{StatusQuery::CR0, "04", " Lamp OFF by PWR Management"},
        TableCase{StatusQuery::CR0, "28", " Temperature Warning & cooling down"},
        TableCase{StatusQuery::CR0, "24", " Lamp OFF & Tempereture Warning by PWR Management"},
        TableCase{StatusQuery::CR0, "88", " Temperature Warning and recoverd"},
        TableCase{StatusQuery::CR0, "21", " Cooling down (All Lamp FAIL)"},
        TableCase{StatusQuery::CR0, "81", " Cooling down & sutandby (All Lamp FAIL)"},
        TableCase{StatusQuery::CR1, "1", " Input mode 1"}, TableCase{StatusQuery::CR1, "2", " Input mode 2"},
        TableCase{StatusQuery::CR1, "3", " Input mode 3"}, TableCase{StatusQuery::CR1, "4", " Input mode 4"},
        TableCase{StatusQuery::CR4, "11", " Normally"},
        TableCase{StatusQuery::CR4, "10", " Top/Bottom reversal"},
        TableCase{StatusQuery::CR4, "01", " Left/Right reversal"},
        TableCase{StatusQuery::CR4, "00", " Top/Bottom , Left/Right reversal"},
        TableCase{StatusQuery::CRA, "00", " Video & Audio mute OFF"},
        TableCase{StatusQuery::CRA, "01", " Video mute ON"},
        TableCase{StatusQuery::CRA, "02", " Audio mute ON"},
        TableCase{StatusQuery::CRA, "03", " Video & Audio mute ON"},
        TableCase{StatusQuery::CRA, "80", " No signal"}, TableCase{StatusQuery::CRA, "FF", " Stand by"},
        // only the first one or two characters count
        TableCase{StatusQuery::CR1, "12", " Input mode 1"}, TableCase{StatusQuery::CR0, "001", " Power ON"},
        TableCase{StatusQuery::CR7, "10", " All OFF : 2 Lamp mode(1,4)"}));

TEST(CodeTables, UnknownRepliesLeaveTheStatusLineAlone)
{
    EXPECT_EQ(decode(StatusQuery::CR0, "99\r"), std::nullopt);
    EXPECT_EQ(decode(StatusQuery::CR0, "\x06\r"), std::nullopt); // " ACK" matches nothing
    EXPECT_EQ(decode(StatusQuery::CR7, "0a\r"), std::nullopt);   // lower-case hex
    EXPECT_EQ(decode(StatusQuery::CR7, "3F\r"), std::nullopt);   // no lamp mode 3
    EXPECT_EQ(decode(StatusQuery::CR1, ""), std::nullopt);
    EXPECT_EQ(decode(StatusQuery::None, "00\r"), std::nullopt);
}

TEST(CodeTables, CodeTablesMatchOnlyOnceBothCharactersAreIn)
{
    EXPECT_EQ(decode(StatusQuery::CR0, "0"), std::nullopt);
    EXPECT_EQ(decode(StatusQuery::CR0, "00"), " Power ON");
}

TEST(LampMode, All48EntriesNameTheLampsThatAreOn)
{
    const std::array<std::string, 16> lamps = {"All OFF", "No1 ON ", "No2 ON ", "No1,2 ON ", "No3 ON ",
        "No1,3 ON ", "No2,3 ON ", "No1,2,3 ON ", "No4 ON ", "No1,4 ON ", "No2,4 ON ", "No1,2,4 ON ",
        "No3,4 ON ", "No1,3,4 ON ", "No2,3,4 ON ", "All ON "};
    const std::array<std::string, 3> modes = {"4 Lamp mode", "2 Lamp mode(1,4)", "2 Lamp mode(2,3)"};
    const std::string hex = "0123456789ABCDEF";
    std::set<std::string> texts;
    for (int mode = 0; mode < 3; ++mode) {
        for (int mask = 0; mask < 16; ++mask) {
            const std::string reply = std::string(1, static_cast<char>('0' + mode)) + hex[mask] + "\r";
            const auto status = decode(StatusQuery::CR7, reply);
            EXPECT_EQ(status, " " + lamps[mask] + " : " + modes[mode]) << "reply " << reply;
            if (status)
                texts.insert(*status);
        }
    }
    EXPECT_EQ(texts.size(), 48U);
}

TEST(Compositions, LampTimeShowsUpTo38CharactersThenHourUse)
{
    EXPECT_EQ(decode(StatusQuery::CR3, "1234\r"), " 1 2 3 4 CR  Hour Use");
    EXPECT_EQ(decode(StatusQuery::CR3, "0000000001111111111222"),
        " 0 0 0 0 0 0 0 0 0 1 1 1 1 1 1 1 1 1 1 Hour Use");
    EXPECT_EQ(decode(StatusQuery::CR3, ""), "  Hour Use");
}

TEST(Compositions, TemperatureShowsReplyCharacters1To5And8To11)
{
    EXPECT_EQ(decode(StatusQuery::CR6, "025.5,,031.0\r"), "  S1= 0 2 5 . 5 C  ,   S2=  0 3 1 . C");
    EXPECT_EQ(decode(StatusQuery::CR6, "02"), "  S1= 0 2  C  ,   S2=  C");
    EXPECT_EQ(decode(StatusQuery::CR6, "0250"), "  S1= 0 2 5 0  C  ,   S2=  C");
}

TEST(Compositions, PcTypeCopiesTheWholeMonitorText)
{
    EXPECT_EQ(decode(StatusQuery::CR9, "XGA\r"), " X G A CR ");
}

TEST(Compositions, PiecesShowPartialResultsFirst)
{
    EXPECT_EQ(decode(StatusQuery::CR9, "X"), " X ");
    EXPECT_EQ(decode(StatusQuery::CR3, "12"), " 1 2  Hour Use");
}

struct PressureCase {
    std::string reply;
    std::string status;
};

void PrintTo(const PressureCase &c, std::ostream *os)
{
    *os << "reply " << ::testing::PrintToString(c.reply);
}

class Pressure : public ::testing::TestWithParam<PressureCase> { };

TEST_P(Pressure, ReadingConvertsToHectopascals)
{
    EXPECT_EQ(decode(StatusQuery::Pressure, GetParam().reply), GetParam().status);
}

INSTANTIATE_TEST_SUITE_P(Worked, Pressure,
    ::testing::Values(PressureCase{"0\r", "106 hPa"}, PressureCase{"100\r", "212 hPa"},
        PressureCase{"512\r", "650 hPa"}, PressureCase{"1023\r", "1194 hPa"}, PressureCase{"\r", "106 hPa"},
        PressureCase{"ERR\r", "106 hPa"},
        // halves go to the even neighbour: 2.5 reads as 2, 3.5 as 4
        PressureCase{"2.5\r", "108 hPa"}, PressureCase{"3.5\r", "110 hPa"}, PressureCase{"-100\r", "-1 hPa"},
        PressureCase{"5E2\r", "637 hPa"}, PressureCase{"6553\r", "7077 hPa"},
        PressureCase{"-6553\r", "-6865 hPa"}));

INSTANTIATE_TEST_SUITE_P(OutOfRange, Pressure,
    ::testing::Values(PressureCase{"6554\r", " Pressure reading out of range: 6554"},
        PressureCase{"-6554\r", " Pressure reading out of range: -6554"},
        PressureCase{"40000\r", " Pressure reading out of range: 40000"},
        PressureCase{"1E400\r", " Pressure reading out of range: inf"}));

// Hundreds of digits: the order of the value decides, not the text's length.
INSTANTIATE_TEST_SUITE_P(LongReadings, Pressure,
    ::testing::Values(PressureCase{"0." + std::string(400, '0') + "1\r", "106 hPa"},
        PressureCase{"1" + std::string(400, '0') + "E-10\r", " Pressure reading out of range: inf"},
        PressureCase{"1" + std::string(400, '0') + "E-400\r", "107 hPa"},
        PressureCase{"0." + std::string(400, '0') + "1E402\r", "116 hPa"}));

TEST(ReadNumber, SkipsBlanksAnywhereAndStopsAtTheFirstOtherCharacter)
{
    EXPECT_EQ(readNumber(" 5 1 2 CR "), 512.0);
    EXPECT_EQ(readNumber(" - 1 2 . 5 CR "), -12.5);
    EXPECT_EQ(readNumber("\t1\n2"), 12.0);
    EXPECT_EQ(readNumber(" 1 E - 2 x"), 0.01);
    EXPECT_EQ(readNumber(" 7 E CR "), 7.0);
    EXPECT_EQ(readNumber(" CR "), 0.0);
    EXPECT_EQ(readNumber(" . "), 0.0);
    EXPECT_EQ(readNumber(" 1 . 2 . 3"), 1.2);
}

TEST(RoundHalfEven, HalvesGoToTheEvenNeighbour)
{
    EXPECT_EQ(roundHalfEven(0.5), 0.0);
    EXPECT_EQ(roundHalfEven(1.5), 2.0);
    EXPECT_EQ(roundHalfEven(-2.5), -2.0);
    EXPECT_EQ(roundHalfEven(-3.5), -4.0);
    EXPECT_EQ(roundHalfEven(2.4999), 2.0);
    EXPECT_EQ(roundHalfEven(105.55), 106.0);
}

TEST(DecoderChoice, TheLastLineMustBePrefixQueryAndCarriageReturnExactly)
{
    EXPECT_EQ(statusQueryFor("CR0\r", ""), StatusQuery::CR0);
    EXPECT_EQ(statusQueryFor("A003CR7\r", "A003"), StatusQuery::CR7);
    EXPECT_EQ(statusQueryFor("CR PRESSURE\r", ""), StatusQuery::Pressure);
    EXPECT_EQ(statusQueryFor("AFFFCRA\r", "AFFF"), StatusQuery::CRA);
    EXPECT_EQ(statusQueryFor("A001CR0\r", ""), StatusQuery::None); // address changed since
    EXPECT_EQ(statusQueryFor("CR0\r", "A001"), StatusQuery::None);
    EXPECT_EQ(statusQueryFor("cr0\r", ""), StatusQuery::None);
    EXPECT_EQ(statusQueryFor("CR0", ""), StatusQuery::None);
    EXPECT_EQ(statusQueryFor("CR PROJH\r", ""), StatusQuery::None);
    EXPECT_EQ(statusQueryFor("", ""), StatusQuery::None);
}

// Each query's answer has a form; bytes of two exchanges run together, a
// stray byte or an answer to another query do not have it.
TEST(ReplyForms, EachQueryTakesOnlyRepliesOfItsAnswersForm)
{
    struct Case {
        StatusQuery query;
        std::string reply;
        bool fits;
    };
    const std::vector<Case> cases = {
        {StatusQuery::CR0, "80\r", true}, {StatusQuery::CR0, "8101\r", false}, // a tail joined to the answer
        {StatusQuery::CR0, "8\r", false}, {StatusQuery::CR0, "8a\r", false},   // lower case is no code digit
        {StatusQuery::CR0, "80", false},                                       // not ended
        {StatusQuery::CR0, "80\x06", false},                                   // ended by an ACK
        {StatusQuery::CR0, "8\r0\r", false},                                   // two ends
        {StatusQuery::CR0, "ERR\r", true}, // the projector's refusal is its answer
        {StatusQuery::CR1, "3\r", true}, {StatusQuery::CR1, "12\r", false}, {StatusQuery::CR4, "10\r", true},
        {StatusQuery::CRA, "FF\r", true}, {StatusQuery::CR7, "1F\r", true},
        {StatusQuery::CR7, "1F0\r", false}, {StatusQuery::CR3, "0123 0456 0000 9999\r", true},
        {StatusQuery::CR3, "0123 0456 0000 99990\r", false}, // 20 characters
        {StatusQuery::CR3, "    \r", false},                 // no figure
        {StatusQuery::CR3, "12:34\r", false}, {StatusQuery::CR6, "+25.0,+30.5\r", true},
        {StatusQuery::CR6, "+25.0;+30.5\r", false}, {StatusQuery::CR9, "1024X768 60HZ\r", true},
        {StatusQuery::CR9, std::string("1024\x01X768\r"), false},
        {StatusQuery::CR9, std::string(65, 'X') + "\r", false}, {StatusQuery::Pressure, "512\r", true},
        {StatusQuery::Pressure, "-12\r", true}, {StatusQuery::Pressure, "5.12\r", false},
        {StatusQuery::Pressure, "123456789\r", false},
        {StatusQuery::None, "anything\x06", true}, // no query, no form
    };
    for (const Case &c : cases)
        EXPECT_EQ(replyFits(c.query, c.reply), c.fits) << monitorText(c.reply);
    EXPECT_EQ(replyForm(StatusQuery::CR0), "two hex digits and a CR");
    EXPECT_EQ(replyForm(StatusQuery::None), "");
}

// Every answer the code tables know fits its query's form.
TEST(ReplyForms, EveryTableCodeFitsItsQuery)
{
    const std::string hex = "0123456789ABCDEF";
    std::int16_t scratch = 0;
    for (const StatusQuery query : {StatusQuery::CR0, StatusQuery::CR4, StatusQuery::CRA, StatusQuery::CR7}) {
        for (const char first : hex) {
            for (const char second : hex) {
                const std::string reply = std::string{first, second, '\r'};
                if (decodeStatus(query, monitorText(reply), scratch)) {
                    EXPECT_TRUE(replyFits(query, reply)) << reply;
                }
            }
        }
    }
}

} // namespace
