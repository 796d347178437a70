// CAT control through real serial ports on the simulated transceivers: the exact bytes each
// transceiver receives.

#include "RigCat.h"
#include "RigControl.h"
#include "RigTestSupport.h"
#include "SimStation.h"

#include <QTimer>
#include <gtest/gtest.h>
#include <utility>

namespace {

class CatTest : public ::testing::Test {
protected:
    void SetUp() override {
        EnsureApplication();
        ResetProgram();
        ASSERT_TRUE(station.ok());
        com1 = OpenOn(station.com1());
        com2 = OpenOn(station.com2());
        ASSERT_TRUE(com1->isOpen()) << qPrintable(com1->lastError());
        ASSERT_TRUE(com2->isOpen()) << qPrintable(com2->lastError());
        rig = std::make_unique<RigControl>(Program(), com1.get(), com2.get(), nullptr);
        rig->Check2 = [this] { return check2; };
        rig->Check3 = [this] { return check3; };
        rig->Com1Enabled = [this] { return com1Enabled; };
    }

    // Sets RigFreqText and tunes with a copy, as every caller does.
    void Tune(const QString& text) {
        Program().RigFreqText = text;
        QString copy = text;
        rig->SetRigFrequency(copy);
    }

    AppFirst app;
    SimStation station;
    std::unique_ptr<SerialPort> com1, com2;
    std::unique_ptr<RigControl> rig;
    bool check2 = false, check3 = false, com1Enabled = true;
};

TEST(RigCatFrames, FixedFramesAndFrequencyPacking) {
    FakeSerialPort port;
    port.setPort(QStringLiteral("10"));
    ASSERT_TRUE(port.open());
    CatTransceiver ft847(Ft847Model(), &port);
    auto sent = [&port](bool ok) {
        EXPECT_TRUE(ok);
        return std::exchange(port.written, QByteArray());
    };
    EXPECT_EQ(sent(ft847.catOn()), Bytes({0, 0, 0, 0, 0}));
    EXPECT_EQ(sent(ft847.setMode(Transceiver::Mode::Usb)), Bytes({1, 0, 0, 0, 7}));
    EXPECT_EQ(sent(ft847.setMode(Transceiver::Mode::Cw)), Bytes({2, 0, 0, 0, 7}));
    EXPECT_EQ(sent(ft847.setPtt(true)), Bytes({0, 0, 0, 0, 0x08}));
    EXPECT_EQ(sent(ft847.setPtt(false)), Bytes({0, 0, 0, 0, 0x88}));
    EXPECT_EQ(RigCat::FrequencyFrame("14420000", false), Bytes({0x14, 0x42, 0, 0, 1}));
    EXPECT_EQ(RigCat::FrequencyFrame("5020000", true), Bytes({0x05, 0x02, 0, 0, 1}));
    // Without the 50 MHz option a 7-digit text is filled to 8 digits.
    EXPECT_EQ(RigCat::FrequencyFrame("5020000", false), Bytes({0x50, 0x20, 0, 0, 1}));
    // kHz texts become 10 Hz units by the filling.
    EXPECT_EQ(RigCat::FrequencyFrame("144410", false), Bytes({0x14, 0x44, 0x10, 0, 1}));
    EXPECT_EQ(RigCat::FrequencyFrame("50020", true), Bytes({0x05, 0x00, 0x20, 0, 1}));
    EXPECT_EQ(RigCat::FrequencyFrame("  43220000 ", false), Bytes({0x43, 0x22, 0, 0, 1}));
    EXPECT_EQ(RigCat::FrequencyFrame("99999999", false), Bytes({0x99, 0x99, 0x99, 0x99, 1}));
    // Texts that name no frequency the frame can carry.
    EXPECT_TRUE(RigCat::FrequencyFrame("123456789", false).isEmpty());
    EXPECT_TRUE(RigCat::FrequencyFrame("", false).isEmpty());
    EXPECT_TRUE(RigCat::FrequencyFrame("144.200", false).isEmpty());
    EXPECT_TRUE(RigCat::FrequencyFrame("-1442000", false).isEmpty());
}

TEST(RigCatFrames, TextFrequencyCommandAlwaysHasNineDigits) {
    EXPECT_EQ(RigCat::TextFrequencyCommand("14420000"), "FA144200000;");
    EXPECT_EQ(RigCat::TextFrequencyCommand("144410"), "FA144410000;");
    EXPECT_EQ(RigCat::TextFrequencyCommand("5020000"), "FA050200000;");
    EXPECT_EQ(RigCat::TextFrequencyCommand("50020"), "FA050020000;");
    EXPECT_EQ(RigCat::TextFrequencyCommand(" 43220000 "), "FA432200000;");
    for (const char* bad : {"", "1442", "123456789", "14a20000", "+1442000"})
        EXPECT_TRUE(RigCat::TextFrequencyCommand(bad).isEmpty()) << bad;
}

TEST_F(CatTest, DigitTextToCom2ThenFrameToCom1) {
    Program().RigPort = "Com1";
    Tune("14420000");
    EXPECT_EQ(ReceivedBy(station.com2(), 8), QByteArray("14420000"));
    EXPECT_EQ(ReceivedBy(station.com1(), 5), Bytes({0x14, 0x42, 0, 0, 1}));
    EXPECT_TRUE(station.com1Ft847()->understood().contains("FT-847: frequency 144.200 00 MHz"));
}

// A port that logs its writes, with its name, into a log shared with other ports.
class LoggingPort : public FakeSerialPort {
public:
    LoggingPort(QString name, QStringList* log) : m_name(std::move(name)), m_log(log) {}

protected:
    qint64 writeBytes(const QByteArray& bytes) override {
        *m_log << m_name + QLatin1Char(' ') + QString::fromLatin1(bytes.toHex(' '));
        return FakeSerialPort::writeBytes(bytes);
    }

private:
    QString m_name;
    QStringList* m_log;
};

TEST(CatOrder, DigitsGoToCom2BeforeTheFrameGoesToCom1) {
    EnsureApplication();
    ResetProgram();
    QStringList log;
    LoggingPort com1("Com1", &log), com2("Com2", &log);
    com1.setPort("10");
    com2.setPort("11");
    RigControl rig(Program(), &com1, &com2, nullptr);
    rig.Check2 = [] { return false; };
    Program().RigPort = "Com1";
    Program().RigFreqText = "14420000";
    QString copy = Program().RigFreqText;
    rig.SetRigFrequency(copy); // opens both closed ports first
    EXPECT_EQ(log, (QStringList{"Com2 31 34 34 32 30 30 30 30", "Com1 14 42 00 00 01"}));
}

TEST_F(CatTest, TrimsTheCallersTextAndFillsKhzTexts) {
    Program().RigPort = "Com1";
    Program().RigFreqText = " 14420000 ";
    QString text = Program().RigFreqText;
    EXPECT_TRUE(rig->SetRigFrequency(text));
    EXPECT_EQ(text, "14420000");
    EXPECT_EQ(ReceivedBy(station.com1(), 5), Bytes({0x14, 0x42, 0, 0, 1}));
    station.com1()->clearRecord();
    Tune("144410");
    EXPECT_EQ(ReceivedBy(station.com1(), 5), Bytes({0x14, 0x44, 0x10, 0, 1}));
}

TEST_F(CatTest, FiftyMegahertzOptionFillsToSevenDigits) {
    Program().RigPort = "Com2";
    rig->OptBandVValue = 1;
    Tune("5020000");
    EXPECT_EQ(ReceivedBy(station.com2(), 12), QByteArray("5020000") + Bytes({5, 2, 0, 0, 1}));
    station.com2()->clearRecord();
    Tune("50020");
    EXPECT_EQ(ReceivedBy(station.com2(), 10), QByteArray("50020") + Bytes({5, 0, 0x20, 0, 1}));
    EXPECT_TRUE(station.com2()->understood().contains("FT-847: frequency 50.020 00 MHz"));
}

TEST_F(CatTest, TextPathOnCom1WhenCheck2IsTicked) {
    check2 = true;
    Program().RigPort = "Com1";
    Tune("14420000");
    EXPECT_EQ(ReceivedBy(station.com1(), 12), QByteArray("FA144200000;"));
    station.com1()->clearRecord();
    Tune("144410");
    EXPECT_EQ(ReceivedBy(station.com1(), 12), QByteArray("FA144410000;"));
    // The FT-847 frame path is not taken.
    EXPECT_FALSE(station.com1()->received().contains(char(0x01)));
}

TEST_F(CatTest, TextPathOnCom2GetsNineDigitsForSevenAndFiveDigitTexts) {
    check3 = true;
    Program().RigPort = "Com2";
    rig->OptBandVValue = 1;
    Tune("5020000");
    EXPECT_EQ(ReceivedBy(station.com2(), 19), QByteArray("5020000FA050200000;"));
    station.com2()->clearRecord();
    Tune("50020");
    EXPECT_EQ(ReceivedBy(station.com2(), 17), QByteArray("50020FA050020000;"));
}

TEST_F(CatTest, TextsThatNameNoFrequencySendNothingToTheTransceiver) {
    Program().RigPort = "Com1";
    for (const char* bad : {"123456789", "14a20000", ""}) {
        Program().RigFreqText = bad;
        QString copy = bad;
        EXPECT_FALSE(rig->SetRigFrequency(copy)) << bad;
    }
    Settle(150);
    EXPECT_TRUE(station.com1()->received().isEmpty());
    // The digit text still goes to Com2 on every call, as it stands.
    EXPECT_EQ(station.com2()->received(), QByteArray("12345678914a20000"));
}

TEST_F(CatTest, OpensClosedPortsBeforeTuning) {
    com1->close();
    com2->close();
    Program().RigPort = "Com1";
    Tune("14420000");
    EXPECT_TRUE(com1->isOpen());
    EXPECT_TRUE(com2->isOpen());
    EXPECT_EQ(ReceivedBy(station.com1(), 5), Bytes({0x14, 0x42, 0, 0, 1}));
}

TEST_F(CatTest, WritesToClosedPortsAreSkipped) {
    com1->close();
    com2->setPort("/nonexistent/tty");
    com2->close();
    Program().RigPort = "Com2";
    // Mode, PTT and text commands do not open the port; nothing is sent, nothing breaks.
    rig->TxRx(true);
    EXPECT_FALSE(rig->transceiver(1)->setMode(Transceiver::Mode::Cw));
    rig->OptFT847(5);
    // The tuning routine opens Com1 but Com2 cannot open: no frame anywhere.
    Tune("14420000");
    EXPECT_TRUE(com1->isOpen());
    EXPECT_FALSE(com2->isOpen());
    Settle(150);
    EXPECT_TRUE(station.com1()->received().isEmpty());
    EXPECT_TRUE(station.com2()->received().isEmpty());
    EXPECT_FALSE(RigCat::Send(nullptr, Bytes({0, 0, 0, 0, 0})));
}

TEST_F(CatTest, PresetButtonsOnTheFramePath) {
    Program().RigPort = "Com1";
    rig->OptFT847(2); // "200": USB, then 144.200
    EXPECT_EQ(ReceivedBy(station.com1(), 10), Bytes({1, 0, 0, 0, 7, 0x14, 0x42, 0, 0, 1}));
    EXPECT_EQ(Program().RigFrequency, 14420000);
    station.com1()->clearRecord();
    rig->OptFT847(1); // "100": CW, then 144.100
    EXPECT_EQ(ReceivedBy(station.com1(), 10), Bytes({2, 0, 0, 0, 7, 0x14, 0x41, 0, 0, 1}));
    station.com1()->clearRecord();
    rig->OptFT847(3); // "900": USB, then 144.900
    EXPECT_EQ(ReceivedBy(station.com1(), 10), Bytes({1, 0, 0, 0, 7, 0x14, 0x49, 0, 0, 1}));
    station.com1()->clearRecord();
    rig->OptFT847(4);
    rig->OptFT847(5);
    EXPECT_EQ(ReceivedBy(station.com1(), 10), Bytes({2, 0, 0, 0, 7, 1, 0, 0, 0, 7}));
    EXPECT_EQ(Program().RigFrequency, 14490000); // modes leave the frequency
}

TEST_F(CatTest, PresetTwoHundredOnCom2SetsCwAndTheBandsFrequency) {
    Program().RigPort = "Com2";
    const QByteArray cw = Bytes({2, 0, 0, 0, 7});
    const QByteArray expected[3] = {cw + "5020000" + Bytes({5, 2, 0, 0, 1}),
                                    cw + "14420000" + Bytes({0x14, 0x42, 0, 0, 1}),
                                    cw + "43220000" + Bytes({0x43, 0x22, 0, 0, 1})};
    for (int vhf = 1; vhf <= 3; ++vhf) {
        station.com2()->clearRecord();
        rig->VhfBandIndex = vhf;
        rig->OptBandVValue = vhf;
        rig->OptFT847(2);
        EXPECT_EQ(ReceivedBy(station.com2(), int(expected[vhf - 1].size())), expected[vhf - 1])
            << vhf;
    }
    EXPECT_EQ(station.com2()->ptt, false);
    EXPECT_TRUE(station.com1()->received().isEmpty());
}

TEST_F(CatTest, PresetsOnCom2WithoutADirectBandSendNothing) {
    Program().RigPort = "Com2";
    Program().RigFrequency = 123;
    rig->VhfBandIndex = 0;
    for (int i = 1; i <= 3; ++i)
        rig->OptFT847(i);
    Settle(150);
    EXPECT_TRUE(station.com2()->received().isEmpty());
    EXPECT_EQ(Program().RigFrequency, 123);
}

TEST_F(CatTest, PresetButtonsOnTheTextPath) {
    check2 = true;
    Program().RigPort = "Com1";
    rig->OptFT847(1);
    EXPECT_EQ(ReceivedBy(station.com1(), 17), QByteArray("MD03;FA144100000;"));
    station.com1()->clearRecord();
    rig->OptFT847(2);
    EXPECT_EQ(ReceivedBy(station.com1(), 17), QByteArray("FA144200000;MD03;"));
    station.com1()->clearRecord();
    rig->OptFT847(3);
    rig->OptFT847(4);
    rig->OptFT847(5);
    EXPECT_EQ(ReceivedBy(station.com1(), 22), QByteArray("FA144900000;MD03;MD02;"));
    EXPECT_EQ(Program().RigFrequency, 14490000);
    // The text path does not go through the tuning routine: nothing on Com2.
    EXPECT_TRUE(station.com2()->received().isEmpty());
}

TEST_F(CatTest, PresetButtonsWithCom1DisabledOnlyReport) {
    com1Enabled = false;
    com1->setPort("10");
    QStringList messages;
    QObject::connect(rig.get(), &RigControl::com1NotOpen, [&](const QString& m) { messages << m; });
    Program().RigPort = "Com1";
    rig->OptFT847(2);
    EXPECT_EQ(messages, QStringList{"Com1(10) not Open"});
    Settle(150);
    EXPECT_TRUE(station.com1()->received().isEmpty());
    EXPECT_TRUE(station.com2()->received().isEmpty());
}

// The tuning buttons step from a timer while held: a click makes exactly one step; a held
// button steps until released, each step once the last one's frames are on the line; a second
// button pressed while one is held takes over, and one release ends both.
TEST_F(CatTest, HeldTuningStepsFromATimerUntilReleased) {
    Program().RigPort = "Com1";
    Program().RigFrequency = 14420000;
    rig->OptQRG = 3; // "10kHz": 100 units, 1 kHz
    rig->TransverterOffset = 1022400000;
    rig->FreqUpMouseDown();
    rig->FreqMouseUp();
    EXPECT_EQ(Program().RigFrequency, 14420100);
    EXPECT_EQ(Program().RigFreqText, "14420100");
    EXPECT_EQ(rig->formatFre, "10368.201");
    EXPECT_EQ(ReceivedBy(station.com1(), 5), Bytes({0x14, 0x42, 0x01, 0x00, 1}));
    EXPECT_EQ(ReceivedBy(station.com2(), 8), QByteArray("14420100"));
    Settle(100);
    EXPECT_EQ(Program().RigFrequency, 14420100) << "no step after the release";
    station.com1()->clearRecord();

    rig->OptQRG = 1; // 10 Hz steps
    int steps = 0;
    auto counter = QObject::connect(rig.get(), &RigControl::formatFreChanged, [&] {
        if (++steps == 5)
            rig->FreqMouseUp();
    });
    rig->FreqDwnMouseDown();
    EXPECT_TRUE(rig->tuningHeld());
    EXPECT_TRUE(WaitFor([&] { return steps == 5; }));
    Settle(100);
    EXPECT_EQ(steps, 5);
    EXPECT_FALSE(rig->tuningHeld());
    EXPECT_EQ(Program().RigFrequency, 14420095);
    const QByteArray got = ReceivedBy(station.com1(), 25);
    EXPECT_EQ(got.size(), 25);
    EXPECT_EQ(got.right(5), Bytes({0x14, 0x42, 0x00, 0x95, 1}));
    QObject::disconnect(counter);

    // Up held, then down pressed: one step up, the down steps, and one release ends both.
    Program().RigFrequency = 14420000;
    rig->OptQRG = 2;
    steps = 0;
    QObject::connect(rig.get(), &RigControl::formatFreChanged, [&] { ++steps; });
    rig->FreqUpMouseDown();
    rig->FreqDwnMouseDown();
    EXPECT_TRUE(WaitFor([&] { return steps == 4; }));
    rig->FreqMouseUp();
    Settle(100);
    EXPECT_FALSE(rig->ButtonHeld());
    EXPECT_EQ(Program().RigFrequency, 14420000 + 10 - 30);
}

TEST_F(CatTest, HeldTuningKeepsPaceWithTheLine) {
    EXPECT_EQ(LineTimeMs(com1.get(), 13), 14); // 9600 baud, 10 bits a byte
    EXPECT_EQ(LineTimeMs(nullptr, 13), 0);
    for (SerialPort* p : {com1.get(), com2.get()}) {
        p->close();
        p->setSettings("300,n,8,1");
        ASSERT_TRUE(p->open());
    }
    EXPECT_EQ(LineTimeMs(com2.get(), 8), 267);
    Program().RigPort = "Com1";
    Program().RigFrequency = 14420000;
    rig->OptQRG = 1;
    int steps = 0;
    QObject::connect(rig.get(), &RigControl::formatFreChanged, [&] { ++steps; });
    // Released long before the first step's 8 digits have gone out at 300 baud.
    rig->FreqUpMouseDown();
    Settle(60);
    rig->FreqMouseUp();
    Settle(400);
    EXPECT_EQ(steps, 1);
    EXPECT_EQ(ReceivedBy(station.com1(), 5), Bytes({0x14, 0x42, 0x00, 0x01, 1}));
}

TEST_F(CatTest, TransmitToggleUsesTheRigPortAndFramesOnly) {
    check2 = true; // frames whatever the protocol
    QList<QColor> colours;
    QObject::connect(rig.get(), &RigControl::txRxColourChanged,
                     [&](const QColor& c) { colours << c; });
    Program().RigPort = "Com1";
    rig->TxRx(true);
    rig->TxRx(false);
    EXPECT_EQ(ReceivedBy(station.com1(), 10), Bytes({0, 0, 0, 0, 8, 0, 0, 0, 0, 0x88}));
    Program().RigPort = "Com2";
    rig->TxRx(true);
    EXPECT_EQ(ReceivedBy(station.com2(), 5), Bytes({0, 0, 0, 0, 8}));
    EXPECT_EQ(colours, (QList<QColor>{QColor(255, 0, 0), QColor(0, 255, 0), QColor(255, 0, 0)}));
    EXPECT_TRUE(station.com2()->ptt);
}

// Each model keeps its own table: the keying commands and the pause an FT-991 needs before it.
TEST_F(CatTest, TransceiverModelsKeyTheTransmitterInTheirOwnWay) {
    check2 = true;
    Transceiver* ft991 = rig->transceiver(1);
    EXPECT_EQ(ft991->model(), "FT-991");
    EXPECT_EQ(ft991->keyingDelayMs(), 1000);
    EXPECT_TRUE(ft991->keyTransmitter(true));
    EXPECT_TRUE(ft991->keyTransmitter(false));
    EXPECT_EQ(ReceivedBy(station.com1(), 8), QByteArray("TX1;TX0;"));
    check2 = false;
    Transceiver* ft847 = rig->transceiver(1);
    EXPECT_EQ(ft847->model(), "FT-847");
    EXPECT_EQ(ft847->keyingDelayMs(), 0);
    station.com1()->clearRecord();
    EXPECT_TRUE(ft847->keyTransmitter(true));
    EXPECT_EQ(ReceivedBy(station.com1(), 5), Bytes({0, 0, 0, 0, 8}));
    EXPECT_EQ(rig->transceiver(2)->model(), "FT-847");
    EXPECT_EQ(rig->transceiver(3), nullptr);
    com1->close();
    EXPECT_FALSE(ft847->keyTransmitter(false)) << "a closed port sends nothing";
}

} // namespace
