// Decodes the drivers' request blocks and control codes into USB operations. The Linux libusb
// driver and the simulated boards both sit behind it, so they accept exactly what the Windows
// drivers accept.
#pragma once

#include <cstdint>

#include "transport/driver.h"

namespace portiva {

class UsbOperations {
public:
    // Vendor request on endpoint 0; `timeoutMs` 0 waits without limit.
    virtual bool ControlTransfer(uint8_t requestType, uint8_t request, uint16_t value,
                                 uint16_t index, uint8_t* data, uint16_t length,
                                 uint32_t timeoutMs) = 0;
    virtual bool SetInterface(uint8_t interface, uint8_t setting) = 0;
    virtual bool GetAltSetting(uint8_t& setting) = 0;
    // Bulk transfer; the direction is the endpoint's bit 7. `waitMs` is kWaitForever for calls
    // without a time limit. `transferred` gets the bytes actually moved (a short transfer is Ok).
    virtual IoResult Bulk(uint8_t endpoint, uint8_t* data, uint32_t length, uint32_t waitMs,
                          uint32_t& transferred) = 0;
    virtual bool AbortPipe(uint8_t endpoint) = 0;

protected:
    ~UsbOperations() = default;
};

enum class RequestFormat { CyUsb, EzUsb };

// Carries out one driver call. Codes and blocks of the other format, and blocks whose lengths
// do not agree with their buffers, fail without touching the device. `returned` (may be null)
// gets what the Windows driver would report back: for a bulk transfer the CyUSB block plus the
// bytes moved, or the EzUsb bytes moved; for other calls the output length.
IoResult DecodeRequest(UsbOperations& usb, RequestFormat format, uint32_t code, const uint8_t* in,
                       uint32_t inLen, uint8_t* out, uint32_t outLen, uint32_t waitMs,
                       uint32_t* returned);

} // namespace portiva
