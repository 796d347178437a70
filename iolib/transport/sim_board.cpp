#include "transport/sim_board.h"

#include <algorithm>

namespace portiva {
namespace {
constexpr uint8_t kVendorOut = 0x40;
constexpr uint8_t kVendorIn = 0xC0;
constexpr uint8_t kEpCommand = 0x04;
constexpr uint8_t kEpAnswer = 0x86;
// Alternate setting 1 carries the bulk endpoints.
constexpr uint8_t kBulkSetting = 1;
constexpr uint8_t kLastSetting = 6;
// The scratch RAM the load request also reaches.
constexpr uint16_t kScratchStart = 0xE000;
constexpr uint16_t kScratchEnd = 0xE200;

} // namespace

SimBoard::SimBoard(uint16_t packetSize)
    : packetSize_(packetSize), joined_(PFW_COMMAND_BUFFER_SIZE) {
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
    pending_.clear();
    pfw_collect_reset(&collector_);
    wrongTransactions_ = 0;
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
    pending_.clear();
    pfw_collect_reset(&collector_);
    return true;
}

void SimBoard::SetExternalLevels(uint8_t port, uint8_t levels) {
    if (port < external_.size()) {
        external_[port] = levels;
    }
}

bool SimBoard::BulkOut(uint8_t endpoint, const uint8_t* data, size_t length) {
    if (altSetting_ != kBulkSetting || (endpoint != kEpCommand && endpoint != 0x02) ||
        (length && !data)) {
        return false;
    }
    if (endpoint != kEpCommand) {
        return true; // parallel-bus data: no firmware for it yet, the FIFO takes it
    }
    if (!running_) {
        if (recording_) {
            commands_.emplace_back(data, data + length);
        }
        return true; // the USB core takes the packet; nobody answers it
    }
    // The host's transfer reaches the firmware as packets of the bulk packet size; the core
    // joins them as the firmware does.
    size_t offset = 0;
    do {
        const uint16_t n = static_cast<uint16_t>(std::min<size_t>(packetSize_, length - offset));
        if (recording_) {
            pending_.insert(pending_.end(), data + offset, data + offset + n);
        }
        const bool complete =
            pfw_collect(&collector_, joined_.data(), static_cast<uint16_t>(joined_.size()),
                        data + offset, n, packetSize_) != 0;
        offset += n;
        if (complete) {
            if (recording_) {
                commands_.push_back(std::move(pending_));
            }
            pending_.clear();
            Execute();
            pfw_collect_reset(&collector_);
        }
    } while (offset < length);
    return true;
}

void SimBoard::Execute() {
    for (uint8_t port = 0; port < PFW_PORT_COUNT; ++port) {
        firmware_.level[port] = pfw_line_levels(&firmware_, port, external_[port]);
    }
    firmware_.ready = ready_;
    // The firmware's own buffers: a longer command is refused, a longer answer never sent.
    std::vector<uint8_t> answer(PFW_ANSWER_BUFFER_SIZE);
    const uint16_t answerLength =
        collector_.received > joined_.size()
            ? pfw_reject(&firmware_, joined_.data(), answer.data(),
                         static_cast<uint16_t>(answer.size()))
            : pfw_process(&firmware_, joined_.data(), collector_.received, answer.data(),
                          static_cast<uint16_t>(answer.size()));
    if (firmware_.flush_request) {
        firmware_.flush_request = 0;
        answers_.clear();
    }
    if (answerLength) {
        answer.resize(answerLength);
        if (wrongTransactions_) {
            --wrongTransactions_;
            answer[0] = static_cast<uint8_t>(answer[0] + 0x80);
        }
        answers_.push_back(std::move(answer));
    }
}

SimBoard::InResult SimBoard::BulkIn(uint8_t endpoint, uint8_t* data, size_t capacity,
                                    size_t& received) {
    received = 0;
    if (altSetting_ != kBulkSetting || (endpoint != kEpAnswer && endpoint != 0x88)) {
        return InResult::Stall;
    }
    if (endpoint != kEpAnswer || answers_.empty()) {
        return InResult::Nothing;
    }
    std::vector<uint8_t> answer = std::move(answers_.front());
    answers_.pop_front();
    if (answer.size() > capacity || (answer.size() && !data)) {
        return InResult::Stall;
    }
    std::copy(answer.begin(), answer.end(), data);
    received = answer.size();
    return InResult::Data;
}

} // namespace portiva
