// The rig and rotor panels: control names, captions and accessible names, and the events the
// main window and the operator send them.

#include "Antenna.h"
#include "OptionGroup.h"
#include "RigCat.h"
#include "RigPanel.h"
#include "RigTestSupport.h"

#include <QAbstractButton>
#include <QAccessible>
#include <QApplication>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QSignalSpy>
#include <QTest>
#include <QTimer>
#include <functional>

class TestRigPanel : public QObject {
    Q_OBJECT

private:
    struct Station {
        Station() {
            for (FakeSerialPort* p : {&com1, &com2, &com3, &com4}) {
                p->setPort("10");
                p->open();
            }
            com3.setInputMode(SerialPort::InputMode::Binary);
            com3.setReceiveThreshold(1);
            recorder.clear();
        }
        FakeSerialPort com1, com2, com3, com4;
        Recorder recorder;
        RigStation station{Program(), &com1, &com2, &com3, &com4, &recorder.board, nullptr};
        RigPanel rigPanel{&station};
        RotorPanel rotorPanel{&station};
    };

    static QColor Back(QWidget* w) { return w->palette().color(QPalette::Button); }

private slots:
    void init() {
        ResetProgram();
        Program().RigFrequency = 14420000;
    }

    void controlsCarryDesignNamesCaptionsAndAccessibleNames() {
        Station s;
        const struct {
            QWidget* panel;
            const char* name;
            const char* caption;
        } buttons[] = {
            {&s.rigPanel, "FreqUp", nullptr},     {&s.rigPanel, "FreqDwn", nullptr},
            {&s.rigPanel, "TxRx", nullptr},       {&s.rotorPanel, "AziL", "<- AZI"},
            {&s.rotorPanel, "AziR", "AZI->"},     {&s.rotorPanel, "RotorStop", "Rotor Stop"},
            {&s.rotorPanel, "eleup", " Ele  up"}, {&s.rotorPanel, "eleDwn", " Ele dwn"},
            {&s.rotorPanel, "EleAuto", "Auto"}, // until the first sensor reply
        };
        for (const auto& b : buttons) {
            auto* button = b.panel->findChild<QPushButton*>(b.name);
            QVERIFY2(button, b.name);
            if (b.caption)
                QCOMPARE(button->text(), QString(b.caption));
            QVERIFY2(!button->accessibleName().isEmpty(), b.name);
        }
        for (const char* name : {"formatFre", "Label41"})
            QVERIFY(s.rigPanel.findChild<QLabel*>(name));
        for (const char* name : {"Label1", "Label30", "Label31"}) {
            auto* label = s.rotorPanel.findChild<QLabel*>(name);
            QVERIFY2(label && !label->accessibleName().isEmpty(), name);
        }
        for (const char* name : {"Text160", "Text177"}) {
            auto* edit = s.rotorPanel.findChild<QLineEdit*>(name);
            QVERIFY2(edit && !edit->accessibleName().isEmpty(), name);
        }
        auto* bandR = s.rigPanel.findChild<OptionGroup*>("OptBandR");
        QVERIFY(bandR);
        QCOMPARE(bandR->caption(), QString("Band MHz"));
        QCOMPARE(bandR->options(), (QStringList{"1296", "2320", "3400", "5760", "10368", "24048",
                                                "47088", "76032", "122G"}));
        QCOMPARE(bandR->buttonStyle(), OptionGroup::ButtonStyle::Graphical);
        auto* bandV = s.rigPanel.findChild<OptionGroup*>("OptBandV");
        QCOMPARE(bandV->caption(), QString("Band MHz"));
        QCOMPARE(bandV->options(), (QStringList{"50 MHz", "144 MHz", "432 MHz"}));
        QCOMPARE(s.rigPanel.findChild<OptionGroup*>("OptQRG")->options(),
                 (QStringList{"0.1kHz", "1kHz", "10kHz", "100kHz"}));
        auto* ft847 = s.rigPanel.findChild<OptionGroup*>("OptFT847");
        QCOMPARE(ft847->options(), (QStringList{"100", "200", "900", "CW", "SSB"}));
        QCOMPARE(ft847->buttonStyle(), OptionGroup::ButtonStyle::Graphical);
        for (OptionGroup* g : {bandR, bandV, ft847})
            for (int i = 1; i <= g->optionCount(); ++i)
                QVERIFY(!g->button(i)->accessibleName().isEmpty());
    }

    void loadSelectsStepOneAndTheSavedBand() {
        Station s;
        s.rigPanel.loadOptions(5);
        QCOMPARE(s.rigPanel.optQRG()->selected(), 1);
        QCOMPARE(s.station.rig().OptQRG, 1);
        QCOMPARE(s.rigPanel.optBandR()->selected(), 5);
        QCOMPARE(s.rigPanel.formatFre()->text(), QString("10368.2"));
        QCOMPARE(s.recorder.calls().mid(20),
                 (QStringList{"UsbSetIODir(0,3,1)", "UsbSetIOState(0,3,1)"}));
        QVERIFY(s.station.rig().ApplyBandPreset);
        s.rigPanel.loadRigFrequency(144000, "144000");
        QCOMPARE(s.station.unloadValues().bandIndex, 5);
        QCOMPARE(s.station.unloadValues().rigFrequency, qint64(144000));
        QCOMPARE(Program().RigFreqText, QString("144000"));
    }

    void oneBandOfBothGroupsIsSelected() {
        Station s;
        s.rigPanel.loadOptions(5);
        s.com1.written.clear();
        QTest::mouseClick(s.rigPanel.optBandV()->button(2), Qt::LeftButton);
        QCOMPARE(s.rigPanel.optBandV()->selected(), 2);
        QCOMPARE(s.rigPanel.optBandR()->selected(), 0);
        QCOMPARE(s.com1.written, Bytes({1, 0, 0, 0, 7}));
        QCOMPARE(s.com2.written, QByteArray("14420000") + Bytes({0x14, 0x42, 0, 0, 1}));
        QCOMPARE(s.rigPanel.findChild<QLabel*>("Label41")->text(), QString("MHz"));
        QCOMPARE(s.rigPanel.formatFre()->text(), QString("144.2"));
        QCOMPARE(s.station.unloadValues().bandIndex, 5); // the transverter band is kept
        QTest::mouseClick(s.rigPanel.optBandR()->button(9), Qt::LeftButton);
        QCOMPARE(s.rigPanel.optBandV()->selected(), 0);
        QCOMPARE(s.rigPanel.optBandR()->selected(), 9);
        QCOMPARE(Program().RigPort, QString("Com1"));
        QCOMPARE(s.station.unloadValues().bandIndex, 9);
    }

    void transmitToggleColoursAndFrames() {
        Station s;
        Program().RigPort = "Com1";
        s.rigPanel.setTxRx(true);
        QCOMPARE(Back(s.rigPanel.txRxButton()), QColor(255, 0, 0));
        s.rigPanel.setTxRx(true); // no change, no second click
        QTest::mouseClick(s.rigPanel.txRxButton(), Qt::LeftButton);
        QVERIFY(!s.rigPanel.txRx());
        QCOMPARE(Back(s.rigPanel.txRxButton()), QColor(0, 255, 0));
        QCOMPARE(s.com1.written, Bytes({0, 0, 0, 0, 8, 0, 0, 0, 0, 0x88}));
        QVERIFY(s.com2.written.isEmpty());
    }

    void presetWithCom1DisabledShowsTheMessage() {
        Station s;
        s.station.rig().Com1Enabled = [] { return false; };
        QLabel lblCom1;
        s.rigPanel.setCom1Label(&lblCom1);
        QTest::mouseClick(s.rigPanel.optFT847()->button(2), Qt::LeftButton);
        // The message does not stop the window: it is open when the click returns.
        auto* box = s.rigPanel.findChild<QMessageBox*>();
        QVERIFY(box);
        QCOMPARE(box->text(), QString("Com1(10) not Open"));
        QCOMPARE(box->buttons().size(), 1);
        box->button(QMessageBox::Ok)->click();
        QCOMPARE(lblCom1.palette().color(QPalette::Window), QColor(255, 0, 0));
        QVERIFY(s.com1.written.isEmpty());
    }

    void presetPressedTwiceActsTwice() {
        Station s;
        Program().RigPort = "Com1";
        s.station.rig().Check2 = [] { return false; };
        s.station.rig().Com1Enabled = [] { return true; };
        QTest::mouseClick(s.rigPanel.optFT847()->button(4), Qt::LeftButton);
        QTest::mouseClick(s.rigPanel.optFT847()->button(4), Qt::LeftButton);
        QCOMPARE(s.com1.written, Bytes({2, 0, 0, 0, 7}) + Bytes({2, 0, 0, 0, 7}));
    }

    // A held action runs while its button is down and stops however the press ends: the
    // release, the button losing the focus, the window losing the focus, the mouse grab lost
    // without a release, the window closing. An assistive tool's "Press" makes one step.
    void heldButtonsStopHoweverThePressEnds() {
        QWidget window; // goes after the station, which leaves it on destruction
        Station s;
        auto* layout = new QHBoxLayout(&window);
        layout->addWidget(&s.rigPanel);
        layout->addWidget(&s.rotorPanel);
        auto* other = new QPushButton(&window);
        layout->addWidget(other);
        window.show();
        window.activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(&window));
        s.rigPanel.loadOptions(1);
        QAbstractButton* step = s.rigPanel.optQRG()->button(4); // "100kHz"
        QTest::mouseClick(step, Qt::LeftButton, {}, QPoint(5, step->height() / 2));
        RigControl& rig = s.station.rig();
        QCOMPARE(rig.OptQRG, 4);
        int steps = 0;
        connect(&rig, &RigControl::formatFreChanged, this, [&] { ++steps; });

        // Held with the mouse: steps go on while the window works, until the release.
        QTest::mousePress(s.rigPanel.freqUp(), Qt::LeftButton);
        QVERIFY(rig.tuningHeld());
        QTRY_VERIFY(steps >= 3);
        QTest::mouseRelease(s.rigPanel.freqUp(), Qt::LeftButton);
        QVERIFY(!rig.tuningHeld() && !rig.ButtonHeld());
        QCOMPARE(Program().RigFrequency, 14420000 + 1000 * steps);
        QCOMPARE(s.rigPanel.formatFre()->text(),
                 DefaultNumberText((14420000.0 + 1000 * steps + 115200000.0) / 100000));

        // The focus goes elsewhere while the button is held.
        QTest::mousePress(s.rigPanel.freqDwn(), Qt::LeftButton);
        QVERIFY(rig.tuningHeld());
        other->setFocus();
        QVERIFY(!rig.tuningHeld());
        s.rigPanel.freqDwn()->setDown(false);

        // The grab is lost and no release ever comes: the button is simply no longer down.
        QTest::mousePress(s.rigPanel.freqDwn(), Qt::LeftButton);
        QVERIFY(rig.tuningHeld());
        s.rigPanel.freqDwn()->setDown(false);
        QTRY_VERIFY(!rig.tuningHeld());

        // An assistive tool's press: it steps and it ends by itself.
        steps = 0;
        QAccessibleInterface* access = QAccessible::queryAccessibleInterface(s.rigPanel.freqUp());
        QVERIFY(access && access->actionInterface());
        access->actionInterface()->doAction(QAccessibleActionInterface::pressAction());
        QTRY_VERIFY(!rig.tuningHeld());
        QVERIFY(steps >= 1);
        const int after = steps;
        QTest::qWait(100);
        QCOMPARE(steps, after);

        // Elevation: the motor line is on while the button is down, whatever ends the press.
        auto* eleDwn = s.rotorPanel.eleDwn();
        s.rotorPanel.eleAuto()->setChecked(true);
        s.recorder.clear();
        QTest::mousePress(eleDwn, Qt::LeftButton);
        QVERIFY(!s.rotorPanel.eleAuto()->isChecked());
        QCOMPARE(s.rotorPanel.eleAuto()->text(), QString("Ele manu"));
        QVERIFY(s.recorder.board.level(BoardLine::ElevationDown));
        QTest::qWait(50);
        QVERIFY(s.recorder.board.level(BoardLine::ElevationDown));
        QTest::mouseRelease(eleDwn, Qt::LeftButton);
        QCOMPARE(s.recorder.calls(), (QStringList{"UsbSetIODir(0,18,1)", "UsbSetIOState(0,18,1)",
                                                  "UsbSetIOState(0,18,0)"}));
        for (auto end : std::initializer_list<std::function<void()>>{
                 [&] { other->setFocus(); }, [&] { eleDwn->setDown(false); },
                 [&] { s.rotorPanel.hide(); }, [&] { QApplication::setActiveWindow(nullptr); },
                 [&] { s.station.shutdown(); }}) {
            s.rotorPanel.show();
            window.activateWindow();
            s.recorder.clear();
            QTest::mousePress(eleDwn, Qt::LeftButton);
            QVERIFY(s.recorder.board.level(BoardLine::ElevationDown));
            end();
            QTRY_VERIFY(!s.recorder.board.level(BoardLine::ElevationDown));
            QVERIFY(!s.station.rotor().elevationHeld());
            eleDwn->setDown(false);
        }
    }

    void enterInTheHeadingBoxTurnsTheAntenna() {
        Station s;
        QSignalSpy focus(&s.rotorPanel, &RotorPanel::focusLocator);
        QTest::keyClicks(s.rotorPanel.text160(), "45");
        QTest::keyClick(s.rotorPanel.text160(), Qt::Key_Return);
        QCOMPARE(s.com4.written, QByteArray("AP1045\r;"));
        QCOMPARE(focus.count(), 1);
        s.com4.written.clear();
        s.rotorPanel.text160()->clear();
        QTest::keyClick(s.rotorPanel.text160(), Qt::Key_Enter);
        QCOMPARE(s.rotorPanel.text160()->text(), QString("000"));
        QCOMPARE(s.com4.written, QByteArray("AP1000\r;"));
        s.com4.written.clear();
        QTest::keyClicks(s.rotorPanel.text177(), "5");
        QTest::keyClick(s.rotorPanel.text177(), Qt::Key_Return);
        QCOMPARE(s.com4.written, QByteArray("AW1005;"));
        // Other keys do nothing here.
        s.com4.written.clear();
        QTest::keyClick(s.rotorPanel.text160(), Qt::Key_Tab);
        QVERIFY(s.com4.written.isEmpty());
    }

    void timerTickShowsReadingsAndTheHoldsLook() {
        Station s;
        QPushButton* eleAuto = s.rotorPanel.eleAuto();
        eleAuto->setChecked(true);
        s.com3.deliver(SensorReply(700, 2150));
        s.com4.deliver("123;");
        s.rotorPanel.timerTick();
        QCOMPARE(s.com4.written, QByteArray("AI1;"));
        QCOMPARE(s.com3.written, Bytes({0x7F, 0x01, 0x87}));
        QCOMPARE(s.rotorPanel.label1()->text(), QString("123"));
        QCOMPARE(s.rotorPanel.azimuthText(), QString("123"));
        QCOMPARE(s.rotorPanel.label30()->text(), QString("0.7"));
        QCOMPARE(s.rotorPanel.elevationText(), QString("0.7"));
        QCOMPARE(s.rotorPanel.label31()->text(), QString("Temp = 21.5"));
        QCOMPARE(eleAuto->text(), QString("Ele Auto"));
        QCOMPARE(Back(eleAuto), QColor(0, 255, 0));
        QVERIFY(s.recorder.calls().isEmpty());
        QTest::mouseClick(eleAuto, Qt::LeftButton);
        s.com3.deliver(SensorReply(300, 2150));
        s.rotorPanel.timerTick();
        QCOMPARE(eleAuto->text(), QString("Ele manu"));
        QCOMPARE(Back(eleAuto), QColor(255, 255, 0));
        QVERIFY(s.recorder.calls().isEmpty()); // manual: no pulse
    }
};

QTEST_MAIN(TestRigPanel)
#include "tst_rigpanel.moc"
