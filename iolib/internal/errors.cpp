#include "internal/errors.h"

#include <array>

#include "internal/board_table.h"
#include "internal/log.h"

namespace portiva {
namespace {

struct ErrorEntry {
    uint32_t bit;
    const char* message;
};

// Index is the error number; the order of entries 1..16 is the priority order.
constexpr std::array<ErrorEntry, 17> kErrors = {{
    {0, "no error"},
    {kErrFileNotFound, "File not found"},
    {kErrDeviceNotPresent, "Device not present"},
    {kErrUnableToOpen, "Unable to open device"},
    {kErrTransferFailed, "Usb transfer failed"},
    {kErrOutOfMemory, "Out of memory"},
    {kErrInvalidParameter, "Invalid parameter"},
    {kErrNotInitialized,
     "Interface is not initialized. Call UsbInit() before calling this function"},
    {kErrI2cTimeout, "I2c transfer timed out"},
    {kErrI2cBus, "I2c bus error (lost arbitration)"},
    {kErrI2cNack, "The i2c slave did not acknowledge"},
    {kErrEepromTimeout, "Eeprom write timed out"},
    {kErrSpiNotInitialized, "SPI bus has to be initialized before calling this function"},
    {kErrParNotInitialized, "Parallel bus has to be initialized before calling this function"},
    {kErrParInTimeout, "UsbParIn transfer timed out"},
    {kErrParOutTimeout, "UsbParOut transfer timed out"},
    {kErrTransactionMismatch, "Internal error: Transaction number mismatch"},
}};

} // namespace

uint8_t PopError(uint32_t& flags) {
    for (uint8_t number = 1; number < kErrors.size(); ++number) {
        if (flags & kErrors[number].bit) {
            flags &= ~kErrors[number].bit;
            return number;
        }
    }
    return 0;
}

void SetError(uint8_t devNum, uint32_t bits) {
    Board(devNum).errorFlags |= bits;
    if (bits != 0 && LogEnabled(LogLevel::Error)) {
        uint32_t copy = bits;
        while (uint8_t number = PopError(copy)) {
            WriteLog(LogLevel::Error, false, kErrors[number].message);
        }
    }
}

const char* ErrorMessage(uint8_t number) {
    return number < kErrors.size() ? kErrors[number].message : nullptr;
}

} // namespace portiva
