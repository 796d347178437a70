// A simulated board at the USB level: the controller's load request and CPU control register on
// endpoint 0, the alternate setting, and bulk endpoints 0x04/0x86 served by the firmware's own
// protocol core once downloaded firmware runs, with device models on its buses: a 64 KiB serial
// EEPROM at I2C address 0x50, an SPI device, a UART line, the parallel bus FIFOs on endpoints
// 0x02 and 0x88, and the pattern generator's playback in simulated microseconds. Not
// thread-safe; callers guard it (one SimBoard per thread at a time; boards share nothing).
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <vector>

#include "fwcore.h"
#include "transport/test_interface.h"

namespace portiva {

struct SimLoad {
    uint16_t address;
    std::vector<uint8_t> data;
};

class SimBoard {
public:
    static constexpr uint8_t kLoadRequest = 0xA0;
    static constexpr uint16_t kCpuControl = 0xE600;
    static constexpr size_t kCodeSize = 0x2000; // program and data RAM of the 8 KB part
    static constexpr uint8_t kEepromAddress = 0x50;
    static constexpr uint64_t kEepromWriteUs = 5000;

    explicit SimBoard(uint16_t packetSize = PFW_PACKET_SIZE_HIGH_SPEED);

    // Power cycle: CPU held in reset, memory cleared, alternate setting 0, nothing queued.
    void PowerUp();

    // Vendor requests on endpoint 0 (request type 0x40 out, 0xC0 in); false is a stall.
    bool ControlOut(uint8_t requestType, uint8_t request, uint16_t value, uint16_t index,
                    const uint8_t* data, size_t length);
    bool ControlIn(uint8_t requestType, uint8_t request, uint16_t value, uint16_t index,
                   uint8_t* data, size_t length);

    bool SetInterface(uint8_t interface, uint8_t setting);
    uint8_t AltSetting() const { return altSetting_; }

    enum class InResult { Data, Nothing, Stall };
    // A transfer on a bulk OUT endpoint; false is a stall.
    bool BulkOut(uint8_t endpoint, const uint8_t* data, size_t length);
    // Takes the next queued answer of a bulk IN endpoint. Nothing means the host keeps waiting;
    // an answer longer than `capacity` overflows the host buffer and stalls.
    InResult BulkIn(uint8_t endpoint, uint8_t* data, size_t capacity, size_t& received);

    // Observation.
    bool Running() const { return running_; }
    uint8_t CpuControl() const { return cpuControl_; }
    const std::array<uint8_t, kCodeSize>& Memory() const { return memory_; }
    const std::vector<SimLoad>& Loads() const { return loads_; }
    const std::vector<std::vector<uint8_t>>& Commands() const { return commands_; }
    void ClearRecords();
    // Loads and commands are kept only while recording (the default); a long-running program
    // on simulated boards switches it off so that they do not pile up.
    void SetRecording(bool on) { recording_ = on; }
    const pfw_state& Firmware() const { return firmware_; }
    size_t QueuedAnswers() const { return answers_.size(); }
    uint64_t Microseconds() const { return nowUs_; }

    // The outside world and faults.
    void SetPacketSize(uint16_t size) { packetSize_ = size; }
    void SetExternalLevels(uint8_t port, uint8_t levels);
    void SetReady(uint8_t ready) { ready_ = ready; }
    void RaiseStatus(uint32_t bits) { firmware_.status |= bits; }
    void WrongTransactionNext(unsigned count) { wrongTransactions_ = count; }

    // Device models on the buses (PowerUp keeps their contents; a new SimBoard has their
    // defaults). The EEPROM's write cycle takes kEepromWriteUs of simulated time and
    // acknowledges nothing until it is over; SpiReceived holds the bytes as a device reading the
    // most significant bit first sees them; the SPI shift register answers each byte with the one
    // before (0 first) and keeps it across transfers.
    const std::vector<uint8_t>& Eeprom() const { return eeprom_; }
    void SetEeprom(uint16_t address, const std::vector<uint8_t>& bytes);
    void SetEepromPresent(bool present) { eepromPresent_ = present; }
    void SetEepromWriteStuck(bool stuck) { eepromStuck_ = stuck; }
    void FailNextI2c(uint32_t statusBits, unsigned count);
    void SetSpiDevice(test::SimControl::SpiDevice device) { spiDevice_ = device; }
    const std::vector<uint8_t>& SpiReceived() const { return spiReceived_; }
    void SetUartLoopback(bool on) { uartLoopback_ = on; }
    void FeedUart(const std::vector<uint8_t>& bytes);
    const std::vector<uint8_t>& UartSent() const { return uartSent_; }
    uint16_t UartDivisor() const { return uartDivisor_; }
    const std::vector<uint8_t>& ParConfig() const { return parConfig_; }
    const std::vector<uint8_t>& ParWritten() const { return parWritten_; }
    void FeedParInput(const std::vector<uint8_t>& bytes);
    void ParTimeOutNext(bool input, unsigned count);
    const std::vector<test::SimControl::PatternStep>& PatternPlayback() const { return pattern_; }

private:
    struct Hal;
    friend struct Hal;

    bool Load(uint16_t address, const uint8_t* data, size_t length);
    void CommandEnded();
    void ParOut(const uint8_t* data, size_t length);
    bool ParInReady();
    // I2C bus as the EEPROM sees it.
    void I2cStart(uint8_t addressByte);
    void I2cWrite(uint8_t byte);
    uint8_t I2cRead(uint8_t flags);
    void I2cStop();
    bool EepromBusy() const;

    std::array<uint8_t, kCodeSize> memory_{};
    uint8_t cpuControl_ = 1;
    bool running_ = false;
    bool loadedSinceHalt_ = false;
    uint8_t altSetting_ = 0;
    uint16_t packetSize_;
    pfw_state firmware_{};
    std::array<uint8_t, PFW_PORT_COUNT> external_{};
    uint8_t ready_ = 0;
    unsigned wrongTransactions_ = 0;
    bool recording_ = true;
    std::deque<std::vector<uint8_t>> answers_;
    std::vector<uint8_t> pending_; // the transfer's bytes as they arrived, for the record
    std::vector<uint8_t> answer_;  // the answer the running command sends, packet by packet
    std::array<uint8_t, PFW_PACKET_SIZE_HIGH_SPEED> packet_{};
    size_t answerOffset_ = 0; // bytes of answers_.front() already read
    uint64_t nowUs_ = 0;
    std::vector<SimLoad> loads_;
    std::vector<std::vector<uint8_t>> commands_;

    // Device models.
    std::vector<uint8_t> eeprom_ = std::vector<uint8_t>(0x10000, 0xFF);
    bool eepromPresent_ = true;
    bool eepromStuck_ = false;
    bool eepromCycle_ = false; // a write cycle runs until eepromBusyUntil_ (or for ever, stuck)
    uint64_t eepromBusyUntil_ = 0;
    enum class I2cPhase { Idle, Write, Read, Other } i2cPhase_ = I2cPhase::Idle;
    unsigned eepromWriteCount_ = 0;
    uint16_t eepromPointer_ = 0;
    std::vector<std::pair<uint16_t, uint8_t>> eepromPage_; // written at the stop
    uint32_t i2cFailBits_ = 0;
    unsigned i2cFailCount_ = 0;
    uint8_t i2cFailedSeq_ = 0;
    bool i2cFailing_ = false;
    test::SimControl::SpiDevice spiDevice_ = test::SimControl::SpiDevice::Loopback;
    uint8_t spiShift_ = 0;
    std::vector<uint8_t> spiReceived_;
    bool uartLoopback_ = false;
    std::deque<uint8_t> uartReceive_;
    std::vector<uint8_t> uartSent_;
    uint16_t uartDivisor_ = 0;
    std::vector<uint8_t> parConfig_;
    std::vector<uint8_t> parWritten_;
    std::deque<uint8_t> parInput_;
    uint32_t parInArmed_ = 0;
    std::vector<uint8_t> parInStream_; // n data bytes and the status byte, being read
    size_t parInOffset_ = 0;
    unsigned parInTimeouts_ = 0;
    unsigned parOutTimeouts_ = 0;
    std::vector<test::SimControl::PatternStep> pattern_;
};

} // namespace portiva
