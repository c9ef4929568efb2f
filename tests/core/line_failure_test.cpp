// SPDX-License-Identifier: GPL-3.0-or-later
// The account of each kind of line failure, from its facts: the port named
// as the user knows it, and the cure where one is known.

#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

#include "core/control_error.h"
#include "core/line_failure.h"

namespace {

// A failure of `kind` on COM1 (/dev/ttyUSB0), with `facts` filled in.
LineFailure failure(LineFailureKind kind, const std::function<void(LineFailure &)> &facts = {})
{
    LineFailure f;
    f.kind = kind;
    f.label = "COM1 (/dev/ttyUSB0)";
    f.device = "/dev/ttyUSB0";
    if (facts)
        facts(f);
    return f;
}

TEST(LineFailureAccount, EachKindSaysWhatHappenedAndWhatWouldFixIt)
{
    using K = LineFailureKind;
    struct Case {
        LineFailure failure;
        std::string expected;
    };
    const std::vector<Case> cases = {
        {failure(K::NoSuchDevice, [](LineFailure &f) { f.reason = "No such file or directory"; }),
            "COM1 (/dev/ttyUSB0): no such device (No such file or directory)"},
        {failure(K::PermissionDenied,
             [](LineFailure &f) {
                 f.owner = "root";
                 f.group = "dialout";
                 f.mode = 0660;
             }),
            "COM1 (/dev/ttyUSB0): permission denied: only root and the group 'dialout' may open it "
            "(rw-rw----). "
            "Add your user to that group (sudo usermod -aG dialout $USER) and log in again; or, until the "
            "device "
            "is plugged in again: sudo chown $USER /dev/ttyUSB0."},
        // A root-only device: joining a group would not help.
        {failure(K::PermissionDenied,
             [](LineFailure &f) {
                 f.owner = "root";
                 f.group = "root";
                 f.mode = 0600;
             }),
            "COM1 (/dev/ttyUSB0): permission denied: only root may open it (rw------- root:root). Ask an "
            "administrator for access, for example a udev rule that sets GROUP=\"dialout\" and "
            "MODE=\"0660\"; or, "
            "until the device is plugged in again: sudo chown $USER /dev/ttyUSB0."},
        {failure(K::InUse, [](LineFailure &f) { f.holder = "minicom (process 42)"; }),
            "COM1 (/dev/ttyUSB0) is in use by minicom (process 42). Close that program to use the port "
            "here."},
        {failure(K::StaleLock, [](LineFailure &f) { f.lockFile = "/var/lock/LCK..ttyUSB0"; }),
            "COM1 (/dev/ttyUSB0) is blocked by the lock file /var/lock/LCK..ttyUSB0, left by a program that "
            "has "
            "ended. Remove it: sudo rm /var/lock/LCK..ttyUSB0"},
        {failure(K::Busy, [](LineFailure &f) { f.reason = "Permission error"; }),
            "COM1 (/dev/ttyUSB0) is in use by another program (Permission error)"},
        {failure(K::OpenFailed, [](LineFailure &f) { f.reason = "Unknown error"; }),
            "COM1 (/dev/ttyUSB0): the port could not be opened (Unknown error)"},
        {failure(K::SettingsRefused, [](LineFailure &f) { f.reason = "Unsupported"; }),
            "COM1 (/dev/ttyUSB0): the line settings could not be applied (Unsupported)"},
        {failure(K::DeviceRemoved), "COM1 (/dev/ttyUSB0): the device went away"},
        {failure(K::HungUp), "COM1 (/dev/ttyUSB0): the device went away (the line hung up)"},
        {failure(K::KeptFailing, [](LineFailure &f) { f.reason = "Input/output error"; }),
            "COM1 (/dev/ttyUSB0): the line kept failing (Input/output error)"},
        {failure(K::WriteFailed, [](LineFailure &f) { f.reason = "Resource busy"; }),
            "COM1 (/dev/ttyUSB0): Resource busy"},
        {failure(K::NotOpen), "COM1 (/dev/ttyUSB0) is not open"},
        {failure(K::NoDeviceForPort, [](LineFailure &f) { f.port = 2; }), "There is no device for COM2"},
        {failure(K::AlreadyOpen), "Port already open"},
        {failure(K::BadSettings, [](LineFailure &f) { f.reason = "\"9600\": expected four fields"; }),
            "\"9600\": expected four fields"},
        {failure(K::OwnerWentAway), "COM1 (/dev/ttyUSB0): the program that owns the line went away"},
        {failure(K::OwnerSilent), "COM1 (/dev/ttyUSB0): the program that owns the line does not answer"},
        {failure(K::OwnerNotConnected), "COM1 (/dev/ttyUSB0): not connected to the line's owner yet"},
        // A device set in the user's port mapping says where.
        {failure(K::NoSuchDevice,
             [](LineFailure &f) {
                 f.reason = "No such file or directory";
                 f.source = "set in ~/.config/qv550/ports.conf";
             }),
            "COM1 (/dev/ttyUSB0): no such device (No such file or directory) (set in "
            "~/.config/qv550/ports.conf)"},
    };
    for (const Case &c : cases)
        EXPECT_EQ(lineFailureText(c.failure), c.expected);
}

TEST(LineFailureAccount, ANetworkLineNamesTheHostThePortAndWhatTheServerSaid)
{
    using K = LineFailureKind;
    const auto network = [](K kind, const std::function<void(LineFailure &)> &facts = {}) {
        LineFailure f;
        f.kind = kind;
        f.label = "COM1 (tcp://box.invalid:7001)";
        f.host = "box.invalid";
        f.port = 7001;
        if (facts)
            facts(f);
        return lineFailureText(f);
    };
    EXPECT_EQ(
        network(K::HostNotFound), "COM1 (tcp://box.invalid:7001): the host box.invalid could not be found");
    EXPECT_EQ(network(K::ConnectionRefused),
        "COM1 (tcp://box.invalid:7001): the connection was refused (nothing listens on port 7001)");
    EXPECT_EQ(network(K::NoAnswer, [](LineFailure &f) { f.seconds = 5; }),
        "COM1 (tcp://box.invalid:7001): no answer within 5 s");
    EXPECT_EQ(network(K::ServerRefused, [](LineFailure &f) { f.said = "Port already in use"; }),
        "COM1 (tcp://box.invalid:7001): the server refused the line: \"Port already in use\"");
    EXPECT_EQ(network(K::ServerRefused),
        "COM1 (tcp://box.invalid:7001): the server refused the line (it closed the connection as it was "
        "made)");
    EXPECT_EQ(network(K::ConnectionClosed),
        "COM1 (tcp://box.invalid:7001): the connection was closed by the far end");
    EXPECT_EQ(network(K::NotConnected),
        "COM1 (tcp://box.invalid:7001): not connected yet (the connection is being made)");
    EXPECT_EQ(network(K::NetworkError, [](LineFailure &f) { f.reason = "Network unreachable"; }),
        "COM1 (tcp://box.invalid:7001): Network unreachable");
    LineFailure malformed;
    malformed.kind = K::BadAddress;
    malformed.label = "COM1";
    malformed.reason = "tcp://box: no port";
    EXPECT_EQ(lineFailureText(malformed), "COM1 (tcp://box: no port)");
}

TEST(LineFailureAccount, AnErrorKeepsItsKindAndAPlainTextErrorIsTakenAsItStands)
{
    const ControlError typed(ControlOp::PortOpen, failure(LineFailureKind::DeviceRemoved));
    EXPECT_EQ(typed.kind(), LineFailureKind::DeviceRemoved);
    EXPECT_EQ(typed.description(), "COM1 (/dev/ttyUSB0): the device went away");
    const ControlError plain(ControlOp::Output, "write refused");
    EXPECT_EQ(plain.kind(), LineFailureKind::Other);
    EXPECT_EQ(plain.description(), "write refused");
    EXPECT_EQ(lineFailureText(plain.failure()), "write refused");
    const ControlError leased(ControlOp::Output, leasedTo("cron (process 7)"));
    EXPECT_EQ(leased.kind(), LineFailureKind::Leased);
    EXPECT_EQ(leased.description(), "the line is leased to cron (process 7)");
    EXPECT_EQ(lineDownText(typed.failure()), "the line is down: COM1 (/dev/ttyUSB0): the device went away");
}

} // namespace
