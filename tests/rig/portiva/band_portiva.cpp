// Band clicks through the real board library with its simulated board (PORTIVA_SIM=1): the
// lines are read back through the library's own exports and the simulated board's latches and
// directions.

#include "BoardLibrary.h"
#include "PortivaBoard.h"
#include "ProgramState.h"
#include "RigControl.h"
#include "TestSupport.h"
#include "transport/test_interface.h"

#include <QLibrary>
#include <gtest/gtest.h>

namespace {

using GetIOState = unsigned char (*)(unsigned char, unsigned char, unsigned char*);
using GetPortState = unsigned char (*)(unsigned char, unsigned char, unsigned char*);

class BandOnSimulatedBoard : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        // Before the library is loaded: it presents one simulated board.
        qputenv("PORTIVA_SIM", "1");
    }

    void SetUp() override {
        EnsureApplication();
        state = ProgramState{};
        lib.setFileNameAndVersion(QStringLiteral(PORTIVA_LIBRARY), QString());
        ASSERT_TRUE(lib.load()) << qPrintable(lib.errorString());
        getIO = reinterpret_cast<GetIOState>(lib.resolve("UsbGetIOState"));
        getPort = reinterpret_cast<GetPortState>(lib.resolve("UsbGetPortState"));
        auto hooksFn =
            reinterpret_cast<PortivaTestInterfaceFn>(lib.resolve("portiva_test_interface"));
        if (!hooksFn)
            GTEST_SKIP() << "the library was built without -DPORTIVA_TEST_INTERFACE=ON";
        ASSERT_TRUE(getIO && getPort);
        sim = hooksFn()->Sim();
        ASSERT_NE(sim, nullptr) << "the library does not present a simulated board";
        sim->Reset();
        ASSERT_TRUE(board.init()) << qPrintable(board.lastError());
    }

    // Levels of lines 0-23 as the library reads them, as a text of 0 and 1, line 0 first.
    QString Levels() {
        QString text;
        for (int line = 0; line < 24; ++line) {
            unsigned char state = 0xFF;
            EXPECT_TRUE(getIO(0, quint8(line), &state)) << line;
            text += state == 1   ? QLatin1Char('1')
                    : state == 0 ? QLatin1Char('0')
                                 : QLatin1Char('?');
        }
        return text;
    }

    QLibrary lib;
    BoardLibrary library{QStringLiteral(PORTIVA_LIBRARY)};
    PortivaBoard board{&library};
    ProgramState state;
    GetIOState getIO = nullptr;
    GetPortState getPort = nullptr;
    portiva::test::SimControl* sim = nullptr;
};

QString Expect(std::initializer_list<int> high) {
    QString text(24, QLatin1Char('0'));
    for (int line : high)
        text[line] = QLatin1Char('1');
    return text;
}

TEST_F(BandOnSimulatedBoard, TransverterBandsDriveOneRelayLine) {
    RigControl rig(state, nullptr, nullptr, &board);
    state.RigFrequency = 14420000;
    rig.OptBandR(1);
    EXPECT_EQ(Levels(), Expect({7}));
    EXPECT_EQ(sim->Ports(0).dir[0], 0x80);
    rig.OptBandR(5);
    EXPECT_EQ(Levels(), Expect({3}));
    EXPECT_EQ(sim->Ports(0).dir[0], 0x08);
    EXPECT_EQ(sim->Ports(0).latch[0], 0x08);
    EXPECT_EQ(rig.formatFre, "10368.2");
    for (int i = 1; i <= 8; ++i) {
        rig.OptBandR(i);
        const int line = TransverterBandAt(i)->relay;
        EXPECT_EQ(Levels(), Expect({line})) << i;
        EXPECT_EQ(sim->Ports(0).dir[0], 1 << line) << i;
    }
}

TEST_F(BandOnSimulatedBoard, OneHundredTwentyTwoGigahertzUsesPortOne) {
    RigControl rig(state, nullptr, nullptr, &board);
    rig.OptBandR(4);
    rig.OptBandR(9);
    EXPECT_EQ(Levels(), Expect({8}));
    EXPECT_EQ(sim->Ports(0).dir[0], 0x00);
    EXPECT_EQ(sim->Ports(0).dir[1], 0x01); // line 8 output, 9-15 input
    unsigned char port1 = 0;
    EXPECT_TRUE(getPort(0, 1, &port1));
    EXPECT_EQ(port1, 0x01);
}

TEST_F(BandOnSimulatedBoard, DirectBandKeepsTheRelayAndDrivesLineTwenty) {
    RigControl rig(state, nullptr, nullptr, &board);
    rig.OptBandR(5);
    rig.OptBandV(2);
    EXPECT_EQ(Levels(), Expect({3, 20}));
    EXPECT_EQ(sim->Ports(0).dir[2] & 0x10, 0x10);
    // Back to a transverter band: line 20 is released (an input again).
    rig.OptBandR(2);
    EXPECT_EQ(Levels(), Expect({6}));
    EXPECT_EQ(sim->Ports(0).dir[2] & 0x10, 0x00);
}

TEST_F(BandOnSimulatedBoard, ReleasedLinesAreInputs) {
    RigControl rig(state, nullptr, nullptr, &board);
    rig.OptBandR(1);
    // Outside levels high: lines that are inputs now read high, the output reads its latch.
    for (quint8 port = 0; port < 3; ++port)
        sim->SetExternalLevels(0, port, 0xFF);
    rig.OptBandR(3);
    const QString levels = Levels();
    EXPECT_EQ(levels.mid(0, 9), QString("111111111")) << qPrintable(levels);
    EXPECT_EQ(sim->Ports(0).dir[0], 0x20);
    EXPECT_EQ(sim->Ports(0).latch[0], 0x20); // line 7 was switched off before its release
    EXPECT_EQ(sim->Ports(0).dir[1] & 0x01, 0);
}

} // namespace
