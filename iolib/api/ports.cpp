// The port family: whole ports and single lines, their directions and levels.
#include "api/entry.h"
#include "transport/transport.h"

using namespace portiva;

namespace {

constexpr uint8_t kPortCount = 5;
constexpr uint8_t kLineCount = 40;

// Five (keep-mask, value) pairs: every port untouched except `port`.
void FillPairs(uint8_t* record, uint8_t port, uint8_t keep, uint8_t value) {
    for (uint8_t p = 0; p < kPortCount; ++p) {
        record[2 * p] = p == port ? keep : 255;
        record[2 * p + 1] = p == port ? value : 0;
    }
}

bool SendPortState(uint8_t devNum, uint8_t port, uint8_t keep, uint8_t value) {
    uint8_t record[16] = {};
    FillPairs(record, port, keep, value);
    return DoBulkXFer(devNum, kCmdSetPortState, false, kCommandTimeoutMs, 0, sizeof record, nullptr,
                      record);
}

bool SendPortDir(uint8_t devNum, uint8_t port, uint8_t keep, uint8_t value) {
    uint8_t record[10] = {};
    FillPairs(record, port, keep, value);
    return DoBulkXFer(devNum, kCmdSetPortDir, false, kCommandTimeoutMs, 0, sizeof record, nullptr,
                      record);
}

// The levels of one port; `value` is written also when the transfer failed (then 0).
bool ReadPort(uint8_t devNum, uint8_t port, uint8_t& value) {
    uint8_t answer[kPortCount] = {};
    const bool ok = DoBulkXFer(devNum, kCmdGetPortState, false, kCommandTimeoutMs, sizeof answer, 0,
                               answer, nullptr);
    value = answer[port];
    return ok;
}

// One line of a port: its bit set to `on`, the port's other lines kept.
template <typename Send> bool SendLine(uint8_t devNum, uint8_t pinNr, bool on, Send send) {
    const uint8_t bit = static_cast<uint8_t>(1u << (pinNr % 8));
    return send(devNum, pinNr / 8, static_cast<uint8_t>(~bit), on ? bit : 0);
}

} // namespace

extern "C" {

// Each export traces under the library lock (taken again, recursively, by Checked), so that the
// lines of calls from several threads do not mix.

PORTIVA_API PortivaBool PORTIVA_CALL UsbSetPortState(uint8_t DevNum, uint8_t PortNr,
                                                     uint8_t State) {
    const auto lock = LockLibrary();
    trace::Call t("UsbSetPortState");
    t.Byte("DevNum", DevNum).Byte("PortNr", PortNr).Byte("State", State);
    return t.Result(Checked(DevNum, PortNr < kPortCount,
                            [&] { return SendPortState(DevNum, PortNr, 0, State); }));
}

PORTIVA_API PortivaBool PORTIVA_CALL UsbSetPortDir(uint8_t DevNum, uint8_t PortNr, uint8_t Dir) {
    const auto lock = LockLibrary();
    trace::Call t("UsbSetPortDir");
    t.Byte("DevNum", DevNum).Byte("PortNr", PortNr).Byte("Dir", Dir);
    return t.Result(
        Checked(DevNum, PortNr < kPortCount, [&] { return SendPortDir(DevNum, PortNr, 0, Dir); }));
}

PORTIVA_API PortivaBool PORTIVA_CALL UsbSetIOState(uint8_t DevNum, uint8_t PinNr,
                                                   PortivaBool State) {
    const auto lock = LockLibrary();
    trace::Call t("UsbSetIOState");
    t.Byte("DevNum", DevNum).Byte("PinNr", PinNr).Byte("State", State);
    return t.Result(Checked(DevNum, PinNr < kLineCount,
                            [&] { return SendLine(DevNum, PinNr, State != 0, SendPortState); }));
}

PORTIVA_API PortivaBool PORTIVA_CALL UsbSetIODir(uint8_t DevNum, uint8_t PinNr, PortivaBool Dir) {
    const auto lock = LockLibrary();
    trace::Call t("UsbSetIODir");
    t.Byte("DevNum", DevNum).Byte("PinNr", PinNr).Byte("Dir", Dir);
    return t.Result(Checked(DevNum, PinNr < kLineCount,
                            [&] { return SendLine(DevNum, PinNr, Dir != 0, SendPortDir); }));
}

// The value read comes before the boolean result line, and only through a pointer given.
PORTIVA_API PortivaBool PORTIVA_CALL UsbGetPortState(uint8_t DevNum, uint8_t PortNr,
                                                     uint8_t* PState) {
    const auto lock = LockLibrary();
    trace::Call t("UsbGetPortState");
    t.Byte("DevNum", DevNum).Byte("PortNr", PortNr);
    const PortivaBool ok = Checked(DevNum, PortNr < kPortCount && PState,
                                   [&] { return ReadPort(DevNum, PortNr, *PState); });
    t.ResultByte("State", PState);
    return t.Result(ok);
}

PORTIVA_API PortivaBool PORTIVA_CALL UsbGetIOState(uint8_t DevNum, uint8_t PinNr,
                                                   PortivaBool* PState) {
    const auto lock = LockLibrary();
    trace::Call t("UsbGetIOState");
    t.Byte("DevNum", DevNum).Byte("PinNr", PinNr);
    const PortivaBool ok = Checked(DevNum, PinNr < kLineCount && PState, [&] {
        uint8_t levels = 0;
        const bool read = ReadPort(DevNum, PinNr / 8, levels);
        *PState = (levels >> (PinNr % 8)) & 1;
        return read;
    });
    t.ResultByte("State", PState);
    return t.Result(ok);
}

} // extern "C"
