// SPDX-License-Identifier: GPL-3.0-or-later
// The port change sequence keeps going past a failing step, remembers the
// latest failure and reports it once, so the user always ends up with a
// closed port on the fallback number and the settings frame still open.
// A choice opens the port also when it was closed: a choice that only set
// the number would leave a panel whose line had failed dead until restarted,
// with the settings frame closing as if it had worked.

#include "panel/port_link.h"

#include <algorithm>
#include <optional>
#include <string>

#include "core/exchange.h"
#include "core/message_box.h"
#include "core/panel_state.h"
#include "core/view.h"
#include "serial/line_keeper.h"
#include "core/serial_control.h"

PortLink::PortLink(PanelState &state, SerialControl &MSComm1, Exchange &exchange, View &view,
    MessageBox &messageBox, LineKeeper &keeper)
    : state_(state), MSComm1_(MSComm1), exchange_(exchange), view_(view), messageBox_(messageBox),
      keeper_(keeper)
{ }

void PortLink::changePort(std::int16_t target, std::int16_t fallback)
{
    // A network line already open or connecting on this number is left as it
    // is: closing and connecting again would take a second connection, which
    // a slow server answers with "Port already in use".
    const auto phase = keeper_.phase();
    if (target == MSComm1_.commPort() && MSComm1_.portOpen() && MSComm1_.lineKind() == LineKind::Network
        && phase != LineKeeper::Phase::Waiting && phase != LineKeeper::Phase::Retrying) {
        if (phase == LineKeeper::Phase::Closed)
            keeper_.opened(); // start-up's own opening
        if (MSComm1_.connected())
            view_.setVisible("Frame8", false);
        return;
    }
    keeper_.choosing();
    pendingChoice_.reset();
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
        fallBack(*failure, fallback);
        return;
    }
    keeper_.opened();
    if (MSComm1_.connected())
        view_.setVisible("Frame8", false);
    else
        pendingChoice_ = fallback; // decided when the connection is made or fails
}

void PortLink::fallBack(const std::string &failure, std::int16_t fallback)
{
    pendingChoice_.reset();
    messageBox_.warning(failure);
    try {
        if (MSComm1_.portOpen())
            MSComm1_.setPortOpen(false);
        MSComm1_.setCommPort(fallback);
    } catch (const ControlError &) {
        // The port is closed either way; the user has just been told why.
    }
    // The options show the number the port is on now.
    view_.setSelected(MSComm1_.commPort() == 1 ? "Option1" : "Option2");
    keeper_.closed();
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
    // A network line chosen in the settings ends its choice only when its
    // connection is made or fails: a failure is a failed choice, as for a
    // device, not an outage to wait out.
    if (pendingChoice_ && event == kCommEventLineLost) {
        fallBack(MSComm1_.lostLineDescription(), *pendingChoice_);
        return;
    }
    if (pendingChoice_ && event == kCommEventConnected) {
        pendingChoice_.reset();
        view_.setVisible("Frame8", false);
    }
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
