// The whole station as the main window drives it: ports opened by the port numbers of the
// first-run settings, which the simulator's FARSCAN_COM<N> assignments point at its devices.

#include "RigPanel.h"
#include "RigTestSupport.h"
#include "SimStation.h"

#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTest>

#include "OptionGroup.h"

class TestStation : public QObject {
    Q_OBJECT

private slots:
    void operatorRoundThroughTheSimulatedStation() {
        ResetProgram();
        SimStation sim;
        QVERIFY(sim.ok());
        sim.exportEnvironment();
        sim.rotor()->degreesPerSecond = 90;
        sim.sensor()->elevationThousandths = 300;

        // Ports as the main window configures them.
        const struct {
            const char* number;
            const char* settings;
        } config[4] = {
            {"10", "9600,n,8,1"}, {"11", "9600,n,8,1"}, {"1", "9600,n,8,1"}, {"12", "4800,n,8,1"}};
        std::unique_ptr<SerialPort> com[4];
        for (int i = 0; i < 4; ++i) {
            com[i] = CreateSystemSerialPort();
            com[i]->setPort(config[i].number);
            com[i]->setSettings(config[i].settings);
            QVERIFY2(com[i]->open(), qPrintable(com[i]->lastError()));
        }
        com[2]->setInputMode(SerialPort::InputMode::Binary);
        com[2]->setReceiveThreshold(1);

        Recorder recorder;
        RigStation station(Program(), com[0].get(), com[1].get(), com[2].get(), com[3].get(),
                           &recorder.board, nullptr);
        station.rig().Com1Enabled = [] { return true; };
        station.rig().Check2 = station.rig().Check3 = [] { return false; };
        RigPanel rigPanel(&station);
        RotorPanel rotorPanel(&station);

        // Load: tuning step 1, the saved band, the saved frequency, CAT on.
        rigPanel.loadOptions(5);
        QCOMPARE(rigPanel.formatFre()->text(), QString("10224")); // no frequency yet
        rigPanel.loadRigFrequency(14420000, "14420000");
        for (int n : {0, 1})
            com[n]->write(QByteArray(5, '\0'));
        QCOMPARE(rigPanel.formatFre()->text(), QString("10368.2"));

        // The "200" preset, then the 432 MHz band.
        QTest::mouseClick(rigPanel.optFT847()->button(2), Qt::LeftButton);
        QTest::mouseClick(rigPanel.optBandV()->button(3), Qt::LeftButton);
        QVERIFY(WaitFor(
            [&] { return sim.com2()->understood().contains("FT-847: frequency 432.200 00 MHz"); }));
        QVERIFY(WaitFor([&] {
            return sim.com1Ft847()->understood().contains("FT-847: frequency 144.200 00 MHz");
        }));
        QCOMPARE(sim.com1Ft847()->understood().first(), QString("FT-847: CAT on"));
        QCOMPARE(sim.com1Ft847()->mode, quint8(0x01)); // the band click's USB frame
        QCOMPARE(rigPanel.formatFre()->text(), QString("432.2"));

        // Turn the antenna and let the timer poll until the rotor reports the heading.
        rotorPanel.eleAuto()->setChecked(true);
        QTest::keyClicks(rotorPanel.text160(), "45");
        QTest::keyClick(rotorPanel.text160(), Qt::Key_Return);
        QVERIFY(WaitFor(
            [&] {
                rotorPanel.timerTick();
                return rotorPanel.label1()->text() == "045";
            },
            5000));
        // Meanwhile the hold saw 0.3 degrees and pulsed the elevation up.
        QCOMPARE(rotorPanel.label30()->text(), QString("0.3"));
        QVERIFY(recorder.calls().contains("UsbSetIOState(0,19,1)"));
        QVERIFY(!recorder.calls().contains("UsbSetIOState(0,18,1)"));
        QCOMPARE(rotorPanel.label31()->text(), QString("Temp = 21.5"));
        QCOMPARE(station.unloadValues().bandIndex, 5);
        QCOMPARE(station.unloadValues().rigFrequency, qint64(43220000));
    }
};

QTEST_MAIN(TestStation)
#include "tst_station.moc"
