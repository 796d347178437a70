// Board start-up with the firmware download, and the port and line functions, through the C ABI
// of the loaded library against the simulated boards.
#include <cstdio>
#include <random>

#include "sim_fixture.h"

using namespace sim_test;

namespace {

using InitTest = SimTest;
using PortTest = SimTest;

// Intel HEX data record with upper-case digits and a correct checksum.
std::string DataRecord(uint16_t address, const std::vector<uint8_t>& data) {
    char text[16];
    std::string record = ":";
    unsigned sum = data.size() + (address >> 8) + (address & 0xFF);
    std::snprintf(text, sizeof text, "%02X%04X00", unsigned(data.size()), unsigned(address));
    record += text;
    for (uint8_t byte : data) {
        std::snprintf(text, sizeof text, "%02X", byte);
        record += text;
        sum += byte;
    }
    std::snprintf(text, sizeof text, "%02X", (0x100 - (sum & 0xFF)) & 0xFF);
    return record + text;
}

// A table shaped like the original built-in one: 763 data records from address 0 to 6780,
// then the end-of-file record.
struct Table {
    std::vector<std::string> texts;
    std::vector<const char*> pointers;
    void Finish() {
        pointers.clear();
        for (const auto& text : texts) {
            pointers.push_back(text.c_str());
        }
    }
};

Table Table6780(std::vector<uint8_t>& image) {
    Table table;
    image.assign(8192, 0);
    uint16_t address = 0;
    for (int r = 0; r < 763; ++r) {
        std::vector<uint8_t> data(r < 676 ? 9 : 8);
        for (auto& byte : data) {
            byte = static_cast<uint8_t>((address * 7 + 3) & 0xFF);
            image[address++] = byte;
        }
        table.texts.push_back(DataRecord(static_cast<uint16_t>(address - data.size()), data));
    }
    table.texts.push_back(":00000001FF");
    table.Finish();
    return table;
}

std::vector<std::string> g_log;
void CollectLog(int, bool, const char* text) {
    g_log.emplace_back(text);
}

TEST_F(InitTest, DownloadsAnImageOf6780BytesIn14Chunks) {
    std::vector<uint8_t> image;
    Table table = Table6780(image);
    ASSERT_EQ(table.pointers.size(), 764u);
    lib.hooks->SetRecordTable(table.pointers.data(), table.pointers.size());
    g_log.clear();
    lib.hooks->SetLogSink(CollectLog);
    ASSERT_TRUE(lib.UsbInit(0));
    lib.hooks->SetLogSink(nullptr);

    EXPECT_NE(std::find(g_log.begin(), g_log.end(), "Firmware Size: 6780 Bytes"), g_log.end());
    const auto loads = sim->Loads(0);
    ASSERT_EQ(loads.size(), 16u) << "halt, 14 chunks, run";
    EXPECT_EQ(loads.front().address, 0xE600);
    EXPECT_EQ(loads.front().data, std::vector<uint8_t>({1}));
    for (unsigned i = 0; i < 14; ++i) {
        EXPECT_EQ(loads[1 + i].address, i * 512);
        ASSERT_EQ(loads[1 + i].data.size(), 512u);
        EXPECT_TRUE(std::equal(loads[1 + i].data.begin(), loads[1 + i].data.end(),
                               image.begin() + i * 512));
    }
    EXPECT_EQ(loads.back().address, 0xE600);
    EXPECT_EQ(loads.back().data, std::vector<uint8_t>({0}));
    const auto memory = sim->Memory(0);
    EXPECT_TRUE(std::equal(image.begin(), image.begin() + 7168, memory.begin()));
    EXPECT_TRUE(sim->Running(0));
    EXPECT_EQ(sim->AltSetting(0), 1);
}

TEST_F(InitTest, LoadRequestAndStartUpBlocks) {
    ASSERT_TRUE(lib.UsbInit(0));
    // The halt request, exactly as the driver receives it.
    const auto calls = sim->Calls();
    auto halt = std::find_if(calls.begin(), calls.end(), [](const auto& call) {
        return call.code == kCyControl || call.code == kEzControl;
    });
    ASSERT_NE(halt, calls.end());
    if (ezusb) {
        EXPECT_EQ(halt->in, std::vector<uint8_t>({0, 2, 0, 0, 0xA0, 0, 0x00, 0xE6, 0, 0}));
        EXPECT_EQ(halt->out, std::vector<uint8_t>({1}));
    } else {
        std::vector<uint8_t> block(39, 0);
        block[0] = 0x40;
        block[1] = 0xA0;
        block[2] = 0x00;
        block[3] = 0xE6;
        block[6] = 1;
        block[8] = 1; // 1000 ms as whole seconds
        block[30] = 38;
        block[34] = 1;
        block[38] = 1;
        EXPECT_EQ(halt->in, block);
    }
    // Alternate setting 1, the identification, and the transfer sizes of 0x02 and 0x88.
    size_t sizes = 0;
    for (const auto& call : calls) {
        if (call.code == kEzSetInterface) {
            EXPECT_EQ(call.in, std::vector<uint8_t>({0, 1}));
        } else if (call.code == kCySetAlt) {
            EXPECT_EQ(call.in, std::vector<uint8_t>({1}));
        } else if (call.code == kCySetTransferSize) {
            EXPECT_EQ(call.in,
                      std::vector<uint8_t>({uint8_t(sizes ? 0x88 : 0x02), 0x00, 0xFE, 0, 0}));
            ++sizes;
        }
    }
    EXPECT_EQ(sizes, ezusb ? 0u : 2u);
    const auto commands = sim->Commands(0);
    ASSERT_EQ(commands.size(), 1u);
    EXPECT_EQ(commands[0][0], 7);
    EXPECT_EQ(Le32(&commands[0][8]), 2u);
    EXPECT_EQ(sim->OpenHandles(), 0u);
}

TEST_F(InitTest, BuiltInImageFitsAndIsLoadedWhole) {
    const size_t records = lib.hooks->BuiltInRecordCount();
    if (records == 0) {
        GTEST_SKIP() << "this build carries no built-in record table";
    }
    ASSERT_TRUE(lib.UsbInit(0));
    const auto loads = sim->Loads(0);
    ASSERT_GE(loads.size(), 3u);
    const size_t chunks = loads.size() - 2;
    const auto memory = sim->Memory(0);
    for (size_t i = 0; i < chunks; ++i) {
        EXPECT_EQ(loads[1 + i].address, i * 512);
        EXPECT_TRUE(std::equal(loads[1 + i].data.begin(), loads[1 + i].data.end(),
                               memory.begin() + i * 512));
    }
    EXPECT_LE(chunks * 512, 8192u);
}

TEST_F(InitTest, SecondInitReloadsAndSucceeds) {
    Init(0);
    ASSERT_TRUE(lib.UsbSetPortDir(0, 0, 0xFF));
    ASSERT_TRUE(lib.UsbSetPortState(0, 0, 0x81));
    sim->ClearRecords();
    ASSERT_TRUE(lib.UsbInit(0));
    const auto loads = sim->Loads(0);
    ASSERT_GE(loads.size(), 3u);
    EXPECT_EQ(loads.front().address, 0xE600);
    EXPECT_EQ(loads.front().data[0], 1) << "halted again";
    EXPECT_EQ(sim->Ports(0).latch[0], 0) << "the firmware started afresh";
    EXPECT_TRUE(lib.UsbDeviceInitialized(0));
    EXPECT_TRUE(Errors().empty());
}

TEST_F(InitTest, PacketSizeGivesTheSpeed) {
    sim->SetPacketSize(1, 64);
    Init(1);
    uint8_t high = 9;
    ASSERT_TRUE(lib.UsbCheckSpeed(1, &high));
    EXPECT_EQ(high, 0);
    Init(0);
    ASSERT_TRUE(lib.UsbCheckSpeed(0, &high));
    EXPECT_EQ(high, 1);
}

TEST_F(InitTest, NoBoardLeavesTheHandleAlone) {
    EXPECT_FALSE(lib.UsbInit(4));
    EXPECT_EQ(Errors(), (std::vector<int>{2}));
    EXPECT_EQ(DeviceCalls(), 0u);
    EXPECT_EQ(CountCalls(kCallClose), 0u);

    // Stopping before the identification leaves the initialised flag as it was.
    lib.UsbSetInitializedFlag(4, 1);
    EXPECT_FALSE(lib.UsbInit(4));
    EXPECT_FALSE(lib.UsbSetPortState(4, 0, 1));
    EXPECT_EQ(Errors(), (std::vector<int>{2})) << "not 7: the flag is still set";
    lib.UsbSetInitializedFlag(4, 0);
}

TEST_F(InitTest, ExclusiveSurvivesInit) {
    ASSERT_TRUE(lib.UsbOpen(0));
    ASSERT_TRUE(lib.UsbInit(0));
    EXPECT_EQ(sim->OpenHandles(), 0u) << "UsbInit closes the board on its way out";
    sim->ClearRecords();
    ASSERT_TRUE(lib.UsbSetPortState(0, 0, 1));
    ASSERT_TRUE(lib.UsbSetPortState(0, 0, 2));
    EXPECT_EQ(CountCalls(kCallOpen), 1u);
    EXPECT_EQ(CountCalls(kCallClose), 0u);
    EXPECT_EQ(sim->OpenHandles(), 1u);
    lib.UsbClose(0);
    ASSERT_TRUE(lib.UsbGetStatus(0));
    EXPECT_EQ(sim->OpenHandles(), 0u);
}

TEST_F(InitTest, ImagesOutsideTheBufferAreRejected) {
    std::vector<uint8_t> image;
    uint32_t size = 0;
    // The last byte of the buffer would make the image 8192 bytes: the download would then
    // send a chunk beyond it.
    const std::string tooHigh = DataRecord(0x1FF0, std::vector<uint8_t>(16, 0xAA));
    const std::string beyond = DataRecord(0x2000, {1});
    const std::string highest = DataRecord(0x1FEF, std::vector<uint8_t>(16, 0xBB));
    const std::string shortRecord = ":10000000AABB";
    const std::string badDigit = ":01000000G0FF";
    const std::string noColon = "0100000000FF";
    for (const std::string* bad : {&tooHigh, &beyond, &shortRecord, &badDigit, &noColon}) {
        const char* records[] = {":0100000055AA", bad->c_str(), ":00000001FF"};
        EXPECT_FALSE(lib.hooks->BuildImage(records, 3, image, size)) << *bad;

        lib.hooks->SetRecordTable(records, 3);
        sim->ClearRecords();
        EXPECT_FALSE(lib.UsbInit(0)) << *bad;
        EXPECT_EQ(Errors(), (std::vector<int>{1}));
        EXPECT_TRUE(sim->Loads(0).empty()) << "nothing reaches the board";
        EXPECT_EQ(DeviceCalls(), 0u);
    }
    const char* fits[] = {highest.c_str(), ":00000001FF"};
    ASSERT_TRUE(lib.hooks->BuildImage(fits, 2, image, size));
    EXPECT_EQ(size, 8191u);
    EXPECT_EQ(image[0x1FEF], 0xBB);
    lib.hooks->SetRecordTable(fits, 2);
    EXPECT_TRUE(lib.UsbInit(0));
    EXPECT_EQ(sim->Loads(0).size(), 18u) << "halt, 16 chunks, run";

    // Record type and checksum are not examined; a zero count is passed over.
    const char* loose[] = {":02001004C0FFEE00", ":00123401FF"};
    ASSERT_TRUE(lib.hooks->BuildImage(loose, 2, image, size));
    EXPECT_EQ(size, 0x12u);
    EXPECT_EQ(image[0x10], 0xC0);
    EXPECT_EQ(image[0x11], 0xFF);
}

TEST_F(InitTest, DamagedRecordsNeverEscapeTheImage) {
    // Valid records mutated at random: each table is either rejected or gives an image below
    // 8192 bytes whose bytes all came from records that fit.
    std::mt19937 random(1234);
    const std::string digits = "0123456789ABCDEFabcdefG: ";
    std::vector<uint8_t> image;
    uint32_t size = 0;
    unsigned accepted = 0;
    for (int round = 0; round < 3000; ++round) {
        std::vector<uint8_t> data(random() % 20);
        for (auto& byte : data) {
            byte = static_cast<uint8_t>(random());
        }
        std::string record = DataRecord(static_cast<uint16_t>(random() % 0x2400), data);
        const int edits = random() % 3;
        for (int e = 0; e < edits && !record.empty(); ++e) {
            const size_t at = random() % record.size();
            switch (random() % 3) {
            case 0:
                record[at] = digits[random() % digits.size()];
                break;
            case 1:
                record.erase(at, 1 + random() % 4);
                break;
            default:
                record.insert(at, 1, digits[random() % digits.size()]);
                break;
            }
        }
        const char* records[] = {record.c_str(), ":00000001FF"};
        if (lib.hooks->BuildImage(records, 2, image, size)) {
            ++accepted;
            ASSERT_LT(size, 8192u) << record;
            ASSERT_EQ(image.size(), 8192u);
        }
    }
    EXPECT_GT(accepted, 100u) << "the undamaged part of the rounds is still taken";
}

TEST_F(InitTest, FailedIdentificationLeavesTheBoardUninitialised) {
    lib.UsbSetInitializedFlag(0, 1);
    sim->TimeOutNext(0, 0x86, 1);
    EXPECT_FALSE(lib.UsbInit(0));
    EXPECT_EQ(Errors(), (std::vector<int>{4}));
    EXPECT_EQ(sim->OpenHandles(), 0u);
    EXPECT_FALSE(lib.UsbSetPortState(0, 0, 1));
    EXPECT_EQ(Errors(), (std::vector<int>{7}));

    // A board gone during the download: the run request fails, nothing is identified.
    sim->VanishAfter(0, 2); // halt and the first chunk go through
    EXPECT_FALSE(lib.UsbInit(0));
    EXPECT_EQ(sim->OpenHandles(), 0u);
    EXPECT_FALSE(lib.UsbSetPortState(0, 0, 1));
    EXPECT_EQ(Errors(), (std::vector<int>{7}));
}

TEST_F(PortTest, LineRecordsAreExact) {
    Init(0);
    ASSERT_TRUE(lib.UsbSetIOState(0, 13, 1));
    ASSERT_TRUE(lib.UsbSetIODir(0, 39, 0));
    ASSERT_TRUE(lib.UsbSetPortState(0, 2, 0x5A));
    ASSERT_TRUE(lib.UsbSetPortDir(0, 4, 0xC3));
    const auto commands = sim->Commands(0);
    ASSERT_EQ(commands.size(), 4u);
    auto payload = [&](size_t i) {
        return std::vector<uint8_t>(commands[i].begin() + 16, commands[i].end());
    };
    EXPECT_EQ(commands[0][0], 1);
    EXPECT_EQ(payload(0),
              std::vector<uint8_t>({255, 0, 0xDF, 0x20, 255, 0, 255, 0, 255, 0, 0, 0, 0, 0, 0, 0}));
    EXPECT_EQ(commands[1][0], 2);
    EXPECT_EQ(payload(1), std::vector<uint8_t>({255, 0, 255, 0, 255, 0, 255, 0, 0x7F, 0}));
    EXPECT_EQ(payload(2),
              std::vector<uint8_t>({255, 0, 255, 0, 0, 0x5A, 255, 0, 255, 0, 0, 0, 0, 0, 0, 0}));
    EXPECT_EQ(payload(3), std::vector<uint8_t>({255, 0, 255, 0, 255, 0, 255, 0, 0, 0xC3}));
    for (const auto& command : commands) {
        EXPECT_EQ(command[2], 0) << "no status for port commands";
        EXPECT_EQ(Le32(&command[8]), 0u);
        EXPECT_EQ(Le32(&command[12]), command.size() - 16);
    }
}

TEST_F(PortTest, OutOfRangeAndNullArgumentsSendNothing) {
    Init(0);
    uint8_t state = 0x77;
    uint8_t line = 0x77;
    EXPECT_FALSE(lib.UsbSetPortState(0, 5, 1));
    EXPECT_FALSE(lib.UsbSetPortDir(0, 255, 1));
    EXPECT_FALSE(lib.UsbSetIOState(0, 40, 1));
    EXPECT_FALSE(lib.UsbSetIODir(0, 200, 1));
    EXPECT_FALSE(lib.UsbGetPortState(0, 5, &state));
    EXPECT_FALSE(lib.UsbGetIOState(0, 40, &line));
    EXPECT_FALSE(lib.UsbGetPortState(0, 0, nullptr));
    EXPECT_FALSE(lib.UsbGetIOState(0, 0, nullptr));
    EXPECT_EQ(Errors(), std::vector<int>(1, 6)) << "one board, one bit";
    EXPECT_EQ(state, 0x77);
    EXPECT_EQ(line, 0x77);
    EXPECT_EQ(DeviceCalls(), 0u);
}

TEST_F(PortTest, SingleLinesKeepTheOthers) {
    Init(0);
    ASSERT_TRUE(lib.UsbSetPortDir(0, 0, 0xFF));
    ASSERT_TRUE(lib.UsbSetIOState(0, 0, 1));
    ASSERT_TRUE(lib.UsbSetIOState(0, 1, 1));
    uint8_t state = 0;
    ASSERT_TRUE(lib.UsbGetPortState(0, 0, &state));
    EXPECT_EQ(state, 0x03);
    ASSERT_TRUE(lib.UsbSetIOState(0, 0, 0));
    ASSERT_TRUE(lib.UsbGetPortState(0, 0, &state));
    EXPECT_EQ(state, 0x02);

    ASSERT_TRUE(lib.UsbSetIODir(0, 17, 1));
    ASSERT_TRUE(lib.UsbSetIODir(0, 18, 1));
    ASSERT_TRUE(lib.UsbSetIODir(0, 17, 0));
    EXPECT_EQ(sim->Ports(0).dir[2], 0x04);
}

TEST_F(PortTest, ReadsGiveInputLevelsAndDrivenOutputs) {
    Init(0);
    sim->SetExternalLevels(0, 1, 0x02);
    uint8_t line = 7;
    ASSERT_TRUE(lib.UsbGetIOState(0, 9, &line));
    EXPECT_EQ(line, 1) << "line 9 is bit 1 of port 1";
    sim->SetExternalLevels(0, 1, 0xFD);
    ASSERT_TRUE(lib.UsbGetIOState(0, 9, &line));
    EXPECT_EQ(line, 0);

    // Output lines read back their driven level, input lines what is applied from outside.
    sim->SetExternalLevels(0, 3, 0x0F);
    ASSERT_TRUE(lib.UsbSetPortDir(0, 3, 0xF0));
    ASSERT_TRUE(lib.UsbSetPortState(0, 3, 0xA5));
    uint8_t state = 0;
    ASSERT_TRUE(lib.UsbGetPortState(0, 3, &state));
    EXPECT_EQ(state, 0xAF);
    ASSERT_TRUE(lib.UsbGetIOState(0, 31, &line));
    EXPECT_EQ(line, 1);
    ASSERT_TRUE(lib.UsbGetIOState(0, 30, &line));
    EXPECT_EQ(line, 0);
}

TEST_F(PortTest, GetCallsWriteTheResultEvenWhenTheTransferFails) {
    uint8_t state = 0x77;
    uint8_t line = 0x77;
    EXPECT_FALSE(lib.UsbGetPortState(0, 1, &state));
    EXPECT_FALSE(lib.UsbGetIOState(0, 1, &line));
    EXPECT_EQ(state, 0);
    EXPECT_EQ(line, 0);
    EXPECT_EQ(Errors(), (std::vector<int>{7}));
}

TEST_F(PortTest, StationLinesOnBoardZero) {
    Init(0);
    // The station makes its relay and keying lines outputs and switches them one at a time.
    for (uint8_t pin : {0, 1, 2, 3, 4, 5, 6, 7, 8, 16, 17, 18, 19, 20}) {
        ASSERT_TRUE(lib.UsbSetIODir(0, pin, 1));
    }
    ASSERT_TRUE(lib.UsbSetIOState(0, 20, 1));
    ASSERT_TRUE(lib.UsbSetIOState(0, 16, 1));
    ASSERT_TRUE(lib.UsbSetIOState(0, 16, 0));
    ASSERT_TRUE(lib.UsbSetIOState(0, 8, 1));
    const auto ports = sim->Ports(0);
    EXPECT_EQ(ports.dir[0], 0xFF);
    EXPECT_EQ(ports.dir[1], 0x01);
    EXPECT_EQ(ports.dir[2], 0x1F);
    EXPECT_EQ(ports.latch[1], 0x01);
    EXPECT_EQ(ports.latch[2], 0x10);
}

} // namespace
