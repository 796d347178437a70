// Driver access and the command exchange with the board firmware.
#pragma once

#include <cstdint>
#include <string>

#include "transport/driver.h"

namespace portiva {

enum class DriverType { EzUsb, CyUsb };

// Firmware command codes.
enum Command : uint8_t {
    kCmdSetPortState = 1,
    kCmdSetPortDir = 2,
    kCmdGetPortState = 3,
    kCmdI2cTransfer = 4,
    kCmdI2cSetSpeed = 5,
    kCmdSpiTransfer = 6,
    kCmdGetFirmwareInfo = 7,
    kCmdParInit = 8,
    kCmdParIn = 9,
    kCmdGetStatus = 10,
    kCmdFlush = 11,
    kCmdSetTimeout = 12,
    kCmdParSetWaveforms = 13,
    kCmdDaMedSF = 14,
    kCmdParSetAutomode = 15,
    kCmdUartWrite = 32,
    kCmdUartRead = 33,
};

constexpr size_t kHeaderSize = 16;
// Time limit of the plain commands (ports, status, identification, flush).
constexpr uint32_t kCommandTimeoutMs = 500;
// The largest payload and answer whose request block (38-byte driver block, header, data) still
// has a size that fits the drivers' 32-bit length fields; longer ones cannot be sent at all.
constexpr uint32_t kMaxPayload = 0xFFFFFFFFu - 38 - kHeaderSize;
constexpr uint32_t kMaxAnswerData = 0xFFFFFFFFu - 42;
// The same for a bare data stream on endpoint 0x02 or 0x88 with the driver block in front.
constexpr uint32_t kMaxStream = 0xFFFFFFFFu - 38 - 1;
constexpr const char* kDefaultGuid = "{dd3f8fc7-d531-4c65-95ff-1fc8dfee2c52}";

// Library-wide transport state.
DriverType CurrentDriverType();
bool DriverTypeFixed();
uint8_t CurrentTransactionNumber();
void ResetTransportState(); // library load and unload

// InterfaceGuid; SetInterfaceGuid keeps at most 255 characters.
void SetInterfaceGuid(const char* text);
const std::string& InterfaceGuid();
// True for a braced GUID: 8-4-4-4-12 hexadecimal digits.
bool IsValidGuid(const std::string& text);

std::string FindDevicePath(uint8_t devNum);
bool OpenDevice(uint8_t devNum);
bool CloseDevice(uint8_t devNum);

enum class Direction : uint8_t { HostToBoard = 0, BoardToHost = 1 };

bool VendorRequest(Handle handle, Direction direction, uint8_t request, uint16_t value,
                   uint16_t index, uint16_t length, uint8_t* data, uint32_t timeoutMs);

// `data` is preceded by kCyBlockSize free bytes the CyUSB block is built in.
bool BulkWriteInPlace(Handle handle, uint8_t endpoint, uint8_t* data, uint32_t length,
                      uint32_t timeoutMs);
bool BulkReadInPlace(Handle handle, uint8_t endpoint, uint8_t* data, uint32_t length,
                     uint32_t timeoutMs);

bool SetAltSetting(Handle handle, uint8_t setting);
uint8_t GetAltSetting(Handle handle); // 0 when it cannot be read
bool SetTransferSize(Handle handle, uint8_t endpoint, uint32_t size);

// Error bits for a firmware status word: bits 0 to 5 shifted left by 16; any other bit (the
// firmware's refusal of a command above all) as "Invalid parameter", so a failed call always
// leaves an error that can be read and cleared.
uint32_t FirmwareStatusErrors(uint32_t status);

// Fails with "Out of memory" when a length is beyond kMaxPayload or kMaxAnswerData.
bool DoBulkXFer(uint8_t devNum, uint8_t command, bool wantStatus, uint32_t timeoutMs,
                uint32_t readLen, uint32_t writeLen, void* readBuffer, const void* writeBuffer,
                uint16_t p6 = 0, uint16_t p4 = 0, uint8_t p3 = 0);

} // namespace portiva
