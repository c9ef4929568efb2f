// SPDX-License-Identifier: GPL-3.0-or-later
// ser2net is run without a configuration file: each -Y is one line of its
// YAML, '#' standing for a newline. -u leaves the UUCP lock to the panel
// side, -n keeps it in the foreground.

#include "network_servers.h"

#include <QTcpServer>

#include <cstdio>
#include <fstream>

#include "event_loop.h"
#include "processes.h"

int freeTcpPort()
{
    QTcpServer probe;
    probe.listen(QHostAddress::LocalHost, 0);
    return probe.serverPort();
}

bool listening(int port, int milliseconds)
{
    // Read from the kernel's socket table rather than by connecting: a
    // probe connection would take the server's one session and make the
    // next client hear "Port already in use".
    char local[16];
    std::snprintf(local, sizeof local, ":%04X ", port);
    return runUntil(
        [&] {
            for (const char *table : {"/proc/net/tcp", "/proc/net/tcp6"}) {
                std::ifstream sockets(table);
                std::string line;
                while (std::getline(sockets, line)) {
                    // local address, remote address, state 0A = LISTEN
                    const auto at = line.find(local);
                    if (at != std::string::npos && at < 40 && line.find(" 0A ", at) != std::string::npos)
                        return true;
                }
            }
            return false;
        },
        milliseconds);
}

bool Ser2net::start()
{
    const auto line = [this](const char *name, const std::string &accepter, int port) {
        return QString::fromStdString(std::string("connection: &") + name + "#  accepter: " + accepter
            + "tcp,127.0.0.1," + std::to_string(port) + "#  connector: serialdev," + device_ + ",19200n81,local");
    };
    process_.setProcessChannelMode(QProcess::MergedChannels);
    process_.start(QStringLiteral("ser2net"),
        {QStringLiteral("-n"), QStringLiteral("-d"), QStringLiteral("-u"), QStringLiteral("-Y"),
            line("raw", "", rawPort_), QStringLiteral("-Y"), line("r2217", "telnet(rfc2217),", telnetPort_)});
    return process_.waitForStarted(5000) && listening(rawPort_, 5000) && listening(telnetPort_, 5000);
}

void Ser2net::stop()
{
    stopProcess(process_);
}

bool LoopbackRfc2217Server::start()
{
    process_.setProcessChannelMode(QProcess::MergedChannels);
    process_.start(QStringLiteral("/usr/bin/python3"),
        {QStringLiteral("/usr/share/doc/python3-serial/examples/rfc2217_server.py"), QStringLiteral("-p"),
            QString::number(port_), QStringLiteral("-vv"), QStringLiteral("loop://")});
    return process_.waitForStarted(5000) && listening(port_, 10000);
}

void LoopbackRfc2217Server::stop()
{
    stopProcess(process_);
}

QByteArray LoopbackRfc2217Server::log()
{
    log_ += process_.readAll();
    return log_;
}
