// The Windows debug window: a coloured log with four commands, created on the first line it shows.
#pragma once

#include <string>

#include "internal/log.h"

namespace portiva {

// Adds one formatted line in the level's colour; creates and shows the window first when there
// is none (it starts with the introduction text). Runs in the thread that calls the exports.
void DebugWindowAddLine(LogLevel level, const std::string& line) noexcept;

// The library unloads: the window is forgotten, not destroyed.
void ForgetDebugWindow() noexcept;

} // namespace portiva
