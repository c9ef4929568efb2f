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
#include <string>

#include "fuzzed_owner.h"
#include "mqtt/readings.h"
#include "panel/live_lights.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    if (size < 2)
        return 0;
    FuzzedOwner owner;
    const int client = owner.service.connect([](const std::string &line) {
        const QJsonDocument reply = QJsonDocument::fromJson(QByteArray::fromStdString(line));
        if (!reply.isObject() || line.find('\n') != std::string::npos)
            std::abort();
    });
    owner.alternate(data, size, 1 + data[0] % 97, 7,
        [&](const std::string &bytes) { return owner.service.receive(client, bytes); });
    const QJsonObject state = owner.live.state.toJson();
    if (state.size() != 9 || readings(state, ProblemLimits{}).isEmpty())
        std::abort();
    (void)litControls(state, owner.live.state.choicesJson());
    for (const std::string &written : owner.serial.writes()) {
        if (written.empty() || written.back() != '\r' || written.find_first_of("\r\n") != written.size() - 1)
            std::abort();
    }
    return 0;
}
