// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// qv550d assembled: the line and its keeper, the owner's service with its
// live state and scenes, the socket, and each face the settings ask for
// (MQTT, PJLink and its search, the touch page). Each face is started by a
// function of its own that checks its settings first, says on the journal
// what it does, and answers the status to end with if it cannot start. The
// members are in the order they are made, so they go away in reverse: the
// faces before the owner, the owner before the line.

#include <QHostAddress>

#include <memory>
#include <optional>
#include <string>

#include "mqtt/mosquitto_link.h"
#include "mqtt/mqtt_bridge.h"
#include "owner/journal.h"
#include "owner/live_owner.h"
#include "owner/owner_server.h"
#include "owner/owner_service.h"
#include "owner/scene_book.h"
#include "owner/scene_runner.h"
#include "owner/scene_service.h"
#include "owner/service_config.h"
#include "owner/shared_line.h"
#include "pjlink/pjlink_search.h"
#include "pjlink/pjlink_server.h"
#include "serial/device_map.h"
#include "serial/line_keeper.h"
#include "serial/qt_serial_control.h"
#include "timers/qt_timer.h"
#include "web/web_face.h"
#include "web/web_server.h"

// The touch page's settings, checked before the line is taken.
struct WebPagePlan {
    WebSettings page;
    QHostAddress host;
    int port = 0;
};

// The first line of a file of secrets; empty, with the reason, if it cannot be read.
std::string firstLineOf(const std::string &path, std::string &whyNot);

// The page `settings` ask for, or none; false (told on `journal`) if they
// cannot be served.
bool planWebPage(const ServiceConfig &settings, Journal &journal, std::optional<WebPagePlan> &plan);

class Daemon {
public:
    // Statuses to end with: a face that cannot listen, a face's bad settings.
    static constexpr int kCannotServe = 1;
    static constexpr int kBadSettings = 2;

    Daemon(const ServiceConfig &settings, Journal &journal, std::optional<SceneBook> sceneBook);

    // Each is 0 when it is up (or not asked for), else the status to end with.
    int serveSocket();
    int startMqtt();
    int startPjlink();
    int startPjlinkSearch();
    int startWebPage(const std::optional<WebPagePlan> &plan);

    // Opens the line (a line that cannot be opened yet is waited for) and
    // starts asking the projector unless told not to.
    void openLine();
    // Ended: "offline" is said on MQTT; the rest goes with the objects.
    void stop();
    // Before running anew for a reload: the socket and the line closed, and
    // MQTT told "offline" on topics the `fresh` settings will not publish on.
    void closeForReload(const ServiceConfig &fresh);

private:
    // Names the device to clients while the line is up.
    void followTheDevice();

    ServiceConfig settings_;
    std::string device_;
    Journal &journal_;
    // The line.
    QtSerialControl line_;
    QtTimer watch_, quiet_, lease_, lineWait_;
    QtTimer reopen_, settle_;
    SharedLine shared_;
    QtTimer pollTimer_;
    LiveOwner live_;
    LineKeeper keeper_;
    // The owner and its scenes.
    OwnerService service_;
    QtTimer sceneNext_, sceneAsk_, sceneDeadline_;
    SceneRunner scenes_;
    SceneService sceneService_;
    OwnerServer server_;
    bool lineWasUp_ = false;
    // The faces.
    std::unique_ptr<MosquittoLink> mqtt_;
    QtTimer mqttRefresh_;
    std::unique_ptr<MqttBridge> bridge_;
    std::unique_ptr<PjlinkServer> pjlink_;
    std::unique_ptr<PjlinkSearch> search_;
    std::unique_ptr<WebFace> web_;
    std::unique_ptr<WebServer> webServer_;
};
