// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// Which of the window's buttons stand for what the projector does now, from
// the live state as the owner reports it (the same JSON whether the panel
// keeps the state itself or reads it from another owner): the power, input,
// mute and lamp buttons from the replies read, the freeze, screen size, image
// mode and fan speed buttons from the last acknowledged command, as no query
// reports those. Only the power buttons while the projector is not on.

#include <QJsonObject>

#include <set>
#include <string>

class View;

std::set<std::string> litControls(const QJsonObject &state, const QJsonObject &choices);

// The nine values with their ages, one a line, as people read them:
// "status     Power ON (read 1.2 s ago)", "mode       unknown since ...".
std::string liveStateText(const QJsonObject &state);

// Lights the buttons on a view, changing only those whose light changed.
class LiveLights {
public:
    explicit LiveLights(View &view) : view_(view) { }
    void show(const QJsonObject &state, const QJsonObject &choices);

private:
    View &view_;
    std::set<std::string> lit_;
};
