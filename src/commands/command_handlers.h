// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// The click handlers of the catalogue: one sending routine that reads a row,
// the free command entry (SEND, CLS), COM, END and the address options.

#include <functional>
#include <optional>
#include <string>
#include <string_view>

#include "commands/catalogue.h"

struct PanelState;
class Exchange;
class MessageBox;
class SerialControl;
class Timer;
class View;

class CommandHandlers {
public:
    CommandHandlers(PanelState &state, Exchange &exchange, View &view, MessageBox &messageBox,
        SerialControl &MSComm1, Timer &timer1, Timer &timer2, Timer &timer3, Timer &timer4,
        std::function<void()> endProgram);

    // The click of a catalogue control or an address option; false when
    // `control` is neither.
    bool click(std::string_view control);

private:
    void send(const CatalogueEntry &entry);
    void applyProfile(TimerProfile profile);
    void sendEntered();

    PanelState &state_;
    Exchange &exchange_;
    View &view_;
    MessageBox &messageBox_;
    SerialControl &MSComm1_;
    Timer &timer1_;
    Timer &timer2_;
    Timer &timer3_;
    Timer &timer4_;
    std::function<void()> endProgram_;
};

// The entry box's UTF-8 text as line bytes, one byte per character (Latin-1).
// Characters above U+00FF have no byte; the first such one is returned in
// `unsendable` and the result is empty.
std::optional<std::string> lineBytesFromUtf8(std::string_view utf8, std::string &unsendable);
