// SPDX-License-Identifier: GPL-3.0-or-later
// qv550d: holds a projector's line that should stay open when no window is,
// and serves it to every other program of ours, one transaction at a time.
// It opens the line again when it comes back, as the panel does, and says
// what happens on standard error, where systemd's journal takes it. SIGTERM
// and SIGINT close the line, remove its lock and the socket, and end it with
// status 0. Qt Core, Network and Serial Port only: no window, no display.

#include <QCommandLineParser>
#include <QCoreApplication>

#include <cstdlib>
#include <iostream>

#include "app/quit_on_signals.h"
#include "owner/journal.h"
#include "owner/live_owner.h"
#include "owner/owner_server.h"
#include "owner/owner_service.h"
#include "serial/owner_socket.h"
#include "owner/shared_line.h"
#include "serial/device_map.h"
#include "serial/line_keeper.h"
#include "serial/network_address.h"
#include "serial/qt_serial_control.h"
#include "timers/qt_timer.h"

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("qv550d"));
    QCoreApplication::setApplicationVersion(QStringLiteral(PANEL_VERSION));
    QCommandLineParser parser;
    parser.setApplicationDescription(QStringLiteral(
        "Holds a QV550 projector's line and serves it to the panel, qv550-cli and other programs of\n"
        "this user, one transaction at a time, on $XDG_RUNTIME_DIR/qv550/<line>.sock."));
    const QCommandLineOption port({QStringLiteral("port")},
        QStringLiteral("The line: a device path, tcp://HOST:PORT or rfc2217://HOST:PORT."), QStringLiteral("DEVICE"));
    const QCommandLineOption speed(
        {QStringLiteral("speed")}, QStringLiteral("19200 (default) or 9600."), QStringLiteral("RATE"), QStringLiteral("19200"));
    const QCommandLineOption noPoll({QStringLiteral("no-poll")},
        QStringLiteral("Keep the live state from what clients ask only: never ask the projector on its own."));
    parser.addHelpOption();
    parser.addVersionOption();
    parser.addOptions({port, speed, noPoll});
    parser.process(app);
    const std::string device = parser.value(port).toStdString();
    if (device.empty()) {
        std::cerr << "qv550d: give the line with --port DEVICE\n";
        return 2;
    }
    if (const std::string whyNot = malformedNetworkName(device); !whyNot.empty()) {
        std::cerr << "qv550d: " << whyNot << '\n';
        return 2;
    }
    if (parser.value(speed) != QStringLiteral("19200") && parser.value(speed) != QStringLiteral("9600")) {
        std::cerr << "qv550d: --speed is 19200 or 9600\n";
        return 2;
    }

    Journal journal(std::cerr, "qv550d", std::getenv("JOURNAL_STREAM") != nullptr);
    DeviceMap devices;
    devices.setDevice(1, device);
    QtSerialControl line(devices);
    line.setNamesWithoutPortNumber();
    QtTimer watch("shareWatch", 500), quiet("shareQuiet", SharedLine::kPanelQuietMs), lease("shareLease", 1000);
    QtTimer reopen("reopenTimer", 1000), settle("settleTimer", 3000), display("displayTimer", 1000);
    SharedLine shared(line, watch, quiet, lease);
    QtTimer pollTimer("pollTimer", Poller::kPowerEveryMs);
    LiveOwner live(shared, pollTimer);
    LineKeeper keeper(shared, journal, journal, reopen, settle, display);
    // What arrives outside any transaction has no panel to go to.
    shared.setOnComm([&] {
        if (!keeper.onComm(shared.commEvent()))
            (void)shared.input();
    });
    reopen.setOnTick([&] { keeper.reopenTimer_Timer(); });
    settle.setOnTick([&] { keeper.settleTimer_Timer(); });
    display.setOnTick([&] { display.setEnabled(false); });

    OwnerService service(shared, lineName(device),
        "qv550d (process " + std::to_string(QCoreApplication::applicationPid()) + ")");
    service.setLiveState(&live.state, &live.poller);
    OwnerServer server(service);
    const std::string socket = ownerSocketPath(device);
    std::string whyNot;
    if (!prepareOwnerFolder(whyNot) || !server.listen(socket, whyNot)) {
        journal.warning("cannot serve " + device + ": " + whyNot);
        return 1;
    }
    journal.info("serving " + device + " on " + socket);

    shared.setCommPort(1);
    shared.setSettings(parser.value(speed).toStdString() + ",N,8,1");
    try {
        shared.setPortOpen(true);
        keeper.opened();
    } catch (const ControlError &error) {
        journal.warning(keeper.startupFailed(error.description()));
    }
    if (!parser.isSet(noPoll))
        live.poller.start();
    // Ended by the service manager or Ctrl+C: the line and the socket are
    // closed by the objects going away, and the end is a normal one.
    quitOnSignals(app, [&journal](int) {
        journal.info("stopping");
        QCoreApplication::exit(0);
    });
    return QCoreApplication::exec();
}
