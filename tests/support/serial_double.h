// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// The in-memory serial control. Its knobs, one per thing a real port does:
//   feed(bytes)          bytes arrive: queued for input(), OnComm with event 2
//   raise(event)         OnComm with any other event kind
//   writes()             every line handed to setOutput, in order (never drained)
//   failNext(op, text)   the next call of that operation throws with that text
//   setMissing(port)     opening that port number fails as a missing device
//   vanish(why)          the line goes away under an open port (a LineFailure,
//                        or only its account as text)
//   setPresent(port)     a missing port number's device is back
//   setKind(Network)     opens leave the line connecting until connectNow()
//                        or dropConnection(why)
//   watching()           whether the control was asked to watch for the device
//   log()                every operation, in order, e.g. "PortOpen=1"
//   setOnWrite(f)        f(bytes) after each write, to answer as a device would

#include <deque>
#include <functional>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "core/serial_control.h"

class SerialDouble : public SerialControl {
public:
    void setCommPort(std::int16_t port) override
    {
        record("CommPort=" + std::to_string(port), ControlOp::CommPort);
        port_ = port;
    }
    void setSettings(std::string_view settings) override
    {
        record("Settings=" + std::string(settings), ControlOp::Settings);
        settings_ = settings;
    }
    bool portOpen() const override { return open_; }
    void setPortOpen(bool open) override
    {
        record(std::string("PortOpen=") + (open ? "1" : "0"), ControlOp::PortOpen);
        if (open && missing_.count(port_))
            throw ControlError(
                ControlOp::PortOpen, failure(LineFailureKind::NoSuchDevice, "No such file or directory"));
        open_ = open;
        connected_ = open && kind_ == LineKind::Device;
    }
    bool connected() const override { return open_ && connected_; }
    LineKind lineKind() const override { return kind_; }
    void setWatching(bool on) override { watching_ = on; }
    std::string portLabel() const override { return "COM" + std::to_string(port_); }
    std::int16_t commPort() const override { return port_; }
    void setOutput(std::string_view bytes) override
    {
        record("Output", ControlOp::Output);
        if (!open_)
            throw ControlError(ControlOp::Output, failure(LineFailureKind::NotOpen));
        writes_.emplace_back(bytes);
        if (onWrite_)
            onWrite_(writes_.back());
    }
    void setOnWrite(std::function<void(const std::string &)> onWrite) { onWrite_ = std::move(onWrite); }
    std::string input() override
    {
        record("Input", ControlOp::Input);
        std::string all;
        all.swap(pending_);
        return all;
    }
    std::int16_t commEvent() const override { return event_; }
    LineFailure lostLine() const override { return lost_; }

    void feed(std::string_view bytes)
    {
        pending_ += bytes;
        raise(kCommEventReceive);
    }
    void raise(std::int16_t event)
    {
        event_ = event;
        raiseOnComm();
    }
    void failNext(ControlOp op, std::string description) { failures_[op] = std::move(description); }
    void setMissing(std::int16_t port) { missing_.insert(port); }
    void vanish(LineFailure why)
    {
        open_ = false;
        connected_ = false;
        lost_ = std::move(why);
        raise(kCommEventLineLost);
    }
    void vanish(std::string description) { vanish(otherFailure(std::move(description))); }
    // A failure of `kind` on the current port, as a real line would give it.
    LineFailure failure(LineFailureKind kind, std::string reason = {}) const
    {
        LineFailure why;
        why.kind = kind;
        why.label = portLabel();
        why.reason = std::move(reason);
        return why;
    }
    void setPresent(std::int16_t port) { missing_.erase(port); }
    void setKind(LineKind kind) { kind_ = kind; }
    void connectNow()
    {
        connected_ = true;
        raise(kCommEventConnected);
    }
    void dropConnection(LineFailure why) { vanish(std::move(why)); }
    bool watching() const { return watching_; }

    const std::vector<std::string> &writes() const { return writes_; }
    const std::vector<std::string> &log() const { return log_; }
    std::int16_t port() const { return port_; }
    const std::string &settings() const { return settings_; }

private:
    void record(std::string entry, ControlOp op)
    {
        log_.push_back(std::move(entry));
        const auto failure = failures_.find(op);
        if (failure != failures_.end()) {
            const std::string description = failure->second;
            failures_.erase(failure);
            throw ControlError(op, description);
        }
    }

    std::int16_t port_ = 1;
    std::string settings_ = "9600,N,8,1";
    bool open_ = false;
    bool connected_ = false;
    bool watching_ = false;
    LineKind kind_ = LineKind::Device;
    std::int16_t event_ = 0;
    std::string pending_;
    LineFailure lost_;
    std::vector<std::string> writes_;
    std::vector<std::string> log_;
    std::map<ControlOp, std::string> failures_;
    std::set<std::int16_t> missing_;
    std::function<void(const std::string &)> onWrite_;
};
