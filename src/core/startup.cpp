// SPDX-License-Identifier: GPL-3.0-or-later
// The ten start-up steps, each completing before the next. Centring uses the
// design size; the compact height comes after, so the top edge stays where
// the full window would have been centred.

#include "core/startup.h"

#include "core/panel_state.h"
#include "core/window_geometry.h"
#include "core/serial_control.h"

void Form_Load(PanelState &state, WindowGeometry &window, SerialControl &MSComm1,
    const std::function<void()> &selectOption1)
{
    state.commSettings = "19200,N,8,1";
    state.addressPrefix = "";
    const float width = window.width();
    window.setLeft((window.screenWidth() - width) / 2.0F);
    const float height = window.height();
    window.setTop((window.screenHeight() - height) / 2.0F);
    window.setHeight(kCompactHeight);
    state.repeatKey = 0;
    state.awaitingReply = 0;
    state.receiveBuffer = "";
    MSComm1.setCommPort(1);
    MSComm1.setSettings(state.commSettings);
    MSComm1.setPortOpen(true);
    selectOption1();
}
