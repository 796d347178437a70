// The per-board error flags: bits, their numbers and messages, and the priority they are read in.
#pragma once

#include <cstdint>

namespace portiva {

// Error bits raised into DeviceRecord::errorFlags. The firmware's status bits arrive shifted
// left by 16.
enum ErrorBit : uint32_t {
    kErrFileNotFound = 0x1,
    kErrDeviceNotPresent = 0x2,
    kErrUnableToOpen = 0x4,
    kErrTransferFailed = 0x8,
    kErrOutOfMemory = 0x10,
    kErrInvalidParameter = 0x20,
    kErrNotInitialized = 0x40,
    kErrSpiNotInitialized = 0x80,
    kErrParNotInitialized = 0x100,
    kErrTransactionMismatch = 0x200,
    kErrI2cTimeout = 0x10000,
    kErrI2cBus = 0x20000,
    kErrI2cNack = 0x40000,
    kErrEepromTimeout = 0x80000,
    kErrParInTimeout = 0x100000,
    kErrParOutTimeout = 0x200000,
};

// Every bit the error table knows.
constexpr uint32_t kKnownErrorBits = 0x3FF | 0x3F0000;

// ORs bits into the board's error flags (and writes each message to the debug log).
void SetError(uint8_t devNum, uint32_t bits);

// Clears the highest-priority bit of flags that the error table knows and returns its
// number; 0 (flags unchanged) when none of the table's bits is set.
uint8_t PopError(uint32_t& flags);

// Message for error number 0..16, nullptr above.
const char* ErrorMessage(uint8_t number);

} // namespace portiva
