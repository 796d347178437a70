// Checks the generated built-in record table the way the library reads it, and against the
// Intel HEX file sdcc wrote.
#include "firmware_image.h"

#include <gtest/gtest.h>

#include <array>
#include <cctype>
#include <cstdint>
#include <fstream>
#include <string>
#include <vector>

namespace {

constexpr size_t kCapacity = 8192;

unsigned hexValue(const std::string& s, size_t pos, size_t digits) {
    return static_cast<unsigned>(std::stoul(s.substr(pos, digits), nullptr, 16));
}

struct Image {
    std::array<uint8_t, kCapacity> bytes{};
    unsigned size = 0;
    bool outside = false; // a data byte at or beyond the capacity
};

// As the library builds it: count at characters 2-3, address at 4-7, data from character 10
// (counting from 1); records with count 0 are passed over.
Image buildImage(const std::vector<std::string>& records) {
    Image img;
    for (const std::string& r : records) {
        unsigned count = hexValue(r, 1, 2);
        if (count == 0)
            continue;
        unsigned addr = hexValue(r, 3, 4);
        for (unsigned k = 0; k < count; ++k) {
            unsigned at = addr + k;
            if (at >= kCapacity) {
                img.outside = true;
                continue;
            }
            img.bytes[at] = static_cast<uint8_t>(hexValue(r, 9 + 2 * k, 2));
            if (at + 1 > img.size)
                img.size = at + 1;
        }
    }
    return img;
}

std::vector<std::string> table() {
    return std::vector<std::string>(kFirmwareRecords, kFirmwareRecords + kFirmwareRecordCount);
}

TEST(FirmwareImage, RecordsAreWellFormedUpperCaseIntelHex) {
    std::vector<std::string> recs = table();
    ASSERT_GE(recs.size(), 2u);
    for (const std::string& r : recs) {
        SCOPED_TRACE(r);
        ASSERT_GE(r.size(), 11u);
        ASSERT_LE(r.size(), 255u);
        EXPECT_EQ(r[0], ':');
        for (size_t i = 1; i < r.size(); ++i)
            EXPECT_TRUE(std::isdigit(static_cast<unsigned char>(r[i])) ||
                        (r[i] >= 'A' && r[i] <= 'F'));
        unsigned count = hexValue(r, 1, 2);
        ASSERT_EQ(r.size(), 11 + 2 * count);
        unsigned sum = 0;
        for (size_t i = 1; i < r.size(); i += 2)
            sum += hexValue(r, i, 2);
        EXPECT_EQ(sum % 256, 0u) << "checksum";
    }
    // Data records, then exactly one end-of-file record at the end.
    EXPECT_EQ(recs.back(), ":00000001FF");
    for (size_t i = 0; i + 1 < recs.size(); ++i) {
        EXPECT_EQ(recs[i].substr(7, 2), "00") << recs[i];
        EXPECT_NE(hexValue(recs[i], 1, 2), 0u) << recs[i];
    }
}

TEST(FirmwareImage, DataAreInAddressOrderWithoutOverlap) {
    std::vector<std::string> recs = table();
    unsigned prevEnd = 0;
    for (size_t i = 0; i + 1 < recs.size(); ++i) {
        unsigned addr = hexValue(recs[i], 3, 4);
        EXPECT_GE(addr, prevEnd) << recs[i];
        prevEnd = addr + hexValue(recs[i], 1, 2);
    }
}

TEST(FirmwareImage, FitsTheLoaderAndStartsAtTheResetVector) {
    Image img = buildImage(table());
    EXPECT_FALSE(img.outside);
    EXPECT_GT(img.size, 0u);
    EXPECT_LT(img.size, kCapacity);
    EXPECT_EQ(img.size, kFirmwareImageSize);
    std::cout << "firmware image: " << img.size << " bytes, " << kFirmwareRecordCount
              << " records\n";

    // The first record holds address 0, and the 8051 starts there with a long jump (LJMP,
    // opcode 0x02) into the startup code inside the image.
    EXPECT_EQ(hexValue(kFirmwareRecords[0], 3, 4), 0u);
    ASSERT_EQ(img.bytes[0], 0x02);
    unsigned target = (img.bytes[1] << 8) | img.bytes[2];
    EXPECT_GT(target, 2u);
    EXPECT_LT(target, img.size);
}

TEST(FirmwareImage, TableHoldsExactlyWhatSdccWrote) {
    std::ifstream in(PORTIVA_FW_IHX_PATH);
    ASSERT_TRUE(in) << PORTIVA_FW_IHX_PATH;
    std::vector<std::string> fromFile;
    std::string line;
    while (std::getline(in, line)) {
        while (!line.empty() && (line.back() == '\r' || line.back() == ' '))
            line.pop_back();
        if (!line.empty())
            fromFile.push_back(line);
    }
    Image expected = buildImage(fromFile);
    Image actual = buildImage(table());
    EXPECT_EQ(actual.size, expected.size);
    EXPECT_TRUE(actual.bytes == expected.bytes);
}

} // namespace
