// SPDX-License-Identifier: GPL-3.0-or-later
// The line owner's request reader: any bytes, cut anywhere, from a client
// while the line answers with any bytes and the owner polls. It must never
// crash, never answer with anything but one JSON object a line, and never
// write a request that carries a line break of its own onto the line; the
// live state made of those replies must give readings and lit buttons
// without a crash, and as JSON.

#include <QJsonDocument>
#include <QJsonObject>

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <memory>
#include <string>

#include "mqtt/readings.h"
#include "panel/live_lights.h"
#include "owner/live_owner.h"
#include "owner/owner_service.h"
#include "owner/shared_line.h"
#include "serial_double.h"
#include "timers/virtual_clock.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    if (size < 2)
        return 0;
    VirtualClock clock;
    auto watch = clock.createTimer(500);
    auto quiet = clock.createTimer(SharedLine::kPanelQuietMs);
    auto lease = clock.createTimer(1000);
    SerialDouble serial;
    serial.setPortOpen(true);
    auto lineWait = clock.createTimer(1000);
    SharedLine shared(serial, *watch, *quiet, *lease, *lineWait, [&clock] { return clock.now(); });
    auto poll = clock.createTimer(1000);
    LiveOwner live(shared, *poll, [&clock] { return clock.now(); });
    OwnerService service(shared, "fuzz", "fuzz");
    service.setLiveState(&live.state, &live.poller);
    live.poller.start();
    const int client = service.connect([](const std::string &line) {
        const QJsonDocument reply = QJsonDocument::fromJson(QByteArray::fromStdString(line));
        if (!reply.isObject() || line.find('\n') != std::string::npos)
            std::abort();
    });
    // The first byte cuts the input into pieces; odd pieces come from the
    // client, even ones from the projector, with time passing between.
    const std::size_t piece = 1 + data[0] % 97;
    std::size_t at = 1;
    bool fromClient = true;
    while (at < size) {
        const std::string bytes(reinterpret_cast<const char *>(data) + at, std::min(piece, size - at));
        at += bytes.size();
        if (fromClient) {
            if (!service.receive(client, bytes))
                break;
        } else {
            serial.feed(bytes);
            clock.advance(static_cast<int>(bytes.size()) * 7);
        }
        fromClient = !fromClient;
    }
    const QJsonObject state = live.state.toJson();
    if (state.size() != 9 || readings(state, ProblemLimits{}).isEmpty())
        std::abort();
    (void)litControls(state, live.state.choicesJson());
    for (const std::string &written : serial.writes()) {
        if (written.empty() || written.back() != '\r' || written.find_first_of("\r\n") != written.size() - 1)
            std::abort();
    }
    return 0;
}
