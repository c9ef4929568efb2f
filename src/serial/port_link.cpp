// The port change sequence keeps going past a failing step, remembers the
// latest failure and reports it once, so the user always ends up with a
// closed port on the fallback number and the settings frame still open.

#include "serial/port_link.h"

#include <algorithm>
#include <optional>
#include <string>

#include "core/exchange.h"
#include "core/message_box.h"
#include "core/panel_state.h"
#include "core/view.h"
#include "serial/serial_control.h"

PortLink::PortLink(
    PanelState &state, SerialControl &MSComm1, Exchange &exchange, View &view, MessageBox &messageBox)
    : state_(state), MSComm1_(MSComm1), exchange_(exchange), view_(view), messageBox_(messageBox)
{ }

void PortLink::changePort(std::int16_t target, std::int16_t fallback)
{
    bool wasOpen = false;
    std::optional<std::string> failure;
    try {
        if (MSComm1_.portOpen()) {
            MSComm1_.setPortOpen(false);
            wasOpen = true;
        }
    } catch (const ControlError &error) {
        failure = error.description();
    }
    try {
        MSComm1_.setCommPort(target);
    } catch (const ControlError &error) {
        failure = error.description();
    }
    if (!failure && wasOpen) {
        try {
            MSComm1_.setPortOpen(true);
        } catch (const ControlError &error) {
            failure = error.description();
        }
    }
    if (failure) {
        messageBox_.warning(*failure);
        try {
            MSComm1_.setCommPort(fallback);
        } catch (const ControlError &) {
            // The port is closed either way; the user has just been told why.
        }
        return;
    }
    view_.setVisible("Frame8", false);
}

void PortLink::chooseSpeed(std::string_view settings)
{
    state_.commSettings = std::string(settings);
    MSComm1_.setSettings(state_.commSettings);
    view_.setVisible("Frame8", false);
}

void PortLink::MSComm1_OnComm()
{
    const std::int16_t event = MSComm1_.commEvent();
    if (event == kCommEventLineLost) {
        // The control has closed the port already; say so once.
        messageBox_.warning(MSComm1_.lostLineDescription());
        return;
    }
    if (event != kCommEventReceive)
        return;
    const std::string arrived = MSComm1_.input();
    const std::size_t room = kReceiveBufferLimit - std::min(state_.receiveBuffer.size(), kReceiveBufferLimit);
    const std::size_t kept = std::min(room, arrived.size());
    state_.receiveBuffer.append(arrived, 0, kept);
    droppedBytes_ += arrived.size() - kept;
    state_.awaitingReply = 0;
    exchange_.Hyouji(state_.receiveBuffer, kReceive);
}
