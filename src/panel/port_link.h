// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// The port and speed choices of the settings frame and the receive event:
// the port change sequence with its warning, and the collection of received
// bytes into the receive buffer. Line events go to the line keeper.

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

struct PanelState;
class SerialControl;
class Exchange;
class View;
class MessageBox;
class LineKeeper;

class PortLink {
public:
    PortLink(PanelState &state, SerialControl &MSComm1, Exchange &exchange, View &view, MessageBox &messageBox,
        LineKeeper &keeper);

    void Option1_Click() { changePort(1, 2); }
    void Option2_Click() { changePort(2, 1); }
    void Option9_Click() { chooseSpeed("19200,N,8,1"); }
    void Option10_Click() { chooseSpeed("9600,N,8,1"); }
    void MSComm1_OnComm();

    // Bytes that arrived while the receive buffer was full.
    std::size_t droppedBytes() const { return droppedBytes_; }

private:
    void changePort(std::int16_t target, std::int16_t fallback);
    void chooseSpeed(std::string_view settings);
    void fallBack(const std::string &failure, std::int16_t fallback);

    PanelState &state_;
    SerialControl &MSComm1_;
    Exchange &exchange_;
    View &view_;
    MessageBox &messageBox_;
    LineKeeper &keeper_;
    std::size_t droppedBytes_ = 0;
    // While a chosen network line connects: the number to fall back to.
    std::optional<std::int16_t> pendingChoice_;
};
