// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// A simulated QV550: its state, and the answer it gives to each command line.
// This is our model of the device for trying and testing the panel without
// one; the reply formats are documented in the simulator's --help.

#include <array>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>

enum class Power { Standby, CountDown, On, CoolingDown };

struct ProjectorState {
    Power power = Power::Standby;
    std::int64_t powerChangeAt = 0; // when a count down or cool down ends
    int inputMode = 1;
    bool pictureMute = false;
    bool soundMute = false;
    bool freeze = false;
    bool menu = false;
    bool fullScreen = false;
    int volume = 16;
    int zoom = 50;
    int focus = 50;
    int lensX = 0;
    int lensY = 0;
    int lampMode = 0;    // 0 four lamps, 1 lamps 1 and 4, 2 lamps 2 and 3
    int failedLamps = 0; // bit mask of lamps that will not light
    std::string orientation = "11";
    double temperature1 = 25.5;
    double temperature2 = 31.0;
    std::array<int, 4> lampHours = {123, 456, 789, 1011};
    int projectorHours = 2345;
    int pressureReading = 512;
    std::string fanSpeed = "NOR";
    std::string imageMode = "STANDPC";
    std::array<std::string, 4> inputSources = {"DIGITAL", "ANALOG", "VIDEO", "YPBPR"};
    bool signalPresent = true;
};

class ProjectorModel {
public:
    struct Timing {
        int countDownMs = 3000;
        int coolDownMs = 5000;
    };

    explicit ProjectorModel(int address = 1) : ProjectorModel(address, Timing{}) { }
    ProjectorModel(int address, Timing timing);

    // Bytes from the line; calls `heard` with each complete line (when given)
    // and `reply` with each answer, in order. Lines end in a carriage return;
    // a line feed is ignored.
    void receive(std::string_view bytes, std::int64_t nowMs, const std::function<void(std::string)> &reply,
        const std::function<void(std::string_view)> &heard = {});

    // The answer to one line without its carriage return, or nothing when the
    // line is for another projector or was sent to all.
    std::optional<std::string> answer(std::string_view line, std::int64_t nowMs);

    const ProjectorState &state() const { return state_; }
    ProjectorState &state() { return state_; }
    // The lamps that are lit now, as a bit mask (bit 0 is lamp 1).
    int litLamps() const;

private:
    void settle(std::int64_t nowMs);
    std::optional<std::string> command(std::string_view code, std::int64_t nowMs);
    std::optional<std::string> read(std::string_view keyword);
    std::optional<std::string> setting(std::string_view keyword, std::string_view value);

    int address_;
    Timing timing_;
    ProjectorState state_;
    std::string pending_;
};

inline constexpr char kAck[] = "\x06";
inline constexpr char kError[] = "ERR\r";
