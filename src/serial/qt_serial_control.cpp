// SPDX-License-Identifier: GPL-3.0-or-later
// Opening makes a new line for the current port number, so a port that moved
// (another adapter, a server address) is always opened where it is now. Lines
// that are done with are deleted between events: one may still be inside its
// own notification.

#include "serial/qt_serial_control.h"

#include <QDir>
#include <QFileInfo>
#include <QString>

#include "serial/device_line.h"
#include "serial/network_address.h"
#include "serial/network_line.h"
#include "serial/owner_line.h"

QtSerialControl::QtSerialControl(DeviceMap devices, QObject *parent)
    : QObject(parent), devices_(std::move(devices))
{
    setObjectName(QStringLiteral("MSComm1"));
}

QtSerialControl::~QtSerialControl()
{
    // Deleted now, not later: no event loop may run again to do it, and the
    // port's lock file goes with it.
    if (line_) {
        line_->close();
        delete line_.release();
    }
}

std::string QtSerialControl::device() const
{
    return devices_.deviceFor(commPort_).value_or(std::string());
}

std::string QtSerialControl::portLabel() const
{
    const auto found = devices_.deviceFor(commPort_);
    if (!numbered_)
        return found.value_or(std::string());
    return "COM" + std::to_string(commPort_) + (found ? " (" + *found + ")" : std::string());
}

LineFailure QtSerialControl::failure(LineFailureKind kind, std::string reason) const
{
    LineFailure failure;
    failure.kind = kind;
    failure.label = portLabel();
    failure.device = device();
    failure.reason = std::move(reason);
    return failure;
}

void QtSerialControl::setCommPort(std::int16_t port)
{
    if (portOpen())
        throw ControlError(ControlOp::CommPort, failure(LineFailureKind::AlreadyOpen));
    if (!devices_.deviceFor(port)) {
        LineFailure none = failure(LineFailureKind::NoDeviceForPort);
        none.port = port;
        throw ControlError(ControlOp::CommPort, none);
    }
    commPort_ = port;
}

void QtSerialControl::setSettings(std::string_view settings)
{
    std::string whyNot;
    const auto parsed = parseLineSettings(settings, whyNot);
    if (!parsed)
        throw ControlError(ControlOp::Settings, failure(LineFailureKind::BadSettings, whyNot));
    settings_ = *parsed;
    if (portOpen())
        line_->applySettings(settings_, ControlOp::Settings);
}

bool QtSerialControl::portOpen() const
{
    return line_ && line_->isOpen();
}

bool QtSerialControl::connected() const
{
    return line_ && line_->isConnected();
}

LineKind QtSerialControl::lineKind() const
{
    if (line_)
        return line_->kind();
    return isNetworkName(device()) ? LineKind::Network : LineKind::Device;
}

void QtSerialControl::setPortOpen(bool open)
{
    if (!open) {
        if (line_)
            line_->close();
        return;
    }
    if (portOpen())
        throw ControlError(ControlOp::PortOpen, failure(LineFailureKind::AlreadyOpen));
    const auto path = devices_.deviceFor(commPort_);
    if (!path) {
        LineFailure none = failure(LineFailureKind::NoDeviceForPort);
        none.port = commPort_;
        throw ControlError(ControlOp::PortOpen, none);
    }
    // A retry of the same port on the same device takes the line it had: a
    // new one each time would leave the old one to be deleted between
    // events, one more wake-up for every try of a waiting panel.
    const auto owner = ownerLookup_ ? ownerLookup_(*path) : std::nullopt;
    const std::string madeFor = portLabel() + (owner ? " via " + *owner : std::string());
    if (!line_ || lineLabel_ != madeFor) {
        if (owner) {
            line_.reset(new OwnerLine(*owner, portLabel()));
        } else if (isNetworkName(*path)) {
            std::string whyNot;
            const auto address = parseNetworkAddress(*path, whyNot);
            if (!address) {
                LineFailure malformed = failure(LineFailureKind::BadAddress, whyNot);
                malformed.label = "COM" + std::to_string(commPort_);
                throw ControlError(ControlOp::PortOpen, malformed);
            }
            line_.reset(new NetworkLine(*address, portLabel()));
        } else {
            line_.reset(new DeviceLine(*path, portLabel()));
        }
        lineLabel_ = madeFor;
        viaOwner_ = owner.has_value();
    }
    // Each report carries the opening it came from: one from an earlier
    // opening (a loss queued as the user chose another port) is stale and
    // would be told against the wrong port.
    const unsigned opening = ++openings_;
    line_->setEvents({
        [this, opening] {
            if (openings_ == opening)
                raise(kCommEventReceive);
        },
        [this, opening] {
            if (openings_ == opening)
                raise(kCommEventConnected);
        },
        [this, opening](const LineFailure &why) {
            if (openings_ != opening)
                return;
            lostLine_ = why;
            raise(kCommEventLineLost);
        },
    });
    try {
        line_->open(settings_);
    } catch (const ControlError &error) {
        if (watchWanted_ && !watcher_)
            setWatching(true); // gone now: watch for its coming back
        // A device from the user's port mapping: say where it was set.
        const std::string source = devices_.sourceFor(commPort_);
        if (source.empty())
            throw;
        LineFailure failed = error.failure();
        failed.source = source;
        throw ControlError(ControlOp::PortOpen, failed);
    }
}

void QtSerialControl::setOutput(std::string_view bytes)
{
    if (!portOpen())
        throw ControlError(ControlOp::Output, failure(LineFailureKind::NotOpen));
    line_->write(bytes);
}

std::string QtSerialControl::input()
{
    return line_ ? line_->readAll() : std::string();
}

void QtSerialControl::raise(std::int16_t event)
{
    event_ = event;
    raiseOnComm();
}

void QtSerialControl::setWatching(bool on)
{
    watchWanted_ = on && lineKind() == LineKind::Device;
    // A device that is there but refused (busy, forbidden) is only tried at
    // the keeper's pace: its folder changes whenever anyone writes to one of
    // its ttys, and each change would wake the panel. The folder is watched
    // once the device is missing (a try finds it so).
    if (on && watchWanted_ && QFileInfo::exists(QString::fromStdString(device())))
        on = false;
    if (!on || lineKind() != LineKind::Device) {
        // This may run inside the watcher's own change signal (the device
        // came back and was opened): delete it between events.
        if (watcher_) {
            watcher_->disconnect(this);
            watcher_.release()->deleteLater();
        }
        return;
    }
    if (watcher_)
        return;
    watcher_ = std::make_unique<QFileSystemWatcher>();
    deviceThere_ = QFileInfo::exists(QString::fromStdString(device()));
    connect(watcher_.get(), &QFileSystemWatcher::directoryChanged, this, [this] {
        // The folder may have been made just now (/dev/serial/by-id): watch
        // the deepest one that exists.
        watchNearestFolder();
        // Only the device's coming back is news: a tty's folder also changes
        // whenever anyone writes to one of its devices, which would wake a
        // panel waiting on a busy device every time.
        const bool there = QFileInfo::exists(QString::fromStdString(device()));
        const bool appeared = there && !deviceThere_;
        deviceThere_ = there;
        if (appeared)
            raise(kCommEventDeviceChanged);
    });
    watchNearestFolder();
}

void QtSerialControl::watchNearestFolder()
{
    // A watched path that goes away is dropped by the watcher, and a path that
    // does not exist cannot be watched: watch the device's folder, or the
    // nearest one above it that exists.
    QString folder = QFileInfo(QString::fromStdString(device())).absolutePath();
    while (!QFileInfo::exists(folder) && folder != QDir::rootPath())
        folder = QFileInfo(folder).absolutePath();
    const QStringList watched = watcher_->directories();
    if (watched == QStringList{folder})
        return;
    if (!watched.isEmpty())
        watcher_->removePaths(watched);
    watcher_->addPath(folder);
}
