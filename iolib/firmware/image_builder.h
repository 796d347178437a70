// The firmware image built from a table of Intel HEX record texts.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>

namespace portiva {

constexpr size_t kImageCapacity = 8192;

struct FirmwareImage {
    std::array<uint8_t, kImageCapacity> bytes{};
    uint32_t size = 0; // highest address written plus one
};

struct RecordTable {
    const char* const* records = nullptr;
    size_t count = 0;
};

// Builds the zero-filled image. Records with a zero byte count (the end-of-file record) are
// passed over; the record type and checksum are not examined. Fails for a record that is not
// a colon followed by hexadecimal digits as long as its count says, and for data at or beyond
// address 8192, which lies outside the image.
bool BuildImage(const RecordTable& table, FirmwareImage& image);

// The table generated from the firmware build.
RecordTable BuiltInRecordTable();

// The record table UsbInit loads: the built-in one unless a test replaced it.
RecordTable ActiveRecordTable();
void OverrideRecordTable(const RecordTable* table); // nullptr restores the built-in table

} // namespace portiva
