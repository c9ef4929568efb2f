// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// What every benchmark program prints and reads: a figure beside its goal,
// percentiles, and a process's memory, context switches and CPU time.

#include <QDir>
#include <QString>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <iterator>
#include <numeric>
#include <sstream>
#include <string>
#include <unistd.h>
#include <vector>

using Clock = std::chrono::steady_clock;

inline double msSince(Clock::time_point from, Clock::time_point to)
{
    return std::chrono::duration<double, std::milli>(to - from).count();
}

inline double percentile(std::vector<double> values, double p)
{
    if (values.empty())
        return 0.0;
    std::sort(values.begin(), values.end());
    const auto index = static_cast<std::size_t>(p / 100.0 * static_cast<double>(values.size() - 1) + 0.5);
    return values[std::min(index, values.size() - 1)];
}

inline double mean(const std::vector<double> &values)
{
    return values.empty()
        ? 0.0
        : std::accumulate(values.begin(), values.end(), 0.0) / static_cast<double>(values.size());
}

struct Row {
    std::string figure;
    std::string value;
    std::string goal;
    bool met;
};
inline std::vector<Row> rows;

inline std::string fixed(double value, int decimals = 2)
{
    char text[64];
    std::snprintf(text, sizeof text, "%.*f", decimals, value);
    return text;
}

inline void report(const std::string &figure, const std::string &value, const std::string &goal, bool met)
{
    rows.push_back({figure, value, goal, met});
    std::printf(
        "  %-46s %-22s goal %-18s %s\n", figure.c_str(), value.c_str(), goal.c_str(), met ? "met" : "MISSED");
    std::fflush(stdout);
}

inline long residentKb(pid_t pid)
{
    std::ifstream status("/proc/" + std::to_string(pid) + "/status");
    std::string line;
    while (std::getline(status, line)) {
        if (line.rfind("VmRSS:", 0) == 0)
            return std::stol(line.substr(6));
    }
    return -1;
}

// A process's memory from the kernel's own sums, in MB: resident (shared
// libraries counted whole in every process), proportional (each shared page
// split among those that map it) and unique (pages only this process has:
// what one more qv550d costs).
struct Memory {
    double rss = 0, pss = 0, uss = 0;
};

inline Memory memoryOf(pid_t pid)
{
    Memory memory;
    std::ifstream rollup("/proc/" + std::to_string(pid) + "/smaps_rollup");
    std::string line;
    while (std::getline(rollup, line)) {
        const auto kb = [&](const char *key) {
            return line.rfind(key, 0) == 0 ? std::stod(line.substr(std::strlen(key))) / 1024.0 : 0.0;
        };
        memory.rss += kb("Rss:");
        memory.pss += kb("Pss:");
        memory.uss += kb("Private_Clean:") + kb("Private_Dirty:");
    }
    return memory;
}

inline long contextSwitches(pid_t pid)
{
    long total = 0;
    const std::string tasks = "/proc/" + std::to_string(pid) + "/task";
    for (const QString &task :
        QDir(QString::fromStdString(tasks)).entryList(QDir::Dirs | QDir::NoDotAndDotDot)) {
        std::ifstream status(tasks + "/" + task.toStdString() + "/status");
        std::string line;
        while (std::getline(status, line)) {
            if (line.find("ctxt_switches:") != std::string::npos)
                total += std::stol(line.substr(line.find(':') + 1));
        }
    }
    return total;
}

inline double processCpuSeconds(pid_t pid)
{
    std::ifstream stat("/proc/" + std::to_string(pid) + "/stat");
    std::string text((std::istreambuf_iterator<char>(stat)), std::istreambuf_iterator<char>());
    std::istringstream fields(text.substr(text.rfind(')') + 2));
    std::string field;
    double ticks = 0;
    for (int i = 3; i <= 15 && fields >> field; ++i) {
        if (i == 14 || i == 15)
            ticks += std::stod(field);
    }
    return ticks / static_cast<double>(sysconf(_SC_CLK_TCK));
}
