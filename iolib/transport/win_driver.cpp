// Windows device I/O on the EZ-USB drivers' device objects: CreateFile, DeviceIoControl with
// overlapped waits for the CyUSB driver, and the SetupAPI device-interface enumeration.
#include <windows.h>

#include <setupapi.h>

#include <cstdlib>
#include <map>
#include <vector>

#include "transport/platform_driver.h"

namespace portiva {
namespace {

int Hex(char c) {
    if (c >= '0' && c <= '9') {
        return c - '0';
    }
    if (c >= 'a' && c <= 'f') {
        return c - 'a' + 10;
    }
    if (c >= 'A' && c <= 'F') {
        return c - 'A' + 10;
    }
    return -1;
}

// Value of `digits` hexadecimal digits at text[at]; the transport checked the form.
unsigned long HexField(const std::string& text, size_t at, size_t digits) {
    unsigned long value = 0;
    for (size_t i = 0; i < digits; ++i) {
        value = value * 16 + static_cast<unsigned long>(Hex(text[at + i]));
    }
    return value;
}

// "{xxxxxxxx-xxxx-xxxx-xxxx-xxxxxxxxxxxx}"
GUID ParseGuid(const std::string& text) {
    GUID guid{};
    guid.Data1 = HexField(text, 1, 8);
    guid.Data2 = static_cast<unsigned short>(HexField(text, 10, 4));
    guid.Data3 = static_cast<unsigned short>(HexField(text, 15, 4));
    guid.Data4[0] = static_cast<unsigned char>(HexField(text, 20, 2));
    guid.Data4[1] = static_cast<unsigned char>(HexField(text, 22, 2));
    for (int i = 0; i < 6; ++i) {
        guid.Data4[2 + i] = static_cast<unsigned char>(HexField(text, 25 + 2 * i, 2));
    }
    return guid;
}

HANDLE ToWin(Handle handle) {
    return reinterpret_cast<HANDLE>(handle);
}

class WindowsDriver final : public Driver {
public:
    std::string CyUsbInterfacePath(const std::string& guidText, unsigned index) override {
        GUID guid = ParseGuid(guidText);
        HDEVINFO set =
            SetupDiGetClassDevsA(&guid, nullptr, nullptr, DIGCF_PRESENT | DIGCF_DEVICEINTERFACE);
        if (set == INVALID_HANDLE_VALUE) {
            return {};
        }
        std::string path;
        SP_DEVICE_INTERFACE_DATA data{};
        data.cbSize = sizeof data;
        if (SetupDiEnumDeviceInterfaces(set, nullptr, &guid, index, &data)) {
            DWORD size = 0;
            SetupDiGetDeviceInterfaceDetailA(set, &data, nullptr, 0, &size, nullptr);
            if (size >= sizeof(SP_DEVICE_INTERFACE_DETAIL_DATA_A)) {
                std::vector<char> buffer(size);
                auto* detail = reinterpret_cast<SP_DEVICE_INTERFACE_DETAIL_DATA_A*>(buffer.data());
                detail->cbSize = sizeof(SP_DEVICE_INTERFACE_DETAIL_DATA_A);
                if (SetupDiGetDeviceInterfaceDetailA(set, &data, detail, size, nullptr, nullptr)) {
                    path = detail->DevicePath;
                }
            }
        }
        SetupDiDestroyDeviceInfoList(set);
        return path;
    }

    Handle Open(const std::string& path, bool overlapped) override {
        HANDLE handle = CreateFileA(path.c_str(), GENERIC_WRITE, FILE_SHARE_WRITE, nullptr,
                                    OPEN_EXISTING, overlapped ? FILE_FLAG_OVERLAPPED : 0, nullptr);
        if (handle == INVALID_HANDLE_VALUE) {
            return kInvalidHandle;
        }
        const Handle id = reinterpret_cast<Handle>(handle);
        overlapped_[id] = overlapped;
        return id;
    }

    bool Close(Handle handle) override {
        overlapped_.erase(handle);
        return CloseHandle(ToWin(handle)) != 0;
    }

    IoResult Control(Handle handle, uint32_t code, const void* in, uint32_t inLen, void* out,
                     uint32_t outLen, uint32_t waitMs, uint32_t* returnedOut) override {
        DWORD returned = 0;
        const IoResult result = Call(handle, code, in, inLen, out, outLen, waitMs, returned);
        if (returnedOut) {
            *returnedOut = result == IoResult::Ok ? static_cast<uint32_t>(returned) : 0;
        }
        return result;
    }

private:
    IoResult Call(Handle handle, uint32_t code, const void* in, uint32_t inLen, void* out,
                  uint32_t outLen, uint32_t waitMs, DWORD& returned) {
        auto it = overlapped_.find(handle);
        if (it == overlapped_.end() || !it->second) {
            return DeviceIoControl(ToWin(handle), code, const_cast<void*>(in), inLen, out, outLen,
                                   &returned, nullptr)
                       ? IoResult::Ok
                       : IoResult::Failed;
        }
        OVERLAPPED overlapped{};
        overlapped.hEvent = CreateEventA(nullptr, FALSE, FALSE, nullptr);
        if (!overlapped.hEvent) {
            return IoResult::Failed;
        }
        IoResult result = IoResult::Failed;
        if (DeviceIoControl(ToWin(handle), code, const_cast<void*>(in), inLen, out, outLen,
                            &returned, &overlapped) ||
            GetLastError() == ERROR_IO_PENDING) {
            const DWORD wait = WaitForSingleObject(
                overlapped.hEvent, waitMs == kWaitForever ? INFINITE : static_cast<DWORD>(waitMs));
            if (wait == WAIT_OBJECT_0) {
                result = GetOverlappedResult(ToWin(handle), &overlapped, &returned, FALSE)
                             ? IoResult::Ok
                             : IoResult::Failed;
            } else {
                // The buffers and the OVERLAPPED live on this stack: the request must be over
                // before they go. The transport still aborts the pipe afterwards.
                CancelIoEx(ToWin(handle), &overlapped);
                GetOverlappedResult(ToWin(handle), &overlapped, &returned, TRUE);
                result = IoResult::TimedOut;
            }
        }
        CloseHandle(overlapped.hEvent);
        return result;
    }

    std::map<Handle, bool> overlapped_;
};

} // namespace

std::unique_ptr<Driver> MakePlatformDriver() {
    return std::make_unique<WindowsDriver>();
}

} // namespace portiva
