// The test interface exported as portiva_test_interface.
#include <memory>
#include <vector>

#include "api/portiva.h"
#include "firmware/image_builder.h"
#include "internal/errors.h"
#include "internal/lock.h"
#include "internal/log.h"
#include "transport/sim_driver.h"
#include "transport/test_interface.h"
#include "transport/transport.h"

namespace portiva {
namespace {

test::Hooks::LogSink g_testSink = nullptr;

void ForwardLog(LogLevel level, bool indent, const char* text) {
    if (g_testSink) {
        g_testSink(static_cast<int>(level), indent, text);
    }
}

class HooksImpl final : public test::Hooks {
public:
    test::SimControl* Sim() override {
        const auto lock = LockLibrary();
        auto* sim = dynamic_cast<SimDriver*>(&ActiveDriver());
        if (sim) {
            sim->StartRecording();
        }
        return sim;
    }

    void SetRecordTable(const char* const* records, size_t count) override {
        const auto lock = LockLibrary();
        if (records || count) {
            const RecordTable table{records, count};
            OverrideRecordTable(&table);
        } else {
            OverrideRecordTable(nullptr);
        }
    }

    size_t BuiltInRecordCount() const override { return BuiltInRecordTable().count; }

    bool BuildImage(const char* const* records, size_t count, std::vector<uint8_t>& image,
                    uint32_t& size) const override {
        auto built = std::make_unique<FirmwareImage>();
        const bool ok = portiva::BuildImage(RecordTable{records, count}, *built);
        image.assign(built->bytes.begin(), built->bytes.end());
        size = built->size;
        return ok;
    }

    void RaiseError(uint8_t devNum, uint32_t bits) override {
        const auto lock = LockLibrary();
        SetError(devNum, bits);
    }

    bool DriverTypeIsCyUsb() const override {
        const auto lock = LockLibrary();
        return CurrentDriverType() == DriverType::CyUsb;
    }
    bool DriverTypeFixed() const override {
        const auto lock = LockLibrary();
        return portiva::DriverTypeFixed();
    }
    uint8_t TransactionNumber() const override {
        const auto lock = LockLibrary();
        return CurrentTransactionNumber();
    }

    bool Transfer(uint8_t devNum, uint8_t command, bool wantStatus, uint32_t timeoutMs,
                  uint32_t readLen, const std::vector<uint8_t>& payload,
                  std::vector<uint8_t>& answer) override {
        const auto lock = LockLibrary();
        answer.assign(readLen, 0);
        return DoBulkXFer(devNum, command, wantStatus, timeoutMs, readLen,
                          static_cast<uint32_t>(payload.size()), answer.data(), payload.data());
    }

    void SetLogSink(LogSink sink) override {
        const auto lock = LockLibrary();
        g_testSink = sink;
        portiva::SetLogSink(sink ? ForwardLog : nullptr);
    }
};

HooksImpl g_hooks;

} // namespace
} // namespace portiva

extern "C" PORTIVA_API portiva::test::Hooks* portiva_test_interface() {
    return &portiva::g_hooks;
}
