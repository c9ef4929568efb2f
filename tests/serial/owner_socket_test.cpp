// SPDX-License-Identifier: GPL-3.0-or-later
// The names a line's owner is found by: the line as given, made absolute
// without following links, and the device it leads to now.

#include <filesystem>
#include <string>
#include <unistd.h>

#include <gtest/gtest.h>

#include "serial/owner_socket.h"

namespace {

struct NameCase {
    const char *given;
    const char *name;
};

} // namespace

TEST(OwnerSocket, TheLineIsNamedAsGivenWithDotsTakenAwayAndNoLinkFollowed)
{
    const NameCase cases[] = {
        {"/dev/ttyUSB0", "dev_ttyUSB0"},
        {"/dev/./ttyUSB0", "dev_ttyUSB0"},
        {"/dev/serial/../ttyUSB0", "dev_ttyUSB0"},
        {"//dev//ttyS1", "dev_ttyS1"},
        {"/dev/serial/by-id/usb-FTDI_A50285BI-if00-port0", "dev_serial_by-id_usb-FTDI_A50285BI-if00-port0"},
        {"tcp://10.0.0.5:4001", "tcp___10.0.0.5_4001"},
        {"rfc2217://box:2217", "rfc2217___box_2217"},
    };
    for (const NameCase &row : cases)
        EXPECT_EQ(lineName(row.given), row.name) << row.given;
}

TEST(OwnerSocket, ARelativeNameIsTheSameLineFromItsFolderAndTheDeviceNameFollowsLinks)
{
    const std::filesystem::path folder
        = std::filesystem::temp_directory_path() / ("owner-socket-" + std::to_string(getpid()));
    std::filesystem::create_directories(folder / "by-id");
    const std::filesystem::path device = folder / "ttyReal";
    {
        std::FILE *made = std::fopen(device.c_str(), "w");
        ASSERT_NE(made, nullptr);
        std::fclose(made);
    }
    std::filesystem::create_symlink(device, folder / "by-id" / "cable");
    const std::filesystem::path was = std::filesystem::current_path();
    std::filesystem::current_path(folder);
    const std::string relative = lineName("./by-id/cable");
    std::filesystem::current_path(was);
    EXPECT_EQ(relative, lineName((folder / "by-id" / "cable").string()));
    EXPECT_NE(relative, lineName(device.string())); // the link is not followed
    EXPECT_EQ(deviceLineName((folder / "by-id" / "cable").string()), lineName(device.string()));
    // A device that is not there yet is known by its name only.
    EXPECT_EQ(deviceLineName((folder / "late").string()), lineName((folder / "late").string()));
    std::filesystem::remove_all(folder);
}
