// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// A local serial device on QSerialPort. Writes are flushed at once, and only
// a real hang-up counts as a lost line: QSerialPort reports one with a storm
// of read errors and a stale system text, and also reports a harmless empty
// read (another reader took the bytes) as an error.

#include <QSerialPort>

#include "serial/line.h"

// The device a path leads to, with links and "." or ".." resolved; the path
// itself when it does not exist.
std::string resolvedDevicePath(const std::string &device);

class DeviceLine : public Line {
public:
    DeviceLine(std::string device, std::string label);

    void open(const LineSettings &settings) override;
    void close() override;
    bool isOpen() const override { return port_.isOpen(); }
    void applySettings(const LineSettings &settings, ControlOp op) override;
    void write(std::string_view bytes) override;
    std::string readAll() override;
    LineKind kind() const override { return LineKind::Device; }

private:
    void onError(QSerialPort::SerialPortError error);
    bool hungUp() const;
    // A failure of this line, with the facts it knows.
    LineFailure failure(LineFailureKind kind, std::string reason = {}) const;

    std::string device_;
    std::string label_;
    QSerialPort port_;
    int errorsWithoutData_ = 0;
};
