// SPDX-License-Identifier: GPL-3.0-or-later
// The folder is checked, not trusted: in /tmp anyone could have made it
// first, and a socket in a folder another user controls is theirs to read.

#include "serial/owner_socket.h"

#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <dirent.h>
#include <filesystem>
#include <fstream>
#include <pwd.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <thread>
#include <unistd.h>
#include <vector>

#include <QLocalSocket>
#include <QString>

#include "serial/device_line.h"
#include "serial/network_address.h"
#include "serial/open_failure.h"

namespace {

std::string asFileName(std::string name)
{
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

bool isSocket(const std::string &path)
{
    struct stat info { };
    return stat(path.c_str(), &info) == 0 && S_ISSOCK(info.st_mode);
}

// The user's own home as the password database has it, when it is a folder
// of theirs: $HOME differs between a login, cron and sudo.
std::string ownHome()
{
    const passwd *entry = getpwuid(getuid());
    if (!entry || !entry->pw_dir || entry->pw_dir[0] != '/')
        return {};
    struct stat info { };
    if (stat(entry->pw_dir, &info) != 0 || !S_ISDIR(info.st_mode) || info.st_uid != getuid())
        return {};
    return entry->pw_dir;
}

// Makes `folder` (0700) when missing and checks that it is this user's alone.
bool ownFolder(const std::string &folder, std::string &whyNot)
{
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

// The process of an owner of ours that has locked the device, when this
// user could reach its socket: one of this user's, or the system service's,
// whose folder this user may enter. 0 otherwise: another user's panel is no
// owner to wait for.
long reachableOwnerLocking(const std::string &device)
{
    const std::string resolved = resolvedDevicePath(device);
    if (!isLineOwnerProgram(lockHolder(resolved)))
        return 0;
    long pid = 0;
    std::ifstream(existingLockFile(resolved)) >> pid;
    struct stat process { };
    if (pid <= 0 || stat(("/proc/" + std::to_string(pid)).c_str(), &process) != 0)
        return 0;
    return process.st_uid == getuid() || access(kServiceFolder, X_OK) == 0 ? pid : 0;
}

// The socket that process `pid` listens on in the folders this user looks
// in, found by asking each socket who serves it (the kernel's peer
// credentials): for an owner whose names are none of ours, a panel whose
// device came back under another node, say.
std::string socketServedBy(long pid)
{
    for (const std::string &folder : {std::string(kServiceFolder), ownerFolder()}) {
        DIR *entries = opendir(folder.c_str());
        if (!entries)
            continue;
        std::string found;
        while (const dirent *entry = readdir(entries)) {
            const std::string path = folder + "/" + entry->d_name;
            struct stat info { };
            if (lstat(path.c_str(), &info) != 0 || !S_ISSOCK(info.st_mode)
                || path.size() >= sizeof(sockaddr_un::sun_path))
                continue;
            const int probe = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
            sockaddr_un address{};
            address.sun_family = AF_UNIX;
            path.copy(address.sun_path, path.size());
            ucred peer{};
            socklen_t length = sizeof peer;
            const bool served = probe >= 0
                && connect(probe, reinterpret_cast<const sockaddr *>(&address), sizeof address) == 0
                && getsockopt(probe, SOL_SOCKET, SO_PEERCRED, &peer, &length) == 0 && peer.pid == pid;
            if (probe >= 0)
                close(probe);
            if (served) {
                found = path;
                break;
            }
        }
        closedir(entries);
        if (!found.empty())
            return found;
    }
    return {};
}

} // namespace

std::string ownerFolder()
{
    if (const char *runtime = std::getenv("XDG_RUNTIME_DIR"); runtime && *runtime == '/')
        return std::string(runtime) + "/qv550";
    const std::string uid = std::to_string(getuid());
    struct stat info { };
    if (stat(("/run/user/" + uid).c_str(), &info) == 0 && S_ISDIR(info.st_mode) && info.st_uid == getuid())
        return "/run/user/" + uid + "/qv550";
    if (const std::string home = ownHome(); !home.empty())
        return home + "/.cache/qv550";
    return "/tmp/qv550-" + uid;
}

std::string lineName(const std::string &device)
{
    if (isNetworkName(device) || device.empty())
        return asFileName(device);
    std::error_code failed;
    std::filesystem::path path = std::filesystem::absolute(device, failed);
    if (failed)
        path = device;
    return asFileName(path.lexically_normal().string());
}

std::string deviceLineName(const std::string &device)
{
    if (isNetworkName(device))
        return asFileName(device);
    const std::string resolved = resolvedDevicePath(device);
    return resolved == device ? lineName(device) : asFileName(resolved);
}

std::string ownerSocketPath(const std::string &device)
{
    const std::string names[] = {lineName(device) + ".sock", deviceLineName(device) + ".sock"};
    const std::string folder = ownerFolder();
    std::vector<std::string> found;
    for (const std::string &in : {std::string(kServiceFolder), folder}) {
        for (const std::string &name : names) {
            const std::string path = in + "/" + name;
            if (isSocket(path) && (found.empty() || found.back() != path))
                found.push_back(path);
        }
    }
    if (found.empty())
        return folder + "/" + names[0];
    // Only a socket left by a killed owner can stand beside a live one: ask
    // only then, so a lone or missing socket costs a stat.
    if (found.size() > 1) {
        for (const std::string &path : found) {
            if (ownerAnswers(path))
                return path;
        }
    }
    return found.front();
}

bool isLineOwnerProgram(const std::string &holder)
{
    return holder == "qv550d" || holder == "qv550-control";
}

std::string ownerSocketFor(
    const std::string &device, int waitMs, const std::function<bool(const std::string &)> &answers)
{
    std::string path = ownerSocketPath(device);
    if (device.empty() || isNetworkName(device) || answers(path))
        return path;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(waitMs);
    while (const long holder = reachableOwnerLocking(device)) {
        if (const std::string served = socketServedBy(holder); !served.empty())
            return served;
        // An owner that has only just opened the device has not listened yet.
        if (std::chrono::steady_clock::now() >= deadline)
            break;
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
        path = ownerSocketPath(device);
        if (answers(path))
            break;
    }
    return path;
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
    // ~/.cache may not exist yet; it is made as the user's own, as anything
    // else that uses it would.
    const std::string parent = folder.substr(0, folder.rfind('/'));
    if (const std::string home = ownHome();
        !home.empty() && parent == home + "/.cache" && mkdir(parent.c_str(), 0700) != 0 && errno != EEXIST) {
        whyNot = parent + " cannot be made";
        return false;
    }
    return ownFolder(folder, whyNot);
}

bool ownerAnswers(const std::string &path)
{
    // No socket file, no owner: asked on every try of a waiting panel, this
    // must cost nothing then.
    if (!isSocket(path))
        return false;
    QLocalSocket probe;
    probe.connectToServer(QString::fromStdString(path));
    // A socket nobody listens on is refused at once; a live owner accepts at
    // once. Only a hung owner makes this wait, briefly.
    const bool answers = probe.waitForConnected(200);
    probe.abort();
    return answers;
}
