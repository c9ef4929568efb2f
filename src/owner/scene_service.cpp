// SPDX-License-Identifier: GPL-3.0-or-later
// A scene outlives the request that started it: the asker that goes away
// stops hearing of it, and the scene goes on, as the owner's work.

#include "owner/scene_service.h"

#include <algorithm>

#include "owner/owner_service.h"
#include "owner/scene_book.h"
#include "owner/scene_runner.h"
#include "protocol/owner_protocol.h"

namespace {

// The panel's process name, as the owner's server names its clients.
constexpr const char *kPanelProgram = "qv550-control ";

} // namespace

SceneService::SceneService(OwnerService &service, SceneRunner &runner) : service_(service), runner_(runner)
{
    service_.setSceneRequests(
        [this](int client, const QJsonObject &request, std::function<void(const QJsonObject &)> answer) {
            handle(client, request, std::move(answer));
        });
    // A press at the panel, when the panel is a client here, stops the scene
    // at once: the person in the room comes first. Its queries (the panel's
    // own reading of the state) are no press.
    service_.onClientSends = [this](int client, const std::string &line) {
        const std::string name = service_.clientName(client);
        if (runner_.running() && name.rfind(kPanelProgram, 0) == 0 && isPanelPress(line))
            runner_.stop("a press at the panel (" + name + ")");
    };
    runner_.listen([this](const QJsonObject &event) {
        const int run = event.value(field::kRun).toInt();
        const auto found = followers_.find(run);
        if (found == followers_.end())
            return;
        QJsonObject told = event;
        told[field::kId] = found->second.id;
        const auto answer = found->second.answer;
        if (event.contains(field::kEnd))
            followers_.erase(found);
        answer(told);
    });
}

void SceneService::handle(
    int client, const QJsonObject &request, std::function<void(const QJsonObject &)> answer)
{
    const QJsonValue id = request.value(field::kId);
    QJsonObject reply;
    reply[field::kId] = id;
    const auto error = [&](const std::string &why) {
        reply[field::kError] = QString::fromStdString(why);
        answer(reply);
    };
    if (request.contains(field::kScenes)) {
        reply[field::kScenes] = sceneList(runner_.book());
        reply[field::kFile] = QString::fromStdString(runner_.book().file);
        reply[field::kRunning]
            = runner_.running() ? QJsonValue(QString::fromStdString(runner_.runningScene())) : QJsonValue();
        return answer(reply);
    }
    if (request.contains(field::kSceneCancel)) {
        if (!runner_.running())
            return error("no scene is running");
        reply[field::kCancelled] = QString::fromStdString(runner_.runningScene());
        runner_.stop("cancelled by " + service_.clientName(client));
        return answer(reply);
    }
    const QJsonValue name = request.value(field::kScene);
    if (!name.isString())
        return error("scene takes a scene's name");
    // Heard first, so that the start and every step reach the asker in
    // order: the start is the request's answer, each step an event with its id.
    const int run = runner_.nextRun();
    followers_[run] = Follower{id, answer};
    int started = 0;
    if (const auto refused
        = runner_.start(name.toString().toStdString(), service_.clientName(client), started)) {
        followers_.erase(run);
        return error(*refused);
    }
}

QJsonArray sceneList(const SceneBook &book)
{
    QJsonArray list;
    for (const Scene &scene : book.scenes) {
        QJsonObject entry;
        entry[field::kName] = QString::fromStdString(scene.name);
        QJsonArray steps;
        for (const SceneStep &step : scene.steps)
            steps.append(QString::fromStdString(step.describe()));
        entry[field::kSteps] = steps;
        list.append(entry);
    }
    return list;
}

std::string sceneEventText(const QJsonObject &event)
{
    const std::string scene = event.value(field::kScene).toString().toStdString();
    const auto text = [&event](QLatin1String key) { return event.value(key).toString().toStdString(); };
    if (event.contains(field::kStarted))
        return scene + ": started by " + text(field::kBy) + ", "
            + std::to_string(event.value(field::kSteps).toInt()) + " steps";
    if (event.contains(field::kEnd)) {
        const std::string why = text(field::kWhy);
        return scene + ": " + text(field::kEnd) + (why.empty() ? "" : ", " + why);
    }
    const auto tenths = static_cast<long long>(event.value(field::kElapsedMs).toDouble() / 100.0 + 0.5);
    const bool ok = event.value(field::kOk).toBool();
    const std::string detail = text(field::kDetail);
    return scene + " " + std::to_string(event.value(field::kStep).toInt()) + "/"
        + std::to_string(event.value(field::kSteps).toInt()) + " " + text(field::kDid) + ": "
        + (ok                                             ? "ok"
                : event.value(field::kContinued).toBool() ? "failed, going on"
                                                          : "failed")
        + (detail.empty() ? "" : ", " + detail) + " (" + std::to_string(tenths / 10) + "."
        + std::to_string(tenths % 10) + " s)";
}

bool isPanelPress(std::string_view line)
{
    // The address word, when there is one, comes first.
    const std::size_t code = line.rfind("A00", 0) == 0 ? 4 : line.rfind(kBroadcastPrefix, 0) == 0 ? 4 : 0;
    return line.substr(std::min(code, line.size()), 2) != "CR";
}
