// The exports every board family shares: version, presence, speed, status, the error
// reporting and the exclusive mode.
#include <chrono>
#include <cstring>
#include <string>

#include "api/entry.h"
#include "api/version.h"
#include "internal/board_table.h"
#include "transport/transport.h"

using namespace portiva;

extern "C" {

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
    const auto lock = LockLibrary();
    return Guarded(DevNum, [&] { return !FindDevicePath(DevNum).empty(); });
}

PORTIVA_API PortivaBool PORTIVA_CALL UsbDeviceInitialized(uint8_t DevNum) {
    const auto lock = LockLibrary();
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
    const auto lock = LockLibrary();
    Board(DevNum).initialized = Flag != 0;
}

PORTIVA_API PortivaBool PORTIVA_CALL UsbCheckSpeed(uint8_t DevNum, PortivaBool* PHighSpeed) {
    const auto lock = LockLibrary();
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
    const auto lock = LockLibrary();
    return Guarded(DevNum, [&] {
        return DoBulkXFer(DevNum, kCmdGetStatus, true, kCommandTimeoutMs, 0, 0, nullptr, nullptr);
    });
}

PORTIVA_API PortivaBool PORTIVA_CALL UsbGetRdyState(uint8_t DevNum, uint8_t* PRdy) {
    return Checked(DevNum, PRdy != nullptr, [&] {
        // The port read with a sixth byte: the ready line after the five port levels.
        uint8_t answer[6] = {};
        const bool ok = DoBulkXFer(DevNum, kCmdGetPortState, false, kCommandTimeoutMs,
                                   sizeof answer, 0, answer, nullptr);
        if (ok) {
            *PRdy = answer[5];
        }
        return ok;
    });
}

PORTIVA_API uint8_t PORTIVA_CALL UsbGetError(void) {
    const auto lock = LockLibrary();
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
    const auto lock = LockLibrary();
    Board(DevNum).exclusive = true;
    return 1;
}

PORTIVA_API PortivaBool PORTIVA_CALL UsbClose(uint8_t DevNum) {
    const auto lock = LockLibrary();
    Board(DevNum).exclusive = false;
    return 1;
}

PORTIVA_API PortivaBool PORTIVA_CALL UsbRetrieveAllErrors(uint8_t DevNum, PortivaBool RetrieveAll) {
    const auto lock = LockLibrary();
    DeviceRecord& board = Board(DevNum);
    if (!board.initialized) {
        SetError(DevNum, kErrInvalidParameter);
        return 0;
    }
    board.retrieveAll = RetrieveAll != 0;
    return 1;
}

PORTIVA_API void PORTIVA_CALL UsbSetGuid(const char* pszGuid) {
    const auto lock = LockLibrary();
    if (!pszGuid) {
        return;
    }
    try {
        SetInterfaceGuid(pszGuid);
    } catch (...) {
        // Out of memory: the previous GUID stays.
    }
}

} // extern "C"
