// The seam between the command transport and whatever carries its driver calls: the Windows
// kernel drivers, the Linux libusb driver or the simulated boards. The transport builds the
// drivers' request blocks and control codes; a Driver carries them byte for byte.
#pragma once

#include <cstdint>
#include <string>

#include "internal/handle.h"

namespace portiva {

// Wait without limit (the EzUsb driver's synchronous calls).
constexpr uint32_t kWaitForever = 0xFFFFFFFFu;

enum class IoResult { Ok, Failed, TimedOut };

class Driver {
public:
    virtual ~Driver() = default;

    // Device path of the present device with member index `index` of the CyUSB interface class
    // `guid` (braced text, already checked); empty when there is none.
    virtual std::string CyUsbInterfacePath(const std::string& guid, unsigned index) = 0;

    // Opens a device path for writing; `overlapped` for the CyUSB driver's handles.
    virtual Handle Open(const std::string& path, bool overlapped) = 0;
    virtual bool Close(Handle handle) = 0;

    // One device control call. For overlapped handles the call is waited for up to `waitMs`
    // (TimedOut when it did not finish; the call is then still pending in the driver until the
    // pipe is aborted). `in` and `out` may be the same buffer. `returned` (may be null) gets the
    // number of bytes the driver reports back for `out`, as DeviceIoControl does: for a bulk
    // transfer the CyUSB driver counts its block and the bytes moved, the EzUsb driver the bytes
    // moved.
    virtual IoResult Control(Handle handle, uint32_t code, const void* in, uint32_t inLen,
                             void* out, uint32_t outLen, uint32_t waitMs, uint32_t* returned) = 0;
};

// The driver in use: the simulated boards when PORTIVA_SIM is set, else the platform's.
Driver& ActiveDriver();

// Forgets the driver (library unload).
void ReleaseDriver();

} // namespace portiva
