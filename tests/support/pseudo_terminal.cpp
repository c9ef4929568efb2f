// SPDX-License-Identifier: GPL-3.0-or-later
// openpty() and poll() on the far end.

#include "pseudo_terminal.h"

#include <chrono>
#include <cstdint>
#include <poll.h>
#include <pty.h>
#include <stdexcept>
#include <termios.h>
#include <unistd.h>

PseudoTerminal::PseudoTerminal()
{
    int slave = -1;
    char name[256] = {};
    if (openpty(&master_, &slave, name, nullptr, nullptr) != 0)
        throw std::runtime_error("openpty failed");
    termios raw{};
    tcgetattr(slave, &raw);
    cfmakeraw(&raw);
    tcsetattr(slave, TCSANOW, &raw);
    path_ = name;
    close(slave);
}

PseudoTerminal::~PseudoTerminal()
{
    closeFarEnd();
}

void PseudoTerminal::write(const std::string &bytes)
{
    std::size_t done = 0;
    while (done < bytes.size()) {
        const ssize_t n = ::write(master_, bytes.data() + done, bytes.size() - done);
        if (n <= 0)
            throw std::runtime_error("write to the pseudo-terminal failed");
        done += static_cast<std::size_t>(n);
    }
}

std::string PseudoTerminal::read(int milliseconds, std::size_t atLeast)
{
    using Clock = std::chrono::steady_clock;
    const auto deadline = Clock::now() + std::chrono::milliseconds(milliseconds);
    std::string got;
    while (got.size() < atLeast) {
        const auto micros
            = std::chrono::duration_cast<std::chrono::microseconds>(deadline - Clock::now()).count();
        if (micros <= 0)
            break;
        const auto left = (micros + 999) / 1000; // poll() takes whole milliseconds
        pollfd fd{master_, POLLIN, 0};
        if (poll(&fd, 1, static_cast<int>(left)) <= 0)
            break;
        char buffer[4096];
        const ssize_t n = ::read(master_, buffer, sizeof buffer);
        if (n <= 0)
            break;
        got.append(buffer, static_cast<std::size_t>(n));
    }
    return got;
}

void PseudoTerminal::closeFarEnd()
{
    if (master_ >= 0)
        close(master_);
    master_ = -1;
}
