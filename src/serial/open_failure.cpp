// SPDX-License-Identifier: GPL-3.0-or-later
// Probing a refused device on Linux: stat() for owner, group and mode, the
// UUCP-style lock file that Qt and the terminal programs take, and /proc for
// whoever has the device open when no lock names a live owner.

#include "serial/open_failure.h"

#include <array>
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

std::string modeText(unsigned mode)
{
    std::string text = "---------";
    constexpr std::array<char, 3> kLetters = {'r', 'w', 'x'};
    for (int bit = 0; bit < 9; ++bit) {
        if (mode & (1U << (8 - bit)))
            text[static_cast<std::size_t>(bit)] = kLetters[static_cast<std::size_t>(bit % 3)];
    }
    return text;
}

std::string chownAdvice(const std::string &device)
{
    return "or, until the device is plugged in again: sudo chown $USER " + device + ".";
}

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

std::string describeOpenFailure(const OpenFailure &failure)
{
    switch (failure.problem) {
    case OpenFailure::Missing:
        return failure.label + ": no such device (" + failure.reason + ")";
    case OpenFailure::Refused:
        if (!failure.accessible) {
            const std::string bits = modeText(failure.mode);
            if ((failure.mode & 060U) == 060U && !failure.group.empty() && failure.group != "root")
                return failure.label + ": permission denied: only " + failure.owner + " and the group '"
                    + failure.group + "' may open it (" + bits + "). Add your user to that group (sudo usermod -aG "
                    + failure.group + " $USER) and log in again; " + chownAdvice(failure.device);
            return failure.label + ": permission denied: only " + failure.owner + " may open it (" + bits + " "
                + failure.owner + ":" + failure.group
                + "). Ask an administrator for access, for example a udev rule that sets GROUP=\"dialout\" "
                  "and MODE=\"0660\"; "
                + chownAdvice(failure.device);
        }
        if (!failure.holder.empty())
            return failure.label + " is in use by " + failure.holder + ". Close that program to use the port here.";
        if (!failure.staleLock.empty())
            return failure.label + " is blocked by the lock file " + failure.staleLock
                + ", left by a program that has ended. Remove it: sudo rm " + failure.staleLock;
        return failure.label + " is in use by another program (" + failure.reason + ")";
    case OpenFailure::Other:
        break;
    }
    return failure.label + ": the port could not be opened (" + failure.reason + ")";
}

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

void probeRefusedDevice(OpenFailure &failure, const std::string &device)
{
    failure.device = device;
#ifdef __linux__
    struct stat info {};
    if (stat(device.c_str(), &info) == 0) {
        failure.mode = info.st_mode & 0777U;
        const passwd *user = getpwuid(info.st_uid);
        const group *grp = getgrgid(info.st_gid);
        failure.owner = user ? user->pw_name : std::to_string(info.st_uid);
        failure.group = grp ? grp->gr_name : std::to_string(info.st_gid);
    }
    failure.accessible = access(device.c_str(), R_OK | W_OK) == 0;
    if (!failure.accessible)
        return;
    const std::string lock = existingLockFile(device);
    if (!lock.empty()) {
        long pid = 0;
        std::ifstream file(lock);
        file >> pid;
        if (processAlive(pid) && pid != getpid())
            failure.holder = programName(pid);
        else if (!processAlive(pid))
            failure.staleLock = lock;
    }
    if (failure.holder.empty())
        failure.holder = processWithOpen(device);
#else
    (void)device;
#endif
}
