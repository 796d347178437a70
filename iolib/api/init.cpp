// Board start-up: UsbInit finds the board, loads the built-in firmware, selects the alternate
// setting with the bulk endpoints and identifies the firmware.
#include <memory>
#include <string>

#include "api/entry.h"
#include "firmware/image_builder.h"
#include "firmware/loader.h"
#include "internal/board_table.h"
#include "transport/transport.h"

using namespace portiva;

namespace {

constexpr uint8_t kBulkSetting = 1;
constexpr uint32_t kBulkTransferSize = 0xFE00;

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
        if (LogEnabled(LogLevel::Info)) {
            WriteLog(LogLevel::Info, false, "Device is already initialized");
        }
        if (board.handle != kInvalidHandle) {
            CloseDevice(devNum);
        }
    }
    const bool opened = OpenDevice(devNum);
    DevLog("Firmware loaded");
    if (!opened) {
        DevLog("unable to open device");
        board.exclusive = exclusive;
        return false;
    }
    if (LogEnabled(LogLevel::Dev)) {
        WriteLog(LogLevel::Dev, false, "Firmware Size: " + std::to_string(image->size) + " Bytes");
        WriteLog(LogLevel::Dev, false,
                 CurrentDriverType() == DriverType::EzUsb ? "Driver type: EzUsb-Driver"
                                                          : "Driver type: CyUsb-Driver");
    }
    if (!DownloadFirmware(board.handle, *image)) {
        return EndInit(devNum, exclusive, false);
    }
    if (!SetAltSetting(board.handle, kBulkSetting)) {
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

} // namespace

extern "C" {

PORTIVA_API PortivaBool PORTIVA_CALL UsbInit(uint8_t DevNum) {
    const auto lock = LockLibrary();
    trace::Call t("UsbInit");
    t.Byte("DevNum", DevNum);
    return t.Result(Guarded(DevNum, [&] { return Init(DevNum); }));
}

} // extern "C"
