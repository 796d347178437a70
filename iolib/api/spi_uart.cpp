// The SPI master on port 0 and the UART: SPI data go in blocks that fit one bulk packet with
// the command header, the UART's baud divisor travels with every write.
#include <algorithm>
#include <cstring>
#include <iterator>

#include "api/entry.h"
#include "internal/board_table.h"
#include "transport/transport.h"

using namespace portiva;

namespace {

constexpr uint32_t kSpiTimeoutMs = 2000;
constexpr uint32_t kUartTimeoutMs = 1000;
constexpr uint16_t kSpiBlockHighSpeed = 496;
constexpr uint16_t kSpiBlockFullSpeed = 48;
constexpr uint8_t kSpiMaxMode = 7;
constexpr uint8_t kSpiLsbFirstFlag = 128;
constexpr uint32_t kUartMinBaud = 1200;
constexpr uint32_t kUartMaxBaud = 115200;
constexpr uint32_t kUartReadMax = 512;
constexpr uint32_t kUartCountSize = 2;

// Clock delay of the firmware's SPI loop for Speed 1..5; other values run without delay.
uint16_t SpiDelay(uint8_t speed) {
    static constexpr uint16_t kDelays[] = {0, 3, 18, 43, 119, 244};
    return speed < std::size(kDelays) ? kDelays[speed] : 0;
}

// Port 0: lines 0..3 keep their direction and level, 4 is MISO, 5..7 drive SCK, MOSI and the
// select line at their idle levels.
bool SpiInit(uint8_t devNum, bool lsbFirst, uint8_t mode, uint8_t speed) {
    if (mode > kSpiMaxMode) {
        return InvalidParameter(devNum);
    }
    uint8_t states[16] = {0x1F, static_cast<uint8_t>((mode & 1) ? 0xC0 : 0x80)};
    uint8_t dirs[10] = {0x0F, 0xE0};
    for (unsigned port = 1; port < 5; ++port) {
        states[2 * port] = 255;
        dirs[2 * port] = 255;
    }
    if (!DoBulkXFer(devNum, kCmdSetPortState, false, kCommandTimeoutMs, 0, sizeof states, nullptr,
                    states)) {
        return false;
    }
    DevLog("write states successful");
    if (!DoBulkXFer(devNum, kCmdSetPortDir, false, kCommandTimeoutMs, 0, sizeof dirs, nullptr,
                    dirs)) {
        return false;
    }
    DevLog("write directions successful");
    DeviceRecord& board = Board(devNum);
    board.spiInitialized = true;
    board.spiMode = mode;
    board.lsbFirst = lsbFirst;
    board.speed = speed;
    return true;
}

bool SpiTransfer(uint8_t devNum, const uint8_t* write, uint8_t* read, uint32_t len) {
    const DeviceRecord& board = Board(devNum);
    if (!board.spiInitialized) {
        SetError(devNum, kErrSpiNotInitialized);
        return false;
    }
    if ((!write && !read) || len == 0) {
        return InvalidParameter(devNum);
    }
    const uint32_t blockSize = board.highSpeed ? kSpiBlockHighSpeed : kSpiBlockFullSpeed;
    const uint8_t mode =
        static_cast<uint8_t>(board.spiMode | (board.lsbFirst ? kSpiLsbFirstFlag : 0));
    const uint16_t delay = SpiDelay(board.speed);
    uint8_t block[kSpiBlockHighSpeed];
    bool ok = true;
    for (uint32_t done = 0; done < len && ok;) {
        const uint32_t n = std::min(blockSize, len - done);
        const bool last = done + n == len;
        if (write) {
            std::memcpy(block, write + done, n);
        } else {
            std::memset(block, 0, n);
        }
        ok = DoBulkXFer(devNum, kCmdSpiTransfer, false, kSpiTimeoutMs, n, n, block, block,
                        last ? 1 : 0, delay, mode);
        if (read) {
            std::memcpy(read + done, block, n);
        }
        done += n;
    }
    return ok;
}

uint16_t UartDivisor(uint32_t baudrate) {
    if (baudrate <= 2930) {
        return static_cast<uint8_t>(257 - 125000 / baudrate);
    }
    return static_cast<uint16_t>(0x300 | static_cast<uint8_t>(257 - 750000 / baudrate));
}

// Sets the divisor and sends the bytes (none for a baud rate change) with it.
bool UartSend(uint8_t devNum, uint32_t baudrate, const void* data, uint32_t len) {
    if (baudrate < kUartMinBaud || baudrate > kUartMaxBaud || (len && !data) || len > kMaxPayload) {
        return InvalidParameter(devNum);
    }
    Board(devNum).uartBaudrate = baudrate;
    return DoBulkXFer(devNum, kCmdUartWrite, false, kUartTimeoutMs, 0, len, nullptr, data, 0,
                      UartDivisor(baudrate));
}

bool UartRead(uint8_t devNum, uint8_t* data, uint32_t* count) {
    if (!count || (*count && !data)) {
        return InvalidParameter(devNum);
    }
    const uint32_t wanted = std::min(*count, kUartReadMax);
    uint8_t answer[kUartCountSize + kUartReadMax] = {};
    const bool ok = DoBulkXFer(devNum, kCmdUartRead, false, kUartTimeoutMs, wanted + kUartCountSize,
                               0, answer, nullptr);
    // A failed read delivers nothing rather than bytes of unknown origin.
    const uint32_t received = ok ? std::min<uint32_t>(answer[0] | (answer[1] << 8), wanted) : 0;
    if (received) {
        std::memcpy(data, answer + kUartCountSize, received);
    }
    *count = received;
    return ok;
}

void TraceUartSend(trace::Call& t, uint8_t devNum, uint32_t baudrate, const void* data,
                   uint32_t len) {
    t.Byte("DevNum", devNum).Dword("Baudrate", baudrate).Pointer("pWrite", data);
    t.Dword("WriteLen", len);
}

} // namespace

extern "C" {

PORTIVA_API PortivaBool PORTIVA_CALL UsbSpiInit(uint8_t DevNum, PortivaBool LsbFirst,
                                                uint8_t SPIMode, uint8_t Speed) {
    return Locked(DevNum, [&] {
        trace::Call t("UsbSpiInit");
        t.Byte("DevNum", DevNum).Bool("LsbFirst", LsbFirst).Byte("SPIMode", SPIMode);
        t.Byte("Speed", Speed);
        return t.Result(SpiInit(DevNum, LsbFirst != 0, SPIMode, Speed));
    });
}

PORTIVA_API PortivaBool PORTIVA_CALL UsbSpiTransfer(uint8_t DevNum, const void* PWrite, void* PRead,
                                                    uint16_t Len) {
    return Locked(DevNum, [&] {
        trace::Call t("UsbSpiTransfer");
        t.Byte("DevNum", DevNum).Pointer("PWrite", PWrite).Pointer("PRead", PRead);
        t.Word("Len", Len);
        return t.Result(SpiTransfer(DevNum, static_cast<const uint8_t*>(PWrite),
                                    static_cast<uint8_t*>(PRead), Len));
    });
}

PORTIVA_API PortivaBool PORTIVA_CALL UsbSpiTransferByte(uint8_t DevNum, uint8_t DatWrite,
                                                        uint8_t* PDatRead) {
    return Locked(DevNum, [&] {
        trace::Call t("UsbSpiTransfer");
        t.Byte("DevNum", DevNum).Byte("DatWrite", DatWrite).Pointer("PDatRead", PDatRead);
        const bool ok = t.Result(SpiTransfer(DevNum, &DatWrite, PDatRead, 1));
        t.ResultByte("DatRead", PDatRead);
        return ok;
    });
}

PORTIVA_API PortivaBool PORTIVA_CALL UsbUartSetBaudrate(uint8_t DevNum, uint32_t Baudrate) {
    return Locked(DevNum, [&] {
        trace::Call t("UsbUartWriteBytes");
        TraceUartSend(t, DevNum, Baudrate, nullptr, 0);
        return t.Result(UartSend(DevNum, Baudrate, nullptr, 0));
    });
}

PORTIVA_API PortivaBool PORTIVA_CALL UsbUartWriteBytes(uint8_t DevNum, const void* pWrite,
                                                       uint32_t WriteLen) {
    return Locked(DevNum, [&] {
        const uint32_t baudrate = Board(DevNum).uartBaudrate;
        trace::Call t("UsbUartWriteBytes");
        TraceUartSend(t, DevNum, baudrate, pWrite, WriteLen);
        return t.Result(UartSend(DevNum, baudrate, pWrite, WriteLen));
    });
}

PORTIVA_API PortivaBool PORTIVA_CALL UsbUartReadBytes(uint8_t DevNum, void* pRead,
                                                      uint32_t* ReadLen) {
    return Locked(DevNum, [&] {
        trace::Call t("UsbUartReadBytes");
        t.Byte("DevNum", DevNum).Pointer("pRead", pRead);
        if (ReadLen) {
            t.Dword("ReadLen", *ReadLen);
        } else {
            t.Pointer("ReadLen", ReadLen);
        }
        return t.Result(UartRead(DevNum, static_cast<uint8_t*>(pRead), ReadLen));
    });
}

} // extern "C"
