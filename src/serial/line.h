// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// One kind of line behind the serial control: a local device, or a network
// line. The control decides when to open and close; a line only carries bytes
// and says when it has data, when it is connected and when it was lost.

#include <QObject>

#include <functional>
#include <string>
#include <string_view>

#include "core/control_error.h"
#include "core/serial_control.h"
#include "serial/line_settings.h"

class Line : public QObject {
public:
    struct Events {
        std::function<void()> dataArrived;
        std::function<void()> connected;
        // The line is gone and closed; the failure says what happened.
        std::function<void(const LineFailure &)> lost;
    };

    virtual ~Line() = default;

    // Opens with these settings, or throws ControlError(PortOpen) with the
    // reason. A network line returns while still connecting.
    virtual void open(const LineSettings &settings) = 0;
    virtual void close() = 0;
    virtual bool isOpen() const = 0;
    virtual bool isConnected() const { return isOpen(); }
    // Applies new settings to the open line; throws ControlError(op) when refused.
    virtual void applySettings(const LineSettings &settings, ControlOp op) = 0;
    // Sends the bytes unchanged, at once; throws ControlError(Output).
    virtual void write(std::string_view bytes) = 0;
    virtual std::string readAll() = 0;
    // What arrived before the line was ready to carry an exchange (a
    // server's own text, a reply kept from an earlier connection): set aside,
    // never read as a reply. Taken once.
    virtual std::string takeDiscarded() { return {}; }
    virtual LineKind kind() const = 0;

    void setEvents(Events events) { events_ = std::move(events); }

protected:
    // Closes the line and reports the loss between events, never from inside
    // the port's or socket's own notification, which may still be running.
    void reportLost(const LineFailure &why)
    {
        close();
        QMetaObject::invokeMethod(
            this,
            [this, why] {
                if (events_.lost)
                    events_.lost(why);
            },
            Qt::QueuedConnection);
    }

    Events events_;
};
