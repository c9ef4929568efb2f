// SPDX-License-Identifier: GPL-3.0-or-later
// A face's settings are checked before it is made, and a face that cannot
// start ends qv550d at start rather than leave a room believing it is there.

#include "app/daemon.h"

#include <QCoreApplication>
#include <QFile>

#include <cstdlib>
#include <sys/stat.h>
#include <unistd.h>
#include <utility>

#include "protocol/owner_protocol.h"
#include "serial/owner_socket.h"

namespace {

// A file of secrets others may read is told, not refused: the service
// still runs, and the journal says what to fix.
void warnIfEveryoneReads(Journal &journal, const std::string &what, const std::string &path)
{
    struct stat info { };
    if (stat(path.c_str(), &info) == 0 && (info.st_mode & 004))
        journal.say(4, what + " " + path + " is readable by every user");
}

DeviceMap oneLine(const std::string &device)
{
    DeviceMap devices;
    devices.setDevice(1, device);
    return devices;
}

std::string processId()
{
    return std::to_string(QCoreApplication::applicationPid());
}

} // namespace

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

bool planWebPage(const ServiceConfig &settings, Journal &journal, std::optional<WebPagePlan> &plan)
{
    if (settings.http.empty())
        return true;
    std::string whyNot;
    // Checked when the settings were read.
    const auto address = parseHttpAddress(settings.http, whyNot);
    WebPagePlan web;
    web.host = QHostAddress(QString::fromStdString(address->host));
    web.port = address->port;
    if (address->host == "localhost")
        web.host = QHostAddress(QHostAddress::LocalHost);
    if (web.host.isNull()) {
        journal.warning("http: " + address->host + " is not an address of this machine");
        return false;
    }
    web.page.version = PANEL_VERSION;
    web.page.line = settings.port;
    web.page.loopbackOnly = web.host.isLoopback();
    if (!settings.httpPinFile.empty()) {
        web.page.pin = firstLineOf(settings.httpPinFile, whyNot);
        if (!whyNot.empty() || web.page.pin.empty()) {
            journal.warning(whyNot.empty() ? "the PIN file " + settings.httpPinFile + " is empty" : whyNot);
            return false;
        }
        warnIfEveryoneReads(journal, "the PIN file", settings.httpPinFile);
    }
    // Anyone on the room's network could drive the projector.
    if (!web.page.loopbackOnly && web.page.pin.empty() && !settings.httpWithoutPin) {
        journal.warning("http on " + address->host
            + " reaches the network: give a PIN (http-pin-file) or say http-without-pin = yes");
        return false;
    }
    plan = web;
    return true;
}

Daemon::Daemon(const ServiceConfig &settings, Journal &journal, std::optional<SceneBook> sceneBook)
    : settings_(settings), device_(settings.port), journal_(journal), line_(oneLine(device_)),
      watch_("shareWatch", 500), quiet_("shareQuiet", SharedLine::kPanelQuietMs), lease_("shareLease", 1000),
      lineWait_("shareLineWait", 1000), reopen_("reopenTimer", 1000), settle_("settleTimer", 3000),
      shared_(line_, watch_, quiet_, lease_, lineWait_), pollTimer_("pollTimer", Poller::kPowerEveryMs),
      live_(shared_, pollTimer_), keeper_(shared_, journal, reopen_, settle_),
      service_(shared_, lineName(device_), "qv550d (process " + processId() + ")"),
      sceneNext_("sceneNext", 1), sceneAsk_("sceneAsk", SceneRunner::kConfirmMs),
      sceneDeadline_("sceneDeadline", 1000),
      scenes_(service_, live_.state, sceneNext_, sceneAsk_, sceneDeadline_, LiveOwner::steadyMs),
      sceneService_(service_, scenes_), server_(service_), mqttRefresh_("mqttRefresh", MqttBridge::kRefreshMs)
{
    line_.setNamesWithoutPortNumber();
    settle_.setOnTick([this] { keeper_.settleTimer_Timer(); });
    service_.setLiveState(&live_.state, &live_.poller);
    if (sceneBook) {
        journal_.info(std::to_string(sceneBook->scenes.size()) + " scenes from " + settings_.scenes);
        scenes_.setBook(std::move(*sceneBook));
    }
    // Which scene runs, each step as it ends, and how it ended.
    scenes_.listen([this](const QJsonObject &event) {
        const bool failed = event.value(field::kEnd) == QStringLiteral("failed");
        journal_.say(failed ? 4 : 6, "scene " + sceneEventText(event));
    });
    // What arrives outside any transaction has no panel to go to.
    shared_.setOnComm([this] {
        if (!keeper_.onComm(shared_.commEvent()))
            (void)shared_.input();
        followTheDevice();
    });
    reopen_.setOnTick([this] {
        keeper_.reopenTimer_Timer();
        followTheDevice();
    });
}

// Clients given the device the line leads to find it by that name too; it
// is named again each time the line comes up, for a device that came late
// or came back under another node.
void Daemon::followTheDevice()
{
    if (keeper_.lineUp() && !lineWasUp_)
        server_.followDevice(device_);
    else if (!keeper_.lineUp() && lineWasUp_)
        server_.forgetDevice();
    lineWasUp_ = keeper_.lineUp();
}

int Daemon::serveSocket()
{
    // As a system service, the socket is in the unit's runtime folder, for
    // its group (those who may use the port themselves); otherwise this user's.
    std::string socket;
    std::string whyNot;
    bool ready = false;
    if (const char *runtime = std::getenv("RUNTIME_DIRECTORY"); runtime && *runtime == '/') {
        const std::string folder = std::string(runtime).substr(0, std::string(runtime).find(':'));
        socket = folder + "/" + lineName(device_) + ".sock";
        server_.setGroupAccess(true);
        ready = checkServiceFolder(folder, whyNot) && server_.listen(socket, whyNot);
    } else {
        socket = ownerSocketPath(device_);
        ready = prepareOwnerFolder(whyNot) && server_.listen(socket, whyNot);
    }
    if (!ready) {
        journal_.warning("cannot serve " + device_ + ": " + whyNot);
        return kCannotServe;
    }
    journal_.info("serving " + device_ + " on " + socket);
    return 0;
}

int Daemon::startMqtt()
{
    if (settings_.mqtt.empty())
        return 0;
    std::string whyNot;
    // Checked when the settings were read.
    const auto address = parseMqttAddress(settings_.mqtt, whyNot);
    MqttSettings link;
    link.host = address->host;
    link.port = address->port;
    link.tls = address->tls;
    link.caFile = settings_.mqttCa;
    link.user = settings_.mqttUser;
    if (!settings_.mqttPasswordFile.empty()) {
        link.password = firstLineOf(settings_.mqttPasswordFile, whyNot);
        if (!whyNot.empty()) {
            journal_.warning(whyNot);
            return kBadSettings;
        }
        warnIfEveryoneReads(journal_, "the password file", settings_.mqttPasswordFile);
    }
    // Two rooms left on the default name must not meet on a central
    // broker: the host's name goes into it with the line's.
    char host[256] = {};
    gethostname(host, sizeof host - 1);
    const auto say
        = [this](int priority, const std::string &text) { journal_.say(priority, "MQTT: " + text); };
    BridgeSettings bridge;
    bridge.name = settings_.name.empty() ? std::string(host) + "-" + lineName(device_) : settings_.name;
    bridge.discoveryPrefix = settings_.discoveryPrefix;
    bridge.limits = settings_.limits;
    mqttCommandsFrom(settings_.mqttCommands, bridge.commands);
    bridge.commandAgeMs = settings_.mqttCommandAgeS * 1000;
    bridge.bridgeTopic = settings_.mqttBridgeTopic;
    // One client id a process: a second qv550d with the same name no
    // longer knocks the first off the broker (and is told instead).
    bridge.clientId = "qv550d-" + topicSegment(bridge.name) + "-" + host + "-" + processId();
    bridge.owner = std::string("qv550d on ") + host + ", process " + processId() + ", line " + device_;
    bridge.log = say;
    link.clientId = bridge.clientId;
    link.willTopic = "qv550/" + topicSegment(bridge.name) + "/availability";
    link.willPayload = "offline";
    mqtt_ = std::make_unique<MosquittoLink>(link, say);
    for (const Scene &scene : scenes_.book().scenes)
        bridge.scenes.push_back(scene.name);
    bridge_ = std::make_unique<MqttBridge>(*mqtt_, service_, live_.state, mqttRefresh_, bridge);
    journal_.info("publishing on " + bridge_->base() + "/ at " + settings_.mqtt);
    mqtt_->start();
    return 0;
}

int Daemon::startPjlink()
{
    if (settings_.pjlink.empty())
        return 0;
    std::string whyNot;
    auto where = parsePjlinkListen(settings_.pjlink, whyNot);
    if (!where)
        whyNot = "pjlink: " + whyNot;
    PjlinkSettings face;
    face.name = settings_.name.empty() ? lineName(device_) : settings_.name;
    face.limits = settings_.limits;
    std::optional<std::vector<PjlinkInput>> inputs = face.inputs;
    if (where && !settings_.pjlinkInputs.empty())
        inputs = parsePjlinkInputs(settings_.pjlinkInputs, whyNot);
    if (!where || !inputs) {
        journal_.warning(whyNot);
        return kBadSettings;
    }
    face.inputs = *inputs;
    std::string password;
    if (!settings_.pjlinkPasswordFile.empty()) {
        password = firstLineOf(settings_.pjlinkPasswordFile, whyNot);
        if (whyNot.empty() && password.empty())
            whyNot = "the PJLink password file " + settings_.pjlinkPasswordFile + " has an empty first line";
        if (!whyNot.empty()) {
            journal_.warning(whyNot);
            return kBadSettings;
        }
        warnIfEveryoneReads(journal_, "the password file", settings_.pjlinkPasswordFile);
    }
    // PJLink's MD5 handshake keeps out the careless, not an attacker:
    // anyone on the network may turn the projector off without it.
    if (password.empty() && !QHostAddress(QString::fromStdString(where->address)).isLoopback()
        && !settings_.pjlinkAllowNoPassword) {
        journal_.warning("PJLink on " + where->address
            + " without a password is refused: give pjlink-password-file, or say "
              "pjlink-allow-no-password = yes in the config file for a closed AV network");
        return kBadSettings;
    }
    pjlink_ = std::make_unique<PjlinkServer>(
        service_, live_.state, face, password, [this](const std::string &text) { journal_.info(text); });
    if (!pjlink_->listen(*where, whyNot)) {
        journal_.warning(whyNot);
        return kCannotServe;
    }
    journal_.info("PJLink on " + where->address + ":" + std::to_string(pjlink_->port())
        + (password.empty() ? " without a password" : " with a password"));
    return 0;
}

int Daemon::startPjlinkSearch()
{
    if (settings_.pjlinkSearch.empty())
        return 0;
    std::string whyNot;
    const auto where = parsePjlinkListen(settings_.pjlinkSearch, whyNot);
    if (!where) {
        journal_.warning("pjlink-search: " + whyNot);
        return kBadSettings;
    }
    search_ = std::make_unique<PjlinkSearch>();
    if (!search_->listen(*where, whyNot)) {
        journal_.warning(whyNot);
        return kCannotServe;
    }
    journal_.info("PJLink search on UDP " + where->address + ":" + std::to_string(search_->port()));
    return 0;
}

int Daemon::startWebPage(const std::optional<WebPagePlan> &plan)
{
    if (!plan)
        return 0;
    web_ = std::make_unique<WebFace>(
        service_, live_.state, &LiveOwner::steadyMs,
        [](int interval) -> std::unique_ptr<Timer> { return std::make_unique<QtTimer>("webHold", interval); },
        plan->page);
    webServer_ = std::make_unique<WebServer>(*web_);
    std::string whyNot;
    if (!webServer_->listen(plan->host, static_cast<quint16>(plan->port), whyNot)) {
        journal_.warning("http: " + whyNot);
        return kCannotServe;
    }
    const std::string shown = plan->host.protocol() == QAbstractSocket::IPv6Protocol
        ? "[" + plan->host.toString().toStdString() + "]"
        : plan->host.toString().toStdString();
    journal_.info("the touch page on http://" + shown + ":" + std::to_string(webServer_->port()) + "/"
        + (plan->page.pin.empty() ? " (no PIN)" : ""));
    return 0;
}

void Daemon::openLine()
{
    shared_.setCommPort(1);
    shared_.setSettings(settings_.speed + ",N,8,1");
    try {
        shared_.setPortOpen(true);
        keeper_.opened();
    } catch (const ControlError &error) {
        keeper_.startupFailed(error.failure());
    }
    followTheDevice();
    if (settings_.poll)
        live_.poller.start();
}

void Daemon::stop()
{
    if (bridge_) {
        bridge_->goingAway();
        mqtt_->finish(1000);
    }
}

void Daemon::closeForReload(const ServiceConfig &fresh)
{
    server_.stop();
    line_.setPortOpen(false);
    if (bridge_) {
        // Topics the new run may not publish on again are left saying
        // "offline", not a stale "online".
        if (fresh.name != settings_.name || fresh.port != settings_.port || fresh.mqtt != settings_.mqtt)
            bridge_->goingAway();
        mqtt_->finish(1000);
    }
}
