// The tables agree with each other: the window's captions are the ones the
// catalogue and hold-button tables give, and each control is of the kind its
// events need.

#include <gtest/gtest.h>

#include "commands/catalogue.h"
#include "commands/hold_buttons.h"
#include "ui/control_table.h"

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
