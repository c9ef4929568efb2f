// SPDX-License-Identifier: GPL-3.0-or-later
// The status line is one line under the buttons: a step is told by its
// number and what it does, an end by its outcome and why, nothing more.

#include "panel/panel_scenes.h"

#include "owner/scene_book.h"
#include "owner/scene_runner.h"
#include "owner/scene_service.h"
#include "owner/shared_line.h"
#include "protocol/owner_protocol.h"

PanelScenes::PanelScenes(
    SharedLine &shared, SceneRunner &runner, std::function<void(const std::string &)> show)
    : runner_(runner), show_(std::move(show))
{
    shared.onPanelWrites = [this](std::string_view line) {
        if (runner_.running() && isPanelPress(line))
            runner_.stop("a press at the panel");
    };
    runner_.listen([this](const QJsonObject &event) { heard(event); });
}

void PanelScenes::heard(const QJsonObject &event)
{
    const std::string scene = event.value(field::kScene).toString().toStdString();
    const int steps = event.value(field::kSteps).toInt();
    if (event.contains(field::kEnd)) {
        const std::string why = event.value(field::kWhy).toString().toStdString();
        status_ = " Scene " + scene + " " + event.value(field::kEnd).toString().toStdString()
            + (why.empty() ? "" : ": " + why);
    } else {
        // The step that runs now: the first after a start, the next after
        // one ended.
        const int ended = event.contains(field::kStarted) ? 0 : event.value(field::kStep).toInt();
        const Scene *running = runner_.book().find(scene);
        if (!running || ended >= steps || ended >= static_cast<int>(running->steps.size()))
            return; // the end event follows
        status_ = " Scene " + scene + " " + std::to_string(ended + 1) + "/" + std::to_string(steps) + ": "
            + running->steps[static_cast<std::size_t>(ended)].describe();
    }
    show_(status_);
}
