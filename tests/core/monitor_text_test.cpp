// SPDX-License-Identifier: GPL-3.0-or-later
// Monitor text: the token rules, their order, and every byte value.

#include <gtest/gtest.h>

#include <string>

#include "core/monitor_text.h"

namespace {

struct RenderCase {
    std::string bytes;
    std::string shown;
};

void PrintTo(const RenderCase &c, std::ostream *os)
{
    *os << "shown " << ::testing::PrintToString(c.shown);
}

class MonitorTextCases : public ::testing::TestWithParam<RenderCase> { };

TEST_P(MonitorTextCases, RendersAsTheRulesSay)
{
    EXPECT_EQ(monitorText(GetParam().bytes), GetParam().shown);
}

INSTANTIATE_TEST_SUITE_P(Examples, MonitorTextCases,
    ::testing::Values(RenderCase{"", " "}, RenderCase{"CR0\r", " C R 0 CR "},
        RenderCase{"A001C00\r", " A 0 0 1 C 0 0 CR "}, RenderCase{"00\r", " 0 0 CR "},
        RenderCase{"\x06\r", " ACK CR "}, RenderCase{"\n", " LF "}, RenderCase{"a b", " a   b "},
        // code 20 runs into the next token
        RenderCase{"\x14"
                   "A",
            " &A "},
        RenderCase{"&", " & "}, RenderCase{"z{|}~\x7F", " z ? ? ? ? ? "},
        RenderCase{std::string(1, '\0'), " ? "}, RenderCase{"\x80\xFF", " ? ? "},
        RenderCase{"\x1B\x07", " ? ? "}));

TEST(MonitorText, EveryByteValueGetsItsOwnPrintableToken)
{
    std::string all;
    for (int code = 0; code < 256; ++code)
        all += static_cast<char>(code);
    const std::string shown = monitorText(all);

    for (const char c : shown)
        EXPECT_TRUE(c >= 32 && c <= 126) << "unprintable " << static_cast<int>(static_cast<unsigned char>(c));
    // 91 printable characters, one ampersand and 164 two- to four-character tokens.
    std::size_t unknown = 0;
    for (std::size_t at = shown.find("? "); at != std::string::npos; at = shown.find("? ", at + 2))
        ++unknown;
    EXPECT_EQ(unknown, 256U - 91U - 4U + 1U); // "?" itself (63) is printable and also shows "? "
    EXPECT_NE(shown.find(" ACK "), std::string::npos);
    EXPECT_NE(shown.find("LF "), std::string::npos);
    EXPECT_NE(shown.find("CR "), std::string::npos);
}

TEST(MonitorText, PrintableCharacterKStandsAtPosition2K)
{
    const std::string reply = "0123456789ABCDEFGHIJ";
    const std::string shown = monitorText(reply);
    for (std::size_t k = 1; k <= reply.size(); ++k) {
        EXPECT_EQ(shown[2 * k - 1], reply[k - 1]);
        EXPECT_EQ(shown[2 * k - 2], ' ');
    }
}

} // namespace
