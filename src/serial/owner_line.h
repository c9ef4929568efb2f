// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// A line served by another program of ours (qv550d, or another panel): the
// panel that finds its line owned talks through the owner, as a client,
// instead of being shut out. Each line written is one request to the owner;
// its reply's bytes arrive as the line's own would. The owner going away is
// a lost line: the keeper tries again, and finds the device free or a new
// owner.

#include <QLocalSocket>

#include <map>
#include <string>

#include "protocol/json_lines.h"
#include "serial/line.h"

class OwnerLine : public Line {
public:
    OwnerLine(std::string socketPath, std::string label);

    void open(const LineSettings &settings) override;
    void close() override;
    bool isOpen() const override { return open_; }
    bool isConnected() const override { return open_ && socket_.state() == QLocalSocket::ConnectedState; }
    void applySettings(const LineSettings &settings, ControlOp op) override;
    void write(std::string_view bytes) override;
    std::string readAll() override;
    LineKind kind() const override { return LineKind::Network; }

private:
    void request(const class QJsonObject &object);
    void onReadyRead();
    LineFailure failure(LineFailureKind kind) const;

    std::string path_;
    std::string label_;
    QLocalSocket socket_;
    std::string inbox_;
    JsonLineReader replies_{1 << 20};
    int nextId_ = 1;
    bool open_ = false;
};
