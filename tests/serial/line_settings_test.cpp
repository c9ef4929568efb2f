// SPDX-License-Identifier: GPL-3.0-or-later
// Line settings texts: what parses, and that anything else is refused.

#include <gtest/gtest.h>

#include "serial/line_settings.h"

namespace {

TEST(LineSettings, ThePanelsTwoSettingsParse)
{
    std::string why;
    const auto fast = parseLineSettings("19200,N,8,1", why);
    ASSERT_TRUE(fast.has_value());
    EXPECT_EQ(fast->baudRate, 19200);
    EXPECT_EQ(fast->parity, 'N');
    EXPECT_EQ(fast->dataBits, 8);
    EXPECT_EQ(fast->stopBits10, 10);
    const auto slow = parseLineSettings("9600,N,8,1", why);
    ASSERT_TRUE(slow.has_value());
    EXPECT_EQ(slow->baudRate, 9600);
}

TEST(LineSettings, OtherValidSettingsParse)
{
    std::string why;
    const auto settings = parseLineSettings("115200,E,7,1.5", why);
    ASSERT_TRUE(settings.has_value());
    EXPECT_EQ(settings->parity, 'E');
    EXPECT_EQ(settings->dataBits, 7);
    EXPECT_EQ(settings->stopBits10, 15);
}

TEST(LineSettings, MalformedTextsAreRefusedWithAReason)
{
    for (const char *text : {"", "19200", "19200,N,8", "19200,N,8,1,", "fast,N,8,1", "19200,X,8,1",
             "19200,N,9,1", "19200,N,8,3", "19200, N,8,1", "-9600,N,8,1", "19200,n,8,1"}) {
        std::string why;
        EXPECT_FALSE(parseLineSettings(text, why).has_value()) << text;
        EXPECT_NE(why.find("Invalid line settings"), std::string::npos) << text;
    }
}

} // namespace
