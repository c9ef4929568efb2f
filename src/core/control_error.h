// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// The failure of a control or port operation. A handler that meets one stops
// at that step (what it did before stays done); the description is the
// control's own text and is what the user is shown.

#include <stdexcept>
#include <string>

enum class ControlOp { CommPort, Settings, PortOpen, Output, Input, CommEvent };

class ControlError : public std::runtime_error {
public:
    ControlError(ControlOp op, const std::string &description) : std::runtime_error(description), op_(op) { }
    ControlOp op() const { return op_; }
    std::string description() const { return what(); }

private:
    ControlOp op_;
};
