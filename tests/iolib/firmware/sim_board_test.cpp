// The simulated board at the USB level: the firmware's core behind bulk endpoints with the device
// models on its buses, driven by transfers as a host writes and reads them.
#include "transport/sim_board.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <thread>
#include <vector>

namespace {

using Bytes = std::vector<uint8_t>;
using portiva::SimBoard;
using SpiDevice = portiva::test::SimControl::SpiDevice;

Bytes Pattern(size_t n, unsigned seed) {
    Bytes b(n);
    for (size_t i = 0; i < n; ++i) {
        b[i] = static_cast<uint8_t>(i * 13 + seed * 5 + (i >> 9));
    }
    return b;
}

uint8_t Mirror(uint8_t b) {
    uint8_t r = 0;
    for (int i = 0; i < 8; ++i) {
        r = static_cast<uint8_t>((r << 1) | ((b >> i) & 1));
    }
    return r;
}

Bytes Command(uint8_t code, uint8_t transaction, const Bytes& payload, uint32_t readLen = 0,
              bool status = false, uint8_t p3 = 0, uint16_t p4 = 0, uint16_t p6 = 0) {
    Bytes b(16, 0);
    b[0] = code;
    b[1] = transaction;
    b[2] = status ? 255 : 0;
    b[3] = p3;
    b[4] = static_cast<uint8_t>(p4);
    b[5] = static_cast<uint8_t>(p4 >> 8);
    b[6] = static_cast<uint8_t>(p6);
    b[7] = static_cast<uint8_t>(p6 >> 8);
    for (int i = 0; i < 4; ++i) {
        b[8 + i] = static_cast<uint8_t>(readLen >> (8 * i));
        b[12 + i] = static_cast<uint8_t>(payload.size() >> (8 * i));
    }
    b.insert(b.end(), payload.begin(), payload.end());
    return b;
}

// A board with firmware running in alternate setting 1.
class Board {
public:
    explicit Board(uint16_t packet = 512) : board(packet) {
        const uint8_t halt = 1, run = 0, code = 0x02;
        EXPECT_TRUE(board.ControlOut(0x40, 0xA0, 0xE600, 0, &halt, 1));
        EXPECT_TRUE(board.ControlOut(0x40, 0xA0, 0x0000, 0, &code, 1));
        EXPECT_TRUE(board.ControlOut(0x40, 0xA0, 0xE600, 0, &run, 1));
        EXPECT_TRUE(board.SetInterface(0, 1));
    }

    // Writes the transfer in host pieces of at most `piece` bytes (the EzUsb driver's 65,024),
    // then reads readLen + 4 answer bytes when an answer is due; returns data and status.
    struct Answer {
        Bytes data;
        uint32_t status = 0xFFFFFFFF;
        bool answered = false;
    };
    Answer Exchange(const Bytes& xfer, size_t piece = 0xFE00) {
        for (size_t off = 0; off < xfer.size(); off += piece) {
            EXPECT_TRUE(board.BulkOut(0x04, xfer.data() + off, std::min(piece, xfer.size() - off)));
        }
        Answer a;
        const uint32_t readLen = xfer[8] | (xfer[9] << 8) | (xfer[10] << 16) | (xfer[11] << 24);
        if (readLen == 0 && xfer[2] == 0) {
            return a;
        }
        Bytes in(readLen + 4);
        size_t got = 0;
        // Reads in pieces as the EzUsb driver does; each must be whole packets but the last.
        while (got < in.size()) {
            size_t received = 0;
            const size_t ask = std::min<size_t>(0xFE00, in.size() - got);
            if (board.BulkIn(0x86, in.data() + got, ask, received) != SimBoard::InResult::Data) {
                ADD_FAILURE() << "answer missing after " << got << " bytes";
                return a;
            }
            got += received;
        }
        EXPECT_EQ(in[0], xfer[1]) << "transaction number";
        a.answered = true;
        a.data.assign(in.begin() + 1, in.end() - 3);
        a.status = in[in.size() - 3] | (in[in.size() - 2] << 8) | (in[in.size() - 1] << 16);
        return a;
    }
    uint32_t Status(uint8_t t = 99) { return Exchange(Command(10, t, {}, 0, true)).status; }

    SimBoard board;
};

TEST(SimBoardDevices, EepromPagesPollingLongTransfersAndFaults) {
    Board b;
    // 64 KiB written page by page with acknowledge polling: each write cycle takes 5 ms of
    // simulated time, polled every 100 us.
    const Bytes image = Pattern(65536, 1);
    for (uint32_t address = 0; address < 65536; address += 16) {
        Bytes page{0xA0, static_cast<uint8_t>(address >> 8), static_cast<uint8_t>(address)};
        page.insert(page.end(), image.begin() + address, image.begin() + address + 16);
        const auto a = b.Exchange(Command(4, 1, page, 0, true, 0xA0, 65535, 1));
        ASSERT_EQ(a.status, 0u) << address;
    }
    EXPECT_EQ(b.board.Eeprom(), image);
    EXPECT_GE(b.board.Microseconds(), 4096u * SimBoard::kEepromWriteUs);

    // A page write wraps within its page; without polling the next access finds the EEPROM busy.
    auto a = b.Exchange(Command(4, 2, {0xA0, 0x12, 0x3E, 1, 2, 3, 4}, 0, true, 0, 0, 1));
    EXPECT_EQ(a.status, 0u);
    EXPECT_EQ(b.Exchange(Command(4, 3, {0xA0, 0x12, 0x3E}, 0, true, 0, 0, 1)).status, 0x04u);
    Bytes expected = image;
    expected[0x123E] = 1;
    expected[0x123F] = 2;
    expected[0x1230] = 3;
    expected[0x1231] = 4;
    EXPECT_EQ(b.board.Eeprom(), expected);

    // The whole EEPROM in one read after an address write without stop: 65,540 answer bytes
    // read in host pieces, the sequential read wrapping at the top.
    // Simulated time passes only where the firmware waits: two pattern records 5 ms apart.
    b.Exchange(Command(1, 4, {255, 0, 255, 0, 255, 0, 255, 0, 255, 0, 0xC4, 0x09, 0, 0, 0, 0,
                              255, 0, 255, 0, 255, 0, 255, 0, 255, 0, 0,    0,    0, 0, 0, 0}));
    EXPECT_EQ(b.Exchange(Command(4, 4, {0xA0, 0xFF, 0xF0}, 0, true, 0, 0, 0)).status, 0u);
    a = b.Exchange(Command(4, 5, {0xA1}, 65536, true, 0, 0, 1));
    ASSERT_TRUE(a.answered);
    EXPECT_EQ(a.status, 0u);
    Bytes rotated(expected.begin() + 0xFFF0, expected.end());
    rotated.insert(rotated.end(), expected.begin(), expected.begin() + 0xFFF0);
    EXPECT_EQ(a.data, rotated);

    // An I2C write of 65,536 + 1 bytes arrives in host pieces and reaches the bus whole: the
    // EEPROM keeps the last 16 data bytes of its page (after the two address bytes).
    Bytes big{0xA0, 0x40, 0x00};
    const Bytes stream = Pattern(65534, 2);
    big.insert(big.end(), stream.begin(), stream.end());
    ASSERT_EQ(big.size(), 65537u);
    a = b.Exchange(Command(4, 6, big, 0, true, 0xA0, 65535, 1));
    EXPECT_EQ(a.status, 0u);
    const Bytes eeprom = b.board.Eeprom();
    for (unsigned i = 0; i < 16; ++i) {
        const size_t last = 65534 - 16 + i; // the last byte written at each page offset
        const size_t slot = (last % 16);
        EXPECT_EQ(eeprom[0x4000 + slot], stream[last]) << i;
    }

    // Faults: absent device, injected bits on the next transfers, a write cycle that never ends,
    // a read of bytes nobody drives; a read with data to write is refused.
    b.board.SetEepromPresent(false);
    a = b.Exchange(Command(4, 7, {0xA1}, 3, true, 0, 0, 1));
    EXPECT_EQ(a.status, 0x04u);
    EXPECT_EQ(a.data, Bytes(3, 0));
    b.board.SetEepromPresent(true);
    b.board.FailNextI2c(0x02, 2);
    EXPECT_EQ(b.Exchange(Command(4, 8, {0xA1}, 1, true, 0, 0, 1)).status, 0x02u);
    EXPECT_EQ(b.Exchange(Command(4, 9, {0xA0, 0, 0, 9}, 0, true, 0xA0, 65535, 1)).status, 0x02u);
    EXPECT_EQ(b.Exchange(Command(4, 10, {0xA1}, 1, true, 0, 0, 1)).status, 0u);
    b.board.SetEepromWriteStuck(true);
    EXPECT_EQ(b.Exchange(Command(4, 11, {0xA0, 0, 0, 9}, 0, true, 0xA0, 65535, 1)).status, 0x08u);
    b.board.SetEepromWriteStuck(false);
    EXPECT_EQ(b.Exchange(Command(4, 12, {0x42}, 0, true, 0, 0, 1)).status, 0x04u);
    EXPECT_EQ(b.Exchange(Command(4, 13, {0xA1, 0}, 1, true, 0, 0, 1)).status, 0x80u);
    // The EEPROM time-out set to 1 ms gives up after about ten polls.
    EXPECT_EQ(b.Exchange(Command(12, 14, {}, 0, true, 2, 1)).status, 0u);
    b.board.SetEepromWriteStuck(true);
    const uint64_t before = b.board.Microseconds();
    EXPECT_EQ(b.Exchange(Command(4, 15, {0xA0, 0, 0, 9}, 0, true, 0xA0, 65535, 1)).status, 0x08u);
    EXPECT_LE(b.board.Microseconds() - before, 1100u);
}

TEST(SimBoardDevices, SpiUartParallelAndPatterns) {
    Board b(64);
    // SPI: LSB first mirrors the bytes on the wire; the answer is what came back, in the host's
    // bit order; the shift register answers with the byte before. Chip select stays low until
    // the last block.
    const Bytes data = Pattern(1000, 3);
    auto a = b.Exchange(Command(6, 1, data, 1000, false, 0x83, 18, 0));
    EXPECT_EQ(a.data, data);
    EXPECT_EQ(b.board.Firmware().latch[0] & 0xE0, 0x60) << "selected, MOSI and clock idle high";
    Bytes mirrored(data);
    std::transform(mirrored.begin(), mirrored.end(), mirrored.begin(), Mirror);
    EXPECT_EQ(b.board.SpiReceived(), mirrored);
    b.board.SetSpiDevice(SpiDevice::ShiftRegister);
    a = b.Exchange(Command(6, 2, {0x3C, 0xC3, 0x01}, 3, false, 0, 0, 1));
    EXPECT_EQ(a.data, (Bytes{0x00, 0x3C, 0xC3}));
    EXPECT_EQ(b.board.Firmware().latch[0] & 0xE0, 0x80) << "released";
    EXPECT_EQ(b.Status(), 0u);
    a = b.Exchange(Command(6, 3, {1, 2}, 1));
    EXPECT_EQ(std::make_pair(a.data, a.status), std::make_pair(Bytes{0}, 0x80u))
        << "ReadLen must equal WriteLen";
    EXPECT_EQ(b.board.SpiReceived().size(), 1003u) << "a refused block clocks nothing";

    // UART: the divisor is set up once per change; any length goes out; reads give a count and
    // at most what fits.
    b.board.SetUartLoopback(true);
    const Bytes text = Pattern(70000, 4);
    b.Exchange(Command(32, 4, text, 0, false, 0, 0x03B3));
    EXPECT_EQ(b.board.UartDivisor(), 0x03B3);
    EXPECT_EQ(b.board.UartSent(), text);
    b.board.SetUartLoopback(false);
    b.board.FeedUart({0xAA, 0xBB});
    a = b.Exchange(Command(33, 5, {}, 514));
    ASSERT_EQ(a.data.size(), 514u);
    EXPECT_EQ(a.data[0] | (a.data[1] << 8), 512);
    EXPECT_TRUE(std::equal(a.data.begin() + 2, a.data.end(), text.begin()));
    a = b.Exchange(Command(33, 6, {}, 2));
    EXPECT_EQ(a.data, (Bytes{0, 0}));
    size_t left = text.size() - 512 + 2;
    size_t n = 0;
    while (left) {
        a = b.Exchange(Command(33, 7, {}, 2 + 300));
        n = a.data[0] | (a.data[1] << 8);
        ASSERT_EQ(n, std::min<size_t>(left, 300));
        left -= n;
    }
    EXPECT_EQ(Bytes(a.data.begin() + n, a.data.begin() + n + 2), (Bytes{0xAA, 0xBB}));
    EXPECT_EQ(Bytes(a.data.begin() + 2 + n, a.data.end()), Bytes(300 - n, 0));

    // Parallel bus: nothing before a configuration; the output stream lands on the bus, an armed
    // input sends its bytes and a status byte; faults and a short input time out.
    EXPECT_TRUE(b.board.BulkOut(0x02, data.data(), 10));
    EXPECT_EQ(b.Status(), 0x20u);
    b.Exchange(Command(9, 8, {}, 0, false, 0, 0, 5));
    EXPECT_EQ(b.Status(), 0x80u) << "input before a configuration";
    Bytes config(172, 0x11);
    config[0] = 0x81;
    config[1] = 0xEE;
    EXPECT_EQ(b.Exchange(Command(8, 9, config, 0, true)).status, 0u);
    EXPECT_EQ(b.board.ParConfig(), config);
    config[1] = 0xEF; // slave FIFO mode: refused
    EXPECT_EQ(b.Exchange(Command(8, 10, config, 0, true)).status, 0x80u);
    EXPECT_EQ(b.board.ParConfig()[1], 0xEE);
    const Bytes stream = Pattern(70000, 5);
    EXPECT_TRUE(b.board.BulkOut(0x02, stream.data(), stream.size()));
    EXPECT_EQ(b.board.ParWritten(), stream);
    b.board.FeedParInput(stream);
    b.Exchange(Command(9, 11, {}, 0, false, 0, 1, 70000 - 65536));
    Bytes in(70001);
    size_t received = 0;
    ASSERT_EQ(b.board.BulkIn(0x88, in.data(), 65024, received), SimBoard::InResult::Data);
    ASSERT_EQ(received, 65024u);
    ASSERT_EQ(b.board.BulkIn(0x88, in.data() + 65024, 70001 - 65024, received),
              SimBoard::InResult::Data);
    EXPECT_TRUE(std::equal(stream.begin(), stream.end(), in.begin()));
    EXPECT_EQ(in.back(), 0);
    EXPECT_EQ(b.board.BulkIn(0x88, in.data(), 10, received), SimBoard::InResult::Nothing);
    b.board.FeedParInput({7, 8});
    b.Exchange(Command(9, 12, {}, 0, false, 0, 0, 4));
    ASSERT_EQ(b.board.BulkIn(0x88, in.data(), 5, received), SimBoard::InResult::Data);
    EXPECT_EQ(Bytes(in.begin(), in.begin() + 5), (Bytes{7, 8, 0, 0, 0x10}));
    b.board.ParTimeOutNext(false, 1);
    EXPECT_TRUE(b.board.BulkOut(0x02, data.data(), 4));
    EXPECT_EQ(b.Status(), 0x20u);
    b.Exchange(Command(9, 13, {}, 0, false, 0, 0, 4));
    b.Exchange(Command(14, 14, {}));
    EXPECT_EQ(b.board.BulkIn(0x88, in.data(), 5, received), SimBoard::InResult::Nothing)
        << "the data-path reset drops the armed input";
    EXPECT_EQ(b.Status(), 0u);

    // Patterns: thousands of records in one command, each applied in order and the board waiting
    // 50 + 2 * delay microseconds after it before the next.
    b.board.ClearRecords();
    Bytes records;
    for (unsigned r = 0; r < 5000; ++r) {
        const uint16_t delay = static_cast<uint16_t>(r % 7 == 0 ? 1000 : r % 5);
        Bytes rec{0,
                  static_cast<uint8_t>(r),
                  255,
                  0,
                  255,
                  0,
                  255,
                  0,
                  0x0F,
                  static_cast<uint8_t>(r >> 8 << 4),
                  static_cast<uint8_t>(delay),
                  static_cast<uint8_t>(delay >> 8),
                  0,
                  0,
                  0,
                  0};
        records.insert(records.end(), rec.begin(), rec.end());
    }
    b.Exchange(Command(1, 15, records));
    const auto steps = b.board.PatternPlayback();
    ASSERT_EQ(steps.size(), 5000u);
    for (unsigned r = 1; r < steps.size(); ++r) {
        const unsigned prev = r - 1;
        const uint16_t delay = static_cast<uint16_t>(prev % 7 == 0 ? 1000 : prev % 5);
        ASSERT_EQ(steps[r].atMicroseconds - steps[prev].atMicroseconds, 50u + 2u * delay) << r;
        ASSERT_EQ(steps[r].ports.latch[0], static_cast<uint8_t>(r));
        ASSERT_EQ(steps[r].ports.latch[4] >> 4, (r >> 8) & 0x0F);
        ASSERT_EQ(steps[prev].delay, delay);
    }
    EXPECT_EQ(b.Status(), 0u);
}

TEST(SimBoardDevices, BoardsOnThreadsShareNothing) {
    std::vector<std::thread> threads;
    std::vector<int> failures(4, 0);
    for (unsigned t = 0; t < 4; ++t) {
        threads.emplace_back([t, &failures] {
            Board b;
            for (unsigned round = 0; round < 50; ++round) {
                const Bytes data = Pattern(16, t * 100 + round);
                Bytes page{0xA0, static_cast<uint8_t>(t), static_cast<uint8_t>(round * 16)};
                page.insert(page.end(), data.begin(), data.end());
                failures[t] += b.Exchange(Command(4, 1, page, 0, true, 0xA0, 65535, 1)).status != 0;
                b.Exchange(
                    Command(4, 2, {0xA0, static_cast<uint8_t>(t), static_cast<uint8_t>(round * 16)},
                            0, false, 0, 0, 1));
                failures[t] += b.Exchange(Command(4, 3, {0xA1}, 16, true, 0, 0, 1)).data != data;
            }
        });
    }
    for (auto& thread : threads) {
        thread.join();
    }
    EXPECT_EQ(failures, std::vector<int>(4, 0));
}

} // namespace
