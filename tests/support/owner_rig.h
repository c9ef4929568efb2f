// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// A line's owner as qv550d assembles one, on the serial double and the
// virtual clock: the shared line, its live state and the socket's service,
// with the port open and the live state the service's. Fixtures derive from
// it and add the faces they test.

#include <memory>
#include <string>
#include <utility>

#include "owner/live_owner.h"
#include "owner/owner_service.h"
#include "owner/shared_line.h"
#include "serial_double.h"
#include "timers/virtual_clock.h"

struct OwnerRig {
    OwnerRig(std::string lineName, std::string ownerName)
        : service(shared, std::move(lineName), std::move(ownerName))
    {
        serial.setPortOpen(true);
        service.setLiveState(&live.state, &live.poller);
    }

    VirtualClock clock;
    std::unique_ptr<Timer> watch = clock.createTimer(500);
    std::unique_ptr<Timer> quiet = clock.createTimer(SharedLine::kPanelQuietMs);
    std::unique_ptr<Timer> lease = clock.createTimer(1000);
    std::unique_ptr<Timer> lineWait = clock.createTimer(1000);
    std::unique_ptr<Timer> poll = clock.createTimer(1000);
    SerialDouble serial;
    SharedLine shared{serial, *watch, *quiet, *lease, *lineWait, [this] { return clock.now(); }};
    LiveOwner live{shared, *poll, [this] { return clock.now(); }};
    OwnerService service;
};
