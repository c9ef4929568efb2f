// SPDX-License-Identifier: GPL-3.0-or-later
// The data panel opens by height alone: no control is shown or hidden to
// reveal it, except the data panel button itself.

#include "panel/window_sizes.h"

#include "core/panel_state.h"
#include "core/startup.h"
#include "core/view.h"
#include "core/window_geometry.h"
#include "core/timer.h"
#include "panel/control_table.h"

#include <algorithm>
#include <cmath>

double fittingScale(int availableWidth, int availableHeight)
{
    const double width = kDesignClientWidth / 15.0;
    const double height = kCompactHeight / 15.0;
    if (width <= availableWidth && height <= availableHeight)
        return 1.0;
    const double fits = std::min(availableWidth / width, availableHeight / height);
    return std::max(0.05, std::floor(fits * 20.0) / 20.0);
}

DataPanel::DataPanel(PanelState &state, WindowGeometry &window, View &view, Timer &timer3)
    : state_(state), window_(window), view_(view), timer3_(timer3)
{ }

void DataPanel::Form_KeyDown(int keyCode, int shift)
{
    if ((shift & 7) != kCtrlMask || keyCode != kKeyQ)
        return;
    if (state_.dataPanelEnabled == 1 && window_.height() == kDataPanelHeight) {
        Image1_DblClick();
        return;
    }
    window_.setHeight(kDataPanelHeight);
    state_.dataPanelEnabled = 1;
    view_.setCaption("Command34", kCloseCaption);
    view_.setVisible("Command34", true);
}

void DataPanel::Image1_DblClick()
{
    if (state_.dataPanelEnabled != 1)
        return;
    window_.setHeight(kFullHeight);
    view_.setCaption("Command34", kCloseCaption);
    view_.setVisible("Command34", true);
}

void DataPanel::Command34_Click()
{
    timer3_.setEnabled(false);
    state_.dataPanelEnabled = 0;
    if (window_.height() >= kPanelOpenThreshold) {
        window_.setHeight(kCompactHeight);
        view_.setCaption("Command34", kShowDataCaption);
    } else {
        window_.setHeight(kMonitorHeight);
        view_.setCaption("Command34", kHideDataCaption);
    }
    timer3_.setEnabled(true);
}

void DataPanel::openFullHeight()
{
    if (state_.dataPanelEnabled != 1)
        Form_KeyDown(kKeyQ, kCtrlMask);
    Image1_DblClick();
}

void DataPanel::backToCompact()
{
    if (window_.height() >= kPanelOpenThreshold)
        Command34_Click();
}
