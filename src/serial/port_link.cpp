// The port change sequence keeps going past a failing step, remembers the
// latest failure and reports it once, so the user always ends up with a
// closed port on the fallback number and the settings frame still open.
// A choice opens the port also when it was closed: a choice that only set
// the number would leave a panel whose line had failed dead until restarted,
// with the settings frame closing as if it had worked.

#include "serial/port_link.h"

#include <algorithm>
#include <optional>
#include <string>

#include "core/exchange.h"
#include "core/message_box.h"
#include "core/panel_state.h"
#include "core/view.h"
#include "serial/line_keeper.h"
#include "serial/serial_control.h"

PortLink::PortLink(PanelState &state, SerialControl &MSComm1, Exchange &exchange, View &view,
    MessageBox &messageBox, LineKeeper &keeper)
    : state_(state), MSComm1_(MSComm1), exchange_(exchange), view_(view), messageBox_(messageBox),
      keeper_(keeper)
{ }

void PortLink::changePort(std::int16_t target, std::int16_t fallback)
{
    keeper_.choosing();
    std::optional<std::string> failure;
    try {
        if (MSComm1_.portOpen()) {
            MSComm1_.setPortOpen(false);
        }
    } catch (const ControlError &error) {
        failure = error.description();
    }
    try {
        MSComm1_.setCommPort(target);
    } catch (const ControlError &error) {
        failure = error.description();
    }
    if (!failure) {
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
        keeper_.closed();
        return;
    }
    keeper_.opened();
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
    if (keeper_.onComm(event))
        return;
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
