// The built-in parallel bus configurations UsbParInit chooses from. Their bytes after the flags
// are the firmware's own (see fx2/core/par_config.h); the library passes them through.
#pragma once

#include <cstdint>

namespace portiva {

constexpr uint8_t kParModeCount = 10;

// Configuration array of mode 0..kParModeCount-1: 172 bytes when bit 7 of byte 0 is set, else
// 152. nullptr for any other mode.
const uint8_t* ParModeArray(uint8_t mode);

// Length of a configuration array by its flags byte.
constexpr uint32_t ParConfigLength(uint8_t flags) {
    return (flags & 0x80) ? 172 : 152;
}

} // namespace portiva
