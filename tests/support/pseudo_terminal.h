// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// A pseudo-terminal pair opened by the test: the panel opens the device end
// by its path, the test holds the far end. Closing the far end is a
// repeatable unplug.

#include <string>

class PseudoTerminal {
public:
    PseudoTerminal();
    ~PseudoTerminal();
    PseudoTerminal(const PseudoTerminal &) = delete;
    PseudoTerminal &operator=(const PseudoTerminal &) = delete;

    const std::string &devicePath() const { return path_; }
    void write(const std::string &bytes);
    // What arrived at the far end within `milliseconds`, stopping early once
    // `atLeast` bytes are in.
    std::string read(int milliseconds, std::size_t atLeast = SIZE_MAX);
    void closeFarEnd();

private:
    int master_ = -1;
    std::string path_;
};
