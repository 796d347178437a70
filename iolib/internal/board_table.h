// The board table: one record per board number, shared by every export and the transport.
#pragma once

#include <cstdint>
#include <string>

#include "internal/handle.h"

namespace portiva {

struct DeviceRecord {
    Handle handle = kInvalidHandle;
    std::string devicePath;
    bool initialized = false;
    uint32_t uartBaudrate = 2400;
    uint32_t errorFlags = 0;
    bool retrieveAll = true;
    uint8_t eepromSladdr = 0x50;
    bool spiInitialized = false;
    uint8_t spiMode = 0;
    bool lsbFirst = false;
    uint8_t speed = 0;
    bool highSpeed = false;
    bool parInitialized = false;
    uint32_t parTimeout = 10;
    bool exclusive = false;
    bool bus16Bit = false;
    bool autoOut = false;
    bool autoIn = false;
};

constexpr unsigned kBoardCount = 256;

// One record per board number; every byte value names a record.
DeviceRecord& Board(uint8_t devNum);

// Puts every record back to its load-time values.
void ResetDeviceTable();

} // namespace portiva
