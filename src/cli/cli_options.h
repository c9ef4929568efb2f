// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// The command line of qv550-cli, parsed without Qt so that every usage error
// is caught, described and tested alike.

#include <optional>
#include <string>
#include <vector>

struct CliRequest {
    enum Verb {
        Command,
        Send,
        List,
        Ports,
        Wait,
        Help,
        Version,
        Sequence,
        State,
        Scene,
        Scenes,
        SceneCancel
    };
    Verb verb = Help;
    std::string command;               // the command's name, for Command
    std::vector<std::string> sequence; // the commands' names, for Sequence
    std::string argument;              // the line for Send, the status for Wait, the scene's name
    std::optional<std::string> port;   // --port; otherwise the panel's COM1
    std::string settings = "19200,N,8,1";
    bool speedGiven = false;
    std::string configPath;         // --config: a qv550d config file
    std::string addressPrefix;      // "" for a single projector
    std::string address = "single"; // the --address word
    std::optional<int> timeoutMs;   // --timeout
    int lineWaitMs = 10000;         // --line-wait: how long to wait for a busy line
    bool json = false;
    std::string logPath;    // --log; empty: no log
    std::string scenesPath; // --scenes: run scenes here when no owner does
};

// Parses the arguments after the program's name; on a usage error returns
// nothing and says why in `whyNot`.
std::optional<CliRequest> parseCliArguments(const std::vector<std::string> &arguments, std::string &whyNot);

extern const char *const kCliUsage;
