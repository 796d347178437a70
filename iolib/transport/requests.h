// Control codes and request block layouts of the two Windows drivers for EZ-USB controllers.
// The Linux libusb driver and the simulated boards decode the same blocks.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>

namespace portiva::req {

// EzUsb general-purpose driver.
constexpr uint32_t kEzControl = 0x222059;
constexpr uint32_t kEzBulkWrite = 0x222051;
constexpr uint32_t kEzBulkRead = 0x22204E;
constexpr uint32_t kEzSetInterface = 0x222040;

// CyUSB driver.
constexpr uint32_t kCyControl = 0x220020;
constexpr uint32_t kCyBulk = 0x220024;
constexpr uint32_t kCyAbortPipe = 0x220044;
constexpr uint32_t kCySetAltSetting = 0x22000C;
constexpr uint32_t kCyGetAltSetting = 0x220008;
constexpr uint32_t kCySetTransferSize = 0x220038;

// CyUSB transfer block in front of every control and bulk transfer's data.
constexpr size_t kCyBlockSize = 38;
constexpr size_t kCyReqType = 0;
constexpr size_t kCyRequest = 1;
constexpr size_t kCyValue = 2;
constexpr size_t kCyIndex = 4;
constexpr size_t kCyLength = 6;
constexpr size_t kCyTimeout = 8;
constexpr size_t kCyEndpoint = 13;
constexpr size_t kCyDataOffset = 30;
constexpr size_t kCyDataLength = 34;

// EzUsb vendor request block (10 bytes) and bulk block (4 bytes).
constexpr size_t kEzVendorBlockSize = 10;
constexpr size_t kEzBulkBlockSize = 4;
constexpr size_t kEzSetInterfaceSize = 2;

// EzUsb bulk transfers of 65,536 bytes or more go in pieces of this size.
constexpr uint32_t kEzMaxPiece = 65536;
constexpr uint32_t kEzPiece = 0xFE00;

// Endpoints of alternate setting 1 and their EzUsb pipe numbers.
constexpr uint8_t kEpCommand = 0x04;
constexpr uint8_t kEpAnswer = 0x86;
constexpr uint8_t kEpParOut = 0x02;
constexpr uint8_t kEpParIn = 0x88;

// Pipe number of an endpoint for the EzUsb driver; 0xFF when the endpoint has none.
constexpr uint8_t EzPipe(uint8_t endpoint) {
    switch (endpoint) {
    case kEpParOut:
        return 2;
    case kEpCommand:
        return 3;
    case kEpAnswer:
        return 4;
    case kEpParIn:
        return 5;
    default:
        return 0xFF;
    }
}

constexpr uint8_t EndpointOfEzPipe(uint32_t pipe) {
    switch (pipe) {
    case 2:
        return kEpParOut;
    case 3:
        return kEpCommand;
    case 4:
        return kEpAnswer;
    case 5:
        return kEpParIn;
    default:
        return 0;
    }
}

inline void Put16(uint8_t* p, uint16_t v) {
    p[0] = static_cast<uint8_t>(v);
    p[1] = static_cast<uint8_t>(v >> 8);
}

inline void Put32(uint8_t* p, uint32_t v) {
    for (int i = 0; i < 4; ++i) {
        p[i] = static_cast<uint8_t>(v >> (8 * i));
    }
}

inline uint16_t Get16(const uint8_t* p) {
    return static_cast<uint16_t>(p[0] | (p[1] << 8));
}

inline uint32_t Get32(const uint8_t* p) {
    return static_cast<uint32_t>(p[0]) | (static_cast<uint32_t>(p[1]) << 8) |
           (static_cast<uint32_t>(p[2]) << 16) | (static_cast<uint32_t>(p[3]) << 24);
}

// Fills the CyUSB block of a bulk transfer; bytes 0..11 stay 0.
inline void FillCyBulkBlock(uint8_t* block, uint8_t endpoint, uint32_t length) {
    std::memset(block, 0, kCyBlockSize);
    block[kCyEndpoint] = endpoint;
    Put32(block + kCyDataOffset, kCyBlockSize);
    Put32(block + kCyDataLength, length);
}

} // namespace portiva::req
