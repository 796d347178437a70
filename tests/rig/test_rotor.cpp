// Rotor and elevation: controller commands and the sensor exchange through the simulated
// devices, the automatic elevation hold through the recording board library.

#include "RigControl.h"
#include "RigTestSupport.h"
#include "RotorControl.h"
#include "SimStation.h"

#include <QTimer>
#include <gtest/gtest.h>

namespace {

TEST(SensorText, HexTextAndDecoding) {
    // Two digits per byte, a single digit with a leading zero.
    EXPECT_EQ(SensorHexText(Bytes({5, 0xAB, 0})), "05AB00");
    const QString seven = SensorHexText(SensorReply(700, 2150));
    EXPECT_EQ(seven.mid(22, 8), "000002BC");
    auto r = DecodeSensorText(seven);
    ASSERT_TRUE(r);
    EXPECT_EQ(r->elevationThousandths, 700);
    EXPECT_EQ(*r->temperatureHundredths, 2150);
    r = DecodeSensorText(SensorHexText(SensorReply(-1000, -525)));
    ASSERT_TRUE(r);
    EXPECT_EQ(r->elevationThousandths, -1000);
    EXPECT_EQ(*r->temperatureHundredths, -525);
    // Too short for the elevation; long enough for it but not the temperature.
    EXPECT_FALSE(DecodeSensorText(QString(29, QLatin1Char('0'))));
    r = DecodeSensorText(QString(30, QLatin1Char('F')));
    ASSERT_TRUE(r);
    EXPECT_EQ(r->elevationThousandths, -1);
    EXPECT_FALSE(r->temperatureHundredths);
}

TEST(SensorText, ElevationRoundsToOneDecimal) {
    EXPECT_EQ(ElevationText(ElevationTenths(700)), "0.7");
    EXPECT_EQ(ElevationText(ElevationTenths(-1000)), "-1.0");
    EXPECT_EQ(ElevationText(ElevationTenths(250)), "0.3"); // half away from zero
    EXPECT_EQ(ElevationText(ElevationTenths(-250)), "-0.3");
    EXPECT_EQ(ElevationText(ElevationTenths(249)), "0.2");
    EXPECT_EQ(ElevationText(ElevationTenths(45678)), "45.7");
    EXPECT_EQ(ElevationText(ElevationTenths(-40)), "0.0");
    EXPECT_EQ(ElevationText(ElevationTenths(std::numeric_limits<qint32>::min())), "-2147483.6");
}

TEST(HeadingCommands, ThreeDigitsAndRefusals) {
    EXPECT_EQ(HeadingCommand("45"), QByteArray("AP1045\r;"));
    EXPECT_EQ(HeadingCommand("000"), QByteArray("AP1000\r;"));
    EXPECT_EQ(HeadingCommand("359.6"), QByteArray("AP1360\r;"));
    EXPECT_EQ(HeadingCommand(" 7 "), QByteArray("AP1007\r;"));
    for (const char* bad : {"", "abc", "-5", "361", "1e9", "nan"})
        EXPECT_TRUE(HeadingCommand(bad).isEmpty()) << bad;
    EXPECT_EQ(SecondEntryCommand("7"), QByteArray("AW1007;"));
    EXPECT_EQ(SecondEntryCommand("999"), QByteArray("AW1999;"));
    EXPECT_TRUE(SecondEntryCommand("1000").isEmpty());
    EXPECT_TRUE(SecondEntryCommand("x").isEmpty());
}

class RotorTest : public ::testing::Test {
protected:
    void SetUp() override {
        ResetProgram();
        ASSERT_TRUE(station.ok());
        com3 = OpenOn(station.sensor());
        com3->setInputMode(SerialPort::InputMode::Binary);
        com3->setReceiveThreshold(1);
        com4 = OpenOn(station.rotor(), true, "4800,n,8,1");
        ASSERT_TRUE(com3->isOpen() && com4->isOpen());
        rotor = std::make_unique<RotorControl>(com3.get(), com4.get(), &recorder.board, &held);
        rotor->PulseLength = 5; // keeps the tests quick; the length itself is not under test
        QObject::connect(rotor.get(), &RotorControl::label30Changed,
                         [this](const QString& t) { label30History << t; });
        recorder.clear();
    }

    // Two ticks: the second reads the answers to the first one's polls. Answers still under
    // way from earlier ticks are drained first.
    void TwoTicks() {
        Settle(40);
        com3->readAll();
        com4->readAll();
        const int queries = station.sensor()->queries;
        rotor->PollTick();
        WaitFor([&] { return station.sensor()->queries > queries; });
        Settle(40); // the answers reach the ports
        recorder.clear();
        rotor->PollTick();
        // A pulse ends from its timer.
        WaitFor([&] { return !rotor->pulseRunning(); }, 1000);
    }

    AppFirst app;
    Recorder recorder;
    SimStation station;
    std::unique_ptr<SerialPort> com3, com4;
    bool held = false;
    std::unique_ptr<RotorControl> rotor;
    QStringList label30History;
};

TEST_F(RotorTest, AzimuthButtonsAndHeadings) {
    QList<QColor> stopColours;
    QObject::connect(rotor.get(), &RotorControl::rotorStopColourChanged,
                     [&](const QColor& c) { stopColours << c; });
    rotor->AziL();
    rotor->AziR();
    rotor->RotorStop();
    EXPECT_EQ(ReceivedBy(station.rotor(), 9), QByteArray("AA;AB;ST;"));
    EXPECT_EQ(stopColours, QList<QColor>{QColor(255, 0, 0)});
    station.rotor()->clearRecord();

    QString text160 = "45";
    EXPECT_TRUE(rotor->TurnToHeading(text160));
    EXPECT_EQ(ReceivedBy(station.rotor(), 8), QByteArray("AP1045\r;"));
    EXPECT_TRUE(station.rotor()->understood().contains("Rotor: turn to 045"));
    station.rotor()->clearRecord();
    text160.clear();
    EXPECT_TRUE(rotor->TurnToHeading(text160));
    EXPECT_EQ(text160, "000");
    EXPECT_EQ(ReceivedBy(station.rotor(), 8), QByteArray("AP1000\r;"));
    station.rotor()->clearRecord();
    EXPECT_TRUE(rotor->Text177Enter("12"));
    EXPECT_EQ(ReceivedBy(station.rotor(), 7), QByteArray("AW1012;"));
    station.rotor()->clearRecord();
    // A box that holds no heading sends nothing.
    text160 = "north";
    EXPECT_FALSE(rotor->TurnToHeading(text160));
    Settle(100);
    EXPECT_TRUE(station.rotor()->received().isEmpty());
}

TEST_F(RotorTest, PollingShowsAzimuthElevationAndTemperature) {
    station.rotor()->azimuth = 123;
    QStringList label1, label31;
    QObject::connect(rotor.get(), &RotorControl::label1Changed,
                     [&](const QString& t) { label1 << t; });
    QObject::connect(rotor.get(), &RotorControl::label31Changed,
                     [&](const QString& t) { label31 << t; });
    rotor->PollTick();
    EXPECT_EQ(ReceivedBy(station.rotor(), 4), QByteArray("AI1;"));
    EXPECT_EQ(ReceivedBy(station.sensor(), 3), Bytes({0x7F, 0x01, 0x87}));
    // Nothing has come back yet when the first tick reads: the label is emptied, the
    // elevation part of the tick is skipped.
    EXPECT_EQ(label1, QStringList{""});
    EXPECT_TRUE(label30History.isEmpty());
    TwoTicks();
    EXPECT_EQ(rotor->Label1, "123");
    EXPECT_EQ(rotor->Label31, "Temp = 21.5");
    EXPECT_EQ(label31.last(), "Temp = 21.5");
    // "Ele = " while reading, then the number alone.
    EXPECT_TRUE(label30History.contains("Ele = 0.7"));
    EXPECT_EQ(rotor->Label30, "0.7");
    EXPECT_EQ(rotor->elevationTenths, 7);
}

TEST_F(RotorTest, AutomaticHoldPulsesTowardsTheWindow) {
    rotor->EleAuto = true;
    struct Case {
        qint32 thousandths;
        QStringList calls;
    };
    const QStringList up{"UsbSetIODir(0,19,1)", "UsbSetIOState(0,19,1)", "UsbSetIOState(0,19,0)"};
    const QStringList down{"UsbSetIODir(0,18,1)", "UsbSetIOState(0,18,1)", "UsbSetIOState(0,18,0)"};
    const Case cases[] = {{700, {}},  {300, up}, {1200, down}, {-1000, up},  {400, {}},
                          {1000, {}}, {350, {}}, {1049, {}},   {1050, down}, {349, up}};
    for (const Case& c : cases) {
        station.sensor()->elevationThousandths = c.thousandths;
        TwoTicks();
        EXPECT_EQ(recorder.calls(), c.calls) << c.thousandths;
    }
    // The hold is off: no pulse whatever the elevation.
    rotor->EleAuto = false;
    station.sensor()->elevationThousandths = 300;
    TwoTicks();
    EXPECT_TRUE(recorder.calls().isEmpty());
}

TEST_F(RotorTest, ShortOrMissingRepliesEndTheTickQuietly) {
    rotor->EleAuto = true;
    TwoTicks();
    ASSERT_EQ(rotor->Label30, "0.7");
    QList<bool> appearance;
    QObject::connect(rotor.get(), &RotorControl::eleAutoChanged,
                     [&](bool on) { appearance << on; });
    // A reply of 10 bytes gives no elevation: labels and lines stay.
    station.sensor()->replyOverride = QByteArray(10, '\x11');
    station.sensor()->elevationThousandths = 100;
    TwoTicks();
    EXPECT_EQ(rotor->Label30, "0.7");
    EXPECT_TRUE(recorder.calls().isEmpty());
    EXPECT_TRUE(appearance.isEmpty());
    // An empty reply likewise.
    station.sensor()->replyOverride = QByteArray();
    TwoTicks();
    EXPECT_EQ(rotor->Label30, "0.7");
    EXPECT_TRUE(recorder.calls().isEmpty());
    // 15 bytes reach the elevation but not the temperature: the elevation counts.
    station.sensor()->replyOverride = SensorReply(300, 0).left(15);
    TwoTicks();
    EXPECT_EQ(rotor->Label30, "0.3");
    EXPECT_EQ(recorder.calls(), (QStringList{"UsbSetIODir(0,19,1)", "UsbSetIOState(0,19,1)",
                                             "UsbSetIOState(0,19,0)"}));
}

TEST_F(RotorTest, ClosedRotorPortDoesNotStopTheElevationHold) {
    com4->close();
    rotor->EleAuto = true;
    station.sensor()->elevationThousandths = 1200;
    rotor->PollTick();
    WaitFor([&] { return com3->inBufferCount() >= 18; });
    recorder.clear();
    rotor->PollTick();
    EXPECT_EQ(rotor->Label30, "1.2");
    EXPECT_EQ(recorder.calls().value(1), "UsbSetIOState(0,18,1)");
    EXPECT_TRUE(station.rotor()->received().isEmpty());
    // Both ports closed: the tick does nothing and fails nothing.
    com3->close();
    recorder.clear();
    rotor->PollTick();
    EXPECT_TRUE(recorder.calls().isEmpty());
}

// The motor runs from the press until the press ends, while the window goes on working: the
// main timer ticks during the hold, its automatic correction skipped because the press made the
// hold manual. Whatever ends a press (its release, or the release of another held button, which
// drops the shared flag) switches the line off; a destroyed control lets go of it too.
TEST_F(RotorTest, HeldElevationRunsUntilThePressEndsInAnyWay) {
    rotor->EleAuto = true;
    QList<bool> appearance;
    QObject::connect(rotor.get(), &RotorControl::eleAutoChanged,
                     [&](bool on) { appearance << on; });
    rotor->EleDwnMouseDown();
    EXPECT_FALSE(rotor->EleAuto);
    EXPECT_EQ(appearance.first(), false);
    EXPECT_TRUE(held);
    EXPECT_EQ(recorder.calls(), (QStringList{"UsbSetIODir(0,18,1)", "UsbSetIOState(0,18,1)"}));
    station.sensor()->elevationThousandths = 100;
    TwoTicks();
    EXPECT_TRUE(recorder.calls().isEmpty()) << "no automatic pulse while held";
    EXPECT_TRUE(rotor->elevationHeld());
    rotor->EleMouseUp();
    EXPECT_FALSE(held);
    EXPECT_EQ(recorder.calls(), QStringList{"UsbSetIOState(0,18,0)"});

    // Another held button let go drops the shared flag: the motor stops from the watch timer.
    RigControl rig(Program(), nullptr, nullptr, nullptr);
    RotorControl shared(com3.get(), com4.get(), &recorder.board, rig.buttonHeldFlag());
    recorder.clear();
    shared.EleUpMouseDown();
    rig.FreqUpMouseDown();
    rig.FreqMouseUp();
    EXPECT_FALSE(rig.ButtonHeld());
    EXPECT_TRUE(WaitFor([&] { return !shared.elevationHeld(); }, 1000));
    EXPECT_EQ(recorder.calls(), (QStringList{"UsbSetIODir(0,19,1)", "UsbSetIOState(0,19,1)",
                                             "UsbSetIOState(0,19,0)"}));

    // Up pressed while down is held: both lines run until the press ends, then both stop,
    // the later one first.
    recorder.clear();
    {
        RotorControl twice(com3.get(), com4.get(), &recorder.board, nullptr);
        twice.EleDwnMouseDown();
        twice.EleUpMouseDown();
        twice.EleMouseUp();
        EXPECT_EQ(recorder.calls(),
                  (QStringList{"UsbSetIODir(0,18,1)", "UsbSetIOState(0,18,1)",
                               "UsbSetIODir(0,19,1)", "UsbSetIOState(0,19,1)",
                               "UsbSetIOState(0,19,0)", "UsbSetIOState(0,18,0)"}));
        // Destroyed while held or pulsing: nothing is left switched on.
        recorder.clear();
        twice.EleUpMouseDown();
        twice.PulseLength = 10000;
        twice.ElevationPulse(false);
    }
    EXPECT_FALSE(recorder.board.level(BoardLine::ElevationUp));
    EXPECT_FALSE(recorder.board.level(BoardLine::ElevationDown));
}

TEST(EleAutoLook, ColoursAndCaptions) {
    EXPECT_EQ(RotorControl::EleAutoColour(true), QColor(0, 255, 0));
    EXPECT_EQ(RotorControl::EleAutoColour(false), QColor(255, 255, 0));
    EXPECT_EQ(RotorControl::EleAutoCaption(true), "Ele Auto");
    EXPECT_EQ(RotorControl::EleAutoCaption(false), "Ele manu");
}

} // namespace
