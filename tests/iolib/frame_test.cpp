// Library frame: board table, error reporting, queries and the command transport, through the
// C ABI of the loaded library against the simulated boards.
#include <algorithm>
#include <atomic>
#include <chrono>
#include <thread>

#include "sim_fixture.h"

using namespace sim_test;

namespace {

const char* const kMessages[17] = {
    "no error",
    "File not found",
    "Device not present",
    "Unable to open device",
    "Usb transfer failed",
    "Out of memory",
    "Invalid parameter",
    "Interface is not initialized. Call UsbInit() before calling this function",
    "I2c transfer timed out",
    "I2c bus error (lost arbitration)",
    "The i2c slave did not acknowledge",
    "Eeprom write timed out",
    "SPI bus has to be initialized before calling this function",
    "Parallel bus has to be initialized before calling this function",
    "UsbParIn transfer timed out",
    "UsbParOut transfer timed out",
    "Internal error: Transaction number mismatch",
};

using FrameTest = SimTest;

struct LogLine {
    int level;
    bool indent;
    std::string text;
    bool operator==(const LogLine&) const = default;
};
std::vector<LogLine> g_lines;
void Collect(int level, bool indent, const char* text) {
    g_lines.push_back({level, indent, text});
}

bool Logged(const LogLine& line) {
    return std::find(g_lines.begin(), g_lines.end(), line) != g_lines.end();
}
using TransportTest = SimTest;

TEST_F(FrameTest, ErrorsComeOutInPriorityOrderNotBitOrder) {
    EXPECT_EQ(lib.UsbGetError(), 0);
    lib.hooks->RaiseError(3, 0x80 | 0x10000);
    EXPECT_EQ(lib.UsbGetError(), 8);
    EXPECT_EQ(lib.UsbGetError(), 12);
    EXPECT_EQ(lib.UsbGetError(), 0);

    // Every bit of the table, all at once, comes out as 1..16.
    lib.hooks->RaiseError(7, 0x3FF | 0x3F0000);
    std::vector<int> expected;
    for (int number = 1; number <= 16; ++number) {
        expected.push_back(number);
    }
    EXPECT_EQ(Errors(), expected);
}

TEST_F(FrameTest, ErrorWalkGoesByBoardAndSkipsBoard255AndUnknownBits) {
    lib.hooks->RaiseError(255, 0x20);
    EXPECT_EQ(lib.UsbGetError(), 0);

    lib.hooks->RaiseError(9, 0x4);
    lib.hooks->RaiseError(2, 0x20);
    lib.hooks->RaiseError(1, 0x400000); // not in the table: never cleared, walk goes on
    EXPECT_EQ(lib.UsbGetError(), 6);
    EXPECT_EQ(lib.UsbGetError(), 3);
    EXPECT_EQ(lib.UsbGetError(), 0);
    EXPECT_EQ(lib.UsbGetError(), 0);
}

TEST_F(FrameTest, ErrorMessagesByNumber) {
    for (uint8_t number = 0; number <= 16; ++number) {
        const char* text = nullptr;
        ASSERT_TRUE(lib.UsbGetErrorStringByNr(number, &text));
        ASSERT_NE(text, nullptr);
        EXPECT_STREQ(text, kMessages[number]);
    }
    const char* untouched = "unchanged";
    const char* text = untouched;
    EXPECT_FALSE(lib.UsbGetErrorStringByNr(17, &text));
    EXPECT_EQ(text, untouched);
    EXPECT_FALSE(lib.UsbGetErrorStringByNr(255, &text));
    EXPECT_FALSE(lib.UsbGetErrorStringByNr(1, nullptr));
    EXPECT_TRUE(Errors().empty()) << "UsbGetErrorStringByNr raises nothing";
}

TEST_F(FrameTest, QueriesWithoutTransfers) {
    char version[256];
    std::memset(version, 'x', sizeof version);
    lib.UsbGetVersion(version);
    EXPECT_STREQ(version, "1.7.9.0");
    lib.UsbGetVersion(nullptr);

    uint8_t high = 7;
    EXPECT_TRUE(lib.UsbCheckSpeed(0, &high));
    EXPECT_EQ(high, 0) << "not high speed before UsbInit";
    EXPECT_FALSE(lib.UsbCheckSpeed(0, nullptr));
    EXPECT_FALSE(lib.UsbRetrieveAllErrors(1, 0));
    EXPECT_EQ(Errors(), (std::vector<int>{6, 6})) << "0x20 both times, not 0x40";

    EXPECT_TRUE(lib.UsbOpen(250));
    EXPECT_TRUE(lib.UsbClose(250));
    EXPECT_TRUE(Errors().empty());
    EXPECT_EQ(DeviceCalls(), 0u);
}

TEST_F(FrameTest, WaitMicrosecondsBusyWaitsAtLeastTheTime) {
    lib.UsbWaituSec(0);
    const auto start = std::chrono::steady_clock::now();
    lib.UsbWaituSec(3000);
    EXPECT_GE(std::chrono::steady_clock::now() - start, std::chrono::microseconds(3000));
}

TEST_F(FrameTest, PresenceAndInitialisedState) {
    EXPECT_TRUE(lib.UsbDevicePresent(0));
    EXPECT_TRUE(lib.UsbDevicePresent(3));
    EXPECT_FALSE(lib.UsbDevicePresent(4));
    EXPECT_EQ(DeviceCalls(), 0u) << "presence does not open the board";

    EXPECT_FALSE(lib.UsbDeviceInitialized(0));
    Init(0);
    EXPECT_TRUE(lib.UsbDeviceInitialized(0));
    EXPECT_EQ(CountCalls(kCyGetAlt), ezusb ? 0u : 1u);
    EXPECT_TRUE(lib.UsbRetrieveAllErrors(0, 0));

    // The flag alone does not make a board without firmware initialised, except where the
    // driver cannot tell the alternate setting.
    lib.UsbSetInitializedFlag(1, 1);
    EXPECT_EQ(lib.UsbDeviceInitialized(1), ezusb ? 1 : 0);
    lib.UsbSetInitializedFlag(0, 0);
    EXPECT_FALSE(lib.UsbDeviceInitialized(0));
    EXPECT_FALSE(lib.UsbDeviceInitialized(4));
    EXPECT_TRUE(Errors().empty());
}

TEST_F(FrameTest, StatusAndReadyLine) {
    Init(0);
    EXPECT_TRUE(lib.UsbGetStatus(0));
    sim->RaiseStatus(0, 0x4);
    EXPECT_FALSE(lib.UsbGetStatus(0));
    EXPECT_EQ(Errors(), (std::vector<int>{10}));
    EXPECT_TRUE(lib.UsbGetStatus(0)) << "the firmware cleared its status";

    // Status bits 16 and above are lost when shifted; the result still fails, and with nothing
    // else raised it says "Invalid parameter" rather than nothing at all.
    sim->RaiseStatus(0, 0x010001);
    EXPECT_FALSE(lib.UsbGetStatus(0));
    EXPECT_EQ(Errors(), (std::vector<int>{8}));
    sim->RaiseStatus(0, 0x010000);
    EXPECT_FALSE(lib.UsbGetStatus(0));
    EXPECT_EQ(Errors(), (std::vector<int>{6}));

    uint8_t ready = 9;
    sim->SetReady(0, 1);
    ASSERT_TRUE(lib.UsbGetRdyState(0, &ready));
    EXPECT_EQ(ready, 1);
    sim->SetReady(0, 0);
    ASSERT_TRUE(lib.UsbGetRdyState(0, &ready));
    EXPECT_EQ(ready, 0);
    const auto commands = sim->Commands(0);
    ASSERT_FALSE(commands.empty());
    EXPECT_EQ(commands.back()[0], 3);
    EXPECT_EQ(Le32(&commands.back()[8]), 6u) << "ReadLen 6 for the ready line";

    sim->ClearRecords();
    EXPECT_FALSE(lib.UsbGetRdyState(0, nullptr));
    EXPECT_EQ(Errors(), (std::vector<int>{6}));
    EXPECT_EQ(DeviceCalls(), 0u);
}

TEST_F(TransportTest, CommandHeaderAndDriverBlockBytes) {
    Init(0);
    const uint8_t before = lib.hooks->TransactionNumber();
    ASSERT_TRUE(lib.UsbSetIOState(0, 13, 1));
    const uint8_t txn = static_cast<uint8_t>(before + 1);
    const std::vector<uint8_t> expected = {1,   txn, 0,   0, 0, 0,   0, 0,    0,    0,   0,
                                           0,   16,  0,   0, 0, 255, 0, 0xDF, 0x20, 255, 0,
                                           255, 0,   255, 0, 0, 0,   0, 0,    0,    0};
    ASSERT_EQ(sim->Commands(0).size(), 1u);
    EXPECT_EQ(sim->Commands(0)[0], expected);

    // ReadLen 0 and no status: one write, no read.
    const auto bulk = BulkCalls();
    ASSERT_EQ(bulk.size(), 1u);
    EXPECT_EQ(bulk[0].endpoint, 0x04);
    EXPECT_EQ(bulk[0].data, expected);
    for (const auto& call : sim->Calls()) {
        if (call.code == kCyBulk) {
            ASSERT_EQ(call.in.size(), 38u + 32u);
            EXPECT_EQ(std::vector<uint8_t>(call.in.begin(), call.in.begin() + 30),
                      std::vector<uint8_t>({0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0x04, 0,
                                            0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0,    0}));
            EXPECT_EQ(Le32(&call.in[30]), 38u);
            EXPECT_EQ(Le32(&call.in[34]), 32u);
            EXPECT_EQ(call.waitMs, 500u);
        } else if (call.code == kEzBulkWrite) {
            EXPECT_EQ(call.in, std::vector<uint8_t>({3, 0, 0, 0})) << "pipe 3 for 0x04";
        }
    }
}

TEST_F(TransportTest, StatusRequestWithoutDataReadsFourBytes) {
    Init(0);
    ASSERT_TRUE(lib.UsbGetStatus(0));
    const auto bulk = BulkCalls();
    ASSERT_EQ(bulk.size(), 2u);
    EXPECT_EQ(bulk[0].data[0], 10);
    EXPECT_EQ(bulk[0].data[2], 255) << "status request byte";
    EXPECT_EQ(bulk[1].endpoint, 0x86);
    EXPECT_EQ(bulk[1].length, 4u);
}

TEST_F(TransportTest, MismatchFlushesOnceAndRetries) {
    Init(0);
    sim->WrongTransactionNext(0, 1);
    uint8_t state = 0;
    EXPECT_TRUE(lib.UsbGetPortState(0, 0, &state));
    auto commands = sim->Commands(0);
    ASSERT_EQ(commands.size(), 3u);
    EXPECT_EQ(commands[0][0], 3);
    EXPECT_EQ(commands[1][0], 11) << "flush";
    EXPECT_EQ(commands[1].size(), 16u);
    EXPECT_EQ(commands[1][2], 0) << "no status for the flush";
    EXPECT_EQ(commands[2][0], 3);
    EXPECT_EQ(commands[1][1], uint8_t(commands[0][1] + 1));
    EXPECT_EQ(commands[2][1], uint8_t(commands[0][1] + 2)) << "new transaction number";
    EXPECT_TRUE(Errors().empty());

    sim->ClearRecords();
    sim->WrongTransactionNext(0, 2);
    EXPECT_FALSE(lib.UsbGetPortState(0, 0, &state));
    commands = sim->Commands(0);
    ASSERT_EQ(commands.size(), 3u) << "exactly one flush and one repeat";
    EXPECT_EQ(commands[1][0], 11);
    EXPECT_EQ(Errors(), (std::vector<int>{16}));
    EXPECT_EQ(sim->OpenHandles(), 0u);
}

TEST_F(TransportTest, TraceLinesOfTheExchange) {
    Init(0);
    g_lines.clear();
    lib.hooks->SetLogSink(Collect);
    sim->RaiseStatus(0, 0x4);
    EXPECT_FALSE(lib.UsbGetStatus(0));
    sim->WrongTransactionNext(0, 2);
    uint8_t state = 0;
    const uint8_t next = static_cast<uint8_t>(lib.hooks->TransactionNumber() + 1);
    EXPECT_FALSE(lib.UsbGetPortState(0, 0, &state));
    lib.hooks->SetLogSink(nullptr);
    Errors();

    EXPECT_TRUE(Logged({1, false, "DoBulkXFer"}));
    EXPECT_TRUE(Logged({1, true, "CmdNo=10, GetStatus=1, WriteLen=0, ReadLen=0"}));
    EXPECT_TRUE(Logged({1, true, "Write XFer successful"}));
    EXPECT_TRUE(Logged({1, true, "Reading 4 Bytes"}));
    EXPECT_TRUE(Logged({1, true, "Received Firmware Status: 000004"}));
    EXPECT_TRUE(Logged({3, false, "The i2c slave did not acknowledge"}));
    EXPECT_TRUE(Logged({1, true, "CmdNo=3, GetStatus=0, WriteLen=0, ReadLen=5"}));
    EXPECT_TRUE(Logged({1, true,
                        "Transaction number mismatch. Expected: " + std::to_string(next) +
                            " Received: " + std::to_string(uint8_t(next + 0x80))}));
    EXPECT_TRUE(Logged({1, false, "Flushing endpoint buffers"}));
    EXPECT_TRUE(Logged({3, false, "Internal error: Transaction number mismatch"}));
    EXPECT_TRUE(Logged({1, false, "Device Opened"}));
    EXPECT_TRUE(Logged({1, false, "Device Closed"}));
}

TEST_F(TransportTest, RefusedCommandsAndShortTransfersLeaveReadableErrors) {
    Init(0);
    std::vector<uint8_t> answer;
    // A command the firmware does not know: the call fails and says why.
    EXPECT_FALSE(lib.hooks->Transfer(0, 99, true, 500, 0, {}, answer));
    EXPECT_EQ(Errors(), (std::vector<int>{6}));

    // Port records come whole: a payload of 33 bytes is refused, and the refusal comes with the
    // next answer. Records beyond one endpoint buffer stream through (32 records, 528 bytes).
    auto records = [](size_t count) {
        std::vector<uint8_t> payload(count * 16, 0);
        for (size_t r = 0; r < count; ++r) {
            for (int p = 1; p < 5; ++p) {
                payload[r * 16 + 2 * p] = 255;
            }
            payload[r * 16 + 1] = 0x5A;
        }
        return payload;
    };
    std::vector<uint8_t> ragged = records(2);
    ragged.push_back(0);
    EXPECT_TRUE(lib.hooks->Transfer(0, 1, false, 500, 0, ragged, answer)) << "no answer";
    EXPECT_EQ(sim->Ports(0).latch[0], 0);
    EXPECT_FALSE(lib.UsbGetStatus(0));
    EXPECT_EQ(Errors(), (std::vector<int>{6}));
    EXPECT_TRUE(lib.hooks->Transfer(0, 1, false, 500, 0, records(32), answer));
    EXPECT_TRUE(lib.UsbGetStatus(0));
    EXPECT_EQ(sim->Ports(0).latch[0], 0x5A);

    // An answer of more than 65,536 data bytes is never sent.
    EXPECT_FALSE(lib.hooks->Transfer(0, 3, false, 500, 65537, {}, answer));
    EXPECT_EQ(Errors(), (std::vector<int>{4}));
    EXPECT_FALSE(lib.UsbGetStatus(0));
    EXPECT_EQ(Errors(), (std::vector<int>{6}));

    // An answer cut short, and a command the board took only in part, are failed transfers.
    sim->ShortenNext(0, 0x86, 1, 2);
    uint8_t state = 0;
    EXPECT_FALSE(lib.UsbGetPortState(0, 0, &state));
    EXPECT_EQ(Errors(), (std::vector<int>{4}));
    sim->ShortenNext(0, 0x04, 1, 4);
    EXPECT_FALSE(lib.UsbSetPortState(0, 1, 0x33));
    EXPECT_EQ(Errors(), (std::vector<int>{4}));
    EXPECT_EQ(sim->Ports(0).latch[1], 0) << "the firmware refused the partial command";
    EXPECT_FALSE(lib.UsbGetStatus(0));
    EXPECT_EQ(Errors(), (std::vector<int>{6}));
    EXPECT_TRUE(lib.UsbSetPortState(0, 1, 0x33));
    EXPECT_TRUE(lib.UsbGetPortState(0, 1, &state));
    EXPECT_EQ(state, 0) << "port 1 lines are inputs";
    EXPECT_TRUE(Errors().empty());
}

TEST_F(TransportTest, LargeTransfersAndEzUsbPieces) {
    Init(0);
    for (uint32_t total : {65536u, 65535u}) {
        sim->ClearRecords();
        std::vector<uint8_t> payload(total - 16, 0);
        for (size_t i = 0; i + 16 <= payload.size(); i += 16) {
            for (int p = 0; p < 5; ++p) {
                payload[i + 2 * p] = 255; // keep everything
            }
        }
        std::vector<uint8_t> answer;
        EXPECT_TRUE(lib.hooks->Transfer(0, 1, false, 500, 0, payload, answer));
        std::vector<uint32_t> pieces;
        for (const auto& call : BulkCalls()) {
            pieces.push_back(call.length);
        }
        if (ezusb) {
            EXPECT_EQ(pieces, total == 65536 ? std::vector<uint32_t>({65024, 512})
                                             : std::vector<uint32_t>({65535}));
        } else {
            EXPECT_EQ(pieces, std::vector<uint32_t>({total}));
        }
        ASSERT_EQ(sim->Commands(0).size(), 1u) << "the firmware sees one transfer";
        EXPECT_EQ(sim->Commands(0)[0].size(), total);
    }
    EXPECT_TRUE(lib.UsbGetStatus(0) == 0) << "65,535 bytes are no whole number of records";
    Errors();

    if (ezusb) {
        // The first failing piece ends the transfer.
        sim->ClearRecords();
        sim->VanishAfter(0, 1);
        std::vector<uint8_t> answer;
        EXPECT_FALSE(lib.hooks->Transfer(0, 1, false, 500, 0,
                                         std::vector<uint8_t>(3 * 65024 - 16, 255), answer));
        EXPECT_EQ(BulkCalls().size(), 2u);
        EXPECT_EQ(Errors(), (std::vector<int>{4}));
    }
}

TEST_F(TransportTest, NoBoardProbesCyUsbThenEzUsbAndStaysCyUsb) {
    if (lib.hooks->DriverTypeFixed()) {
        GTEST_SKIP() << "needs a fresh library load (ctest runs each test in its own process)";
    }
    for (unsigned board = 0; board < sim->BoardCount(); ++board) {
        sim->Plug(board, false);
    }
    EXPECT_FALSE(lib.UsbDevicePresent(0));
    const auto calls = sim->Calls();
    ASSERT_EQ(calls.size(), 2u);
    EXPECT_EQ(calls[0].code, kCallEnumerate);
    EXPECT_EQ(std::string(calls[0].in.begin(), calls[0].in.end()),
              "{dd3f8fc7-d531-4c65-95ff-1fc8dfee2c52}");
    EXPECT_EQ(calls[1].code, kCallOpen);
    EXPECT_EQ(std::string(calls[1].in.begin(), calls[1].in.end()), "\\\\.\\ezusb-0");
    EXPECT_TRUE(lib.hooks->DriverTypeIsCyUsb());
    EXPECT_FALSE(lib.hooks->DriverTypeFixed());

    EXPECT_FALSE(lib.UsbInit(0));
    EXPECT_EQ(Errors(), (std::vector<int>{2}));

    sim->Plug(0, true);
    EXPECT_TRUE(lib.UsbDevicePresent(0));
    EXPECT_TRUE(lib.hooks->DriverTypeFixed());
    EXPECT_EQ(lib.hooks->DriverTypeIsCyUsb(), !ezusb);
}

TEST_F(TransportTest, TransactionNumbersContinueAcrossBoards) {
    Init(0);
    Init(1);
    ASSERT_TRUE(lib.UsbSetPortState(0, 0, 1));
    ASSERT_TRUE(lib.UsbSetPortState(1, 0, 2));
    ASSERT_EQ(sim->Commands(0).size(), 1u);
    ASSERT_EQ(sim->Commands(1).size(), 1u);
    EXPECT_EQ(sim->Commands(1)[0][1], uint8_t(sim->Commands(0)[0][1] + 1));
    EXPECT_EQ(sim->Ports(0).latch[0], 1);
    EXPECT_EQ(sim->Ports(1).latch[0], 2);

    // The 8-bit number wraps from 255 to 0 and answers keep matching.
    sim->ClearRecords();
    uint8_t state = 0;
    for (int i = 0; i < 300; ++i) {
        ASSERT_TRUE(lib.UsbGetPortState(static_cast<uint8_t>(i % 2), 0, &state)) << i;
    }
    const auto even = sim->Commands(0);
    ASSERT_EQ(even.size(), 150u);
    for (size_t i = 1; i < even.size(); ++i) {
        EXPECT_EQ(even[i][1], uint8_t(even[i - 1][1] + 2));
    }
    EXPECT_TRUE(Errors().empty());
}

TEST_F(TransportTest, BoardNotInitialisedSendsNothing) {
    EXPECT_FALSE(lib.UsbSetPortState(0, 1, 0x55));
    EXPECT_FALSE(lib.UsbGetStatus(0));
    EXPECT_EQ(Errors(), (std::vector<int>{7}));
    EXPECT_EQ(DeviceCalls(), 0u);
}

TEST_F(TransportTest, TimeOutsFailTheCallAndAbortTheCyUsbPipe) {
    Init(0);
    sim->TimeOutNext(0, 0x86, 1);
    uint8_t state = 0;
    EXPECT_FALSE(lib.UsbGetPortState(0, 0, &state));
    EXPECT_EQ(Errors(), (std::vector<int>{4}));
    if (ezusb) {
        EXPECT_EQ(CountCalls(kCyAbortPipe), 0u);
    } else {
        ASSERT_EQ(CountCalls(kCyAbortPipe), 1u);
        for (const auto& call : sim->Calls()) {
            if (call.code == kCyAbortPipe) {
                EXPECT_EQ(call.in, std::vector<uint8_t>({0x86}));
            }
        }
    }
    // The late answer is still queued: the next exchange sees a stale transaction number,
    // flushes and repeats.
    sim->ClearRecords();
    EXPECT_TRUE(lib.UsbGetPortState(0, 0, &state));
    EXPECT_EQ(sim->Commands(0).size(), 3u);
    EXPECT_TRUE(Errors().empty());

    sim->TimeOutNext(0, 0x04, 1);
    EXPECT_FALSE(lib.UsbSetPortState(0, 0, 1));
    EXPECT_EQ(Errors(), (std::vector<int>{4}));
    EXPECT_EQ(sim->Ports(0).latch[0], 0) << "the command never arrived";
    EXPECT_EQ(sim->OpenHandles(), 0u);
}

TEST_F(TransportTest, BoardVanishingMidTransfer) {
    // The last board, so that no other board moves up into its enumeration place.
    Init(3);
    sim->VanishAfter(3, 1); // the command write goes through, the answer never comes
    uint8_t state = 0x77;
    EXPECT_FALSE(lib.UsbGetPortState(3, 2, &state));
    EXPECT_EQ(state, 0);
    EXPECT_EQ(Errors(), (std::vector<int>{4}));
    EXPECT_EQ(sim->OpenHandles(), 0u);

    EXPECT_FALSE(lib.UsbSetIOState(3, 3, 1));
    EXPECT_EQ(Errors(), (std::vector<int>{3})) << "the stored path no longer opens";
    EXPECT_FALSE(lib.UsbDevicePresent(3));
    EXPECT_FALSE(lib.UsbDeviceInitialized(3));
    EXPECT_FALSE(lib.UsbInit(3));
    EXPECT_EQ(Errors(), (std::vector<int>{2}));

    // Plugged in again, it starts over.
    sim->Plug(3, true);
    EXPECT_FALSE(lib.UsbDeviceInitialized(3) && !ezusb) << "no firmware runs after a replug";
    EXPECT_TRUE(lib.UsbInit(3));
    EXPECT_TRUE(lib.UsbSetIOState(3, 3, 1));
}

TEST_F(TransportTest, ExclusiveKeepsTheHandleOpen) {
    Init(0);
    ASSERT_TRUE(lib.UsbOpen(0));
    ASSERT_TRUE(lib.UsbSetPortState(0, 0, 1));
    ASSERT_TRUE(lib.UsbSetPortState(0, 0, 2));
    EXPECT_EQ(sim->OpenHandles(), 1u);
    EXPECT_EQ(CountCalls(kCallOpen), 1u);
    EXPECT_EQ(CountCalls(kCallClose), 0u);

    ASSERT_TRUE(lib.UsbClose(0));
    EXPECT_EQ(sim->OpenHandles(), 1u) << "UsbClose leaves the handle to the next transfer";
    ASSERT_TRUE(lib.UsbSetPortState(0, 0, 3));
    EXPECT_EQ(sim->OpenHandles(), 0u);
    EXPECT_EQ(CountCalls(kCallOpen), 1u);
}

TEST_F(TransportTest, InterfaceGuidSelectsCyUsbBoards) {
    Init(0);
    lib.UsbSetGuid("{00000000-1111-2222-3333-444444444444}");
    EXPECT_EQ(lib.UsbDevicePresent(1), ezusb ? 1 : 0) << "the EzUsb driver needs no GUID";
    EXPECT_TRUE(lib.UsbSetPortState(0, 0, 1)) << "paths already found stay in use";
    lib.UsbSetGuid("dd3f8fc7-d531-4c65-95ff-1fc8dfee2c52"); // no braces: unusable
    sim->ClearRecords();
    EXPECT_EQ(lib.UsbDevicePresent(1), ezusb ? 1 : 0);
    if (!ezusb) {
        EXPECT_EQ(CountCalls(kCallEnumerate), 0u) << "a malformed GUID is not asked for";
    }
    lib.UsbSetGuid(nullptr);
    // Longer than 255 characters: cut, and then no GUID.
    const std::string longText = "{dd3f8fc7-d531-4c65-95ff-1fc8dfee2c52}" + std::string(300, 'x');
    lib.UsbSetGuid(longText.c_str());
    EXPECT_EQ(lib.UsbDevicePresent(1), ezusb ? 1 : 0);
    lib.UsbSetGuid("{DD3F8FC7-D531-4C65-95FF-1FC8DFEE2C52}");
    EXPECT_TRUE(lib.UsbDevicePresent(1));
}

TEST_F(FrameTest, CallersOnSeveralThreadsAreServedOneAtATime) {
    for (uint8_t board = 0; board < 4; ++board) {
        Init(board);
        ASSERT_TRUE(lib.UsbSetPortDir(board, 1, 0xFF));
    }
    sim->ClearRecords();
    // Boards 0 and 1 have a caller each, board 3 has four sharing it (a line each), and
    // one more keeps starting board 2 again and asking for presence and speed.
    constexpr int kRounds = 150;
    std::atomic<int> failures{0};
    auto lineCaller = [&](uint8_t board, uint8_t line) {
        for (int i = 0; i < kRounds; ++i) {
            const uint8_t want = static_cast<uint8_t>(i & 1);
            uint8_t level = 0xFF;
            if (!lib.UsbSetIOState(board, line, want) || !lib.UsbGetIOState(board, line, &level) ||
                level != want) {
                ++failures;
            }
        }
        if (!lib.UsbSetIOState(board, line, 1)) {
            ++failures;
        }
    };
    std::vector<std::thread> threads;
    for (uint8_t board = 0; board < 2; ++board) {
        threads.emplace_back(lineCaller, board, 8);
    }
    for (uint8_t line = 8; line < 12; ++line) {
        threads.emplace_back(lineCaller, 3, line);
    }
    threads.emplace_back([&] {
        for (int i = 0; i < kRounds / 10; ++i) {
            uint8_t high = 0;
            if (!lib.UsbInit(2) || !lib.UsbDevicePresent(2) || !lib.UsbDeviceInitialized(2) ||
                !lib.UsbCheckSpeed(2, &high) || !lib.UsbGetStatus(2)) {
                ++failures;
            }
        }
    });
    for (auto& thread : threads) {
        thread.join();
    }
    EXPECT_EQ(failures.load(), 0);
    EXPECT_TRUE(Errors().empty());
    EXPECT_EQ(sim->Ports(0).latch[1], 0x01);
    EXPECT_EQ(sim->Ports(1).latch[1], 0x01);
    EXPECT_EQ(sim->Ports(3).latch[1], 0x0F) << "each caller's line, none lost to another";
    EXPECT_EQ(sim->OpenHandles(), 0u);
}

} // namespace
