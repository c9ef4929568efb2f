// SPDX-License-Identifier: GPL-3.0-or-later
// Through the owner the scene's events are read as they come, with no time
// limit of our own: every step has its own, and the owner ends the scene.

#include "cli/cli_scenes.h"

#include <QCoreApplication>
#include <QEventLoop>
#include <QJsonArray>
#include <QJsonObject>
#include <QLocalSocket>
#include <QTimer>

#include <iostream>
#include <optional>

#include "core/control_error.h"
#include "owner/live_owner.h"
#include "owner/owner_service.h"
#include "owner/scene_book.h"
#include "owner/scene_runner.h"
#include "owner/scene_service.h"
#include "owner/shared_line.h"
#include "protocol/json_lines.h"
#include "protocol/owner_protocol.h"
#include "serial/owner_socket.h"
#include "core/serial_control.h"
#include "timers/qt_timer.h"

namespace {

constexpr int kConnectWaitMs = 5000;

// A scene event as the user asked for it; the exit status once it ends.
std::optional<int> told(const CliRequest &request, const QJsonObject &event, std::ostream &out)
{
    if (event.contains(field::kStarted))
        return std::nullopt; // the first step's line says it began
    QJsonObject shown = event;
    shown.remove(field::kId);
    out << (request.json ? jsonText(shown) : sceneEventText(shown)) << std::endl;
    if (!event.contains(field::kEnd))
        return std::nullopt;
    return event.value(field::kEnd) == QJsonValue(word::kDone) ? 0 : 1;
}

void printList(const CliRequest &request, const QJsonArray &scenes, std::ostream &out)
{
    for (const QJsonValue &scene : scenes) {
        if (request.json) {
            out << jsonText(scene.toObject()) << '\n';
            continue;
        }
        out << scene[field::kName].toString().toStdString() << ':';
        std::string separator = " ";
        for (const QJsonValue &step : scene[field::kSteps].toArray()) {
            out << separator << step.toString().toStdString();
            separator = "; ";
        }
        out << '\n';
    }
}

// The scene through the owner at `socket`.
int throughOwner(const CliRequest &request, std::ostream &out, std::ostream &err, const std::string &socket)
{
    QLocalSocket owner;
    owner.connectToServer(QString::fromStdString(socket));
    if (!owner.waitForConnected(kConnectWaitMs)) {
        err << "qv550-cli: the line's owner at " << socket << " did not answer\n";
        return 3;
    }
    QJsonObject ask;
    ask[field::kId] = 1;
    if (request.verb == CliRequest::Scene)
        ask[field::kScene] = QString::fromStdString(request.argument);
    else if (request.verb == CliRequest::Scenes)
        ask[field::kScenes] = true;
    else
        ask[field::kSceneCancel] = true;
    owner.write(jsonLine(ask));
    owner.flush();
    // A scene's events are short; its list is as long as its file.
    JsonLineReader lines(std::size_t(1) << 24);
    for (;;) {
        if (!owner.waitForReadyRead(-1) && owner.state() != QLocalSocket::ConnectedState) {
            err << "qv550-cli: the line's owner went away"
                << (request.verb == CliRequest::Scene ? " during the scene\n" : "\n");
            return 3;
        }
        lines.append(owner.readAll());
        while (const auto line = lines.next()) {
            const QJsonObject reply = jsonObject(*line);
            if (reply.value(field::kId).toInt() != 1)
                continue;
            if (reply.contains(field::kError)) {
                err << "qv550-cli: " << reply.value(field::kError).toString().toStdString() << '\n';
                return request.verb == CliRequest::SceneCancel ? 1 : 2;
            }
            if (request.verb == CliRequest::Scenes) {
                printList(request, reply.value(field::kScenes).toArray(), out);
                return 0;
            }
            if (request.verb == CliRequest::SceneCancel) {
                out << "stopped " << reply.value(field::kCancelled).toString().toStdString() << '\n';
                return 0;
            }
            if (const auto status = told(request, reply, out))
                return *status;
        }
    }
}

// The scene here, on the port: this process is the line's owner meanwhile.
int onThePort(const CliRequest &request, const SceneBook &book, SerialControl &line, std::ostream &out,
    std::ostream &err)
{
    try {
        line.setCommPort(1);
        line.setSettings(request.settings);
        line.setPortOpen(true);
    } catch (const ControlError &error) {
        err << "qv550-cli: " << error.description() << '\n';
        return 3;
    }
    QEventLoop loop;
    QTimer patience;
    patience.setSingleShot(true);
    QObject::connect(&patience, &QTimer::timeout, &loop, &QEventLoop::quit);
    patience.start(kConnectWaitMs);
    while (!line.connected() && patience.isActive())
        loop.processEvents(QEventLoop::WaitForMoreEvents, 50);
    if (!line.connected()) {
        err << "qv550-cli: " << line.portLabel() << ": no answer within 5 s\n";
        line.setPortOpen(false);
        return 3;
    }
    QtTimer watch("shareWatch", 500), quiet("shareQuiet", SharedLine::kPanelQuietMs),
        lease("shareLease", 1000), lineWait("shareLineWait", 1000), pollTimer("pollTimer", 1000);
    SharedLine shared(line, watch, quiet, lease, lineWait);
    shared.setOnComm([&shared] { (void)shared.input(); });
    LiveOwner live(shared, pollTimer);
    OwnerService service(shared, line.portLabel(), "qv550-cli");
    service.setLiveState(&live.state, &live.poller);
    QtTimer next("sceneNext", 1), ask("sceneAsk", SceneRunner::kConfirmMs), deadline("sceneDeadline", 1000);
    SceneRunner runner(service, live.state, next, ask, deadline, LiveOwner::steadyMs);
    runner.setBook(book);
    std::optional<int> status;
    runner.listen([&](const QJsonObject &event) {
        if (!status)
            status = told(request, event, out);
        if (status)
            loop.quit();
    });
    int run = 0;
    if (const auto refused = runner.start(request.argument, "qv550-cli", run)) {
        err << "qv550-cli: " << *refused << '\n';
        line.setPortOpen(false);
        return 2;
    }
    while (!status)
        loop.exec();
    line.setPortOpen(false);
    return *status;
}

} // namespace

int runCliScenes(const CliRequest &request, SerialControl &line, std::ostream &out, std::ostream &err,
    const std::string &ownerSocket)
{
    if (!ownerSocket.empty() && ownerAnswers(ownerSocket))
        return throughOwner(request, out, err, ownerSocket);
    if (request.verb == CliRequest::SceneCancel) {
        err << "qv550-cli: no owner serves the line, so no scene runs on it\n";
        return 1;
    }
    if (request.scenesPath.empty()) {
        err << "qv550-cli: no owner serves the line; give a scene file with --scenes FILE to run "
            << (request.verb == CliRequest::Scene ? "the scene here\n" : "its scenes here\n");
        return 3;
    }
    std::string whyNot;
    const auto book = readSceneFile(request.scenesPath, whyNot);
    if (!book) {
        err << "qv550-cli: " << whyNot << '\n';
        return 2;
    }
    if (request.verb == CliRequest::Scenes) {
        printList(request, sceneList(*book), out);
        return 0;
    }
    if (!book->find(request.argument)) {
        err << "qv550-cli: no scene \"" << request.argument << "\" in " << request.scenesPath << '\n';
        return 2;
    }
    return onThePort(request, *book, line, out, err);
}
