// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// The one reader of our "key = value" configuration files (ports.conf and
// qv550d's config): it splits a file into its settings with their line
// numbers, and each file's own reader says what a key means. One reading of
// '#' for every file: a comment starts at a '#' at the start of a line or
// after a blank or tab, so a device path such as /srv/rig/dev#1 stays whole.
// Nothing else is special: no sections, no quotes, no continued lines, so a
// value is what the user sees between the '=' and the comment.

#include <string>
#include <string_view>
#include <vector>

// One line that is not blank and not all comment.
struct ConfigLine {
    int number = 0;       // in the file, from 1
    std::string text;     // without its comment and the blanks around it
    bool assigns = false; // it has an '='
    std::string key;      // before the first '=', trimmed (the whole text without one)
    std::string value;    // after it, trimmed
};

// `line` without its comment, if it has one.
std::string_view withoutComment(std::string_view line);

// The settings of a file's `text`, in order. A byte order mark before the
// first line (as some editors write UTF-8) is skipped; a carriage return at
// a line's end is a blank.
std::vector<ConfigLine> configLines(std::string_view text);
