// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// The serial control the panel talks through, on Qt. Port numbers are turned
// into lines by a DeviceMap: a device path opens a local device; each kind of
// line is a small adapter behind this one seam. While the panel waits for a
// lost device, the folder it appears in is watched, so no timer has to poll
// it often.

#include <QFileSystemWatcher>
#include <QObject>

#include <functional>
#include <memory>
#include <optional>

#include "serial/device_map.h"
#include "serial/line.h"
#include "serial/line_settings.h"
#include "core/serial_control.h"

class QtSerialControl : public QObject, public SerialControl {
public:
    explicit QtSerialControl(DeviceMap devices, QObject *parent = nullptr);
    ~QtSerialControl() override;

    void setCommPort(std::int16_t port) override;
    void setSettings(std::string_view settings) override;
    bool portOpen() const override;
    void setPortOpen(bool open) override;
    void setOutput(std::string_view bytes) override;
    std::string input() override;
    std::int16_t commEvent() const override { return event_; }
    LineFailure lostLine() const override { return lostLine_; }
    bool connected() const override;
    LineKind lineKind() const override;
    void setWatching(bool on) override;
    std::string portLabel() const override;
    std::int16_t commPort() const override { return commPort_; }
    std::string takeDiscarded() override { return line_ ? line_->takeDiscarded() : std::string(); }

    // The device or address the current port number opens.
    std::string device() const;
    // Whether the line is (or was, until it was lost) another owner's, used
    // as its client.
    bool throughAnotherOwner() const { return line_ && viaOwner_; }
    // Messages name the device alone, without "COM1": for a tool that has
    // no port numbers.
    void setNamesWithoutPortNumber() { numbered_ = false; }
    // Where another program of ours serves `device`, if one does: the line
    // is then opened through it, as its client.
    void setOwnerLookup(std::function<std::optional<std::string>(const std::string &device)> lookup)
    {
        ownerLookup_ = std::move(lookup);
    }

private:
    void raise(std::int16_t event);
    void watchNearestFolder();
    LineFailure failure(LineFailureKind kind, std::string reason = {}) const;

    DeviceMap devices_;
    std::unique_ptr<Line, void (*)(Line *)> line_{nullptr, [](Line *line) { line->deleteLater(); }};
    std::unique_ptr<QFileSystemWatcher> watcher_;
    bool deviceThere_ = false; // while watching: the device's path existed at the last look
    bool watchWanted_ = false; // the keeper waits for the device
    std::string lineLabel_;    // the port the line was made for, and how
    bool viaOwner_ = false;    // the line is another owner's
    std::function<std::optional<std::string>(const std::string &)> ownerLookup_;
    unsigned openings_ = 0;
    std::int16_t commPort_ = 1;
    LineSettings settings_{9600, 'N', 8, 10};
    std::int16_t event_ = 0;
    LineFailure lostLine_;
    bool numbered_ = true;
};
