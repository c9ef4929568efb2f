// SPDX-License-Identifier: GPL-3.0-or-later
// The folder is checked, not trusted: in /tmp anyone could have made it
// first, and a socket in a folder another user controls is theirs to read.

#include "serial/owner_socket.h"

#include <cerrno>
#include <cstdlib>
#include <sys/stat.h>
#include <unistd.h>

#include <QLocalSocket>
#include <QString>

#include "serial/device_line.h"
#include "serial/network_address.h"

std::string ownerFolder()
{
    if (const char *runtime = std::getenv("XDG_RUNTIME_DIR"); runtime && *runtime == '/')
        return std::string(runtime) + "/qv550";
    const std::string uid = std::to_string(getuid());
    struct stat info { };
    if (stat(("/run/user/" + uid).c_str(), &info) == 0 && S_ISDIR(info.st_mode) && info.st_uid == getuid())
        return "/run/user/" + uid + "/qv550";
    return "/tmp/qv550-" + uid;
}

std::string lineName(const std::string &device)
{
    std::string name = isNetworkName(device) ? device : resolvedDevicePath(device);
    while (!name.empty() && name.front() == '/')
        name.erase(0, 1);
    for (char &c : name) {
        const bool kept = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9')
            || c == '.' || c == '-' || c == '_';
        if (!kept)
            c = '_';
    }
    return name;
}

std::string ownerSocketPath(const std::string &device)
{
    const std::string name = lineName(device) + ".sock";
    const std::string service = std::string(kServiceFolder) + "/" + name;
    struct stat info { };
    if (stat(service.c_str(), &info) == 0 && S_ISSOCK(info.st_mode))
        return service;
    return ownerFolder() + "/" + name;
}

bool checkServiceFolder(const std::string &folder, std::string &whyNot)
{
    struct stat info { };
    if (lstat(folder.c_str(), &info) != 0 || !S_ISDIR(info.st_mode)) {
        whyNot = folder + " is not a folder";
        return false;
    }
    if (info.st_uid != getuid() || (info.st_mode & 007) != 0) {
        whyNot = folder + " belongs to another user or is open to others";
        return false;
    }
    return true;
}

bool prepareOwnerFolder(std::string &whyNot)
{
    const std::string folder = ownerFolder();
    if (mkdir(folder.c_str(), 0700) != 0 && errno != EEXIST) {
        whyNot = folder + " cannot be made";
        return false;
    }
    struct stat info { };
    if (lstat(folder.c_str(), &info) != 0 || !S_ISDIR(info.st_mode)) {
        whyNot = folder + " is not a folder";
        return false;
    }
    if (info.st_uid != getuid() || (info.st_mode & 077) != 0) {
        whyNot = folder + " belongs to another user or is open to others";
        return false;
    }
    return true;
}

bool ownerAnswers(const std::string &path)
{
    // No socket file, no owner: asked on every try of a waiting panel, this
    // must cost nothing then.
    struct stat info { };
    if (stat(path.c_str(), &info) != 0 || !S_ISSOCK(info.st_mode))
        return false;
    QLocalSocket probe;
    probe.connectToServer(QString::fromStdString(path));
    // A socket nobody listens on is refused at once; a live owner accepts at
    // once. Only a hung owner makes this wait, briefly.
    const bool answers = probe.waitForConnected(200);
    probe.abort();
    return answers;
}
