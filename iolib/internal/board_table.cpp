#include "internal/board_table.h"

#include <array>

namespace portiva {
namespace {
std::array<DeviceRecord, kBoardCount> g_table;
} // namespace

DeviceRecord& Board(uint8_t devNum) {
    return g_table[devNum];
}

void ResetDeviceTable() {
    for (auto& record : g_table) {
        record = DeviceRecord{};
    }
}

} // namespace portiva
