// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// Scenes: what a room wants done in one go ("presentation": power on, wait
// until the projector is really on, input 2), read from a JSON file of named
// scenes, each a list of steps:
//   {"command": "power-on"}                   a command by name
//   {"send": "C06"}                           any line; the CR is added
//       either may carry "address" (single, all, 1-4), "timeout_s" (its
//       reply watch) and "retry": {"count": 5, "interval_s": 2}, for a
//       projector that answers ERR while it is busy
//   {"wait": {"status": "Power ON"}, "timeout_s": 120}
//                                             until the live state shows it
//   {"expect": {"mode": "Input mode 2"}, "timeout_s": 15}
//                                             the same, asking the projector
//   {"delay_s": 2}                            a fixed pause
// and any step "on_error": "continue". A condition names values as
// `qv550-cli state --json` does; a value is one text or a list of texts,
// any of which will do. The whole file is checked when it is read: a
// command, a key or a text that cannot be is refused with the file, the
// scene, the step and why, so that nothing fails half-way through a room's
// morning for a typing error.

#include <optional>
#include <string>
#include <string_view>
#include <vector>

struct SceneCondition {
    std::size_t row = 0;            // the kLiveQueries row
    std::vector<std::string> anyOf; // as the decoder gives them, without a leading blank
};

struct SceneStep {
    enum class Kind { Command, Send, Wait, Expect, Delay };
    Kind kind = Kind::Command;
    std::string what;    // the command's name, or the line to send
    std::string address; // the address word; empty: none
    int retries = 0;
    int retryIntervalMs = 1000;
    std::vector<SceneCondition> conditions;
    int timeoutMs = 0; // a wait's or expect's limit; a command's reply watch (0: its own)
    int delayMs = 0;
    bool continueOnError = false;

    // "command power-on", "wait status = Power ON", "delay 2 s": for
    // progress lines and the journal.
    std::string describe() const;
    bool sends() const { return kind == Kind::Command || kind == Kind::Send; }
};

struct Scene {
    std::string name;
    std::vector<SceneStep> steps;
};

struct SceneBook {
    static constexpr int kDefaultWaitS = 60;
    static constexpr int kDefaultExpectS = 15;
    static constexpr int kLongestS = 3600;
    static constexpr std::size_t kLongestFile = 1 << 20;
    static constexpr std::size_t kMostSteps = 1000;

    std::string file;
    std::vector<Scene> scenes; // by name
    const Scene *find(std::string_view name) const;
};

// The scenes of `json`, read from `file`; on a fault nothing, and in
// `whyNot` "FILE: scene "NAME", step N: why".
std::optional<SceneBook> parseScenes(std::string_view json, const std::string &file, std::string &whyNot);
// The same, from the file at `path`.
std::optional<SceneBook> readSceneFile(const std::string &path, std::string &whyNot);

// Whether `shown` (a live value's text) is `wanted`, blanks aside: the
// decoders' texts carry padding ("All ON  : 4 Lamp mode") no one types.
bool sceneTextMatches(std::string_view shown, std::string_view wanted);
