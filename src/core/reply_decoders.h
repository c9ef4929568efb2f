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

// Whether `reply`, the raw bytes that came back for `query`, has the form
// of its answer: the query's characters (two hex digits for a code, figures
// for hours, temperatures and pressure, printable text for the PC type) and
// one CR that ends it. "ERR" and a CR, the projector's refusal, fits every
// query. A reply of another form is bytes from two exchanges run together, or
// noise: decoded, it would be a status the projector never gave. Any reply
// fits a line that is no status query.
bool replyFits(StatusQuery query, std::string_view reply);

// The form of `query`'s answer in words ("two hex digits and a CR"); empty
// for a line that is no status query.
std::string_view replyForm(StatusQuery query);

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
