// Band clicks: the board library calls in their order (through a recording library loaded
// like the real one), the transceiver frames on the simulated station, and the displayed
// frequency.

#include "RigCat.h"
#include "RigControl.h"
#include "RigTestSupport.h"
#include "SimStation.h"

#include <gtest/gtest.h>

namespace {

QStringList ReleaseAll() {
    QStringList calls;
    for (int line = 0; line <= 8; ++line)
        calls << QStringLiteral("UsbSetIODir(0,%1,0)").arg(line)
              << QStringLiteral("UsbSetIOState(0,%1,0)").arg(line);
    calls << "UsbSetIODir(0,20,0)"
          << "UsbSetIOState(0,20,0)";
    return calls;
}

class BandTest : public ::testing::Test {
protected:
    void SetUp() override {
        EnsureApplication();
        ResetProgram();
        ASSERT_TRUE(station.ok());
        com1 = OpenOn(station.com1());
        com2 = OpenOn(station.com2());
        rig = std::make_unique<RigControl>(Program(), com1.get(), com2.get(), &recorder.board);
        rig->Check2 = [] { return false; };
        rig->Check3 = [] { return false; };
        recorder.clear();
    }

    AppFirst app;
    Recorder recorder;
    SimStation station;
    std::unique_ptr<SerialPort> com1, com2;
    std::unique_ptr<RigControl> rig;
};

TEST_F(BandTest, TenGigahertzAfterTwentyThreeCentimetres) {
    Program().RigFrequency = 14420000;
    rig->OptBandR(1);
    EXPECT_EQ(rig->formatFre, "1296.2");
    recorder.clear();
    rig->OptBandR(5);
    EXPECT_EQ(recorder.calls(),
              (ReleaseAll() + QStringList{"UsbSetIODir(0,3,1)", "UsbSetIOState(0,3,1)"}));
    EXPECT_EQ(rig->formatFre, "10368.2");
    EXPECT_EQ(Program().RigPort, "Com1");
    EXPECT_EQ(Program().BandPattern, "10368%");
    EXPECT_EQ(rig->TransverterOffset, 1022400000.0);
    EXPECT_EQ(rig->BandIndex, 5);
    EXPECT_EQ(rig->BandLine, 3);
    EXPECT_TRUE(rig->ApplyBandPreset);
    EXPECT_EQ(rig->OptBandRValue, 5);
    EXPECT_EQ(rig->OptBandVValue, 0);
    // Nothing goes to a transceiver.
    Settle(150);
    EXPECT_TRUE(station.com1()->received().isEmpty());
    EXPECT_TRUE(station.com2()->received().isEmpty());
}

TEST_F(BandTest, OneHundredTwentyTwoGigahertzSetsPortOneDirectionFirst) {
    Program().RigFrequency = 14420000;
    rig->OptBandR(9);
    EXPECT_EQ(recorder.calls(),
              (ReleaseAll() +
               QStringList{"UsbSetPortDir(0,1,1)", "UsbSetIODir(0,8,1)", "UsbSetIOState(0,8,1)"}));
    EXPECT_EQ(rig->formatFre, "122250.2");
    EXPECT_EQ(Program().BandPattern, "122250%");
}

TEST_F(BandTest, EveryTransverterBandFromItsTable) {
    struct Row {
        int line;
        const char* pattern;
        double bandTenHz;
        const char* shown; // at a dial of 144.200 MHz
    };
    const Row rows[9] = {
        {7, "1296%", 129600000.0, "1296.2"},      {6, "2320%", 232000000.0, "2320.2"},
        {5, "3400%", 340000000.0, "3400.2"},      {4, "5760%", 576000000.0, "5760.2"},
        {3, "10368%", 1036800000.0, "10368.2"},   {2, "24048%", 2404800000.0, "24048.2"},
        {1, "47088%", 4708800000.0, "47088.2"},   {0, "76032%", 7603200000.0, "76032.2"},
        {8, "122250%", 12225000000.0, "122250.2"}};
    Program().RigFrequency = 14420000;
    for (int i = 1; i <= 9; ++i) {
        const Row& r = rows[i - 1];
        recorder.clear();
        rig->OptBandR(i);
        const QStringList calls = recorder.calls();
        EXPECT_EQ(calls.mid(0, 20), ReleaseAll()) << i;
        EXPECT_EQ(calls.mid(calls.size() - 2),
                  (QStringList{QStringLiteral("UsbSetIODir(0,%1,1)").arg(r.line),
                               QStringLiteral("UsbSetIOState(0,%1,1)").arg(r.line)}))
            << i;
        EXPECT_EQ(Program().BandPattern, r.pattern) << i;
        // The offset is the band's local oscillator, exact in a double.
        EXPECT_EQ(rig->TransverterOffset + 14400000.0, r.bandTenHz) << i;
        EXPECT_EQ(rig->formatFre, r.shown) << i;
    }
}

TEST_F(BandTest, IndexOutsideTheTableOnlyReleases) {
    rig->OptBandR(5);
    Program().BandPattern = "x";
    recorder.clear();
    rig->OptBandR(10);
    EXPECT_EQ(recorder.calls(), ReleaseAll());
    EXPECT_EQ(Program().BandPattern, "");
    EXPECT_EQ(Program().RigPort, "Com1");
    EXPECT_EQ(rig->BandIndex, 10);
}

TEST_F(BandTest, DirectBandAfterTransverterBandOnlyDrivesLineTwenty) {
    rig->OptBandR(5);
    recorder.clear();
    rig->OptBandV(2);
    EXPECT_EQ(recorder.calls(), (QStringList{"UsbSetIODir(0,20,1)", "UsbSetIOState(0,20,1)"}));
    EXPECT_EQ(Program().RigPort, "Com2");
    EXPECT_EQ(rig->Label41, "MHz");
    EXPECT_EQ(Program().RigFrequency, 14420000);
    EXPECT_EQ(Program().RigFreqText, "14420000");
    EXPECT_EQ(rig->TransverterOffset, 0.0);
    EXPECT_EQ(rig->formatFre, "144.2");
    EXPECT_EQ(rig->OptBandRValue, 0);
    EXPECT_EQ(rig->OptBandVValue, 2);
    EXPECT_EQ(rig->VhfBandIndex, 2);
    // The USB mode frame goes to Com1 although Com2 is now in use.
    EXPECT_EQ(ReceivedBy(station.com1(), 5), Bytes({1, 0, 0, 0, 7}));
    EXPECT_EQ(ReceivedBy(station.com2(), 13),
              QByteArray("14420000") + Bytes({0x14, 0x42, 0, 0, 1}));
    EXPECT_EQ(rig->BandIndex, 5); // kept for the settings file
}

TEST_F(BandTest, FiftyMegahertzPresetIsSentWithSevenDigits) {
    rig->OptBandR(1); // a band chosen before: the preset applies
    rig->OptBandV(1);
    EXPECT_EQ(ReceivedBy(station.com2(), 12), QByteArray("5020000") + Bytes({5, 2, 0, 0, 1}));
    EXPECT_EQ(rig->formatFre, "50.2");
    station.com2()->clearRecord();
    rig->OptBandV(3);
    EXPECT_EQ(ReceivedBy(station.com2(), 13),
              QByteArray("43220000") + Bytes({0x43, 0x22, 0, 0, 1}));
    EXPECT_EQ(rig->formatFre, "432.2");
}

TEST_F(BandTest, DirectBandWithoutPresetKeepsTheBeaconsFrequency) {
    rig->OptBandR(5);
    Program().RigFrequency = 14441000;
    Program().RigFreqText = "144410"; // kHz, from the beacon list
    rig->ApplyBandPreset = false;
    rig->OptBandV(2);
    EXPECT_EQ(Program().RigFrequency, 14441000);
    EXPECT_EQ(Program().RigFreqText, "144410");
    EXPECT_EQ(rig->TransverterOffset, 1022400000.0);
    EXPECT_EQ(ReceivedBy(station.com2(), 11),
              QByteArray("144410") + Bytes({0x14, 0x44, 0x10, 0, 1}));
    EXPECT_TRUE(rig->ApplyBandPreset);
    // The next click applies the preset again.
    station.com2()->clearRecord();
    rig->OptBandV(2);
    EXPECT_EQ(ReceivedBy(station.com2(), 13),
              QByteArray("14420000") + Bytes({0x14, 0x42, 0, 0, 1}));
}

TEST_F(BandTest, EveryDirectBandClickWritesTheModeFrameToCom1) {
    for (int i : {1, 2, 3, 2}) {
        station.com1()->clearRecord();
        rig->OptBandV(i);
        EXPECT_EQ(ReceivedBy(station.com1(), 5), Bytes({1, 0, 0, 0, 7})) << i;
    }
}

TEST(BandWithoutLibrary, ClickRunsEveryStep) {
    EnsureApplication();
    ResetProgram();
    FakeBoard missing;
    missing.missing = true;
    RigControl rig(Program(), nullptr, nullptr, &missing);
    Program().RigFrequency = 14420000;
    rig.OptBandR(6);
    EXPECT_EQ(Program().BandPattern, "24048%");
    EXPECT_EQ(rig.formatFre, "24048.2");
    EXPECT_EQ(rig.BandIndex, 6);
    EXPECT_FALSE(missing.lastError().isEmpty());
    rig.OptBandV(2); // no ports: the frames are skipped
    EXPECT_EQ(Program().RigPort, "Com2");
    EXPECT_EQ(rig.formatFre, "144.2");
}

} // namespace
