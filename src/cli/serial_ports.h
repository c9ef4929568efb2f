// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// The serial ports the system knows, for 'qv550-cli ports': each with the
// /dev/serial/by-id names that lead to it, so the user can name an adapter
// by what it is rather than by the number it happened to get.

#include <iosfwd>

// Prints one line per port; returns how many there were.
int listSerialPorts(std::ostream &out);
