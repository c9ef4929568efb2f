// SPDX-License-Identifier: GPL-3.0-or-later
// The tables agree with each other: the window's captions are the ones the
// catalogue and hold-button tables give, and each control is of the kind its
// events need.

#include <gtest/gtest.h>

#include "commands/catalogue.h"
#include "commands/hold_buttons.h"
#include "ui/accessible_texts.h"
#include "ui/control_table.h"

#include <map>
#include <vector>

namespace {

TEST(ControlTable, CatalogueRowsAreClickableControlsWithTheSameCaption)
{
    for (const CatalogueEntry &entry : kCatalogue) {
        const ControlRow *row = controlRowFor(entry.control);
        ASSERT_NE(row, nullptr) << entry.control;
        EXPECT_EQ(row->caption, entry.caption) << entry.control;
        EXPECT_TRUE(row->kind == ControlKind::Button || row->kind == ControlKind::Label) << entry.control;
    }
}

TEST(ControlTable, HoldButtonsAndAddressOptionsMatchTheirRows)
{
    for (const HoldButton &button : kHoldButtons) {
        const ControlRow *row = controlRowFor(button.control);
        ASSERT_NE(row, nullptr) << button.control;
        EXPECT_EQ(row->kind, ControlKind::Button);
        EXPECT_EQ(row->caption, button.caption) << button.control;
        EXPECT_EQ(catalogueEntryFor(button.control), nullptr) << "a hold button has no click action";
    }
    for (const AddressOption &option : kAddressOptions) {
        const ControlRow *row = controlRowFor(option.control);
        ASSERT_NE(row, nullptr);
        EXPECT_EQ(row->kind, ControlKind::Option);
        EXPECT_EQ(row->caption, option.caption);
        EXPECT_EQ(row->container, "Frame11");
    }
}

TEST(ControlTable, EveryControlAUserActsOnHasANameOfItsOwnAndADescription)
{
    std::map<std::string, std::string_view> named; // name -> control
    for (const ControlRow &row : kControls) {
        const bool acted = row.kind == ControlKind::Button || row.kind == ControlKind::Option
            || row.kind == ControlKind::TextBox || catalogueEntryFor(row.name);
        const auto text = accessibleTextFor(row.name);
        if (!acted)
            continue;
        ASSERT_TRUE(text.has_value()) << row.name;
        EXPECT_FALSE(text->description.empty()) << row.name;
        if (text->name.empty()) // the data panel button: its changing caption is its name
            continue;
        const auto [other, fresh] = named.emplace(text->name, row.name);
        EXPECT_TRUE(fresh) << row.name << " and " << other->second << " are both \"" << text->name << '"';
    }
    // As a sighted user reads them off the window.
    for (const auto &[control, name] : std::vector<std::pair<std::string_view, std::string>>{
             {"Command17", "POWER ON"}, {"Command24", "MENU OFF"}, {"Command63", "Matrix input 1 DVI"},
             {"Label15", "Matrix input 1"}, {"Command15", "Zoom plus"}, {"Command5", "cursor pad up"},
             {"Command3", "DISPLAY CLEAR"}, {"Option4", "Address ALL"}}) {
        EXPECT_EQ(accessibleTextFor(control)->name, name) << control;
    }
}

TEST(ControlTable, TheWindowCaptionCarriesTheProgramsVersion)
{
    // "1.40.1" is "Ver.140": the major and minor numbers, without the point.
    const std::string version = PANEL_VERSION;
    const auto point = version.find('.');
    const std::string shown = version.substr(0, point) + version.substr(point + 1, version.find('.', point + 1) - point - 1);
    EXPECT_TRUE(kWindowCaption.ends_with("Ver." + shown)) << kWindowCaption << " for " << version;
}

TEST(ControlTable, EveryFontKeyHasARow)
{
    for (const ControlRow &row : kControls)
        EXPECT_EQ(fontRowFor(row.font).key, row.font == FontKey::None ? kWindowFont : row.font) << row.name;
}

TEST(ControlTable, TheMatrixGridFollowsItsNumbering)
{
    EXPECT_EQ(controlRowFor("Command70")->caption, "SDI1");
    EXPECT_EQ(controlRowFor("Command71")->left, 360);
    EXPECT_EQ(controlRowFor("Command71")->top, 480);
    EXPECT_EQ(controlRowFor("Command94")->tab, 127);
    EXPECT_EQ(controlRowFor("Command91")->caption, "YCbCr");
}

} // namespace
