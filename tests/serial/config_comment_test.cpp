// SPDX-License-Identifier: GPL-3.0-or-later
// The one reading of '#' that ports.conf and the service's config share.

#include <gtest/gtest.h>

#include <string>

#include "owner/service_config.h"
#include "serial/config_comment.h"

namespace {

TEST(ConfigComment, AHashStartsACommentOnlyAtTheStartOfALineOrAfterABlank)
{
    struct Case {
        const char *line;
        const char *kept;
    };
    for (const Case &c : {Case{"# all comment", ""}, Case{"port = /srv/rig/dev#1", "port = /srv/rig/dev#1"},
             Case{"port = /dev/ttyS0 # the desk", "port = /dev/ttyS0 "},
             Case{"port = /dev/ttyS0\t#tab", "port = /dev/ttyS0\t"}, Case{"a#b #c", "a#b "}, Case{"", ""}}) {
        EXPECT_EQ(withoutComment(c.line), c.kept) << c.line;
    }
    // The service's config reads a value as ports.conf does.
    ServiceConfig config;
    std::string whyNot;
    ASSERT_TRUE(readServiceConfig("port = /srv/rig/dev#1   # the rig\n", config, whyNot)) << whyNot;
    EXPECT_EQ(config.port, "/srv/rig/dev#1");
}

} // namespace
