// SPDX-License-Identifier: GPL-3.0-or-later
// qv550d: holds a projector's line that should stay open when no window is,
// serves it to every other program of ours, one transaction at a time,
// keeps the projector's live state (asking it within a small budget unless
// told not to), and with --mqtt speaks to a broker for Home Assistant and
// building systems. It opens the line again when it comes back, as the panel
// does, and says what happens on standard error, where systemd's journal
// takes it. SIGTERM and SIGINT close the line, say "offline" on MQTT, remove
// the lock and the socket, and end it with status 0. Qt Core, Network and
// Serial Port only: no window, no display.

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QFile>

#include <cstdlib>
#include <iostream>
#include <memory>
#include <optional>
#include <sys/stat.h>
#include <unistd.h>

#include "app/quit_on_signals.h"
#include "mqtt/mosquitto_link.h"
#include "mqtt/mqtt_bridge.h"
#include "owner/service_config.h"
#include "owner/journal.h"
#include "owner/live_owner.h"
#include "owner/owner_server.h"
#include "owner/owner_service.h"
#include "owner/shared_line.h"
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

} // namespace

int main(int argc, char *argv[])
{
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

    ServiceConfig settings;
    std::string whyNot;
    if (parser.isSet(config)) {
        QFile file(parser.value(config));
        if (!file.open(QIODevice::ReadOnly)) {
            std::cerr << "qv550d: cannot read " << parser.value(config).toStdString() << ": "
                      << file.errorString().toStdString() << '\n';
            return 2;
        }
        if (!readServiceConfig(file.readAll().toStdString(), settings, whyNot)) {
            std::cerr << "qv550d: " << parser.value(config).toStdString() << ": " << whyNot << '\n';
            return 2;
        }
    }
    for (std::size_t i = 0; i < options.size(); ++i) {
        if (parser.isSet(options[i])
            && !applySetting(settings, kOptions[i].key, parser.value(options[i]).toStdString(), whyNot)) {
            std::cerr << "qv550d: " << whyNot << '\n';
            return 2;
        }
    }
    if (parser.isSet(noPoll))
        settings.poll = false;
    const std::string device = settings.port;
    if (device.empty()) {
        std::cerr << "qv550d: give the line with --port DEVICE (or port = DEVICE in the config file)\n";
        return 2;
    }
    if (const std::string malformed = malformedNetworkName(device); !malformed.empty()) {
        std::cerr << "qv550d: " << malformed << '\n';
        return 2;
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
        lease("shareLease", 1000);
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
        bridge = std::make_unique<MqttBridge>(*mqtt, service, live.state, mqttRefresh, bridgeSettings);
        journal.info("publishing on " + bridge->base() + "/ at " + settings.mqtt);
        mqtt->start();
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
    if (settings.poll)
        live.poller.start();
    // Ended by the service manager or Ctrl+C: "offline" is said, the line and
    // the socket are closed by the objects going away, and the end is a normal one.
    quitOnSignals(app, [&](int) {
        journal.info("stopping");
        if (bridge) {
            bridge->goingAway();
            mqtt->finish(1000);
        }
        QCoreApplication::exit(0);
    });
    return QCoreApplication::exec();
}
