// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// What every clickable control sends: one row per control with its caption,
// its group on the window, its command code (or local action), the timer
// profile it gives the reply watch and monitor clear, and its after-send
// effect. The input matrix's 32 rows are generated from its rows and columns.

#include <array>
#include <cstddef>
#include <string_view>

enum class TimerProfile { None, Reply2000, Matrix5000 };
enum class AfterSend { None, CursorPadMode }; // Timer1 := 200 ms, cursorPadMode := 1
enum class LocalAction { None, Send, Clear, ShowPorts, End };

struct CatalogueEntry {
    std::string_view control;
    // The command's name for scripts (qv550-cli); stable once released, empty
    // for the local actions, which send nothing of their own.
    std::string_view name;
    std::string_view caption;
    std::string_view group;
    std::string_view code; // empty for a local action
    TimerProfile profile = TimerProfile::None;
    AfterSend after = AfterSend::None;
    LocalAction action = LocalAction::None;
};

struct AddressOption {
    std::string_view control;
    std::string_view caption;
    std::string_view prefix;
};

// clang-format off
inline constexpr std::array kAddressOptions = {
    AddressOption{"Option3", "SINGLE", ""},   AddressOption{"Option4", "ALL", "AFFF"},
    AddressOption{"Option5", "001", "A001"}, AddressOption{"Option6", "002", "A002"},
    AddressOption{"Option7", "003", "A003"}, AddressOption{"Option8", "004", "A004"},
};
// clang-format on

namespace catalogue_detail {

// A short text with static storage, so generated rows can hold string_views.
struct FixedText {
    std::array<char, 24> chars{};
    std::size_t size = 0;
    constexpr void append(std::string_view piece)
    {
        for (const char c : piece)
            chars[size++] = c;
    }
    constexpr void appendNumber(int number)
    {
        if (number >= 10)
            appendNumber(number / 10);
        chars[size++] = static_cast<char>('0' + number % 10);
    }
    constexpr std::string_view view() const { return {chars.data(), size}; }
};

struct MatrixColumn {
    std::string_view caption;
    std::string_view word; // what the projector is sent
    std::string_view key;  // in the command's name: "matrix-<row>-<key>"
};

// clang-format off
inline constexpr std::array kMatrixColumns = {
    MatrixColumn{"DVI", "DIGITAL", "dvi"},     MatrixColumn{"RGB", "ANALOG", "rgb"},
    MatrixColumn{"VIDEO", "VIDEO", "video"},   MatrixColumn{"YPbPr", "YPBPR", "ypbpr"},
    MatrixColumn{"YCbCr", "YCBCR", "ycbcr"},   MatrixColumn{"S-VIDEO", "S-VIDEO", "s-video"},
    MatrixColumn{"YC", "YC", "yc"},            MatrixColumn{"SDI1", "HD-SDI1", "sdi1"},
};
// clang-format on

inline constexpr int kMatrixRows = 4;
inline constexpr std::size_t kMatrixSize = kMatrixRows * kMatrixColumns.size();

struct MatrixTexts {
    std::array<FixedText, kMatrixSize> names{};
    std::array<FixedText, kMatrixSize> commandNames{};
    std::array<FixedText, kMatrixSize> codes{};
};

// Row n (1 to 4) holds Command(55 + 8n) to Command(62 + 8n), sending
// "CF INPUT<n> <word>".
constexpr MatrixTexts makeMatrixTexts()
{
    MatrixTexts texts;
    for (int row = 1; row <= kMatrixRows; ++row) {
        for (std::size_t column = 0; column < kMatrixColumns.size(); ++column) {
            const std::size_t index = static_cast<std::size_t>(row - 1) * kMatrixColumns.size() + column;
            texts.names[index].append("Command");
            texts.names[index].appendNumber(55 + 8 * row + static_cast<int>(column));
            texts.commandNames[index].append("matrix-");
            texts.commandNames[index].appendNumber(row);
            texts.commandNames[index].append("-");
            texts.commandNames[index].append(kMatrixColumns[column].key);
            texts.codes[index].append("CF INPUT");
            texts.codes[index].appendNumber(row);
            texts.codes[index].append(" ");
            texts.codes[index].append(kMatrixColumns[column].word);
        }
    }
    return texts;
}

inline constexpr MatrixTexts kMatrixTexts = makeMatrixTexts();

constexpr auto R = TimerProfile::Reply2000;

// clang-format off
inline constexpr std::array kFixedEntries = {
    // POWER
    CatalogueEntry{"Command17", "power-on", "ON", "POWER", "C00"},
    CatalogueEntry{"Command18", "power-off", "OFF", "POWER", "C01"},
    CatalogueEntry{"Label1", "power-query", "POWER", "POWER", "CR PROJH", R},
    // INPUT MODE SET
    CatalogueEntry{"Command27", "input-1", "1", "INPUT MODE SET", "C05"},
    CatalogueEntry{"Command28", "input-2", "2", "INPUT MODE SET", "C06"},
    CatalogueEntry{"Command29", "input-3", "3", "INPUT MODE SET", "C07"},
    CatalogueEntry{"Command53", "input-4", "4", "INPUT MODE SET", "C08"},
    CatalogueEntry{"Label2", "input-query", "INPUT MODE SET", "INPUT MODE SET", "CR INPUT", R},
    // MENU
    CatalogueEntry{"Command23", "menu-on", "ON", "MENU", "C1C", TimerProfile::None, AfterSend::CursorPadMode},
    CatalogueEntry{"Command24", "menu-off", "OFF", "MENU", "C1D"},
    CatalogueEntry{"Label7", "menu-query", "MENU", "MENU", "CR SOURCE", R},
    // SOUND MUTE
    CatalogueEntry{"Command19", "sound-mute-on", "ON", "SOUND MUTE", "C0B"},
    CatalogueEntry{"Command20", "sound-mute-off", "OFF", "SOUND MUTE", "C0C"},
    CatalogueEntry{"Label4", "sound-mute-query", "SOUND MUTE", "SOUND MUTE", "CR MUTE", R},
    // NO SHOW
    CatalogueEntry{"Command21", "no-show-on", "ON", "NO SHOW", "C0D"},
    CatalogueEntry{"Command22", "no-show-off", "OFF", "NO SHOW", "C0E"},
    CatalogueEntry{"Label5", "no-show-query", "NO SHOW", "NO SHOW", "CR VMUTE", R},
    // FREEZE
    CatalogueEntry{"Command25", "freeze-on", "ON", "FREEZE", "C43"},
    CatalogueEntry{"Command26", "freeze-off", "OFF", "FREEZE", "C44"},
    CatalogueEntry{"Label8", "freeze-query", "FREEZE", "FREEZE", "CR FREEZE", R},
    // Screen size
    CatalogueEntry{"Command31", "screen-normal", "Normal", "Screen size", "C0F"},
    CatalogueEntry{"Command32", "screen-full", "Full", "Screen size", "C10"},
    CatalogueEntry{"Label6", "screen-query", "Screen size", "Screen size", "CR SCREEN", R},
    // VOL (its hold buttons are in the hold-button table)
    CatalogueEntry{"Label3", "vol-query", "VOL", "VOL", "CR VOLUME", R},
    // Image modes
    CatalogueEntry{"Command4", "image-stand-pc", "STAND PC", "Image modes", "CF IMAGE STANDPC", R},
    CatalogueEntry{"Command10", "image-real", "REAL", "Image modes", "CF IMAGE REAL", R},
    CatalogueEntry{"Command11", "image-stand-av", "STAND AV", "Image modes", "CF IMAGE STANDAV", R},
    CatalogueEntry{"Command39", "image-cinema", "CINEMA", "Image modes", "CF IMAGE CINEMA", R},
    CatalogueEntry{"Command40", "image-1", "IMAGE1", "Image modes", "CF IMAGE CUSTOM1", R},
    CatalogueEntry{"Command41", "image-2", "IMAGE2", "Image modes", "CF IMAGE CUSTOM2", R},
    CatalogueEntry{"Command42", "image-3", "IMAGE3", "Image modes", "CF IMAGE CUSTOM3", R},
    CatalogueEntry{"Command43", "image-4", "IMAGE4", "Image modes", "CF IMAGE CUSTOM4", R},
    CatalogueEntry{"Command100", "image-5", "IMAGE5", "Image modes", "CF IMAGE CUSTOM5", R},
    // Right-hand column
    CatalogueEntry{"Command13", "a-image", "A-IMAGE", "Right-hand column", "C89", TimerProfile::None,
                   AfterSend::CursorPadMode},
    CatalogueEntry{"Command30", "image", "IMAGE", "Right-hand column", "C27"},
    CatalogueEntry{"Command3", "display-clear", "DISPLAY CLEAR", "Right-hand column", "C1E"},
    CatalogueEntry{"Command16", "", "END", "Right-hand column", "", TimerProfile::None, AfterSend::None,
                   LocalAction::End},
    // LAMP SELECT
    CatalogueEntry{"Command56", "lamp-4", "4 LAMP", "LAMP SELECT", "C70"},
    CatalogueEntry{"Command57", "lamp-1-4", "1-4", "LAMP SELECT", "C71"},
    CatalogueEntry{"Command58", "lamp-2-3", "2-3", "LAMP SELECT", "C72"},
    CatalogueEntry{"Label19", "lamp-select-query", "LAMP SELECT", "LAMP SELECT", "CR LAMPMODE", R},
    // Status queries
    CatalogueEntry{"Command44", "status", "STATUS", "Status queries", "CR0"},
    CatalogueEntry{"Command45", "mode", "MODE", "Status queries", "CR1"},
    CatalogueEntry{"Command46", "lamp-time", "L-TIME", "Status queries", "CR3"},
    CatalogueEntry{"Command47", "setting", "SETTING", "Status queries", "CR4"},
    CatalogueEntry{"Command54", "temp", "TEMP", "Status queries", "CR6"},
    CatalogueEntry{"Command55", "lamp-mode", "L-MODE", "Status queries", "CR7"},
    CatalogueEntry{"Command38", "pc-type", "PC type", "Status queries", "CR9"},
    CatalogueEntry{"Command12", "setting-2", "SETTING 2", "Status queries", "CRA"},
    CatalogueEntry{"Command99", "pressure", "PRESSURE", "Status queries", "CR PRESSURE"},
    CatalogueEntry{"Command52", "p-fail", "P-FAIL", "Status queries", "CR INFPFAIL", R},
    // Input selection matrix: the row labels (the buttons are generated)
    CatalogueEntry{"Label15", "matrix-1-query", "1", "Input selection matrix", "CR SRCINP1", R},
    CatalogueEntry{"Label16", "matrix-2-query", "2", "Input selection matrix", "CR SRCINP2", R},
    CatalogueEntry{"Label24", "matrix-3-query", "3", "Input selection matrix", "CR SRCINP3", R},
    CatalogueEntry{"Label25", "matrix-4-query", "4", "Input selection matrix", "CR SRCINP4", R},
    // FAN SPEED
    CatalogueEntry{"Command97", "fan-max", "MAX", "FAN SPEED", "CF FANSPEED MAX"},
    CatalogueEntry{"Command98", "fan-normal", "NOR", "FAN SPEED", "CF FANSPEED NOR"},
    CatalogueEntry{"Label27", "fan-speed-query", "FAN SPEED", "FAN SPEED", "CR FANSPEED", R},
    // CMD
    CatalogueEntry{"Command95", "", "SEND", "CMD", "", R, AfterSend::None, LocalAction::Send},
    CatalogueEntry{"Command96", "", "CLS", "CMD", "", TimerProfile::None, AfterSend::None, LocalAction::Clear},
    // Port settings
    CatalogueEntry{"Command33", "", "COM", "Port settings", "", TimerProfile::None, AfterSend::None,
                   LocalAction::ShowPorts},
};
// clang-format on

constexpr auto makeCatalogue()
{
    std::array<CatalogueEntry, kFixedEntries.size() + kMatrixSize> rows{};
    std::size_t next = 0;
    for (const CatalogueEntry &entry : kFixedEntries)
        rows[next++] = entry;
    for (std::size_t i = 0; i < kMatrixSize; ++i) {
        rows[next++]
            = CatalogueEntry{kMatrixTexts.names[i].view(), kMatrixTexts.commandNames[i].view(),
                kMatrixColumns[i % kMatrixColumns.size()].caption,
                "Input selection matrix", kMatrixTexts.codes[i].view(), TimerProfile::Matrix5000};
    }
    return rows;
}

} // namespace catalogue_detail

inline constexpr auto kCatalogue = catalogue_detail::makeCatalogue();

// The row of `control`, or nullptr when it is not in the catalogue.
const CatalogueEntry *catalogueEntryFor(std::string_view control);
