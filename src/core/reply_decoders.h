// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// Turns the replies to the nine status queries into plain English status
// texts. A decoder reads the monitor text of the whole receive buffer and
// recognises its query by the last line sent.

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

enum class StatusQuery { None, CR0, CR1, CR4, CR3, CR6, CRA, CR9, Pressure, CR7 };

// The query whose line (prefix + code + CR) equals `commandText`, if any.
StatusQuery statusQueryFor(std::string_view commandText, std::string_view addressPrefix);

// The new status line for a reply, or nothing when it is to stay as it was.
// `pressureValue` is the pressure conversion's scratch variable.
std::optional<std::string> decodeStatus(
    StatusQuery query, std::string_view monitor, std::int16_t &pressureValue);

// The texts the power status query can give, without their leading space.
std::vector<std::string_view> powerStatusTexts();

// Every text the query's decoder can give, without its leading space; nothing
// for a query whose text carries the reply's figures (lamp hours,
// temperatures, PC type, pressure), which can be any text.
std::optional<std::vector<std::string>> statusTexts(StatusQuery query);

// Rounds to the nearest integer, halves to the even neighbour.
double roundHalfEven(double value);

// Reads a decimal number the lenient way the pressure reply needs: blanks,
// tabs and line feeds are skipped anywhere; an optional sign, digits, a point
// and an exponent are taken up to the first other character; no digit reads 0.
double readNumber(std::string_view text);
