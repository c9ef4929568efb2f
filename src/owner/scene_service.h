// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// The owner's scene requests on its socket: {"scene": NAME} starts a scene
// and the asker hears each of its steps as it ends, with the request's id;
// {"scenes": true} lists them; {"scene_cancel": true} stops the running one.
// Also how a scene's events read as text, for the journal and qv550-cli.

#include <QJsonArray>
#include <QJsonObject>
#include <QJsonValue>

#include <functional>
#include <map>
#include <string>
#include <string_view>

class OwnerService;
class SceneRunner;
struct SceneBook;

class SceneService {
public:
    SceneService(OwnerService &service, SceneRunner &runner);

private:
    struct Follower {
        QJsonValue id;
        std::function<void(const QJsonObject &)> answer;
    };
    void handle(int client, const QJsonObject &request, std::function<void(const QJsonObject &)> answer);

    OwnerService &service_;
    SceneRunner &runner_;
    std::map<int, Follower> followers_; // by run
};

// [{"name": "presentation", "steps": ["command power-on", ...]}, ...]
QJsonArray sceneList(const SceneBook &book);

// A scene event as one line: "2/4 wait status = Power ON: ok, status "Power ON"
// (3.2 s)", "presentation: done", "presentation: failed at step 2 (...)".
std::string sceneEventText(const QJsonObject &event);

// Whether a line the panel writes is a press rather than one of its queries
// ("CR0", "A001CR1"): queries read the projector and change nothing.
bool isPanelPress(std::string_view line);
