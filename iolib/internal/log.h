// The library's trace seam. Nothing is formatted unless a log sink is installed.
#pragma once

#include <string>
#include <string_view>

namespace portiva {

enum class LogLevel { Detailed = 0, Dev = 1, Info = 2, Error = 3 };

using LogSink = void (*)(LogLevel level, bool indent, const char* text);

bool LogEnabled();
void SetLogSink(LogSink sink);
void WriteLog(LogLevel level, bool indent, std::string_view text) noexcept;

} // namespace portiva
