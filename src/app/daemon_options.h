// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// qv550d's command line: every setting of its config file is also an option
// with the same name, and the command line wins over the file. Read at start
// and again for a reload, so both take the same settings.

#include <QCommandLineOption>
#include <QCommandLineParser>

#include <string>
#include <vector>

#include "owner/service_config.h"

class QCoreApplication;

class DaemonOptions {
public:
    // Reads the command line; --help, --version and a bad option end the process.
    explicit DaemonOptions(QCoreApplication &app);

    // The config file under the command line; false with the reason.
    bool read(ServiceConfig &into, std::string &whyNot) const;
    // --no-poll.
    bool noPoll() const { return parser_.isSet(noPoll_); }

private:
    QCommandLineParser parser_;
    QCommandLineOption config_;
    QCommandLineOption noPoll_;
    std::vector<QCommandLineOption> settings_; // in the order of the settings' table
};
