// Where the debug settings come from and where the log goes, per platform.
//
// Windows: HKEY_LOCAL_MACHINE\Software\PortivaDll, values "Debug" and "Target"; the log file is
// C:\portivadll_dbg.txt, the window is the library's own.
//
// Linux has no registry. The same two numbers come from the environment, PORTIVA_DEBUG and
// PORTIVA_DEBUG_TARGET, and where a variable is not set from the first configuration file that
// exists of $XDG_CONFIG_HOME/portiva/portiva.conf (~/.config/portiva/portiva.conf) and
// /etc/portiva.conf. The file holds key=value lines:
//     # debug log of the Portiva library
//     Debug=1      0 off; 1..127 information and errors; 128 and above (or negative) all levels
//     Target=1     0 the debug viewer (it follows the log file), any other value the file only
// Keys are matched without regard to case, blanks around keys and values are ignored, and lines
// starting with '#', ';' or '[' are comments. The log file is $XDG_STATE_HOME/portiva/
// portivadll_dbg.txt (~/.local/state/portiva/portivadll_dbg.txt), its folder created when
// missing; PORTIVA_DEBUG_FILE names another file. The viewer is the program portiva-debugview
// beside the library or on the PATH, started once when a display is present; PORTIVA_DEBUGVIEW
// names another program, and set to an empty value starts none.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "internal/log.h"

namespace portiva {

// The two registry numbers turned into settings: debug on for any non-zero value, all levels
// for 128 and above taken unsigned; the target only counts when "Debug" exists.
DebugSettings SettingsFromValues(std::optional<uint32_t> debug, std::optional<uint32_t> target);

// Reads the platform's settings (and names the log file); nothing is shown or written.
DebugSettings ReadDebugSettings();

// The notice that debug mode is on: a message box on Windows, one text on stderr elsewhere.
void ShowDebugModeNotice(const DebugSettings& settings);

// "Windows version: " text on Windows; the kernel's name, release and version elsewhere.
std::string SystemDescription();

// Appends one line to the file (opened and closed for it); false when it could not be written.
bool AppendLogLine(const std::string& file, const std::string& line) noexcept;

#ifndef _WIN32
uint64_t FileSize(const std::string& file) noexcept;
// Starts the viewer on `file` from byte `offset`, detached; never waits for it.
void StartDebugViewer(const std::string& file, uint64_t offset) noexcept;
#endif

// The values of a configuration file's text; a value that is no number counts as absent.
struct DebugConfigValues {
    std::optional<uint32_t> debug;
    std::optional<uint32_t> target;
};
DebugConfigValues ParseDebugConfig(std::string_view text);

// Parses an integer value as the configuration file and the environment give it ("1", "-1",
// "200", "0x80"); nullopt for text that is no number.
std::optional<uint32_t> ParseDebugNumber(std::string_view text);

} // namespace portiva
