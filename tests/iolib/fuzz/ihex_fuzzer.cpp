// libFuzzer target: Intel HEX record tables as UsbInit turns them into the firmware image. The
// input is split into lines, one record each (a carriage return before the line end is dropped).
// Whatever the records say, the builder either refuses the table or gives an image below 8192
// bytes with nothing written beyond its size.
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "firmware/image_builder.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    std::vector<std::string> lines(1);
    for (size_t i = 0; i < size; ++i) {
        const char c = static_cast<char>(data[i]);
        if (c == '\n') {
            if (!lines.back().empty() && lines.back().back() == '\r') {
                lines.back().pop_back();
            }
            lines.emplace_back();
        } else {
            lines.back() += c;
        }
    }
    std::vector<const char*> records;
    for (const std::string& line : lines) {
        records.push_back(line.c_str()); // a zero byte ends a record early, as in C text
    }
    auto image = std::make_unique<portiva::FirmwareImage>();
    if (portiva::BuildImage({records.data(), records.size()}, *image)) {
        if (image->size >= portiva::kImageCapacity) {
            __builtin_trap();
        }
        for (size_t i = image->size; i < image->bytes.size(); ++i) {
            if (image->bytes[i] != 0) {
                __builtin_trap();
            }
        }
    }
    return 0;
}
