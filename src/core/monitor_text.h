// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// The display form of line traffic: a leading space, then one token per byte
// with control characters spelled out. Output is always printable ASCII, so
// nothing received can ever be taken for markup or an encoding.

#include <string>
#include <string_view>

// Appends the tokens of `bytes` (without the leading space) to `out`.
void appendMonitorTokens(std::string &out, std::string_view bytes);

// The whole monitor text of `bytes`: " " followed by their tokens.
std::string monitorText(std::string_view bytes);

// The bytes in hexadecimal, two upper-case digits each, joined by `separator`:
// "43 30 30 0D" for logs, "4330300D" for JSON.
std::string hexText(std::string_view bytes, std::string_view separator);
