// C++ interface for tests: the simulated boards' observations and fault injection, and a few
// library internals. Tests reach it through dlsym("portiva_test_interface") on the loaded
// library. Only a library configured with -DPORTIVA_TEST_INTERFACE=ON (the test build) exports
// it; the library users get has no such entry point.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace portiva::test {

// One driver call as the simulated driver received it.
struct DriverCall {
    int board;     // board index the handle belongs to; -1 for enumeration and probes
    uint32_t code; // control code; 0 for an open, 1 for a close, 2 for a CyUSB enumeration
    std::vector<uint8_t> in;  // input buffer
    std::vector<uint8_t> out; // output buffer as the caller passed it in
    uint32_t waitMs;
};

struct LoadRecord {
    uint16_t address;
    std::vector<uint8_t> data;
};

struct PortSnapshot {
    uint8_t latch[5];
    uint8_t dir[5];
};

class SimControl {
public:
    virtual unsigned BoardCount() const = 0;
    // Power-cycles every board, plugs them all in and clears faults and records.
    virtual void Reset() = 0;

    // Driver calls and what the boards received.
    virtual std::vector<DriverCall> Calls() const = 0;
    virtual std::vector<LoadRecord> Loads(unsigned board) const = 0;
    virtual std::vector<std::vector<uint8_t>> Commands(unsigned board) const = 0;
    virtual void ClearRecords() = 0;
    virtual unsigned OpenHandles() const = 0;

    // Board state.
    virtual bool Running(unsigned board) const = 0;
    virtual uint8_t AltSetting(unsigned board) const = 0;
    virtual PortSnapshot Ports(unsigned board) const = 0;
    virtual std::vector<uint8_t> Memory(unsigned board) const = 0; // 8192 bytes of code RAM

    // The outside world.
    virtual void SetPacketSize(unsigned board, uint16_t size) = 0; // 512 high speed, 64 full
    virtual void SetExternalLevels(unsigned board, uint8_t port, uint8_t levels) = 0;
    virtual void SetReady(unsigned board, uint8_t ready) = 0;

    // Faults.
    // The next `count` bulk transfers on `endpoint` do not complete: a CyUSB wait times out, an
    // EzUsb call fails. A command write that times out never reaches the firmware; an answer
    // read that times out leaves the answer queued.
    virtual void TimeOutNext(unsigned board, uint8_t endpoint, unsigned count) = 0;
    // The next `count` transfers on `endpoint` move `missing` bytes fewer than asked: the board
    // takes only the first part of a command, an answer arrives cut short.
    virtual void ShortenNext(unsigned board, uint8_t endpoint, unsigned count,
                             uint32_t missing) = 0;
    // The next `count` answers carry a wrong transaction number.
    virtual void WrongTransactionNext(unsigned board, unsigned count) = 0;
    // Firmware status bits reported (and cleared) by the next answer.
    virtual void RaiseStatus(unsigned board, uint32_t bits) = 0;
    // The board disappears after `calls` more driver calls on its handles have gone through
    // (0: at once). It is then gone from enumeration and every call on its handles fails.
    virtual void VanishAfter(unsigned board, unsigned calls) = 0;
    virtual void Plug(unsigned board, bool present) = 0;

    // Device models on the simulated board's buses (Reset restores their defaults; ClearRecords
    // empties what they recorded).
    virtual std::vector<uint8_t> Eeprom(unsigned board) const = 0; // 65536 bytes, erased = 0xFF
    virtual void SetEeprom(unsigned board, uint16_t address, const std::vector<uint8_t>& bytes) = 0;
    virtual void SetEepromPresent(unsigned board, bool present) = 0;  // absent: no acknowledge
    virtual void SetEepromWriteStuck(unsigned board, bool stuck) = 0; // write cycle never ends
    // The next `count` I2C transfers end with these status bits (0x01, 0x02 or 0x04).
    virtual void FailNextI2c(unsigned board, uint32_t statusBits, unsigned count) = 0;
    enum class SpiDevice { Loopback, ShiftRegister };
    virtual void SetSpiDevice(unsigned board, SpiDevice device) = 0;
    virtual std::vector<uint8_t> SpiReceived(unsigned board) const = 0; // bytes on MOSI, in order
    virtual void SetUartLoopback(unsigned board, bool on) = 0;
    virtual void FeedUart(unsigned board, const std::vector<uint8_t>& bytes) = 0; // arrive on RXD
    virtual std::vector<uint8_t> UartSent(unsigned board) const = 0;              // sent on TXD
    virtual uint16_t UartDivisor(unsigned board) const = 0; // last divisor set, 0 before any
    virtual std::vector<uint8_t> ParConfig(unsigned board) const = 0;  // last configuration array
    virtual std::vector<uint8_t> ParWritten(unsigned board) const = 0; // bytes the bus wrote
    virtual void FeedParInput(unsigned board, const std::vector<uint8_t>& bytes) = 0;
    // The next `count` parallel transfers in that direction time out in the firmware.
    virtual void ParTimeOutNext(unsigned board, bool input, unsigned count) = 0;
    struct PatternStep {
        PortSnapshot ports;      // after the record was applied
        uint16_t delay;          // the record's delay field as the board received it
        uint64_t atMicroseconds; // simulated time the record was applied
    };
    virtual std::vector<PatternStep> PatternPlayback(unsigned board) const = 0;

protected:
    ~SimControl() = default;
};

class Hooks {
public:
    // nullptr unless the simulated driver is in use (PORTIVA_SIM). From the first call on the
    // simulated driver records driver calls, loads and commands.
    virtual SimControl* Sim() = 0;

    // Replaces the record table UsbInit loads (nullptr restores the built-in one). The texts
    // must outlive their use.
    virtual void SetRecordTable(const char* const* records, size_t count) = 0;
    virtual size_t BuiltInRecordCount() const = 0;
    // Builds an image as UsbInit does; false when the table is rejected.
    virtual bool BuildImage(const char* const* records, size_t count, std::vector<uint8_t>& image,
                            uint32_t& size) const = 0;

    // One command exchange as the exports run it (DoBulkXFer); `answer` gets readLen bytes.
    virtual bool Transfer(uint8_t devNum, uint8_t command, bool wantStatus, uint32_t timeoutMs,
                          uint32_t readLen, const std::vector<uint8_t>& payload,
                          std::vector<uint8_t>& answer) = 0;

    // ORs error bits into a board's flags as a failing export would.
    virtual void RaiseError(uint8_t devNum, uint32_t bits) = 0;

    virtual bool DriverTypeIsCyUsb() const = 0;
    virtual bool DriverTypeFixed() const = 0;
    virtual uint8_t TransactionNumber() const = 0;

    // Receives every debug log line (level 0..3); nullptr stops it.
    using LogSink = void (*)(int level, bool indent, const char* text);
    virtual void SetLogSink(LogSink sink) = 0;

protected:
    ~Hooks() = default;
};

} // namespace portiva::test

extern "C" {
// Exported by the library; tests look it up with dlsym.
typedef portiva::test::Hooks* (*PortivaTestInterfaceFn)();
}
