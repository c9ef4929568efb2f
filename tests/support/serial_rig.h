// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// A serial line that can be unplugged and plugged back in: a socat pair of
// pseudo-terminals behind fixed link names (DIR/ttyPanel for the panel,
// DIR/ttySim for the far end), optionally with the simulated projector on
// the far end. Unplugging stops both, as pulling an adapter would; plugging
// starts them again at the same paths.

#include <QProcess>
#include <QStringList>
#include <QTemporaryDir>

#include <string>

class SerialRig {
public:
    SerialRig();
    ~SerialRig();

    std::string panelEnd() const;
    std::string farEnd() const;
    std::string simLog() const;

    // Starts socat (and qv550-sim --device on the far end, with `simArgs`,
    // unless `withSimulator` is false); true once both links are there.
    bool plug(bool withSimulator = true, const QStringList &simArgs = {});
    // Starts socat alone and returns at once, for timing what follows.
    void startPlugging();
    // Stops socat; the simulator ends by itself when its line hangs up.
    // Returns whether it did (it is killed otherwise).
    bool unplug();

private:
    QTemporaryDir dir_;
    QProcess socat_;
    QProcess sim_;
};
