// SPDX-License-Identifier: GPL-3.0-or-later
// main() for tests that need Qt: one QApplication, on the offscreen platform
// unless a display was asked for. Run as `--hold-device PATH` the binary
// instead opens that serial device, says "held" and keeps it until its input
// closes: a second program holding the port.

#include <QApplication>
#include <QSerialPort>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <iostream>
#include <string>

int main(int argc, char **argv)
{
    if (argc == 3 && std::strcmp(argv[1], "--hold-device") == 0) {
        QSerialPort port;
        port.setPortName(QString::fromLocal8Bit(argv[2]));
        if (!port.open(QIODevice::ReadWrite))
            return 2;
        std::cout << "held" << std::endl;
        std::string line;
        std::getline(std::cin, line);
        return 0;
    }
    if (!std::getenv("QT_QPA_PLATFORM"))
        setenv("QT_QPA_PLATFORM", "offscreen", 1);
    // A runtime folder of this test's own, as a user's session has one: the
    // owners its programs start, and their sockets, are never another
    // test's, however many run at once. A test that needs none removes it
    // from its programs' environment.
    QTemporaryDir runtime;
    if (!std::getenv("XDG_RUNTIME_DIR") && runtime.isValid())
        setenv("XDG_RUNTIME_DIR", runtime.path().toLocal8Bit().constData(), 1);
    QApplication app(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
