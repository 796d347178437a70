// Host tests of the firmware's protocol core: command transfers in, answers out.
#include "fwcore.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

namespace {

using Bytes = std::vector<uint8_t>;

struct Header {
    uint8_t command = 0;
    uint8_t transaction = 0;
    bool wantStatus = false;
    uint32_t readLen = 0;
    uint32_t writeLen = 0;
};

void putLe32(Bytes& b, size_t at, uint32_t v) {
    for (int i = 0; i < 4; ++i)
        b[at + i] = static_cast<uint8_t>(v >> (8 * i));
}

// The transfer exactly as the library writes it: header, then the payload.
Bytes transfer(const Header& h, const Bytes& payload) {
    Bytes b(PFW_HEADER_SIZE, 0);
    b[0] = h.command;
    b[1] = h.transaction;
    b[2] = h.wantStatus ? 255 : 0;
    putLe32(b, 8, h.readLen);
    putLe32(b, 12, h.writeLen);
    b.insert(b.end(), payload.begin(), payload.end());
    return b;
}

Bytes command(uint8_t code, uint8_t transaction, const Bytes& payload = {}, uint32_t readLen = 0,
              bool wantStatus = false) {
    return transfer({code, transaction, wantStatus, readLen, static_cast<uint32_t>(payload.size())},
                    payload);
}

// A port-state record: five pairs, delay, four zero bytes.
Bytes portRecord(const std::array<uint8_t, 10>& pairs, uint16_t delay = 0) {
    Bytes r(pairs.begin(), pairs.end());
    r.push_back(static_cast<uint8_t>(delay & 0xFF));
    r.push_back(static_cast<uint8_t>(delay >> 8));
    r.insert(r.end(), 4, 0);
    return r;
}

class FwCore : public ::testing::Test {
protected:
    void SetUp() override { pfw_init(&st); }

    // Runs a transfer with an answer buffer of exactly `capacity` bytes, so that an overrun shows
    // under the address sanitizer; returns the answer cut to its reported length.
    Bytes run(const Bytes& xfer, uint16_t capacity = 64) {
        Bytes answer(capacity, 0xEE);
        uint16_t n = pfw_process(&st, xfer.data(), static_cast<uint32_t>(xfer.size()),
                                 answer.data(), capacity);
        EXPECT_LE(n, capacity);
        answer.resize(n);
        return answer;
    }

    uint32_t readStatus() {
        Bytes a = run(command(PFW_CMD_GET_STATUS, 200, {}, 0, true));
        EXPECT_EQ(a.size(), 4u);
        if (a.size() != 4)
            return 0xFFFFFFFF;
        return a[1] | (a[2] << 8) | (a[3] << 16);
    }

    void setLatches(std::array<uint8_t, 5> v) {
        for (int i = 0; i < 5; ++i)
            st.latch[i] = v[i];
    }

    std::array<uint8_t, 5> latches() const {
        return {st.latch[0], st.latch[1], st.latch[2], st.latch[3], st.latch[4]};
    }
    std::array<uint8_t, 5> dirs() const {
        return {st.dir[0], st.dir[1], st.dir[2], st.dir[3], st.dir[4]};
    }

    pfw_state st{};
};

TEST_F(FwCore, InitGivesInputsLatchesZeroAndNoStatus) {
    for (int i = 0; i < 5; ++i) {
        st.latch[i] = 0xFF;
        st.dir[i] = 0xFF;
    }
    st.status = 5;
    st.flush_request = 1;
    pfw_init(&st);
    EXPECT_EQ(latches(), (std::array<uint8_t, 5>{0, 0, 0, 0, 0}));
    EXPECT_EQ(dirs(), (std::array<uint8_t, 5>{0, 0, 0, 0, 0}));
    EXPECT_EQ(st.status, 0u);
    EXPECT_EQ(st.flush_request, 0);
    EXPECT_EQ(st.high_speed, 0);
}

TEST_F(FwCore, PortStatePairsKeepReplaceSetAndClear) {
    setLatches({0xA5, 0xA5, 0xA5, 0xA5, 0xA5});
    // port 0 untouched, 1 replaced, 2 bits 0x0C set, 3 bits 0x81 cleared, 4 replaced by 0
    Bytes rec = portRecord({255, 0, 0, 0x3C, 0xF3, 0x0C, 0x7E, 0, 0, 0});
    EXPECT_TRUE(run(command(PFW_CMD_SET_PORT_STATE, 1, rec)).empty());
    EXPECT_EQ(latches(), (std::array<uint8_t, 5>{0xA5, 0x3C, 0xAD, 0x24, 0x00}));
    EXPECT_EQ(dirs(), (std::array<uint8_t, 5>{0, 0, 0, 0, 0}));
    EXPECT_EQ(readStatus(), 0u);
}

TEST_F(FwCore, SingleLineRecordsTouchOnlyTheirLine) {
    setLatches({0x11, 0x00, 0x33, 0x44, 0x55});
    // Line 13 on: bit 5 of port 1, all else kept.
    run(command(PFW_CMD_SET_PORT_STATE, 1,
                portRecord({255, 0, 0xDF, 0x20, 255, 0, 255, 0, 255, 0})));
    EXPECT_EQ(latches(), (std::array<uint8_t, 5>{0x11, 0x20, 0x33, 0x44, 0x55}));

    // Lines 16 and 17 in two commands: both stay on.
    run(command(PFW_CMD_SET_PORT_STATE, 2,
                portRecord({255, 0, 255, 0, 0xFE, 0x01, 255, 0, 255, 0})));
    run(command(PFW_CMD_SET_PORT_STATE, 3,
                portRecord({255, 0, 255, 0, 0xFD, 0x02, 255, 0, 255, 0})));
    EXPECT_EQ(st.latch[2], 0x33);
    setLatches({0, 0, 0, 0, 0});
    run(command(PFW_CMD_SET_PORT_STATE, 4,
                portRecord({0xFE, 0x01, 255, 0, 255, 0, 255, 0, 255, 0})));
    run(command(PFW_CMD_SET_PORT_STATE, 5,
                portRecord({0xFD, 0x02, 255, 0, 255, 0, 255, 0, 255, 0})));
    EXPECT_EQ(st.latch[0], 0x03);

    // Line 13 off again.
    setLatches({0xFF, 0xFF, 0xFF, 0xFF, 0xFF});
    run(command(PFW_CMD_SET_PORT_STATE, 6,
                portRecord({255, 0, 0xDF, 0x00, 255, 0, 255, 0, 255, 0})));
    EXPECT_EQ(latches(), (std::array<uint8_t, 5>{0xFF, 0xDF, 0xFF, 0xFF, 0xFF}));
}

TEST_F(FwCore, SeveralRecordsApplyInOrder) {
    Bytes payload = portRecord({0, 0x0F, 255, 0, 255, 0, 255, 0, 255, 0}, 50);
    Bytes second = portRecord({0xF0, 0x80, 255, 0, 255, 0, 255, 0, 0, 0x99}, 7);
    payload.insert(payload.end(), second.begin(), second.end());
    EXPECT_TRUE(run(command(PFW_CMD_SET_PORT_STATE, 9, payload)).empty());
    // The second record keeps the high nibble the first one wrote (0) and adds 0x80.
    EXPECT_EQ(latches(), (std::array<uint8_t, 5>{0x80, 0, 0, 0, 0x99}));
}

TEST_F(FwCore, DirectionPairsLeaveLatchesAlone) {
    setLatches({1, 2, 3, 4, 5});
    for (int i = 0; i < 5; ++i)
        st.dir[i] = 0xFF;
    // Line 39 made an input; port 0 replaced by 0x0F.
    Bytes rec{0, 0x0F, 255, 0, 255, 0, 255, 0, 0x7F, 0};
    EXPECT_TRUE(run(command(PFW_CMD_SET_PORT_DIR, 1, rec)).empty());
    EXPECT_EQ(dirs(), (std::array<uint8_t, 5>{0x0F, 0xFF, 0xFF, 0xFF, 0x7F}));
    EXPECT_EQ(latches(), (std::array<uint8_t, 5>{1, 2, 3, 4, 5}));
}

TEST_F(FwCore, GetPortStateAnswersFiveOrSixBytes) {
    const uint8_t levels[5] = {0x01, 0x20, 0x00, 0xFF, 0x80};
    for (int i = 0; i < 5; ++i)
        st.level[i] = levels[i];
    st.ready = 1;

    Bytes five = run(command(PFW_CMD_GET_PORT_STATE, 42, {}, 5), 9);
    EXPECT_EQ(five, (Bytes{42, 0x01, 0x20, 0x00, 0xFF, 0x80, 0, 0, 0}));

    Bytes six = run(command(PFW_CMD_GET_PORT_STATE, 43, {}, 6), 10);
    EXPECT_EQ(six, (Bytes{43, 0x01, 0x20, 0x00, 0xFF, 0x80, 1, 0, 0, 0}));

    // Reading changes nothing.
    EXPECT_EQ(latches(), (std::array<uint8_t, 5>{0, 0, 0, 0, 0}));
    EXPECT_EQ(readStatus(), 0u);
}

TEST_F(FwCore, TransactionNumberIsEchoed) {
    for (int t : {0, 1, 127, 128, 254, 255}) {
        Bytes a = run(command(PFW_CMD_GET_STATUS, static_cast<uint8_t>(t), {}, 0, true));
        ASSERT_EQ(a.size(), 4u);
        EXPECT_EQ(a[0], t);
    }
    Bytes a = run(command(PFW_CMD_GET_FIRMWARE_INFO, 77, {}, 2));
    ASSERT_EQ(a.size(), 6u);
    EXPECT_EQ(a[0], 77);
}

TEST_F(FwCore, FirmwareInfoGivesPacketSizeForTheSpeed) {
    st.high_speed = 1;
    EXPECT_EQ(run(command(PFW_CMD_GET_FIRMWARE_INFO, 5, {}, 2)), (Bytes{5, 0x00, 0x02, 0, 0, 0}));
    st.high_speed = 0;
    EXPECT_EQ(run(command(PFW_CMD_GET_FIRMWARE_INFO, 6, {}, 2)), (Bytes{6, 64, 0, 0, 0, 0}));
}

TEST_F(FwCore, StatusIsReportedLowByteFirstAndClearedOnce) {
    st.status = 0x123421;
    EXPECT_EQ(run(command(PFW_CMD_GET_STATUS, 3, {}, 0, true)), (Bytes{3, 0x21, 0x34, 0x12}));
    EXPECT_EQ(readStatus(), 0u);

    // Without a status request GetStatus answers nothing and keeps the bits.
    st.status = PFW_STATUS_I2C_NO_ACK;
    EXPECT_TRUE(run(command(PFW_CMD_GET_STATUS, 4)).empty());
    EXPECT_EQ(st.status, PFW_STATUS_I2C_NO_ACK);

    // Any answer carries the pending bits and clears them.
    Bytes a = run(command(PFW_CMD_GET_PORT_STATE, 5, {}, 5));
    ASSERT_EQ(a.size(), 9u);
    EXPECT_EQ(a[6], PFW_STATUS_I2C_NO_ACK);
    EXPECT_EQ(readStatus(), 0u);

    // Only 24 bits travel.
    st.status = 0xFF000001;
    EXPECT_EQ(readStatus(), 1u);
    EXPECT_EQ(st.status, 0u);
}

TEST_F(FwCore, StatusRequestOnASetCommandGetsFourBytes) {
    st.status = PFW_STATUS_PAR_OUT_TIMEOUT;
    Bytes a = run(command(PFW_CMD_SET_PORT_STATE, 8,
                          portRecord({0, 0x55, 255, 0, 255, 0, 255, 0, 255, 0}), 0, true));
    EXPECT_EQ(a, (Bytes{8, 0x20, 0, 0}));
    EXPECT_EQ(st.latch[0], 0x55);
}

TEST_F(FwCore, FlushAsksTheCallerAndAnswersNothing) {
    st.status = PFW_STATUS_I2C_TIMEOUT;
    EXPECT_TRUE(run(command(PFW_CMD_FLUSH, 1)).empty());
    EXPECT_EQ(st.flush_request, 1);
    EXPECT_EQ(st.status, PFW_STATUS_I2C_TIMEOUT);
}

TEST_F(FwCore, LengthsThatDoNotMatchTheCommandAreRejected) {
    setLatches({1, 2, 3, 4, 5});
    const auto before = latches();
    const Bytes rec = portRecord({0, 0xFF, 0, 0xFF, 0, 0xFF, 0, 0xFF, 0, 0xFF});
    const std::vector<Bytes> bad = {
        // WriteLen claims 16, only 10 payload bytes follow
        transfer({PFW_CMD_SET_PORT_STATE, 1, false, 0, 16}, Bytes(rec.begin(), rec.begin() + 10)),
        // trailing bytes beyond WriteLen
        transfer({PFW_CMD_SET_PORT_STATE, 1, false, 0, 16},
                 [&] {
                     Bytes p = rec;
                     p.push_back(0);
                     return p;
                 }()),
        // WriteLen that would wrap 16 + WriteLen
        transfer({PFW_CMD_SET_PORT_STATE, 1, false, 0, 0xFFFFFFF0u}, rec),
        // not a whole number of records, and no record at all
        command(PFW_CMD_SET_PORT_STATE, 1, Bytes(rec.begin(), rec.begin() + 10)),
        command(PFW_CMD_SET_PORT_STATE, 1, {}),
        // a port-state record where a direction record belongs
        command(PFW_CMD_SET_PORT_DIR, 1, rec),
    };
    for (size_t i = 0; i < bad.size(); ++i) {
        SCOPED_TRACE(i);
        EXPECT_TRUE(run(bad[i]).empty());
        EXPECT_EQ(latches(), before);
        EXPECT_EQ(dirs(), (std::array<uint8_t, 5>{0, 0, 0, 0, 0}));
        EXPECT_EQ(readStatus(), PFW_STATUS_REJECTED);
    }
}

TEST_F(FwCore, RejectedReadStillGetsTheAnswerLengthAsked) {
    for (int i = 0; i < 5; ++i)
        st.level[i] = 0xAB;
    // ReadLen 4 and 7 are not port reads; 3 bytes of an unknown command.
    EXPECT_EQ(run(command(PFW_CMD_GET_PORT_STATE, 10, {}, 4), 8),
              (Bytes{10, 0, 0, 0, 0, PFW_STATUS_REJECTED, 0, 0}));
    EXPECT_EQ(run(command(PFW_CMD_GET_PORT_STATE, 11, {}, 7), 11),
              (Bytes{11, 0, 0, 0, 0, 0, 0, 0, PFW_STATUS_REJECTED, 0, 0}));
    EXPECT_EQ(run(command(99, 12, {}, 3, true), 7),
              (Bytes{12, 0, 0, 0, PFW_STATUS_REJECTED, 0, 0}));
    EXPECT_EQ(run(command(PFW_CMD_GET_FIRMWARE_INFO, 13, {}, 1), 5),
              (Bytes{13, 0, PFW_STATUS_REJECTED, 0, 0}));
    // A read length on a set command: answered, but the latches stay.
    EXPECT_EQ(run(command(PFW_CMD_SET_PORT_STATE, 14,
                          portRecord({0, 0xFF, 0, 0xFF, 0, 0xFF, 0, 0xFF, 0, 0xFF}), 1),
                  5),
              (Bytes{14, 0, PFW_STATUS_REJECTED, 0, 0}));
    EXPECT_EQ(st.latch[0], 0);
    EXPECT_EQ(readStatus(), 0u);
}

TEST_F(FwCore, UnknownCommandsChangeNothing) {
    setLatches({9, 8, 7, 6, 5});
    for (int code : {0, 16, 31, 34, 128, 255}) {
        SCOPED_TRACE(code);
        EXPECT_TRUE(
            run(command(static_cast<uint8_t>(code), 1, portRecord({0, 0, 0, 0, 0, 0, 0, 0, 0, 0})))
                .empty());
        EXPECT_EQ(latches(), (std::array<uint8_t, 5>{9, 8, 7, 6, 5}));
        EXPECT_EQ(st.flush_request, 0);
        EXPECT_EQ(readStatus(), PFW_STATUS_REJECTED);
    }
}

TEST_F(FwCore, UnanswerableTransfersWaitForTheNextAnswer) {
    // Shorter than a header: nothing to echo.
    Bytes shortXfer = command(PFW_CMD_GET_STATUS, 1, {}, 0, true);
    shortXfer.resize(15);
    EXPECT_TRUE(run(shortXfer).empty());
    EXPECT_TRUE(run(Bytes{}).empty());

    // An answer larger than the caller's buffer is not written.
    Bytes a = run(command(PFW_CMD_GET_PORT_STATE, 2, {}, 6), 9);
    EXPECT_TRUE(a.empty());
    EXPECT_TRUE(run(command(PFW_CMD_GET_STATUS, 3, {}, 0, true), 3).empty());
    EXPECT_TRUE(run(command(77, 4, {}, 0xFFFFFFFFu), 64).empty());

    EXPECT_EQ(readStatus(), PFW_STATUS_REJECTED);
    EXPECT_EQ(readStatus(), 0u);
}

TEST_F(FwCore, RejectAnswersFromTheHeaderAlone) {
    setLatches({1, 2, 3, 4, 5});
    // A valid port-state command whose payload did not fit: nothing is applied.
    Bytes xfer =
        command(PFW_CMD_SET_PORT_STATE, 21, portRecord({0, 0, 0, 0, 0, 0, 0, 0, 0, 0}), 0, true);
    Bytes answer(8, 0xEE);
    EXPECT_EQ(pfw_reject(&st, xfer.data(), answer.data(), 8), 4);
    EXPECT_EQ(Bytes(answer.begin(), answer.begin() + 4), (Bytes{21, PFW_STATUS_REJECTED, 0, 0}));
    EXPECT_EQ(latches(), (std::array<uint8_t, 5>{1, 2, 3, 4, 5}));

    // Without an answer the rejection waits for the next one.
    xfer = command(PFW_CMD_SET_PORT_DIR, 22, Bytes(10, 0));
    EXPECT_EQ(pfw_reject(&st, xfer.data(), answer.data(), 8), 0);
    EXPECT_EQ(readStatus(), PFW_STATUS_REJECTED);
}

// Feeds a transfer in packets of `maxPacket` bytes (the last one short) until the collector
// reports completion; returns how many packets it took and leaves the stored bytes in `buf`.
int collectAll(pfw_collector& c, Bytes& buf, const Bytes& xfer, uint16_t maxPacket) {
    pfw_collect_reset(&c);
    size_t off = 0;
    int packets = 0;
    do {
        size_t n = std::min<size_t>(maxPacket, xfer.size() - off);
        ++packets;
        if (pfw_collect(&c, buf.data(), static_cast<uint16_t>(buf.size()), xfer.data() + off,
                        static_cast<uint16_t>(n), maxPacket))
            return packets;
        off += n;
    } while (off < xfer.size());
    return -packets; // never completed
}

TEST(FwCollect, JoinsPacketsUpToTheDeclaredLength) {
    pfw_collector c;
    Bytes buf(512, 0);
    // 16 + 5 * 16 = 96 bytes at full speed: 64 + 32.
    Bytes payload;
    for (int r = 0; r < 5; ++r) {
        Bytes rec = portRecord({0, static_cast<uint8_t>(r), 255, 0, 255, 0, 255, 0, 255, 0});
        payload.insert(payload.end(), rec.begin(), rec.end());
    }
    Bytes xfer = command(PFW_CMD_SET_PORT_STATE, 1, payload);
    EXPECT_EQ(collectAll(c, buf, xfer, 64), 2);
    EXPECT_EQ(c.received, 96u);
    EXPECT_EQ(Bytes(buf.begin(), buf.begin() + 96), xfer);

    // Exactly two full packets: complete on the declared length, no short packet needed.
    Bytes exact = command(PFW_CMD_SET_PORT_STATE, 2, Bytes(112, 0));
    EXPECT_EQ(collectAll(c, buf, exact, 64), 2);
    EXPECT_EQ(c.received, 128u);

    // A header alone at high speed.
    EXPECT_EQ(collectAll(c, buf, command(PFW_CMD_GET_STATUS, 3, {}, 0, true), 512), 1);
    EXPECT_EQ(c.received, 16u);
}

TEST(FwCollect, ShortPacketsEndMalformedTransfers) {
    pfw_collector c;
    Bytes buf(512, 0);
    // Header declares 100 payload bytes, only 10 come: the short packet ends it.
    Bytes lying = transfer({PFW_CMD_SET_PORT_STATE, 1, false, 0, 100}, Bytes(10, 0));
    EXPECT_EQ(collectAll(c, buf, lying, 64), 1);
    EXPECT_EQ(c.received, 26u);
    // Fewer bytes than a header.
    EXPECT_EQ(collectAll(c, buf, Bytes(5, 1), 64), 1);
    EXPECT_EQ(c.received, 5u);
    // A huge WriteLen does not wrap into a small expected length.
    Bytes huge = transfer({PFW_CMD_SET_PORT_STATE, 1, false, 0, 0xFFFFFFFFu}, Bytes(48, 0));
    pfw_collect_reset(&c);
    EXPECT_EQ(pfw_collect(&c, buf.data(), 512, huge.data(), 64, 64), 0);
    EXPECT_EQ(c.expected, 0xFFFFFFFFu);
}

TEST(FwCollect, CountsButDoesNotStoreBeyondTheBuffer) {
    pfw_collector c;
    Bytes buf(64, 0);
    Bytes big = command(PFW_CMD_SET_PORT_STATE, 9, Bytes(160, 0xAB));
    EXPECT_EQ(collectAll(c, buf, big, 64), 3);
    EXPECT_EQ(c.received, 176u);
    EXPECT_EQ(Bytes(buf.begin(), buf.end()), Bytes(big.begin(), big.begin() + 64));
}

TEST(FwCollect, LeadingZeroLengthPacketIsIgnored) {
    pfw_collector c;
    Bytes buf(64, 0);
    pfw_collect_reset(&c);
    EXPECT_EQ(pfw_collect(&c, buf.data(), 64, nullptr, 0, 64), 0);
    EXPECT_EQ(c.received, 0u);
    Bytes x = command(PFW_CMD_FLUSH, 4);
    EXPECT_EQ(pfw_collect(&c, buf.data(), 64, x.data(), 16, 64), 1);
}

TEST(FwCoreLevels, OutputsReadBackTheirLatch) {
    pfw_state st;
    pfw_init(&st);
    st.dir[1] = 0xF0;
    st.latch[1] = 0xA5;
    EXPECT_EQ(pfw_line_levels(&st, 1, 0x0F), 0xAF);
    EXPECT_EQ(pfw_line_levels(&st, 1, 0x00), 0xA0);
    EXPECT_EQ(pfw_line_levels(&st, 0, 0x3C), 0x3C);
    EXPECT_EQ(pfw_line_levels(&st, 5, 0xFF), 0);
}

} // namespace

// --- The hardware layer, packet by packet -----------------------------------------------------

namespace hal_test {

// Records what the core asks of the hardware; the I2C slave acknowledges the addresses in
// `present` and answers reads with a counter; after a stop, `busyPolls` starts at 0xA0 fail.
struct Fake {
    std::vector<std::string> events;
    std::vector<Bytes> packets;
    std::array<uint8_t, 512> packet{};
    std::vector<uint8_t> present{0xA0, 0xA1};
    int busyPolls = 0;
    uint8_t next = 0;
    uint32_t waited = 0;
    bool polling = false;
};

Fake* g_fake = nullptr;

std::string Hex(unsigned v) {
    char text[8];
    std::snprintf(text, sizeof text, "%02X", v);
    return text;
}

void Add(const std::string& e) {
    g_fake->events.push_back(e);
}

const pfw_host_hal kHal = {
    [](pfw_state*) { Add("ports"); },
    nullptr,
    [](pfw_state*, uint16_t us) {
        g_fake->waited += us;
        Add("wait " + std::to_string(us));
    },
    [](pfw_state*) { return g_fake->packet.data(); },
    [](pfw_state*, uint16_t n) {
        g_fake->packets.emplace_back(g_fake->packet.begin(), g_fake->packet.begin() + n);
    },
    [](pfw_state* st) { Add("speed " + std::to_string(st->i2c_speed)); },
    [](pfw_state* st, uint8_t address) {
        Add("start " + Hex(address));
        const bool known = std::find(g_fake->present.begin(), g_fake->present.end(), address) !=
                           g_fake->present.end();
        // Busy after a write's stop: the acknowledge polls see it.
        if (!known ||
            (address == 0xA0 && g_fake->polling && g_fake->busyPolls > 0 && g_fake->busyPolls--)) {
            st->bus_status |= PFW_STATUS_I2C_NO_ACK;
        }
    },
    [](pfw_state*, uint8_t b) { Add("write " + Hex(b)); },
    [](pfw_state*, uint8_t flags) {
        Add("read " + std::to_string(flags));
        return g_fake->next++;
    },
    [](pfw_state*) {
        g_fake->polling = true;
        Add("stop");
    },
    [](pfw_state*, uint8_t on) { Add("select " + std::to_string(on)); },
    [](pfw_state*, uint8_t out) {
        Add("shift " + Hex(out));
        return static_cast<uint8_t>(out ^ 0xFF);
    },
    [](pfw_state* st) { Add("uart " + Hex(st->uart_divisor >> 8) + Hex(st->uart_divisor & 0xFF)); },
    [](pfw_state*, uint8_t b) { Add("tx " + Hex(b)); },
    [](pfw_state*) { return uint16_t(3); },
    [](pfw_state*) { return g_fake->next++; },
    [](pfw_state*, const uint8_t*, uint8_t length) { Add("config " + std::to_string(length)); },
    [](pfw_state*, uint32_t count) { Add("arm " + std::to_string(count)); },
    [](pfw_state* st) {
        Add("mode " + std::to_string(st->par_waveforms) + std::to_string(st->par_auto_out) +
            std::to_string(st->par_auto_in));
    },
    [](pfw_state*) { Add("reset"); },
};

class Streamed : public ::testing::Test {
protected:
    void SetUp() override {
        g_fake = &fake;
        st.hal = &kHal;
        pfw_init(&st);
    }
    void TearDown() override { g_fake = nullptr; }

    // Sends a transfer in packets of `size`; returns the answer joined from its packets.
    Bytes Send(const Bytes& xfer, uint16_t size = 64) {
        fake.events.clear();
        fake.packets.clear();
        size_t off = 0;
        uint8_t ended = 0;
        do {
            const uint16_t n = static_cast<uint16_t>(std::min<size_t>(size, xfer.size() - off));
            EXPECT_EQ(ended, 0) << "ended early at " << off;
            ended = pfw_receive(&st, xfer.data() + off, n, size);
            off += n;
        } while (off < xfer.size());
        EXPECT_EQ(ended, 1);
        Bytes answer;
        for (const Bytes& p : fake.packets) {
            EXPECT_TRUE(p.size() == size || &p == &fake.packets.back()) << "short packet inside";
            answer.insert(answer.end(), p.begin(), p.end());
        }
        return answer;
    }
    using Events = std::vector<std::string>;

    uint32_t readStatusOf() {
        const Bytes a = Send(command(PFW_CMD_GET_STATUS, 200, {}, 0, true));
        return a.size() == 4 ? a[1] | (a[2] << 8) | (a[3] << 16) : 0xFFFFFFFF;
    }

    Fake fake;
    pfw_state st{};
};

Bytes WithParams(Bytes xfer, uint8_t p3, uint16_t p4, uint16_t p6) {
    xfer[3] = p3;
    xfer[4] = static_cast<uint8_t>(p4);
    xfer[5] = static_cast<uint8_t>(p4 >> 8);
    xfer[6] = static_cast<uint8_t>(p6);
    xfer[7] = static_cast<uint8_t>(p6 >> 8);
    return xfer;
}

TEST_F(Streamed, I2cSequencesPollingAndLongAnswers) {
    // A read of three bytes: the controller learns in time which byte is the last.
    Bytes a = Send(WithParams(command(PFW_CMD_I2C_TRANSFER, 1, {0xA1}, 3), 0, 0, 1));
    EXPECT_EQ(fake.events, (Events{"start A1", "read 0", "read 2", "read 1"}));
    EXPECT_EQ(a, (Bytes{1, 0, 1, 2, 0, 0, 0}));

    // A write without stop, then a page write polled until the EEPROM acknowledges.
    Send(WithParams(command(PFW_CMD_I2C_TRANSFER, 2, {0xA0, 0x12}), 0, 0, 0));
    EXPECT_EQ(fake.events, (Events{"start A0", "write 12"}));
    fake.busyPolls = 2;
    fake.polling = false;
    a = Send(
        WithParams(command(PFW_CMD_I2C_TRANSFER, 3, {0xA0, 0, 0x10, 7}, 0, true), 0xA0, 65535, 1));
    EXPECT_EQ(fake.events,
              (Events{"start A0", "write 00", "write 10", "write 07", "stop", "start A0", "stop",
                      "wait 100", "start A0", "stop", "wait 100", "start A0", "stop"}));
    EXPECT_EQ(a, (Bytes{3, 0, 0, 0}));
    // P4 limits the polls; then the EEPROM time-out (1 ms: ten polls 100 us apart).
    fake.busyPolls = 100;
    fake.polling = false;
    a = Send(WithParams(command(PFW_CMD_I2C_TRANSFER, 4, {0xA0, 0, 0, 1}, 0, true), 0xA0, 3, 1));
    EXPECT_EQ(std::count(fake.events.begin(), fake.events.end(), "start A0"), 1 + 3);
    EXPECT_EQ(a, (Bytes{4, PFW_STATUS_EEPROM_TIMEOUT, 0, 0}));
    Send(WithParams(command(PFW_CMD_SET_TIMEOUT, 5, {}), 2, 1, 0));
    EXPECT_EQ(st.eeprom_timeout, 1);
    fake.waited = 0;
    fake.polling = false;
    a = Send(WithParams(command(PFW_CMD_I2C_TRANSFER, 6, {0xA0, 0, 0, 1}, 0, true), 0xA0, 0, 1));
    EXPECT_EQ(fake.waited, 1000u);
    EXPECT_EQ(a[1], PFW_STATUS_EEPROM_TIMEOUT);
    fake.busyPolls = 0;

    // A slave that does not answer: no data bytes go out, the stop releases the bus.
    a = Send(WithParams(command(PFW_CMD_I2C_TRANSFER, 7, {0x42, 1, 2}, 0, true), 0, 0, 1));
    EXPECT_EQ(fake.events, (Events{"start 42", "stop"}));
    EXPECT_EQ(a, (Bytes{7, PFW_STATUS_I2C_NO_ACK, 0, 0}));

    // 64 KiB in one answer: transaction number, data, status in full packets but the last.
    fake.next = 0;
    a = Send(WithParams(command(PFW_CMD_I2C_TRANSFER, 8, {0xA1}, 65536), 0, 0, 1), 512);
    ASSERT_EQ(a.size(), 65540u);
    EXPECT_EQ(fake.packets.size(), 129u);
    EXPECT_EQ(fake.packets.back().size(), 4u);
    for (size_t i = 0; i < 65536; ++i) {
        ASSERT_EQ(a[1 + i], static_cast<uint8_t>(i));
    }
    // An I2C write of 65,536 + 1 bytes streams through packets of 64.
    Bytes big(65537, 0x5A);
    big[0] = 0xA0;
    Send(WithParams(command(PFW_CMD_I2C_TRANSFER, 9, big), 0, 0, 1));
    EXPECT_EQ(fake.events.size(), 1u + 65536u + 1u);
    EXPECT_EQ(fake.events.back(), "stop");
    // Too long an answer is not given at all; a read that carries data is refused unsent.
    fake.packets.clear();
    EXPECT_EQ(pfw_receive(&st, command(PFW_CMD_I2C_TRANSFER, 10, {0xA1}, 65537).data(), 17, 64), 1);
    EXPECT_TRUE(fake.packets.empty());
    a = Send(command(PFW_CMD_I2C_TRANSFER, 11, {0xA1, 5}, 2));
    EXPECT_EQ(a, (Bytes{11, 0, 0, PFW_STATUS_REJECTED, 0, 0}));
    EXPECT_TRUE(fake.events.empty());
}

TEST_F(Streamed, SpiUartParallelAndPatternTiming) {
    // LSB first: the layer shifts mirrored bytes and the answer is mirrored back.
    Bytes a = Send(WithParams(command(PFW_CMD_SPI_TRANSFER, 1, {0x01, 0x80}, 2), 0x80, 3, 0));
    EXPECT_EQ(fake.events, (Events{"ports", "select 1", "shift 80", "shift 01"}));
    EXPECT_EQ(a, (Bytes{1, 0xFE, 0x7F, 0, 0, 0}));
    EXPECT_EQ(st.spi_delay, 3);
    a = Send(WithParams(command(PFW_CMD_SPI_TRANSFER, 2, {0x01}, 1), 0x03, 0, 1));
    EXPECT_EQ(fake.events, (Events{"ports", "select 1", "shift 01", "ports", "select 0"}));
    EXPECT_EQ(st.latch[0] & 0xE0, 0xE0) << "released, MOSI and clock idle high";

    // UART: set up only when the divisor changes.
    Send(WithParams(command(PFW_CMD_UART_WRITE, 3, {1, 2}), 0, 0x03B3, 0));
    Send(WithParams(command(PFW_CMD_UART_WRITE, 4, {3}), 0, 0x03B3, 0));
    Send(WithParams(command(PFW_CMD_UART_WRITE, 5, {}), 0, 0x0099, 0));
    EXPECT_EQ(fake.events, (Events{"uart 0099"}));
    fake.next = 0x30;
    a = Send(command(PFW_CMD_UART_READ, 6, {}, 4));
    EXPECT_EQ(a, (Bytes{6, 2, 0, 0x30, 0x31, 0, 0, 0})) << "three waiting, room for two";

    // Parallel bus: arming needs a configuration of the right length in GPIF mode.
    Bytes config(152, 0);
    config[1] = 0xEE;
    Send(WithParams(command(PFW_CMD_PAR_IN, 7, {}), 0, 1, 4464));
    EXPECT_TRUE(fake.events.empty());
    Send(command(PFW_CMD_PAR_INIT, 8, Bytes(172, 0)));
    EXPECT_TRUE(fake.events.empty()) << "flags say 152 bytes";
    Send(command(PFW_CMD_PAR_INIT, 9, config));
    Send(WithParams(command(PFW_CMD_PAR_IN, 10, {}), 0, 1, 4464));
    Send(WithParams(command(PFW_CMD_PAR_SET_WAVEFORMS, 11, {}), 14, 0, 0));
    Send(WithParams(command(PFW_CMD_PAR_SET_AUTOMODE, 12, {}), 0, 1, 0));
    Send(command(PFW_CMD_DA_MED_SF, 13, {}));
    EXPECT_EQ(fake.events, (Events{"reset"}));
    EXPECT_EQ(st.par_waveforms, 14);
    EXPECT_EQ(readStatusOf(), PFW_STATUS_REJECTED) << "the early arming and the long array";

    // A pattern: 50 + 2 d microseconds after each record but the last, records cut across
    // packets.
    Bytes records;
    for (uint16_t d : {0, 7, 300}) {
        Bytes r = portRecord({0, static_cast<uint8_t>(d), 255, 0, 255, 0, 255, 0, 255, 0}, d);
        records.insert(records.end(), r.begin(), r.end());
    }
    Send(command(PFW_CMD_SET_PORT_STATE, 14, records), 20 + 16);
    EXPECT_EQ(fake.events,
              (Events{"ports", "wait 50", "ports", "wait 50", "wait 7", "wait 7", "ports"}));
    EXPECT_EQ(st.latch[0], 44); // 300 & 0xFF
}

} // namespace hal_test
