// SPDX-License-Identifier: GPL-3.0-or-later
// qv550d: holds a projector's line that should stay open when no window is,
// serves it to every other program of ours, one transaction at a time,
// keeps the projector's live state (asking it within a small budget unless
// told not to), and with --mqtt speaks to a broker for Home Assistant and
// building systems. It opens the line again when it comes back, as the panel
// does, and says what happens on standard error, where systemd's journal
// takes it. SIGTERM and SIGINT close the line, say "offline" on MQTT, remove
// the lock and the socket, and end it with status 0. SIGHUP reloads: the
// config is read and checked again, and only a good one is taken, by running
// qv550d anew in the same process (the service manager sees no restart); a
// bad one is told and the running settings are kept. Qt Core, Network and
// Serial Port only: no window, no display.

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QFile>
#include <QHostAddress>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <iostream>
#include <memory>
#include <optional>
#include <utility>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

#include "app/quit_on_signals.h"
#include "mqtt/mosquitto_link.h"
#include "mqtt/mqtt_bridge.h"
#include "owner/service_config.h"
#include "owner/journal.h"
#include "owner/live_owner.h"
#include "owner/owner_server.h"
#include "owner/owner_service.h"
#include "owner/scene_book.h"
#include "owner/scene_runner.h"
#include "owner/scene_service.h"
#include "owner/shared_line.h"
#include "pjlink/pjlink_search.h"
#include "pjlink/pjlink_server.h"
#include "serial/device_map.h"
#include "serial/line_keeper.h"
#include "serial/network_address.h"
#include "serial/owner_socket.h"
#include "serial/qt_serial_control.h"
#include "timers/qt_timer.h"
#include "web/web_face.h"
#include "web/web_server.h"

namespace {

struct Option {
    const char *key; // as in the config file
    const char *help;
    const char *value;
};

// clang-format off
constexpr Option kOptions[] = {
    {"port", "The line: a device path, tcp://HOST:PORT or rfc2217://HOST:PORT.", "DEVICE"},
    {"speed", "19200 (default) or 9600.", "RATE"},
    {"name", "The projector's name in MQTT topics (qv550/NAME/...); by default this host's name and the line's.", "NAME"},
    {"mqtt", "A broker to publish to: mqtt://HOST[:PORT] or mqtts://HOST[:PORT] (TLS).", "URL"},
    {"mqtt-ca", "For mqtts: the authority that signed the broker's certificate (else the system's).", "FILE"},
    {"mqtt-user", "The broker's user name.", "NAME"},
    {"mqtt-password-file", "A file whose first line is the broker's password.", "FILE"},
    {"mqtt-commands", "What a command on MQTT may be: named (default: the commands by name), all (also any line and the broadcast address) or none.", "WHICH"},
    {"mqtt-command-age", "A command on MQTT whose sent_at is further than this many seconds from this machine's clock is refused (10).", "S"},
    {"mqtt-bridge-topic", "The room bridge's notification topic, named in discovery as a second availability.", "TOPIC"},
    {"discovery-prefix", "Home Assistant's discovery prefix (homeassistant).", "PREFIX"},
    {"temperature-limit", "A temperature above this many °C is a problem (60).", "C"},
    {"pressure-limit", "A pressure below this many hPa is a problem (600).", "HPA"},
    {"pjlink", "Answer PJLink controllers on [ADDRESS:]PORT (4352 is PJLink's; loopback without ADDRESS).", "ADDR:PORT"},
    {"pjlink-password-file", "A file whose first line is the PJLink password.", "FILE"},
    {"pjlink-inputs", "Input modes as PJLink inputs (1:31 2:11 3:21 4:22).", "TABLE"},
    {"pjlink-search", "Answer PJLink searches (%2SRCH) on UDP [ADDRESS:]PORT (4352 is PJLink's).", "ADDR:PORT"},
    {"scenes", "Run the scenes of this JSON file when asked (qv550-cli scene NAME, MQTT, the socket); a bad file stops the start.", "FILE"},
    {"http", "Serve the touch page on [ADDR:]PORT (127.0.0.1 without ADDR); off by default.", "[ADDR:]PORT"},
    {"http-pin-file", "A file whose first line is the touch page's PIN or passphrase.", "FILE"},
    {"http-without-pin", "yes: let a page listener off loopback run without a PIN (no).", "YES|NO"},
};
// clang-format on

std::string firstLineOf(const std::string &path, std::string &whyNot)
{
    QFile file(QString::fromStdString(path));
    if (!file.open(QIODevice::ReadOnly)) {
        whyNot = "cannot read the password file " + path + ": " + file.errorString().toStdString();
        return {};
    }
    QByteArray line = file.readLine(4096);
    while (line.endsWith('\n') || line.endsWith('\r'))
        line.chop(1);
    return line.toStdString();
}

// Runs this program again in this process, with the same arguments and
// environment: nothing of the old one is inherited but the standard streams.
void runAgain(const std::vector<std::string> &arguments)
{
    if (DIR *fds = opendir("/proc/self/fd")) {
        while (const dirent *entry = readdir(fds)) {
            const int fd = std::atoi(entry->d_name);
            if (fd > 2 && fd != dirfd(fds))
                fcntl(fd, F_SETFD, FD_CLOEXEC);
        }
        closedir(fds);
    }
    std::vector<char *> argv;
    for (const std::string &argument : arguments)
        argv.push_back(const_cast<char *>(argument.c_str()));
    argv.push_back(nullptr);
    // The program this process runs, even if a newer one has been installed
    // since: a reload is not an upgrade.
    execv("/proc/self/exe", argv.data());
}

} // namespace

int main(int argc, char *argv[])
{
    const std::vector<std::string> arguments(argv, argv + argc);
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("qv550d"));
    QCoreApplication::setApplicationVersion(QStringLiteral(PANEL_VERSION));
    QCommandLineParser parser;
    parser.setApplicationDescription(QStringLiteral(
        "Holds a QV550 projector's line and serves it to the panel, qv550-cli and other programs,\n"
        "one transaction at a time, on $XDG_RUNTIME_DIR/qv550/<line>.sock (as the system service\n"
        "qv550d@NAME, on /run/qv550/<line>.sock for the group dialout). It keeps the projector's\n"
        "live state, and with --mqtt publishes it for Home Assistant and building systems.\n"
        "Settings may come from a file (--config), one \"key = value\" a line, with the keys\n"
        "named as the options here; the command line wins."));
    const QCommandLineOption config(
        {QStringLiteral("config")}, QStringLiteral("Read settings from FILE."), QStringLiteral("FILE"));
    const QCommandLineOption noPoll({QStringLiteral("no-poll")},
        QStringLiteral(
            "Keep the live state from what clients ask only: never ask the projector on its own."));
    std::vector<QCommandLineOption> options;
    for (const Option &option : kOptions)
        options.emplace_back(QStringList{QString::fromLatin1(option.key)}, QString::fromUtf8(option.help),
            QString::fromLatin1(option.value));
    parser.addHelpOption();
    parser.addVersionOption();
    parser.addOption(config);
    parser.addOption(noPoll);
    for (const QCommandLineOption &option : options)
        parser.addOption(option);
    parser.process(app);

    // The config file under the command line; false with the reason. Read
    // at start and again for a reload.
    const auto readSettings = [&](ServiceConfig &into, std::string &whyNot) {
        if (parser.isSet(config)) {
            QFile file(parser.value(config));
            if (!file.open(QIODevice::ReadOnly)) {
                whyNot = "cannot read " + parser.value(config).toStdString() + ": "
                    + file.errorString().toStdString();
                return false;
            }
            if (!readServiceConfig(file.readAll().toStdString(), into, whyNot)) {
                whyNot = parser.value(config).toStdString() + ": " + whyNot;
                return false;
            }
        }
        for (std::size_t i = 0; i < options.size(); ++i) {
            if (parser.isSet(options[i])
                && !applySetting(into, kOptions[i].key, parser.value(options[i]).toStdString(), whyNot))
                return false;
        }
        if (into.port.empty()) {
            whyNot = "give the line with --port DEVICE (or port = DEVICE in the config file)";
            return false;
        }
        if (const std::string malformed = malformedNetworkName(into.port); !malformed.empty()) {
            whyNot = malformed;
            return false;
        }
        return true;
    };
    ServiceConfig settings;
    std::string whyNot;
    if (!readSettings(settings, whyNot)) {
        std::cerr << "qv550d: " << whyNot << '\n';
        return 2;
    }
    if (parser.isSet(noPoll))
        settings.poll = false;
    const std::string device = settings.port;

    // A bad scene file is told before anything is opened: a room's scenes
    // are not found missing on the morning they are wanted.
    std::optional<SceneBook> sceneBook;
    if (!settings.scenes.empty()) {
        sceneBook = readSceneFile(settings.scenes, whyNot);
        if (!sceneBook) {
            std::cerr << "qv550d: " << whyNot << '\n';
            return 2;
        }
    }

    Journal journal(std::cerr, "qv550d", std::getenv("JOURNAL_STREAM") != nullptr);

    // The touch page's settings, checked before the line is taken.
    std::optional<WebSettings> webPage;
    QHostAddress webHost;
    int webPort = 0;
    if (!settings.http.empty()) {
        const auto address = parseHttpAddress(settings.http, whyNot);
        webHost = QHostAddress(QString::fromStdString(address->host));
        webPort = address->port;
        if (address->host == "localhost")
            webHost = QHostAddress(QHostAddress::LocalHost);
        if (webHost.isNull()) {
            journal.warning("http: " + address->host + " is not an address of this machine");
            return 2;
        }
        WebSettings page;
        page.version = PANEL_VERSION;
        page.line = device;
        page.loopbackOnly = webHost.isLoopback();
        if (!settings.httpPinFile.empty()) {
            page.pin = firstLineOf(settings.httpPinFile, whyNot);
            if (!whyNot.empty() || page.pin.empty()) {
                journal.warning(
                    whyNot.empty() ? "the PIN file " + settings.httpPinFile + " is empty" : whyNot);
                return 2;
            }
            struct stat info { };
            if (stat(settings.httpPinFile.c_str(), &info) == 0 && (info.st_mode & 004))
                journal.say(4, "the PIN file " + settings.httpPinFile + " is readable by every user");
        }
        // Anyone on the room's network could drive the projector.
        if (!page.loopbackOnly && page.pin.empty() && !settings.httpWithoutPin) {
            journal.warning("http on " + address->host
                + " reaches the network: give a PIN (http-pin-file) or say http-without-pin = yes");
            return 2;
        }
        webPage = page;
    }
    DeviceMap devices;
    devices.setDevice(1, device);
    QtSerialControl line(devices);
    line.setNamesWithoutPortNumber();
    QtTimer watch("shareWatch", 500), quiet("shareQuiet", SharedLine::kPanelQuietMs),
        lease("shareLease", 1000), lineWait("shareLineWait", 1000);
    QtTimer reopen("reopenTimer", 1000), settle("settleTimer", 3000), display("displayTimer", 1000);
    SharedLine shared(line, watch, quiet, lease, lineWait);
    QtTimer pollTimer("pollTimer", Poller::kPowerEveryMs);
    LiveOwner live(shared, pollTimer);
    LineKeeper keeper(shared, journal, journal, reopen, settle, display);
    settle.setOnTick([&] { keeper.settleTimer_Timer(); });
    display.setOnTick([&] { display.setEnabled(false); });

    OwnerService service(shared, lineName(device),
        "qv550d (process " + std::to_string(QCoreApplication::applicationPid()) + ")");
    service.setLiveState(&live.state, &live.poller);
    QtTimer sceneNext("sceneNext", 1), sceneAsk("sceneAsk", SceneRunner::kConfirmMs),
        sceneDeadline("sceneDeadline", 1000);
    SceneRunner scenes(service, live.state, sceneNext, sceneAsk, sceneDeadline, LiveOwner::steadyMs);
    SceneService sceneService(service, scenes);
    if (sceneBook) {
        journal.info(std::to_string(sceneBook->scenes.size()) + " scenes from " + settings.scenes);
        scenes.setBook(std::move(*sceneBook));
    }
    // Which scene runs, each step as it ends, and how it ended.
    scenes.listen([&journal](const QJsonObject &event) {
        const bool failed = event.value(field::kEnd) == QStringLiteral("failed");
        journal.say(failed ? 4 : 6, "scene " + sceneEventText(event));
    });
    OwnerServer server(service);
    // As a system service, the socket is in the unit's runtime folder, for
    // its group (those who may use the port themselves); otherwise this user's.
    std::string socket;
    bool ready = false;
    if (const char *runtime = std::getenv("RUNTIME_DIRECTORY"); runtime && *runtime == '/') {
        const std::string folder = std::string(runtime).substr(0, std::string(runtime).find(':'));
        socket = folder + "/" + lineName(device) + ".sock";
        server.setGroupAccess(true);
        ready = checkServiceFolder(folder, whyNot) && server.listen(socket, whyNot);
    } else {
        socket = ownerSocketPath(device);
        ready = prepareOwnerFolder(whyNot) && server.listen(socket, whyNot);
    }
    if (!ready) {
        journal.warning("cannot serve " + device + ": " + whyNot);
        return 1;
    }
    journal.info("serving " + device + " on " + socket);
    // Clients given the device the line leads to find it by that name too;
    // it is named again each time the line comes up, for a device that came
    // late or came back under another node.
    bool lineWasUp = false;
    const auto followTheDevice = [&] {
        if (keeper.lineUp() && !lineWasUp)
            server.followDevice(device);
        else if (!keeper.lineUp() && lineWasUp)
            server.forgetDevice();
        lineWasUp = keeper.lineUp();
    };
    // What arrives outside any transaction has no panel to go to.
    shared.setOnComm([&] {
        if (!keeper.onComm(shared.commEvent()))
            (void)shared.input();
        followTheDevice();
    });
    reopen.setOnTick([&] {
        keeper.reopenTimer_Timer();
        followTheDevice();
    });

    std::unique_ptr<MosquittoLink> mqtt;
    QtTimer mqttRefresh("mqttRefresh", MqttBridge::kRefreshMs);
    std::unique_ptr<MqttBridge> bridge;
    if (!settings.mqtt.empty()) {
        const auto address = parseMqttAddress(settings.mqtt, whyNot);
        MqttSettings link;
        link.host = address->host;
        link.port = address->port;
        link.tls = address->tls;
        link.caFile = settings.mqttCa;
        link.user = settings.mqttUser;
        if (!settings.mqttPasswordFile.empty()) {
            link.password = firstLineOf(settings.mqttPasswordFile, whyNot);
            if (!whyNot.empty()) {
                journal.warning(whyNot);
                return 2;
            }
            struct stat info { };
            if (stat(settings.mqttPasswordFile.c_str(), &info) == 0 && (info.st_mode & 004))
                journal.say(
                    4, "the password file " + settings.mqttPasswordFile + " is readable by every user");
        }
        // Two rooms left on the default name must not meet on a central
        // broker: the host's name goes into it with the line's.
        char host[256] = {};
        gethostname(host, sizeof host - 1);
        const auto say
            = [&journal](int priority, const std::string &text) { journal.say(priority, "MQTT: " + text); };
        BridgeSettings bridgeSettings;
        bridgeSettings.name
            = settings.name.empty() ? std::string(host) + "-" + lineName(device) : settings.name;
        bridgeSettings.discoveryPrefix = settings.discoveryPrefix;
        bridgeSettings.limits = settings.limits;
        mqttCommandsFrom(settings.mqttCommands, bridgeSettings.commands);
        bridgeSettings.commandAgeMs = settings.mqttCommandAgeS * 1000;
        bridgeSettings.bridgeTopic = settings.mqttBridgeTopic;
        // One client id a process: a second qv550d with the same name
        // no longer knocks the first off the broker (and is told instead).
        const std::string pid = std::to_string(QCoreApplication::applicationPid());
        bridgeSettings.clientId = "qv550d-" + topicSegment(bridgeSettings.name) + "-" + host + "-" + pid;
        bridgeSettings.owner = std::string("qv550d on ") + host + ", process " + pid + ", line " + device;
        bridgeSettings.log = say;
        link.clientId = bridgeSettings.clientId;
        link.willTopic = "qv550/" + topicSegment(bridgeSettings.name) + "/availability";
        link.willPayload = "offline";
        mqtt = std::make_unique<MosquittoLink>(link, say);
        for (const Scene &scene : scenes.book().scenes)
            bridgeSettings.scenes.push_back(scene.name);
        bridge = std::make_unique<MqttBridge>(*mqtt, service, live.state, mqttRefresh, bridgeSettings);
        journal.info("publishing on " + bridge->base() + "/ at " + settings.mqtt);
        mqtt->start();
    }

    std::unique_ptr<PjlinkServer> pjlink;
    if (!settings.pjlink.empty()) {
        auto where = parsePjlinkListen(settings.pjlink, whyNot);
        if (!where)
            whyNot = "pjlink: " + whyNot;
        PjlinkSettings face;
        face.name = settings.name.empty() ? lineName(device) : settings.name;
        face.limits = settings.limits;
        std::optional<std::vector<PjlinkInput>> inputs = face.inputs;
        if (where && !settings.pjlinkInputs.empty())
            inputs = parsePjlinkInputs(settings.pjlinkInputs, whyNot);
        if (!where || !inputs) {
            journal.warning(whyNot);
            return 2;
        }
        face.inputs = *inputs;
        std::string password;
        if (!settings.pjlinkPasswordFile.empty()) {
            password = firstLineOf(settings.pjlinkPasswordFile, whyNot);
            if (whyNot.empty() && password.empty())
                whyNot
                    = "the PJLink password file " + settings.pjlinkPasswordFile + " has an empty first line";
            if (!whyNot.empty()) {
                journal.warning(whyNot);
                return 2;
            }
            struct stat info { };
            if (stat(settings.pjlinkPasswordFile.c_str(), &info) == 0 && (info.st_mode & 004))
                journal.say(
                    4, "the password file " + settings.pjlinkPasswordFile + " is readable by every user");
        }
        // PJLink's MD5 handshake keeps out the careless, not an attacker:
        // anyone on the network may turn the projector off without it.
        if (password.empty() && !QHostAddress(QString::fromStdString(where->address)).isLoopback()
            && !settings.pjlinkAllowNoPassword) {
            journal.warning("PJLink on " + where->address
                + " without a password is refused: give pjlink-password-file, or say "
                  "pjlink-allow-no-password = yes in the config file for a closed AV network");
            return 2;
        }
        pjlink = std::make_unique<PjlinkServer>(
            service, live.state, face, password, [&journal](const std::string &text) { journal.info(text); });
        if (!pjlink->listen(*where, whyNot)) {
            journal.warning(whyNot);
            return 1;
        }
        journal.info("PJLink on " + where->address + ":" + std::to_string(pjlink->port())
            + (password.empty() ? " without a password" : " with a password"));
    }
    std::unique_ptr<PjlinkSearch> search;
    if (!settings.pjlinkSearch.empty()) {
        const auto where = parsePjlinkListen(settings.pjlinkSearch, whyNot);
        if (!where) {
            journal.warning("pjlink-search: " + whyNot);
            return 2;
        }
        search = std::make_unique<PjlinkSearch>();
        if (!search->listen(*where, whyNot)) {
            journal.warning(whyNot);
            return 1;
        }
        journal.info("PJLink search on UDP " + where->address + ":" + std::to_string(search->port()));
    }

    std::unique_ptr<WebFace> web;
    std::unique_ptr<WebServer> webServer;
    if (webPage) {
        web = std::make_unique<WebFace>(
            service, live.state, &LiveOwner::steadyMs,
            [](int interval) -> std::unique_ptr<Timer> {
                return std::make_unique<QtTimer>("webHold", interval);
            },
            *webPage);
        webServer = std::make_unique<WebServer>(*web);
        if (!webServer->listen(webHost, static_cast<quint16>(webPort), whyNot)) {
            journal.warning("http: " + whyNot);
            return 1;
        }
        const std::string shown = webHost.protocol() == QAbstractSocket::IPv6Protocol
            ? "[" + webHost.toString().toStdString() + "]"
            : webHost.toString().toStdString();
        journal.info("the touch page on http://" + shown + ":" + std::to_string(webServer->port()) + "/"
            + (webPage->pin.empty() ? " (no PIN)" : ""));
    }

    shared.setCommPort(1);
    shared.setSettings(settings.speed + ",N,8,1");
    try {
        shared.setPortOpen(true);
        keeper.opened();
    } catch (const ControlError &error) {
        journal.warning(keeper.startupFailed(error.description()));
    }
    followTheDevice();
    if (settings.poll)
        live.poller.start();
    // Ended by the service manager or Ctrl+C: "offline" is said, the line and
    // the socket are closed by the objects going away, and the end is a normal one.
    bool ending = false;
    onSignals(app, {SIGTERM, SIGINT}, [&](int) {
        if (std::exchange(ending, true))
            return;
        journal.info("stopping");
        if (bridge) {
            bridge->goingAway();
            mqtt->finish(1000);
        }
        QCoreApplication::exit(0);
    });
    // A reload keeps the broker's retained "online": the new run says it
    // again within a second, and nothing was offline for a watcher to act on.
    onSignals(app, {SIGHUP}, [&](int) {
        if (ending)
            return;
        ServiceConfig fresh;
        std::string whyNot;
        // The password is read now too: a new run that could not read it
        // would end, where the running one can go on.
        if (readSettings(fresh, whyNot) && !fresh.mqttPasswordFile.empty())
            (void)firstLineOf(fresh.mqttPasswordFile, whyNot);
        // So are the faces' settings and the scenes, for the same reason.
        if (whyNot.empty() && !fresh.pjlinkPasswordFile.empty())
            (void)firstLineOf(fresh.pjlinkPasswordFile, whyNot);
        if (whyNot.empty() && !fresh.pjlink.empty() && !parsePjlinkListen(fresh.pjlink, whyNot))
            whyNot = "pjlink: " + whyNot;
        if (whyNot.empty() && !fresh.pjlinkInputs.empty() && !parsePjlinkInputs(fresh.pjlinkInputs, whyNot))
            whyNot = "pjlink-inputs: " + whyNot;
        if (whyNot.empty() && !fresh.httpPinFile.empty())
            (void)firstLineOf(fresh.httpPinFile, whyNot);
        if (whyNot.empty() && !fresh.http.empty() && !parseHttpAddress(fresh.http, whyNot))
            whyNot = "http: " + whyNot;
        if (whyNot.empty() && !fresh.scenes.empty())
            (void)readSceneFile(fresh.scenes, whyNot);
        if (!whyNot.empty()) {
            journal.warning("not reloaded, the running settings are kept: " + whyNot);
            return;
        }
        journal.info("reloading");
        server.stop();
        line.setPortOpen(false);
        if (bridge) {
            // Topics the new run may not publish on again are left saying
            // "offline", not a stale "online".
            if (fresh.name != settings.name || fresh.port != settings.port || fresh.mqtt != settings.mqtt)
                bridge->goingAway();
            mqtt->finish(1000);
        }
        runAgain(arguments);
        journal.warning(std::string("cannot run qv550d again to reload: ") + std::strerror(errno));
        QCoreApplication::exit(1);
    });
    return QCoreApplication::exec();
}
