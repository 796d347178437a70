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
    kCmdGetFirmwareInfo = 7,
    kCmdGetStatus = 10,
    kCmdFlush = 11,
};

constexpr size_t kHeaderSize = 16;
// Time limit of the plain commands (ports, status, identification, flush).
constexpr uint32_t kCommandTimeoutMs = 500;
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

bool DoBulkXFer(uint8_t devNum, uint8_t command, bool wantStatus, uint32_t timeoutMs,
                uint32_t readLen, uint32_t writeLen, void* readBuffer, const void* writeBuffer,
                uint16_t p6 = 0, uint16_t p4 = 0, uint8_t p3 = 0);

} // namespace portiva
