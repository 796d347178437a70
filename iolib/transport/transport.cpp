#include "transport/transport.h"

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <memory>
#include <new>
#include <vector>

#include "internal/board_table.h"
#include "internal/errors.h"
#include "internal/log.h"
#include "transport/requests.h"

namespace portiva {
namespace {

struct TransportState {
    DriverType type = DriverType::CyUsb;
    bool fixed = false;
    std::string guid = kDefaultGuid;
    uint8_t transaction = 0;
};

TransportState g_state;

void Dev(std::string_view text, bool indent = false) {
    if (LogEnabled(LogLevel::Dev)) {
        WriteLog(LogLevel::Dev, indent, text);
    }
}

std::string ProbeEzUsb(uint8_t devNum) {
    std::string path = "\\\\.\\ezusb-" + std::to_string(devNum);
    Driver& driver = ActiveDriver();
    Handle handle = driver.Open(path, false);
    if (handle == kInvalidHandle) {
        return {};
    }
    driver.Close(handle);
    return path;
}

std::string ProbeCyUsb(uint8_t devNum) {
    if (!IsValidGuid(g_state.guid)) {
        if (LogEnabled(LogLevel::Error)) {
            WriteLog(LogLevel::Error, false, "Invalid interface GUID: " + g_state.guid);
        }
        return {};
    }
    return ActiveDriver().CyUsbInterfacePath(g_state.guid, devNum);
}

std::string Probe(DriverType type, uint8_t devNum) {
    return type == DriverType::EzUsb ? ProbeEzUsb(devNum) : ProbeCyUsb(devNum);
}

bool CyBulk(Handle handle, uint8_t endpoint, uint8_t* data, uint32_t length, uint32_t timeoutMs) {
    uint8_t* block = data - req::kCyBlockSize;
    req::FillCyBulkBlock(block, endpoint, length);
    const uint32_t total = static_cast<uint32_t>(req::kCyBlockSize + length);
    Driver& driver = ActiveDriver();
    uint32_t returned = 0;
    IoResult result =
        driver.Control(handle, req::kCyBulk, block, total, block, total, timeoutMs, &returned);
    if (result == IoResult::TimedOut) {
        // The request is still queued in the driver; abort it so the next transfer starts clean.
        driver.Control(handle, req::kCyAbortPipe, &endpoint, 1, nullptr, 0, kWaitForever, nullptr);
        return false;
    }
    // A short transfer left part of the command behind or part of the buffer unwritten.
    return result == IoResult::Ok && returned == total;
}

bool EzBulk(Handle handle, uint32_t code, uint8_t endpoint, uint8_t* data, uint32_t length) {
    uint8_t block[req::kEzBulkBlockSize] = {};
    req::Put32(block, req::EzPipe(endpoint));
    Driver& driver = ActiveDriver();
    uint32_t done = 0;
    uint32_t rest = length;
    // Every piece must move in full: a short one leaves a command or an answer in parts.
    auto piece = [&](uint32_t length) {
        uint32_t returned = 0;
        return driver.Control(handle, code, block, sizeof block, data + done, length, kWaitForever,
                              &returned) == IoResult::Ok &&
               returned == length;
    };
    while (rest >= req::kEzMaxPiece) {
        if (!piece(req::kEzPiece)) {
            return false;
        }
        done += req::kEzPiece;
        rest -= req::kEzPiece;
    }
    return piece(rest);
}

std::string Hex6(uint32_t value) {
    char text[16];
    std::snprintf(text, sizeof text, "%06X", value & 0xFFFFFF);
    return text;
}

} // namespace

// Bits 0 to 5 have entries of their own (shifted by 16; bits 16 and above drop out of the
// shift). The rest, the firmware's refusal of a command it cannot carry out (bit 7) above all,
// become "Invalid parameter", so that none is left that can never be cleared.
uint32_t FirmwareStatusErrors(uint32_t status) {
    const uint32_t known = (status << 16) & kKnownErrorBits;
    const bool unknown = (status & 0xFFC0) != 0 || (status != 0 && known == 0);
    return known | (unknown ? uint32_t{kErrInvalidParameter} : 0u);
}

DriverType CurrentDriverType() {
    return g_state.type;
}
bool DriverTypeFixed() {
    return g_state.fixed;
}
uint8_t CurrentTransactionNumber() {
    return g_state.transaction;
}

void ResetTransportState() {
    g_state = TransportState{};
}

void SetInterfaceGuid(const char* text) {
    // At most 255 characters are taken, without reading further into the caller's text.
    size_t length = 0;
    while (text && length < 255 && text[length] != '\0') {
        ++length;
    }
    g_state.guid.assign(text ? text : "", length);
}

const std::string& InterfaceGuid() {
    return g_state.guid;
}

bool IsValidGuid(const std::string& text) {
    static constexpr char kPattern[] = "{xxxxxxxx-xxxx-xxxx-xxxx-xxxxxxxxxxxx}";
    if (text.size() != sizeof kPattern - 1) {
        return false;
    }
    for (size_t i = 0; i < text.size(); ++i) {
        const unsigned char c = static_cast<unsigned char>(text[i]);
        if (kPattern[i] == 'x' ? !std::isxdigit(c) : c != static_cast<unsigned char>(kPattern[i])) {
            return false;
        }
    }
    return true;
}

std::string FindDevicePath(uint8_t devNum) {
    if (g_state.fixed) {
        return Probe(g_state.type, devNum);
    }
    g_state.type = DriverType::CyUsb;
    std::string path = ProbeCyUsb(devNum);
    if (path.empty()) {
        g_state.type = DriverType::EzUsb;
        path = ProbeEzUsb(devNum);
    }
    if (path.empty()) {
        g_state.type = DriverType::CyUsb;
    } else {
        g_state.fixed = true;
    }
    return path;
}

bool OpenDevice(uint8_t devNum) {
    DeviceRecord& board = Board(devNum);
    if (board.devicePath.empty()) {
        board.devicePath = FindDevicePath(devNum);
        if (board.devicePath.empty()) {
            SetError(devNum, kErrDeviceNotPresent);
            return false;
        }
    }
    if (board.handle != kInvalidHandle) {
        if (!board.exclusive) {
            Dev("Device already Opened - although it is not in exclusive mode");
        }
        return true;
    }
    Handle handle = ActiveDriver().Open(board.devicePath, g_state.type == DriverType::CyUsb);
    if (handle == kInvalidHandle) {
        SetError(devNum, kErrUnableToOpen);
        return false;
    }
    board.handle = handle;
    Dev("Device Opened");
    return true;
}

bool CloseDevice(uint8_t devNum) {
    DeviceRecord& board = Board(devNum);
    if (board.exclusive) {
        return true;
    }
    if (board.handle == kInvalidHandle) {
        return false;
    }
    const bool closed = ActiveDriver().Close(board.handle);
    board.handle = kInvalidHandle;
    Dev("Device Closed");
    return closed;
}

bool VendorRequest(Handle handle, Direction direction, uint8_t request, uint16_t value,
                   uint16_t index, uint16_t length, uint8_t* data, uint32_t timeoutMs) {
    Driver& driver = ActiveDriver();
    if (g_state.type == DriverType::EzUsb) {
        uint8_t block[req::kEzVendorBlockSize] = {};
        block[0] = static_cast<uint8_t>(direction);
        block[1] = 2; // vendor
        block[2] = 0; // device
        block[4] = request;
        req::Put16(block + 6, value);
        req::Put16(block + 8, index);
        return driver.Control(handle, req::kEzControl, block, sizeof block, data, length,
                              kWaitForever, nullptr) == IoResult::Ok;
    }
    const uint32_t total = static_cast<uint32_t>(req::kCyBlockSize + length);
    std::vector<uint8_t> buffer(total, 0);
    uint8_t* block = buffer.data();
    block[req::kCyReqType] =
        static_cast<uint8_t>(0x40 | (direction == Direction::BoardToHost ? 0x80 : 0));
    block[req::kCyRequest] = request;
    req::Put16(block + req::kCyValue, value);
    req::Put16(block + req::kCyIndex, index);
    req::Put16(block + req::kCyLength, length);
    req::Put32(block + req::kCyTimeout, timeoutMs / 1000);
    block[req::kCyEndpoint] = 0;
    req::Put32(block + req::kCyDataOffset, req::kCyBlockSize);
    req::Put32(block + req::kCyDataLength, length);
    if (direction == Direction::HostToBoard && length > 0) {
        std::copy(data, data + length, block + req::kCyBlockSize);
    }
    const bool ok = driver.Control(handle, req::kCyControl, block, total, block, total,
                                   kWaitForever, nullptr) == IoResult::Ok;
    if (ok && direction == Direction::BoardToHost && length > 0) {
        std::copy(block + req::kCyBlockSize, block + total, data);
    }
    return ok;
}

bool BulkWriteInPlace(Handle handle, uint8_t endpoint, uint8_t* data, uint32_t length,
                      uint32_t timeoutMs) {
    if (g_state.type == DriverType::EzUsb) {
        return EzBulk(handle, req::kEzBulkWrite, endpoint, data, length);
    }
    return CyBulk(handle, endpoint, data, length, timeoutMs);
}

bool BulkReadInPlace(Handle handle, uint8_t endpoint, uint8_t* data, uint32_t length,
                     uint32_t timeoutMs) {
    if (g_state.type == DriverType::EzUsb) {
        return EzBulk(handle, req::kEzBulkRead, endpoint, data, length);
    }
    return CyBulk(handle, endpoint, data, length, timeoutMs);
}

bool SetAltSetting(Handle handle, uint8_t setting) {
    Driver& driver = ActiveDriver();
    if (g_state.type == DriverType::EzUsb) {
        uint8_t block[req::kEzSetInterfaceSize] = {0, setting};
        return driver.Control(handle, req::kEzSetInterface, block, sizeof block, nullptr, 0,
                              kWaitForever, nullptr) == IoResult::Ok;
    }
    uint8_t value = setting;
    return driver.Control(handle, req::kCySetAltSetting, &value, 1, &value, 1, kWaitForever,
                          nullptr) == IoResult::Ok;
}

uint8_t GetAltSetting(Handle handle) {
    if (g_state.type == DriverType::EzUsb) {
        return 1; // the EzUsb driver cannot tell; taken as running
    }
    uint8_t value = 0;
    if (ActiveDriver().Control(handle, req::kCyGetAltSetting, &value, 1, &value, 1, kWaitForever,
                               nullptr) != IoResult::Ok) {
        return 0;
    }
    return value;
}

bool SetTransferSize(Handle handle, uint8_t endpoint, uint32_t size) {
    if (g_state.type == DriverType::EzUsb) {
        return true; // the EzUsb driver has no such call
    }
    uint8_t block[5];
    block[0] = endpoint;
    req::Put32(block + 1, size);
    return ActiveDriver().Control(handle, req::kCySetTransferSize, block, sizeof block, block,
                                  sizeof block, kWaitForever, nullptr) == IoResult::Ok;
}

namespace {

enum class Attempt { Success, Failure, Mismatch };

Attempt OneAttempt(uint8_t devNum, uint8_t command, bool wantStatus, uint32_t timeoutMs,
                   uint32_t readLen, uint32_t writeLen, void* readBuffer, const void* writeBuffer,
                   uint16_t p6, uint16_t p4, uint8_t p3) {
    const size_t size = std::max<size_t>(static_cast<size_t>(writeLen) + 54,
                                         readLen ? static_cast<size_t>(readLen) + 42 : 0);
    std::unique_ptr<uint8_t[]> buffer(new (std::nothrow) uint8_t[size]());
    if (!buffer) {
        SetError(devNum, kErrOutOfMemory);
        return Attempt::Failure;
    }
    uint8_t* header = buffer.get() + req::kCyBlockSize;
    const uint8_t transaction = ++g_state.transaction;
    header[0] = command;
    header[1] = transaction;
    header[2] = wantStatus ? 255 : 0;
    header[3] = p3;
    req::Put16(header + 4, p4);
    req::Put16(header + 6, p6);
    req::Put32(header + 8, readLen);
    req::Put32(header + 12, writeLen);
    if (writeLen && writeBuffer) {
        const auto* source = static_cast<const uint8_t*>(writeBuffer);
        std::copy(source, source + writeLen, header + kHeaderSize);
    }

    if (!OpenDevice(devNum)) {
        return Attempt::Failure;
    }
    DeviceRecord& board = Board(devNum);
    Attempt result = Attempt::Success;
    if (!BulkWriteInPlace(board.handle, req::kEpCommand, header,
                          static_cast<uint32_t>(writeLen + kHeaderSize), timeoutMs)) {
        Dev("Write-Bulk transfer failed", true);
        SetError(devNum, kErrTransferFailed);
        result = Attempt::Failure;
    } else {
        Dev("Write XFer successful", true);
        if (readLen != 0 || wantStatus) {
            const uint32_t answerLen = readLen + 4;
            if (LogEnabled(LogLevel::Dev)) {
                Dev("Reading " + std::to_string(answerLen) + " Bytes", true);
            }
            uint8_t* answer = header; // the answer is read into the same place
            if (!BulkReadInPlace(board.handle, req::kEpAnswer, answer, answerLen, timeoutMs)) {
                Dev("Read-Bulk transfer failed", true);
                SetError(devNum, kErrTransferFailed);
                result = Attempt::Failure;
            } else if (answer[0] == transaction) {
                if (readLen && readBuffer) {
                    std::copy(answer + 1, answer + 1 + readLen, static_cast<uint8_t*>(readBuffer));
                }
                const uint8_t* s = answer + 1 + readLen;
                const uint32_t status = s[0] | (s[1] << 8) | (s[2] << 16);
                if (LogEnabled(LogLevel::Dev)) {
                    Dev("Received Firmware Status: " + Hex6(status), true);
                }
                SetError(devNum, FirmwareStatusErrors(status));
                result = status == 0 ? Attempt::Success : Attempt::Failure;
            } else {
                if (LogEnabled(LogLevel::Dev)) {
                    Dev("Transaction number mismatch. Expected: " + std::to_string(transaction) +
                            " Received: " + std::to_string(answer[0]),
                        true);
                }
                result = Attempt::Mismatch;
            }
        }
    }
    return result;
}

} // namespace

bool DoBulkXFer(uint8_t devNum, uint8_t command, bool wantStatus, uint32_t timeoutMs,
                uint32_t readLen, uint32_t writeLen, void* readBuffer, const void* writeBuffer,
                uint16_t p6, uint16_t p4, uint8_t p3) {
    if (LogEnabled(LogLevel::Dev)) {
        Dev("DoBulkXFer");
        Dev("CmdNo=" + std::to_string(command) + ", GetStatus=" + (wantStatus ? "1" : "0") +
                ", WriteLen=" + std::to_string(writeLen) + ", ReadLen=" + std::to_string(readLen),
            true);
    }
    if (!Board(devNum).initialized) {
        SetError(devNum, kErrNotInitialized);
        return false;
    }
    // A block whose size does not fit 32 bits could never be allocated on a 32-bit system (its
    // size would wrap) nor described to the driver.
    if (writeLen > kMaxPayload || readLen > kMaxAnswerData) {
        SetError(devNum, kErrOutOfMemory);
        return false;
    }
    for (int attempt = 1;; ++attempt) {
        Attempt result = OneAttempt(devNum, command, wantStatus, timeoutMs, readLen, writeLen,
                                    readBuffer, writeBuffer, p6, p4, p3);
        if (result == Attempt::Mismatch && attempt == 1) {
            Dev("Flushing endpoint buffers");
            DoBulkXFer(devNum, kCmdFlush, false, kCommandTimeoutMs, 0, 0, nullptr, nullptr);
        }
        CloseDevice(devNum);
        if (result != Attempt::Mismatch) {
            return result == Attempt::Success;
        }
        if (attempt == 2) {
            SetError(devNum, kErrTransactionMismatch);
            return false;
        }
    }
}

} // namespace portiva
