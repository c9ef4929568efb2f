// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// The serial communications control the panel talks through, reduced to the
// operations the panel uses. Every operation may throw ControlError carrying
// the control's own description of the failure. Implemented on QSerialPort
// for the program and by an in-memory double for tests.

#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <utility>

#include "core/control_error.h"

inline constexpr std::int16_t kCommEventReceive = 2;
// Our own event kinds:
// - the line went away under an open port (a USB adapter pulled out, the far
//   end of a pseudo-terminal closed, a connection dropped), or a connection
//   being made failed. The port is already closed when it is raised;
//   `lostLine()` says what happened.
inline constexpr std::int16_t kCommEventLineLost = 1100;
// - a connection that was being made is now open and carries bytes.
inline constexpr std::int16_t kCommEventConnected = 1101;
// - while watching: the place the device appears in has changed, so the
//   device may be back.
inline constexpr std::int16_t kCommEventDeviceChanged = 1102;

// What a port number leads to: a local device opens at once or fails; a
// network line is open while its connection is still being made.
enum class LineKind { Device, Network };

class SerialControl {
public:
    virtual ~SerialControl() = default;

    // The port number (1 or 2) the next opening uses.
    virtual void setCommPort(std::int16_t port) = 0;
    // Line settings such as "19200,N,8,1"; applies at once to an open port.
    virtual void setSettings(std::string_view settings) = 0;
    virtual bool portOpen() const = 0;
    virtual void setPortOpen(bool open) = 0;
    // Queues the bytes for sending, unchanged; nothing is added.
    virtual void setOutput(std::string_view bytes) = 0;
    // Takes every byte waiting in the receive buffer; may be empty.
    virtual std::string input() = 0;
    // The kind of the event being reported by OnComm.
    virtual std::int16_t commEvent() const = 0;
    // Why the line was lost, after a kCommEventLineLost event.
    virtual LineFailure lostLine() const = 0;
    // Its account, as every program gives it.
    std::string lostLineDescription() const { return lineFailureText(lostLine()); }

    // Open and carrying bytes; a network line is open but not yet connected
    // while its connection is being made (what is written meanwhile waits).
    virtual bool connected() const { return portOpen(); }
    virtual LineKind lineKind() const { return LineKind::Device; }
    // While on, kCommEventDeviceChanged tells when the device may be back.
    virtual void setWatching(bool /*on*/) { }
    // The port as messages name it: "COM1 (/dev/ttyUSB0)".
    virtual std::string portLabel() const = 0;
    // The port number the next opening uses, or the open port's.
    virtual std::int16_t commPort() const = 0;
    // Bytes that arrived as the line opened, before it could carry an
    // exchange, and were set aside rather than read as a reply. Taken once.
    virtual std::string takeDiscarded() { return {}; }

    // OnComm: raised on the window's thread, between other events.
    void setOnComm(std::function<void()> handler) { onComm_ = std::move(handler); }

protected:
    void raiseOnComm()
    {
        if (onComm_)
            onComm_();
    }

private:
    std::function<void()> onComm_;
};
