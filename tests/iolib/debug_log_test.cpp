// The debug log as a user switches it on: the settings are read while the library loads, so each
// case runs this test program again as a child process with its own environment, and the child
// drives the exports against the simulated boards. The parent reads the log file it left.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <map>
#include <optional>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "portiva_loader.h"

extern char** environ;

namespace {

namespace fs = std::filesystem;

constexpr const char* kChildVariable = "PORTIVA_LOG_TEST_CHILD";
constexpr const char* kGuid = "{DD3F8FC7-D531-4C65-95FF-1FC8DFEE2C52}";

// ---- child side -------------------------------------------------------------------------------

// The calls of a program that uses the board; the exit status says whether every result was
// the one expected, so a log that cannot be written is seen to leave the calls alone.
int RunExports() {
    PortivaLibrary& lib = PortivaLibrary::Get();
    if (lib.hooks->BuiltInRecordCount() == 0) {
        // A build without the sdcc firmware: any image starts the simulated firmware.
        static const char* const kSmallImage[] = {":0300000002000BF0", ":00000001FF"};
        lib.hooks->SetRecordTable(kSmallImage, 2);
    }
    int failures = 0;
    auto expect = [&](bool ok) { failures += ok ? 0 : 1; };
    expect(lib.UsbInit(0) == 1);
    expect(lib.UsbSetPortDir(0, 1, 0xFF) == 1);
    expect(lib.UsbSetPortState(0, 1, 0x5A) == 1);
    uint8_t state = 0;
    expect(lib.UsbGetPortState(0, 1, &state) == 1);
    expect(lib.UsbGetPortState(0, 1, nullptr) == 0);
    expect(lib.UsbSetIOState(0, 13, 1) == 1);
    expect(lib.UsbSetIOState(0, 40, 1) == 0);
    expect(lib.UsbGetError() == 6); // both raised the same bit
    expect(lib.UsbGetError() == 0);
    lib.UsbSetGuid(kGuid);
    expect(lib.UsbRetrieveAllErrors(0, 0) == 1);
    const char* message = nullptr;
    expect(lib.UsbGetErrorStringByNr(17, &message) == 0);
    expect(lib.UsbGetRdyState(0, nullptr) == 0);
    expect(lib.UsbGetError() == 6);
    expect(lib.UsbOpen(2) == 1 && lib.UsbClose(2) == 1);
    // Exports that run other exports trace them in turn.
    expect(lib.UsbSetTimeout(0, 100) == 1);
    expect(lib.UsbParInit(0, 1) == 1);
    return failures == 0 ? 0 : 1;
}

// UsbInit on a board number nobody plugged in: false, and "Device not present" to be read.
int RunMissingBoard() {
    PortivaLibrary& lib = PortivaLibrary::Get();
    const bool failed = lib.UsbInit(9) == 0;
    const uint8_t error = lib.UsbGetError();
    return failed && error == 2 ? 0 : 1;
}

// The child's work runs before main: the test program is started again with the scenario named
// in the environment and ends when it is done.
[[maybe_unused]] const bool g_child = [] {
    const char* scenario = std::getenv(kChildVariable);
    if (!scenario) {
        return false;
    }
    int status = 2;
    try {
        if (std::strcmp(scenario, "exports") == 0) {
            status = RunExports();
        } else if (std::strcmp(scenario, "missing") == 0) {
            status = RunMissingBoard();
        }
    } catch (const std::exception& e) {
        std::fprintf(stderr, "child: %s\n", e.what());
    }
    std::fflush(nullptr);
    std::exit(status);
}();

// ---- parent side ------------------------------------------------------------------------------

std::string ReadFile(const fs::path& file) {
    std::ifstream in(file, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

std::vector<std::string> Lines(const std::string& text) {
    std::vector<std::string> lines;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);) {
        lines.push_back(line);
    }
    return lines;
}

size_t Count(const std::string& text, const std::string& part) {
    size_t count = 0;
    for (size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + 1)) {
        ++count;
    }
    return count;
}

struct ChildResult {
    int exitStatus = -1;
    std::string errors; // what the child wrote to stderr
};

class DebugLogTest : public ::testing::Test {
protected:
    fs::path dir;

    void SetUp() override {
        std::string pattern = (fs::temp_directory_path() / "portiva-log-XXXXXX").string();
        ASSERT_NE(mkdtemp(pattern.data()), nullptr);
        dir = pattern;
    }
    void TearDown() override {
        std::error_code ignored;
        fs::remove_all(dir, ignored);
    }

    // Runs this program as a child with the scenario and variables given. Settings that come from
    // the user's own environment (debug switches, XDG folders, HOME, displays) are left out;
    // HOME points into the test folder unless given.
    ChildResult Run(const char* scenario, const std::map<std::string, std::string>& variables) {
        std::vector<std::string> env;
        for (char** entry = environ; *entry; ++entry) {
            const std::string text = *entry;
            const std::string name = text.substr(0, text.find('='));
            if (name.rfind("PORTIVA_DEBUG", 0) == 0 || name.rfind("XDG_", 0) == 0 ||
                name == "HOME" || name == "DISPLAY" || name == "WAYLAND_DISPLAY" ||
                name == kChildVariable) {
                continue;
            }
            env.push_back(text);
        }
        if (!variables.count("HOME")) {
            env.push_back("HOME=" + (dir / "home").string());
        }
        for (const auto& [name, value] : variables) {
            env.push_back(name + "=" + value);
        }
        env.push_back(std::string(kChildVariable) + "=" + scenario);
        std::vector<char*> envp;
        for (auto& text : env) {
            envp.push_back(text.data());
        }
        envp.push_back(nullptr);

        const std::string errors = (dir / "stderr.txt").string();
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_addopen(&actions, STDERR_FILENO, errors.c_str(),
                                         O_WRONLY | O_CREAT | O_TRUNC, 0644);
        std::string self = fs::read_symlink("/proc/self/exe").string();
        char* argv[] = {self.data(), nullptr};
        pid_t child = -1;
        ChildResult result;
        const int spawned = posix_spawn(&child, self.c_str(), &actions, nullptr, argv, envp.data());
        posix_spawn_file_actions_destroy(&actions);
        if (spawned != 0) {
            ADD_FAILURE() << "cannot start the child: " << std::strerror(spawned);
            return result;
        }
        int status = 0;
        while (waitpid(child, &status, 0) < 0 && errno == EINTR) {
        }
        result.exitStatus = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
        result.errors = ReadFile(errors);
        return result;
    }

    std::map<std::string, std::string> FileTarget(const std::string& debug,
                                                  const fs::path& file) const {
        return {{"PORTIVA_DEBUG", debug},
                {"PORTIVA_DEBUG_TARGET", "1"},
                {"PORTIVA_DEBUG_FILE", file.string()}};
    }
};

constexpr const char* kNotice = "The Debug mode of PortivaDll is activated.\n";

// Levels by the "Debug" number, the file target, and debug mode off.
TEST_F(DebugLogTest, DebugNumberChoosesTheLevelsAndZeroWritesNothing) {
    const fs::path info = dir / "info.txt";
    ChildResult child = Run("exports", FileTarget("1", info));
    EXPECT_EQ(child.exitStatus, 0) << child.errors;
    EXPECT_EQ(Count(child.errors, kNotice), 1u) << child.errors;
    std::string log = ReadFile(info);
    EXPECT_GT(Count(log, "[INFO]  function UsbInit\n"), 0u) << log;
    EXPECT_GT(Count(log, "[ERROR] Invalid parameter\n"), 0u);
    EXPECT_EQ(Count(log, "[DEV]"), 0u) << "1 writes information and errors only";
    EXPECT_EQ(Count(log, "[DETLD]"), 0u);

    for (const char* debug : {"200", "-1", "128"}) {
        const fs::path all = dir / (std::string("all") + debug + ".txt");
        child = Run("exports", FileTarget(debug, all));
        EXPECT_EQ(child.exitStatus, 0) << child.errors;
        log = ReadFile(all);
        EXPECT_GT(Count(log, "[DEV]   Initializing basic data structures\n"), 0u) << debug;
        EXPECT_GT(Count(log, "[DEV]   DoBulkXFer\n"), 0u) << debug;
        EXPECT_GT(Count(log, "        [DEV]   CmdNo=1, GetStatus=0, WriteLen=16, ReadLen=0\n"), 0u)
            << debug;
        EXPECT_GT(Count(log, "[DEV]   Firmware downloaded to device\n"), 0u) << debug;
        EXPECT_GT(Count(log, "[INFO]  function UsbSetPortState\n"), 0u) << debug;
    }

    // Debug 0 with the file target, and no setting at all: nothing is written, no notice, and
    // a failing UsbInit still leaves its error to be read.
    const fs::path off = dir / "off.txt";
    child = Run("exports", FileTarget("0", off));
    EXPECT_EQ(child.exitStatus, 0) << child.errors;
    EXPECT_FALSE(fs::exists(off));
    EXPECT_EQ(Count(child.errors, kNotice), 0u);
    child = Run("missing", {{"XDG_STATE_HOME", (dir / "state").string()}});
    EXPECT_EQ(child.exitStatus, 0) << "UsbInit on a missing board raises error 2";
    EXPECT_FALSE(fs::exists(dir / "state"));
    EXPECT_FALSE(fs::exists(dir / "home"));
    EXPECT_TRUE(child.errors.empty()) << child.errors;

    // Text that is no number leaves debug mode off.
    child = Run("exports", FileTarget("on", off));
    EXPECT_EQ(child.exitStatus, 0);
    EXPECT_FALSE(fs::exists(off));
}

// The lines of each export, byte for byte, in order.
TEST_F(DebugLogTest, ExportsTraceTheirArgumentsAndResults) {
    const fs::path file = dir / "trace.txt";
    const ChildResult child = Run("exports", FileTarget("1", file));
    ASSERT_EQ(child.exitStatus, 0) << child.errors;
    const std::vector<std::string> lines = Lines(ReadFile(file));
    ASSERT_GE(lines.size(), 3u);
    EXPECT_EQ(lines[0].rfind("[INFO]  Windows version: Linux ", 0), 0u) << lines[0];
    EXPECT_EQ(lines[1].rfind("[INFO]  Dll file path and name: /", 0), 0u) << lines[1];
    EXPECT_NE(lines[1].find("libportiva.so"), std::string::npos) << lines[1];
    EXPECT_EQ(lines[2], "[INFO]  Dll version: 1.7.9.0");

    const std::string I = "[INFO]  ";
    const std::string P = "        [INFO]  PARAM ";
    const std::string R = "        [INFO]  RESULT ";
    const std::vector<std::string> expected = {
        I + "function UsbInit",
        P + "DevNum = 0 = 0x00 (byte)",
        R + " = true (bool)",
        I + "function UsbSetPortDir",
        P + "DevNum = 0 = 0x00 (byte)",
        P + "PortNr = 1 = 0x01 (byte)",
        P + "Dir = 255 = 0xFF (byte)",
        R + " = true (bool)",
        I + "function UsbSetPortState",
        P + "DevNum = 0 = 0x00 (byte)",
        P + "PortNr = 1 = 0x01 (byte)",
        P + "State = 90 = 0x5A (byte)",
        R + " = true (bool)",
        I + "function UsbGetPortState",
        P + "DevNum = 0 = 0x00 (byte)",
        P + "PortNr = 1 = 0x01 (byte)",
        R + "State = 90 = 0x5A (byte)",
        R + " = true (bool)",
        I + "function UsbGetPortState",
        P + "DevNum = 0 = 0x00 (byte)",
        P + "PortNr = 1 = 0x01 (byte)",
        "[ERROR] Invalid parameter",
        R + " = false (bool)",
        I + "function UsbSetIOState",
        P + "DevNum = 0 = 0x00 (byte)",
        P + "PinNr = 13 = 0x0D (byte)",
        P + "State = 1 = 0x01 (byte)",
        R + " = true (bool)",
        I + "function UsbSetIOState",
        P + "DevNum = 0 = 0x00 (byte)",
        P + "PinNr = 40 = 0x28 (byte)",
        P + "State = 1 = 0x01 (byte)",
        "[ERROR] Invalid parameter",
        R + " = false (bool)",
        I + "function UsbGetError",
        R + " = 6 = 0x06 (byte)",
        I + "function UsbGetError",
        R + " = 0 = 0x00 (byte)",
        I + "function UsbSetGuid",
        P + "pszGuid = \"" + kGuid + "\" (string)",
        I + "function UsbRetrieveAllErrors",
        P + "DevNum = 0 = 0x00 (byte)",
        P + "RetrieveAll = false (bool)",
        R + " = true (bool)",
        I + "function UsbGetErrorStringByNr",
        P + "ErrNr = 17 = 0x11 (byte)",
        P + "PStr = 0 = 0x00000000 (Pointer)",
        R + " = false (bool)",
        I + "function UsbGetRdyState",
        P + "DevNum = 0 = 0x00 (byte)",
        P + "PRdy = 0 = 0x00000000 (Pointer)",
        "[ERROR] Invalid parameter",
        R + " = false (bool)",
        I + "function UsbGetError",
        R + " = 6 = 0x06 (byte)",
        I + "function UsbOpen",
        P + "DevNum = 2 = 0x02 (byte)",
        R + " = true (bool)",
        I + "function UsbClose",
        P + "DevNum = 2 = 0x02 (byte)",
        R + " = true (bool)",
        I + "function UsbSetTimeout",
        "        [INFO]  Will pass parameters to UsbI2CSetTimeout and UsbParSetTimeout",
        P + "DevNum = 0 = 0x00 (byte)",
        P + "Timeout = 100 = 0x0064 (word)",
        I + "function UsbI2CSetTimeout",
        P + "DevNum = 0 = 0x00 (byte)",
        P + "Timeout = 100 = 0x0064 (word)",
        R + " = true (bool)",
        I + "function UsbParSetTimeout",
        P + "DevNum = 0 = 0x00 (byte)",
        P + "Timeout = 100 = 0x0064 (word)",
        R + " = true (bool)",
        R + " = true (bool)",
        I + "function UsbParInit",
        P + "DevNum = 0 = 0x00 (byte)",
        P + "Mode = 1 = 0x01 (byte)",
        I + "function UsbParInitUsingArray",
        P + "DevNum = 0 = 0x00 (byte)",
        P + "PData = (table)",
        R + " = true (bool)",
        R + " = true (bool)",
    };
    std::vector<std::string> traced(lines.begin() + 3, lines.end());
    // Where the built-in table lies differs from run to run.
    for (std::string& line : traced) {
        if (line.rfind(P + "PData = ", 0) == 0 && line.ends_with(" (Pointer)")) {
            line = P + "PData = (table)";
        }
    }
    EXPECT_EQ(traced, expected);
}

// Where the file goes, that it is appended, and that a file that cannot be written changes
// nothing for the caller.
TEST_F(DebugLogTest, LogFileInTheStateFolderAppendedAndNeverFailingACall) {
    const fs::path state = dir / "state";
    const fs::path file = state / "portiva" / "portivadll_dbg.txt";
    const std::map<std::string, std::string> variables = {
        {"PORTIVA_DEBUG", "1"}, {"PORTIVA_DEBUG_TARGET", "1"}, {"XDG_STATE_HOME", state.string()}};
    ChildResult child = Run("exports", variables);
    EXPECT_EQ(child.exitStatus, 0) << child.errors;
    ASSERT_TRUE(fs::exists(file)) << "the folder is created when missing";
    EXPECT_NE(child.errors.find(file.string()), std::string::npos) << child.errors;
    const size_t once = Lines(ReadFile(file)).size();
    child = Run("exports", variables);
    EXPECT_EQ(Lines(ReadFile(file)).size(), 2 * once) << "appended, not replaced";
    EXPECT_EQ(Count(ReadFile(file), "Dll version: 1.7.9.0"), 2u);

    // Without XDG_STATE_HOME: under the home folder.
    child = Run("exports", {{"PORTIVA_DEBUG", "1"}, {"PORTIVA_DEBUG_TARGET", "1"}});
    EXPECT_EQ(child.exitStatus, 0);
    EXPECT_TRUE(fs::exists(dir / "home/.local/state/portiva/portivadll_dbg.txt"));

    // A log path below a plain file cannot be created, not even by root; a folder is no file.
    std::ofstream(dir / "plain") << "x";
    for (const fs::path& bad : {dir / "plain" / "log.txt", dir}) {
        child = Run("exports", FileTarget("200", bad));
        EXPECT_EQ(child.exitStatus, 0) << bad << ": every call gave its usual result\n"
                                       << child.errors;
    }
}

// The configuration file when the environment does not say, and the environment before it.
TEST_F(DebugLogTest, ConfigurationFileSwitchesTheLog) {
    const fs::path config = dir / "config";
    fs::create_directories(config / "portiva");
    const fs::path file = dir / "from-config.txt";
    std::ofstream(config / "portiva" / "portiva.conf") << "# debug log of the Portiva library\n"
                                                       << "[PortivaDll]\n"
                                                       << "  debug = 200 \n"
                                                       << "Target=1\n"
                                                       << "Other=5\n";
    std::map<std::string, std::string> variables = {{"XDG_CONFIG_HOME", config.string()},
                                                    {"PORTIVA_DEBUG_FILE", file.string()}};
    ChildResult child = Run("exports", variables);
    EXPECT_EQ(child.exitStatus, 0);
    EXPECT_GT(Count(ReadFile(file), "[DEV]   DoBulkXFer\n"), 0u);
    EXPECT_NE(child.errors.find("portiva.conf: Debug"), std::string::npos) << child.errors;

    // The variable wins over the file.
    fs::remove(file);
    variables["PORTIVA_DEBUG"] = "0";
    child = Run("exports", variables);
    EXPECT_FALSE(fs::exists(file));

    // The file's Target when only PORTIVA_DEBUG is set; "Debug" alone in the environment.
    variables["PORTIVA_DEBUG"] = "1";
    child = Run("exports", variables);
    const std::string log = ReadFile(file);
    EXPECT_GT(Count(log, "function UsbInit"), 0u);
    EXPECT_EQ(Count(log, "[DEV]"), 0u);
}

// With the window target the lines go to the same file and the viewer is started once, with
// the file and where this session's lines begin, only when there is a display.
TEST_F(DebugLogTest, WindowTargetStartsTheViewerOnceOnADisplay) {
    const fs::path viewer = dir / "viewer.sh";
    const fs::path calls = dir / "viewer-calls.txt";
    std::ofstream(viewer) << "#!/bin/sh\necho \"$@\" >> '" << calls.string() << "'\n";
    fs::permissions(viewer, fs::perms::owner_all);
    const fs::path file = dir / "window.txt";
    std::ofstream(file) << "an earlier session\n";

    std::map<std::string, std::string> variables = {{"PORTIVA_DEBUG", "1"},
                                                    {"PORTIVA_DEBUG_FILE", file.string()},
                                                    {"PORTIVA_DEBUGVIEW", viewer.string()}};
    ChildResult child = Run("exports", variables); // no display
    EXPECT_EQ(child.exitStatus, 0);
    EXPECT_GT(Count(ReadFile(file), "function UsbSetPortState"), 0u);

    variables["DISPLAY"] = ":97";
    child = Run("exports", variables);
    EXPECT_EQ(child.exitStatus, 0);
    // The viewer runs detached; wait for its trace.
    for (int i = 0; i < 500 && !fs::exists(calls); ++i) {
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    const std::vector<std::string> started = Lines(ReadFile(calls));
    ASSERT_EQ(started.size(), 1u) << "once, and not without a display";
    const size_t sizeBefore = Lines(ReadFile(file)).size();
    EXPECT_EQ(started[0].rfind("--offset ", 0), 0u);
    EXPECT_EQ(started[0].substr(started[0].size() - file.string().size()), file.string());
    const uint64_t offset = std::stoull(started[0].substr(9));
    EXPECT_EQ(ReadFile(file).substr(offset, 24), "[INFO]  Windows version:");
    EXPECT_GT(sizeBefore, 3u);
}

} // namespace
