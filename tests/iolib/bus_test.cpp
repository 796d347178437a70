// The bus families (I2C and EEPROM, SPI and UART, parallel bus and patterns) through the C ABI
// of the loaded library: the exact commands each board received, and end to end the device
// models of the simulated board behind them.
#include <numeric>
#include <thread>

#include "sim_fixture.h"

using namespace sim_test;

namespace {

// One command transfer as the board received it.
struct Sent {
    uint8_t code;
    uint8_t status;
    uint8_t p3;
    uint16_t p4;
    uint16_t p6;
    uint32_t readLen;
    uint32_t writeLen;
    std::vector<uint8_t> payload;
};

std::vector<uint8_t> Pattern(size_t n, unsigned seed) {
    std::vector<uint8_t> bytes(n);
    for (size_t i = 0; i < n; ++i) {
        bytes[i] = static_cast<uint8_t>(i * 31 + seed * 7 + (i >> 8));
    }
    return bytes;
}

uint8_t Mirror(uint8_t b) {
    uint8_t r = 0;
    for (int i = 0; i < 8; ++i) {
        r = static_cast<uint8_t>((r << 1) | ((b >> i) & 1));
    }
    return r;
}

std::vector<std::string> g_log;
void CollectLog(int, bool indent, const char* text) {
    g_log.push_back((indent ? "        " : "") + std::string(text));
}

class BusTest : public SimTest {
protected:
    void SetUp() override {
        SimTest::SetUp();
        // Board settings that outlive UsbInit go back to their load-time values.
        for (uint8_t board = 0; board < 4; ++board) {
            lib.UsbSetInitializedFlag(board, 1);
            lib.UsbRetrieveAllErrors(board, 1);
            lib.UsbEEpSetAddr(board, 0x50);
            lib.UsbSetInitializedFlag(board, 0);
        }
        sim->ClearRecords();
    }

    std::vector<Sent> Commands(unsigned board) const {
        std::vector<Sent> sent;
        for (const auto& c : sim->Commands(board)) {
            if (c.size() < 16) {
                ADD_FAILURE() << "a command shorter than its header";
                continue;
            }
            sent.push_back({c[0], c[2], c[3], static_cast<uint16_t>(c[4] | (c[5] << 8)),
                            static_cast<uint16_t>(c[6] | (c[7] << 8)), Le32(&c[8]), Le32(&c[12]),
                            std::vector<uint8_t>(c.begin() + 16, c.end())});
        }
        return sent;
    }

    // Bulk transfers on one endpoint of one board, in order.
    std::vector<BulkCall> Bulk(uint8_t endpoint) const {
        std::vector<BulkCall> calls;
        for (auto& call : BulkCalls()) {
            if (call.endpoint == endpoint) {
                calls.push_back(call);
            }
        }
        return calls;
    }

    std::vector<uint8_t> EepromAt(unsigned board, uint16_t address, size_t n) const {
        const auto eeprom = sim->Eeprom(board);
        std::vector<uint8_t> bytes(n);
        for (size_t i = 0; i < n; ++i) {
            bytes[i] = eeprom[static_cast<uint16_t>(address + i)];
        }
        return bytes;
    }
};

TEST_F(BusTest, I2cCommandsAndEepromPages) {
    uint8_t byte = 0;
    EXPECT_FALSE(lib.UsbI2CWriteByte(0, 0x50, 1));
    EXPECT_EQ(Errors(), (std::vector<int>{7}));
    Init(0);

    // Arguments the firmware never sees.
    const std::vector<uint8_t> data = Pattern(40, 1);
    EXPECT_FALSE(lib.UsbI2CWriteBytes(0, 0x80, 1, data.data()));
    EXPECT_FALSE(lib.UsbI2CReadBytes(0, 0x21, 3, nullptr));
    EXPECT_FALSE(lib.UsbI2CReadByte(0, 0x21, nullptr));
    EXPECT_FALSE(lib.UsbI2CWriteAndReadBytes(0, 0x21, 1, 1, data.data(), nullptr));
    EXPECT_FALSE(lib.UsbEEpSetAddr(0, 0x80));
    EXPECT_FALSE(lib.UsbEEpWriteBytes(0, 0, 4, nullptr));
    EXPECT_FALSE(lib.UsbEEpReadByte(0, 0, nullptr));
    EXPECT_EQ(Errors(), (std::vector<int>{6}));
    EXPECT_TRUE(sim->Commands(0).empty());

    EXPECT_TRUE(lib.UsbI2CSetSpeed(0, 7));
    EXPECT_TRUE(lib.UsbI2CSetTimeout(0, 1234));
    EXPECT_TRUE(lib.UsbEEpSetTimeout(0, 4321));
    EXPECT_TRUE(lib.UsbI2CWriteBytes(0, 0x50, 0, nullptr)) << "the address byte alone";
    ASSERT_TRUE(lib.UsbEEpWriteBytes(0, 0x0005, 40, data.data()));
    EXPECT_EQ(EepromAt(0, 0x0005, 40), data);
    ASSERT_TRUE(lib.UsbEEpWriteBytes(0, 0xFFF8, 16, data.data()));
    auto sent = Commands(0);
    ASSERT_EQ(sent.size(), 9u);
    EXPECT_EQ(std::make_tuple(sent[0].code, sent[0].p3, sent[0].status), std::make_tuple(5, 7, 0));
    EXPECT_EQ(std::make_tuple(sent[1].code, sent[1].p3, sent[1].p4), std::make_tuple(12, 1, 1234));
    EXPECT_EQ(std::make_tuple(sent[2].code, sent[2].p3, sent[2].p4), std::make_tuple(12, 2, 4321));
    EXPECT_EQ(sent[3].payload, std::vector<uint8_t>({0xA0}));
    EXPECT_EQ(std::make_tuple(sent[3].status, sent[3].p6, sent[3].p3, sent[3].p4),
              std::make_tuple(255, 1, 0, 0));
    // Pages of 11, 16 and 13 bytes at 0x0005, 0x0010, 0x0020; then 8 + 8 across the top.
    const uint16_t pageAddress[] = {0x0005, 0x0010, 0x0020, 0xFFF8, 0x0000};
    const size_t pageLength[] = {11, 16, 13, 8, 8};
    for (size_t i = 0; i < 5; ++i) {
        const Sent& page = sent[4 + i];
        EXPECT_EQ(page.code, 4);
        EXPECT_EQ(page.writeLen, pageLength[i] + 3);
        EXPECT_EQ(std::make_tuple(page.status, page.p3, page.p4, page.p6, page.readLen),
                  std::make_tuple(255, 0xA0, 65535, 1, 0u));
        ASSERT_GE(page.payload.size(), 3u);
        EXPECT_EQ(page.payload[0], 0xA0);
        EXPECT_EQ((page.payload[1] << 8) | page.payload[2], pageAddress[i]);
    }
    EXPECT_EQ(EepromAt(0, 0xFFF8, 16), std::vector<uint8_t>(data.begin(), data.begin() + 16));

    // Addressed reads; a moved EEPROM address; Len 0 is the whole 64 KiB.
    sim->ClearRecords();
    ASSERT_TRUE(lib.UsbEEpReadByte(0, 0x0010, &byte));
    EXPECT_EQ(byte, data[11]);
    ASSERT_TRUE(lib.UsbEEpSetAddr(0, 0x57));
    std::vector<uint8_t> all(65536);
    EXPECT_FALSE(lib.UsbEEpReadBytes(0, 0x1234, 0, all.data())) << "nothing answers at 0x57";
    EXPECT_EQ(Errors(), (std::vector<int>{10}));
    ASSERT_TRUE(lib.UsbEEpSetAddr(0, 0x50));
    ASSERT_TRUE(lib.UsbEEpReadBytes(0, 0xFFF8, 0, all.data()));
    EXPECT_EQ(all, EepromAt(0, 0xFFF8, 65536));
    sent = Commands(0);
    ASSERT_EQ(sent.size(), 5u) << "write of the address, then the read, and one nack";
    EXPECT_EQ(sent[0].payload, std::vector<uint8_t>({0xA0, 0x00, 0x10}));
    EXPECT_EQ(std::make_tuple(sent[1].payload[0], sent[1].readLen, sent[1].writeLen),
              std::make_tuple(0xA1, 1u, 1u));
    EXPECT_EQ(sent[2].payload, std::vector<uint8_t>({0xAE, 0x12, 0x34}));
    EXPECT_EQ(sent[4].payload, std::vector<uint8_t>({0xA1}));
    EXPECT_EQ(sent[4].readLen, 65536u);

    // A write without stop, then the read; the answer is the read's.
    sim->ClearRecords();
    const uint8_t reg[2] = {0x00, 0x10};
    uint8_t back[4] = {};
    ASSERT_TRUE(lib.UsbI2CWriteAndReadBytes(0, 0x50, 2, 4, reg, back));
    EXPECT_EQ(std::vector<uint8_t>(back, back + 4), EepromAt(0, 0x0010, 4));
    sent = Commands(0);
    ASSERT_EQ(sent.size(), 2u);
    EXPECT_EQ(std::make_tuple(sent[0].p6, sent[0].writeLen), std::make_tuple(0, 3u));
    EXPECT_EQ(std::make_tuple(sent[1].p6, sent[1].readLen), std::make_tuple(1, 4u));
    // A refused write phase sends nothing and leaves its error; the read still runs and answers.
    sim->ClearRecords();
    ASSERT_TRUE(lib.UsbI2CWriteAndReadBytes(0, 0x50, 2, 4, nullptr, back));
    sent = Commands(0);
    ASSERT_EQ(sent.size(), 1u);
    EXPECT_EQ(std::make_tuple(sent[0].payload[0], sent[0].readLen), std::make_tuple(0xA1, 4u));
    EXPECT_EQ(Errors(), (std::vector<int>{6}));

    // Len 0: 4096 pages cover the whole EEPROM.
    sim->ClearRecords();
    const std::vector<uint8_t> image = Pattern(65536, 2);
    ASSERT_TRUE(lib.UsbEEpWriteBytes(0, 0x0000, 0, image.data()));
    EXPECT_EQ(Commands(0).size(), 4096u);
    EXPECT_EQ(sim->Eeprom(0), image);
    EXPECT_TRUE(Errors().empty());
}

TEST_F(BusTest, I2cFaultsAndAVanishingBoard) {
    Init(0);
    const std::vector<uint8_t> data = Pattern(64, 3);
    uint8_t byte = 0;
    // The firmware's status bits fail the call with their own errors.
    const std::pair<uint32_t, int> faults[] = {{0x01, 8}, {0x02, 9}, {0x04, 10}};
    for (const auto& [bits, number] : faults) {
        sim->FailNextI2c(0, bits, 1);
        EXPECT_FALSE(lib.UsbI2CReadByte(0, 0x50, &byte));
        EXPECT_EQ(Errors(), (std::vector<int>{number}));
    }
    sim->SetEepromWriteStuck(0, true);
    EXPECT_FALSE(lib.UsbEEpWriteByte(0, 0x0100, 0x5A));
    EXPECT_EQ(Errors(), (std::vector<int>{11}));
    sim->SetEepromWriteStuck(0, false);

    // Without status requests a write reflects only the USB transfer; a read still fails.
    sim->SetEepromPresent(0, false);
    ASSERT_TRUE(lib.UsbRetrieveAllErrors(0, 0));
    sim->ClearRecords();
    EXPECT_TRUE(lib.UsbI2CWriteByte(0, 0x50, 1));
    EXPECT_EQ(Commands(0)[0].status, 0);
    EXPECT_FALSE(lib.UsbI2CReadByte(0, 0x50, &byte));
    EXPECT_EQ(Errors(), (std::vector<int>{10}));
    ASSERT_TRUE(lib.UsbRetrieveAllErrors(0, 1));
    sim->SetEepromPresent(0, true);

    // Gone after two pages and the third page's write: the call fails, nothing hangs, and the
    // pages that reached the EEPROM stay written.
    sim->VanishAfter(0, 5);
    EXPECT_FALSE(lib.UsbEEpWriteBytes(0, 0x0200, 64, data.data()));
    EXPECT_EQ(Errors(), (std::vector<int>{4}));
    EXPECT_EQ(EepromAt(0, 0x0200, 48), std::vector<uint8_t>(data.begin(), data.begin() + 48));
    EXPECT_EQ(EepromAt(0, 0x0230, 16), std::vector<uint8_t>(16, 0xFF));
    EXPECT_EQ(sim->OpenHandles(), 0u);
    EXPECT_FALSE(lib.UsbEEpReadByte(0, 0x0200, &byte));
    EXPECT_FALSE(Errors().empty());
}

TEST_F(BusTest, SpiBlocksModesAndAVanishingBoard) {
    const std::vector<uint8_t> data = Pattern(65535, 4);
    std::vector<uint8_t> in(65535);
    EXPECT_FALSE(lib.UsbSpiTransfer(0, data.data(), in.data(), 10));
    EXPECT_EQ(Errors(), (std::vector<int>{12}));
    Init(0);
    EXPECT_FALSE(lib.UsbSpiInit(0, 0, 8, 1));
    EXPECT_EQ(Errors(), (std::vector<int>{6}));
    EXPECT_TRUE(sim->Commands(0).empty());

    ASSERT_TRUE(lib.UsbSpiInit(0, 1, 3, 2));
    auto sent = Commands(0);
    ASSERT_EQ(sent.size(), 2u);
    EXPECT_EQ(sent[0].payload,
              std::vector<uint8_t>({0x1F, 0xC0, 255, 0, 255, 0, 255, 0, 255, 0, 0, 0, 0, 0, 0, 0}));
    EXPECT_EQ(sent[1].payload, std::vector<uint8_t>({0x0F, 0xE0, 255, 0, 255, 0, 255, 0, 255, 0}));
    EXPECT_EQ(sim->Ports(0).dir[0], 0xE0);
    EXPECT_EQ(sim->Ports(0).latch[0], 0xC0);
    EXPECT_FALSE(lib.UsbSpiTransfer(0, nullptr, nullptr, 4));
    EXPECT_FALSE(lib.UsbSpiTransfer(0, data.data(), in.data(), 0));
    EXPECT_EQ(Errors(), (std::vector<int>{6}));

    // Blocks of 496 at high speed, 48 at full speed; P6 marks the last one only.
    sim->SetPacketSize(1, 64);
    Init(1);
    ASSERT_TRUE(lib.UsbSpiInit(1, 0, 0, 9));
    const struct {
        uint8_t board;
        uint16_t len;
        std::vector<uint32_t> blocks;
    } cases[] = {{0, 1, {1}},
                 {0, 496, {496}},
                 {0, 497, {496, 1}},
                 {0, 1000, {496, 496, 8}},
                 {1, 48, {48}},
                 {1, 49, {48, 1}},
                 {1, 1000, {48, 48, 48, 48, 48, 48, 48, 48, 48, 48, 48,
                            48, 48, 48, 48, 48, 48, 48, 48, 48, 40}},
                 {0, 65535, {}}};
    for (const auto& c : cases) {
        sim->ClearRecords();
        std::fill(in.begin(), in.end(), 0);
        ASSERT_TRUE(lib.UsbSpiTransfer(c.board, data.data(), in.data(), c.len)) << c.len;
        EXPECT_TRUE(std::equal(in.begin(), in.begin() + c.len, data.begin())) << "loopback";
        // Board 0 sends LSB first: the device sees each byte mirrored.
        std::vector<uint8_t> onWire(data.begin(), data.begin() + c.len);
        for (auto& b : onWire) {
            b = c.board == 0 ? Mirror(b) : b;
        }
        EXPECT_EQ(sim->SpiReceived(c.board), onWire);
        sent = Commands(c.board);
        uint32_t total = 0;
        for (size_t i = 0; i < sent.size(); ++i) {
            if (!c.blocks.empty()) {
                EXPECT_EQ(sent[i].writeLen, c.blocks[i]) << c.len << " block " << i;
            }
            EXPECT_EQ(sent[i].readLen, sent[i].writeLen);
            EXPECT_EQ(sent[i].p6, i + 1 == sent.size() ? 1 : 0);
            EXPECT_EQ(std::make_tuple(sent[i].code, sent[i].status, sent[i].p3, sent[i].p4),
                      c.board == 0 ? std::make_tuple(6, 0, 0x83, 18) : std::make_tuple(6, 0, 0, 0));
            total += sent[i].writeLen;
        }
        EXPECT_EQ(total, c.len);
        EXPECT_EQ(sent.size(), c.blocks.empty() ? 133u : c.blocks.size());
    }

    // No data to send clocks out zeros; a byte exchange through a shift register.
    sim->ClearRecords();
    ASSERT_TRUE(lib.UsbSpiTransfer(0, nullptr, in.data(), 500));
    EXPECT_EQ(sim->SpiReceived(0), std::vector<uint8_t>(500, 0));
    EXPECT_EQ(Commands(0)[1].payload, std::vector<uint8_t>(4, 0));
    sim->SetSpiDevice(0, portiva::test::SimControl::SpiDevice::ShiftRegister);
    uint8_t out = 0;
    ASSERT_TRUE(lib.UsbSpiTransferByte(0, 0x3C, &out));
    ASSERT_TRUE(lib.UsbSpiTransferByte(0, 0xC3, &out));
    EXPECT_EQ(out, 0x3C) << "the register gives back what went in before";
    EXPECT_TRUE(lib.UsbSpiTransferByte(0, 0x01, nullptr));

    // Gone after the first block and the second block's write: false, the error, no hang.
    sim->SetSpiDevice(0, portiva::test::SimControl::SpiDevice::Loopback);
    sim->ClearRecords();
    sim->VanishAfter(0, 3);
    EXPECT_FALSE(lib.UsbSpiTransfer(0, data.data(), in.data(), 1500));
    EXPECT_EQ(Errors(), (std::vector<int>{4}));
    EXPECT_EQ(Commands(0).size(), 2u);
    EXPECT_EQ(sim->OpenHandles(), 0u);

    // A new UsbInit forgets the SPI set-up.
    sim->Plug(0, true);
    Init(0);
    EXPECT_FALSE(lib.UsbSpiTransferByte(0, 1, &out));
    EXPECT_EQ(Errors(), (std::vector<int>{12}));
}

TEST_F(BusTest, UartDivisorsLengthsAndReceiveClamp) {
    Init(0);
    const std::pair<uint32_t, uint16_t> rates[] = {{1200, 0x0099}, {2400, 0x00CD}, {2930, 0x00D7},
                                                   {2931, 0x0302}, {9600, 0x03B3}, {115200, 0x03FB},
                                                   {38400, 0x03EE}};
    for (const auto& [baud, divisor] : rates) {
        sim->ClearRecords();
        ASSERT_TRUE(lib.UsbUartSetBaudrate(0, baud));
        const auto sent = Commands(0);
        ASSERT_EQ(sent.size(), 1u);
        EXPECT_EQ(std::make_tuple(sent[0].code, sent[0].p4, sent[0].writeLen, sent[0].status),
                  std::make_tuple(32, divisor, 0u, 0))
            << baud;
        EXPECT_EQ(sim->UartDivisor(0), divisor);
    }
    // Out of range: refused, and the last good rate stays for later writes.
    const std::vector<uint8_t> text = Pattern(65536, 5);
    sim->ClearRecords();
    EXPECT_FALSE(lib.UsbUartSetBaudrate(0, 300));
    EXPECT_FALSE(lib.UsbUartSetBaudrate(0, 115201));
    EXPECT_FALSE(lib.UsbUartWriteBytes(0, nullptr, 5));
    EXPECT_FALSE(lib.UsbUartWriteBytes(0, text.data(), 0xFFFFFFFFu)) << "beyond any transfer";
    EXPECT_FALSE(lib.UsbUartReadBytes(0, nullptr, nullptr));
    EXPECT_EQ(Errors(), (std::vector<int>{6}));
    EXPECT_TRUE(sim->Commands(0).empty());
    std::vector<uint8_t> sentOnTxd;
    for (uint32_t len : {0u, 1u, 65535u, 65536u}) {
        ASSERT_TRUE(lib.UsbUartWriteBytes(0, text.data(), len)) << len;
        sentOnTxd.insert(sentOnTxd.end(), text.begin(), text.begin() + len);
    }
    auto sent = Commands(0);
    ASSERT_EQ(sent.size(), 4u);
    EXPECT_EQ(sent[3].p4, 0x03EE);
    EXPECT_EQ(sent[3].payload, text);
    EXPECT_EQ(sim->UartSent(0), sentOnTxd);

    // Reads ask for at most 512 bytes and report what came.
    sim->ClearRecords();
    sim->FeedUart(0, std::vector<uint8_t>(text.begin(), text.begin() + 2000));
    std::vector<uint8_t> in(1000, 0xEE);
    uint32_t count = 1000;
    ASSERT_TRUE(lib.UsbUartReadBytes(0, in.data(), &count));
    EXPECT_EQ(count, 512u);
    EXPECT_TRUE(std::equal(in.begin(), in.begin() + 512, text.begin()));
    EXPECT_EQ(in[512], 0xEE);
    count = 0;
    ASSERT_TRUE(lib.UsbUartReadBytes(0, nullptr, &count));
    count = 0xFFFFFFFFu;
    ASSERT_TRUE(lib.UsbUartReadBytes(0, in.data(), &count));
    EXPECT_EQ(count, 512u);
    count = 1000;
    ASSERT_TRUE(lib.UsbUartReadBytes(0, in.data(), &count));
    EXPECT_EQ(count, 512u);
    count = 1000;
    ASSERT_TRUE(lib.UsbUartReadBytes(0, in.data(), &count));
    EXPECT_EQ(count, 2000u - 3 * 512u) << "what is left";
    EXPECT_TRUE(std::equal(in.begin(), in.begin() + count, text.begin() + 3 * 512));
    sent = Commands(0);
    ASSERT_EQ(sent.size(), 5u);
    EXPECT_EQ(std::make_tuple(sent[0].code, sent[0].readLen, sent[1].readLen),
              std::make_tuple(33, 514u, 2u));
    // A failed read delivers nothing.
    sim->TimeOutNext(0, 0x86, 1);
    count = 10;
    EXPECT_FALSE(lib.UsbUartReadBytes(0, in.data(), &count));
    EXPECT_EQ(count, 0u);
    EXPECT_EQ(Errors(), (std::vector<int>{4}));
}

TEST_F(BusTest, ParallelStreamsSettingsAndPatterns) {
    std::vector<uint8_t> config16(172, 0x11);
    config16[0] = 0x81;
    config16[1] = 0xEE; // internal clock, the bus as GPIF master
    std::vector<uint8_t> config8(152, 0x22);
    config8[0] = 0x00;
    config8[1] = 0xEE;
    std::vector<uint8_t> in(140000);
    const std::vector<uint8_t> data = Pattern(140000, 6);
    EXPECT_FALSE(lib.UsbParOut(0, data.data(), 4));
    Init(0);
    EXPECT_FALSE(lib.UsbParOut(0, data.data(), 4));
    EXPECT_FALSE(lib.UsbParIn(0, in.data(), 4));
    EXPECT_FALSE(lib.UsbParInit(0, 10));
    EXPECT_FALSE(lib.UsbParInitUsingArray(0, nullptr));
    EXPECT_FALSE(lib.UsbParSetWaveforms(0, 4, 0));
    EXPECT_FALSE(lib.UsbGeneratePattern(0, in.data(), 24));
    EXPECT_FALSE(lib.UsbParSetTransferSize(1, 65024));
    EXPECT_EQ(Errors(), (std::vector<int>{6, 7, 13, 7}));
    EXPECT_TRUE(sim->Commands(0).empty());

    // The built-in modes: 172 bytes for 0..3, 152 for 4..9, odd modes 16 bits wide.
    for (uint8_t mode = 0; mode < 10; ++mode) {
        sim->ClearRecords();
        ASSERT_TRUE(lib.UsbParInit(0, mode)) << int(mode);
        const auto config = sim->ParConfig(0);
        EXPECT_EQ(config.size(), mode < 4 ? 172u : 152u);
        EXPECT_EQ(config.at(0) & 1, mode & 1);
        EXPECT_EQ(config.at(1), mode / 2 == 1 ? 0x4E : (mode / 2 == 3 ? 0x0E : 0xEE));
        EXPECT_EQ(Commands(0).at(0).payload, config);
    }
    sim->ClearRecords();
    ASSERT_TRUE(lib.UsbParInitUsingArray(0, config16.data()));
    EXPECT_EQ(sim->ParConfig(0), config16);
    ASSERT_TRUE(lib.UsbParInitUsingArray(0, config8.data()));
    EXPECT_EQ(sim->ParConfig(0), config8);
    auto sent = Commands(0);
    ASSERT_EQ(sent.size(), 2u);
    EXPECT_EQ(std::make_tuple(sent[0].code, sent[0].status, sent[0].writeLen),
              std::make_tuple(8, 255, 172u));
    EXPECT_EQ(sent[1].writeLen, 152u);

    // Out on 0x02 (then the status), in armed with the byte count and read with its status.
    sim->ClearRecords();
    EXPECT_TRUE(lib.UsbParOut(0, data.data(), 0));
    EXPECT_TRUE(lib.UsbParIn(0, in.data(), 0));
    EXPECT_FALSE(lib.UsbParOut(0, data.data(), 0xFFFFFFFFu));
    EXPECT_FALSE(lib.UsbParIn(0, in.data(), 0xFFFFFFFFu));
    EXPECT_EQ(Errors(), (std::vector<int>{6}));
    EXPECT_TRUE(sim->Commands(0).empty());
    for (uint32_t len : {1u, 65535u, 65536u, 70000u}) {
        sim->ClearRecords();
        ASSERT_TRUE(lib.UsbParOut(0, data.data(), len)) << len;
        EXPECT_EQ(sim->ParWritten(0), std::vector<uint8_t>(data.begin(), data.begin() + len));
        EXPECT_EQ(Commands(0).size(), 1u);
        EXPECT_EQ(Commands(0)[0].code, 10);
        sim->FeedParInput(0, sim->ParWritten(0));
        ASSERT_TRUE(lib.UsbParIn(0, in.data(), len)) << len;
        EXPECT_TRUE(std::equal(in.begin(), in.begin() + len, data.begin()));
        sent = Commands(0);
        ASSERT_EQ(sent.size(), 2u);
        EXPECT_EQ(std::make_tuple(sent[1].code, sent[1].p6, sent[1].p4),
                  std::make_tuple(9, uint16_t(len & 0xFFFF), uint16_t(len >> 16)));
        // One read of the data and the status byte (the EzUsb driver's in pieces).
        const auto reads = Bulk(0x88);
        EXPECT_EQ(std::accumulate(reads.begin(), reads.end(), 0u,
                                  [](uint32_t sum, const BulkCall& b) { return sum + b.length; }),
                  len + 1);
        EXPECT_EQ(reads.size(), ezusb && len >= 65535 ? 2u : 1u);
    }
    // 16-bit bus: bus words of two bytes.
    ASSERT_TRUE(lib.UsbParInitUsingArray(0, config16.data()));
    sim->ClearRecords();
    sim->FeedParInput(0, data);
    ASSERT_TRUE(lib.UsbParIn(0, in.data(), 100));
    EXPECT_EQ(std::make_tuple(Commands(0)[0].p6, Commands(0)[0].p4), std::make_tuple(200, 0));
    EXPECT_EQ(Bulk(0x88).at(0).length, 201u);
    ASSERT_TRUE(lib.UsbParOut(0, data.data(), 3));
    EXPECT_EQ(Bulk(0x02).at(0).length, 6u);

    // Time-outs in the firmware, and the host's wait that follows the parallel time-out.
    sim->ParTimeOutNext(0, true, 1);
    EXPECT_FALSE(lib.UsbParIn(0, in.data(), 8));
    sim->ParTimeOutNext(0, false, 1);
    EXPECT_FALSE(lib.UsbParOut(0, data.data(), 8));
    sim->TimeOutNext(0, 0x88, 1);
    EXPECT_FALSE(lib.UsbParIn(0, in.data(), 8));
    EXPECT_EQ(Errors(), (std::vector<int>{4, 14, 15}));
    EXPECT_EQ(sim->OpenHandles(), 0u) << "failed streams close the board too";
    for (const auto& [timeout, waitMs] : {std::pair{9000, 10000u}, std::pair{9001, 70000u}}) {
        ASSERT_TRUE(lib.UsbParSetTimeout(0, static_cast<uint16_t>(timeout)));
        sim->ClearRecords();
        ASSERT_TRUE(lib.UsbParOut(0, data.data(), 8));
        EXPECT_EQ(Commands(0).size(), 1u);
        if (!ezusb) {
            EXPECT_EQ(Bulk(0x02).at(0).waitMs, waitMs);
        }
    }

    // Settings: timeouts chained, waveforms, transfer sizes, automode three times.
    sim->ClearRecords();
    ASSERT_TRUE(lib.UsbSetTimeout(0, 77));
    ASSERT_TRUE(lib.UsbParSetWaveforms(0, 2, 3));
    ASSERT_TRUE(lib.UsbParSetAutomode(0, 1, 0));
    ASSERT_TRUE(lib.UsbDaMedSF(0));
    sent = Commands(0);
    ASSERT_EQ(sent.size(), 7u);
    EXPECT_EQ(std::make_tuple(sent[0].code, sent[0].p3, sent[0].p4), std::make_tuple(12, 1, 77));
    EXPECT_EQ(std::make_tuple(sent[1].code, sent[1].p3, sent[1].p4), std::make_tuple(12, 0, 77));
    EXPECT_EQ(std::make_tuple(sent[2].code, sent[2].p3), std::make_tuple(13, 14));
    for (size_t i = 3; i < 6; ++i) {
        EXPECT_EQ(std::make_tuple(sent[i].code, sent[i].p4, sent[i].p6), std::make_tuple(15, 1, 0));
    }
    EXPECT_EQ(sent[6].code, 14);
    for (uint32_t size : {0u, 65000u, 3500000u}) {
        EXPECT_FALSE(lib.UsbParSetTransferSize(0, size)) << size;
        EXPECT_EQ(Errors(), (std::vector<int>{6}));
    }
    sim->ClearRecords();
    ASSERT_TRUE(lib.UsbParSetTransferSize(0, 65024));
    EXPECT_EQ(CountCalls(kCySetTransferSize), ezusb ? 0u : 2u);
    EXPECT_EQ(sim->OpenHandles(), 0u) << "every path closes the board again";

    // Patterns: change-masks become keep-masks and delays loop counts, in the caller's buffer.
    uint8_t records[32] = {0x01, 0x01, 0, 0, 0, 0, 0, 0, 0xF0, 0xA0, 150, 0, 0, 0, 0, 0,
                           0xFF, 0x00, 0, 0, 0, 0, 0, 0, 0x00, 0x00, 49,  0, 0, 0, 0, 0};
    sim->ClearRecords();
    EXPECT_TRUE(lib.UsbGeneratePattern(0, records, 0));
    EXPECT_TRUE(sim->Commands(0).empty());
    ASSERT_TRUE(lib.UsbSetPortDir(0, 0, 0xFF));
    ASSERT_TRUE(lib.UsbGeneratePattern(0, records, sizeof records));
    const std::vector<uint8_t> converted = {
        0xFE, 0x01, 0xFF, 0, 0xFF, 0, 0xFF, 0, 0x0F, 0xA0, 50, 0, 0, 0, 0, 0,
        0x00, 0x00, 0xFF, 0, 0xFF, 0, 0xFF, 0, 0xFF, 0x00, 0,  0, 0, 0, 0, 0};
    EXPECT_EQ(std::vector<uint8_t>(records, records + 32), converted);
    sent = Commands(0);
    EXPECT_EQ(std::make_tuple(sent[1].code, sent[1].payload), std::make_tuple(1, converted));
    const auto steps = sim->PatternPlayback(0);
    ASSERT_EQ(steps.size(), 2u);
    EXPECT_EQ(steps[0].ports.latch[0], 0x01);
    EXPECT_EQ(steps[1].ports.latch[0], 0x00);
    EXPECT_EQ(std::make_tuple(steps[0].delay, steps[1].delay), std::make_tuple(50, 0));
    EXPECT_FALSE(lib.UsbGeneratePattern(0, nullptr, 16));
    EXPECT_FALSE(lib.UsbGeneratePattern(0, records, 0xFFFFFFF0u)) << "beyond any transfer";
    EXPECT_EQ(Errors(), (std::vector<int>{6}));
    EXPECT_EQ(records[0], 0xFE) << "a refused call leaves the records alone";

    // A new UsbInit forgets the bus.
    Init(0);
    EXPECT_FALSE(lib.UsbParIn(0, in.data(), 1));
    EXPECT_EQ(Errors(), (std::vector<int>{13}));
}

TEST_F(BusTest, TraceLinesOfTheBusExports) {
    Init(0);
    std::vector<uint8_t> page(16);
    g_log.clear();
    lib.hooks->SetLogSink(CollectLog);
    lib.UsbEEpReadByte(0, 0x1234, page.data());
    lib.UsbEEpWriteBytes(0, 0x10, 0, nullptr);
    lib.UsbSetTimeout(1, 5);
    uint8_t datRead = 0x42;
    lib.UsbSpiTransferByte(0, 0xA5, &datRead);
    lib.hooks->SetLogSink(nullptr);
    auto has = [](const std::string& line) {
        return std::find(g_log.begin(), g_log.end(), line) != g_log.end();
    };
    const std::string in = "        ";
    EXPECT_EQ(g_log.at(0), "UsbEepReadByte will pass the parameters directly to UsbEepReadBytes");
    EXPECT_EQ(g_log.at(1), "function UsbEepReadBytes");
    EXPECT_EQ(g_log.at(2), in + "PARAM DevNum = 0 = 0x00 (byte)");
    EXPECT_EQ(g_log.at(3), in + "PARAM Addr = 4660 = 0x1234 (word)");
    EXPECT_EQ(g_log.at(4), in + "PARAM Len = 1 = 0x0001 (word)");
    EXPECT_TRUE(has(in + "PARAM Len (You passed zero as length, adjusting it to 2^16) = 65536 = "
                         "0x00010000 (dword)"));
    EXPECT_TRUE(has("function UsbSetTimeout"));
    EXPECT_TRUE(has(in + "Will pass parameters to UsbI2CSetTimeout and UsbParSetTimeout"));
    EXPECT_TRUE(has("function UsbI2CSetTimeout")) << "the export it passes to traces as well";
    EXPECT_FALSE(has("function UsbParSetTimeout")) << "board 1 failed the first step";
    const auto spi = std::find(g_log.begin(), g_log.end(), "function UsbSpiTransfer");
    ASSERT_NE(spi, g_log.end());
    EXPECT_EQ(*(spi + 2), in + "PARAM DatWrite = 165 = 0xA5 (byte)");
    // The byte read comes after the boolean, whenever there is a pointer to show it through.
    EXPECT_EQ(*(g_log.end() - 2), in + "RESULT  = false (bool)");
    EXPECT_EQ(g_log.back(), in + "RESULT DatRead = 66 = 0x42 (byte)");
    EXPECT_EQ(Errors(), (std::vector<int>{6, 12, 7}));
}

TEST_F(BusTest, ThreadsOnDifferentBoardsAtOnce) {
    for (uint8_t board = 0; board < 4; ++board) {
        Init(board);
        ASSERT_TRUE(lib.UsbSpiInit(board, 0, 0, 0));
    }
    sim->ClearRecords();
    std::vector<std::thread> threads;
    std::vector<int> failures(4, 0);
    for (uint8_t board = 0; board < 4; ++board) {
        threads.emplace_back([this, board, &failures] {
            for (int round = 0; round < 20; ++round) {
                const std::vector<uint8_t> data = Pattern(300, board * 100 + round);
                std::vector<uint8_t> back(300);
                std::vector<uint8_t> spi(700);
                const uint16_t address = static_cast<uint16_t>(0x1000 * board + 7 * round);
                const bool ok = lib.UsbEEpWriteBytes(board, address, 300, data.data()) &&
                                lib.UsbEEpReadBytes(board, address, 300, back.data()) &&
                                lib.UsbSpiTransfer(board, data.data(), spi.data(), 300);
                failures[board] +=
                    !ok || back != data || !std::equal(data.begin(), data.end(), spi.begin());
            }
        });
    }
    for (auto& thread : threads) {
        thread.join();
    }
    EXPECT_EQ(failures, std::vector<int>(4, 0));
    for (uint8_t board = 0; board < 4; ++board) {
        size_t expected = 0;
        for (unsigned round = 0; round < 20; ++round) {
            const unsigned first = 7 * round;
            const size_t pages = (first + 299) / 16 - first / 16 + 1;
            expected += pages + 2 + 1; // the pages, the addressed read, one SPI block
        }
        EXPECT_EQ(Commands(board).size(), expected) << int(board);
    }
    EXPECT_TRUE(Errors().empty());
}

} // namespace
