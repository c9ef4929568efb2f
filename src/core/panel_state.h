// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// The variables every handler of the panel window shares. Strings hold raw
// line bytes (one char per byte, read as Latin-1), never decoded text.

#include <cstdint>
#include <string>

struct PanelState {
    std::uint8_t repeatKey = 0;        // held command's key in the repeat table; 0 when idle
    std::uint8_t awaitingReply = 0;    // 1 between a transmission and its first reply or Timer2
    std::uint8_t cursorPadMode = 0;    // 1 once A-IMAGE or MENU ON was sent; never reset
    std::string commandText;           // last line handed to Hyouji for sending
    std::string receiveBuffer;         // everything received since the buffer was last emptied
    std::int16_t pressureValue = 0;    // scratch of the pressure conversion
    std::int16_t dataPanelEnabled = 0; // 1 after Ctrl+Q, 0 after the data panel button
    std::string enteredCommand;        // text of the entry box as taken by the last SEND
    std::string commSettings;          // "19200,N,8,1" or "9600,N,8,1"
    std::string addressPrefix;         // "", "AFFF" or "A001".."A004"
};

// The receive buffer keeps at most this many bytes (what a signed 16-bit
// position can walk). Beyond it, bytes are counted and dropped until the
// buffer is next emptied, so the decoders still see the front of the reply
// and a flooding line cannot grow memory or the echo without bound.
inline constexpr std::size_t kReceiveBufferLimit = 32767;
