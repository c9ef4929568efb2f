// SPDX-License-Identifier: GPL-3.0-or-later
// The PJLink request reader and session: any bytes, cut anywhere, from a
// controller (with and without a password), while the projector answers with
// any bytes and time passes. It must never crash; every reply it gives is
// one line: a greeting, "PJLINK ERRA", or "%" + class + four characters +
// "=" + a value without a CR; nothing is said after the connection closed;
// and only the commands a PJLink set maps to ever reach the line.

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <set>
#include <string>

#include "fuzzed_owner.h"
#include "pjlink/pjlink_session.h"

namespace {

bool wellFormed(const std::string &reply)
{
    if (reply.empty() || reply.back() != '\r' || reply.find('\r') != reply.size() - 1)
        return false;
    if (reply.starts_with("PJLINK "))
        return true;
    return reply.size() >= 8 && reply[0] == '%' && reply[6] == '=';
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    if (size < 2)
        return 0;
    FuzzedOwner owner;
    auto idle = owner.clock.createTimer(PjlinkSession::kIdleMs);
    auto retry = owner.clock.createTimer(PjlinkSession::kRetryMs);
    PjlinkSettings settings;
    settings.name = "fuzz";
    bool closed = false;
    // The first byte: how the input is cut, and whether a password is asked.
    const std::string password = data[0] & 0x80 ? "secret" : "";
    PjlinkSession session(
        owner.service, owner.live.state, settings, *idle, *retry, {"192.0.2.1", password, "0123abcd"},
        [&closed](const std::string &reply) {
            if (closed || !wellFormed(reply))
                std::abort();
        },
        [&closed] { closed = true; }, [](const std::string &) {});
    session.start();
    owner.alternate(data, size, 1 + (data[0] & 0x7F) % 97, 13, [&](std::string bytes) {
        // A digest that is right now and then, so that what follows it is read too.
        if (!password.empty() && bytes.starts_with("MD5"))
            bytes.replace(0, 3, PjlinkSession::digest("0123abcd", password));
        session.receive(bytes);
        return true;
    });
    owner.clock.advance(PjlinkSession::kIdleMs);
    static const std::set<std::string> kSent = {"C00\r", "C01\r", "C05\r", "C06\r", "C07\r", "C08\r", "C0D\r",
        "C0E\r", "C0B\r", "C0C\r", "C43\r", "C44\r", "C09\r", "C0A\r"};
    for (const std::string &written : owner.serial.writes()) {
        if (!kSent.count(written) && !written.starts_with("CR"))
            std::abort(); // the poller's queries start with CR
    }
    return 0;
}
