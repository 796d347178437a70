// The simulated driver: N boards behind the request blocks and control codes of one of the two
// Windows drivers, chosen by PORTIVA_SIM and PORTIVA_SIM_DRIVER. Thread-safe.
#pragma once

#include <map>
#include <memory>
#include <string>
#include <vector>

#include "internal/lock.h"
#include "transport/driver.h"
#include "transport/sim_board.h"
#include "transport/test_interface.h"

namespace portiva {

class SimDriver final : public Driver, public test::SimControl {
public:
    enum class Format { CyUsb, EzUsb };

    SimDriver(unsigned boards, Format format);

    // Driver calls, loads and commands are recorded only once a test has asked for them.
    void StartRecording();

    // Driver
    std::string CyUsbInterfacePath(const std::string& guid, unsigned index) override;
    Handle Open(const std::string& path, bool overlapped) override;
    bool Close(Handle handle) override;
    IoResult Control(Handle handle, uint32_t code, const void* in, uint32_t inLen, void* out,
                     uint32_t outLen, uint32_t waitMs, uint32_t* returned) override;

    // SimControl
    unsigned BoardCount() const override { return static_cast<unsigned>(boards_.size()); }
    void Reset() override;
    std::vector<test::DriverCall> Calls() const override {
        const std::lock_guard<RecursiveMutex> lock(mutex_);
        return calls_;
    }
    std::vector<test::LoadRecord> Loads(unsigned board) const override;
    std::vector<std::vector<uint8_t>> Commands(unsigned board) const override;
    void ClearRecords() override;
    unsigned OpenHandles() const override {
        const std::lock_guard<RecursiveMutex> lock(mutex_);
        return static_cast<unsigned>(handles_.size());
    }
    bool Running(unsigned board) const override;
    uint8_t AltSetting(unsigned board) const override;
    test::PortSnapshot Ports(unsigned board) const override;
    std::vector<uint8_t> Memory(unsigned board) const override;
    void SetPacketSize(unsigned board, uint16_t size) override;
    void SetExternalLevels(unsigned board, uint8_t port, uint8_t levels) override;
    void SetReady(unsigned board, uint8_t ready) override;
    void TimeOutNext(unsigned board, uint8_t endpoint, unsigned count) override;
    void ShortenNext(unsigned board, uint8_t endpoint, unsigned count, uint32_t missing) override;
    void WrongTransactionNext(unsigned board, unsigned count) override;
    void RaiseStatus(unsigned board, uint32_t bits) override;
    void VanishAfter(unsigned board, unsigned calls) override;
    void Plug(unsigned board, bool present) override;
    std::vector<uint8_t> Eeprom(unsigned board) const override;
    void SetEeprom(unsigned board, uint16_t address, const std::vector<uint8_t>& bytes) override;
    void SetEepromPresent(unsigned board, bool present) override;
    void SetEepromWriteStuck(unsigned board, bool stuck) override;
    void FailNextI2c(unsigned board, uint32_t statusBits, unsigned count) override;
    void SetSpiDevice(unsigned board, SpiDevice device) override;
    std::vector<uint8_t> SpiReceived(unsigned board) const override;
    void SetUartLoopback(unsigned board, bool on) override;
    void FeedUart(unsigned board, const std::vector<uint8_t>& bytes) override;
    std::vector<uint8_t> UartSent(unsigned board) const override;
    uint16_t UartDivisor(unsigned board) const override;
    std::vector<uint8_t> ParConfig(unsigned board) const override;
    std::vector<uint8_t> ParWritten(unsigned board) const override;
    void FeedParInput(unsigned board, const std::vector<uint8_t>& bytes) override;
    void ParTimeOutNext(unsigned board, bool input, unsigned count) override;
    std::vector<PatternStep> PatternPlayback(unsigned board) const override;

private:
    struct Slot {
        SimBoard board;
        bool present = true;
        int vanishCountdown = -1; // calls left before the board disappears; -1 none
        std::map<uint8_t, unsigned> timeouts;
        struct Shortening {
            unsigned count = 0;
            uint32_t missing = 0;
        };
        std::map<uint8_t, Shortening> shortenings;
    };

    // Board index of the present board with enumeration position `position`; -1 when none.
    int PresentBoard(unsigned position) const;
    void Record(int board, uint32_t code, const void* in, uint32_t inLen, const void* out,
                uint32_t outLen, uint32_t waitMs);
    IoResult Dispatch(Slot& slot, uint32_t code, const uint8_t* in, uint32_t inLen, uint8_t* out,
                      uint32_t outLen, uint32_t waitMs, uint32_t* returned);
    IoResult Bulk(Slot& slot, uint8_t endpoint, uint8_t* data, uint32_t length, uint32_t waitMs,
                  uint32_t& transferred);
    Slot* SlotOf(unsigned board);
    const Slot* SlotOf(unsigned board) const;
    // Runs `fn` on a board's SimBoard under the lock; nothing for an unknown board.
    template <typename Fn> void With(unsigned board, Fn fn) {
        const std::lock_guard<RecursiveMutex> lock(mutex_);
        if (Slot* slot = SlotOf(board)) {
            fn(slot->board);
        }
    }
    template <typename T, typename Fn> T Read(unsigned board, Fn fn) const {
        const std::lock_guard<RecursiveMutex> lock(mutex_);
        const Slot* slot = SlotOf(board);
        return slot ? T(fn(slot->board)) : T{};
    }

    // Tests observe and fault the boards from their own threads while exports run.
    mutable RecursiveMutex mutex_;
    Format format_;
    std::vector<Slot> boards_;
    std::map<Handle, unsigned> handles_; // open handle -> board index
    Handle nextHandle_ = 0x100;
    std::vector<test::DriverCall> calls_;
    bool recording_ = false;
};

// "PORTIVA_SIM" as a board count: a decimal number 0..256; anything else counts as 0.
unsigned ParseSimBoardCount(const char* text);
// "PORTIVA_SIM_DRIVER": "ezusb" selects the EzUsb formats, anything else CyUSB.
SimDriver::Format ParseSimFormat(const char* text);

} // namespace portiva
