// A board's driver handle as the board table keeps it and the drivers hand it out.
#pragma once

#include <cstdint>

namespace portiva {

using Handle = std::intptr_t;
constexpr Handle kInvalidHandle = -1;

} // namespace portiva
