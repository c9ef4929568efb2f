// SPDX-License-Identifier: GPL-3.0-or-later
// libFuzzer target over the receive path: any bytes, cut into any pieces,
// after any of the nine status queries or another command, with or without
// an address. The echo and the status line must stay printable ASCII, and
// the receive buffer must keep every byte up to its limit. The same bytes go
// through the reply-form check: a reply that fits its query is one answer,
// ended by its only CR, with nothing but printable characters before it, and
// nothing added to it ever fits again.

#include <cstdint>
#include <cstdlib>
#include <string>

#include "core/exchange.h"
#include "core/monitor_text.h"
#include "core/reply_decoders.h"
#include "core/panel_state.h"
#include "panel/panel_line_words.h"
#include "panel/port_link.h"
#include "serial/line_keeper.h"
#include "serial_double.h"
#include "recording_view.h"
#include "timers/virtual_clock.h"

namespace {

constexpr const char *kLastCommands[]
    = {"CR0", "CR1", "CR4", "CR3", "CR6", "CRA", "CR9", "CR PRESSURE", "CR7", "C00"};
constexpr const char *kPrefixes[] = {"", "AFFF", "A001", "A004"};

void requirePrintable(const std::string &text)
{
    for (const char c : text) {
        if (c < 32 || c > 126)
            std::abort();
    }
}

void checkForm(StatusQuery query, const std::string &reply)
{
    if (!replyFits(query, reply))
        return;
    if (query == StatusQuery::None)
        return; // any reply fits a line that is no query
    if (reply.empty() || reply.back() != '\r' || reply.find_first_of("\r\x06") != reply.size() - 1)
        std::abort();
    requirePrintable(reply.substr(0, reply.size() - 1));
    // A fitting reply with anything after it is two replies, or noise.
    for (const char tail : {'\r', '0', 'A', '\x06', '\0'}) {
        if (replyFits(query, reply + tail))
            std::abort();
    }
    std::int16_t scratch = 0;
    if (const auto status = decodeStatus(query, monitorText(reply), scratch))
        requirePrintable(*status);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    if (size < 2)
        return 0;
    PanelState state;
    SerialDouble serial;
    RecordingView view;
    RecordingMessageBox messageBox;
    VirtualClock clock;
    auto timer2 = clock.createTimer(500);
    auto timer4 = clock.createTimer(1000);
    Exchange exchange(state, serial, view, *timer2, *timer4);
    auto reopenTimer = clock.createTimer(1000);
    auto settleTimer = clock.createTimer(3000);
    PanelLineWords words(view, messageBox, *timer4);
    LineKeeper keeper(serial, words, *reopenTimer, *settleTimer);
    PortLink link(state, serial, exchange, view, messageBox, keeper);
    serial.setOnComm([&] { link.MSComm1_OnComm(); });
    serial.setPortOpen(true);

    state.addressPrefix = kPrefixes[data[0] % 4];
    state.commandText = state.addressPrefix + kLastCommands[data[1] % 10] + "\r";
    // The third byte, where there is one, cuts the rest into pieces of that length.
    const std::size_t piece = size > 2 ? 1 + data[2] % 64 : 1;
    const std::string bytes(reinterpret_cast<const char *>(data) + 3 * (size > 2), size - 2 - (size > 2));
    if (bytes.empty())
        return 0;
    for (std::size_t at = 0; at < bytes.size(); at += piece) {
        serial.feed(std::string_view(bytes).substr(at, piece));
        requirePrintable(view.caption("Label12"));
        requirePrintable(view.caption("Label22"));
    }
    if (state.receiveBuffer != bytes.substr(0, kReceiveBufferLimit))
        std::abort();
    if (view.caption("Label12") != monitorText(state.receiveBuffer))
        std::abort();
    checkForm(statusQueryFor(state.commandText, state.addressPrefix), bytes);
    return 0;
}
