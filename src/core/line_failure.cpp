// SPDX-License-Identifier: GPL-3.0-or-later
// The one account of each kind of line failure. It names the port as the
// user knows it and, where the system told us enough, says what would really
// fix it: a busy device and a forbidden one need different cures.

#include "core/line_failure.h"

#include <array>

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

std::string permissionText(const LineFailure &f)
{
    const std::string bits = modeText(f.mode);
    const std::string chown = "or, until the device is plugged in again: sudo chown $USER " + f.device + ".";
    // A group that may read and write it, and that is not root's: joining
    // it is the cure. Otherwise only an administrator can help.
    if ((f.mode & 060U) == 060U && !f.group.empty() && f.group != "root")
        return f.label + ": permission denied: only " + f.owner + " and the group '" + f.group
            + "' may open it (" + bits + "). Add your user to that group (sudo usermod -aG " + f.group
            + " $USER) and log in again; " + chown;
    return f.label + ": permission denied: only " + f.owner + " may open it (" + bits + " " + f.owner + ":"
        + f.group
        + "). Ask an administrator for access, for example a udev rule that sets GROUP=\"dialout\" and "
          "MODE=\"0660\"; "
        + chown;
}

std::string account(const LineFailure &f)
{
    using K = LineFailureKind;
    switch (f.kind) {
    case K::Other:
    case K::BadSettings:
        return f.reason;
    case K::NoDeviceForPort:
        return "There is no device for COM" + std::to_string(f.port);
    case K::AlreadyOpen:
        return "Port already open";
    case K::BadAddress:
        return f.label + " (" + f.reason + ")";
    case K::NoSuchDevice:
        return f.label + ": no such device (" + f.reason + ")";
    case K::PermissionDenied:
        return permissionText(f);
    case K::InUse:
        return f.label + " is in use by " + f.holder + ". Close that program to use the port here.";
    case K::StaleLock:
        return f.label + " is blocked by the lock file " + f.lockFile
            + ", left by a program that has ended. Remove it: sudo rm " + f.lockFile;
    case K::Busy:
        return f.label + " is in use by another program (" + f.reason + ")";
    case K::OpenFailed:
        return f.label + ": the port could not be opened (" + f.reason + ")";
    case K::SettingsRefused:
        return f.label + ": the line settings could not be applied (" + f.reason + ")";
    case K::NoAnswer:
        return f.label + ": no answer within " + std::to_string(f.seconds) + " s";
    case K::HostNotFound:
        return f.label + ": the host " + f.host + " could not be found";
    case K::ConnectionRefused:
        return f.label + ": the connection was refused (nothing listens on port " + std::to_string(f.port)
            + ")";
    case K::ServerRefused:
        if (f.said.empty())
            return f.label + ": the server refused the line (it closed the connection as it was made)";
        return f.label + ": the server refused the line: \"" + f.said + "\"";
    case K::ConnectionClosed:
        return f.label + ": the connection was closed by the far end";
    case K::NetworkError:
    case K::WriteFailed:
        return f.label + ": " + f.reason;
    case K::DeviceRemoved:
        return f.label + ": the device went away";
    case K::HungUp:
        return f.label + ": the device went away (the line hung up)";
    case K::KeptFailing:
        return f.label + ": the line kept failing (" + f.reason + ")";
    case K::OwnerWentAway:
        return f.label + ": the program that owns the line went away";
    case K::OwnerSilent:
        return f.label + ": the program that owns the line does not answer";
    case K::NotConnected:
        return f.label + ": not connected yet (the connection is being made)";
    case K::OwnerNotConnected:
        return f.label + ": not connected to the line's owner yet";
    case K::NotOpen:
        return f.label + " is not open";
    case K::Leased:
        return "the line is leased to " + f.holder;
    }
    return f.reason;
}

} // namespace

std::string lineFailureText(const LineFailure &failure)
{
    // A device from the user's port mapping: say where it was set.
    if (failure.source.empty())
        return account(failure);
    return account(failure) + " (" + failure.source + ")";
}

std::string lineDownText(const LineFailure &failure)
{
    return "the line is down: " + lineFailureText(failure);
}
