// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// Whether the panel serves its line to other programs of ours, follows
// another owner that already serves it, or neither: the panel serves the line
// its port opens unless another owner answers on that line's socket; then it
// is that owner's client and shows that owner's state. Every few seconds,
// while it follows another owner or shows the live state, it looks again: it
// serves the line once the followed owner has gone, and the ages of the
// values shown move on. Otherwise it never wakes the panel.
//
// It talks to the sockets, the poller, the state feed and the lights only
// through the seams it is given, so it runs on the virtual clock.

#include <QJsonObject>

#include <functional>
#include <string>

class Timer;

class PanelSharing {
public:
    static constexpr int kCheckEveryMs = 5000;

    struct Seams {
        // The device the panel's port opens now ("" when none).
        std::function<std::string()> device;
        // Where an owner of `device` listens.
        std::function<std::string(const std::string &device)> socketFor;
        // Whether an owner answers on `path`.
        std::function<bool(const std::string &path)> ownerAnswers;
        // The panel's own server: where it listens ("" when it does not),
        // listening on `path` for `device` (the reason when it cannot), stopping.
        std::function<std::string()> servedPath;
        std::function<bool(const std::string &path, const std::string &device, std::string &whyNot)> serve;
        std::function<void()> stopServing;
        // The panel's own live state: forgotten for another line; its polls
        // started (the new line's power first) or stopped.
        std::function<void()> forgetState;
        std::function<void(bool on)> poll;
        // Another owner's state: followed on `path` ("" for none), asked anew.
        std::function<void(const std::string &path)> follow;
        std::function<void()> refreshFollowed;
        // The panel's own state, and the lights that show a state.
        std::function<QJsonObject()> ownState;
        std::function<QJsonObject()> ownChoices;
        std::function<void(const QJsonObject &state, const QJsonObject &choices)> show;
        // A problem for the user: the line is not shared, and why.
        std::function<void(const std::string &whyNot)> tell;
    };

    // `showLive`: the window lights what the projector does now.
    PanelSharing(Seams seams, Timer &check, bool showLive);

    // Decides anew for the line the port opens now: at start, once the port
    // is open, and after each choice of port.
    void decide();
    // The followed owner's state arrived.
    void followedStateArrived(const QJsonObject &state, const QJsonObject &choices);
    // The panel's own live state changed.
    void ownStateChanged();

    // The other owner's socket whose state is shown ("" when the panel serves
    // its line itself, or cannot).
    const std::string &followed() const { return followed_; }

private:
    void checkWhenNeeded();
    void onCheck();
    void serve(const std::string &path, const std::string &device);

    Seams seams_;
    Timer &check_;
    const bool showLive_;
    std::string followed_;
    // The line the panel could not serve, told once; tried again quietly.
    std::string unshared_;
};
