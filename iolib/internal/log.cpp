#include "internal/log.h"

namespace portiva {
namespace {
LogSink g_sink = nullptr;
}

bool LogEnabled() {
    return g_sink != nullptr;
}

void SetLogSink(LogSink sink) {
    g_sink = sink;
}

void WriteLog(LogLevel level, bool indent, std::string_view text) noexcept {
    if (!g_sink) {
        return;
    }
    try {
        g_sink(level, indent, std::string(text).c_str());
    } catch (...) {
        // A line that cannot be formatted is dropped; logging never fails a call.
    }
}

} // namespace portiva
