// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// The failure of a control or port operation. A handler that meets one stops
// at that step (what it did before stays done). A failure of the line itself
// carries its kind and facts; the description is its account, what the user
// is shown where no program adds words of its own.

#include <stdexcept>
#include <string>

#include "core/line_failure.h"

enum class ControlOp { CommPort, Settings, PortOpen, Output, Input, CommEvent };

class ControlError : public std::runtime_error {
public:
    ControlError(ControlOp op, const std::string &description)
        : std::runtime_error(description), op_(op), failure_(otherFailure(description))
    { }
    ControlError(ControlOp op, LineFailure failure)
        : std::runtime_error(lineFailureText(failure)), op_(op), failure_(std::move(failure))
    { }
    ControlOp op() const { return op_; }
    std::string description() const { return what(); }
    const LineFailure &failure() const { return failure_; }
    LineFailureKind kind() const { return failure_.kind; }

private:
    ControlOp op_;
    LineFailure failure_;
};
