// The Windows debug window: a coloured log with four commands, created on the first line it shows.
#pragma once

#include <string>

#include "internal/log.h"

namespace portiva {

// Adds one formatted line in the level's colour; creates and shows the window first when there
// is none (it starts with the introduction text). Runs in the thread that calls the exports.
void DebugWindowAddLine(LogLevel level, const std::string& line) noexcept;

// Lines written while the library loads wait for the first call of an export: the window is not
// made under the loader's lock, and it belongs to the thread that calls the exports.
void DeferDebugWindow(bool defer) noexcept;

// The library unloads: the window is forgotten, or destroyed when the library is freed by the
// window's own thread while the process goes on.
void ForgetDebugWindow(bool libraryFreed) noexcept;

} // namespace portiva
