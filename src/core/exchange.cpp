// SPDX-License-Identifier: GPL-3.0-or-later
// The transmit and receive paths of Hyouji, in the order the panel relies on:
// a failed write ends the call before anything else changes.

#include "core/exchange.h"

#include "core/monitor_text.h"
#include "core/panel_state.h"
#include "core/reply_decoders.h"
#include "core/view.h"
#include "core/serial_control.h"
#include "core/timer.h"

Exchange::Exchange(PanelState &state, SerialControl &serial, View &view, Timer &timer2, Timer &timer4)
    : state_(state), serial_(serial), view_(view), timer2_(timer2), timer4_(timer4)
{ }

void Exchange::Hyouji(const std::string &text, std::uint8_t kind)
{
    if (kind == kTransmit) {
        serial_.setOutput(text);
        view_.setCaption(role::kSentLine, monitorText(text));
        timer2_.setEnabled(true);
        state_.awaitingReply = 1;
        timer4_.setEnabled(true);
        return;
    }
    const std::string &monitor = rendered(text);
    view_.setCaption(role::kReceivedLine, monitor);
    const StatusQuery query = statusQueryFor(state_.commandText, state_.addressPrefix);
    if (auto status = decodeStatus(query, monitor, state_.pressureValue))
        view_.setCaption(role::kStatusLine, *status);
}

const std::string &Exchange::rendered(const std::string &text)
{
    if (text.size() >= renderedSource_.size()
        && text.compare(0, renderedSource_.size(), renderedSource_) == 0) {
        const std::string_view fresh = std::string_view(text).substr(renderedSource_.size());
        appendMonitorTokens(renderedText_, fresh);
        renderedSource_.append(fresh);
    } else {
        renderedSource_ = text;
        renderedText_ = monitorText(text);
    }
    return renderedText_;
}
