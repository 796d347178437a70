// The parallel bus and the pattern generator. Bus data stream on endpoints 0x02 and 0x88 outside
// the command protocol; commands only configure the bus, arm an input and fetch the status.
#include <cstring>
#include <memory>

#include "api/entry.h"
#include "firmware/par_mode_table.h"
#include "internal/board_table.h"
#include "transport/requests.h"
#include "transport/transport.h"

using namespace portiva;

namespace {

constexpr uint32_t kParStatusTimeoutMs = 1000;
constexpr uint32_t kPatternTimeoutMs = 10000;
constexpr uint32_t kDaMedSFTimeoutMs = 1000;
constexpr uint8_t kMaxWaveformIndex = 3;
constexpr uint32_t kMaxTransferSize = 3500000;
constexpr uint32_t kTransferSizeGrain = 32;
constexpr uint32_t kPatternRecordSize = 16;
constexpr uint8_t kParTimeoutSelect = 0;

// How long the host waits for bus data: the firmware's own time-out plus room.
uint32_t HostWaitMs(const DeviceRecord& board) {
    return board.parTimeout < 9001 ? 10000 : 70000;
}

// Closes the board (unless it is held open with UsbOpen) on the way out of a stream transfer.
bool Close(uint8_t devNum, bool result) {
    CloseDevice(devNum);
    return result;
}

bool ParInitUsingArray(uint8_t devNum, const uint8_t* config) {
    if (!config) {
        return InvalidParameter(devNum);
    }
    const uint32_t length = ParConfigLength(config[0]);
    if (!DoBulkXFer(devNum, kCmdParInit, true, kCommandTimeoutMs, 0, length, nullptr, config)) {
        return false;
    }
    DeviceRecord& board = Board(devNum);
    board.parInitialized = true;
    board.bus16Bit = (config[0] & 1) != 0;
    board.autoOut = false;
    board.autoIn = false;
    return true;
}

// The checks UsbParOut and UsbParIn share; `bytes` gets the stream's length in bytes.
enum class StreamCheck { Go, Done, Fail };
StreamCheck CheckStream(uint8_t devNum, const void* data, uint32_t len, uint32_t& bytes) {
    const DeviceRecord& board = Board(devNum);
    if (!board.initialized) {
        SetError(devNum, kErrNotInitialized);
        return StreamCheck::Fail;
    }
    if (!board.parInitialized) {
        SetError(devNum, kErrParNotInitialized);
        return StreamCheck::Fail;
    }
    if (!data) {
        InvalidParameter(devNum);
        return StreamCheck::Fail;
    }
    if (len == 0) {
        return StreamCheck::Done;
    }
    // Twice a dword may not fit 32 bits, and neither may the buffer around it.
    const uint64_t n = uint64_t{len} * (board.bus16Bit ? 2 : 1);
    if (n > kMaxStream) {
        InvalidParameter(devNum);
        return StreamCheck::Fail;
    }
    bytes = static_cast<uint32_t>(n);
    return StreamCheck::Go;
}

bool ParOut(uint8_t devNum, const void* data, uint32_t len) {
    uint32_t n = 0;
    const StreamCheck check = CheckStream(devNum, data, len, n);
    if (check != StreamCheck::Go) {
        return check == StreamCheck::Done;
    }
    if (!OpenDevice(devNum)) {
        return false;
    }
    // The driver block goes in front of the data.
    std::unique_ptr<uint8_t[]> buffer(new (std::nothrow) uint8_t[size_t{n} + req::kCyBlockSize]);
    if (!buffer) {
        SetError(devNum, kErrOutOfMemory);
        return Close(devNum, false);
    }
    uint8_t* stream = buffer.get() + req::kCyBlockSize;
    std::memcpy(stream, data, n);
    DeviceRecord& board = Board(devNum);
    const bool written =
        BulkWriteInPlace(board.handle, req::kEpParOut, stream, n, HostWaitMs(board));
    CloseDevice(devNum);
    if (!written) {
        SetError(devNum, kErrTransferFailed);
        return false;
    }
    if (!board.retrieveAll) {
        return true;
    }
    // The firmware reports an output it could not complete as a status bit.
    return DoBulkXFer(devNum, kCmdGetStatus, true, kParStatusTimeoutMs, 0, 0, nullptr, nullptr);
}

bool ParIn(uint8_t devNum, void* data, uint32_t len) {
    uint32_t n = 0;
    const StreamCheck check = CheckStream(devNum, data, len, n);
    if (check != StreamCheck::Go) {
        return check == StreamCheck::Done;
    }
    if (!DoBulkXFer(devNum, kCmdParIn, false, kCommandTimeoutMs, 0, 0, nullptr, nullptr,
                    static_cast<uint16_t>(n), static_cast<uint16_t>(n >> 16))) {
        return false;
    }
    if (!OpenDevice(devNum)) {
        return false;
    }
    // Driver block, the data, and the firmware's status byte behind them.
    std::unique_ptr<uint8_t[]> buffer(new (std::nothrow)
                                          uint8_t[size_t{n} + req::kCyBlockSize + 1]);
    if (!buffer) {
        SetError(devNum, kErrOutOfMemory);
        return Close(devNum, false);
    }
    uint8_t* stream = buffer.get() + req::kCyBlockSize;
    DeviceRecord& board = Board(devNum);
    if (!BulkReadInPlace(board.handle, req::kEpParIn, stream, n + 1, HostWaitMs(board))) {
        SetError(devNum, kErrTransferFailed);
        return Close(devNum, false);
    }
    std::memcpy(data, stream, n);
    const uint8_t status = stream[n];
    SetError(devNum, FirmwareStatusErrors(status));
    return Close(devNum, status == 0);
}

bool ParSetTimeout(uint8_t devNum, uint16_t timeout) {
    const bool ok = DoBulkXFer(devNum, kCmdSetTimeout, false, kCommandTimeoutMs, 0, 0, nullptr,
                               nullptr, 0, timeout, kParTimeoutSelect);
    Board(devNum).parTimeout = timeout;
    return ok;
}

bool ParSetTransferSize(uint8_t devNum, uint32_t size) {
    if (!Board(devNum).initialized) {
        SetError(devNum, kErrNotInitialized);
        return false;
    }
    if (!OpenDevice(devNum)) {
        return false;
    }
    if (size == 0 || size >= kMaxTransferSize || size % kTransferSizeGrain != 0) {
        return Close(devNum, InvalidParameter(devNum));
    }
    const Handle handle = Board(devNum).handle;
    if (!SetTransferSize(handle, req::kEpParOut, size) ||
        !SetTransferSize(handle, req::kEpParIn, size)) {
        SetError(devNum, kErrTransferFailed);
        return Close(devNum, false);
    }
    return Close(devNum, true);
}

bool ParSetAutomode(uint8_t devNum, bool autoOut, bool autoIn) {
    DeviceRecord& board = Board(devNum);
    board.autoOut = autoOut;
    board.autoIn = autoIn;
    bool ok = false;
    // Three times in a row; the last one's result counts.
    for (int i = 0; i < 3; ++i) {
        ok = DoBulkXFer(devNum, kCmdParSetAutomode, false, kCommandTimeoutMs, 0, 0, nullptr,
                        nullptr, autoIn ? 1 : 0, autoOut ? 1 : 0);
    }
    return ok;
}

// Change-masks become keep-masks and the delay the firmware's loop count, in the caller's
// buffer.
void ConvertPattern(uint8_t* records, uint32_t len) {
    for (uint32_t offset = 0; offset < len; offset += kPatternRecordSize) {
        uint8_t* record = records + offset;
        for (unsigned port = 0; port < 5; ++port) {
            record[2 * port] = static_cast<uint8_t>(~record[2 * port]);
        }
        const uint16_t delay = req::Get16(record + 10);
        req::Put16(record + 10, static_cast<uint16_t>(delay >= 50 ? (delay - 50) / 2 : 0));
    }
}

bool GeneratePattern(uint8_t devNum, uint8_t* records, uint32_t len) {
    if (len % kPatternRecordSize != 0 || (len && !records) || len > kMaxPayload) {
        return InvalidParameter(devNum);
    }
    if (len == 0) {
        return true; // no record, nothing to play
    }
    ConvertPattern(records, len);
    return DoBulkXFer(devNum, kCmdSetPortState, false, kPatternTimeoutMs, 0, len, nullptr, records);
}

} // namespace

extern "C" {

PORTIVA_API PortivaBool PORTIVA_CALL UsbParInitUsingArray(uint8_t DevNum, const void* PData) {
    return Locked(DevNum, [&] {
        trace::Call t("UsbParInitUsingArray");
        t.Byte("DevNum", DevNum).Pointer("PData", PData);
        return t.Result(ParInitUsingArray(DevNum, static_cast<const uint8_t*>(PData)));
    });
}

PORTIVA_API PortivaBool PORTIVA_CALL UsbParInit(uint8_t DevNum, uint8_t Mode) {
    return Locked(DevNum, [&] {
        trace::Call t("UsbParInit");
        t.Byte("DevNum", DevNum).Byte("Mode", Mode);
        if (Mode >= kParModeCount) {
            return t.Result(InvalidParameter(DevNum));
        }
        const uint8_t* config = ParModeArray(Mode);
        if (!config) {
            // The built-in configuration cannot be read, as a missing firmware image.
            SetError(DevNum, kErrFileNotFound);
            return t.Result(false);
        }
        return t.Result(UsbParInitUsingArray(DevNum, config) != 0);
    });
}

PORTIVA_API PortivaBool PORTIVA_CALL UsbParOut(uint8_t DevNum, const void* PData, uint32_t Len) {
    return Locked(DevNum, [&] {
        trace::Call t("UsbParOut");
        t.Byte("DevNum", DevNum).Pointer("PData", PData).Dword("Len", Len);
        return t.Result(ParOut(DevNum, PData, Len));
    });
}

PORTIVA_API PortivaBool PORTIVA_CALL UsbParIn(uint8_t DevNum, void* PData, uint32_t Len) {
    return Locked(DevNum, [&] {
        trace::Call t("UsbParIn");
        t.Byte("DevNum", DevNum).Pointer("PData", PData).Dword("Len", Len);
        return t.Result(ParIn(DevNum, PData, Len));
    });
}

PORTIVA_API PortivaBool PORTIVA_CALL UsbParSetTimeout(uint8_t DevNum, uint16_t Timeout) {
    return Locked(DevNum, [&] {
        trace::Call t("UsbParSetTimeout");
        t.Byte("DevNum", DevNum).Word("Timeout", Timeout);
        return t.Result(ParSetTimeout(DevNum, Timeout));
    });
}

PORTIVA_API PortivaBool PORTIVA_CALL UsbSetTimeout(uint8_t DevNum, uint16_t Timeout) {
    return Locked(DevNum, [&] {
        trace::Call t("UsbSetTimeout");
        t.Info("Will pass parameters to UsbI2CSetTimeout and UsbParSetTimeout");
        t.Byte("DevNum", DevNum).Word("Timeout", Timeout);
        bool ok = UsbI2CSetTimeout(DevNum, Timeout) != 0;
        if (ok) {
            ok = UsbParSetTimeout(DevNum, Timeout) != 0;
        }
        return t.Result(ok);
    });
}

PORTIVA_API PortivaBool PORTIVA_CALL UsbParSetWaveforms(uint8_t DevNum, uint8_t InWfIdx,
                                                        uint8_t OutWfIdx) {
    return Locked(DevNum, [&] {
        trace::Call t("UsbParSetWaveforms");
        t.Byte("DevNum", DevNum).Byte("InWfIdx", InWfIdx).Byte("OutWfIdx", OutWfIdx);
        if (InWfIdx > kMaxWaveformIndex || OutWfIdx > kMaxWaveformIndex) {
            return t.Result(InvalidParameter(DevNum));
        }
        return t.Result(DoBulkXFer(DevNum, kCmdParSetWaveforms, false, kCommandTimeoutMs, 0, 0,
                                   nullptr, nullptr, 0, 0,
                                   static_cast<uint8_t>(InWfIdx + 4 * OutWfIdx)));
    });
}

PORTIVA_API PortivaBool PORTIVA_CALL UsbParSetTransferSize(uint8_t DevNum, uint32_t Size) {
    return Locked(DevNum, [&] {
        trace::Call t("UsbSetTransferSize");
        t.Byte("DevNum", DevNum).Dword("Size", Size);
        return t.Result(ParSetTransferSize(DevNum, Size));
    });
}

PORTIVA_API PortivaBool PORTIVA_CALL UsbParSetAutomode(uint8_t DevNum, PortivaBool AutoOut,
                                                       PortivaBool AutoIn) {
    return Locked(DevNum, [&] {
        trace::Call t("UsbParSetAutomode");
        t.Byte("DevNum", DevNum).Bool("AutoOut", AutoOut).Bool("AutoIn", AutoIn);
        return t.Result(ParSetAutomode(DevNum, AutoOut != 0, AutoIn != 0));
    });
}

PORTIVA_API PortivaBool PORTIVA_CALL UsbDaMedSF(uint8_t DevNum) {
    return Locked(DevNum, [&] {
        trace::Call t("UsbDaMedSF");
        t.Byte("DevNum", DevNum);
        return t.Result(
            DoBulkXFer(DevNum, kCmdDaMedSF, false, kDaMedSFTimeoutMs, 0, 0, nullptr, nullptr));
    });
}

PORTIVA_API PortivaBool PORTIVA_CALL UsbGeneratePattern(uint8_t DevNum, void* pData, uint32_t Len) {
    return Locked(DevNum, [&] {
        trace::Call t("UsbGeneratePattern");
        t.Byte("DevNum", DevNum).Pointer("pData", pData).Dword("Len", Len);
        return t.Result(GeneratePattern(DevNum, static_cast<uint8_t*>(pData), Len));
    });
}

} // extern "C"
