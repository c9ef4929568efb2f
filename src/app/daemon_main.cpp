// SPDX-License-Identifier: GPL-3.0-or-later
// qv550d: holds a projector's line that should stay open when no window is,
// serves it to every other program of ours, one transaction at a time,
// keeps the projector's live state (asking it within a small budget unless
// told not to), and with --mqtt speaks to a broker for Home Assistant and
// building systems. It opens the line again when it comes back, as the panel
// does, and says what happens on standard error, where systemd's journal
// takes it. SIGTERM and SIGINT close the line, say "offline" on MQTT, remove
// the lock and the socket, and end it with status 0. SIGHUP reloads: the
// config is read and checked again, and only a good one is taken, by running
// qv550d anew in the same process (the service manager sees no restart); a
// bad one is told and the running settings are kept. Qt Core, Network and
// Serial Port only: no window, no display.

#include <QCoreApplication>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <iostream>
#include <memory>
#include <optional>
#include <unistd.h>
#include <utility>
#include <vector>

#include "app/daemon.h"
#include "app/daemon_options.h"
#include "app/quit_on_signals.h"

namespace {

// Runs this program again in this process, with the same arguments and
// environment: nothing of the old one is inherited but the standard streams.
void runAgain(const std::vector<std::string> &arguments)
{
    if (DIR *fds = opendir("/proc/self/fd")) {
        while (const dirent *entry = readdir(fds)) {
            const int fd = std::atoi(entry->d_name);
            if (fd > 2 && fd != dirfd(fds))
                fcntl(fd, F_SETFD, FD_CLOEXEC);
        }
        closedir(fds);
    }
    std::vector<char *> argv;
    for (const std::string &argument : arguments)
        argv.push_back(const_cast<char *>(argument.c_str()));
    argv.push_back(nullptr);
    // The program this process runs, even if a newer one has been installed
    // since: a reload is not an upgrade.
    execv("/proc/self/exe", argv.data());
}

// Why the settings a reload would run with cannot be taken; empty if they
// can. What a new run would read at start is read now too (the secrets,
// the faces' settings, the scenes): a new run that failed on them would
// end, where the running one can go on.
std::string reloadProblem(const DaemonOptions &options, ServiceConfig &fresh)
{
    std::string whyNot;
    if (options.read(fresh, whyNot) && !fresh.mqttPasswordFile.empty())
        (void)firstLineOf(fresh.mqttPasswordFile, whyNot);
    if (whyNot.empty() && !fresh.pjlinkPasswordFile.empty())
        (void)firstLineOf(fresh.pjlinkPasswordFile, whyNot);
    if (whyNot.empty() && !fresh.pjlink.empty() && !parsePjlinkListen(fresh.pjlink, whyNot))
        whyNot = "pjlink: " + whyNot;
    if (whyNot.empty() && !fresh.pjlinkSearch.empty() && !parsePjlinkListen(fresh.pjlinkSearch, whyNot))
        whyNot = "pjlink-search: " + whyNot;
    if (whyNot.empty() && !fresh.pjlinkInputs.empty())
        (void)parsePjlinkInputs(fresh.pjlinkInputs, whyNot); // its reason names the setting
    if (whyNot.empty() && !fresh.httpPinFile.empty())
        (void)firstLineOf(fresh.httpPinFile, whyNot);
    if (whyNot.empty() && !fresh.http.empty() && !parseHttpAddress(fresh.http, whyNot))
        whyNot = "http: " + whyNot;
    if (whyNot.empty() && !fresh.scenes.empty())
        (void)readSceneFile(fresh.scenes, whyNot);
    return whyNot;
}

// Ended by the service manager or Ctrl+C: "offline" is said, the line and
// the socket are closed by the objects going away, and the end is a normal
// one. A reload keeps the broker's retained "online": the new run says it
// again within a second, and nothing was offline for a watcher to act on.
void handleSignals(QCoreApplication &app, const std::vector<std::string> &arguments,
    const DaemonOptions &options, Daemon &daemon, Journal &journal)
{
    const auto ending = std::make_shared<bool>(false);
    onSignals(app, {SIGTERM, SIGINT}, [ending, &daemon, &journal](int) {
        if (std::exchange(*ending, true))
            return;
        journal.info("stopping");
        daemon.stop();
        QCoreApplication::exit(0);
    });
    onSignals(app, {SIGHUP}, [ending, &arguments, &options, &daemon, &journal](int) {
        if (*ending)
            return;
        ServiceConfig fresh;
        if (const std::string whyNot = reloadProblem(options, fresh); !whyNot.empty()) {
            journal.warning("not reloaded, the running settings are kept: " + whyNot);
            return;
        }
        journal.info("reloading");
        daemon.closeForReload(fresh);
        runAgain(arguments);
        journal.warning(std::string("cannot run qv550d again to reload: ") + std::strerror(errno));
        QCoreApplication::exit(1);
    });
}

} // namespace

int main(int argc, char *argv[])
{
    const std::vector<std::string> arguments(argv, argv + argc);
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("qv550d"));
    QCoreApplication::setApplicationVersion(QStringLiteral(PANEL_VERSION));
    const DaemonOptions options(app);
    ServiceConfig settings;
    std::string whyNot;
    if (!options.read(settings, whyNot)) {
        std::cerr << "qv550d: " << whyNot << '\n';
        return Daemon::kBadSettings;
    }
    if (options.noPoll())
        settings.poll = false;
    // A bad scene file is told before anything is opened: a room's scenes
    // are not found missing on the morning they are wanted.
    std::optional<SceneBook> sceneBook;
    if (!settings.scenes.empty()) {
        sceneBook = readSceneFile(settings.scenes, whyNot);
        if (!sceneBook) {
            std::cerr << "qv550d: " << whyNot << '\n';
            return Daemon::kBadSettings;
        }
    }
    Journal journal(std::cerr, "qv550d", std::getenv("JOURNAL_STREAM") != nullptr);
    std::optional<WebPagePlan> webPage;
    if (!planWebPage(settings, journal, webPage))
        return Daemon::kBadSettings;

    Daemon daemon(settings, journal, std::move(sceneBook));
    // The socket first, then each face: the first that cannot start ends qv550d.
    for (const auto start :
        {&Daemon::serveSocket, &Daemon::startMqtt, &Daemon::startPjlink, &Daemon::startPjlinkSearch}) {
        if (const int status = (daemon.*start)())
            return status;
    }
    if (const int status = daemon.startWebPage(webPage))
        return status;
    daemon.openLine();
    handleSignals(app, arguments, options, daemon, journal);
    return QCoreApplication::exec();
}
