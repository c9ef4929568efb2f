// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// Every control of the panel window, one row each: kind, container, caption,
// place and size in twips (relative to the container), colours, font, tab
// place, alignment, border and start state. The window is built from this
// table alone. Lines are boxes of zero width or height from their start to
// their end point. The input matrix rows are generated like the catalogue's.

#include <array>
#include <cstddef>
#include <cstdint>
#include <string_view>

#include "commands/catalogue.h"

enum class ControlKind { Button, Label, Frame, Option, TextBox, Image, Line, Timer, Serial };
enum class FontKey { None, G9B, G9, G8, G8B, G10, G10B, P9, P9B, P10B, P7 };
enum class Align { Left, Centre, Right };
enum class Start { Shown, Hidden, Selected };

inline constexpr std::int32_t kSystemColour = -1; // the system's colour for that kind of control
inline constexpr std::int32_t kBlack = 0x000000;

struct ControlRow {
    std::string_view name;
    ControlKind kind;
    std::string_view container; // "Form1" for the window itself
    std::string_view caption;
    int left = 0;
    int top = 0;
    int width = 0;
    int height = 0;
    std::int32_t back = kSystemColour;
    FontKey font = FontKey::None; // None: the window font
    int tab = -1;                 // -1: no place in the tab order
    Align align = Align::Left;
    std::int32_t text = kBlack;
    bool border = false;
    Start start = Start::Shown;
};

struct FontRow {
    FontKey key;
    std::string_view face;
    double points;
    bool bold;
};

// clang-format off
inline constexpr std::string_view kFixedGothic = "\uFF2D\uFF33 \u30B4\u30B7\u30C3\u30AF";               // fixed pitch
inline constexpr std::string_view kProportionalGothic = "\uFF2D\uFF33 \uFF30\u30B4\u30B7\u30C3\u30AF"; // proportional

inline constexpr std::array kFonts = {
    FontRow{FontKey::G9B, kFixedGothic, 9.0, true},         FontRow{FontKey::G9, kFixedGothic, 9.0, false},
    FontRow{FontKey::G8, kFixedGothic, 8.25, false},        FontRow{FontKey::G8B, kFixedGothic, 8.25, true},
    FontRow{FontKey::G10, kFixedGothic, 9.75, false},       FontRow{FontKey::G10B, kFixedGothic, 9.75, true},
    FontRow{FontKey::P9, kProportionalGothic, 9.0, false},  FontRow{FontKey::P9B, kProportionalGothic, 9.0, true},
    FontRow{FontKey::P10B, kProportionalGothic, 9.75, true}, FontRow{FontKey::P7, kProportionalGothic, 7.5, false},
};
// clang-format on

inline constexpr FontKey kWindowFont = FontKey::G9B;

inline constexpr std::string_view kWindowCaption = "ZORP  QV550  CONTROL  Ver.140";
inline constexpr std::int32_t kWindowBack = 0xC0C0C0;
inline constexpr int kDesignClientWidth = 9495;
inline constexpr int kDesignClientHeight = 8730;
inline constexpr std::int32_t kLineColour = 0x8080FF;

namespace control_detail {

using K = ControlKind;
using F = FontKey;
constexpr auto B = K::Button;
constexpr auto L = K::Label;
constexpr auto Fr = K::Frame;
constexpr auto O = K::Option;
constexpr auto C = Align::Centre;
constexpr auto Rt = Align::Right;
constexpr auto Lf = Align::Left;
constexpr std::int32_t G = 0xC0C0C0; // the grey of the window

// clang-format off
inline constexpr std::array kFixedRows = {
    // Direct children of the window
    ControlRow{"Image1", K::Image, "Form1", "", 8160, 120, 1200, 390},
    ControlRow{"Frame1", Fr, "Form1", "", 120, 240, 1695, 975, G, F::None, 0, Lf, 0x808080},
    ControlRow{"Frame2", Fr, "Form1", "", 2160, 240, 3132, 975, G, F::None, 3},
    ControlRow{"Frame6", Fr, "Form1", "", 5640, 240, 1695, 975, G, F::None, 14},
    ControlRow{"Frame10", Fr, "Form1", "", 7680, 600, 1692, 1695, G, F::None, 67},
    ControlRow{"Frame3", Fr, "Form1", "", 120, 1440, 1695, 855, G, F::None, 8},
    ControlRow{"Frame4", Fr, "Form1", "", 1920, 1440, 1695, 855, G, F::None, 10},
    ControlRow{"Frame7", Fr, "Form1", "", 3720, 1440, 1695, 855, G, F::None, 22},
    ControlRow{"Frame5", Fr, "Form1", "", 5520, 1440, 1815, 855, G, F::None, 12},
    ControlRow{"Command5", B, "Form1", "\u2191", 1200, 2520, 855, 375, 0xFFE0C0, F::P9B, 17},
    ControlRow{"Label3", L, "Form1", "VOL", 3600, 2520, 495, 255, G, F::G9B, 7, C},
    ControlRow{"Label13", L, "Form1", "Zoom", 4440, 2520, 492, 252, G, F::G9, 52},
    ControlRow{"Label14", L, "Form1", "Focus", 5280, 2520, 615, 255, G, F::G9, 55},
    ControlRow{"Command13", B, "Form1", "A-IMAGE", 8400, 2760, 975, 250, 0x00C0C0, F::G9, 24},
    ControlRow{"Command1", B, "Form1", "+", 3600, 2880, 375, 255, 0xFFC080, F::G9B, 5},
    ControlRow{"Command15", B, "Form1", "+", 4440, 2880, 375, 255, 0xC0FFFF, F::G9, 50},
    ControlRow{"Command36", B, "Form1", "+", 5280, 2880, 375, 255, 0xC0FFFF, F::G9, 53},
    ControlRow{"Command9", B, "Form1", "\u2190", 240, 3000, 855, 375, 0xFFE0C0, F::P9B, 21},
    ControlRow{"Command6", B, "Form1", "SELECT", 1200, 3000, 855, 375, 0xFF8000, F::G9, 18},
    ControlRow{"Command8", B, "Form1", "\u2192", 2160, 3000, 855, 375, 0xFFE0C0, F::P9B, 20},
    ControlRow{"Command30", B, "Form1", "IMAGE", 8400, 3120, 975, 255, 0xC0C0FF, F::G9, 82},
    ControlRow{"Command2", B, "Form1", "-", 3600, 3240, 375, 255, 0xFFC080, F::G9B, 6},
    ControlRow{"Command35", B, "Form1", "-", 4440, 3240, 375, 255, 0xC0FFFF, F::G9, 51},
    ControlRow{"Command37", B, "Form1", "-", 5280, 3240, 375, 255, 0xC0FFFF, F::G9, 54},
    ControlRow{"Command7", B, "Form1", "\u2193", 1200, 3480, 855, 375, 0xFFE0C0, F::P9B, 19},
    ControlRow{"Frame8", Fr, "Form1", "", 3480, 3600, 2775, 1185, G, F::None, 41, Lf, kBlack, false, Start::Hidden},
    ControlRow{"Command3", B, "Form1", "DISPLAY CLEAR", 8400, 3600, 975, 492, 0xC0C0FF, F::G9, 16},
    ControlRow{"Label19", L, "Form1", "LAMP SELECT", 6600, 3720, 1332, 252, G, F::G9, 66},
    ControlRow{"Command56", B, "Form1", "4 LAMP", 6600, 3960, 1200, 372, 0xFFFFC0, F::G9, 63},
    ControlRow{"Command4", B, "Form1", "STAND PC", 240, 4080, 975, 255, 0xC0FFFF, F::G9, 87},
    ControlRow{"Command10", B, "Form1", "REAL", 1200, 4080, 975, 255, 0xC0FFFF, F::G9, 88},
    ControlRow{"Command11", B, "Form1", "STAND AV", 2160, 4080, 975, 255, 0xC0FFFF, F::G9, 89},
    ControlRow{"Command33", B, "Form1", "COM", 4080, 4200, 1815, 375, kSystemColour, F::P9, 40},
    ControlRow{"Command39", B, "Form1", "CINEMA", 240, 4320, 975, 255, 0xC0FFFF, F::G9, 90},
    ControlRow{"Command40", B, "Form1", "IMAGE1", 1200, 4320, 975, 255, 0xC0FFFF, F::G9, 91},
    ControlRow{"Command41", B, "Form1", "IMAGE2", 2160, 4320, 975, 255, 0xC0FFFF, F::G9, 92},
    ControlRow{"Command57", B, "Form1", "1-4", 6600, 4320, 606, 372, 0xFFFFC0, F::G9, 64},
    ControlRow{"Command58", B, "Form1", "2-3", 7200, 4320, 606, 372, 0xFFFFC0, F::G9, 65},
    ControlRow{"Command16", B, "Form1", "END", 8400, 4320, 975, 375, G, F::G9B, 25},
    ControlRow{"Command42", B, "Form1", "IMAGE3", 240, 4560, 975, 255, 0xC0FFFF, F::G9, 93},
    ControlRow{"Command43", B, "Form1", "IMAGE4", 1200, 4560, 975, 255, 0xC0FFFF, F::G9, 144},
    ControlRow{"Command100", B, "Form1", "IMAGE5", 2160, 4560, 975, 255, 0xC0FFFF, F::G9, 145},
    ControlRow{"Frame9", Fr, "Form1", "", 45, 4920, 6312, 1290, G, F::None, 44},
    ControlRow{"Command34", B, "Form1", "\u30C7\u30FC\u30BF\u3092\u8868\u793A\u3059\u308B", 6615, 5040, 1200, 375, G,
               F::P9, 49, Lf, kBlack, false, Start::Hidden},
    ControlRow{"Command52", B, "Form1", "P-FAIL", 8400, 5160, 975, 255, 0xFFE0C0, F::G9B, 94},
    ControlRow{"Command44", B, "Form1", "STATUS", 6480, 5640, 975, 255, 0xC0FFFF, F::G8B, 56},
    ControlRow{"Command46", B, "Form1", "L-TIME", 7440, 5640, 975, 255, 0xC0FFFF, F::G8B, 58},
    ControlRow{"Command54", B, "Form1", "TEMP", 8400, 5640, 975, 252, 0xC0FFFF, F::G8B, 61},
    ControlRow{"Command45", B, "Form1", "MODE", 6480, 5880, 975, 255, 0xC0FFFF, F::G8B, 57},
    ControlRow{"Command47", B, "Form1", "SETTING", 7440, 5880, 975, 255, 0xC0FFFF, F::G8B, 59},
    ControlRow{"Command55", B, "Form1", "L-MODE", 8400, 5880, 975, 252, 0xC0FFFF, F::G8B, 62},
    ControlRow{"Frame11", Fr, "Form1", "", 75, 6225, 6765, 465, G, F::None, 73},
    ControlRow{"Command38", B, "Form1", "PC type", 7080, 6240, 1095, 255, 0xC0FFFF, F::G8B, 83},
    ControlRow{"Command12", B, "Form1", "SETTING 2", 8160, 6240, 1215, 252, 0xC0FFFF, F::G8B, 81},
    ControlRow{"Frame14", Fr, "Form1", "", 120, 6735, 7215, 1320, G, F::None, 95},
    ControlRow{"Frame16", Fr, "Form1", "", 7440, 6750, 1935, 825, G, F::None, 137},
    ControlRow{"Command99", B, "Form1", "PRESSURE", 8160, 7680, 1215, 255, 0xFFE0C0, F::G9B, 141},
    ControlRow{"Frame15", Fr, "Form1", "", 120, 8055, 7215, 570, G, F::None, 132},
    // Frame1: power
    ControlRow{"Label1", L, "Frame1", "POWER", 240, 240, 1095, 255, G, F::G9B, 2, C, 0xC00000},
    ControlRow{"Command17", B, "Frame1", "ON", 120, 600, 615, 300, 0xC0FFC0, F::P9B, 1},
    ControlRow{"Command18", B, "Frame1", "OFF", 960, 600, 615, 300, 0xFFC0C0, F::P9B, 26},
    // Frame2: input mode
    ControlRow{"Label2", L, "Frame2", "INPUT MODE SET", 600, 240, 1935, 255, G, F::G9B, 4, C},
    ControlRow{"Command27", B, "Frame2", "1", 240, 600, 495, 300, 0xC0FFFF, F::P9B, 35},
    ControlRow{"Command28", B, "Frame2", "2", 960, 600, 495, 300, 0xC0FFFF, F::P9B, 36},
    ControlRow{"Command29", B, "Frame2", "3", 1680, 600, 495, 300, 0xC0FFFF, F::P9B, 37},
    ControlRow{"Command53", B, "Frame2", "4", 2400, 600, 495, 300, 0xC0FFFF, F::P9B, 60},
    // Frame6: menu
    ControlRow{"Label7", L, "Frame6", "MENU", 360, 240, 975, 255, G, F::G9B, 15, C},
    ControlRow{"Command23", B, "Frame6", "ON", 120, 600, 615, 300, 0xC0FFC0, F::P9B, 31},
    ControlRow{"Command24", B, "Frame6", "OFF", 960, 600, 615, 300, 0xFFC0C0, F::P9B, 32},
    // Frame3: sound mute
    ControlRow{"Label4", L, "Frame3", "SOUND MUTE", 120, 195, 1455, 300, G, F::G9B, 9, C},
    ControlRow{"Command19", B, "Frame3", "ON", 120, 480, 615, 300, 0xC0FFC0, F::P9B, 27},
    ControlRow{"Command20", B, "Frame3", "OFF", 960, 480, 615, 300, 0xFFC0C0, F::P9B, 28},
    // Frame4: no show
    ControlRow{"Label5", L, "Frame4", "NO SHOW", 360, 210, 1095, 285, G, F::G9B, 11, C},
    ControlRow{"Command21", B, "Frame4", "ON", 120, 480, 615, 300, 0xC0FFC0, F::P9B, 29},
    ControlRow{"Command22", B, "Frame4", "OFF", 960, 480, 615, 300, 0xFFC0C0, F::P9B, 30},
    // Frame7: freeze
    ControlRow{"Label8", L, "Frame7", "FREEZE", 240, 210, 1215, 285, G, F::G9B, 23, C},
    ControlRow{"Command25", B, "Frame7", "ON", 120, 480, 615, 300, 0xC0FFC0, F::P9B, 33},
    ControlRow{"Command26", B, "Frame7", "OFF", 960, 480, 615, 300, 0xFFC0C0, F::P9B, 34},
    // Frame5: screen size
    ControlRow{"Label6", L, "Frame5", "Screen size", 120, 210, 1575, 285, G, F::G9B, 13, C},
    ControlRow{"Command31", B, "Frame5", "Normal", 120, 480, 855, 300, 0xC0FFFF, F::P9, 38},
    ControlRow{"Command32", B, "Frame5", "Full", 1080, 480, 615, 300, 0xC0FFFF, F::P9, 39},
    // Frame10: lens shift pad
    ControlRow{"Label20", L, "Frame10", "LENS SHIFT", 120, 195, 1455, 300, G, F::G9B, 72, C},
    ControlRow{"Command59", B, "Frame10", "\u2191", 600, 600, 492, 252, 0xFFE0C0, F::P7, 68},
    ControlRow{"Command60", B, "Frame10", "\u2190", 240, 960, 492, 252, 0xFFE0C0, F::P7, 69},
    ControlRow{"Command61", B, "Frame10", "\u2192", 960, 960, 492, 252, 0xFFE0C0, F::P7, 70},
    ControlRow{"Command62", B, "Frame10", "\u2193", 588, 1320, 492, 252, 0xFFE0C0, F::P7, 71},
    // Frame8: serial port panel
    ControlRow{"Option1", O, "Frame8", "COM1", 240, 240, 1215, 255, G, F::G9B, 42},
    ControlRow{"Option2", O, "Frame8", "COM2", 1560, 240, 1095, 255, G, F::G9B, 43},
    ControlRow{"Frame13", Fr, "Frame8", "", 120, 480, 2535, 615, G, F::None, 84},
    // Frame13: line speed
    ControlRow{"Option9", O, "Frame13", "19200", 120, 240, 1095, 255, G, F::G9B, 85, Lf, kBlack, false, Start::Selected},
    ControlRow{"Option10", O, "Frame13", "9600", 1440, 240, 975, 300, G, F::G9B, 86},
    // Frame9: traffic monitor and status line
    ControlRow{"Label11", L, "Frame9", "", 600, 180, 5610, 300, 0xFFFFFF, F::P10B, 47, Lf, kBlack, true},
    ControlRow{"Label9", L, "Frame9", "TXD", 105, 210, 390, 285, G, F::G9, 45, Rt},
    ControlRow{"Label10", L, "Frame9", "RXD", 60, 540, 450, 300, G, F::G9, 46, Rt},
    ControlRow{"Label12", L, "Frame9", "", 600, 540, 5616, 300, 0xFFFFFF, F::P10B, 48, Lf, kBlack, true},
    ControlRow{"Label22", L, "Frame9", "", 930, 900, 5295, 300, 0xFFFFFF, F::P9B, 142, Lf, 0xFF0000, true},
    ControlRow{"Label23", L, "Frame9", "STATUS", 120, 1005, 795, 225, G, F::G8, 143},
    // Frame11: projector selection
    ControlRow{"Label21", L, "Frame11", "PJ Select", 60, 150, 1050, 255, G, F::G8, 74},
    ControlRow{"Option4", O, "Frame11", "ALL", 2280, 165, 855, 225, G, F::G8, 76},
    ControlRow{"Option3", O, "Frame11", "SINGLE", 1155, 168, 1095, 225, G, F::G8, 75, Lf, kBlack, false, Start::Selected},
    ControlRow{"Option5", O, "Frame11", "001", 3240, 180, 735, 225, G, F::G8, 77},
    ControlRow{"Option6", O, "Frame11", "002", 4080, 180, 735, 225, G, F::G8, 78},
    ControlRow{"Option7", O, "Frame11", "003", 4920, 180, 795, 225, G, F::G8, 79},
    ControlRow{"Option8", O, "Frame11", "004", 5880, 180, 795, 225, G, F::G8, 80},
    // Frame14: the input matrix's row labels (its buttons are generated below)
    ControlRow{"Label15", L, "Frame14", "1", 120, 240, 255, 255, G, F::G9B, 128},
    ControlRow{"Label16", L, "Frame14", "2", 120, 480, 255, 255, G, F::G9B, 129},
    ControlRow{"Label24", L, "Frame14", "3", 120, 720, 255, 255, G, F::G9B, 130},
    ControlRow{"Label25", L, "Frame14", "4", 120, 960, 255, 255, G, F::G9B, 131},
    // Frame16: fan speed
    ControlRow{"Label27", L, "Frame16", "FAN SPEED", 360, 240, 1215, 255, G, F::G9B, 138},
    ControlRow{"Command97", B, "Frame16", "MAX", 120, 480, 855, 255, 0xC0FFC0, F::G9B, 139},
    ControlRow{"Command98", B, "Frame16", "NOR", 960, 480, 855, 255, 0xC0FFC0, F::G9B, 140},
    // Frame15: free command entry
    ControlRow{"Text1", K::TextBox, "Frame15", "", 600, 165, 5055, 345, kSystemColour, F::G10B, 133},
    ControlRow{"Label26", L, "Frame15", "CMD", 120, 240, 495, 255, G, F::G10, 136},
    ControlRow{"Command95", B, "Frame15", "SEND", 5760, 240, 735, 255, 0xC0FFC0, F::G9B, 134},
    ControlRow{"Command96", B, "Frame15", "CLS", 6480, 240, 615, 255, 0xFFC0C0, F::G9B, 135},
    // Lines around the cursor pad, drawn on the window
    ControlRow{"Line1", K::Line, "Form1", "", 1080, 2400, 0, 480, kLineColour},
    ControlRow{"Line2", K::Line, "Form1", "", 2160, 2400, 0, 480, kLineColour},
    ControlRow{"Line3", K::Line, "Form1", "", 3120, 2880, 0, 600, kLineColour},
    ControlRow{"Line4", K::Line, "Form1", "", 2160, 3480, 0, 480, kLineColour},
    ControlRow{"Line5", K::Line, "Form1", "", 1080, 3480, 0, 480, kLineColour},
    ControlRow{"Line6", K::Line, "Form1", "", 120, 2880, 0, 600, kLineColour},
    ControlRow{"Line7", K::Line, "Form1", "", 1080, 2400, 1080, 0, kLineColour},
    ControlRow{"Line8", K::Line, "Form1", "", 120, 2880, 960, 0, kLineColour},
    ControlRow{"Line9", K::Line, "Form1", "", 2160, 2880, 960, 0, kLineColour},
    ControlRow{"Line10", K::Line, "Form1", "", 120, 3480, 960, 0, kLineColour},
    ControlRow{"Line11", K::Line, "Form1", "", 1080, 3960, 1080, 0, kLineColour},
    ControlRow{"Line12", K::Line, "Form1", "", 2160, 3480, 960, 0, kLineColour},
    // Invisible at run time
    ControlRow{"Timer1", K::Timer, "Form1", ""},
    ControlRow{"Timer2", K::Timer, "Form1", ""},
    ControlRow{"Timer3", K::Timer, "Form1", ""},
    ControlRow{"Timer4", K::Timer, "Form1", ""},
    ControlRow{"Timer5", K::Timer, "Form1", ""},
    ControlRow{"MSComm1", K::Serial, "Form1", ""},
};
// clang-format on

// The 32 matrix buttons: row n at top 240n, the eight columns' lefts and
// widths below, tab places from 96 on.
inline constexpr std::array<int, 8> kMatrixLefts = {360, 1080, 1800, 2760, 3720, 4680, 5640, 6360};
inline constexpr std::array<int, 8> kMatrixWidths = {735, 735, 975, 975, 975, 975, 735, 735};

constexpr auto makeControlTable()
{
    using catalogue_detail::kMatrixColumns;
    using catalogue_detail::kMatrixSize;
    std::array<ControlRow, kFixedRows.size() + kMatrixSize> rows{};
    std::size_t next = 0;
    for (const ControlRow &row : kFixedRows)
        rows[next++] = row;
    for (std::size_t i = 0; i < kMatrixSize; ++i) {
        const int row = static_cast<int>(i / kMatrixColumns.size()) + 1;
        const std::size_t column = i % kMatrixColumns.size();
        rows[next++] = ControlRow{catalogue_detail::kMatrixTexts.names[i].view(), B, "Frame14",
            kMatrixColumns[column].caption, kMatrixLefts[column], 240 * row, kMatrixWidths[column], 255,
            0xC0FFFF, F::G9, 96 + static_cast<int>(i)};
    }
    return rows;
}

} // namespace control_detail

inline constexpr auto kControls = control_detail::makeControlTable();

const ControlRow *controlRowFor(std::string_view name);
const FontRow &fontRowFor(FontKey key);
