#include "firmware/image_builder.h"

#include <cstring>

namespace portiva {
namespace {

int HexDigit(char c) {
    if (c >= '0' && c <= '9') {
        return c - '0';
    }
    if (c >= 'A' && c <= 'F') {
        return c - 'A' + 10;
    }
    if (c >= 'a' && c <= 'f') {
        return c - 'a' + 10;
    }
    return -1;
}

// Byte from the two characters at text[pos]; the caller checked the length.
int HexByte(const char* text, size_t pos) {
    const int high = HexDigit(text[pos]);
    const int low = HexDigit(text[pos + 1]);
    return high < 0 || low < 0 ? -1 : high * 16 + low;
}

} // namespace

bool BuildImage(const RecordTable& table, FirmwareImage& image) {
    image.bytes.fill(0);
    image.size = 0;
    // No table at all means no firmware to load.
    if (table.count == 0 || !table.records) {
        return false;
    }
    for (size_t r = 0; r < table.count; ++r) {
        const char* record = table.records[r];
        if (!record) {
            return false;
        }
        const size_t length = std::strlen(record);
        if (length < 3 || record[0] != ':') {
            return false;
        }
        const int count = HexByte(record, 1);
        if (count < 0) {
            return false;
        }
        if (count == 0) {
            continue;
        }
        if (length < 9 + 2 * static_cast<size_t>(count)) {
            return false;
        }
        const int high = HexByte(record, 3);
        const int low = HexByte(record, 5);
        if (high < 0 || low < 0) {
            return false;
        }
        const uint32_t address = static_cast<uint32_t>(high * 256 + low);
        if (address + count > kImageCapacity) {
            return false;
        }
        for (int k = 0; k < count; ++k) {
            const int value = HexByte(record, 9 + 2 * static_cast<size_t>(k));
            if (value < 0) {
                return false;
            }
            image.bytes[address + k] = static_cast<uint8_t>(value);
        }
        if (address + count > image.size) {
            image.size = address + count;
        }
    }
    // The download sends whole 512-byte chunks up to and including size / 512.
    return image.size < kImageCapacity;
}

} // namespace portiva
