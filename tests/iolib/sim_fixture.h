// Fixture for tests against the simulated boards (PORTIVA_SIM set by the test registration).
#pragma once

#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "portiva_loader.h"

namespace sim_test {

constexpr uint32_t kCyControl = 0x220020;
constexpr uint32_t kCyBulk = 0x220024;
constexpr uint32_t kCyAbortPipe = 0x220044;
constexpr uint32_t kCySetAlt = 0x22000C;
constexpr uint32_t kCyGetAlt = 0x220008;
constexpr uint32_t kCySetTransferSize = 0x220038;
constexpr uint32_t kEzControl = 0x222059;
constexpr uint32_t kEzBulkWrite = 0x222051;
constexpr uint32_t kEzBulkRead = 0x22204E;
constexpr uint32_t kEzSetInterface = 0x222040;
constexpr uint32_t kCallOpen = 0;
constexpr uint32_t kCallClose = 1;
constexpr uint32_t kCallEnumerate = 2;

// A bulk transfer as seen in the driver calls, whatever the format.
struct BulkCall {
    int board;
    uint8_t endpoint;
    uint32_t length;
    uint32_t waitMs;
    std::vector<uint8_t> data; // what a write carried
};

inline uint32_t Le32(const uint8_t* p) {
    return p[0] | (p[1] << 8) | (p[2] << 16) | (static_cast<uint32_t>(p[3]) << 24);
}

class SimTest : public ::testing::Test {
protected:
    PortivaLibrary& lib = PortivaLibrary::Get();
    portiva::test::SimControl* sim = nullptr;
    bool ezusb = false;

    void SetUp() override {
        sim = lib.hooks->Sim();
        ASSERT_NE(sim, nullptr) << "the tests need PORTIVA_SIM";
        ASSERT_GE(sim->BoardCount(), 4u);
        const char* format = std::getenv("PORTIVA_SIM_DRIVER");
        ezusb = format && std::string(format) == "ezusb";
        sim->Reset();
        lib.hooks->SetRecordTable(nullptr, 0);
        if (lib.hooks->BuiltInRecordCount() == 0) {
            // A build without the sdcc firmware: any image starts the simulated firmware.
            static const char* const kSmallImage[] = {":0300000002000BF0", ":00000001FF"};
            lib.hooks->SetRecordTable(kSmallImage, 2);
        }
        for (uint8_t board = 0; board < 4; ++board) {
            lib.UsbClose(board);
            lib.UsbSetInitializedFlag(board, 0);
        }
        Errors();
        sim->ClearRecords();
    }

    // Drains every pending error, in the order UsbGetError gives them.
    std::vector<int> Errors() {
        std::vector<int> numbers;
        while (uint8_t number = lib.UsbGetError()) {
            numbers.push_back(number);
            if (numbers.size() > 64) {
                break;
            }
        }
        return numbers;
    }

    void Init(uint8_t board) {
        ASSERT_TRUE(lib.UsbInit(board)) << "board " << int(board);
        sim->ClearRecords();
    }

    std::vector<BulkCall> BulkCalls() const {
        std::vector<BulkCall> bulk;
        for (const auto& call : sim->Calls()) {
            if (call.code == kCyBulk && call.in.size() >= 38) {
                const uint8_t endpoint = call.in[13];
                BulkCall b{call.board, endpoint, Le32(&call.in[34]), call.waitMs, {}};
                if (!(endpoint & 0x80)) {
                    b.data.assign(call.in.begin() + 38, call.in.end());
                }
                bulk.push_back(b);
            } else if ((call.code == kEzBulkWrite || call.code == kEzBulkRead) &&
                       call.in.size() == 4) {
                static const uint8_t endpoints[] = {0, 0, 0x02, 0x04, 0x86, 0x88};
                const uint32_t pipe = Le32(call.in.data());
                BulkCall b{call.board,
                           pipe < 6 ? endpoints[pipe] : uint8_t(0),
                           static_cast<uint32_t>(call.out.size()),
                           call.waitMs,
                           {}};
                if (call.code == kEzBulkWrite) {
                    b.data = call.out;
                }
                bulk.push_back(b);
            }
        }
        return bulk;
    }

    size_t CountCalls(uint32_t code) const {
        size_t count = 0;
        for (const auto& call : sim->Calls()) {
            count += call.code == code;
        }
        return count;
    }

    // Calls that reached a board's handle (transfers, alternate settings ...).
    size_t DeviceCalls() const {
        size_t count = 0;
        for (const auto& call : sim->Calls()) {
            count += call.code > kCallEnumerate;
        }
        return count;
    }
};

} // namespace sim_test
