// SPDX-License-Identifier: GPL-3.0-or-later
// The tables agree with each other: the window's captions are the ones the
// catalogue and hold-button tables give, and each control is of the kind its
// events need.

#include <gtest/gtest.h>

#include "commands/catalogue.h"
#include "commands/hold_buttons.h"
#include "ui/accessible_texts.h"
#include "panel/control_table.h"
#include "panel/window_sizes.h"

#include <map>
#include <set>
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

TEST(ControlTable, EveryControlAUserActsOnHasANameThatStandsAloneAndADescriptionEndingInItsCode)
{
    // Captions that say nothing alone: no control is named by one of them.
    const std::set<std::string> bare = {"1-4", "2-3", "4 LAMP", "Normal", "Full", "MAX", "NOR", "SELECT",
        "L-TIME", "L-MODE", "P-FAIL", "SETTING", "MODE", "CLS", "CLOSE", "COM", "ON", "OFF", "+", "-", "1",
        "2", "3", "4", "STATUS", "TEMP", "PRESSURE", "SEND"};
    std::map<std::string, std::string_view> named; // name -> control
    int rows = 0;
    for (const ControlRow &row : kControls) {
        const bool acted = row.kind == ControlKind::Button || row.kind == ControlKind::Option
            || row.kind == ControlKind::TextBox || catalogueEntryFor(row.name);
        if (!acted)
            continue;
        ++rows;
        const auto text = accessibleTextFor(row.name);
        ASSERT_TRUE(text.has_value()) << row.name;
        // The data panel button is named by what its caption says it does.
        const std::string name = text->name.empty() ? accessibleNameFor(row.name, row.caption) : text->name;
        EXPECT_FALSE(bare.count(name)) << row.name << " is named by its bare caption " << name;
        EXPECT_NE(name, row.caption) << row.name << ": a caption alone";
        const auto [other, fresh] = named.emplace(name, row.name);
        EXPECT_TRUE(fresh) << row.name << " and " << other->second << " are both \"" << name << '"';
        // What it does comes first, then the command it sends, from the
        // table that sends it.
        const CatalogueEntry *entry = catalogueEntryFor(row.name);
        const HoldButton *hold = holdButtonFor(row.name);
        const std::string_view code = entry ? entry->code : hold ? hold->code : std::string_view();
        if (!code.empty()) {
            EXPECT_TRUE(text->description.ends_with("(" + std::string(code) + ")"))
                << row.name << ": " << text->description;
            EXPECT_FALSE(text->description.starts_with("Sends")) << row.name << ": " << text->description;
        } else {
            EXPECT_FALSE(text->description.empty()) << row.name;
        }
        if (hold) {
            EXPECT_TRUE(text->description.find("while held") != std::string::npos) << row.name;
        }
    }
    EXPECT_EQ(rows, 95 + 10 + 1 + 14); // buttons, options, the command line, the labels that ask
    for (const auto &[control, name] : std::vector<std::pair<std::string_view, std::string>>{
             {"Command17", "POWER ON"}, {"Command57", "Lamp select 1-4"}, {"Command32", "Screen size Full"},
             {"Command97", "Fan speed MAX"}, {"Command46", "Status query lamp hours (L-TIME)"},
             {"Command63", "Matrix input 1 DVI"}, {"Label15", "Ask matrix input 1"},
             {"Option4", "Address ALL"}}) {
        EXPECT_EQ(accessibleTextFor(control)->name, name) << control;
    }
    EXPECT_EQ(accessibleTextFor("Command17")->description, "Switches the projector on (C00)");
    EXPECT_EQ(accessibleNameFor("Command34", kCloseCaption), "Data panel: close (CLOSE)");
}

TEST(ControlTable, EveryFrameIsAGroupNamedByItsCaption)
{
    std::set<std::string> groups;
    for (const ControlRow &row : kControls) {
        if (row.kind != ControlKind::Frame)
            continue;
        const auto text = accessibleTextFor(row.name);
        ASSERT_TRUE(text.has_value()) << row.name;
        EXPECT_TRUE(groups.insert(text->name).second) << text->name;
        // A frame headed by a caption (centred above its buttons, or one
        // that asks the projector) is named by it.
        for (const ControlRow &inside : kControls) {
            if (inside.container == row.name && inside.kind == ControlKind::Label && inside.caption.size() > 1
                && (inside.align == Align::Centre || catalogueEntryFor(inside.name))) {
                EXPECT_NE(text->name.find(inside.caption), std::string::npos) << row.name;
                break;
            }
        }
    }
    EXPECT_EQ(groups.size(), 15U);
}

TEST(ControlTable, TheWindowCaptionCarriesTheProgramsVersion)
{
    // "1.40.1" is "Ver.140": the major and minor numbers, without the point.
    const std::string version = PANEL_VERSION;
    const auto point = version.find('.');
    const std::string shown
        = version.substr(0, point) + version.substr(point + 1, version.find('.', point + 1) - point - 1);
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
