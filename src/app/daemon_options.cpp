// SPDX-License-Identifier: GPL-3.0-or-later
// The options are a table, with the keys as the config file writes them,
// so a setting given either way goes through the same check.

#include "app/daemon_options.h"

#include <QCoreApplication>
#include <QFile>

#include "serial/network_address.h"

namespace {

struct Option {
    const char *key; // as in the config file
    const char *help;
    const char *value;
};

// clang-format off
constexpr Option kOptions[] = {
    {"port", "The line: a device path, tcp://HOST:PORT or rfc2217://HOST:PORT.", "DEVICE"},
    {"speed", "19200 (default) or 9600.", "RATE"},
    {"name", "The projector's name in MQTT topics (qv550/NAME/...); by default this host's name and the line's.", "NAME"},
    {"mqtt", "A broker to publish to: mqtt://HOST[:PORT] or mqtts://HOST[:PORT] (TLS).", "URL"},
    {"mqtt-ca", "For mqtts: the authority that signed the broker's certificate (else the system's).", "FILE"},
    {"mqtt-user", "The broker's user name.", "NAME"},
    {"mqtt-password-file", "A file whose first line is the broker's password.", "FILE"},
    {"mqtt-commands", "What a command on MQTT may be: named (default: the commands by name), all (also any line and the broadcast address) or none.", "WHICH"},
    {"mqtt-command-age", "A command on MQTT whose sent_at is further than this many seconds from this machine's clock is refused (10).", "S"},
    {"mqtt-bridge-topic", "The room bridge's notification topic, named in discovery as a second availability.", "TOPIC"},
    {"discovery-prefix", "Home Assistant's discovery prefix (homeassistant).", "PREFIX"},
    {"temperature-limit", "A temperature above this many °C is a problem (60).", "C"},
    {"pressure-limit", "A pressure below this many hPa is a problem (600).", "HPA"},
    {"pjlink", "Answer PJLink controllers on [ADDRESS:]PORT (4352 is PJLink's; loopback without ADDRESS).", "ADDR:PORT"},
    {"pjlink-password-file", "A file whose first line is the PJLink password.", "FILE"},
    {"pjlink-inputs", "Input modes as PJLink inputs (1:31 2:11 3:21 4:22).", "TABLE"},
    {"pjlink-search", "Answer PJLink searches (%2SRCH) on UDP [ADDRESS:]PORT (4352 is PJLink's).", "ADDR:PORT"},
    {"scenes", "Run the scenes of this JSON file when asked (qv550-cli scene NAME, MQTT, the socket); a bad file stops the start.", "FILE"},
    {"http", "Serve the touch page on [ADDR:]PORT (127.0.0.1 without ADDR); off by default.", "[ADDR:]PORT"},
    {"http-pin-file", "A file whose first line is the touch page's PIN or passphrase.", "FILE"},
    {"http-without-pin", "yes: let a page listener off loopback run without a PIN (no).", "YES|NO"},
};
// clang-format on

} // namespace

DaemonOptions::DaemonOptions(QCoreApplication &app)
    : config_({QStringLiteral("config")}, QStringLiteral("Read settings from FILE."), QStringLiteral("FILE")),
      noPoll_({QStringLiteral("no-poll")},
          QStringLiteral(
              "Keep the live state from what clients ask only: never ask the projector on its own."))
{
    parser_.setApplicationDescription(QStringLiteral(
        "Holds a QV550 projector's line and serves it to the panel, qv550-cli and other programs,\n"
        "one transaction at a time, on $XDG_RUNTIME_DIR/qv550/<line>.sock (as the system service\n"
        "qv550d@NAME, on /run/qv550/<line>.sock for the group dialout). It keeps the projector's\n"
        "live state, and with --mqtt publishes it for Home Assistant and building systems.\n"
        "Settings may come from a file (--config), one \"key = value\" a line, with the keys\n"
        "named as the options here; the command line wins."));
    for (const Option &option : kOptions)
        settings_.emplace_back(QStringList{QString::fromLatin1(option.key)}, QString::fromUtf8(option.help),
            QString::fromLatin1(option.value));
    parser_.addHelpOption();
    parser_.addVersionOption();
    parser_.addOption(config_);
    parser_.addOption(noPoll_);
    for (const QCommandLineOption &option : settings_)
        parser_.addOption(option);
    parser_.process(app);
}

bool DaemonOptions::read(ServiceConfig &into, std::string &whyNot) const
{
    if (parser_.isSet(config_)) {
        QFile file(parser_.value(config_));
        if (!file.open(QIODevice::ReadOnly)) {
            whyNot = "cannot read " + parser_.value(config_).toStdString() + ": "
                + file.errorString().toStdString();
            return false;
        }
        if (!readServiceConfig(file.readAll().toStdString(), into, whyNot)) {
            whyNot = parser_.value(config_).toStdString() + ": " + whyNot;
            return false;
        }
    }
    for (std::size_t i = 0; i < settings_.size(); ++i) {
        if (parser_.isSet(settings_[i])
            && !applySetting(into, kOptions[i].key, parser_.value(settings_[i]).toStdString(), whyNot))
            return false;
    }
    if (into.port.empty()) {
        whyNot = "give the line with --port DEVICE (or port = DEVICE in the config file)";
        return false;
    }
    if (const std::string malformed = malformedNetworkName(into.port); !malformed.empty()) {
        whyNot = malformed;
        return false;
    }
    return true;
}
