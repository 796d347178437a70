// The library's debug log: one writer for every line, the settings it follows and the test sink.
// With debug mode off and no sink, LogEnabled() is false and nothing is formatted.
#pragma once

#include <atomic>
#include <cstdint>
#include <string>
#include <string_view>

namespace portiva {

enum class LogLevel { Detailed = 0, Dev = 1, Info = 2, Error = 3 };

using LogSink = void (*)(LogLevel level, bool indent, const char* text);

// How the log is switched, read once while the library loads.
struct DebugSettings {
    bool enabled = false;
    uint8_t threshold = 2; // lowest level written
    bool toWindow = false;
    std::string file;   // the log file; on Linux the window target follows this file too
    std::string source; // where "Debug" was read, for the notice
};

namespace detail {
// Lowest level anyone takes (the sink takes every level); 4 while nobody listens.
extern std::atomic<int> g_lowestLevel;
} // namespace detail

// True when a line of `level` would be written somewhere: a cheap check before formatting.
inline bool LogEnabled(LogLevel level) {
    return static_cast<int>(level) >= detail::g_lowestLevel.load(std::memory_order_relaxed);
}
// True when a line of any level would be written.
inline bool LogEnabled() {
    return LogEnabled(LogLevel::Error);
}

void ApplyDebugSettings(DebugSettings settings);
bool DebugEnabled();
const DebugSettings& CurrentDebugSettings();

// Every line also goes to the sink, whatever the settings (tests watch the log through it).
void SetLogSink(LogSink sink);

// The single writer: indent of 8 spaces, the level's 7-character tag, a space, the text. Does
// nothing unless a sink listens or debug mode is on and level is at least the threshold. A log
// that cannot be written is given up silently: it never fails a call.
void WriteLog(LogLevel level, bool indent, std::string_view text) noexcept;

// The line as the file and the window show it.
std::string FormatLogLine(LogLevel level, bool indent, std::string_view text);

} // namespace portiva
