// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// A simulated projector on a real line: a new pseudo-terminal whose other end
// the panel opens, or a serial device given by path (two USB adapters and a
// null-modem cable). It answers through ProjectorModel and can misbehave on
// purpose: late replies, replies in pieces, silence, noise and floods.

#include <QElapsedTimer>
#include <QObject>

#include <cstdint>
#include <fstream>
#include <functional>
#include <memory>
#include <random>
#include <string>

#include "simulator/projector_model.h"

class QSocketNotifier;
class QTimer;

struct SimOptions {
    int address = 1;
    int replyDelayMs = 0;
    int pieceSize = 0;    // bytes per piece of a reply; 0 sends it whole
    int pieceGapMs = 0;   // between two pieces
    bool silent = false;  // never answers
    int noisePercent = 0; // replies with random bytes of any code mixed in
    std::uint32_t randomState = 1;
    int floodBaud = 0;    // sends random bytes without pause at this line speed
    int baudRate = 19200; // for a real device
    std::string logPath;  // every line received, with a timestamp
    ProjectorModel::Timing timing;
};

class SimulatedProjector : public QObject {
public:
    // On a new pseudo-terminal; devicePath() is the end for the panel.
    static std::unique_ptr<SimulatedProjector> onNewPseudoTerminal(
        const SimOptions &options, std::string &error);
    // On an existing serial device.
    static std::unique_ptr<SimulatedProjector> onDevice(
        const std::string &path, const SimOptions &options, std::string &error);
    ~SimulatedProjector() override;

    const std::string &devicePath() const { return devicePath_; }
    ProjectorModel &model() { return model_; }
    // Stops answering, or answers again, as a projector that hangs a while.
    void setSilent(bool silent) { options_.silent = silent; }
    bool silent() const { return options_.silent; }
    // Goes away like an unplugged cable: the line is closed for good.
    void vanish();
    // Called once when the line hangs up under it (the device was unplugged).
    void setOnLineLost(std::function<void()> handler) { onLineLost_ = std::move(handler); }

private:
    SimulatedProjector(int fd, int heldFd, std::string devicePath, const SimOptions &options);
    void onReadable();
    void send(std::string reply);
    void writeNow(const std::string &bytes);
    void flood();
    void log(std::string_view line);

    int fd_;
    int heldFd_; // our own hold on a pseudo-terminal's device end, so it never hangs up
    std::string devicePath_;
    SimOptions options_;
    ProjectorModel model_;
    QSocketNotifier *notifier_ = nullptr;
    QTimer *floodTimer_ = nullptr;
    QElapsedTimer clock_;
    std::int64_t floodSent_ = 0;
    std::mt19937 random_;
    std::ofstream log_;
    std::function<void()> onLineLost_;
};

// Our model's reply formats, for --help and the README.
extern const char *const kReplyFormats;
