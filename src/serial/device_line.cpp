// SPDX-License-Identifier: GPL-3.0-or-later
// QSerialPort glue, plus telling a hang-up from a harmless error.

#include "serial/device_line.h"

#include <QString>

#include "serial/open_failure.h"

#ifdef __linux__
#include <poll.h>
#include <stdlib.h>
#include <unistd.h>
#endif

namespace {

// Errors in a row without a byte arriving before the line is given up even
// without a hang-up: a read notifier that fires without end must not spin.
constexpr int kErrorsBeforeGivingUp = 64;

QSerialPort::Parity parityFor(char letter)
{
    switch (letter) {
    case 'E':
        return QSerialPort::EvenParity;
    case 'O':
        return QSerialPort::OddParity;
    case 'M':
        return QSerialPort::MarkParity;
    case 'S':
        return QSerialPort::SpaceParity;
    default:
        return QSerialPort::NoParity;
    }
}

QSerialPort::StopBits stopBitsFor(int stopBits10)
{
    if (stopBits10 == 15)
        return QSerialPort::OneAndHalfStop;
    if (stopBits10 == 20)
        return QSerialPort::TwoStop;
    return QSerialPort::OneStop;
}

} // namespace

DeviceLine::DeviceLine(std::string device, std::string label)
    : device_(std::move(device)), label_(std::move(label))
{
    connect(&port_, &QSerialPort::readyRead, this, [this] {
        errorsWithoutData_ = 0;
        if (events_.dataArrived)
            events_.dataArrived();
    });
    connect(&port_, &QSerialPort::errorOccurred, this, &DeviceLine::onError);
}

std::string resolvedDevicePath(const std::string &device)
{
#ifdef __linux__
    // The lock file is named after the path: /dev/./ttyS0, a symlink and a
    // by-id name must all lock the one device they lead to.
    if (char *real = realpath(device.c_str(), nullptr)) {
        std::string resolved(real);
        free(real);
        return resolved;
    }
#endif
    return device;
}

void DeviceLine::open(const LineSettings &settings)
{
    const std::string resolved = resolvedDevicePath(device_);
    port_.setPortName(QString::fromStdString(resolved));
    errorsWithoutData_ = 0;
#ifdef __linux__
    // A device that is not there is told at once: Qt would first write and
    // sync a lock file for it, which costs a disk flush on every try of a
    // panel waiting for the device.
    if (access(device_.c_str(), F_OK) != 0)
        throw ControlError(
            ControlOp::PortOpen, failure(LineFailureKind::NoSuchDevice, "No such file or directory"));
    // A device we may not use, or one another program has locked, is told
    // without asking Qt either: its open writes and syncs a lock file on
    // every try, a disk flush each time a waiting panel tries again.
    if (access(resolved.c_str(), R_OK | W_OK) != 0 || lockedByAnother(resolved)) {
        LineFailure refused = failure(LineFailureKind::Busy, "Permission error while locking the device");
        probeRefusedDevice(refused, resolved);
        throw ControlError(ControlOp::PortOpen, refused);
    }
#endif
    if (!port_.open(QIODevice::ReadWrite)) {
        LineFailure failed = failure(LineFailureKind::OpenFailed, port_.errorString().toStdString());
        if (port_.error() == QSerialPort::DeviceNotFoundError)
            failed.kind = LineFailureKind::NoSuchDevice;
        else if (port_.error() == QSerialPort::PermissionError)
            probeRefusedDevice(failed, resolved);
        port_.clearError();
        throw ControlError(ControlOp::PortOpen, failed);
    }
    try {
        applySettings(settings, ControlOp::PortOpen);
    } catch (const ControlError &) {
        port_.close();
        throw;
    }
    port_.clear(); // Qt does not drop stale input on open
}

void DeviceLine::close()
{
    if (port_.isOpen())
        port_.close();
    port_.clearError();
}

void DeviceLine::applySettings(const LineSettings &settings, ControlOp op)
{
    const bool applied = port_.setBaudRate(settings.baudRate) && port_.setParity(parityFor(settings.parity))
        && port_.setDataBits(static_cast<QSerialPort::DataBits>(settings.dataBits))
        && port_.setStopBits(stopBitsFor(settings.stopBits10))
        && port_.setFlowControl(QSerialPort::NoFlowControl);
    if (!applied) {
        const std::string reason = port_.errorString().toStdString();
        port_.clearError();
        throw ControlError(op, failure(LineFailureKind::SettingsRefused, reason));
    }
}

void DeviceLine::write(std::string_view bytes)
{
    const qint64 written = port_.write(bytes.data(), static_cast<qint64>(bytes.size()));
    if (written != static_cast<qint64>(bytes.size()))
        throw ControlError(
            ControlOp::Output, failure(LineFailureKind::WriteFailed, port_.errorString().toStdString()));
    // write() only queues; flush so a busy event loop cannot hold a command back.
    port_.flush();
}

std::string DeviceLine::readAll()
{
    const QByteArray bytes = port_.readAll();
    return std::string(bytes.constData(), static_cast<std::size_t>(bytes.size()));
}

LineFailure DeviceLine::failure(LineFailureKind kind, std::string reason) const
{
    LineFailure failure;
    failure.kind = kind;
    failure.label = label_;
    failure.device = device_;
    failure.reason = std::move(reason);
    return failure;
}

bool DeviceLine::hungUp() const
{
#ifdef __linux__
    if (access(device_.c_str(), F_OK) != 0)
        return true;
    pollfd line{static_cast<int>(port_.handle()), POLLIN, 0};
    return poll(&line, 1, 0) == 1 && (line.revents & (POLLHUP | POLLERR | POLLNVAL)) != 0;
#else
    return true;
#endif
}

void DeviceLine::onError(QSerialPort::SerialPortError error)
{
    const bool lineError = error == QSerialPort::ReadError || error == QSerialPort::ResourceError
        || error == QSerialPort::WriteError;
    if (!lineError || !port_.isOpen())
        return;
    const bool gone = hungUp();
    if (!gone && ++errorsWithoutData_ < kErrorsBeforeGivingUp) {
        // An empty read (another program took the bytes) or a passing error:
        // the line is still there.
        port_.clearError();
        return;
    }
    LineFailure why;
    if (!gone)
        why = failure(LineFailureKind::KeptFailing, port_.errorString().toStdString());
    else if (access(device_.c_str(), F_OK) == 0)
        why = failure(LineFailureKind::HungUp);
    else
        why = failure(LineFailureKind::DeviceRemoved);
    // Closing now removes the read notifier, which would otherwise fire
    // without end on a hung-up line.
    reportLost(why);
}
