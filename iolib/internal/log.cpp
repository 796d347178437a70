#include "internal/log.h"

#include "debuglog/debug_config.h"
#ifdef _WIN32
#include "debuglog/debug_window.h"
#endif

namespace portiva {

namespace detail {
std::atomic<int> g_lowestLevel{4};
} // namespace detail

namespace {

constexpr int kNobody = 4;

std::atomic<LogSink> g_sink{nullptr};

// Constructed on first use: the settings are applied while the library loads, possibly before
// the static objects of other files exist.
DebugSettings& Settings() {
    static DebugSettings settings;
    return settings;
}

void UpdateLowestLevel() {
    int lowest = kNobody;
    const DebugSettings& s = Settings();
    if (s.enabled) {
        lowest = s.threshold;
    }
    if (g_sink.load()) {
        lowest = 0;
    }
    detail::g_lowestLevel.store(lowest, std::memory_order_relaxed);
}

constexpr const char* kTags[] = {"[DETLD]", "[DEV]  ", "[INFO] ", "[ERROR]"};

#ifndef _WIN32
// The window target on Linux is a separate viewer following the log file; it is started once,
// with the file's size before this library's first line so that it shows this session.
bool g_viewerStarted = false;
#endif

} // namespace

void ApplyDebugSettings(DebugSettings settings) {
    if (settings.threshold > 3) {
        settings.threshold = 3;
    }
    Settings() = std::move(settings);
    UpdateLowestLevel();
}

bool DebugEnabled() {
    return Settings().enabled;
}

const DebugSettings& CurrentDebugSettings() {
    return Settings();
}

void SetLogSink(LogSink sink) {
    g_sink.store(sink);
    UpdateLowestLevel();
}

std::string FormatLogLine(LogLevel level, bool indent, std::string_view text) {
    std::string line;
    line.reserve(16 + text.size());
    if (indent) {
        line.append(8, ' ');
    }
    line += kTags[static_cast<int>(level) & 3];
    line += ' ';
    line += text;
    return line;
}

void WriteLog(LogLevel level, bool indent, std::string_view text) noexcept {
    if (!LogEnabled(level)) {
        return;
    }
    try {
        if (const LogSink sink = g_sink.load()) {
            sink(level, indent, std::string(text).c_str());
        }
        const DebugSettings& s = Settings();
        if (!s.enabled || static_cast<int>(level) < s.threshold) {
            return;
        }
        const std::string line = FormatLogLine(level, indent, text);
#ifdef _WIN32
        if (s.toWindow) {
            DebugWindowAddLine(level, line);
            return;
        }
        AppendLogLine(s.file, line);
#else
        const bool startViewer = s.toWindow && !g_viewerStarted;
        const uint64_t sizeBefore = startViewer ? FileSize(s.file) : 0;
        if (AppendLogLine(s.file, line) && startViewer) {
            g_viewerStarted = true;
            StartDebugViewer(s.file, sizeBefore);
        }
#endif
    } catch (...) {
        // A line that cannot be formatted or written is dropped; logging never fails a call.
    }
}

} // namespace portiva
