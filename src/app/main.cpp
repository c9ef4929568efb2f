// SPDX-License-Identifier: GPL-3.0-or-later
// The panel program: parse the device options, assemble the window, the
// serial port, the line's sharing and the timers, run start-up, and hand over
// to the event loop.

#include <QApplication>
#include <QScreen>
#include <QCommandLineParser>
#include <QStyleFactory>
#include <QTimer>

#include <cstdio>
#include <unistd.h>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include "app/quit_on_signals.h"
#include "core/view.h"
#include "owner/owner_server.h"
#include "panel/live_lights.h"
#include "owner/live_owner.h"
#include "owner/owner_service.h"
#include "panel/panel_scenes.h"
#include "panel/panel_sharing.h"
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

int showHelp(int argc, char *argv[])
{
    // Help needs no display.
    QCoreApplication core(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("qv550-control"));
    QCoreApplication::setApplicationVersion(QStringLiteral(PANEL_VERSION));
    Options options;
    options.parser.process(core);
    return 0;
}

// The devices the port numbers open, and what the user is to be told of them.
struct Devices {
    DeviceMap map;
    std::string mappingProblem;
    std::unique_ptr<SimulatedProjector> simulated;
};

// Nothing when the devices are chosen; the exit status when the program
// cannot go on.
std::optional<int> chooseDevices(const Options &options, Devices &devices)
{
    const QCommandLineParser &parser = options.parser;
    const QStringList positional = parser.positionalArguments();
    if (positional.size() > 1 || (positional.size() == 1 && parser.isSet(options.com1))) {
        std::fprintf(stderr,
            "qv550-control: give one device for COM1, either as --com1 DEVICE or as DEVICE\n%s",
            parser.helpText().toLocal8Bit().constData());
        return 2;
    }
    // The user's port mapping fills in what the command line leaves open; a
    // malformed file is told, and the defaults are used.
    const bool com1Given = parser.isSet(options.com1) || positional.size() == 1 || parser.isSet(options.demo);
    if (!com1Given || !parser.isSet(options.com2)) {
        if (const auto mapping = readPortMapping(portMappingPath(), devices.mappingProblem))
            mapping->fillIn(devices.map, com1Given, parser.isSet(options.com2));
        else
            std::fprintf(stderr, "qv550-control: %s\n", devices.mappingProblem.c_str());
    }
    if (parser.isSet(options.com1))
        devices.map.setDevice(1, parser.value(options.com1).toStdString());
    if (positional.size() == 1)
        devices.map.setDevice(1, positional.front().toStdString());
    if (parser.isSet(options.com2))
        devices.map.setDevice(2, parser.value(options.com2).toStdString());
    // A network address that can never work is a mistake to correct now, not
    // a line to keep trying all night.
    for (const std::int16_t number : {1, 2}) {
        if (const std::string whyNot
            = malformedNetworkName(devices.map.deviceFor(number).value_or(std::string()));
            !whyNot.empty()) {
            std::fprintf(stderr, "qv550-control: COM%d: %s\n", number, whyNot.c_str());
            return 2;
        }
    }
    if (parser.isSet(options.demo)) {
        std::string error;
        devices.simulated = SimulatedProjector::onNewPseudoTerminal(SimOptions{}, error);
        if (!devices.simulated) {
            std::fprintf(stderr, "qv550-control: no simulated projector: %s\n", error.c_str());
            return 1;
        }
        devices.map.setDevice(1, devices.simulated->devicePath());
    }
    return std::nullopt;
}

// Everything the panel is made of, in the order it needs: the line and its
// sharing, the live state and scenes, the window and its logic.
struct PanelProgram {
    PanelProgram(const Options &options, QtSerialControl &serialPort, SerialControl &wire);
    // The window and its parts go before the line they watch: a client whose
    // lease ends as the server closes must not reach them.
    ~PanelProgram()
    {
        shared.onLeaseChanged = {};
        shared.onPortChanged = {};
        shared.onPanelWrites = {};
        server.stop();
    }
    // Start-up, the line's sharing decided, the window shown, and what the
    // user is to be told.
    void start(const std::string &mappingProblem);
    PanelSharing::Seams sharingSeams();

    QtSerialControl &port;
    // Other programs of ours given this line talk through the panel, one
    // transaction at a time, on a socket only this user can reach.
    QtTimer shareWatch{"shareWatch", 500}, shareQuiet{"shareQuiet", SharedLine::kPanelQuietMs},
        shareLease{"shareLease", 1000}, shareLineWait{"shareLineWait", 1000};
    SharedLine shared;
    OwnerService service{
        shared, {}, "qv550-control (process " + std::to_string(QCoreApplication::applicationPid()) + ")"};
    OwnerServer server{service};
    QtTimer pollTimer{"pollTimer", Poller::kPowerEveryMs};
    LiveOwner live{shared, pollTimer};
    // Scenes run here as they do in qv550d, while the panel serves the line.
    QtTimer sceneNext{"sceneNext", 1}, sceneAsk{"sceneAsk", SceneRunner::kConfirmMs},
        sceneDeadline{"sceneDeadline", 1000};
    SceneRunner sceneRunner{service, live.state, sceneNext, sceneAsk, sceneDeadline, LiveOwner::steadyMs};
    SceneService sceneService{service, sceneRunner};
    std::string scenesProblem;
    QtTimer timer1{"Timer1", kTimer1Design}, timer2{"Timer2", kTimer2Design}, timer3{"Timer3", kTimer3Design},
        timer4{"Timer4", kTimer4Design}, reopenTimer{"reopenTimer", 1000}, settleTimer{"settleTimer", 3000};
    Form1 form;
    QtMessageBox messageBox{&form};
    Panel panel{shared, form, messageBox, form, {timer1, timer2, timer3, timer4, reopenTimer, settleTimer},
        [this] { form.close(); }};
    std::optional<LiveLights> lights;
    QtTimer ownerCheck{"ownerCheck", PanelSharing::kCheckEveryMs};
    PanelSharing sharing;
    // The state of the other owner whose line the panel uses.
    StateFeed feed{[this](const QJsonObject &state, const QJsonObject &choices) {
        sharing.followedStateArrived(state, choices);
    }};
    PanelScenes panelScenes{shared, sceneRunner, [this](const std::string &text) {
                                form.setCaption(role::kStatusLine, text);
                                std::fprintf(stderr, "qv550-control:%s\n", text.c_str());
                            }};
};

PanelProgram::PanelProgram(const Options &options, QtSerialControl &serialPort, SerialControl &wire)
    : port(serialPort), shared(wire, shareWatch, shareQuiet, shareLease, shareLineWait),
      sharing(sharingSeams(), ownerCheck, options.parser.isSet(options.live))
{
    service.setLiveState(&live.state, &live.poller);
    if (options.parser.isSet(options.scenes)) {
        const std::string file = options.parser.value(options.scenes).toStdString();
        if (auto book = readSceneFile(file, scenesProblem))
            sceneRunner.setBook(std::move(*book));
        else
            std::fprintf(stderr, "qv550-control: no scenes: %s\n", scenesProblem.c_str());
    }
    // A line another program of ours already serves is used through it,
    // found by any name of the line (no waiting here: the panel tries again).
    port.setOwnerLookup([this](const std::string &device) -> std::optional<std::string> {
        const std::string path = ownerSocketFor(device, 0);
        if ((server.listening() && server.path() == path) || !ownerAnswers(path))
            return std::nullopt;
        return path;
    });
    messageBox.setLineWarningsQuietWhile([this] { return port.throughAnotherOwner(); });
    form.attach(&panel);
    if (options.parser.isSet(options.live)) {
        lights.emplace(form);
        live.state.listen([this] { sharing.ownStateChanged(); });
    }
    // A scene's own bursts of commands hold the line briefly: the scene's
    // step stays in view rather than its lease.
    shared.onLeaseChanged = [this](const std::string &holder) {
        form.setCaption(role::kStatusLine,
            holder.empty() || holder.rfind("scene \"", 0) == 0 ? panelScenes.status()
                                                               : " The line is held by " + holder);
    };
}

PanelSharing::Seams PanelProgram::sharingSeams()
{
    PanelSharing::Seams seams;
    seams.device = [this] { return port.device(); };
    seams.socketFor = ownerSocketPath;
    seams.ownerAnswers = ownerAnswers;
    seams.servedPath = [this] { return server.listening() ? server.path() : std::string(); };
    seams.serve = [this](const std::string &path, const std::string &device, std::string &whyNot) {
        if (!prepareOwnerFolder(whyNot) || !server.listen(path, whyNot))
            return false;
        service.setLineName(lineName(device));
        server.followDevice(device); // found by the device's own name too
        return true;
    };
    seams.stopServing = [this] { server.stop(); };
    seams.forgetState = [this] { live.state.forget(); };
    seams.poll = [this](bool on) {
        if (!on)
            return live.poller.stop();
        live.poller.start();
        live.poller.lineChanged(true); // the new line's power status first
    };
    seams.follow = [this](const std::string &path) { feed.follow(path); };
    seams.refreshFollowed = [this] { feed.refresh(); };
    seams.ownState = [this] { return live.state.toJson(); };
    seams.ownChoices = [this] { return live.state.choicesJson(); };
    seams.show = [this](const QJsonObject &state, const QJsonObject &choices) {
        if (lights)
            lights->show(state, choices);
    };
    seams.tell = [](const std::string &whyNot) {
        std::fprintf(
            stderr, "qv550-control: the line is not shared with other programs: %s\n", whyNot.c_str());
    };
    return seams;
}

void PanelProgram::start(const std::string &mappingProblem)
{
    const auto startupFailure = panel.Form_Load();
    // Served once start-up has opened it (a client must not find the line
    // down while the panel is still opening it), and again after each choice.
    sharing.decide();
    shared.onPortChanged = [this] { sharing.decide(); };
    form.show();
    // The window stays open with the port closed; the user is told why. The
    // port's own failure closes when the port opens by itself.
    if (!mappingProblem.empty()) {
        QTimer::singleShot(0, &form,
            [this, text = "The port mapping was not used: " + mappingProblem] { messageBox.warning(text); });
    }
    if (!scenesProblem.empty())
        form.setCaption(role::kStatusLine, " No scenes: " + scenesProblem);
    if (startupFailure) {
        QTimer::singleShot(0, &form, [this, text = *startupFailure] {
            if (!panel.lineKeeper().lineUp())
                messageBox.lineWarning(text);
        });
    }
}

} // namespace

int main(int argc, char *argv[])
{
    if (asksForHelp(argc, argv))
        return showHelp(argc, argv);
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
    Devices devices;
    if (const auto status = chooseDevices(options, devices))
        return *status;

    quitOnSignals(app);
    installFontSubstitutes();
    QtSerialControl port(devices.map);
    std::unique_ptr<TrafficLog> trafficLog;
    if (options.parser.isSet(options.log)) {
        const std::string path = options.parser.value(options.log).toStdString();
        trafficLog = std::make_unique<TrafficLog>(port, path);
        if (!trafficLog->ok()) {
            std::fprintf(stderr, "qv550-control: cannot append to the log %s\n", path.c_str());
            return 2;
        }
    }
    PanelProgram program(options, port, trafficLog ? static_cast<SerialControl &>(*trafficLog) : port);
    program.start(devices.mappingProblem);
    return QApplication::exec();
}
