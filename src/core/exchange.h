// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// Hyouji: the one routine through which every command line is sent and every
// received text is echoed and decoded.

#include <cstdint>
#include <string>

struct PanelState;
class SerialControl;
class Timer;
class View;

inline constexpr std::uint8_t kTransmit = 1;
inline constexpr std::uint8_t kReceive = 2;

class Exchange {
public:
    Exchange(PanelState &state, SerialControl &serial, View &view, Timer &timer2, Timer &timer4);

    // kind 1 sends `text` and shows it on the TXD line; any other kind shows
    // `text` (the receive buffer) on the RXD line and decodes it.
    void Hyouji(const std::string &text, std::uint8_t kind);

private:
    const std::string &rendered(const std::string &text);

    PanelState &state_;
    SerialControl &serial_;
    View &view_;
    Timer &timer2_;
    Timer &timer4_;
    // The receive buffer only grows between emptyings, so the monitor text of
    // the last one rendered is extended rather than built again.
    std::string renderedSource_;
    std::string renderedText_ = " ";
};
