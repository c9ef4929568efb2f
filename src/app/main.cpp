// SPDX-License-Identifier: GPL-3.0-or-later
// The panel program: parse the device options, assemble the window, the
// serial port and the timers, run start-up, and hand over to the event loop.

#include <QApplication>
#include <QScreen>
#include <QCommandLineParser>
#include <QStyleFactory>
#include <QTimer>

#include <cstdio>
#include <unistd.h>
#include <memory>
#include <string_view>

#include "app/quit_on_signals.h"
#include "core/view.h"
#include "owner/owner_server.h"
#include "panel/live_lights.h"
#include "owner/live_owner.h"
#include "owner/owner_service.h"
#include "panel/panel_scenes.h"
#include "owner/scene_book.h"
#include "owner/scene_runner.h"
#include "owner/scene_service.h"
#include "owner/state_feed.h"
#include "serial/owner_socket.h"
#include "owner/shared_line.h"
#include "serial/device_map.h"
#include "serial/network_address.h"
#include "serial/port_mapping.h"
#include "simulator/simulated_projector.h"
#include "serial/qt_serial_control.h"
#include "serial/traffic_log.h"
#include "timers/qt_timer.h"
#include "panel/timer_ticks.h"
#include "ui/fonts.h"
#include "ui/form1.h"
#include "panel/panel.h"
#include "ui/qt_message_box.h"
#include "panel/window_sizes.h"

namespace {

struct Options {
    QCommandLineParser parser;
    QCommandLineOption com1{{QStringLiteral("com1")},
        QStringLiteral("Device that port 1 (COM1) opens: a path such as /dev/ttyUSB0, or a network line, "
                       "tcp://HOST:PORT (raw TCP) or rfc2217://HOST:PORT (Telnet COM port control)."),
        QStringLiteral("DEVICE")};
    QCommandLineOption com2{{QStringLiteral("com2")},
        QStringLiteral("Device that port 2 (COM2) opens, in the same forms."), QStringLiteral("DEVICE")};
    QCommandLineOption log{{QStringLiteral("log")},
        QStringLiteral("Append every line sent and every arrival, with a timestamp, hex and monitor text, "
                       "to FILE (nothing is logged otherwise)."),
        QStringLiteral("FILE")};
    QCommandLineOption live{{QStringLiteral("live")},
        QStringLiteral("Keep the projector's state in view: ask it now and then, within a small share of the "
                       "line, and light the buttons that stand for what it does now (power, input, mutes, "
                       "lamps, and the last freeze, screen, image and fan choice); the data panel's status "
                       "line lists the values read, with their age, when pointed at. On a line that qv550d "
                       "serves, the service's state is shown.")};
    QCommandLineOption scenes{{QStringLiteral("scenes")},
        QStringLiteral("Run the scenes of this JSON file when asked (qv550-cli scene NAME) while the panel "
                       "serves its line; a press at the panel stops the running one. A bad file is told, "
                       "and the panel goes on without scenes."),
        QStringLiteral("FILE")};
    QCommandLineOption demo{{QStringLiteral("demo")},
        QStringLiteral("Attach COM1 to a simulated projector on a new pseudo-terminal, to try "
                       "the panel without one (it answers as qv550-sim does).")};
    Options()
    {
        parser.setApplicationDescription(
            QStringLiteral("Remote-control panel for a QV550 projector on an RS-232 line.\n"
                           "Port numbers 1 and 2 (the COM1 and COM2 choices) open /dev/ttyS0 and /dev/ttyS1\n"
                           "unless the port mapping ~/.config/qv550-control/ports.conf (lines such as\n"
                           "COM1=/dev/serial/by-id/...) or an option below replaces them, for example\n"
                           "by a USB adapter, a pseudo-terminal or a serial-over-IP box. Over raw TCP the\n"
                           "speed choice cannot reach the far port; over RFC 2217 it sets it."));
        parser.addHelpOption();
        parser.addVersionOption();
        parser.addOptions({com1, com2, log, live, scenes, demo});
        parser.addPositionalArgument(QStringLiteral("DEVICE"),
            QStringLiteral("Device that COM1 opens, as with --com1 (give one or the other)."),
            QStringLiteral("[DEVICE]"));
    }
};

bool asksForHelp(int argc, char *argv[])
{
    for (int i = 1; i < argc; ++i) {
        const std::string_view arg = argv[i];
        if (arg == "-h" || arg == "--help" || arg == "--help-all" || arg == "-v" || arg == "--version")
            return true;
    }
    return false;
}

// A screen too small for the window at its scale (1024x768 at 2x) gets the
// window drawn smaller, so that all of it, the logo included, is on screen.
// Qt's scale is fixed once the application exists, so the program starts
// itself again, once, with the factor that fits.
void fitTheScreen(char *argv[])
{
    constexpr char kFitted[] = "QV550_SCALE_FITTED";
    const QScreen *screen = QGuiApplication::primaryScreen();
    if (!screen || qEnvironmentVariableIsSet(kFitted))
        return;
    const QRect available = screen->availableGeometry();
    const double shrink = fittingScale(available.width(), available.height());
    if (shrink >= 1.0)
        return;
    bool given = false;
    double scale = qEnvironmentVariable("QT_SCALE_FACTOR").toDouble(&given);
    if (!given || scale <= 0.0)
        scale = 1.0;
    qputenv("QT_SCALE_FACTOR", QByteArray::number(scale * shrink));
    qputenv(kFitted, "1");
    std::fprintf(stderr,
        "qv550-control: the screen is too small for the window at this scale; drawn at %.2f of it\n", shrink);
    execv("/proc/self/exe", argv);
    // Not restarted: the window stays as large as it was.
}

} // namespace

int main(int argc, char *argv[])
{
    if (asksForHelp(argc, argv)) {
        // Help needs no display.
        QCoreApplication core(argc, argv);
        QCoreApplication::setApplicationName(QStringLiteral("qv550-control"));
        QCoreApplication::setApplicationVersion(QStringLiteral(PANEL_VERSION));
        Options options;
        options.parser.process(core);
        return 0;
    }
    QApplication app(argc, argv);
    fitTheScreen(argv);
    QApplication::setApplicationName(QStringLiteral("qv550-control"));
    // No display name: Qt would append it to the window caption on X11.
    QApplication::setApplicationVersion(QStringLiteral(PANEL_VERSION));
    // Fusion paints a button's own face colour on every platform, with the
    // raised and pressed looks.
    QApplication::setStyle(QStyleFactory::create(QStringLiteral("Fusion")));
    Options options;
    options.parser.process(app);
    const QStringList positional = options.parser.positionalArguments();
    if (positional.size() > 1 || (positional.size() == 1 && options.parser.isSet(options.com1))) {
        std::fprintf(stderr,
            "qv550-control: give one device for COM1, either as --com1 DEVICE or as DEVICE\n%s",
            options.parser.helpText().toLocal8Bit().constData());
        return 2;
    }

    DeviceMap devices;
    // The user's port mapping fills in what the command line leaves open; a
    // malformed file is told, and the defaults are used.
    std::string mappingProblem;
    const bool com1Given
        = options.parser.isSet(options.com1) || positional.size() == 1 || options.parser.isSet(options.demo);
    if (!com1Given || !options.parser.isSet(options.com2)) {
        if (const auto mapping = readPortMapping(portMappingPath(), mappingProblem))
            mapping->fillIn(devices, com1Given, options.parser.isSet(options.com2));
        else
            std::fprintf(stderr, "qv550-control: %s\n", mappingProblem.c_str());
    }
    if (options.parser.isSet(options.com1))
        devices.setDevice(1, options.parser.value(options.com1).toStdString());
    if (positional.size() == 1)
        devices.setDevice(1, positional.front().toStdString());
    if (options.parser.isSet(options.com2))
        devices.setDevice(2, options.parser.value(options.com2).toStdString());
    // A network address that can never work is a mistake to correct now, not
    // a line to keep trying all night.
    for (const std::int16_t number : {1, 2}) {
        if (const std::string whyNot
            = malformedNetworkName(devices.deviceFor(number).value_or(std::string()));
            !whyNot.empty()) {
            std::fprintf(stderr, "qv550-control: COM%d: %s\n", number, whyNot.c_str());
            return 2;
        }
    }
    std::unique_ptr<SimulatedProjector> simulated;
    if (options.parser.isSet(options.demo)) {
        std::string error;
        simulated = SimulatedProjector::onNewPseudoTerminal(SimOptions{}, error);
        if (!simulated) {
            std::fprintf(stderr, "qv550-control: no simulated projector: %s\n", error.c_str());
            return 1;
        }
        devices.setDevice(1, simulated->devicePath());
    }

    quitOnSignals(app);
    installFontSubstitutes();
    QtSerialControl port(devices);
    std::unique_ptr<TrafficLog> trafficLog;
    if (options.parser.isSet(options.log)) {
        const std::string path = options.parser.value(options.log).toStdString();
        trafficLog = std::make_unique<TrafficLog>(port, path);
        if (!trafficLog->ok()) {
            std::fprintf(stderr, "qv550-control: cannot append to the log %s\n", path.c_str());
            return 2;
        }
    }
    SerialControl &wire = trafficLog ? static_cast<SerialControl &>(*trafficLog) : port;
    // Other programs of ours given this line talk through the panel, one
    // transaction at a time, on a socket only this user can reach.
    QtTimer shareWatch("shareWatch", 500);
    QtTimer shareQuiet("shareQuiet", SharedLine::kPanelQuietMs);
    QtTimer shareLease("shareLease", 1000);
    QtTimer shareLineWait("shareLineWait", 1000);
    SharedLine shared(wire, shareWatch, shareQuiet, shareLease, shareLineWait);
    SerialControl &MSComm1 = shared;
    OwnerService service(
        shared, {}, "qv550-control (process " + std::to_string(QCoreApplication::applicationPid()) + ")");
    OwnerServer server(service);
    QtTimer pollTimer("pollTimer", Poller::kPowerEveryMs);
    LiveOwner live(shared, pollTimer);
    service.setLiveState(&live.state, &live.poller);
    const bool showLive = options.parser.isSet(options.live);
    // Scenes run here as they do in qv550d, while the panel serves the line.
    QtTimer sceneNext("sceneNext", 1), sceneAsk("sceneAsk", SceneRunner::kConfirmMs),
        sceneDeadline("sceneDeadline", 1000);
    SceneRunner sceneRunner(service, live.state, sceneNext, sceneAsk, sceneDeadline, LiveOwner::steadyMs);
    SceneService sceneService(service, sceneRunner);
    std::string scenesProblem;
    if (options.parser.isSet(options.scenes)) {
        const std::string file = options.parser.value(options.scenes).toStdString();
        if (auto book = readSceneFile(file, scenesProblem))
            sceneRunner.setBook(std::move(*book));
        else
            std::fprintf(stderr, "qv550-control: no scenes: %s\n", scenesProblem.c_str());
    }
    // A line another program of ours already serves is used through it,
    // found by any name of the line (no waiting here: the panel tries again).
    port.setOwnerLookup([&server](const std::string &device) -> std::optional<std::string> {
        const std::string path = ownerSocketFor(device, 0);
        if ((server.listening() && server.path() == path) || !ownerAnswers(path))
            return std::nullopt;
        return path;
    });
    std::optional<LiveLights> lights;
    std::string followed; // the other owner whose state is shown
    StateFeed feed([&](const QJsonObject &state, const QJsonObject &choices) {
        if (lights && !followed.empty())
            lights->show(state, choices);
    });
    // Every 5 s, while the panel is another owner's client or shows the live
    // state: it serves its line once that owner has gone (and it opened the
    // line itself), a lost owner's state is followed again, and the ages in
    // the data panel move on. Otherwise it never wakes the panel.
    QTimer ownerCheck;
    ownerCheck.setInterval(5000);
    const auto checkOwnerWhenNeeded = [&] {
        if (showLive || !followed.empty()) {
            if (!ownerCheck.isActive())
                ownerCheck.start();
        } else {
            ownerCheck.stop();
        }
    };
    const auto serveTheLine = [&] {
        const std::string device = port.device();
        const std::string path = device.empty() ? std::string() : ownerSocketPath(device);
        if (path.empty() || (server.listening() && server.path() == path))
            return;
        const bool servedByAnother = ownerAnswers(path);
        if (servedByAnother && followed == path)
            return;
        live.state.forget();   // another line, another projector
        if (servedByAnother) { // the panel is that owner's client, and shows its state
            server.stop();
            live.poller.stop();
            followed = path;
            if (showLive)
                feed.follow(followed);
            checkOwnerWhenNeeded();
            return;
        }
        followed.clear();
        feed.follow({});
        checkOwnerWhenNeeded();
        if (showLive) {
            live.poller.start();
            live.poller.lineChanged(true); // the new line's power status first
        }
        server.stop();
        std::string whyNot;
        if (!prepareOwnerFolder(whyNot) || !server.listen(path, whyNot)) {
            std::fprintf(
                stderr, "qv550-control: the line is not shared with other programs: %s\n", whyNot.c_str());
            return;
        }
        service.setLineName(lineName(device));
        server.followDevice(device); // found by the device's own name too
    };
    QtTimer timer1("Timer1", kTimer1Design);
    QtTimer timer2("Timer2", kTimer2Design);
    QtTimer timer3("Timer3", kTimer3Design);
    QtTimer timer4("Timer4", kTimer4Design);
    QtTimer reopenTimer("reopenTimer", 1000);
    QtTimer settleTimer("settleTimer", 3000);
    Form1 form;
    QtMessageBox messageBox(&form);
    messageBox.setLineWarningsQuietWhile([&port] { return port.throughAnotherOwner(); });
    Panel panel(MSComm1, form, messageBox, form, {timer1, timer2, timer3, timer4, reopenTimer, settleTimer},
        [&form] { form.close(); });
    form.attach(&panel);
    if (showLive) {
        lights.emplace(form);
        live.state.listen([&] {
            if (followed.empty())
                lights->show(live.state.toJson(), live.state.choicesJson());
        });
    }
    QObject::connect(&ownerCheck, &QTimer::timeout, [&] {
        serveTheLine();
        if (!showLive)
            return;
        if (!followed.empty()) {
            feed.follow(followed);
            feed.refresh();
        } else
            lights->show(live.state.toJson(), live.state.choicesJson());
    });
    PanelScenes panelScenes(shared, sceneRunner, [&form](const std::string &text) {
        form.setCaption(role::kStatusLine, text);
        std::fprintf(stderr, "qv550-control:%s\n", text.c_str());
    });
    // A scene's own bursts of commands hold the line briefly: the scene's
    // step stays in view rather than its lease.
    shared.onLeaseChanged = [&form, &panelScenes](const std::string &holder) {
        form.setCaption(role::kStatusLine,
            holder.empty() || holder.rfind("scene \"", 0) == 0 ? panelScenes.status()
                                                               : " The line is held by " + holder);
    };

    const auto startupFailure = panel.Form_Load();
    // Served once start-up has opened it (a client must not find the line
    // down while the panel is still opening it), and again after each choice.
    serveTheLine();
    shared.onPortChanged = serveTheLine;
    checkOwnerWhenNeeded();
    form.show();
    // The window stays open with the port closed; the user is told why. The
    // port's own failure closes when the port opens by itself.
    if (!mappingProblem.empty()) {
        QTimer::singleShot(
            0, &form, [&messageBox, text = "The port mapping was not used: " + mappingProblem] {
                messageBox.warning(text);
            });
    }
    if (!scenesProblem.empty())
        form.setCaption(role::kStatusLine, " No scenes: " + scenesProblem);
    if (startupFailure) {
        QTimer::singleShot(0, &form, [&messageBox, &panel, text = *startupFailure] {
            if (!panel.lineKeeper().lineUp())
                messageBox.lineWarning(text);
        });
    }
    return QApplication::exec();
}
