// Chooses the driver behind the transport once, at its first use.
#include <cstdlib>
#include <memory>

#include "transport/driver.h"
#include "transport/platform_driver.h"
#include "transport/sim_driver.h"

namespace portiva {
namespace {

std::unique_ptr<Driver> g_driver;

std::unique_ptr<Driver> MakeDriver() {
    if (const char* boards = std::getenv("PORTIVA_SIM")) {
        return std::make_unique<SimDriver>(ParseSimBoardCount(boards),
                                           ParseSimFormat(std::getenv("PORTIVA_SIM_DRIVER")));
    }
    return MakePlatformDriver();
}

} // namespace

Driver& ActiveDriver() {
    if (!g_driver) {
        g_driver = MakeDriver();
    }
    return *g_driver;
}

void ReleaseDriver() {
    g_driver.reset();
}

} // namespace portiva
