// SPDX-License-Identifier: GPL-3.0-or-later
// The opt-in traffic log: what was sent and what arrived, each appended as it
// happens, with the bytes in hex and as the monitor shows them.

#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>

#include "serial/traffic_log.h"
#include "serial_double.h"

namespace {

TEST(TrafficLog, EachLineSentAndEachArrivalIsAppendedAsItHappens)
{
    const std::string path = ::testing::TempDir() + "/traffic_log_test.log";
    std::remove(path.c_str());
    std::ofstream(path) << "an earlier line\n";
    SerialDouble serial;
    TrafficLog log(serial, path);
    ASSERT_TRUE(log.ok());
    std::string received;
    log.setOnComm([&] { received += log.input(); });
    log.setPortOpen(true);
    log.setOutput("C00\r");
    serial.feed(std::string("\x06\xff", 2));
    EXPECT_EQ(received, std::string("\x06\xff", 2)); // passed on unchanged
    serial.failNext(ControlOp::Output, "COM1 is not open");
    EXPECT_THROW(log.setOutput("C01\r"), ControlError); // not sent: logged as a refusal, never as sent
    std::ifstream file(path);
    std::string first, sent, arrived, extra;
    std::getline(file, first);
    std::getline(file, sent);
    std::getline(file, arrived);
    EXPECT_EQ(first, "an earlier line");
    EXPECT_EQ(sent.substr(sent.find(' ')), " sent 43 30 30 0D | C 0 0 CR ");
    EXPECT_EQ(arrived.substr(arrived.find(' ')), " received 06 FF | ACK ? ");
    ASSERT_TRUE(std::getline(file, extra));
    EXPECT_EQ(extra.substr(extra.find(' ')), " not-sent COM1 is not open");
    EXPECT_FALSE(std::getline(file, extra));
}

} // namespace
