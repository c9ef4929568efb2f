// SPDX-License-Identifier: GPL-3.0-or-later
// Each entry is flushed at once: the log is read while the line runs, and
// must hold the last exchange before a crash or a pulled plug.

#include "serial/traffic_log.h"

#include <chrono>
#include <cstdio>
#include <ctime>

#include "core/monitor_text.h"

namespace {

std::string utcNow()
{
    const auto now = std::chrono::system_clock::now();
    const std::time_t seconds = std::chrono::system_clock::to_time_t(now);
    const auto millis
        = std::chrono::duration_cast<std::chrono::milliseconds>(now.time_since_epoch()).count() % 1000;
    std::tm utc{};
    gmtime_r(&seconds, &utc);
    char text[64];
    std::snprintf(text, sizeof text, "%04d-%02d-%02dT%02d:%02d:%02d.%03dZ", utc.tm_year + 1900, utc.tm_mon + 1,
        utc.tm_mday, utc.tm_hour, utc.tm_min, utc.tm_sec, static_cast<int>(millis));
    return text;
}

} // namespace

TrafficLog::TrafficLog(SerialControl &line, const std::string &path) : line_(line), file_(path, std::ios::app)
{
    line_.setOnComm([this] {
        // What the line set aside on connecting is logged for what it was.
        if (line_.commEvent() == kCommEventConnected) {
            if (const std::string discarded = line_.takeDiscarded(); !discarded.empty())
                write("discarded", discarded);
        }
        raiseOnComm();
    });
}

std::string TrafficLog::entry(std::string_view when, std::string_view direction, std::string_view bytes)
{
    std::string out(when);
    out += ' ';
    out += direction;
    out += ' ';
    out += hexText(bytes, " ");
    out += " |";
    out += monitorText(bytes);
    return out;
}

void TrafficLog::setOutput(std::string_view bytes)
{
    // Only what reached the line is "sent"; a refusal is logged as such.
    try {
        line_.setOutput(bytes);
    } catch (const ControlError &error) {
        note("not-sent", error.description());
        throw;
    }
    write("sent", bytes);
}

void TrafficLog::note(std::string_view what, std::string_view why)
{
    std::string line = utcNow() + ' ' + std::string(what) + ' ';
    for (const char c : why)
        line += (c == '\n' || c == '\r') ? ' ' : c;
    append(line);
}

std::string TrafficLog::input()
{
    std::string arrived = line_.input();
    if (!arrived.empty())
        write("received", arrived);
    return arrived;
}

void TrafficLog::write(std::string_view direction, std::string_view bytes)
{
    append(entry(utcNow(), direction, bytes));
}

void TrafficLog::append(const std::string &line)
{
    file_ << line << '\n';
    file_.flush();
}
