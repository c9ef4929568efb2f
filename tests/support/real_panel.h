// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// The panel assembled as the program assembles it, on a given device for
// COM1: the QSerialPort control, QTimer timers and the real window, with a
// message box that records instead of waiting for a click.

#include <optional>
#include <string>

#include "recording_view.h"
#include "serial/qt_serial_control.h"
#include "timers/qt_timer.h"
#include "panel/timer_ticks.h"
#include "ui/form1.h"
#include "panel/panel.h"

class RealPanel {
public:
    explicit RealPanel(const std::string &com1)
        : serial([&] {
              DeviceMap devices;
              devices.setDevice(1, com1);
              return devices;
          }())
    {
        form.attach(&panel);
    }

    // Start-up, then the window is shown; the failure that stopped start-up, if any.
    std::optional<std::string> start()
    {
        auto failure = panel.Form_Load();
        form.show();
        return failure;
    }

    QtSerialControl serial;
    QtTimer timer1{"Timer1", kTimer1Design};
    QtTimer timer2{"Timer2", kTimer2Design};
    QtTimer timer3{"Timer3", kTimer3Design};
    QtTimer timer4{"Timer4", kTimer4Design};
    QtTimer reopenTimer{"reopenTimer", 1000};
    QtTimer settleTimer{"settleTimer", 3000};
    RecordingMessageBox messageBox;
    Form1 form;
    Panel panel{
        serial, form, messageBox, form, {timer1, timer2, timer3, timer4, reopenTimer, settleTimer}, [] {}};
};
