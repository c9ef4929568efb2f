// SPDX-License-Identifier: GPL-3.0-or-later
// The panel's serve / follow decision. The other owner is asked before the
// panel listens, so two panels on one line never both serve it; the panel's
// own polls stop while it follows, so the line is not polled twice.

#include "panel/panel_sharing.h"

#include <utility>

#include "core/timer.h"

PanelSharing::PanelSharing(Seams seams, Timer &check, bool showLive)
    : seams_(std::move(seams)), check_(check), showLive_(showLive)
{
    check_.setEnabled(false);
    check_.setInterval(kCheckEveryMs);
    check_.setOnTick([this] { onCheck(); });
}

void PanelSharing::decide()
{
    const std::string device = seams_.device();
    const std::string path = device.empty() ? std::string() : seams_.socketFor(device);
    if (path.empty() || seams_.servedPath() == path) {
        checkWhenNeeded();
        return;
    }
    const bool servedByAnother = seams_.ownerAnswers(path);
    if (servedByAnother && followed_ == path)
        return;
    if (!servedByAnother && unshared_ == path) {
        // Told already: the next check tries again, without a word and
        // without forgetting what the panel's own polls found meanwhile.
        std::string whyNot;
        if (seams_.serve(path, device, whyNot))
            unshared_.clear();
        return;
    }
    unshared_.clear();
    seams_.forgetState();  // another line, another projector
    if (servedByAnother) { // the panel is that owner's client, and shows its state
        seams_.stopServing();
        seams_.poll(false);
        followed_ = path;
        if (showLive_)
            seams_.follow(followed_);
        checkWhenNeeded();
        return;
    }
    followed_.clear();
    seams_.follow({});
    checkWhenNeeded();
    if (showLive_)
        seams_.poll(true);
    serve(path, device);
}

void PanelSharing::serve(const std::string &path, const std::string &device)
{
    seams_.stopServing();
    std::string whyNot;
    if (!seams_.serve(path, device, whyNot)) {
        unshared_ = path;
        seams_.tell(whyNot);
    }
}

void PanelSharing::checkWhenNeeded()
{
    if (showLive_ || !followed_.empty()) {
        if (!check_.enabled())
            check_.setEnabled(true);
    } else {
        check_.setEnabled(false);
    }
}

void PanelSharing::onCheck()
{
    decide();
    if (!showLive_)
        return;
    if (!followed_.empty()) {
        seams_.follow(followed_); // a lost owner's state is followed again
        seams_.refreshFollowed();
    } else {
        seams_.show(seams_.ownState(), seams_.ownChoices());
    }
}

void PanelSharing::followedStateArrived(const QJsonObject &state, const QJsonObject &choices)
{
    if (showLive_ && !followed_.empty())
        seams_.show(state, choices);
}

void PanelSharing::ownStateChanged()
{
    if (showLive_ && followed_.empty())
        seams_.show(seams_.ownState(), seams_.ownChoices());
}
