// SPDX-License-Identifier: GPL-3.0-or-later
// The one reader of our configuration files: which lines are settings,
// what their keys and values are, and where '#' starts a comment. Then
// both files read through it, with a fault told by its line.

#include <gtest/gtest.h>

#include <fstream>
#include <string>
#include <vector>

#include "core/config_lines.h"
#include "owner/service_config.h"
#include "serial/port_mapping.h"

namespace {

TEST(ConfigLines, AHashStartsACommentOnlyAtTheStartOfALineOrAfterABlank)
{
    struct Case {
        const char *line;
        const char *kept;
    };
    for (const Case &c : {Case{"# all comment", ""}, Case{"port = /srv/rig/dev#1", "port = /srv/rig/dev#1"},
             Case{"port = /dev/ttyS0 # the desk", "port = /dev/ttyS0 "},
             Case{"port = /dev/ttyS0\t#tab", "port = /dev/ttyS0\t"}, Case{"a#b #c", "a#b "},
             Case{"  # indented", "  "}, Case{"", ""}}) {
        EXPECT_EQ(withoutComment(c.line), c.kept) << c.line;
    }
}

TEST(ConfigLines, SplitsAFileIntoNumberedSettings)
{
    struct Line {
        int number;
        bool assigns;
        std::string key;
        std::string value;
    };
    struct Case {
        std::string text;
        std::vector<Line> lines;
    };
    const std::vector<Case> cases = {
        {"", {}},
        {"# only a comment\n\n   \n\t# another\n", {}},
        {"port = /dev/ttyUSB0\n", {{1, true, "port", "/dev/ttyUSB0"}}},
        // No newline at the end, Windows line ends, blanks around both parts.
        {"\n  COM1 = /dev/ttyS0  \r\nCOM2=x", {{2, true, "COM1", "/dev/ttyS0"}, {3, true, "COM2", "x"}}},
        // The first '=' parts key from value; the rest belongs to the value.
        {"mqtt-bridge-topic = a=b", {{1, true, "mqtt-bridge-topic", "a=b"}}},
        {"name =", {{1, true, "name", ""}}},
        {"= value", {{1, true, "", "value"}}},
        {"port /dev/ttyS0 # no equals", {{1, false, "port /dev/ttyS0", ""}}},
        // '#' in a value stays, after a blank it ends it.
        {"port = /srv/rig/dev#1   # the rig\n", {{1, true, "port", "/srv/rig/dev#1"}}},
        {"name = hall # left\n# x = y\nposition = 3",
            {{1, true, "name", "hall"}, {3, true, "position", "3"}}},
        // A byte order mark before the first line only.
        {"\xEF\xBB\xBF"
         "COM1=/dev/ttyUSB0\n",
            {{1, true, "COM1", "/dev/ttyUSB0"}}},
        // No sections, no quotes, no continued lines: what is written is the value.
        {"[main]\nname = \"hall\"\n  speed = 9600 ; fast",
            {{1, false, "[main]", ""}, {2, true, "name", "\"hall\""}, {3, true, "speed", "9600 ; fast"}}},
    };
    for (const Case &c : cases) {
        const std::vector<ConfigLine> lines = configLines(c.text);
        ASSERT_EQ(lines.size(), c.lines.size()) << c.text;
        for (std::size_t i = 0; i < lines.size(); ++i) {
            EXPECT_EQ(lines[i].number, c.lines[i].number) << c.text;
            EXPECT_EQ(lines[i].assigns, c.lines[i].assigns) << c.text;
            EXPECT_EQ(lines[i].key, c.lines[i].key) << c.text;
            EXPECT_EQ(lines[i].value, c.lines[i].value) << c.text;
        }
    }
}

// The same text in both files means the same, and a fault names its line.
TEST(ConfigLines, PortsConfAndTheServiceConfigReadAlike)
{
    struct Case {
        std::string text;  // a ports.conf line ("KEY" becomes COM1 or port)
        std::string value; // empty: refused
        int faultLine;     // the line a refusal names
    };
    const std::vector<Case> cases = {
        {"KEY=/srv/rig/dev#1\n", "/srv/rig/dev#1", 0},
        {"# the rig\n\nKEY = /dev/ttyS1\t# the desk's\n", "/dev/ttyS1", 0},
        {"\xEF\xBB\xBFKEY=/dev/ttyUSB0\r\n", "/dev/ttyUSB0", 0},
        {"# fine\nKEY /dev/ttyS0\n", "", 2},
        {"\n\n#\nKEY=/dev/ttyS0\nnothing\n", "", 5},
    };
    for (const Case &c : cases) {
        std::string forService = c.text;
        std::string forPanel = c.text;
        forService.replace(forService.find("KEY"), 3, "port");
        forPanel.replace(forPanel.find("KEY"), 3, "COM1");
        ServiceConfig config;
        std::string whyNot;
        const bool read = readServiceConfig(forService, config, whyNot);
        const std::string path = ::testing::TempDir() + "/alike.ports.conf";
        std::ofstream(path) << forPanel;
        std::string panelWhyNot;
        const auto mapping = readPortMapping(path, panelWhyNot);
        EXPECT_EQ(read, !c.value.empty()) << c.text << whyNot;
        EXPECT_EQ(mapping.has_value(), !c.value.empty()) << c.text << panelWhyNot;
        if (!c.value.empty()) {
            EXPECT_EQ(config.port, c.value) << c.text;
            if (mapping) {
                EXPECT_EQ(mapping->devices.at(1), c.value) << c.text;
            }
        } else {
            const std::string line = std::to_string(c.faultLine);
            EXPECT_TRUE(whyNot.starts_with("line " + line + ": ")) << whyNot;
            EXPECT_TRUE(panelWhyNot.starts_with(path + ":" + line + ": ")) << panelWhyNot;
        }
    }
}

} // namespace
