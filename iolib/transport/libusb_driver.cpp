// Linux user-space driver over libusb-1.0. It accepts the request blocks and control codes of
// both Windows drivers and carries them out on boards found by vendor and product ID in
// enumeration order, so the transport runs the same code path as on Windows.
//
// A board's device stays open with interface 0 claimed from its first open until the process
// ends or the board vanishes; closing a handle only forgets the handle. Letting the interface go
// would make the kernel select alternate setting 0, whose lack of endpoints the firmware's bulk
// commands would then run into (the Windows drivers keep a board's setting between opens).
#include <libusb.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <vector>

#include "transport/platform_driver.h"
#include "transport/request_decoder.h"

namespace portiva {
namespace {

constexpr uint16_t kDefaultVendor = 0x04B4;
constexpr uint16_t kDefaultProduct = 0x8613;
constexpr const char* kCyPathPrefix = "\\\\?\\usb#";
constexpr const char* kEzPathPrefix = "\\\\.\\ezusb-";
constexpr unsigned kGetAltSettingTimeoutMs = 1000;

struct UsbId {
    uint16_t vendor = kDefaultVendor;
    uint16_t product = kDefaultProduct;
};

// PORTIVA_USB_ID="vvvv:pppp" (hexadecimal) looks for another ID, e.g. a board with its own.
UsbId ReadUsbId() {
    UsbId id;
    if (const char* text = std::getenv("PORTIVA_USB_ID")) {
        unsigned vendor = 0;
        unsigned product = 0;
        char end = 0;
        if (std::sscanf(text, "%4x:%4x%c", &vendor, &product, &end) == 2) {
            id.vendor = static_cast<uint16_t>(vendor);
            id.product = static_cast<uint16_t>(product);
        }
    }
    return id;
}

class DeviceOperations final : public UsbOperations {
public:
    explicit DeviceOperations(libusb_device_handle* handle) : handle_(handle) {}

    // A call found the device gone (unplugged): its handle is of no further use.
    bool DeviceGone() const { return gone_; }

    bool ControlTransfer(uint8_t requestType, uint8_t request, uint16_t value, uint16_t index,
                         uint8_t* data, uint16_t length, uint32_t timeoutMs) override {
        const int result = Note(libusb_control_transfer(handle_, requestType, request, value, index,
                                                        data, length, timeoutMs));
        return result >= 0 && result == length;
    }

    bool SetInterface(uint8_t interface, uint8_t setting) override {
        return Note(libusb_set_interface_alt_setting(handle_, interface, setting)) == 0;
    }

    bool GetAltSetting(uint8_t& setting) override {
        const int result = Note(libusb_control_transfer(handle_, 0x81 /* in, standard, interface */,
                                                        LIBUSB_REQUEST_GET_INTERFACE, 0, 0,
                                                        &setting, 1, kGetAltSettingTimeoutMs));
        return result == 1;
    }

    IoResult Bulk(uint8_t endpoint, uint8_t* data, uint32_t length, uint32_t waitMs,
                  uint32_t& transferred) override {
        // libusb counts 0 as no limit; a zero wait still has to give the transfer a chance.
        const unsigned timeout = waitMs == kWaitForever ? 0 : (waitMs == 0 ? 1 : waitMs);
        int moved = 0;
        const int result = Note(libusb_bulk_transfer(handle_, endpoint, data,
                                                     static_cast<int>(length), &moved, timeout));
        transferred = moved > 0 ? static_cast<uint32_t>(moved) : 0;
        if (result == LIBUSB_ERROR_TIMEOUT && waitMs != kWaitForever) {
            return IoResult::TimedOut;
        }
        return result == 0 ? IoResult::Ok : IoResult::Failed;
    }

    // libusb has already cancelled a transfer that timed out.
    bool AbortPipe(uint8_t) override { return true; }

private:
    int Note(int result) {
        gone_ = gone_ || result == LIBUSB_ERROR_NO_DEVICE;
        return result;
    }

    libusb_device_handle* handle_;
    bool gone_ = false;
};

class LibusbDriver final : public Driver {
public:
    LibusbDriver() : id_(ReadUsbId()) {
        if (libusb_init(&context_) != 0) {
            context_ = nullptr;
        }
    }

    ~LibusbDriver() override {
        for (auto& [key, usb] : claimed_) {
            libusb_close(usb);
        }
        if (context_) {
            libusb_exit(context_);
        }
    }

    std::string CyUsbInterfacePath(const std::string& guid, unsigned index) override {
        uint8_t bus = 0;
        uint8_t address = 0;
        if (!Locate(index, bus, address)) {
            return {};
        }
        char path[128];
        std::snprintf(path, sizeof path, "%svid_%04x&pid_%04x#bus%03u.dev%03u#", kCyPathPrefix,
                      id_.vendor, id_.product, bus, address);
        return path + guid;
    }

    Handle Open(const std::string& path, bool overlapped) override {
        libusb_device* device = nullptr;
        libusb_device** list = nullptr;
        if (!context_) {
            return kInvalidHandle;
        }
        const ssize_t count = libusb_get_device_list(context_, &list);
        if (count < 0) {
            return kInvalidHandle;
        }
        if (path.rfind(kEzPathPrefix, 0) == 0 && !overlapped) {
            const char* number = path.c_str() + std::strlen(kEzPathPrefix);
            char* end = nullptr;
            const unsigned long index = std::strtoul(number, &end, 10);
            if (end != number && *end == '\0') {
                device = Nth(list, count, index);
            }
        } else if (path.rfind(kCyPathPrefix, 0) == 0 && overlapped) {
            unsigned bus = 0;
            unsigned address = 0;
            const size_t at = path.find("#bus");
            if (at != std::string::npos &&
                std::sscanf(path.c_str() + at, "#bus%3u.dev%3u#", &bus, &address) == 2) {
                for (ssize_t i = 0; i < count && !device; ++i) {
                    if (Matches(list[i]) && libusb_get_bus_number(list[i]) == bus &&
                        libusb_get_device_address(list[i]) == address) {
                        device = list[i];
                    }
                }
            }
        }
        Handle handle = kInvalidHandle;
        if (device) {
            const unsigned key = KeyOf(device);
            if (claimed_.count(key) || Claim(device, key)) {
                handle = next_++;
                open_[handle] = {key, overlapped ? RequestFormat::CyUsb : RequestFormat::EzUsb};
            }
        }
        ForgetAbsent(list, count);
        libusb_free_device_list(list, 1);
        return handle;
    }

    // The device stays open and claimed for the next open of the board.
    bool Close(Handle handle) override { return open_.erase(handle) != 0; }

    IoResult Control(Handle handle, uint32_t code, const void* in, uint32_t inLen, void* out,
                     uint32_t outLen, uint32_t waitMs, uint32_t* returned) override {
        auto it = open_.find(handle);
        if (it == open_.end()) {
            return IoResult::Failed;
        }
        auto device = claimed_.find(it->second.key);
        if (device == claimed_.end()) {
            return IoResult::Failed; // the board vanished since this handle was opened
        }
        DeviceOperations usb(device->second);
        const IoResult result =
            DecodeRequest(usb, it->second.format, code, static_cast<const uint8_t*>(in), inLen,
                          static_cast<uint8_t*>(out), outLen, waitMs, returned);
        if (usb.DeviceGone()) {
            Forget(device->first);
        }
        return result;
    }

private:
    struct OpenHandle {
        unsigned key; // the device's bus and address
        RequestFormat format;
    };

    static unsigned KeyOf(libusb_device* device) {
        return (static_cast<unsigned>(libusb_get_bus_number(device)) << 8) |
               libusb_get_device_address(device);
    }

    // Opens the device, takes it from a kernel driver that holds it and claims interface 0.
    bool Claim(libusb_device* device, unsigned key) {
        libusb_device_handle* usb = nullptr;
        if (libusb_open(device, &usb) != 0) {
            return false;
        }
        if (libusb_kernel_driver_active(usb, 0) == 1) {
            libusb_detach_kernel_driver(usb, 0);
        }
        if (libusb_claim_interface(usb, 0) != 0) {
            libusb_close(usb);
            return false;
        }
        claimed_[key] = usb;
        return true;
    }

    // A vanished board's device is closed: its open handles fail from now on, and a board that
    // comes back is opened afresh.
    void Forget(unsigned key) {
        auto it = claimed_.find(key);
        if (it != claimed_.end()) {
            libusb_close(it->second);
            claimed_.erase(it);
        }
    }

    // Devices no longer listed have been unplugged.
    void ForgetAbsent(libusb_device** list, ssize_t count) {
        for (auto it = claimed_.begin(); it != claimed_.end();) {
            bool present = false;
            for (ssize_t i = 0; i < count && !present; ++i) {
                present = Matches(list[i]) && KeyOf(list[i]) == it->first;
            }
            if (present) {
                ++it;
            } else {
                libusb_close(it->second);
                it = claimed_.erase(it);
            }
        }
    }

    bool Matches(libusb_device* device) const {
        libusb_device_descriptor descriptor{};
        return libusb_get_device_descriptor(device, &descriptor) == 0 &&
               descriptor.idVendor == id_.vendor && descriptor.idProduct == id_.product;
    }

    libusb_device* Nth(libusb_device** list, ssize_t count, unsigned long index) const {
        for (ssize_t i = 0; i < count; ++i) {
            if (Matches(list[i]) && index-- == 0) {
                return list[i];
            }
        }
        return nullptr;
    }

    bool Locate(unsigned index, uint8_t& bus, uint8_t& address) {
        libusb_device** list = nullptr;
        if (!context_) {
            return false;
        }
        const ssize_t count = libusb_get_device_list(context_, &list);
        if (count < 0) {
            return false;
        }
        libusb_device* device = Nth(list, count, index);
        if (device) {
            bus = libusb_get_bus_number(device);
            address = libusb_get_device_address(device);
        }
        libusb_free_device_list(list, 1);
        return device != nullptr;
    }

    libusb_context* context_ = nullptr;
    UsbId id_;
    std::map<unsigned, libusb_device_handle*> claimed_; // open and claimed, by bus and address
    std::map<Handle, OpenHandle> open_;
    Handle next_ = 1;
};

} // namespace

std::unique_ptr<Driver> MakePlatformDriver() {
    return std::make_unique<LibusbDriver>();
}

} // namespace portiva
