// Host tests of the firmware's protocol core: command transfers in, answers out.
#include "fwcore.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cstdint>
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
