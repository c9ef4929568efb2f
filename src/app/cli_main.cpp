// SPDX-License-Identifier: GPL-3.0-or-later
// qv550-cli: the panel's commands and decoded status for scripts, schedules
// and control systems. No window and no display: Qt Core and the same
// tables, decoders and serial control as the panel.

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QThread>

#include <cstdlib>
#include <iostream>
#include <memory>

#include "app/quit_on_signals.h"
#include "cli/cli_options.h"
#include "cli/cli_scenes.h"
#include "cli/cli_session.h"
#include "cli/serial_ports.h"
#include "owner/service_config.h"
#include "serial/device_map.h"
#include "owner/owner_server.h"
#include "protocol/owner_protocol.h"
#include "serial/owner_socket.h"
#include "serial/device_line.h"
#include "serial/network_address.h"
#include "serial/open_failure.h"
#include "serial/port_mapping.h"
#include "serial/qt_serial_control.h"
#include "serial/traffic_log.h"

namespace {

// Exit status 2: a usage error, or a file the call depends on is wrong.
constexpr int kUsageError = 2;

// What --config adds: the port, speed and scenes of the projector's service,
// where the command line does not say. False when the file cannot be read.
bool applyConfig(CliRequest &request)
{
    if (request.configPath.empty())
        return true;
    // The same file as the projector's service: one place names its port.
    QFile file(QString::fromStdString(request.configPath));
    ServiceConfig config;
    std::string problem;
    if (!file.open(QIODevice::ReadOnly)
        || !readServiceConfig(file.readAll().toStdString(), config, problem)) {
        std::cerr << "qv550-cli: " << request.configPath << ": "
                  << (problem.empty() ? file.errorString().toStdString() : problem) << '\n';
        return false;
    }
    if (!request.port && !config.port.empty())
        request.port = config.port;
    if (!request.speedGiven)
        request.settings = config.speed + ",N,8,1";
    if (request.scenesPath.empty())
        request.scenesPath = config.scenes;
    return true;
}

// The tool's one port: --port as given, or the panel's COM1 (or COM2 when
// named) as its port mapping sets it, else its default device. False, having
// said why, when there is none to use.
bool choosePort(const CliRequest &request, DeviceMap &devices)
{
    if (request.port && *request.port != "COM1" && *request.port != "COM2") {
        devices.setDevice(1, *request.port);
    } else {
        std::string problem;
        const auto mapping = readPortMapping(portMappingPath(), problem);
        if (!mapping) {
            std::cerr << "qv550-cli: " << problem << '\n';
            return false;
        }
        DeviceMap panels;
        mapping->fillIn(panels, false, false);
        const std::int16_t number = request.port == "COM2" ? 2 : 1;
        devices.setDevice(1, panels.deviceFor(number).value_or(std::string()), panels.sourceFor(number));
    }
    if (const std::string whyNot = malformedNetworkName(devices.deviceFor(1).value_or(std::string()));
        !whyNot.empty()) {
        std::cerr << "qv550-cli: " << whyNot << "\nTry 'qv550-cli --help'.\n";
        return false;
    }
    return true;
}

// A program of ours that owns the line serves the call: its socket, if one
// answers. Another qv550-cli holds the port only for its own call, so it is
// waited for, within this call's own time (its --timeout, else 10 s).
std::string ownerOrTurn(const CliRequest &request, const std::string &device)
{
    if (device.empty())
        return {};
    const int limitMs = request.timeoutMs.value_or(10000);
    // A device locked by an owner of ours is gone through, even while that
    // owner is naming its socket after a device that came back elsewhere.
    std::string ownerSocket = ownerSocketFor(device, limitMs, ownerReachable);
    if (!isNetworkName(device) && !ownerReachable(ownerSocket)) {
        const std::string resolved = resolvedDevicePath(device);
        QElapsedTimer waited;
        waited.start();
        while (lockHolder(resolved) == "qv550-cli" && waited.elapsed() < limitMs)
            QThread::msleep(20);
    }
    return ownerSocket;
}

// A sequence: nothing from another program between its commands. The owner
// leases the line to it (renewed by each command), or the port is held from
// the first command to the last.
int runSequence(
    const CliRequest &request, SerialControl &line, TrafficLog *log, const std::string &ownerSocket)
{
    // The lease waits its turn like any request; exit 3 stays for a line
    // that could not be opened.
    if (const auto refused = leaseFromOwner(ownerSocket, 60, request.lineWaitMs)) {
        std::cerr << "qv550-cli: " << *refused << '\n';
        return errorIs(*refused, error_text::kLineDown) ? 3 : 1;
    }
    int status = 0;
    for (const std::string &name : request.sequence) {
        CliRequest one = request;
        one.verb = CliRequest::Command;
        one.command = name;
        status = runCliRequest(one, line, std::cout, std::cerr, log, ownerSocket, true);
        if (status != 0)
            break;
    }
    releaseOwner(ownerSocket);
    line.setPortOpen(false);
    return status;
}

} // namespace

int main(int argc, char *argv[])
{
    std::vector<std::string> arguments(argv + 1, argv + argc);
    std::string whyNot;
    auto request = parseCliArguments(arguments, whyNot);
    if (!request) {
        std::cerr << "qv550-cli: " << whyNot << "\nTry 'qv550-cli --help'.\n";
        return kUsageError;
    }
    switch (request->verb) {
    case CliRequest::Help:
        std::cout << kCliUsage;
        return 0;
    case CliRequest::Version:
        std::cout << "qv550-cli " PANEL_VERSION "\n";
        return 0;
    case CliRequest::List:
        listCommands(std::cout);
        return 0;
    default:
        break;
    }
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("qv550-cli"));
    if (!applyConfig(*request))
        return kUsageError;
    if (request->verb == CliRequest::Ports) {
        if (listSerialPorts(std::cout) == 0)
            std::cerr << "qv550-cli: no serial ports found (pseudo-terminals are never listed)\n";
        return 0;
    }
    DeviceMap devices;
    if (!choosePort(*request, devices))
        return kUsageError;
    QtSerialControl port(devices);
    port.setNamesWithoutPortNumber();
    std::unique_ptr<TrafficLog> log;
    SerialControl *line = &port;
    if (!request->logPath.empty()) {
        log = std::make_unique<TrafficLog>(port, request->logPath);
        if (!log->ok()) {
            std::cerr << "qv550-cli: cannot append to the log " << request->logPath << '\n';
            return kUsageError;
        }
        line = log.get();
    }
    // Ended by a signal, the port is closed first, so no lock file is left.
    quitOnSignals(app, [&port](int number) {
        port.setPortOpen(false);
        std::exit(128 + number);
    });
    const std::string ownerSocket = ownerOrTurn(*request, devices.deviceFor(1).value_or(std::string()));
    switch (request->verb) {
    case CliRequest::Scene:
    case CliRequest::Scenes:
    case CliRequest::SceneCancel:
        return runCliScenes(*request, *line, std::cout, std::cerr, ownerSocket);
    case CliRequest::State:
        return runCliState(*request, *line, std::cout, std::cerr, ownerSocket);
    case CliRequest::Sequence:
        return runSequence(*request, *line, log.get(), ownerSocket);
    default:
        return runCliRequest(*request, *line, std::cout, std::cerr, log.get(), ownerSocket);
    }
}
