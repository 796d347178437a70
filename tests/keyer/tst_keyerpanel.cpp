#include "KeyerFixture.h"
#include "KeyerPanel.h"
#include "OptionGroup.h"
#include "ProgramState.h"
#include "RigPanel.h"
#include "Settings.h"
#include "TestSupport.h"
#include "WidgetHelpers.h"

#include <QAbstractButton>
#include <QLineEdit>
#include <QPushButton>
#include <QTest>

namespace {
QColor Back(QWidget* w) {
    return w->palette().color(QPalette::Button);
}
QColor Base(QWidget* w) {
    return w->palette().color(QPalette::Base);
}
} // namespace

class KeyerPanelTest : public QObject {
    Q_OBJECT

private slots:
    void initTestCase() { EnsureApplication(); }

    void controlsNamesCaptionsAndDefaults() {
        KeyerPanel panel;
        KeyerController controller(&panel);
        struct Named {
            const char* name;
            const char* caption;
        };
        for (const Named& n :
             {Named{"TXTSel", "Sel"}, Named{"CWloop", "Loop"}, Named{"cmdsend", "TX Start"},
              Named{"cmdRX", "RX "}, Named{"LoopStop", "Loop Stop"}}) {
            auto* b = panel.findChild<QPushButton*>(QString::fromLatin1(n.name));
            QVERIFY2(b, n.name);
            QCOMPARE(b->text(), QString::fromLatin1(n.caption));
            QCOMPARE(b->accessibleName(), QString::fromLatin1(n.caption).trimmed());
        }
        QVERIFY(panel.TXTSel()->isCheckable() && panel.CWloop()->isCheckable());
        QCOMPARE(panel.findChild<QLineEdit*>(QStringLiteral("Text6"))->text(),
                 QStringLiteral("cq cq de q0abc q0abc"));
        QCOMPARE(panel.findChild<QLineEdit*>(QStringLiteral("Text1"))->text(),
                 QStringLiteral("Text1"));
        QVERIFY(!panel.Text6()->accessibleName().isEmpty());
        QVERIFY(!panel.Text1()->accessibleName().isEmpty());
        auto* speed = panel.findChild<OptionGroup*>(QStringLiteral("OptSpeed"));
        QVERIFY(speed);
        QCOMPARE(speed->caption(), QStringLiteral("CW speed"));
        QCOMPARE(speed->options(), (QStringList{"50 lpm", "60 lpm", "70 lpm"}));
        QCOMPARE(speed->button(3)->objectName(), QStringLiteral("OptSpeed_3"));
        QCOMPARE(controller.keyer().Text6, QStringLiteral("cq cq de q0abc q0abc"));
        QVERIFY(!controller.keyer().KeyerReady);
    }

    void loadRestoresSpeedTogglesAndText() {
        using namespace Settings;
        KeyerPanel panel;
        KeyerController controller(&panel);
        SettingsTable[CwSpeedIndex] = SettingValue::number(3);
        SettingsTable[CwTextSelect] = SettingValue::boolean(true);
        SettingsTable[CwLoop] = SettingValue::number(-1);
        SettingsTable[CwText1] = SettingValue::text(QStringLiteral("never read back"));
        SettingsTable[CwText2] = SettingValue::text(QStringLiteral("test de q0abc"));
        controller.load();
        QCOMPARE(panel.OptSpeed()->selected(), 3);
        QCOMPARE(controller.keyer().SpeedIndex, 3);
        QCOMPARE(Back(panel.OptSpeed()->button(3)), Colours::Green);
        QVERIFY(panel.TXTSel()->isChecked());
        QCOMPARE(Back(panel.TXTSel()), Colours::Green);
        QVERIFY(controller.keyer().TXTSel);
        QVERIFY(panel.CWloop()->isChecked());
        QCOMPARE(Back(panel.CWloop()), Colours::Green);
        QVERIFY(controller.keyer().CWloop);
        QCOMPARE(panel.Text6()->text(), QStringLiteral("test de q0abc"));
        QCOMPARE(controller.keyer().Text6, QStringLiteral("test de q0abc"));
        QCOMPARE(panel.Text1()->text(), QStringLiteral("Text1"));
        QCOMPARE(Base(panel.Text6()), Colours::Yellow);
        QCOMPARE(Base(panel.Text1()), Colours::Green);

        // Toggles off: red loop, yellow select. A speed outside 1-3 selects the second option.
        SettingsTable[CwSpeedIndex] = SettingValue::number(7);
        SettingsTable[CwTextSelect] = SettingValue::number(0);
        SettingsTable[CwLoop] = SettingValue::boolean(false);
        KeyerPanel second;
        KeyerController other(&second);
        other.load();
        QCOMPARE(second.OptSpeed()->selected(), 2);
        QCOMPARE(other.keyer().SpeedIndex, 2);
        QCOMPARE(Back(second.TXTSel()), Colours::Yellow);
        QCOMPARE(Back(second.CWloop()), Colours::Red);
    }

    void clicksColourTheControls() {
        KeyerPanel panel;
        KeyerController controller(&panel);
        QTest::mouseClick(panel.CWloop(), Qt::LeftButton);
        QCOMPARE(Back(panel.CWloop()), Colours::Green);
        QVERIFY(controller.keyer().CWloop);
        QTest::mouseClick(panel.CWloop(), Qt::LeftButton);
        QCOMPARE(Back(panel.CWloop()), Colours::Red);
        QVERIFY(!controller.keyer().CWloop);
        QTest::mouseClick(panel.TXTSel(), Qt::LeftButton);
        QCOMPARE(Back(panel.TXTSel()), Colours::Green);
        QTest::mouseClick(panel.TXTSel(), Qt::LeftButton);
        QCOMPARE(Back(panel.TXTSel()), Colours::Yellow);

        // Each chosen speed option turns green; the others keep whatever colour they have.
        const QColor before = Back(panel.OptSpeed()->button(3));
        QTest::mouseClick(panel.OptSpeed()->button(1), Qt::LeftButton);
        QCOMPARE(controller.keyer().SpeedIndex, 1);
        QCOMPARE(Back(panel.OptSpeed()->button(1)), Colours::Green);
        QTest::mouseClick(panel.OptSpeed()->button(2), Qt::LeftButton);
        QCOMPARE(controller.keyer().SpeedIndex, 2);
        QCOMPARE(Back(panel.OptSpeed()->button(1)), Colours::Green);
        QCOMPARE(Back(panel.OptSpeed()->button(2)), Colours::Green);
        QCOMPARE(Back(panel.OptSpeed()->button(3)), before);

        // Edits reach the keyer.
        panel.Text1()->setText(QStringLiteral("abc"));
        QCOMPARE(controller.keyer().Text1, QStringLiteral("abc"));
    }

    void unloadWritesTheFirstFiveLines() {
        using namespace Settings;
        KeyerPanel panel;
        KeyerController controller(&panel);
        QTest::mouseClick(panel.OptSpeed()->button(1), Qt::LeftButton);
        panel.TXTSel()->setChecked(true);
        panel.Text1()->setText(QStringLiteral("first"));
        panel.Text6()->setText(QStringLiteral("second"));
        controller.unload();
        QCOMPARE(SettingsTable[CwSpeedIndex].toInt(), 1);
        QCOMPARE(SettingsTable[CwTextSelect].toBool(), true);
        QCOMPARE(SettingsTable[CwLoop].toBool(), false);
        QCOMPARE(SettingsTable[CwText1].toText(), QStringLiteral("first"));
        QCOMPARE(SettingsTable[CwText2].toText(), QStringLiteral("second"));
        QCOMPARE(Settings::WrittenForm(SettingsTable[CwTextSelect]), QStringLiteral("#TRUE#"));
    }

    // The panel with the board library and the transceivers' ports bound as the main window
    // binds them; virtual time keeps it quick.
    void sendsThroughBoardAndPorts() {
        KeyerRun run; // the recording board library
        QVERIFY(run.libraryLoaded());
        KeyerPanel panel;
        KeyerController controller(&panel);
        controller.keyer().setClock(&run.clock);
        controller.bindBoard(run.board);
        FakeSerialPort com1, com2;
        com1.setPort(QStringLiteral("/dev/rig1"));
        com2.setPort(QStringLiteral("/dev/rig2"));
        QVERIFY(com1.open() && com2.open());
        controller.bindRig(&com1, &com2, [] { return false; });
        panel.Text6()->setText(QStringLiteral("e"));
        QTest::mouseClick(panel.OptSpeed()->button(3), Qt::LeftButton);

        // Not yet active: the transmitter is keyed on and off, no character.
        QTest::mouseClick(panel.cmdsend(), Qt::LeftButton);
        QVERIFY(run.keyLine().isEmpty());
        const QByteArray on("\x00\x00\x00\x00\x08", 5);
        const QByteArray off("\x00\x00\x00\x00\x88", 5);
        QCOMPARE(com1.written, on + off);
        QCOMPARE(com2.written, off);

        controller.activate();
        com1.written.clear();
        com2.written.clear();
        QTest::mouseClick(panel.cmdsend(), Qt::LeftButton);
        QCOMPARE(run.keyLine().size(), 2);
        QCOMPARE(com1.written, on + off);
        QCOMPARE(com2.written, off);
        QCOMPARE(run.lastState(17), 0);

        // A receive click waiting in the queue is taken before the first character: that
        // character is still sent, then the transmission ends.
        panel.Text6()->setText(QStringLiteral("eeeee"));
        QMetaObject::invokeMethod(panel.cmdRX(), &QPushButton::click, Qt::QueuedConnection);
        QTest::mouseClick(panel.cmdsend(), Qt::LeftButton);
        QCOMPARE(run.keyLine().size(), 4);
        QVERIFY(!controller.keyer().SendingFlag);

        // Loop mode with Loop Stop waiting: one pass, then the closing group.
        panel.Text6()->setText(QStringLiteral("e"));
        QTest::mouseClick(panel.CWloop(), Qt::LeftButton);
        QMetaObject::invokeMethod(panel.LoopStop(), &QPushButton::click, Qt::QueuedConnection);
        QTest::mouseClick(panel.cmdsend(), Qt::LeftButton);
        QCOMPARE(run.keyLine().size(), 4 + 2 + 2 * (4 + 3 + 1 + 3)); // e, then p s e k
        QVERIFY(!controller.keyer().LoopStopRequested);
        QCOMPARE(run.lastState(17), 0);
    }

    // Bound to the rig side as the main window has it: the TxRx toggle of the rig panel.
    void sendsThroughTheRigStation() {
        KeyerRun run;
        FakeSerialPort com1, com2, com3, com4;
        com1.setPort(QStringLiteral("/dev/rig1"));
        com2.setPort(QStringLiteral("/dev/rig2"));
        QVERIFY(com1.open() && com2.open());
        RigStation station(&com1, &com2, &com3, &com4, &run.board);
        station.rig().Check2 = [] { return false; };
        RigPanel rigPanel(&station);
        Program().RigPort = QStringLiteral("Com1");

        KeyerPanel panel;
        KeyerController controller(&panel);
        controller.keyer().setClock(&run.clock);
        controller.bindBoard(run.board);
        controller.bindStation(station, rigPanel);
        controller.activate();
        bool keyedWhileSending = false;
        controller.hooks().processEvents = [&] {
            keyedWhileSending = rigPanel.txRx() && Back(rigPanel.txRxButton()) == Colours::Red;
        };
        panel.Text6()->setText(QStringLiteral("e"));
        QTest::mouseClick(panel.cmdsend(), Qt::LeftButton);

        QVERIFY(keyedWhileSending);
        const QByteArray on("\x00\x00\x00\x00\x08", 5);
        const QByteArray off("\x00\x00\x00\x00\x88", 5);
        QCOMPARE(com1.written, on + on + off + off); // toggle, keyer, toggle, keyer
        QCOMPARE(com2.written, off);
        QVERIFY(!rigPanel.txRx());
        QCOMPARE(Back(rigPanel.txRxButton()), Colours::Green);
        QCOMPARE(run.keyLine().size(), 2);
        QCOMPARE(run.lastState(17), 0);
    }

    void ft991TextsWithTheirOneSecondWaits() {
        KeyerRun run;
        KeyerPanel panel;
        KeyerController controller(&panel);
        controller.bindBoard(run.board);
        FakeSerialPort com1, com2;
        com1.setPort(QStringLiteral("/dev/rig1"));
        QVERIFY(com1.open()); // Com2 stays closed: its PTT off fails at the end, harmlessly
        controller.bindRig(&com1, &com2, [] { return true; });
        controller.activate();
        panel.Text6()->setText(QStringLiteral("e"));
        QTest::mouseClick(panel.OptSpeed()->button(3), Qt::LeftButton);
        QTest::mouseClick(panel.cmdsend(), Qt::LeftButton);
        QCOMPARE(com1.written, QByteArray("TX1;TX0;"));
        QVERIFY(com2.written.isEmpty());
        QCOMPARE(run.keyLine().size(), 2);
        QCOMPARE(run.lastState(17), 0);
    }
};

QTEST_APPLESS_MAIN(KeyerPanelTest)
#include "tst_keyerpanel.moc"
