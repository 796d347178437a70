// The exports every board family shares: version, presence, speed, status, the error
// reporting and the exclusive mode.
#include <chrono>
#include <cstring>
#include <string>

#include "api/entry.h"
#include "api/version.h"
#include "debuglog/debug_config.h"
#include "internal/board_table.h"
#include "transport/transport.h"

#ifdef _WIN32
#include <windows.h>

#include "debuglog/debug_window.h"
#endif

using namespace portiva;

namespace {

// Library load: the debug settings first, so that the load itself can be logged. The board table
// and the transport state hold their load values from static initialisation.
void OnLibraryLoad() noexcept {
    try {
        DebugSettings settings = ReadDebugSettings();
        if (settings.enabled) {
            ShowDebugModeNotice(settings);
        }
        ApplyDebugSettings(std::move(settings));
        if (DebugEnabled()) {
            WriteLog(LogLevel::Info, false, "Windows version: " + SystemDescription());
            WriteLog(LogLevel::Info, false, "Dll file path and name: " + LibraryFilePath());
            WriteLog(LogLevel::Info, false, "Dll version: " + LibraryVersionText());
            WriteLog(LogLevel::Dev, false, "Initializing basic data structures");
        }
    } catch (...) {
        // Without memory at load the library runs without its debug log.
    }
}

} // namespace

#ifdef _WIN32
extern "C" BOOL WINAPI DllMain(HINSTANCE, DWORD reason, LPVOID reserved) {
    if (reason == DLL_PROCESS_ATTACH) {
        DeferDebugWindow(true);
        OnLibraryLoad();
        DeferDebugWindow(false);
    } else if (reason == DLL_PROCESS_DETACH) {
        // A later load probes the drivers again.
        ResetTransportState();
        ForgetDebugWindow(reserved == nullptr);
    }
    return TRUE;
}
#else
__attribute__((constructor)) static void PortivaLoad() {
    OnLibraryLoad();
}
#endif

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
    return Locked(DevNum, [&] { return !FindDevicePath(DevNum).empty(); });
}

PORTIVA_API PortivaBool PORTIVA_CALL UsbDeviceInitialized(uint8_t DevNum) {
    return Locked(DevNum, [&] {
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
    trace::Call t("UsbGetStatus");
    t.Byte("DevNum", DevNum);
    return t.Result(Guarded(DevNum, [&] {
        return DoBulkXFer(DevNum, kCmdGetStatus, true, kCommandTimeoutMs, 0, 0, nullptr, nullptr);
    }));
}

PORTIVA_API PortivaBool PORTIVA_CALL UsbGetRdyState(uint8_t DevNum, uint8_t* PRdy) {
    const auto lock = LockLibrary();
    trace::Call t("UsbGetRdyState");
    t.Byte("DevNum", DevNum).Pointer("PRdy", PRdy);
    const PortivaBool ok = Checked(DevNum, PRdy != nullptr, [&] {
        // The port read with a sixth byte: the ready line after the five port levels.
        uint8_t answer[6] = {};
        const bool ok = DoBulkXFer(DevNum, kCmdGetPortState, false, kCommandTimeoutMs,
                                   sizeof answer, 0, answer, nullptr);
        if (ok) {
            *PRdy = answer[5];
        }
        return ok;
    });
    t.ResultByte("Rdy", PRdy);
    return t.Result(ok);
}

namespace {
uint8_t NextError() {
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
} // namespace

PORTIVA_API uint8_t PORTIVA_CALL UsbGetError(void) {
    const auto lock = LockLibrary();
    trace::Call t("UsbGetError");
    const uint8_t number = NextError();
    t.ResultByteValue("", number);
    return number;
}

PORTIVA_API PortivaBool PORTIVA_CALL UsbGetErrorStringByNr(uint8_t ErrNr, const char** PStr) {
    const auto lock = LockLibrary();
    trace::Call t("UsbGetErrorStringByNr");
    // The text pointer the caller's variable holds; a null variable shows as the null address.
    t.Byte("ErrNr", ErrNr).Pointer("PStr", PStr ? static_cast<const void*>(*PStr) : nullptr);
    const char* message = ErrorMessage(ErrNr);
    if (!PStr || !message) {
        return t.Result(PortivaBool{0});
    }
    *PStr = message;
    return t.Result(PortivaBool{1});
}

PORTIVA_API PortivaBool PORTIVA_CALL UsbOpen(uint8_t DevNum) {
    const auto lock = LockLibrary();
    trace::Call t("UsbOpen");
    t.Byte("DevNum", DevNum);
    Board(DevNum).exclusive = true;
    return t.Result(PortivaBool{1});
}

PORTIVA_API PortivaBool PORTIVA_CALL UsbClose(uint8_t DevNum) {
    const auto lock = LockLibrary();
    trace::Call t("UsbClose");
    t.Byte("DevNum", DevNum);
    Board(DevNum).exclusive = false;
    return t.Result(PortivaBool{1});
}

PORTIVA_API PortivaBool PORTIVA_CALL UsbRetrieveAllErrors(uint8_t DevNum, PortivaBool RetrieveAll) {
    const auto lock = LockLibrary();
    trace::Call t("UsbRetrieveAllErrors");
    t.Byte("DevNum", DevNum).Bool("RetrieveAll", RetrieveAll != 0);
    DeviceRecord& board = Board(DevNum);
    if (!board.initialized) {
        SetError(DevNum, kErrInvalidParameter);
        return t.Result(PortivaBool{0});
    }
    board.retrieveAll = RetrieveAll != 0;
    return t.Result(PortivaBool{1});
}

PORTIVA_API void PORTIVA_CALL UsbSetGuid(const char* pszGuid) {
    const auto lock = LockLibrary();
    trace::Call t("UsbSetGuid");
    t.Text("pszGuid", pszGuid);
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
