#include "transport/sim_board.h"

#include <algorithm>

namespace portiva {
namespace {
constexpr uint8_t kVendorOut = 0x40;
constexpr uint8_t kVendorIn = 0xC0;
constexpr uint8_t kEpCommand = 0x04;
constexpr uint8_t kEpAnswer = 0x86;
constexpr uint8_t kEpParOut = 0x02;
constexpr uint8_t kEpParIn = 0x88;
// Alternate setting 1 carries the bulk endpoints.
constexpr uint8_t kBulkSetting = 1;
constexpr uint8_t kLastSetting = 6;
// The scratch RAM the load request also reaches.
constexpr uint16_t kScratchStart = 0xE000;
constexpr uint16_t kScratchEnd = 0xE200;

} // namespace

SimBoard::SimBoard(uint16_t packetSize) : packetSize_(packetSize) {
    PowerUp();
}

void SimBoard::PowerUp() {
    memory_.fill(0);
    cpuControl_ = 1;
    running_ = false;
    loadedSinceHalt_ = false;
    altSetting_ = 0;
    pfw_init(&firmware_);
    answers_.clear();
    answerOffset_ = 0;
    answer_.clear();
    pending_.clear();
    wrongTransactions_ = 0;
    // The buses lose their transfers in progress; the devices keep what they store.
    i2cPhase_ = I2cPhase::Idle;
    eepromPage_.clear();
    parInArmed_ = 0;
    parInStream_.clear();
    parInOffset_ = 0;
}

void SimBoard::ClearRecords() {
    loads_.clear();
    commands_.clear();
    spiReceived_.clear();
    uartSent_.clear();
    parWritten_.clear();
    pattern_.clear();
}

void SimBoard::SetEeprom(uint16_t address, const std::vector<uint8_t>& bytes) {
    for (size_t i = 0; i < bytes.size(); ++i) {
        eeprom_[static_cast<uint16_t>(address + i)] = bytes[i];
    }
}

void SimBoard::FailNextI2c(uint32_t statusBits, unsigned count) {
    i2cFailBits_ = statusBits;
    i2cFailCount_ = count;
}

void SimBoard::FeedUart(const std::vector<uint8_t>& bytes) {
    uartReceive_.insert(uartReceive_.end(), bytes.begin(), bytes.end());
}

void SimBoard::FeedParInput(const std::vector<uint8_t>& bytes) {
    parInput_.insert(parInput_.end(), bytes.begin(), bytes.end());
}

void SimBoard::ParTimeOutNext(bool input, unsigned count) {
    (input ? parInTimeouts_ : parOutTimeouts_) = count;
}

bool SimBoard::Load(uint16_t address, const uint8_t* data, size_t length) {
    if (recording_) {
        loads_.push_back({address, std::vector<uint8_t>(data, data + length)});
    }
    if (address == kCpuControl) {
        if (length != 1) {
            return false;
        }
        const uint8_t value = data[0] & 1;
        if (value && !cpuControl_) {
            running_ = false; // halted: the firmware stops and its endpoints empty
            answers_.clear();
        } else if (!value && cpuControl_) {
            running_ = loadedSinceHalt_;
            if (running_) {
                pfw_init(&firmware_);
                firmware_.high_speed = packetSize_ == PFW_PACKET_SIZE_HIGH_SPEED;
                answer_.clear();
            }
        }
        if (value) {
            loadedSinceHalt_ = false;
        }
        cpuControl_ = value;
        return true;
    }
    if (address >= kScratchStart && address + length <= kScratchEnd) {
        return true; // accepted; nothing of ours lives there
    }
    if (address + length > kCodeSize) {
        return false;
    }
    // Code RAM can be written only while the CPU is held.
    if (!cpuControl_) {
        return false;
    }
    std::copy(data, data + length, memory_.begin() + address);
    loadedSinceHalt_ = true;
    return true;
}

bool SimBoard::ControlOut(uint8_t requestType, uint8_t request, uint16_t value, uint16_t index,
                          const uint8_t* data, size_t length) {
    (void)index;
    if (requestType != kVendorOut || request != kLoadRequest || (length && !data)) {
        return false;
    }
    return Load(value, data, length);
}

bool SimBoard::ControlIn(uint8_t requestType, uint8_t request, uint16_t value, uint16_t index,
                         uint8_t* data, size_t length) {
    (void)index;
    if (requestType != kVendorIn || request != kLoadRequest || (length && !data)) {
        return false;
    }
    if (value == kCpuControl && length == 1) {
        data[0] = cpuControl_;
        return true;
    }
    if (value + length > kCodeSize) {
        return false;
    }
    std::copy(memory_.begin() + value, memory_.begin() + value + length, data);
    return true;
}

bool SimBoard::SetInterface(uint8_t interface, uint8_t setting) {
    if (interface != 0 || setting > kLastSetting) {
        return false;
    }
    altSetting_ = setting;
    answers_.clear();
    answerOffset_ = 0;
    pending_.clear();
    answer_.clear();
    pfw_stream_reset(&firmware_);
    parInStream_.clear();
    parInOffset_ = 0;
    return true;
}

void SimBoard::SetExternalLevels(uint8_t port, uint8_t levels) {
    if (port < external_.size()) {
        external_[port] = levels;
    }
}

// The firmware's hardware layer on this board: the core calls these with its state, whose
// hal_context is the board.
struct SimBoard::Hal {
    static SimBoard& Of(pfw_state* st) { return *static_cast<SimBoard*>(st->hal_context); }

    static void WritePorts(pfw_state* st) {
        SimBoard& b = Of(st);
        // Pattern records: the port command's records as they play.
        if (st->hdr[0] != PFW_CMD_SET_PORT_STATE || !b.recording_) {
            return;
        }
        test::SimControl::PatternStep step{};
        std::copy(st->latch, st->latch + PFW_PORT_COUNT, step.ports.latch);
        std::copy(st->dir, st->dir + PFW_PORT_COUNT, step.ports.dir);
        step.delay = st->record_delay;
        step.atMicroseconds = b.nowUs_;
        b.pattern_.push_back(step);
    }
    static void ReadLevels(pfw_state* st) {
        SimBoard& b = Of(st);
        for (uint8_t port = 0; port < PFW_PORT_COUNT; ++port) {
            st->level[port] = pfw_line_levels(st, port, b.external_[port]);
        }
        st->ready = b.ready_;
    }
    static void WaitUs(pfw_state* st, uint16_t us) { Of(st).nowUs_ += us; }
    static uint8_t* OutBuffer(pfw_state* st) { return Of(st).packet_.data(); }
    static void OutCommit(pfw_state* st, uint16_t n) {
        SimBoard& b = Of(st);
        b.answer_.insert(b.answer_.end(), b.packet_.begin(), b.packet_.begin() + n);
    }
    static void I2cSpeed(pfw_state*) {}
    static void I2cStart(pfw_state* st, uint8_t addressByte) {
        SimBoard& b = Of(st);
        // An injected fault ends the command's first start, not its acknowledge polls.
        if (b.i2cFailCount_ && st->seq != b.i2cFailedSeq_ && st->hdr[0] == PFW_CMD_I2C_TRANSFER) {
            --b.i2cFailCount_;
            b.i2cFailedSeq_ = st->seq;
            st->bus_status |= static_cast<uint8_t>(b.i2cFailBits_);
            b.i2cPhase_ = I2cPhase::Other;
            return;
        }
        b.I2cStart(addressByte);
        if (b.i2cPhase_ == I2cPhase::Other) {
            st->bus_status |= PFW_STATUS_I2C_NO_ACK;
        }
    }
    static void I2cWrite(pfw_state* st, uint8_t byte) {
        SimBoard& b = Of(st);
        if (b.i2cPhase_ != I2cPhase::Write) {
            st->bus_status |= PFW_STATUS_I2C_NO_ACK;
            return;
        }
        b.I2cWrite(byte);
    }
    static uint8_t I2cRead(pfw_state* st, uint8_t flags) { return Of(st).I2cRead(flags); }
    static void I2cStop(pfw_state* st) { Of(st).I2cStop(); }
    static void SpiSelect(pfw_state*, uint8_t) {}
    static uint8_t SpiShift(pfw_state* st, uint8_t out) {
        SimBoard& b = Of(st);
        if (b.recording_) {
            b.spiReceived_.push_back(out);
        }
        if (b.spiDevice_ == test::SimControl::SpiDevice::Loopback) {
            return out;
        }
        const uint8_t in = b.spiShift_;
        b.spiShift_ = out;
        return in;
    }
    static void UartSetup(pfw_state* st) { Of(st).uartDivisor_ = st->uart_divisor; }
    static void UartTx(pfw_state* st, uint8_t byte) {
        SimBoard& b = Of(st);
        if (b.recording_) {
            b.uartSent_.push_back(byte);
        }
        if (b.uartLoopback_) {
            b.uartReceive_.push_back(byte);
        }
    }
    static uint16_t UartRxCount(pfw_state* st) {
        return static_cast<uint16_t>(std::min<size_t>(Of(st).uartReceive_.size(), 0xFFFF));
    }
    static uint8_t UartRx(pfw_state* st) {
        SimBoard& b = Of(st);
        if (b.uartReceive_.empty()) {
            return 0;
        }
        const uint8_t byte = b.uartReceive_.front();
        b.uartReceive_.pop_front();
        return byte;
    }
    static void ParConfig(pfw_state* st, const uint8_t* config, uint8_t length) {
        Of(st).parConfig_.assign(config, config + length);
    }
    static void ParInArm(pfw_state* st, uint32_t count) {
        SimBoard& b = Of(st);
        b.parInArmed_ = count;
        b.parInStream_.clear();
        b.parInOffset_ = 0;
    }
    static void ParMode(pfw_state*) {}
    static void ParReset(pfw_state* st) {
        SimBoard& b = Of(st);
        b.parInArmed_ = 0;
        b.parInStream_.clear();
        b.parInOffset_ = 0;
    }

    static const pfw_host_hal kTable;
};

const pfw_host_hal SimBoard::Hal::kTable = {
    WritePorts,  ReadLevels, WaitUs,    OutBuffer, OutCommit, I2cSpeed,  I2cStart,
    I2cWrite,    I2cRead,    I2cStop,   SpiSelect, SpiShift,  UartSetup, UartTx,
    UartRxCount, UartRx,     ParConfig, ParInArm,  ParMode,   ParReset,
};

bool SimBoard::EepromBusy() const {
    return eepromCycle_ && (eepromStuck_ || nowUs_ < eepromBusyUntil_);
}

void SimBoard::I2cStart(uint8_t addressByte) {
    eepromPage_.clear(); // a repeated start drops an unfinished page
    if (eepromCycle_ && !EepromBusy()) {
        eepromCycle_ = false;
    }
    if ((addressByte >> 1) != kEepromAddress || !eepromPresent_ || EepromBusy()) {
        i2cPhase_ = I2cPhase::Other;
        return;
    }
    i2cPhase_ = (addressByte & 1) ? I2cPhase::Read : I2cPhase::Write;
    eepromWriteCount_ = 0;
}

void SimBoard::I2cWrite(uint8_t byte) {
    // Two address bytes, high first, then data into the page: the pointer wraps within it.
    if (eepromWriteCount_ == 0) {
        eepromPointer_ = static_cast<uint16_t>((eepromPointer_ & 0x00FF) | (byte << 8));
    } else if (eepromWriteCount_ == 1) {
        eepromPointer_ = static_cast<uint16_t>((eepromPointer_ & 0xFF00) | byte);
    } else {
        eepromPage_.emplace_back(eepromPointer_, byte);
        eepromPointer_ =
            static_cast<uint16_t>((eepromPointer_ & 0xFFF0) | ((eepromPointer_ + 1) & 0x0F));
    }
    ++eepromWriteCount_;
}

uint8_t SimBoard::I2cRead(uint8_t flags) {
    uint8_t byte = 0xFF; // nobody drives the bus
    if (i2cPhase_ == I2cPhase::Read) {
        byte = eeprom_[eepromPointer_];
        eepromPointer_ = static_cast<uint16_t>(eepromPointer_ + 1);
    }
    if (flags & PFW_I2C_LAST) {
        I2cStop();
    }
    return byte;
}

void SimBoard::I2cStop() {
    if (i2cPhase_ == I2cPhase::Write && !eepromPage_.empty()) {
        for (const auto& [address, byte] : eepromPage_) {
            eeprom_[address] = byte;
        }
        eepromCycle_ = true;
        eepromBusyUntil_ = nowUs_ + kEepromWriteUs;
    }
    eepromPage_.clear();
    i2cPhase_ = I2cPhase::Idle;
}

bool SimBoard::BulkOut(uint8_t endpoint, const uint8_t* data, size_t length) {
    if (altSetting_ != kBulkSetting || (endpoint != kEpCommand && endpoint != kEpParOut) ||
        (length && !data)) {
        return false;
    }
    if (endpoint == kEpParOut) {
        ParOut(data, length);
        return true;
    }
    if (!running_) {
        if (recording_) {
            commands_.emplace_back(data, data + length);
        }
        return true; // the USB core takes the packet; nobody answers it
    }
    firmware_.hal = &Hal::kTable;
    firmware_.hal_context = this;
    // The host's transfer reaches the firmware as packets of the bulk packet size; the core
    // carries each out as it arrives.
    size_t offset = 0;
    do {
        const uint16_t n = static_cast<uint16_t>(std::min<size_t>(packetSize_, length - offset));
        if (recording_) {
            pending_.insert(pending_.end(), data + offset, data + offset + n);
        }
        const bool ended = pfw_receive(&firmware_, data + offset, n, packetSize_) != 0;
        offset += n;
        if (ended) {
            CommandEnded();
        }
    } while (offset < length);
    return true;
}

void SimBoard::CommandEnded() {
    if (recording_) {
        commands_.push_back(std::move(pending_));
    }
    pending_.clear();
    if (firmware_.flush_request) {
        firmware_.flush_request = 0;
        answers_.clear();
        answerOffset_ = 0;
    }
    if (!answer_.empty()) {
        if (wrongTransactions_) {
            --wrongTransactions_;
            answer_[0] = static_cast<uint8_t>(answer_[0] + 0x80);
        }
        answers_.push_back(std::move(answer_));
        answer_.clear();
    }
}

// Parallel output: the bus takes what arrives unless it is unconfigured or made to time out;
// then the firmware drops the data and reports the time-out with the next status.
void SimBoard::ParOut(const uint8_t* data, size_t length) {
    if (!running_ || length == 0) {
        return;
    }
    if (!firmware_.par_flags || parOutTimeouts_) {
        if (parOutTimeouts_) {
            --parOutTimeouts_;
        }
        firmware_.status |= PFW_STATUS_PAR_OUT_TIMEOUT;
        return;
    }
    if (recording_) {
        parWritten_.insert(parWritten_.end(), data, data + length);
    }
}

// Parallel input: once armed, the board reads n bytes from the bus (what is fed, the rest
// times out and reads as 0) and sends them with a status byte.
bool SimBoard::ParInReady() {
    if (parInOffset_ < parInStream_.size()) {
        return true;
    }
    if (!running_ || parInArmed_ == 0) {
        return false;
    }
    const uint32_t n = parInArmed_;
    parInArmed_ = 0;
    parInStream_.assign(n + 1, 0);
    parInOffset_ = 0;
    bool timedOut = false;
    if (parInTimeouts_) {
        --parInTimeouts_;
        timedOut = true;
    }
    uint32_t i = 0;
    for (; !timedOut && i < n && !parInput_.empty(); ++i) {
        parInStream_[i] = parInput_.front();
        parInput_.pop_front();
    }
    if (timedOut || i < n) {
        parInStream_[n] = PFW_STATUS_PAR_IN_TIMEOUT;
    }
    return true;
}

// Reads that are not whole take what they can in whole packets, as the host controller does;
// a read that ends inside a packet would overflow the host buffer and stalls.
static SimBoard::InResult TakeStream(std::vector<uint8_t>& stream, size_t& offset,
                                     uint16_t packetSize, uint8_t* data, size_t capacity,
                                     size_t& received, bool& done) {
    const size_t left = stream.size() - offset;
    size_t n = left;
    done = true;
    if (left > capacity) {
        if (capacity == 0 || capacity % packetSize != 0) {
            return SimBoard::InResult::Stall;
        }
        n = capacity;
        done = false;
    }
    if (n && !data) {
        return SimBoard::InResult::Stall;
    }
    std::copy(stream.begin() + static_cast<std::ptrdiff_t>(offset),
              stream.begin() + static_cast<std::ptrdiff_t>(offset + n), data);
    offset += n;
    received = n;
    return SimBoard::InResult::Data;
}

SimBoard::InResult SimBoard::BulkIn(uint8_t endpoint, uint8_t* data, size_t capacity,
                                    size_t& received) {
    received = 0;
    if (altSetting_ != kBulkSetting || (endpoint != kEpAnswer && endpoint != kEpParIn)) {
        return InResult::Stall;
    }
    bool done = false;
    if (endpoint == kEpParIn) {
        if (!ParInReady()) {
            return InResult::Nothing;
        }
        const InResult result =
            TakeStream(parInStream_, parInOffset_, packetSize_, data, capacity, received, done);
        if (done || result == InResult::Stall) {
            parInStream_.clear();
            parInOffset_ = 0;
        }
        return result;
    }
    if (answers_.empty()) {
        return InResult::Nothing;
    }
    const InResult result =
        TakeStream(answers_.front(), answerOffset_, packetSize_, data, capacity, received, done);
    if (done || result == InResult::Stall) {
        answers_.pop_front();
        answerOffset_ = 0;
    }
    return result;
}

} // namespace portiva
