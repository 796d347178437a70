// Platforms without device access: no board is ever found.
#include "transport/platform_driver.h"

namespace portiva {
namespace {

class NullDriver final : public Driver {
public:
    std::string CyUsbInterfacePath(const std::string&, unsigned) override { return {}; }
    Handle Open(const std::string&, bool) override { return kInvalidHandle; }
    bool Close(Handle) override { return false; }
    IoResult Control(Handle, uint32_t, const void*, uint32_t, void*, uint32_t, uint32_t,
                     uint32_t*) override {
        return IoResult::Failed;
    }
};

} // namespace

std::unique_ptr<Driver> MakePlatformDriver() {
    return std::make_unique<NullDriver>();
}

} // namespace portiva
