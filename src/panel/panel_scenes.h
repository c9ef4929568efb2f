// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// Scenes run by a panel that owns its line: the person at the panel comes
// first, so a press there (a line the panel writes that is not a query)
// stops the running scene at once, before the press meets the scene's
// lease; and the status line says which scene runs, its step, and how it
// ended, in short texts that begin with a blank as the panel's others do.

#include <QJsonObject>

#include <functional>
#include <string>
#include <string_view>

class SceneRunner;
class SharedLine;

class PanelScenes {
public:
    // `show`: puts a text on the status line.
    PanelScenes(SharedLine &shared, SceneRunner &runner, std::function<void(const std::string &)> show);
    PanelScenes(const PanelScenes &) = delete;
    PanelScenes &operator=(const PanelScenes &) = delete;

    // What the status line says of the scenes now: the running one's step,
    // or how the last one ended; empty before any scene.
    const std::string &status() const { return status_; }

private:
    void heard(const QJsonObject &event);

    SceneRunner &runner_;
    std::function<void(const std::string &)> show_;
    std::string status_;
};
