// SPDX-License-Identifier: GPL-3.0-or-later
// Probing a refused device on Linux: stat() for owner, group and mode, the
// UUCP-style lock file that Qt and the terminal programs take, and /proc for
// whoever has the device open when no lock names a live owner.

#include "serial/open_failure.h"

#include <cerrno>
#include <fstream>

#ifdef __linux__
#include <climits>
#include <csignal>
#include <cstdlib>
#include <dirent.h>
#include <grp.h>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

namespace {

#ifdef __linux__
std::string programName(long pid)
{
    std::string name;
    std::ifstream comm("/proc/" + std::to_string(pid) + "/comm");
    std::getline(comm, name);
    return (name.empty() ? std::string("a program") : name) + " (process " + std::to_string(pid) + ")";
}

bool processAlive(long pid)
{
    return pid > 0 && (kill(static_cast<pid_t>(pid), 0) == 0 || errno == EPERM);
}

// The first process other than this one that has `device` open.
std::string processWithOpen(const std::string &device)
{
    char resolved[PATH_MAX];
    if (!realpath(device.c_str(), resolved))
        return {};
    const std::string target = resolved;
    DIR *proc = opendir("/proc");
    if (!proc)
        return {};
    std::string holder;
    const std::string self = std::to_string(getpid());
    while (holder.empty()) {
        const dirent *entry = readdir(proc);
        if (!entry)
            break;
        const std::string pid = entry->d_name;
        if (pid.empty() || pid.find_first_not_of("0123456789") != std::string::npos || pid == self)
            continue;
        const std::string fdDir = "/proc/" + pid + "/fd";
        DIR *fds = opendir(fdDir.c_str());
        if (!fds)
            continue;
        while (const dirent *fd = readdir(fds)) {
            char link[PATH_MAX];
            const std::string path = fdDir + "/" + fd->d_name;
            const ssize_t length = readlink(path.c_str(), link, sizeof link - 1);
            if (length > 0 && std::string(link, static_cast<std::size_t>(length)) == target) {
                holder = programName(std::stol(pid));
                break;
            }
        }
        closedir(fds);
    }
    closedir(proc);
    return holder;
}
#endif

} // namespace

std::string existingLockFile(const std::string &device)
{
#ifdef __linux__
    // Named as Qt and the lockdev programs name it: the path below /dev, with
    // every '/' turned into '_'.
    std::string name = device.rfind("/dev/", 0) == 0 ? device.substr(5) : device;
    for (char &c : name) {
        if (c == '/')
            c = '_';
    }
    for (const char *folder : {"/var/lock", "/etc/locks", "/var/spool/locks", "/var/spool/uucp", "/tmp",
             "/var/tmp", "/var/lock/lockdev", "/run/lock"}) {
        const std::string path = std::string(folder) + "/LCK.." + name;
        if (access(path.c_str(), F_OK) == 0)
            return path;
    }
#else
    (void)device;
#endif
    return {};
}

std::string lockHolder(const std::string &device)
{
#ifdef __linux__
    const std::string lock = existingLockFile(device);
    if (lock.empty())
        return {};
    long pid = 0;
    std::ifstream file(lock);
    file >> pid;
    if (!processAlive(pid) || pid == getpid())
        return {};
    std::string name;
    std::ifstream comm("/proc/" + std::to_string(pid) + "/comm");
    std::getline(comm, name);
    return name.empty() ? std::string("a program") : name;
#else
    (void)device;
    return {};
#endif
}

bool lockedByAnother(const std::string &device)
{
    return !lockHolder(device).empty();
}

void probeRefusedDevice(LineFailure &failure, const std::string &device)
{
    failure.device = device;
    failure.kind = LineFailureKind::Busy;
#ifdef __linux__
    struct stat info { };
    if (stat(device.c_str(), &info) == 0) {
        failure.mode = info.st_mode & 0777U;
        const passwd *user = getpwuid(info.st_uid);
        const group *grp = getgrgid(info.st_gid);
        failure.owner = user ? user->pw_name : std::to_string(info.st_uid);
        failure.group = grp ? grp->gr_name : std::to_string(info.st_gid);
    }
    if (access(device.c_str(), R_OK | W_OK) != 0) {
        failure.kind = LineFailureKind::PermissionDenied;
        return;
    }
    const std::string lock = existingLockFile(device);
    if (!lock.empty()) {
        long pid = 0;
        std::ifstream file(lock);
        file >> pid;
        if (processAlive(pid) && pid != getpid())
            failure.holder = programName(pid);
        else if (!processAlive(pid))
            failure.lockFile = lock;
    }
    if (failure.holder.empty())
        failure.holder = processWithOpen(device);
    // Whoever has it open is the one to close first; a stale lock is only
    // the cure when nobody does.
    if (!failure.holder.empty())
        failure.kind = LineFailureKind::InUse;
    else if (!failure.lockFile.empty())
        failure.kind = LineFailureKind::StaleLock;
#else
    (void)device;
#endif
}
