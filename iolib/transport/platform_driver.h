#pragma once

#include <memory>

#include "transport/driver.h"

namespace portiva {

// The platform's real device access: Windows device I/O, or libusb elsewhere. A platform
// without either gets a driver that finds no board.
std::unique_ptr<Driver> MakePlatformDriver();

} // namespace portiva
