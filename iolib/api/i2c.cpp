// The I2C family: plain transfers, the bus speed and time-outs, and the serial EEPROM with 16-bit
// addresses written page by page.
#include <algorithm>
#include <cstring>
#include <memory>

#include "api/entry.h"
#include "internal/board_table.h"
#include "transport/transport.h"

using namespace portiva;

namespace {

constexpr uint32_t kI2cTimeoutMs = 60000;
constexpr unsigned kEepromPage = 16;
constexpr uint32_t kEepromWholeSpace = 65536;
// P4 of a page write: asks the firmware to poll the EEPROM until its write cycle ends.
constexpr uint16_t kEepromPollWrite = 65535;
constexpr uint8_t kI2cTimeoutSelect = 1;
constexpr uint8_t kEepromTimeoutSelect = 2;
constexpr const char* kZeroLenLabel = "Len (You passed zero as length, adjusting it to 2^16)";

bool ValidTransfer(uint8_t sladdr, uint32_t len, const void* data) {
    return sladdr < 128 && (len == 0 || data);
}

// The address byte and `len` data bytes; `stop` false leaves the bus to a read that follows.
bool PlainWrite(uint8_t devNum, uint8_t sladdr, uint32_t len, const void* data, bool stop) {
    if (!ValidTransfer(sladdr, len, data)) {
        return InvalidParameter(devNum);
    }
    std::unique_ptr<uint8_t[]> payload(new (std::nothrow) uint8_t[size_t{len} + 1]);
    if (!payload) {
        SetError(devNum, kErrOutOfMemory);
        return false;
    }
    payload[0] = static_cast<uint8_t>(sladdr * 2);
    if (len) {
        std::memcpy(payload.get() + 1, data, len);
    }
    return DoBulkXFer(devNum, kCmdI2cTransfer, Board(devNum).retrieveAll, kI2cTimeoutMs, 0, len + 1,
                      nullptr, payload.get(), stop ? 1 : 0);
}

// `len` bytes (up to 65536: the header's read length is 32 bits wide) into `data`.
bool PlainRead(uint8_t devNum, uint8_t sladdr, uint32_t len, void* data) {
    if (!ValidTransfer(sladdr, len, data)) {
        return InvalidParameter(devNum);
    }
    const uint8_t address = static_cast<uint8_t>(sladdr * 2 + 1);
    return DoBulkXFer(devNum, kCmdI2cTransfer, Board(devNum).retrieveAll, kI2cTimeoutMs, len, 1,
                      data, &address, 1);
}

bool SetTimeout(uint8_t devNum, uint8_t select, uint16_t timeout) {
    return DoBulkXFer(devNum, kCmdSetTimeout, false, kCommandTimeoutMs, 0, 0, nullptr, nullptr, 0,
                      timeout, select);
}

// Length of an EEPROM export: 0 stands for the whole 64 KiB address space.
uint32_t EepromLength(trace::Call& t, uint16_t len) {
    if (len == 0) {
        t.Dword(kZeroLenLabel, kEepromWholeSpace);
        return kEepromWholeSpace;
    }
    t.Word("Len", len);
    return len;
}

// Writes never cross a page: the EEPROM would wrap inside the page and overwrite its start.
bool EepromWrite(uint8_t devNum, uint16_t addr, uint32_t len, const uint8_t* data) {
    const uint8_t sladdr = Board(devNum).eepromSladdr;
    if (!data || sladdr >= 128) {
        return InvalidParameter(devNum);
    }
    const uint8_t device = static_cast<uint8_t>(sladdr * 2);
    bool ok = true;
    while (len > 0 && ok) {
        const uint32_t chunk = std::min<uint32_t>(kEepromPage - addr % kEepromPage, len);
        uint8_t payload[3 + kEepromPage];
        payload[0] = device;
        payload[1] = static_cast<uint8_t>(addr >> 8);
        payload[2] = static_cast<uint8_t>(addr);
        std::memcpy(payload + 3, data, chunk);
        ok = DoBulkXFer(devNum, kCmdI2cTransfer, Board(devNum).retrieveAll, kI2cTimeoutMs, 0,
                        chunk + 3, nullptr, payload, 1, kEepromPollWrite, device);
        addr = static_cast<uint16_t>(addr + chunk);
        data += chunk;
        len -= chunk;
    }
    return ok;
}

bool EepromRead(uint8_t devNum, uint16_t addr, uint32_t len, void* data) {
    const uint8_t sladdr = Board(devNum).eepromSladdr;
    if (!data || sladdr >= 128) {
        return InvalidParameter(devNum);
    }
    const uint8_t address[2] = {static_cast<uint8_t>(addr >> 8), static_cast<uint8_t>(addr)};
    return PlainWrite(devNum, sladdr, sizeof address, address, true) &&
           PlainRead(devNum, sladdr, len, data);
}

} // namespace

extern "C" {

PORTIVA_API PortivaBool PORTIVA_CALL UsbI2CSetSpeed(uint8_t DevNum, uint8_t Speed) {
    return Locked(DevNum, [&] {
        trace::Call t("UsbI2cInit");
        t.Byte("DevNum", DevNum).Byte("Speed", Speed);
        return t.Result(DoBulkXFer(DevNum, kCmdI2cSetSpeed, false, kCommandTimeoutMs, 0, 0, nullptr,
                                   nullptr, 0, 0, Speed));
    });
}

PORTIVA_API PortivaBool PORTIVA_CALL UsbI2CSetTimeout(uint8_t DevNum, uint16_t Timeout) {
    return Locked(DevNum, [&] {
        trace::Call t("UsbI2CSetTimeout");
        t.Byte("DevNum", DevNum).Word("Timeout", Timeout);
        return t.Result(SetTimeout(DevNum, kI2cTimeoutSelect, Timeout));
    });
}

PORTIVA_API PortivaBool PORTIVA_CALL UsbEEpSetTimeout(uint8_t DevNum, uint16_t Timeout) {
    return Locked(DevNum, [&] {
        trace::Call t("UsbEEpCSetTimeout");
        t.Byte("DevNum", DevNum).Word("Timeout", Timeout);
        return t.Result(SetTimeout(DevNum, kEepromTimeoutSelect, Timeout));
    });
}

PORTIVA_API PortivaBool PORTIVA_CALL UsbI2CWriteBytes(uint8_t DevNum, uint8_t Sladdr, uint16_t Len,
                                                      const void* Ptr) {
    return Locked(DevNum, [&] {
        trace::Call t("Usbi2cWriteBytes");
        t.Byte("DevNum", DevNum).Byte("Sladdr", Sladdr).Word("Len", Len).Pointer("Ptr", Ptr);
        return t.Result(PlainWrite(DevNum, Sladdr, Len, Ptr, true));
    });
}

PORTIVA_API PortivaBool PORTIVA_CALL UsbI2CReadBytes(uint8_t DevNum, uint8_t Sladdr, uint16_t Len,
                                                     void* Ptr) {
    return Locked(DevNum, [&] {
        trace::Call t("Usbi2cReadBytes");
        t.Byte("DevNum", DevNum).Byte("Sladdr", Sladdr).Word("Len", Len).Pointer("Ptr", Ptr);
        return t.Result(PlainRead(DevNum, Sladdr, Len, Ptr));
    });
}

PORTIVA_API PortivaBool PORTIVA_CALL UsbI2CWriteByte(uint8_t DevNum, uint8_t Sladdr, uint8_t Dat) {
    return Locked(DevNum, [&] {
        trace::Call t("Usbi2cWriteByte");
        t.Byte("DevNum", DevNum).Byte("Sladdr", Sladdr).Byte("Dat", Dat);
        return t.Result(PlainWrite(DevNum, Sladdr, 1, &Dat, true));
    });
}

PORTIVA_API PortivaBool PORTIVA_CALL UsbI2CReadByte(uint8_t DevNum, uint8_t Sladdr, uint8_t* PDat) {
    return Locked(DevNum, [&] {
        trace::Call t("Usbi2cReadByte");
        t.Byte("DevNum", DevNum).Byte("Sladdr", Sladdr).Pointer("PDat", PDat);
        return t.Result(PlainRead(DevNum, Sladdr, 1, PDat));
    });
}

PORTIVA_API PortivaBool PORTIVA_CALL UsbI2CWriteAndReadBytes(uint8_t DevNum, uint8_t Sladdr,
                                                             uint16_t WriteLen, uint16_t ReadLen,
                                                             const void* PWrite, void* PRead) {
    return Locked(DevNum, [&] {
        trace::Call t("USBI2cWriteAndReadBytes");
        t.Byte("DevNum", DevNum).Byte("Sladdr", Sladdr).Word("WriteLen", WriteLen);
        t.Word("ReadLen", ReadLen).Pointer("PWrite", PWrite).Pointer("PRead", PRead);
        // The read's arguments first: a bad read buffer must not leave a write without its stop
        // condition on the bus.
        if (!ValidTransfer(Sladdr, ReadLen, PRead)) {
            return t.Result(InvalidParameter(DevNum));
        }
        // The read runs whatever the write returned (a refused write sends nothing); the write's
        // errors stay in the flags.
        PlainWrite(DevNum, Sladdr, WriteLen, PWrite, false);
        return t.Result(PlainRead(DevNum, Sladdr, ReadLen, PRead));
    });
}

PORTIVA_API PortivaBool PORTIVA_CALL UsbEEpSetAddr(uint8_t DevNum, uint8_t Sladdr) {
    return Locked(DevNum, [&] {
        trace::Call t("UsbEepSetAddr");
        t.Byte("DevNum", DevNum).Byte("Sladdr", Sladdr);
        if (Sladdr >= 128) {
            return t.Result(InvalidParameter(DevNum));
        }
        Board(DevNum).eepromSladdr = Sladdr;
        return t.Result(true);
    });
}

PORTIVA_API PortivaBool PORTIVA_CALL UsbEEpWriteBytes(uint8_t DevNum, uint16_t Addr, uint16_t Len,
                                                      const void* Ptr) {
    return Locked(DevNum, [&] {
        trace::Call t("UsbEepWriteBytes");
        t.Byte("DevNum", DevNum).Word("Addr", Addr);
        const uint32_t len = EepromLength(t, Len);
        t.Pointer("Ptr", Ptr);
        return t.Result(EepromWrite(DevNum, Addr, len, static_cast<const uint8_t*>(Ptr)));
    });
}

PORTIVA_API PortivaBool PORTIVA_CALL UsbEEpReadBytes(uint8_t DevNum, uint16_t Addr, uint16_t Len,
                                                     void* Ptr) {
    return Locked(DevNum, [&] {
        trace::Call t("UsbEepReadBytes");
        t.Byte("DevNum", DevNum).Word("Addr", Addr);
        const uint32_t len = EepromLength(t, Len);
        t.Pointer("Ptr", Ptr);
        return t.Result(EepromRead(DevNum, Addr, len, Ptr));
    });
}

PORTIVA_API PortivaBool PORTIVA_CALL UsbEEpWriteByte(uint8_t DevNum, uint16_t Addr, uint8_t Dat) {
    const auto lock = LockLibrary();
    InfoLog("UsbEepWriteByte will pass the parameters directly to UsbEepWriteBytes");
    return UsbEEpWriteBytes(DevNum, Addr, 1, &Dat);
}

PORTIVA_API PortivaBool PORTIVA_CALL UsbEEpReadByte(uint8_t DevNum, uint16_t Addr, uint8_t* PDat) {
    const auto lock = LockLibrary();
    InfoLog("UsbEepReadByte will pass the parameters directly to UsbEepReadBytes");
    return UsbEEpReadBytes(DevNum, Addr, 1, PDat);
}

} // extern "C"
