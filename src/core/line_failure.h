// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// Why a line could not be opened, refused a write, or was lost: a kind and
// the facts found out about it. Lines and logic pass this along and decide on
// the kind; each program turns it into its own words at its edge (the
// panel's box and status line, qv550-cli's standard error, the owner's
// replies, qv550d's journal).

#include <string>

enum class LineFailureKind {
    Other,             // `reason` is the whole account, as the control gave it
    NoDeviceForPort,   // no device is set for the port number
    AlreadyOpen,       // opened while open
    BadSettings,       // line settings that do not parse; `reason` says how
    BadAddress,        // a network line's address is malformed; `reason` says how
    NoSuchDevice,      // the device's path does not exist
    PermissionDenied,  // the user may not read and write it (`owner`, `group`, `mode`)
    InUse,             // a live program holds it (`holder`)
    StaleLock,         // a lock file left by a program that has ended (`lockFile`)
    Busy,              // refused, and nothing more is known (`reason`)
    OpenFailed,        // the port could not be opened for another reason (`reason`)
    SettingsRefused,   // the device would not take the line settings (`reason`)
    NoAnswer,          // a connection not made within its time (`seconds`)
    HostNotFound,      // `host`
    ConnectionRefused, // nothing listens on `host`:`port`
    ServerRefused,     // the server closed the connection as it was made (`said`: its words, may be empty)
    ConnectionClosed,  // the far end closed a connection that was up
    NetworkError,      // any other socket failure (`reason`)
    DeviceRemoved,     // an open device's node is gone
    HungUp,            // an open device hung up, its node still there
    KeptFailing,       // a device that errs without end (`reason`)
    OwnerWentAway,     // the program that owned the line (its server) ended
    OwnerSilent,       // the program that owns the line did not take the connection
    NotConnected,      // a network line is still connecting
    OwnerNotConnected, // the connection to the line's owner is still being made
    NotOpen,           // written while closed
    WriteFailed,       // the port took fewer bytes than given (`reason`)
    Leased,            // a shared line is promised to another program for now (`holder`)
};

struct LineFailure {
    LineFailureKind kind = LineFailureKind::Other;
    std::string label;  // the port as messages name it: "COM1 (/dev/ttyUSB0)"
    std::string reason; // the system's or the port's own words, where it gave any
    // What was found out, as far as the kind has it.
    std::string device;   // "/dev/ttyUSB0"
    std::string host;     // "127.0.0.1"
    int port = 0;         // a TCP port, or the port number of NoDeviceForPort
    int seconds = 0;      // how long NoAnswer waited
    std::string owner;    // the device's owner: "root"
    std::string group;    // its group: "dialout"
    unsigned mode = 0;    // its permission bits, e.g. 0660
    std::string holder;   // "minicom (process 4242)"; a lease's holder
    std::string lockFile; // "/var/lock/LCK..ttyUSB0"
    std::string said;     // what a refusing server said, on one line
    std::string source;   // the file that set the port's device, if one did
};

// The account of the failure that every program gives alike: what happened
// to which port, and what would fix it. The programs' own words (what each
// does about it) are added around it at their edges.
std::string lineFailureText(const LineFailure &failure);

// The failure as the owner's replies give it to a request it could not carry.
std::string lineDownText(const LineFailure &failure);

// A shared line that another program holds a lease on.
inline LineFailure leasedTo(std::string holder)
{
    LineFailure failure;
    failure.kind = LineFailureKind::Leased;
    failure.holder = std::move(holder);
    return failure;
}

// A failure whose account is `text` as it stands.
inline LineFailure otherFailure(std::string text)
{
    LineFailure failure;
    failure.reason = std::move(text);
    return failure;
}
