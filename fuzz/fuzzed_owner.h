// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// The owner the request and PJLink fuzzers drive: the shared line over the
// serial double, the live state polling it, and the owner's service, all on
// a virtual clock, as qv550d assembles them. And the one way both cut their
// input: the first byte sets the piece size, and the pieces go by turns to
// the client and to the projector, with time passing after each of the
// projector's.

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

#include "owner_rig.h"

struct FuzzedOwner : OwnerRig {
    FuzzedOwner() : OwnerRig("fuzz", "fuzz") { live.poller.start(); }

    // `fromClient` takes each odd piece and answers false to stop; each even
    // piece arrives from the projector, `msPerByte` of time for each byte.
    template <typename FromClient>
    void alternate(
        const std::uint8_t *data, std::size_t size, std::size_t piece, int msPerByte, FromClient &&fromClient)
    {
        std::size_t at = 1;
        bool client = true;
        while (at < size) {
            std::string bytes(reinterpret_cast<const char *>(data) + at, std::min(piece, size - at));
            at += bytes.size();
            if (client) {
                if (!fromClient(bytes))
                    return;
            } else {
                serial.feed(bytes);
                clock.advance(static_cast<int>(bytes.size()) * msPerByte);
            }
            client = !client;
        }
    }
};
