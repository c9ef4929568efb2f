#pragma once
// The serial control on QSerialPort. Port numbers are turned into devices by
// a DeviceMap. Writes are flushed at once, and a line that goes away under an
// open port closes the port and is reported once, instead of the read-error
// storm QSerialPort produces on a hung-up line.

#include <QObject>
#include <QSerialPort>

#include "serial/device_map.h"
#include "serial/line_settings.h"
#include "serial/serial_control.h"

// What is known about a failed opening, and the message it makes: a missing
// device, a refused one (no permission, or held by another program), or
// anything else, with the port's own reason.
struct OpenFailure {
    enum Problem { Missing, Refused, Other };
    std::string label; // "COM1 (/dev/ttyUSB0)"
    Problem problem = Other;
    bool accessible = true; // the user may read and write the device
    std::string holder;     // "minicom (process 4242)", when one was found
    std::string reason;
};
std::string describeOpenFailure(const OpenFailure &failure);

class QtSerialControl : public QObject, public SerialControl {
public:
    explicit QtSerialControl(DeviceMap devices, QObject *parent = nullptr);

    void setCommPort(std::int16_t port) override;
    void setSettings(std::string_view settings) override;
    bool portOpen() const override;
    void setPortOpen(bool open) override;
    void setOutput(std::string_view bytes) override;
    std::string input() override;
    std::int16_t commEvent() const override { return event_; }
    std::string lostLineDescription() const override { return lostLine_; }

    // The device the current port number opens, for messages.
    std::string portLabel() const;

private:
    void applySettings(ControlOp op);
    std::string openFailure(const std::string &device) const;
    void onReadyRead();
    void onError(QSerialPort::SerialPortError error);
    void reportLostLine();

    DeviceMap devices_;
    QSerialPort port_;
    std::int16_t commPort_ = 1;
    LineSettings settings_{9600, 'N', 8, 10};
    std::int16_t event_ = 0;
    std::string lostLine_;
    bool lineLost_ = false;
};
