#include "transport/sim_driver.h"

#include <cctype>
#include <cstring>

#include <functional>

#include "transport/request_decoder.h"

namespace portiva {
namespace {

constexpr const char* kCyPathPrefix = "\\\\?\\usb#vid_04b4&pid_8613#sim";
constexpr const char* kEzPathPrefix = "\\\\.\\ezusb-";
constexpr unsigned kMaxSimBoards = 256;

// Decimal number at the start of text; -1 when there is none or it is out of range.
long ParseIndex(const char* text) {
    if (!text || *text < '0' || *text > '9') {
        return -1;
    }
    long value = 0;
    for (; *text >= '0' && *text <= '9'; ++text) {
        value = value * 10 + (*text - '0');
        if (value > 1000) {
            return -1;
        }
    }
    return value;
}

} // namespace

unsigned ParseSimBoardCount(const char* text) {
    const long count = ParseIndex(text);
    if (count < 0 || count > static_cast<long>(kMaxSimBoards) ||
        text[std::strspn(text, "0123456789")] != '\0') {
        return 0;
    }
    return static_cast<unsigned>(count);
}

SimDriver::Format ParseSimFormat(const char* text) {
    return text && std::strcmp(text, "ezusb") == 0 ? SimDriver::Format::EzUsb
                                                   : SimDriver::Format::CyUsb;
}

SimDriver::SimDriver(unsigned boards, Format format) : format_(format), boards_(boards) {
    for (Slot& slot : boards_) {
        slot.board.SetRecording(false);
    }
}

void SimDriver::StartRecording() {
    const std::lock_guard<RecursiveMutex> lock(mutex_);
    recording_ = true;
    for (Slot& slot : boards_) {
        slot.board.SetRecording(true);
    }
}

void SimDriver::Reset() {
    const std::lock_guard<RecursiveMutex> lock(mutex_);
    for (Slot& slot : boards_) {
        slot.board = SimBoard();
        slot.board.SetRecording(recording_);
        slot.present = true;
        slot.vanishCountdown = -1;
        slot.timeouts.clear();
        slot.shortenings.clear();
    }
    calls_.clear();
}

int SimDriver::PresentBoard(unsigned position) const {
    for (unsigned i = 0; i < boards_.size(); ++i) {
        if (boards_[i].present && position-- == 0) {
            return static_cast<int>(i);
        }
    }
    return -1;
}

void SimDriver::Record(int board, uint32_t code, const void* in, uint32_t inLen, const void* out,
                       uint32_t outLen, uint32_t waitMs) {
    if (!recording_) {
        return;
    }
    test::DriverCall call{board, code, {}, {}, waitMs};
    if (in && inLen) {
        const auto* p = static_cast<const uint8_t*>(in);
        call.in.assign(p, p + inLen);
    }
    if (out && outLen) {
        const auto* p = static_cast<const uint8_t*>(out);
        call.out.assign(p, p + outLen);
    }
    calls_.push_back(std::move(call));
}

std::string SimDriver::CyUsbInterfacePath(const std::string& guid, unsigned index) {
    const std::lock_guard<RecursiveMutex> lock(mutex_);
    Record(-1, 2, guid.data(), static_cast<uint32_t>(guid.size()), nullptr, 0, 0);
    std::string lower = guid;
    for (char& c : lower) {
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    }
    if (format_ != Format::CyUsb || lower != "{dd3f8fc7-d531-4c65-95ff-1fc8dfee2c52}") {
        return {};
    }
    const int board = PresentBoard(index);
    if (board < 0) {
        return {};
    }
    return kCyPathPrefix + std::to_string(board) + "#" + lower;
}

Handle SimDriver::Open(const std::string& path, bool overlapped) {
    const std::lock_guard<RecursiveMutex> lock(mutex_);
    Record(-1, 0, path.data(), static_cast<uint32_t>(path.size()), nullptr, 0, 0);
    int board = -1;
    if (format_ == Format::CyUsb && overlapped && path.rfind(kCyPathPrefix, 0) == 0) {
        const long index = ParseIndex(path.c_str() + std::strlen(kCyPathPrefix));
        if (index >= 0 && index < static_cast<long>(boards_.size()) && boards_[index].present) {
            board = static_cast<int>(index);
        }
    } else if (format_ == Format::EzUsb && !overlapped && path.rfind(kEzPathPrefix, 0) == 0) {
        const char* number = path.c_str() + std::strlen(kEzPathPrefix);
        if (ParseIndex(number) >= 0 && number[std::strspn(number, "0123456789")] == '\0') {
            board = PresentBoard(static_cast<unsigned>(ParseIndex(number)));
        }
    }
    if (board < 0) {
        return kInvalidHandle;
    }
    const Handle handle = nextHandle_++;
    handles_[handle] = static_cast<unsigned>(board);
    return handle;
}

bool SimDriver::Close(Handle handle) {
    const std::lock_guard<RecursiveMutex> lock(mutex_);
    auto it = handles_.find(handle);
    Record(it == handles_.end() ? -1 : static_cast<int>(it->second), 1, nullptr, 0, nullptr, 0, 0);
    if (it == handles_.end()) {
        return false;
    }
    handles_.erase(it);
    return true;
}

IoResult SimDriver::Control(Handle handle, uint32_t code, const void* in, uint32_t inLen, void* out,
                            uint32_t outLen, uint32_t waitMs, uint32_t* returned) {
    const std::lock_guard<RecursiveMutex> lock(mutex_);
    auto it = handles_.find(handle);
    Record(it == handles_.end() ? -1 : static_cast<int>(it->second), code, in, inLen, out, outLen,
           waitMs);
    if (it == handles_.end()) {
        return IoResult::Failed;
    }
    Slot& slot = boards_[it->second];
    if (!slot.present) {
        return IoResult::Failed;
    }
    const IoResult result = Dispatch(slot, code, static_cast<const uint8_t*>(in), inLen,
                                     static_cast<uint8_t*>(out), outLen, waitMs, returned);
    if (slot.vanishCountdown > 0 && --slot.vanishCountdown == 0) {
        slot.present = false;
        slot.vanishCountdown = -1;
    }
    return result;
}

IoResult SimDriver::Bulk(Slot& slot, uint8_t endpoint, uint8_t* data, uint32_t length,
                         uint32_t waitMs, uint32_t& transferred) {
    transferred = 0;
    const IoResult notDone = waitMs == kWaitForever ? IoResult::Failed : IoResult::TimedOut;
    auto timeout = slot.timeouts.find(endpoint);
    if (timeout != slot.timeouts.end() && timeout->second > 0) {
        --timeout->second;
        return notDone;
    }
    uint32_t missing = 0;
    auto shortening = slot.shortenings.find(endpoint);
    if (shortening != slot.shortenings.end() && shortening->second.count > 0) {
        --shortening->second.count;
        missing = shortening->second.missing;
    }
    if (!(endpoint & 0x80)) {
        const uint32_t taken = length > missing ? length - missing : 0;
        if (!slot.board.BulkOut(endpoint, data, taken)) {
            return IoResult::Failed;
        }
        transferred = taken;
        return IoResult::Ok;
    }
    size_t received = 0;
    switch (slot.board.BulkIn(endpoint, data, length, received)) {
    case SimBoard::InResult::Data:
        transferred = static_cast<uint32_t>(received > missing ? received - missing : 0);
        return IoResult::Ok;
    case SimBoard::InResult::Nothing:
        // A real EzUsb call would wait for ever; the simulation gives up.
        return notDone;
    case SimBoard::InResult::Stall:
        break;
    }
    return IoResult::Failed;
}

namespace {

// One simulated board as the decoder sees it.
class SlotOperations final : public UsbOperations {
public:
    using BulkFn = std::function<IoResult(uint8_t, uint8_t*, uint32_t, uint32_t, uint32_t&)>;
    SlotOperations(SimBoard& board, BulkFn bulk) : board_(board), bulk_(std::move(bulk)) {}

    bool ControlTransfer(uint8_t requestType, uint8_t request, uint16_t value, uint16_t index,
                         uint8_t* data, uint16_t length, uint32_t) override {
        return (requestType & 0x80)
                   ? board_.ControlIn(requestType, request, value, index, data, length)
                   : board_.ControlOut(requestType, request, value, index, data, length);
    }
    bool SetInterface(uint8_t interface, uint8_t setting) override {
        return board_.SetInterface(interface, setting);
    }
    bool GetAltSetting(uint8_t& setting) override {
        setting = board_.AltSetting();
        return true;
    }
    IoResult Bulk(uint8_t endpoint, uint8_t* data, uint32_t length, uint32_t waitMs,
                  uint32_t& transferred) override {
        return bulk_(endpoint, data, length, waitMs, transferred);
    }
    bool AbortPipe(uint8_t) override { return true; }

private:
    SimBoard& board_;
    BulkFn bulk_;
};

} // namespace

IoResult SimDriver::Dispatch(Slot& slot, uint32_t code, const uint8_t* in, uint32_t inLen,
                             uint8_t* out, uint32_t outLen, uint32_t waitMs, uint32_t* returned) {
    SlotOperations usb(slot.board, [this, &slot](uint8_t endpoint, uint8_t* data, uint32_t length,
                                                 uint32_t wait, uint32_t& transferred) {
        return Bulk(slot, endpoint, data, length, wait, transferred);
    });
    return DecodeRequest(usb,
                         format_ == Format::CyUsb ? RequestFormat::CyUsb : RequestFormat::EzUsb,
                         code, in, inLen, out, outLen, waitMs, returned);
}

SimDriver::Slot* SimDriver::SlotOf(unsigned board) {
    return board < boards_.size() ? &boards_[board] : nullptr;
}

const SimDriver::Slot* SimDriver::SlotOf(unsigned board) const {
    return board < boards_.size() ? &boards_[board] : nullptr;
}

std::vector<test::LoadRecord> SimDriver::Loads(unsigned board) const {
    const std::lock_guard<RecursiveMutex> lock(mutex_);
    std::vector<test::LoadRecord> loads;
    if (const Slot* slot = SlotOf(board)) {
        for (const SimLoad& load : slot->board.Loads()) {
            loads.push_back({load.address, load.data});
        }
    }
    return loads;
}

std::vector<std::vector<uint8_t>> SimDriver::Commands(unsigned board) const {
    const std::lock_guard<RecursiveMutex> lock(mutex_);
    const Slot* slot = SlotOf(board);
    return slot ? slot->board.Commands() : std::vector<std::vector<uint8_t>>{};
}

void SimDriver::ClearRecords() {
    const std::lock_guard<RecursiveMutex> lock(mutex_);
    calls_.clear();
    for (Slot& slot : boards_) {
        slot.board.ClearRecords();
    }
}

bool SimDriver::Running(unsigned board) const {
    const std::lock_guard<RecursiveMutex> lock(mutex_);
    const Slot* slot = SlotOf(board);
    return slot && slot->board.Running();
}

uint8_t SimDriver::AltSetting(unsigned board) const {
    const std::lock_guard<RecursiveMutex> lock(mutex_);
    const Slot* slot = SlotOf(board);
    return slot ? slot->board.AltSetting() : 0;
}

test::PortSnapshot SimDriver::Ports(unsigned board) const {
    const std::lock_guard<RecursiveMutex> lock(mutex_);
    test::PortSnapshot snapshot{};
    if (const Slot* slot = SlotOf(board)) {
        std::memcpy(snapshot.latch, slot->board.Firmware().latch, sizeof snapshot.latch);
        std::memcpy(snapshot.dir, slot->board.Firmware().dir, sizeof snapshot.dir);
    }
    return snapshot;
}

std::vector<uint8_t> SimDriver::Memory(unsigned board) const {
    const std::lock_guard<RecursiveMutex> lock(mutex_);
    const Slot* slot = SlotOf(board);
    if (!slot) {
        return {};
    }
    return {slot->board.Memory().begin(), slot->board.Memory().end()};
}

void SimDriver::SetPacketSize(unsigned board, uint16_t size) {
    const std::lock_guard<RecursiveMutex> lock(mutex_);
    if (Slot* slot = SlotOf(board)) {
        slot->board.SetPacketSize(size);
    }
}

void SimDriver::SetExternalLevels(unsigned board, uint8_t port, uint8_t levels) {
    const std::lock_guard<RecursiveMutex> lock(mutex_);
    if (Slot* slot = SlotOf(board)) {
        slot->board.SetExternalLevels(port, levels);
    }
}

void SimDriver::SetReady(unsigned board, uint8_t ready) {
    const std::lock_guard<RecursiveMutex> lock(mutex_);
    if (Slot* slot = SlotOf(board)) {
        slot->board.SetReady(ready);
    }
}

void SimDriver::TimeOutNext(unsigned board, uint8_t endpoint, unsigned count) {
    const std::lock_guard<RecursiveMutex> lock(mutex_);
    if (Slot* slot = SlotOf(board)) {
        slot->timeouts[endpoint] = count;
    }
}

void SimDriver::ShortenNext(unsigned board, uint8_t endpoint, unsigned count, uint32_t missing) {
    const std::lock_guard<RecursiveMutex> lock(mutex_);
    if (Slot* slot = SlotOf(board)) {
        slot->shortenings[endpoint] = {count, missing};
    }
}

void SimDriver::WrongTransactionNext(unsigned board, unsigned count) {
    const std::lock_guard<RecursiveMutex> lock(mutex_);
    if (Slot* slot = SlotOf(board)) {
        slot->board.WrongTransactionNext(count);
    }
}

void SimDriver::RaiseStatus(unsigned board, uint32_t bits) {
    const std::lock_guard<RecursiveMutex> lock(mutex_);
    if (Slot* slot = SlotOf(board)) {
        slot->board.RaiseStatus(bits);
    }
}

void SimDriver::VanishAfter(unsigned board, unsigned calls) {
    const std::lock_guard<RecursiveMutex> lock(mutex_);
    if (Slot* slot = SlotOf(board)) {
        if (calls == 0) {
            slot->present = false;
            slot->vanishCountdown = -1;
        } else {
            slot->vanishCountdown = static_cast<int>(calls);
        }
    }
}

void SimDriver::Plug(unsigned board, bool present) {
    const std::lock_guard<RecursiveMutex> lock(mutex_);
    if (Slot* slot = SlotOf(board)) {
        slot->present = present;
        slot->vanishCountdown = -1;
        if (present) {
            slot->board.PowerUp();
        }
    }
}

std::vector<uint8_t> SimDriver::Eeprom(unsigned board) const {
    return Read<std::vector<uint8_t>>(board, [](const SimBoard& b) { return b.Eeprom(); });
}

void SimDriver::SetEeprom(unsigned board, uint16_t address, const std::vector<uint8_t>& bytes) {
    With(board, [&](SimBoard& b) { b.SetEeprom(address, bytes); });
}

void SimDriver::SetEepromPresent(unsigned board, bool present) {
    With(board, [&](SimBoard& b) { b.SetEepromPresent(present); });
}

void SimDriver::SetEepromWriteStuck(unsigned board, bool stuck) {
    With(board, [&](SimBoard& b) { b.SetEepromWriteStuck(stuck); });
}

void SimDriver::FailNextI2c(unsigned board, uint32_t statusBits, unsigned count) {
    With(board, [&](SimBoard& b) { b.FailNextI2c(statusBits, count); });
}

void SimDriver::SetSpiDevice(unsigned board, SpiDevice device) {
    With(board, [&](SimBoard& b) { b.SetSpiDevice(device); });
}

std::vector<uint8_t> SimDriver::SpiReceived(unsigned board) const {
    return Read<std::vector<uint8_t>>(board, [](const SimBoard& b) { return b.SpiReceived(); });
}

void SimDriver::SetUartLoopback(unsigned board, bool on) {
    With(board, [&](SimBoard& b) { b.SetUartLoopback(on); });
}

void SimDriver::FeedUart(unsigned board, const std::vector<uint8_t>& bytes) {
    With(board, [&](SimBoard& b) { b.FeedUart(bytes); });
}

std::vector<uint8_t> SimDriver::UartSent(unsigned board) const {
    return Read<std::vector<uint8_t>>(board, [](const SimBoard& b) { return b.UartSent(); });
}

uint16_t SimDriver::UartDivisor(unsigned board) const {
    return Read<uint16_t>(board, [](const SimBoard& b) { return b.UartDivisor(); });
}

std::vector<uint8_t> SimDriver::ParConfig(unsigned board) const {
    return Read<std::vector<uint8_t>>(board, [](const SimBoard& b) { return b.ParConfig(); });
}

std::vector<uint8_t> SimDriver::ParWritten(unsigned board) const {
    return Read<std::vector<uint8_t>>(board, [](const SimBoard& b) { return b.ParWritten(); });
}

void SimDriver::FeedParInput(unsigned board, const std::vector<uint8_t>& bytes) {
    With(board, [&](SimBoard& b) { b.FeedParInput(bytes); });
}

void SimDriver::ParTimeOutNext(unsigned board, bool input, unsigned count) {
    With(board, [&](SimBoard& b) { b.ParTimeOutNext(input, count); });
}

std::vector<test::SimControl::PatternStep> SimDriver::PatternPlayback(unsigned board) const {
    return Read<std::vector<PatternStep>>(board,
                                          [](const SimBoard& b) { return b.PatternPlayback(); });
}

} // namespace portiva
