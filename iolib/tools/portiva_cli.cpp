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
    "Commands (BOARD 0..255, PORT 0..4, LINE 0..39, values decimal or 0x hex; HEX is a run of\n"
    "hexadecimal byte pairs such as 0a1B2c, or - for none):\n"
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
    "Bus commands (a hex dump gives the offset, then up to 16 bytes a line):\n"
    "  i2c-write BOARD SLAVE HEX         write bytes to a 7-bit I2C address\n"
    "  i2c-read BOARD SLAVE COUNT        read COUNT (0..65535) bytes (hex dump)\n"
    "  eeprom-read BOARD ADDR COUNT      read COUNT (1..65536) EEPROM bytes (hex dump)\n"
    "  eeprom-write BOARD ADDR HEX       write EEPROM bytes page by page\n"
    "  spi BOARD MODE SPEED HEX          set SPI mode 0..7 (+8: LSB first) and speed 0..5,\n"
    "                                    exchange the bytes (received bytes as hex dump)\n"
    "  uart-write BOARD BAUD HEX         send bytes at 1200..115200 baud\n"
    "  uart-read BOARD COUNT             fetch up to COUNT (at most 512) received bytes\n"
    "  par-init BOARD MODE               configure the parallel bus, mode 0..9 (odd: 16 bit)\n"
    "  par-out BOARD HEX                 write bytes on the parallel bus\n"
    "  par-in BOARD COUNT                read COUNT bus words (hex dump)\n"
    "  pattern BOARD HEX                 play 16-byte pattern records: per port a change\n"
    "                                    mask and a value, a delay (little endian), 4 unused\n"
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

std::vector<uint8_t> Bytes(const char* text) {
    if (!text) {
        throw Usage();
    }
    std::vector<uint8_t> bytes;
    if (std::strcmp(text, "-") == 0) {
        return bytes;
    }
    const size_t length = std::strlen(text);
    if (length == 0 || length % 2 != 0 || std::strspn(text, "0123456789abcdefABCDEF") != length) {
        throw Usage();
    }
    for (size_t i = 0; i < length; i += 2) {
        const char pair[3] = {text[i], text[i + 1], '\0'};
        bytes.push_back(static_cast<uint8_t>(std::strtoul(pair, nullptr, 16)));
    }
    return bytes;
}

// Sixteen bytes a line behind their offset (from `start`, four hexadecimal digits).
void HexDump(const uint8_t* bytes, size_t count, uint32_t start = 0) {
    for (size_t line = 0; line < count; line += 16) {
        std::printf("%04X:", static_cast<unsigned>((start + line) & 0xFFFF));
        for (size_t i = line; i < count && i < line + 16; ++i) {
            std::printf(" %02X", bytes[i]);
        }
        std::printf("\n");
    }
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
        return ExecuteBus(command);
    }

    // The bus families.
    bool ExecuteBus(const std::string& command) {
        if (command == "i2c-write") {
            const uint8_t board = Board();
            const uint8_t slave = static_cast<uint8_t>(Number(Take(), 127));
            const std::vector<uint8_t> data = Bytes(Take());
            if (data.size() > 65535) {
                throw Usage();
            }
            return UsbI2CWriteBytes(board, slave, static_cast<uint16_t>(data.size()), data.data());
        }
        if (command == "i2c-read") {
            const uint8_t board = Board();
            const uint8_t slave = static_cast<uint8_t>(Number(Take(), 127));
            std::vector<uint8_t> data(Number(Take(), 65535));
            if (!UsbI2CReadBytes(board, slave, static_cast<uint16_t>(data.size()), data.data())) {
                return false;
            }
            HexDump(data.data(), data.size());
            return true;
        }
        if (command == "eeprom-read") {
            const uint8_t board = Board();
            const uint16_t address = static_cast<uint16_t>(Number(Take(), 65535));
            const size_t count = Number(Take(), 65536);
            if (count == 0) {
                throw Usage();
            }
            std::vector<uint8_t> data(count);
            // 65536 travels as 0, the whole address space.
            if (!UsbEEpReadBytes(board, address, static_cast<uint16_t>(count), data.data())) {
                return false;
            }
            HexDump(data.data(), data.size(), address);
            return true;
        }
        if (command == "eeprom-write") {
            const uint8_t board = Board();
            const uint16_t address = static_cast<uint16_t>(Number(Take(), 65535));
            const std::vector<uint8_t> data = Bytes(Take());
            if (data.empty() || data.size() > 65536) {
                throw Usage();
            }
            return UsbEEpWriteBytes(board, address, static_cast<uint16_t>(data.size()),
                                    data.data());
        }
        if (command == "spi") {
            const uint8_t board = Board();
            const unsigned mode = static_cast<unsigned>(Number(Take(), 15));
            const uint8_t speed = static_cast<uint8_t>(Number(Take(), 5));
            std::vector<uint8_t> data = Bytes(Take());
            if (data.empty() || data.size() > 65535) {
                throw Usage();
            }
            if (!UsbSpiInit(board, mode >= 8, static_cast<uint8_t>(mode & 7), speed) ||
                !UsbSpiTransfer(board, data.data(), data.data(),
                                static_cast<uint16_t>(data.size()))) {
                return false;
            }
            HexDump(data.data(), data.size());
            return true;
        }
        if (command == "uart-write") {
            const uint8_t board = Board();
            const uint32_t baud = static_cast<uint32_t>(Number(Take(), 0xFFFFFFFF));
            const std::vector<uint8_t> data = Bytes(Take());
            return UsbUartSetBaudrate(board, baud) &&
                   UsbUartWriteBytes(board, data.data(), static_cast<uint32_t>(data.size()));
        }
        if (command == "uart-read") {
            const uint8_t board = Board();
            uint32_t count = static_cast<uint32_t>(Number(Take(), 512));
            std::vector<uint8_t> data(count);
            if (!UsbUartReadBytes(board, data.data(), &count)) {
                return false;
            }
            HexDump(data.data(), count);
            return true;
        }
        if (command == "par-init") {
            const uint8_t board = Board();
            const uint8_t mode = static_cast<uint8_t>(Number(Take(), 9));
            if (!UsbParInit(board, mode)) {
                return false;
            }
            wideBus_[board] = (mode & 1) != 0;
            return true;
        }
        if (command == "par-out") {
            const uint8_t board = Board();
            const std::vector<uint8_t> data = Bytes(Take());
            const unsigned width = wideBus_[board] ? 2 : 1;
            if (data.size() % width != 0) {
                throw Usage();
            }
            return UsbParOut(board, data.data(), static_cast<uint32_t>(data.size() / width));
        }
        if (command == "par-in") {
            const uint8_t board = Board();
            const uint32_t words = static_cast<uint32_t>(Number(Take(), 1u << 24));
            std::vector<uint8_t> data(size_t{words} * (wideBus_[board] ? 2 : 1));
            if (!UsbParIn(board, data.data(), words)) {
                return false;
            }
            HexDump(data.data(), data.size());
            return true;
        }
        if (command == "pattern") {
            const uint8_t board = Board();
            std::vector<uint8_t> records = Bytes(Take());
            if (records.empty() || records.size() % 16 != 0) {
                throw Usage();
            }
            return UsbGeneratePattern(board, records.data(), static_cast<uint32_t>(records.size()));
        }
        throw Usage();
    }

    std::vector<const char*> args_;
    bool wideBus_[256] = {};
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
