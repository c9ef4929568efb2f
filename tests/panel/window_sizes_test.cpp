// SPDX-License-Identifier: GPL-3.0-or-later
// The data panel gestures and the four window heights.

#include "panel_fixture.h"

#include "panel/window_sizes.h"

namespace {

using DataPanelGestures = PanelFixture;

struct KeyCase {
    int key;
    int shift;
    bool opens;
};

void PrintTo(const KeyCase &c, std::ostream *os)
{
    *os << "key " << c.key << " mask " << c.shift;
}

class CtrlQ : public PanelFixture, public ::testing::WithParamInterface<KeyCase> { };

TEST(FittingScale, AWindowThatFitsKeepsItsScaleOtherwiseTheLargestThatFits)
{
    struct Case {
        int width, height; // available, in logical pixels
        double scale;
    };
    for (const Case c : {Case{1280, 1000, 1.0}, Case{633, 357, 1.0}, Case{512, 360, 0.8}, // 1024x768 at 2x
             Case{640, 300, 0.8}, Case{632, 2000, 0.95}, Case{10, 10, 0.05}}) {
        EXPECT_DOUBLE_EQ(fittingScale(c.width, c.height), c.scale) << c.width << "x" << c.height;
    }
}

TEST_P(CtrlQ, OnlyCtrlWithQOpensTheDataPanel)
{
    load();
    panel.keyDown(GetParam().key, GetParam().shift);
    EXPECT_EQ(window.height(), GetParam().opens ? 7200.0F : 5350.0F);
    EXPECT_EQ(state().dataPanelEnabled, GetParam().opens ? 1 : 0);
    EXPECT_EQ(view.visible("Command34"), GetParam().opens);
}

INSTANTIATE_TEST_SUITE_P(Masks, CtrlQ,
    ::testing::Values(KeyCase{kKeyQ, kCtrlMask, true}, KeyCase{kKeyQ, 0, false},
        KeyCase{kKeyQ, kCtrlMask | kShiftMask, false}, KeyCase{kKeyQ, kCtrlMask | kAltMask, false},
        KeyCase{kKeyQ, 7, false}, KeyCase{'W', kCtrlMask, false},
        KeyCase{'q', kCtrlMask, false},        // key codes are upper case
        KeyCase{kKeyQ, kCtrlMask | 8, true})); // bits beyond Shift/Ctrl/Alt do not count

TEST_F(DataPanelGestures, CtrlQShowsTheCloseButtonAtAnyHeight)
{
    load();
    panel.keyDown(kKeyQ, kCtrlMask);
    EXPECT_EQ(view.caption("Command34"), "CLOSE");
    panel.dblClick("Image1");
    EXPECT_EQ(window.height(), 9100.0F);
    panel.keyDown(kKeyQ, kCtrlMask);
    EXPECT_EQ(window.height(), 7200.0F);
}

TEST_F(DataPanelGestures, TheKeyboardAndTheLogosActionsReachEveryHeightAndBack)
{
    load();
    panel.keyDown(kKeyQ, kCtrlMask);
    EXPECT_EQ(window.height(), 7200.0F);
    panel.keyDown(kKeyQ, kCtrlMask); // again, at the data panel's height: as the logo's double-click
    EXPECT_EQ(window.height(), 9100.0F);
    panel.keyDown(kKeyQ, kCtrlMask);
    EXPECT_EQ(window.height(), 7200.0F);
    click("Command34");
    EXPECT_EQ(window.height(), 5350.0F);
    panel.keyDown(kKeyQ, kCtrlMask);
    EXPECT_EQ(window.height(), 7200.0F) << "Ctrl+Q after the button opens the data panel, not more";

    click("Command34");
    panel.backToCompact(); // nothing open: nothing to close
    EXPECT_EQ(window.height(), 5350.0F);
    panel.openFullHeight(); // from the compact height, in one go
    EXPECT_EQ(window.height(), 9100.0F);
    EXPECT_EQ(view.caption("Command34"), "CLOSE");
    EXPECT_TRUE(view.visible("Command34"));
    panel.backToCompact();
    EXPECT_EQ(window.height(), 5350.0F);
    EXPECT_EQ(state().dataPanelEnabled, 0);
    click("Command34"); // the monitor height
    EXPECT_EQ(window.height(), 6645.0F);
    panel.backToCompact();
    EXPECT_EQ(window.height(), 5350.0F);
    EXPECT_TRUE(serial.writes().empty());
}

TEST_F(DataPanelGestures, TheLogoDoubleClickNeedsCtrlQFirstAndAgainAfterTheButton)
{
    load();
    panel.dblClick("Image1");
    EXPECT_EQ(window.height(), 5350.0F);
    EXPECT_FALSE(view.visible("Command34"));
    panel.keyDown(kKeyQ, kCtrlMask);
    panel.dblClick("Image1");
    EXPECT_EQ(window.height(), 9100.0F);
    EXPECT_EQ(view.caption("Command34"), "CLOSE");
    EXPECT_EQ(state().dataPanelEnabled, 1);
    click("Command34");
    panel.dblClick("Image1");
    EXPECT_EQ(window.height(), 5350.0F);
}

TEST_F(DataPanelGestures, TheDataPanelButtonCyclesCompactAndMonitorHeights)
{
    load();
    panel.keyDown(kKeyQ, kCtrlMask);
    const std::vector<std::pair<float, std::string>> cycle
        = {{5350.0F, kShowDataCaption}, {6645.0F, kHideDataCaption}, {5350.0F, kShowDataCaption}};
    for (const auto &[height, caption] : cycle) {
        click("Command34");
        EXPECT_EQ(window.height(), height);
        EXPECT_EQ(view.caption("Command34"), caption);
        EXPECT_TRUE(view.visible("Command34"));
        EXPECT_EQ(state().dataPanelEnabled, 0);
    }
    click("Command34");
    panel.keyDown(kKeyQ, kCtrlMask); // from the monitor height
    EXPECT_EQ(window.height(), 7200.0F);
    EXPECT_EQ(view.caption("Command34"), "CLOSE");
}

TEST_F(DataPanelGestures, TheFullHeightClosesToCompact)
{
    load();
    panel.keyDown(kKeyQ, kCtrlMask);
    panel.dblClick("Image1");
    click("Command34");
    EXPECT_EQ(window.height(), 5350.0F);
}

TEST_F(DataPanelGestures, TheDataPanelButtonRestartsTheSettingsAutoHide)
{
    load();
    panel.keyDown(kKeyQ, kCtrlMask);
    click("Command33");
    clock.advance(4000);
    click("Command34");
    clock.advance(4999);
    EXPECT_TRUE(view.visible("Frame8"));
    clock.advance(1);
    EXPECT_FALSE(view.visible("Frame8"));
}

TEST_F(DataPanelGestures, HeightsNeverTouchWidthOrPosition)
{
    load();
    window.log.clear();
    panel.keyDown(kKeyQ, kCtrlMask);
    panel.dblClick("Image1");
    click("Command34");
    EXPECT_EQ(window.log, Lines({"Height=7200", "Height=9100", "Height=5350"}));
}

} // namespace
