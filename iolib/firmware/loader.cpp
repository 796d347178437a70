#include "firmware/loader.h"

#include "internal/log.h"
#include "transport/transport.h"

namespace portiva {
namespace {

constexpr uint8_t kLoadRequest = 0xA0;
constexpr uint16_t kCpuControl = 0xE600; // writing 1 holds the CPU in reset, 0 lets it run
constexpr uint32_t kChunk = 512;
constexpr uint32_t kCpuControlTimeoutMs = 1000;

// The request only reads `data`; the image itself is never const.
bool LoadRequest(Handle handle, uint16_t address, const uint8_t* data, uint16_t length,
                 uint32_t timeoutMs) {
    return VendorRequest(handle, Direction::HostToBoard, kLoadRequest, address, 0, length,
                         const_cast<uint8_t*>(data), timeoutMs);
}

void Dev(const char* text) {
    if (LogEnabled()) {
        WriteLog(LogLevel::Dev, false, text);
    }
}

} // namespace

bool DownloadFirmware(Handle handle, const FirmwareImage& image) {
    uint8_t halt = 1;
    if (!LoadRequest(handle, kCpuControl, &halt, 1, kCpuControlTimeoutMs)) {
        return false;
    }
    Dev("device halted");
    bool downloaded = true;
    for (uint32_t i = 0; i <= image.size / kChunk; ++i) {
        if (!LoadRequest(handle, static_cast<uint16_t>(i * kChunk), image.bytes.data() + i * kChunk,
                         kChunk, 0)) {
            downloaded = false;
            break;
        }
    }
    if (downloaded) {
        Dev("Firmware downloaded to device");
    }
    uint8_t run = 0;
    if (!LoadRequest(handle, kCpuControl, &run, 1, kCpuControlTimeoutMs)) {
        return false;
    }
    Dev("device run");
    return true;
}

} // namespace portiva
