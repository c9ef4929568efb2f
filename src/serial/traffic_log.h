// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// An opt-in log of the traffic on a line: a serial control that passes every
// operation to the one it wraps and appends each line sent and each arrival
// to a file, with a timestamp, its bytes in hex and its monitor text. Nothing
// is logged unless the user asks for it (--log FILE).

#include <fstream>
#include <string>

#include "core/serial_control.h"

class TrafficLog : public SerialControl {
public:
    // Opens `path` for appending; `ok()` says whether that worked.
    TrafficLog(SerialControl &line, const std::string &path);

    bool ok() const { return file_.good(); }

    void setCommPort(std::int16_t port) override { line_.setCommPort(port); }
    void setSettings(std::string_view settings) override { line_.setSettings(settings); }
    bool portOpen() const override { return line_.portOpen(); }
    void setPortOpen(bool open) override { line_.setPortOpen(open); }
    void setOutput(std::string_view bytes) override;
    std::string input() override;
    std::int16_t commEvent() const override { return line_.commEvent(); }
    LineFailure lostLine() const override { return line_.lostLine(); }
    bool connected() const override { return line_.connected(); }
    LineKind lineKind() const override { return line_.lineKind(); }
    void setWatching(bool on) override { line_.setWatching(on); }
    std::string portLabel() const override { return line_.portLabel(); }
    std::int16_t commPort() const override { return line_.commPort(); }
    std::string takeDiscarded() override { return line_.takeDiscarded(); }
    // A call that never reached the line, and why: "not sent", "no reply".
    void note(std::string_view what, std::string_view why);

    // One log line: "2026-12-07T20:30:01.123Z sent 43 30 30 0D | C 0 0 CR".
    static std::string entry(std::string_view when, std::string_view direction, std::string_view bytes);

private:
    void write(std::string_view direction, std::string_view bytes);
    void append(const std::string &line);

    SerialControl &line_;
    std::ofstream file_;
};
