// SPDX-License-Identifier: GPL-3.0-or-later
// Look-ups into the control table, and the invariants the window relies on,
// checked when the program is compiled.

#include "panel/control_table.h"

#include "commands/hold_buttons.h"

namespace {

constexpr std::size_t countKind(ControlKind kind)
{
    std::size_t count = 0;
    for (const ControlRow &row : kControls)
        count += row.kind == kind ? 1 : 0;
    return count;
}

constexpr bool hasRow(std::string_view name)
{
    for (const ControlRow &row : kControls) {
        if (row.name == name)
            return true;
    }
    return false;
}

constexpr bool namesUnique()
{
    for (std::size_t i = 0; i < kControls.size(); ++i) {
        for (std::size_t k = i + 1; k < kControls.size(); ++k) {
            if (kControls[i].name == kControls[k].name)
                return false;
        }
    }
    return true;
}

constexpr bool tabsArePermutation()
{
    std::array<int, kControls.size()> seen{};
    int places = 0;
    for (const ControlRow &row : kControls) {
        if (row.tab < 0)
            continue;
        if (row.tab >= static_cast<int>(seen.size()) || seen[static_cast<std::size_t>(row.tab)]++)
            return false;
        ++places;
    }
    for (int i = 0; i < places; ++i) {
        if (!seen[static_cast<std::size_t>(i)])
            return false;
    }
    return true;
}

constexpr bool containersComeFirst()
{
    for (std::size_t i = 0; i < kControls.size(); ++i) {
        if (kControls[i].container == "Form1")
            continue;
        bool found = false;
        for (std::size_t k = 0; k < i; ++k)
            found = found
                || (kControls[k].name == kControls[i].container && kControls[k].kind == ControlKind::Frame);
        if (!found)
            return false;
    }
    return true;
}

constexpr bool everyCatalogueControlExists()
{
    for (const CatalogueEntry &entry : kCatalogue) {
        if (!hasRow(entry.control))
            return false;
    }
    for (const HoldButton &button : kHoldButtons) {
        if (!hasRow(button.control))
            return false;
    }
    for (const AddressOption &option : kAddressOptions) {
        if (!hasRow(option.control))
            return false;
    }
    return true;
}

static_assert(kControls.size() == 165);
static_assert(countKind(ControlKind::Button) == 95);
static_assert(countKind(ControlKind::Label) == 25);
static_assert(countKind(ControlKind::Frame) == 15);
static_assert(countKind(ControlKind::Option) == 10);
static_assert(countKind(ControlKind::TextBox) == 1);
static_assert(countKind(ControlKind::Image) == 1);
static_assert(countKind(ControlKind::Line) == 12);
static_assert(countKind(ControlKind::Timer) == 5);
static_assert(countKind(ControlKind::Serial) == 1);
static_assert(namesUnique());
static_assert(tabsArePermutation());
static_assert(containersComeFirst());
static_assert(everyCatalogueControlExists());
static_assert(kCatalogue.size() == 75 + 14 + 4);

} // namespace

const ControlRow *controlRowFor(std::string_view name)
{
    for (const ControlRow &row : kControls) {
        if (row.name == name)
            return &row;
    }
    return nullptr;
}

const FontRow &fontRowFor(FontKey key)
{
    const FontKey wanted = key == FontKey::None ? kWindowFont : key;
    for (const FontRow &row : kFonts) {
        if (row.key == wanted)
            return row;
    }
    return kFonts.front();
}
