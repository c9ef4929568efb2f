// SPDX-License-Identifier: GPL-3.0-or-later
// Fuzzes the Telnet decoder of network lines with any bytes from a server:
// the result must not depend on how the bytes were split into reads, every
// answer must be a Telnet command, and payload escaped by us must come back
// unchanged.

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "serial/telnet_codec.h"

namespace {

void check(bool condition)
{
    if (!condition)
        std::abort();
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    if (size < 1)
        return 0;
    const std::size_t step = 1 + data[0] % 7;
    const std::string_view wire(reinterpret_cast<const char *>(data + 1), size - 1);
    const LineSettings settings{19200, 'N', 8, 10};

    TelnetCodec whole(settings);
    whole.greeting();
    std::string wholeData, wholeReply;
    whole.receive(wire, wholeData, wholeReply);

    TelnetCodec pieces(settings);
    pieces.greeting();
    std::string piecesData, piecesReply;
    for (std::size_t at = 0; at < wire.size(); at += step)
        pieces.receive(wire.substr(at, step), piecesData, piecesReply);
    check(piecesData == wholeData);
    check(piecesReply == wholeReply);
    check(pieces.comPortAgreed() == whole.comPortAgreed());
    check(wholeData.size() <= wire.size());
    check(wholeReply.empty() || static_cast<unsigned char>(wholeReply[0]) == TelnetCodec::kIac);

    // Our own escaped payload always comes back unchanged.
    const std::string payload(wire.substr(0, 64));
    TelnetCodec fresh(settings);
    std::string got, reply;
    fresh.receive(TelnetCodec::escape(payload), got, reply);
    check(got == payload);
    return 0;
}
