// portiva: a bench tool for boards on the Portiva library. Runs a sequence of commands in one
// process (the library forgets between processes that it started a board) and tells success by
// its exit status: 0 all commands succeeded, 1 a library call failed, 2 bad usage.
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "portiva.h"

namespace {

const char* const kUsage =
    "usage: portiva [--assume-init] COMMAND [ARGS] [COMMAND [ARGS]]...\n"
    "       portiva --version | --help\n"
    "\n"
    "Commands (BOARD 0..255, PORT 0..4, LINE 0..39, values decimal or 0x hex):\n"
    "  list                      boards present, in enumeration order\n"
    "  version                   library version\n"
    "  init BOARD                download the firmware and start the board\n"
    "  set-port BOARD PORT VALUE output latches of a port\n"
    "  get-port BOARD PORT       levels of a port's lines (printed as 0xNN)\n"
    "  port-dir BOARD PORT VALUE directions of a port (bit 1 = output)\n"
    "  set-line BOARD LINE 0|1   output latch of one line\n"
    "  get-line BOARD LINE       level of one line (printed as 0 or 1)\n"
    "  line-dir BOARD LINE in|out direction of one line\n"
    "  status BOARD              ask the firmware for its status bits\n"
    "  ready BOARD               ready line (printed as 0 or 1)\n"
    "  speed BOARD               \"high\" or \"full\" speed (after init)\n"
    "  errors                    print and clear pending errors\n"
    "\n"
    "--assume-init marks every board named later as started, for a board that an earlier\n"
    "run initialised. Commands run in order; the first failure stops the run and its errors\n"
    "are printed.\n"
    "Environment: PORTIVA_SIM=N simulates N boards, PORTIVA_SIM_DRIVER=cyusb|ezusb.\n";

class Usage {};

unsigned long Number(const char* text, unsigned long max) {
    if (!text || !*text) {
        throw Usage();
    }
    errno = 0;
    char* end = nullptr;
    const unsigned long value = std::strtoul(text, &end, 0);
    if (errno || *end || value > max || text[0] == '-') {
        throw Usage();
    }
    return value;
}

int PrintErrors(FILE* out) {
    int count = 0;
    while (const uint8_t number = UsbGetError()) {
        const char* message = "";
        UsbGetErrorStringByNr(number, &message);
        std::fprintf(out, "error %u: %s\n", number, message);
        if (++count > 64) {
            break; // bits the table does not know are never cleared
        }
    }
    return count;
}

class Runner {
public:
    Runner(int argc, char** argv) : args_(argv + 1, argv + argc) {}

    int Run() {
        if (args_.empty()) {
            throw Usage();
        }
        while (next_ < args_.size()) {
            const std::string command = Take();
            if (!Execute(command)) {
                std::fprintf(stderr, "portiva: %s failed\n", command.c_str());
                PrintErrors(stderr);
                return 1;
            }
        }
        return 0;
    }

private:
    const char* Take() { return next_ < args_.size() ? args_[next_++] : nullptr; }

    uint8_t Board() {
        const uint8_t board = static_cast<uint8_t>(Number(Take(), 255));
        if (assumeInit_) {
            UsbSetInitializedFlag(board, 1);
        }
        return board;
    }

    bool Execute(const std::string& command) {
        if (command == "--assume-init") {
            assumeInit_ = true;
            return true;
        }
        if (command == "list") {
            for (unsigned board = 0; board < 256; ++board) {
                if (!UsbDevicePresent(static_cast<uint8_t>(board))) {
                    if (board == 0) {
                        std::printf("no board\n");
                    }
                    break;
                }
                std::printf("board %u\n", board);
            }
            while (UsbGetError()) {
            }
            return true;
        }
        if (command == "version") {
            char version[256] = {};
            UsbGetVersion(version);
            std::printf("%s\n", version);
            return true;
        }
        if (command == "errors") {
            if (PrintErrors(stdout) == 0) {
                std::printf("no error\n");
            }
            return true;
        }
        if (command == "init") {
            return UsbInit(Board());
        }
        if (command == "set-port" || command == "port-dir") {
            const uint8_t board = Board();
            const uint8_t port = static_cast<uint8_t>(Number(Take(), 255));
            const uint8_t value = static_cast<uint8_t>(Number(Take(), 255));
            return command == "set-port" ? UsbSetPortState(board, port, value)
                                         : UsbSetPortDir(board, port, value);
        }
        if (command == "get-port") {
            const uint8_t board = Board();
            uint8_t value = 0;
            if (!UsbGetPortState(board, static_cast<uint8_t>(Number(Take(), 255)), &value)) {
                return false;
            }
            std::printf("0x%02X\n", value);
            return true;
        }
        if (command == "set-line") {
            const uint8_t board = Board();
            const uint8_t line = static_cast<uint8_t>(Number(Take(), 255));
            return UsbSetIOState(board, line, static_cast<uint8_t>(Number(Take(), 1)));
        }
        if (command == "line-dir") {
            const uint8_t board = Board();
            const uint8_t line = static_cast<uint8_t>(Number(Take(), 255));
            const char* dir = Take();
            if (!dir || (std::strcmp(dir, "in") != 0 && std::strcmp(dir, "out") != 0)) {
                throw Usage();
            }
            return UsbSetIODir(board, line, std::strcmp(dir, "out") == 0);
        }
        if (command == "get-line") {
            const uint8_t board = Board();
            uint8_t value = 0;
            if (!UsbGetIOState(board, static_cast<uint8_t>(Number(Take(), 255)), &value)) {
                return false;
            }
            std::printf("%u\n", value);
            return true;
        }
        if (command == "status") {
            return UsbGetStatus(Board());
        }
        if (command == "ready") {
            uint8_t ready = 0;
            if (!UsbGetRdyState(Board(), &ready)) {
                return false;
            }
            std::printf("%u\n", ready);
            return true;
        }
        if (command == "speed") {
            uint8_t high = 0;
            if (!UsbCheckSpeed(Board(), &high)) {
                return false;
            }
            std::printf("%s\n", high ? "high" : "full");
            return true;
        }
        throw Usage();
    }

    std::vector<const char*> args_;
    size_t next_ = 0;
    bool assumeInit_ = false;
};

} // namespace

int main(int argc, char** argv) {
    if (argc == 2 && (std::strcmp(argv[1], "--help") == 0 || std::strcmp(argv[1], "-h") == 0)) {
        std::fputs(kUsage, stdout);
        return 0;
    }
    if (argc == 2 && std::strcmp(argv[1], "--version") == 0) {
        char version[256] = {};
        UsbGetVersion(version);
        std::printf("portiva %s\n", version);
        return 0;
    }
    try {
        return Runner(argc, argv).Run();
    } catch (const Usage&) {
        std::fputs(kUsage, stderr);
        return 2;
    }
}
