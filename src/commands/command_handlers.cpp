// SPDX-License-Identifier: GPL-3.0-or-later
// Sending handlers: set the profile's intervals, build prefix + code + CR,
// hand it to Hyouji, then apply the after-send effect, in that order.

#include "commands/command_handlers.h"

#include "core/exchange.h"
#include "core/message_box.h"
#include "core/panel_state.h"
#include "core/view.h"
#include "core/serial_control.h"
#include "core/timer.h"

const CatalogueEntry *catalogueEntryFor(std::string_view control)
{
    for (const CatalogueEntry &entry : kCatalogue) {
        if (entry.control == control)
            return &entry;
    }
    return nullptr;
}

std::optional<std::string> lineBytesFromUtf8(std::string_view utf8, std::string &unsendable)
{
    std::string bytes;
    for (std::size_t i = 0; i < utf8.size();) {
        const auto lead = static_cast<unsigned char>(utf8[i]);
        std::size_t length = 1;
        char32_t code = lead;
        if (lead >= 0xF0) {
            length = 4;
            code = lead & 0x07U;
        } else if (lead >= 0xE0) {
            length = 3;
            code = lead & 0x0FU;
        } else if (lead >= 0xC0) {
            length = 2;
            code = lead & 0x1FU;
        } else if (lead >= 0x80) {
            unsendable = "\xEF\xBF\xBD"; // a stray continuation byte: not valid text
            return std::nullopt;
        }
        if (i + length > utf8.size()) {
            unsendable = "\xEF\xBF\xBD";
            return std::nullopt;
        }
        for (std::size_t k = 1; k < length; ++k)
            code = (code << 6) | (static_cast<unsigned char>(utf8[i + k]) & 0x3FU);
        if (code > 0xFF) {
            unsendable = std::string(utf8.substr(i, length));
            return std::nullopt;
        }
        bytes += static_cast<char>(code);
        i += length;
    }
    return bytes;
}

CommandHandlers::CommandHandlers(PanelState &state, Exchange &exchange, View &view, MessageBox &messageBox,
    SerialControl &MSComm1, Timer &timer1, Timer &timer2, Timer &timer3, Timer &timer4,
    std::function<void()> endProgram)
    : state_(state), exchange_(exchange), view_(view), messageBox_(messageBox), MSComm1_(MSComm1),
      timer1_(timer1), timer2_(timer2), timer3_(timer3), timer4_(timer4), endProgram_(std::move(endProgram))
{ }

bool CommandHandlers::click(std::string_view control)
{
    for (const AddressOption &option : kAddressOptions) {
        if (option.control == control) {
            state_.addressPrefix = std::string(option.prefix);
            return true;
        }
    }
    const CatalogueEntry *entry = catalogueEntryFor(control);
    if (!entry)
        return false;
    switch (entry->action) {
    case LocalAction::None:
        send(*entry);
        break;
    case LocalAction::Send:
        sendEntered();
        break;
    case LocalAction::Clear:
        view_.setText(role::kCommandBox, "");
        break;
    case LocalAction::ShowPorts:
        view_.setVisible("Frame8", true);
        timer3_.setEnabled(true);
        break;
    case LocalAction::End:
        MSComm1_.setPortOpen(false);
        endProgram_();
        break;
    }
    return true;
}

void CommandHandlers::applyProfile(TimerProfile profile)
{
    if (profile == TimerProfile::Reply2000) {
        timer2_.setInterval(2000);
        timer4_.setInterval(2500);
    } else if (profile == TimerProfile::Matrix5000) {
        timer2_.setInterval(5000);
        timer4_.setInterval(5500);
    }
}

void CommandHandlers::send(const CatalogueEntry &entry)
{
    applyProfile(entry.profile);
    state_.commandText = state_.addressPrefix + std::string(entry.code) + '\r';
    exchange_.Hyouji(state_.commandText, kTransmit);
    if (entry.after == AfterSend::CursorPadMode) {
        timer1_.setInterval(200);
        state_.cursorPadMode = 1;
    }
}

void CommandHandlers::sendEntered()
{
    // The line carries bytes: a character no byte can hold is refused whole
    // rather than sent mangled, before anything changes.
    std::string unsendable;
    const auto bytes = lineBytesFromUtf8(view_.text(role::kCommandBox), unsendable);
    if (!bytes) {
        messageBox_.warning("The command was not sent: \"" + unsendable
            + "\" cannot be sent on the serial line, which carries one byte per "
              "character (Latin-1, up to U+00FF).");
        return;
    }
    applyProfile(TimerProfile::Reply2000);
    state_.enteredCommand = *bytes;
    state_.commandText = state_.addressPrefix + state_.enteredCommand + '\r';
    exchange_.Hyouji(state_.commandText, kTransmit);
}
