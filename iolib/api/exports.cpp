// The exported C functions of the library frame, board start-up and the port family.
#include "api/portiva.h"

#include <chrono>
#include <cstring>
#include <memory>
#include <new>
#include <string>

#include "api/device_table.h"
#include "api/log.h"
#include "api/version.h"
#include "transport/image_builder.h"
#include "transport/transport.h"

using namespace portiva;

namespace {

// No exception may cross the C API: a failure inside becomes an error bit and false.
template <typename Body> PortivaBool Guarded(uint8_t devNum, Body body) {
    try {
        return body() ? 1 : 0;
    } catch (const std::bad_alloc&) {
        SetError(devNum, kErrOutOfMemory);
    } catch (...) {
        SetError(devNum, kErrTransferFailed);
    }
    return 0;
}

void Dev(const char* text) {
    if (LogEnabled()) {
        WriteLog(LogLevel::Dev, false, text);
    }
}

constexpr uint32_t kCommandTimeoutMs = 500;
constexpr uint8_t kPortCount = 5;
constexpr uint8_t kLineCount = 40;
constexpr uint8_t kLoadRequest = 0xA0;
constexpr uint16_t kCpuControl = 0xE600;
constexpr uint32_t kChunk = 512;
constexpr uint32_t kBulkTransferSize = 0xFE00;

// Five (keep-mask, value) pairs: every port untouched except `port`.
void FillPairs(uint8_t* record, uint8_t port, uint8_t keep, uint8_t value) {
    for (uint8_t p = 0; p < kPortCount; ++p) {
        record[2 * p] = p == port ? keep : 255;
        record[2 * p + 1] = p == port ? value : 0;
    }
}

bool SendPortState(uint8_t devNum, uint8_t port, uint8_t keep, uint8_t value) {
    uint8_t record[16] = {};
    FillPairs(record, port, keep, value);
    return DoBulkXFer(devNum, kCmdSetPortState, false, kCommandTimeoutMs, 0, sizeof record, nullptr,
                      record);
}

bool SendPortDir(uint8_t devNum, uint8_t port, uint8_t keep, uint8_t value) {
    uint8_t record[10] = {};
    FillPairs(record, port, keep, value);
    return DoBulkXFer(devNum, kCmdSetPortDir, false, kCommandTimeoutMs, 0, sizeof record, nullptr,
                      record);
}

bool LoadRequest(Handle handle, uint16_t address, uint8_t* data, uint16_t length,
                 uint32_t timeoutMs) {
    return VendorRequest(handle, Direction::HostToBoard, kLoadRequest, address, 0, length, data,
                         timeoutMs);
}

// Closes the board and gives `exclusive` back; the common exit of UsbInit from its open on.
bool EndInit(uint8_t devNum, bool exclusive, bool result) {
    CloseDevice(devNum);
    Board(devNum).exclusive = exclusive;
    return result;
}

bool Init(uint8_t devNum) {
    DeviceRecord& board = Board(devNum);
    const std::string path = FindDevicePath(devNum);
    if (path.empty()) {
        board.devicePath.clear();
        SetError(devNum, kErrDeviceNotPresent);
        return false;
    }
    auto image = std::make_unique<FirmwareImage>();
    if (!BuildImage(ActiveRecordTable(), *image)) {
        SetError(devNum, kErrFileNotFound);
        return false;
    }
    board.devicePath = path;
    const bool exclusive = board.exclusive;
    board.exclusive = false;
    if (board.initialized) {
        if (LogEnabled()) {
            WriteLog(LogLevel::Info, false, "Device is already initialized");
        }
        if (board.handle != kInvalidHandle) {
            CloseDevice(devNum);
        }
    }
    const bool opened = OpenDevice(devNum);
    Dev("Firmware loaded");
    if (!opened) {
        Dev("unable to open device");
        board.exclusive = exclusive;
        return false;
    }
    if (LogEnabled()) {
        WriteLog(LogLevel::Dev, false, "Firmware Size: " + std::to_string(image->size) + " Bytes");
        WriteLog(LogLevel::Dev, false,
                 CurrentDriverType() == DriverType::EzUsb ? "Driver type: EzUsb-Driver"
                                                          : "Driver type: CyUsb-Driver");
    }
    uint8_t halt = 1;
    if (!LoadRequest(board.handle, kCpuControl, &halt, 1, 1000)) {
        return EndInit(devNum, exclusive, false);
    }
    Dev("device halted");
    bool downloaded = true;
    for (uint32_t i = 0; i <= image->size / kChunk; ++i) {
        if (!LoadRequest(board.handle, static_cast<uint16_t>(i * kChunk),
                         image->bytes.data() + i * kChunk, kChunk, 0)) {
            downloaded = false;
            break;
        }
    }
    if (downloaded) {
        Dev("Firmware downloaded to device");
    }
    uint8_t run = 0;
    if (!LoadRequest(board.handle, kCpuControl, &run, 1, 1000)) {
        return EndInit(devNum, exclusive, false);
    }
    Dev("device run");
    if (!SetAltSetting(board.handle, 1)) {
        SetError(devNum, kErrTransferFailed);
        return EndInit(devNum, exclusive, false);
    }
    board.initialized = true;
    uint8_t info[2] = {};
    if (!DoBulkXFer(devNum, kCmdGetFirmwareInfo, false, kCommandTimeoutMs, sizeof info, 0, info,
                    nullptr)) {
        board.initialized = false;
        return EndInit(devNum, exclusive, false);
    }
    const uint16_t packetSize = static_cast<uint16_t>(info[0] | (info[1] << 8));
    board.highSpeed = packetSize == 512;
    board.spiInitialized = false;
    board.parInitialized = false;
    board.parTimeout = 10;
    board.autoOut = false;
    board.autoIn = false;
    // The command exchange closed the board again; the transfer sizes need it open.
    if (board.handle != kInvalidHandle || OpenDevice(devNum)) {
        SetTransferSize(board.handle, 0x02, kBulkTransferSize);
        SetTransferSize(board.handle, 0x88, kBulkTransferSize);
    }
    return EndInit(devNum, exclusive, true);
}

bool ReadPorts(uint8_t devNum, uint8_t* answer, uint32_t length) {
    return DoBulkXFer(devNum, kCmdGetPortState, false, kCommandTimeoutMs, length, 0, answer,
                      nullptr);
}

// The levels of one port; `value` is written also when the transfer failed (then 0).
bool ReadPort(uint8_t devNum, uint8_t port, uint8_t& value) {
    uint8_t answer[kPortCount] = {};
    const bool ok = ReadPorts(devNum, answer, sizeof answer);
    value = answer[port];
    return ok;
}

} // namespace

extern "C" {

PORTIVA_API PortivaBool PORTIVA_CALL UsbInit(uint8_t DevNum) {
    return Guarded(DevNum, [&] { return Init(DevNum); });
}

PORTIVA_API void PORTIVA_CALL UsbGetVersion(char* PVersion) {
    if (!PVersion) {
        return;
    }
    try {
        const std::string version = LibraryVersionText().substr(0, 255);
        std::memcpy(PVersion, version.c_str(), version.size() + 1);
    } catch (...) {
        PVersion[0] = '\0';
    }
}

PORTIVA_API PortivaBool PORTIVA_CALL UsbDevicePresent(uint8_t DevNum) {
    return Guarded(DevNum, [&] { return !FindDevicePath(DevNum).empty(); });
}

PORTIVA_API PortivaBool PORTIVA_CALL UsbDeviceInitialized(uint8_t DevNum) {
    return Guarded(DevNum, [&] {
        if (FindDevicePath(DevNum).empty()) {
            return false;
        }
        if (!OpenDevice(DevNum)) {
            return false;
        }
        const uint8_t setting = GetAltSetting(Board(DevNum).handle);
        CloseDevice(DevNum);
        return Board(DevNum).initialized && setting == 1;
    });
}

PORTIVA_API void PORTIVA_CALL UsbSetInitializedFlag(uint8_t DevNum, PortivaBool Flag) {
    Board(DevNum).initialized = Flag != 0;
}

PORTIVA_API PortivaBool PORTIVA_CALL UsbCheckSpeed(uint8_t DevNum, PortivaBool* PHighSpeed) {
    if (!PHighSpeed) {
        SetError(DevNum, kErrInvalidParameter);
        return 0;
    }
    *PHighSpeed = Board(DevNum).highSpeed ? 1 : 0;
    return 1;
}

PORTIVA_API void PORTIVA_CALL UsbWaituSec(uint32_t USec) {
    using Clock = std::chrono::steady_clock;
    const auto start = Clock::now();
    const auto ticks = std::chrono::microseconds(USec);
    while (Clock::now() - start < ticks) {
    }
}

PORTIVA_API PortivaBool PORTIVA_CALL UsbGetStatus(uint8_t DevNum) {
    return Guarded(DevNum, [&] {
        return DoBulkXFer(DevNum, kCmdGetStatus, true, kCommandTimeoutMs, 0, 0, nullptr, nullptr);
    });
}

PORTIVA_API PortivaBool PORTIVA_CALL UsbGetRdyState(uint8_t DevNum, uint8_t* PRdy) {
    if (!PRdy) {
        SetError(DevNum, kErrInvalidParameter);
        return 0;
    }
    return Guarded(DevNum, [&] {
        uint8_t answer[6] = {};
        const bool ok = ReadPorts(DevNum, answer, sizeof answer);
        if (ok) {
            *PRdy = answer[5];
        }
        return ok;
    });
}

PORTIVA_API uint8_t PORTIVA_CALL UsbGetError(void) {
    // Board 255 is not consulted.
    for (unsigned devNum = 0; devNum < kBoardCount - 1; ++devNum) {
        DeviceRecord& board = Board(static_cast<uint8_t>(devNum));
        if (board.errorFlags == 0) {
            continue;
        }
        if (const uint8_t number = PopError(board.errorFlags)) {
            return number;
        }
    }
    return 0;
}

PORTIVA_API PortivaBool PORTIVA_CALL UsbGetErrorStringByNr(uint8_t ErrNr, const char** PStr) {
    const char* message = ErrorMessage(ErrNr);
    if (!PStr || !message) {
        return 0;
    }
    *PStr = message;
    return 1;
}

PORTIVA_API PortivaBool PORTIVA_CALL UsbOpen(uint8_t DevNum) {
    Board(DevNum).exclusive = true;
    return 1;
}

PORTIVA_API PortivaBool PORTIVA_CALL UsbClose(uint8_t DevNum) {
    Board(DevNum).exclusive = false;
    return 1;
}

PORTIVA_API PortivaBool PORTIVA_CALL UsbRetrieveAllErrors(uint8_t DevNum, PortivaBool RetrieveAll) {
    DeviceRecord& board = Board(DevNum);
    if (!board.initialized) {
        SetError(DevNum, kErrInvalidParameter);
        return 0;
    }
    board.retrieveAll = RetrieveAll != 0;
    return 1;
}

PORTIVA_API void PORTIVA_CALL UsbSetGuid(const char* pszGuid) {
    if (!pszGuid) {
        return;
    }
    try {
        SetInterfaceGuid(pszGuid);
    } catch (...) {
        // Out of memory: the previous GUID stays.
    }
}

PORTIVA_API PortivaBool PORTIVA_CALL UsbSetPortState(uint8_t DevNum, uint8_t PortNr,
                                                     uint8_t State) {
    if (PortNr >= kPortCount) {
        SetError(DevNum, kErrInvalidParameter);
        return 0;
    }
    return Guarded(DevNum, [&] { return SendPortState(DevNum, PortNr, 0, State); });
}

PORTIVA_API PortivaBool PORTIVA_CALL UsbSetPortDir(uint8_t DevNum, uint8_t PortNr, uint8_t Dir) {
    if (PortNr >= kPortCount) {
        SetError(DevNum, kErrInvalidParameter);
        return 0;
    }
    return Guarded(DevNum, [&] { return SendPortDir(DevNum, PortNr, 0, Dir); });
}

PORTIVA_API PortivaBool PORTIVA_CALL UsbSetIOState(uint8_t DevNum, uint8_t PinNr,
                                                   PortivaBool State) {
    if (PinNr >= kLineCount) {
        SetError(DevNum, kErrInvalidParameter);
        return 0;
    }
    const uint8_t bit = static_cast<uint8_t>(1u << (PinNr % 8));
    return Guarded(DevNum, [&] {
        return SendPortState(DevNum, PinNr / 8, static_cast<uint8_t>(~bit), State ? bit : 0);
    });
}

PORTIVA_API PortivaBool PORTIVA_CALL UsbSetIODir(uint8_t DevNum, uint8_t PinNr, PortivaBool Dir) {
    if (PinNr >= kLineCount) {
        SetError(DevNum, kErrInvalidParameter);
        return 0;
    }
    const uint8_t bit = static_cast<uint8_t>(1u << (PinNr % 8));
    return Guarded(DevNum, [&] {
        return SendPortDir(DevNum, PinNr / 8, static_cast<uint8_t>(~bit), Dir ? bit : 0);
    });
}

PORTIVA_API PortivaBool PORTIVA_CALL UsbGetPortState(uint8_t DevNum, uint8_t PortNr,
                                                     uint8_t* PState) {
    if (PortNr >= kPortCount || !PState) {
        SetError(DevNum, kErrInvalidParameter);
        return 0;
    }
    return Guarded(DevNum, [&] { return ReadPort(DevNum, PortNr, *PState); });
}

PORTIVA_API PortivaBool PORTIVA_CALL UsbGetIOState(uint8_t DevNum, uint8_t PinNr,
                                                   PortivaBool* PState) {
    if (PinNr >= kLineCount || !PState) {
        SetError(DevNum, kErrInvalidParameter);
        return 0;
    }
    return Guarded(DevNum, [&] {
        uint8_t levels = 0;
        const bool ok = ReadPort(DevNum, PinNr / 8, levels);
        *PState = (levels >> (PinNr % 8)) & 1;
        return ok;
    });
}

} // extern "C"
