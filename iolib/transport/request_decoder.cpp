#include "transport/request_decoder.h"

#include "transport/requests.h"

namespace portiva {

using namespace req;

namespace {

IoResult FromBool(bool ok) {
    return ok ? IoResult::Ok : IoResult::Failed;
}

IoResult DecodeCyUsb(UsbOperations& usb, uint32_t code, const uint8_t* in, uint32_t inLen,
                     uint8_t* out, uint32_t outLen, uint32_t waitMs, uint32_t& returned) {
    switch (code) {
    case kCyControl: {
        // The block travels as both input and output buffer.
        if (!in || inLen < kCyBlockSize || in != out || inLen != outLen) {
            return IoResult::Failed;
        }
        const uint16_t length = Get16(in + kCyLength);
        if (Get32(in + kCyDataOffset) != kCyBlockSize || Get32(in + kCyDataLength) != length ||
            inLen != kCyBlockSize + length || in[kCyEndpoint] != 0) {
            return IoResult::Failed;
        }
        return FromBool(usb.ControlTransfer(in[kCyReqType], in[kCyRequest], Get16(in + kCyValue),
                                            Get16(in + kCyIndex), out + kCyBlockSize, length,
                                            Get32(in + kCyTimeout) * 1000));
    }
    case kCyBulk: {
        if (!in || inLen < kCyBlockSize || in != out || inLen != outLen) {
            return IoResult::Failed;
        }
        const uint32_t length = Get32(in + kCyDataLength);
        if (Get32(in + kCyDataOffset) != kCyBlockSize || inLen - kCyBlockSize != length ||
            (in[kCyEndpoint] & 0x7F) == 0) {
            return IoResult::Failed;
        }
        for (size_t i = 0; i < 12; ++i) {
            if (in[i] != 0) {
                return IoResult::Failed; // the control part stays empty for bulk transfers
            }
        }
        uint32_t transferred = 0;
        const IoResult result =
            usb.Bulk(in[kCyEndpoint], out + kCyBlockSize, length, waitMs, transferred);
        returned = static_cast<uint32_t>(kCyBlockSize) + transferred;
        return result;
    }
    case kCyAbortPipe:
        return FromBool(in && inLen == 1 && usb.AbortPipe(in[0]));
    case kCySetAltSetting:
        return FromBool(in && inLen == 1 && usb.SetInterface(0, in[0]));
    case kCyGetAltSetting: {
        uint8_t setting = 0;
        if (!out || outLen != 1 || !usb.GetAltSetting(setting)) {
            return IoResult::Failed;
        }
        out[0] = setting;
        return IoResult::Ok;
    }
    case kCySetTransferSize:
        // The host stack sizes its transfers itself; the request only has to be well formed.
        return FromBool(in && inLen == 5);
    default:
        return IoResult::Failed;
    }
}

IoResult DecodeEzUsb(UsbOperations& usb, uint32_t code, const uint8_t* in, uint32_t inLen,
                     uint8_t* out, uint32_t outLen, uint32_t& returned) {
    switch (code) {
    case kEzControl: {
        // direction, type 2 (vendor), recipient 0 (device), reserved, request, pad, value, index
        if (!in || inLen != kEzVendorBlockSize || in[0] > 1 || in[1] != 2 || in[2] != 0 ||
            outLen > 0xFFFF || (outLen && !out)) {
            return IoResult::Failed;
        }
        const uint8_t type = in[0] ? 0xC0 : 0x40;
        return FromBool(usb.ControlTransfer(type, in[4], Get16(in + 6), Get16(in + 8), out,
                                            static_cast<uint16_t>(outLen), 0));
    }
    case kEzBulkWrite:
    case kEzBulkRead: {
        if (!in || inLen != kEzBulkBlockSize || (outLen && !out)) {
            return IoResult::Failed;
        }
        const uint8_t endpoint = EndpointOfEzPipe(Get32(in));
        if (endpoint == 0 || static_cast<bool>(endpoint & 0x80) != (code == kEzBulkRead)) {
            return IoResult::Failed;
        }
        uint32_t transferred = 0;
        const IoResult result = usb.Bulk(endpoint, out, outLen, kWaitForever, transferred);
        returned = transferred;
        return result;
    }
    case kEzSetInterface:
        return FromBool(in && inLen == kEzSetInterfaceSize && usb.SetInterface(in[0], in[1]));
    default:
        return IoResult::Failed;
    }
}

} // namespace

IoResult DecodeRequest(UsbOperations& usb, RequestFormat format, uint32_t code, const uint8_t* in,
                       uint32_t inLen, uint8_t* out, uint32_t outLen, uint32_t waitMs,
                       uint32_t* returned) {
    uint32_t count = outLen;
    const IoResult result = format == RequestFormat::CyUsb
                                ? DecodeCyUsb(usb, code, in, inLen, out, outLen, waitMs, count)
                                : DecodeEzUsb(usb, code, in, inLen, out, outLen, count);
    if (returned) {
        *returned = result == IoResult::Ok ? count : 0;
    }
    return result;
}

} // namespace portiva
