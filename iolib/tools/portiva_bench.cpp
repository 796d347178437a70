// Prints what the library costs on the host per command against the simulated board (debug
// logging off), next to what one USB 2.0 high-speed command round trip allows, and the
// throughput of a 64 KiB EEPROM read and a 64 KiB SPI transfer.
// usage: portiva_bench [CALLS]   (CALLS per command, default 20000)
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <vector>

#include "portiva.h"

namespace {

using Clock = std::chrono::steady_clock;

// Seconds for `calls` runs of `call`; negative when a call failed.
double Time(long calls, const std::function<bool(long)>& call) {
    const auto start = Clock::now();
    for (long i = 0; i < calls; ++i) {
        if (!call(i)) {
            return -1;
        }
    }
    return std::chrono::duration<double>(Clock::now() - start).count();
}

struct Command {
    const char* name;
    std::function<bool(long)> call;
};

} // namespace

int main(int argc, char** argv) {
    if (!std::getenv("PORTIVA_SIM")) {
        setenv("PORTIVA_SIM", "1", 1);
    }
    const long calls = argc > 1 ? std::strtol(argv[1], nullptr, 10) : 20000;
    static uint8_t config[172] = {0x80, 0xEE};
    if (calls <= 0 || !UsbInit(0) || !UsbSetIODir(0, 16, 1) || !UsbSpiInit(0, 0, 0, 0) ||
        !UsbParInitUsingArray(0, config)) {
        std::fprintf(stderr, "portiva_bench: cannot start the simulated board\n");
        return 1;
    }
    std::vector<uint8_t> buffer(65536);
    uint8_t byte = 0;
    const std::vector<Command> commands = {
        {"UsbSetIOState", [](long i) { return UsbSetIOState(0, 16, i & 1); }},
        {"UsbGetPortState", [&](long) { return UsbGetPortState(0, 1, &byte); }},
        {"UsbI2CWriteByte", [](long i) { return UsbI2CWriteByte(0, 0x50, uint8_t(i)); }},
        {"UsbEEpReadByte", [&](long i) { return UsbEEpReadByte(0, uint16_t(i), &byte); }},
        {"UsbEEpWriteBytes (16)",
         [&](long i) { return UsbEEpWriteBytes(0, uint16_t(i * 16), 16, buffer.data()); }},
        {"UsbSpiTransferByte", [&](long i) { return UsbSpiTransferByte(0, uint8_t(i), &byte); }},
        {"UsbUartSetBaudrate", [](long) { return UsbUartSetBaudrate(0, 9600); }},
        {"UsbUartWriteBytes (16)", [&](long) { return UsbUartWriteBytes(0, buffer.data(), 16); }},
        {"UsbUartReadBytes (16)",
         [&](long) {
             uint32_t count = 16;
             return UsbUartReadBytes(0, buffer.data(), &count);
         }},
        {"UsbParSetWaveforms", [](long) { return UsbParSetWaveforms(0, 1, 2); }},
        {"UsbParOut (64)", [&](long) { return UsbParOut(0, buffer.data(), 64); }},
        {"UsbGeneratePattern (1 record)",
         [](long) {
             uint8_t record[16] = {0x01, 0x01};
             return UsbGeneratePattern(0, record, sizeof record);
         }},
    };
    // A command is one bulk OUT transfer; the earliest next one starts a microframe later.
    const double microframesPerSecond = 1e6 / 125.0;
    for (const bool exclusive : {false, true}) {
        if (exclusive) {
            UsbOpen(0);
        }
        std::printf("%s:\n",
                    exclusive ? "handle kept open with UsbOpen" : "open and close per call");
        for (const Command& command : commands) {
            const double seconds = Time(calls, command.call);
            if (seconds < 0) {
                std::fprintf(stderr, "portiva_bench: %s failed (error %u)\n", command.name,
                             UsbGetError());
                return 1;
            }
            const double perSecond = calls / seconds;
            std::printf("  %-30s %8.2f us per call, %9.0f calls/s, %5.1f x one per microframe\n",
                        command.name, 1e6 / perSecond, perSecond, perSecond / microframesPerSecond);
        }
    }
    // Throughput of whole 64 KiB transfers (the SPI length is a word: 65535 bytes).
    const long rounds = calls / 1000 > 0 ? calls / 1000 : 1;
    const double eeprom =
        Time(rounds, [&](long) { return UsbEEpReadBytes(0, 0, 0, buffer.data()); });
    const double spi =
        Time(rounds, [&](long) { return UsbSpiTransfer(0, buffer.data(), buffer.data(), 65535); });
    if (eeprom < 0 || spi < 0) {
        std::fprintf(stderr, "portiva_bench: a 64 KiB transfer failed (error %u)\n", UsbGetError());
        return 1;
    }
    std::printf("64 KiB EEPROM read:  %.2f ms each, %.1f MB/s (%ld rounds)\n",
                eeprom / rounds * 1e3, 65536.0 * rounds / eeprom / 1e6, rounds);
    std::printf("64 KiB SPI transfer: %.2f ms each, %.1f MB/s in 133 blocks (%ld rounds)\n",
                spi / rounds * 1e3, 65535.0 * rounds / spi / 1e6, rounds);
    UsbClose(0);
    return 0;
}
