// QSerialPort glue, plus the two things it does not do for us: telling a
// permission problem from a busy device, and surviving a hung-up line.

#include "serial/qt_serial_control.h"

#include <QString>

#ifdef __linux__
#include <climits>
#include <cstdlib>
#include <dirent.h>
#include <fstream>
#include <unistd.h>
#endif

namespace {

QString fromUtf8(const std::string &text)
{
    return QString::fromStdString(text);
}

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

#ifdef __linux__
// The program (name and process id) that has `device` open, if one can be seen.
std::string holderOf(const std::string &device)
{
    char resolved[PATH_MAX];
    if (!realpath(device.c_str(), resolved))
        return {};
    const std::string target = resolved;
    DIR *proc = opendir("/proc");
    if (!proc)
        return {};
    std::string holder;
    const std::string self = std::to_string(getpid());
    while (dirent *entry = readdir(proc)) {
        const std::string pid = entry->d_name;
        if (pid.empty() || pid.find_first_not_of("0123456789") != std::string::npos || pid == self)
            continue;
        const std::string fdDir = "/proc/" + pid + "/fd";
        DIR *fds = opendir(fdDir.c_str());
        if (!fds)
            continue;
        while (dirent *fd = readdir(fds)) {
            char link[PATH_MAX];
            const std::string path = fdDir + "/" + fd->d_name;
            const ssize_t length = readlink(path.c_str(), link, sizeof link - 1);
            if (length > 0 && std::string(link, static_cast<std::size_t>(length)) == target) {
                std::string name;
                std::ifstream comm("/proc/" + pid + "/comm");
                std::getline(comm, name);
                holder = (name.empty() ? std::string("a program") : name) + " (process " + pid + ")";
                break;
            }
        }
        closedir(fds);
        if (!holder.empty())
            break;
    }
    closedir(proc);
    return holder;
}
#endif

} // namespace

QtSerialControl::QtSerialControl(DeviceMap devices, QObject *parent)
    : QObject(parent), devices_(std::move(devices))
{
    setObjectName(QStringLiteral("MSComm1"));
    connect(&port_, &QSerialPort::readyRead, this, &QtSerialControl::onReadyRead);
    connect(&port_, &QSerialPort::errorOccurred, this, &QtSerialControl::onError);
}

std::string QtSerialControl::portLabel() const
{
    const auto device = devices_.deviceFor(commPort_);
    return "COM" + std::to_string(commPort_) + (device ? " (" + *device + ")" : std::string());
}

void QtSerialControl::setCommPort(std::int16_t port)
{
    if (port_.isOpen())
        throw ControlError(ControlOp::CommPort, "Port already open");
    if (!devices_.deviceFor(port))
        throw ControlError(ControlOp::CommPort, "There is no device for COM" + std::to_string(port));
    commPort_ = port;
}

void QtSerialControl::setSettings(std::string_view settings)
{
    std::string whyNot;
    const auto parsed = parseLineSettings(settings, whyNot);
    if (!parsed)
        throw ControlError(ControlOp::Settings, whyNot);
    settings_ = *parsed;
    if (port_.isOpen())
        applySettings(ControlOp::Settings);
}

void QtSerialControl::applySettings(ControlOp op)
{
    const bool applied = port_.setBaudRate(settings_.baudRate) && port_.setParity(parityFor(settings_.parity))
        && port_.setDataBits(static_cast<QSerialPort::DataBits>(settings_.dataBits))
        && port_.setStopBits(stopBitsFor(settings_.stopBits10))
        && port_.setFlowControl(QSerialPort::NoFlowControl);
    if (!applied) {
        const std::string reason = port_.errorString().toStdString();
        port_.clearError();
        throw ControlError(op, portLabel() + ": the line settings could not be applied (" + reason + ")");
    }
}

bool QtSerialControl::portOpen() const
{
    return port_.isOpen();
}

void QtSerialControl::setPortOpen(bool open)
{
    if (!open) {
        if (port_.isOpen())
            port_.close();
        return;
    }
    if (port_.isOpen())
        throw ControlError(ControlOp::PortOpen, "Port already open");
    const auto device = devices_.deviceFor(commPort_);
    if (!device)
        throw ControlError(ControlOp::PortOpen, "There is no device for COM" + std::to_string(commPort_));
    port_.setPortName(fromUtf8(*device));
    lineLost_ = false;
    if (!port_.open(QIODevice::ReadWrite)) {
        const std::string description = openFailure(*device);
        port_.clearError();
        throw ControlError(ControlOp::PortOpen, description);
    }
    try {
        applySettings(ControlOp::PortOpen);
    } catch (const ControlError &) {
        port_.close();
        throw;
    }
    port_.clear(); // Qt does not drop stale input on open
}

std::string describeOpenFailure(const OpenFailure &failure)
{
    switch (failure.problem) {
    case OpenFailure::Missing:
        return failure.label + ": no such device (" + failure.reason + ")";
    case OpenFailure::Refused:
        // Qt reports a busy device and a forbidden one alike.
        if (!failure.accessible)
            return failure.label
                + ": permission denied. Serial devices usually belong to the 'dialout' group: "
                  "add your user to it (sudo usermod -aG dialout $USER) and log in again.";
        if (!failure.holder.empty())
            return failure.label + " is in use by " + failure.holder
                + ". Close that program and choose the port again.";
        return failure.label + " is in use by another program (" + failure.reason + ")";
    case OpenFailure::Other:
        break;
    }
    return failure.label + ": the port could not be opened (" + failure.reason + ")";
}

std::string QtSerialControl::openFailure(const std::string &device) const
{
    OpenFailure failure;
    failure.label = portLabel();
    failure.reason = port_.errorString().toStdString();
    if (port_.error() == QSerialPort::DeviceNotFoundError) {
        failure.problem = OpenFailure::Missing;
    } else if (port_.error() == QSerialPort::PermissionError) {
        failure.problem = OpenFailure::Refused;
#ifdef __linux__
        failure.accessible = access(device.c_str(), R_OK | W_OK) == 0;
        if (failure.accessible)
            failure.holder = holderOf(device);
#endif
    }
    return describeOpenFailure(failure);
}

void QtSerialControl::setOutput(std::string_view bytes)
{
    if (!port_.isOpen())
        throw ControlError(ControlOp::Output, portLabel() + " is not open");
    const qint64 written = port_.write(bytes.data(), static_cast<qint64>(bytes.size()));
    if (written != static_cast<qint64>(bytes.size()))
        throw ControlError(ControlOp::Output, portLabel() + ": " + port_.errorString().toStdString());
    // write() only queues; flush so a busy event loop cannot hold a command back.
    port_.flush();
}

std::string QtSerialControl::input()
{
    if (!port_.isOpen())
        return {};
    const QByteArray bytes = port_.readAll();
    return std::string(bytes.constData(), static_cast<std::size_t>(bytes.size()));
}

void QtSerialControl::onReadyRead()
{
    event_ = kCommEventReceive;
    raiseOnComm();
}

void QtSerialControl::onError(QSerialPort::SerialPortError error)
{
    const bool lineGone = error == QSerialPort::ReadError || error == QSerialPort::ResourceError
        || error == QSerialPort::WriteError;
    if (!lineGone || lineLost_ || !port_.isOpen())
        return;
    lineLost_ = true;
    lostLine_ = portLabel() + ": the line was lost and the port has been closed ("
        + port_.errorString().toStdString() + "). Choose the port again once the device is back.";
    // Closing now removes the read notifier, which would otherwise fire
    // without end on a hung-up line.
    port_.close();
    port_.clearError();
    // Reported between events, not from inside the port's own notification.
    QMetaObject::invokeMethod(this, &QtSerialControl::reportLostLine, Qt::QueuedConnection);
}

void QtSerialControl::reportLostLine()
{
    event_ = kCommEventLineLost;
    raiseOnComm();
}
