#include "debuglog/debug_config.h"

#include "api/version.h"

#include <cctype>
#include <cstdlib>
#include <cstring>

#ifdef _WIN32
#include <windows.h>
#else
#include <dlfcn.h>
#include <fcntl.h>
#include <pwd.h>
#include <signal.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/utsname.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <fstream>
#include <vector>

extern char** environ;
#endif

namespace portiva {

namespace {

std::string_view Trim(std::string_view text) {
    while (!text.empty() && std::isspace(static_cast<unsigned char>(text.front()))) {
        text.remove_prefix(1);
    }
    while (!text.empty() && std::isspace(static_cast<unsigned char>(text.back()))) {
        text.remove_suffix(1);
    }
    return text;
}

} // namespace

std::optional<uint32_t> ParseDebugNumber(std::string_view text) {
    text = Trim(text);
    bool negative = false;
    if (!text.empty() && (text.front() == '-' || text.front() == '+')) {
        negative = text.front() == '-';
        text.remove_prefix(1);
    }
    unsigned base = 10;
    if (text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X')) {
        base = 16;
        text.remove_prefix(2);
    }
    if (text.empty()) {
        return std::nullopt;
    }
    uint64_t value = 0;
    for (const char c : text) {
        unsigned digit = 0;
        if (c >= '0' && c <= '9') {
            digit = static_cast<unsigned>(c - '0');
        } else if (base == 16 && std::isxdigit(static_cast<unsigned char>(c))) {
            digit = static_cast<unsigned>(std::tolower(static_cast<unsigned char>(c)) - 'a' + 10);
        } else {
            return std::nullopt;
        }
        value = value * base + digit;
        if (value > 0xFFFFFFFFull) {
            return std::nullopt; // no 32-bit registry value
        }
    }
    if (negative) {
        if (value > 0x80000000ull) {
            return std::nullopt;
        }
        // A negative integer as the registry stores it: two's complement.
        return static_cast<uint32_t>(0x100000000ull - value);
    }
    return static_cast<uint32_t>(value);
}

DebugSettings SettingsFromValues(std::optional<uint32_t> debug, std::optional<uint32_t> target) {
    DebugSettings settings;
    if (!debug || *debug == 0) {
        return settings;
    }
    settings.enabled = true;
    settings.threshold = *debug >= 128 ? 0 : 2;
    settings.toWindow = !(target && *target != 0);
    return settings;
}

namespace {
bool SameKey(std::string_view a, std::string_view b) {
    if (a.size() != b.size()) {
        return false;
    }
    for (size_t i = 0; i < a.size(); ++i) {
        if (std::tolower(static_cast<unsigned char>(a[i])) !=
            std::tolower(static_cast<unsigned char>(b[i]))) {
            return false;
        }
    }
    return true;
}
} // namespace

DebugConfigValues ParseDebugConfig(std::string_view text) {
    DebugConfigValues values;
    while (!text.empty()) {
        const size_t end = text.find('\n');
        const std::string_view line = Trim(text.substr(0, end));
        text = end == std::string_view::npos ? std::string_view() : text.substr(end + 1);
        if (line.empty() || line[0] == '#' || line[0] == ';' || line[0] == '[') {
            continue;
        }
        const size_t equals = line.find('=');
        if (equals == std::string_view::npos) {
            continue;
        }
        const std::string_view key = Trim(line.substr(0, equals));
        const std::string_view value = line.substr(equals + 1);
        if (SameKey(key, "Debug")) {
            values.debug = ParseDebugNumber(value);
        } else if (SameKey(key, "Target")) {
            values.target = ParseDebugNumber(value);
        }
    }
    return values;
}

#ifdef _WIN32

namespace {
bool ReadDword(HKEY key, const char* name, uint32_t& value) {
    DWORD type = 0;
    DWORD data = 0;
    DWORD size = sizeof data;
    if (RegQueryValueExA(key, name, nullptr, &type, reinterpret_cast<BYTE*>(&data), &size) !=
            ERROR_SUCCESS ||
        type != REG_DWORD || size != sizeof data) {
        return false;
    }
    value = data;
    return true;
}
} // namespace

DebugSettings ReadDebugSettings() {
    std::optional<uint32_t> debug;
    std::optional<uint32_t> target;
    HKEY key = nullptr;
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, "Software\\PortivaDll", 0, KEY_READ, &key) ==
        ERROR_SUCCESS) {
        uint32_t value = 0;
        if (ReadDword(key, "Debug", value)) {
            debug = value;
            if (ReadDword(key, "Target", value)) {
                target = value;
            }
        }
        RegCloseKey(key);
    }
    DebugSettings settings = SettingsFromValues(debug, target);
    settings.file = "C:\\portivadll_dbg.txt";
    settings.source = "HKEY_LOCAL_MACHINE\\Software\\PortivaDll\\Debug";
    return settings;
}

void ShowDebugModeNotice(const DebugSettings& settings) {
    const std::string text = "The Debug mode of PortivaDll is activated.\r"
                             "To disable it, set the registry value:\r\"" +
                             settings.source + "\"\rto zero.";
    MessageBoxA(nullptr, text.c_str(), "PortivaDll", MB_OK | MB_ICONINFORMATION);
}

std::string SystemDescription() {
    OSVERSIONINFOA info{};
    info.dwOSVersionInfoSize = sizeof info;
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wdeprecated-declarations"
    if (!GetVersionExA(&info)) {
        return {};
    }
#pragma GCC diagnostic pop
    const DWORD major = info.dwMajorVersion;
    const DWORD minor = info.dwMinorVersion;
    const DWORD platform = info.dwPlatformId;
    const char* name = "";
    if (major == 3) {
        name = "Windows NT 3.51";
    } else if (major == 4 && minor == 0) {
        name = platform == 2 ? "Windows NT4.0" : "Windows 95";
    } else if (major == 4 && minor == 10) {
        name = "Windows 98";
    } else if (major == 4 && minor == 90) {
        name = "Windows Me";
    } else if (major == 5 && minor == 0) {
        name = "Windows 2000";
    } else if (major == 5 && minor == 1) {
        name = "Windows XP";
    } else if (major == 5 && minor == 2) {
        name = "Windows Server 2003 family";
    }
    // Windows 9x keeps the version in the build number's high word.
    const DWORD build =
        platform == VER_PLATFORM_WIN32_WINDOWS ? (info.dwBuildNumber & 0xFFFF) : info.dwBuildNumber;
    return std::string(name) + " (" + std::to_string(major) + "." + std::to_string(minor) + "-" +
           std::to_string(platform) + ") Build " + std::to_string(build) + " " + info.szCSDVersion;
}

bool AppendLogLine(const std::string& file, const std::string& line) noexcept {
    HANDLE handle = CreateFileA(file.c_str(), FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                nullptr, OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (handle == INVALID_HANDLE_VALUE) {
        return false;
    }
    bool ok = true;
    for (const std::string_view part : {std::string_view(line), std::string_view("\r\n")}) {
        DWORD written = 0;
        ok = ok &&
             WriteFile(handle, part.data(), static_cast<DWORD>(part.size()), &written, nullptr) &&
             written == part.size();
    }
    CloseHandle(handle);
    return ok;
}

#else

namespace {

std::optional<std::string> Env(const char* name) {
    const char* value = std::getenv(name);
    if (!value) {
        return std::nullopt;
    }
    return std::string(value);
}

std::string HomeFolder() {
    if (const char* home = std::getenv("HOME"); home && home[0] == '/') {
        return home;
    }
    std::vector<char> buffer(16384);
    passwd entry{};
    passwd* found = nullptr;
    if (getpwuid_r(getuid(), &entry, buffer.data(), buffer.size(), &found) == 0 && found &&
        found->pw_dir && found->pw_dir[0] == '/') {
        return found->pw_dir;
    }
    return {};
}

// $XDG_<name>_HOME when set to an absolute path, else ~/<fallback>.
std::string XdgFolder(const char* variable, const char* fallback) {
    if (const char* value = std::getenv(variable); value && value[0] == '/') {
        return value;
    }
    const std::string home = HomeFolder();
    return home.empty() ? std::string() : home + "/" + fallback;
}

// The first configuration file that exists, read up to 64 KiB.
std::optional<std::pair<std::string, DebugConfigValues>> ReadConfigFile() {
    std::vector<std::string> candidates;
    if (const std::string config = XdgFolder("XDG_CONFIG_HOME", ".config"); !config.empty()) {
        candidates.push_back(config + "/portiva/portiva.conf");
    }
    candidates.push_back("/etc/portiva.conf");
    for (const std::string& file : candidates) {
        std::ifstream in(file, std::ios::binary);
        if (!in) {
            continue;
        }
        std::string text(64 * 1024, '\0');
        in.read(text.data(), static_cast<std::streamsize>(text.size()));
        text.resize(static_cast<size_t>(in.gcount()));
        return std::make_pair(file, ParseDebugConfig(text));
    }
    return std::nullopt;
}

bool MakeFolders(const std::string& folder) {
    if (folder.empty()) {
        return false;
    }
    struct stat info {};
    if (stat(folder.c_str(), &info) == 0) {
        return S_ISDIR(info.st_mode);
    }
    const size_t slash = folder.find_last_of('/');
    if (slash != std::string::npos && slash > 0 && !MakeFolders(folder.substr(0, slash))) {
        return false;
    }
    return mkdir(folder.c_str(), 0700) == 0 || errno == EEXIST;
}

int OpenForAppend(const std::string& file) {
    // Non-blocking, so that a FIFO without a reader fails instead of stopping the caller.
    return open(file.c_str(), O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC | O_NOCTTY | O_NONBLOCK,
                0644);
}

bool WriteAll(int fd, const char* data, size_t size) {
    while (size > 0) {
        const ssize_t written = write(fd, data, size);
        if (written < 0) {
            if (errno == EINTR) {
                continue;
            }
            return false;
        }
        data += written;
        size -= static_cast<size_t>(written);
    }
    return true;
}

bool Executable(const std::string& file) {
    struct stat info {};
    return !file.empty() && stat(file.c_str(), &info) == 0 && S_ISREG(info.st_mode) &&
           access(file.c_str(), X_OK) == 0;
}

std::string FindViewer() {
    if (const auto chosen = Env("PORTIVA_DEBUGVIEW")) {
        return *chosen;
    }
    const std::string library = LibraryFilePath();
    if (const size_t slash = library.find_last_of('/'); slash != std::string::npos) {
        const std::string beside = library.substr(0, slash + 1) + "portiva-debugview";
        if (Executable(beside)) {
            return beside;
        }
    }
    const std::string path = Env("PATH").value_or("/usr/local/bin:/usr/bin:/bin");
    size_t start = 0;
    while (start <= path.size()) {
        size_t end = path.find(':', start);
        if (end == std::string::npos) {
            end = path.size();
        }
        const std::string folder = path.substr(start, end - start);
        if (!folder.empty()) {
            const std::string candidate = folder + "/portiva-debugview";
            if (Executable(candidate)) {
                return candidate;
            }
        }
        start = end + 1;
    }
    return {};
}

} // namespace

DebugSettings ReadDebugSettings() {
    std::optional<uint32_t> debug;
    std::optional<uint32_t> target;
    std::string source;
    const auto debugText = Env("PORTIVA_DEBUG");
    const auto targetText = Env("PORTIVA_DEBUG_TARGET");
    std::optional<std::pair<std::string, DebugConfigValues>> config;
    if (!debugText || !targetText) {
        config = ReadConfigFile();
    }
    if (debugText) {
        debug = ParseDebugNumber(*debugText);
        source = "PORTIVA_DEBUG";
    } else if (config) {
        debug = config->second.debug;
        source = config->first + ": Debug";
    }
    if (targetText) {
        target = ParseDebugNumber(*targetText);
    } else if (config) {
        target = config->second.target;
    }
    DebugSettings settings = SettingsFromValues(debug, target);
    settings.source = source;
    if (const auto file = Env("PORTIVA_DEBUG_FILE"); file && !file->empty()) {
        settings.file = *file;
    } else if (const std::string state = XdgFolder("XDG_STATE_HOME", ".local/state");
               !state.empty()) {
        settings.file = state + "/portiva/portivadll_dbg.txt";
    }
    return settings;
}

void ShowDebugModeNotice(const DebugSettings& settings) {
    const bool fromEnvironment = settings.source == "PORTIVA_DEBUG";
    const std::string text = std::string("The Debug mode of PortivaDll is activated.\n") +
                             (fromEnvironment ? "To disable it, set the environment variable:\n"
                                              : "To disable it, set the configuration value:\n") +
                             "\"" + settings.source + "\"\nto zero.\n" +
                             "The log is written to: " + settings.file + "\n";
    WriteAll(STDERR_FILENO, text.data(), text.size());
}

std::string SystemDescription() {
    utsname names{};
    if (uname(&names) != 0) {
        return {};
    }
    return std::string(names.sysname) + " " + names.release + " " + names.version + " " +
           names.machine;
}

bool AppendLogLine(const std::string& file, const std::string& line) noexcept {
    try {
        if (file.empty()) {
            return false;
        }
        int fd = OpenForAppend(file);
        if (fd < 0 && errno == ENOENT) {
            const size_t slash = file.find_last_of('/');
            if (slash != std::string::npos && slash > 0 && MakeFolders(file.substr(0, slash))) {
                fd = OpenForAppend(file);
            }
        }
        if (fd < 0) {
            return false;
        }
        // One write, so that lines of several processes sharing the file stay whole.
        const std::string text = line + "\n";
        const bool ok = WriteAll(fd, text.data(), text.size());
        close(fd);
        return ok;
    } catch (...) {
        return false;
    }
}

uint64_t FileSize(const std::string& file) noexcept {
    struct stat info {};
    return stat(file.c_str(), &info) == 0 ? static_cast<uint64_t>(info.st_size) : 0;
}

void StartDebugViewer(const std::string& file, uint64_t offset) noexcept {
    try {
        const char* x11 = std::getenv("DISPLAY");
        const char* wayland = std::getenv("WAYLAND_DISPLAY");
        if ((!x11 || !*x11) && (!wayland || !*wayland)) {
            return;
        }
        const std::string program = FindViewer();
        if (program.empty()) {
            return;
        }
        // A shell started in a session of its own puts the viewer in the background and ends at
        // once: the viewer outlives this process and never becomes its zombie. posix_spawn
        // runs no fork handlers, so this is safe while the library is being loaded.
        const std::string offsetText = std::to_string(offset);
        char* const argv[] = {
            const_cast<char*>("/bin/sh"),         const_cast<char*>("-c"),
            const_cast<char*>("\"$0\" \"$@\" &"), const_cast<char*>(program.c_str()),
            const_cast<char*>("--offset"),        const_cast<char*>(offsetText.c_str()),
            const_cast<char*>(file.c_str()),      nullptr};
        posix_spawnattr_t attributes;
        posix_spawn_file_actions_t actions;
        posix_spawnattr_init(&attributes);
        posix_spawn_file_actions_init(&actions);
        sigset_t none;
        sigemptyset(&none);
        posix_spawnattr_setsigmask(&attributes, &none);
        posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETSID | POSIX_SPAWN_SETSIGMASK);
        posix_spawn_file_actions_addopen(&actions, STDIN_FILENO, "/dev/null", O_RDONLY, 0);
        posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, "/dev/null", O_WRONLY, 0);
        posix_spawn_file_actions_addclosefrom_np(&actions, STDERR_FILENO + 1);
        pid_t shell = -1;
        const int started = posix_spawn(&shell, argv[0], &actions, &attributes, argv, environ);
        posix_spawn_file_actions_destroy(&actions);
        posix_spawnattr_destroy(&attributes);
        if (started == 0) {
            int status = 0;
            while (waitpid(shell, &status, 0) < 0 && errno == EINTR) {
            }
        }
    } catch (...) {
        // No viewer; the file still has every line.
    }
}

#endif

} // namespace portiva
