// SPDX-License-Identifier: GPL-3.0-or-later
// The user's port mapping file: what it sets, and every malformed line told
// with its place.

#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>

#include "serial/port_mapping.h"

namespace {

std::string writeFile(const std::string &text)
{
    // One file per test: CTest runs tests side by side.
    const std::string path = ::testing::TempDir() + "/"
        + ::testing::UnitTest::GetInstance()->current_test_info()->name() + ".ports.conf";
    std::ofstream(path) << text;
    return path;
}

TEST(PortMapping, ReadsComLinesAndSkipsCommentsAndBlanks)
{
    const std::string path
        = writeFile("# lectern 3\n\n  COM1 = /dev/serial/by-id/usb-FTDI_A50285BI-if00-port0  \n"
                    "COM2=rfc2217://10.0.0.9:7000\n");
    std::string whyNot;
    const auto mapping = readPortMapping(path, whyNot);
    ASSERT_TRUE(mapping.has_value()) << whyNot;
    EXPECT_EQ(mapping->devices.at(1), "/dev/serial/by-id/usb-FTDI_A50285BI-if00-port0");
    EXPECT_EQ(mapping->devices.at(2), "rfc2217://10.0.0.9:7000");
    EXPECT_TRUE(readPortMapping(::testing::TempDir() + "/no-such-ports.conf", whyNot)->devices.empty());
    // A byte order mark before the first line, as some editors write it.
    const auto marked = readPortMapping(writeFile("\xEF\xBB\xBF"
                                                  "COM1=/dev/ttyUSB0\n"),
        whyNot);
    ASSERT_TRUE(marked.has_value()) << whyNot;
    EXPECT_EQ(marked->devices.at(1), "/dev/ttyUSB0");
    // A '#' inside a value is part of it; after a blank it starts a comment,
    // as in the service's config.
    const auto hashes
        = readPortMapping(writeFile("COM1=/srv/rig/dev#1\nCOM2=/dev/ttyS1\t# the desk's\n"), whyNot);
    ASSERT_TRUE(hashes.has_value()) << whyNot;
    EXPECT_EQ(hashes->devices.at(1), "/srv/rig/dev#1");
    EXPECT_EQ(hashes->devices.at(2), "/dev/ttyS1");
    // A folder where the file should be is told, not taken for an empty file.
    EXPECT_FALSE(readPortMapping(::testing::TempDir(), whyNot).has_value());
    EXPECT_NE(whyNot.find("is a folder"), std::string::npos) << whyNot;
}

TEST(PortMapping, AMalformedLineIsToldWithItsPlace)
{
    struct Case {
        const char *text;
        const char *expected; // after "PATH:"
    };
    for (const Case &c : {Case{"COM1=/dev/ttyUSB0\nCOM3=/dev/ttyUSB1\n",
                              "2: expected COM1=DEVICE or COM2=DEVICE, found \"COM3=/dev/ttyUSB1\""},
             Case{"/dev/ttyUSB0\n", "1: expected COM1=DEVICE or COM2=DEVICE, found \"/dev/ttyUSB0\""},
             Case{"COM1=\n", "1: COM1 has no device"},
             Case{"COM1=/dev/ttyUSB0\n# again\nCOM1=/dev/ttyUSB1\n", "3: COM1 is set a second time"}}) {
        const std::string path = writeFile(c.text);
        std::string whyNot;
        EXPECT_FALSE(readPortMapping(path, whyNot).has_value()) << c.text;
        EXPECT_EQ(whyNot, path + ":" + c.expected);
    }
}

TEST(PortMapping, LivesInTheUsersConfigFolder)
{
    const std::string home = std::getenv("HOME") ? std::getenv("HOME") : "";
    setenv("XDG_CONFIG_HOME", "/home/tech/.cfg", 1);
    EXPECT_EQ(portMappingPath(), "/home/tech/.cfg/qv550-control/ports.conf");
    unsetenv("XDG_CONFIG_HOME");
    setenv("HOME", "/home/tech", 1);
    EXPECT_EQ(portMappingPath(), "/home/tech/.config/qv550-control/ports.conf");
    setenv("HOME", home.c_str(), 1);
}

} // namespace
