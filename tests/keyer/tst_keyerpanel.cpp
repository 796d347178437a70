#include "KeyerFixture.h"
#include "KeyerPanel.h"
#include "OptionGroup.h"
#include "Settings.h"
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
const QByteArray PttOn("\x00\x00\x00\x00\x08", 5);
const QByteArray PttOff("\x00\x00\x00\x00\x88", 5);
} // namespace

class KeyerPanelTest : public QObject {
    Q_OBJECT

private slots:
    void initTestCase() { EnsureApplication(); }

    void controlsNamesCaptionsTooltipsAndDefaults() {
        KeyerPanel panel;
        KeyerController controller(&panel);
        struct Named {
            const char* name;
            const char* caption;
            bool explained;
        };
        for (const Named& n : {Named{"TXTSel", "Sel", true}, Named{"CWloop", "Loop", true},
                               Named{"cmdsend", "TX Start", false}, Named{"cmdRX", "RX ", true},
                               Named{"LoopStop", "Loop Stop", true}}) {
            auto* b = panel.findChild<QPushButton*>(QString::fromLatin1(n.name));
            QVERIFY2(b, n.name);
            QCOMPARE(b->text(), QString::fromLatin1(n.caption));
            QCOMPARE(b->accessibleName(), QString::fromLatin1(n.caption).trimmed());
            if (n.explained)
                QVERIFY2(b->toolTip().size() > 10, n.name);
        }
        QVERIFY(panel.TXTSel()->toolTip().contains(QLatin1String("TX Start")));
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
        SettingsStore settings;
        KeyerPanel panel;
        KeyerController controller(&panel);
        settings[CwSpeedIndex] = SettingValue::number(3);
        settings[CwTextSelect] = SettingValue::boolean(true);
        settings[CwLoop] = SettingValue::number(-1);
        settings[CwText1] = SettingValue::text(QStringLiteral("never read back"));
        settings[CwText2] = SettingValue::text(QStringLiteral("test de q0abc"));
        controller.load(settings);
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
        settings[CwSpeedIndex] = SettingValue::number(7);
        settings[CwTextSelect] = SettingValue::number(0);
        settings[CwLoop] = SettingValue::boolean(false);
        KeyerPanel second;
        KeyerController other(&second);
        other.load(settings);
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

    // Bound as the main window binds it: the station board and the rig control with its
    // transmit toggle; virtual time keeps it quick, clicks go through the event loop.
    void sendsThroughBoardAndRig() {
        KeyerRun run;
        KeyerPanel panel;
        KeyerController controller(&panel);
        controller.keyer().setTiming(&run.clock, &run.timer);
        controller.bindBoard(run.board);
        controller.bindRig(*run.rig);
        panel.Text6()->setText(QStringLiteral("e"));
        QTest::mouseClick(panel.OptSpeed()->button(3), Qt::LeftButton);

        // Not yet active: the transmitter is keyed on and off, no character.
        QTest::mouseClick(panel.cmdsend(), Qt::LeftButton);
        run.run();
        QVERIFY(run.keyLine().isEmpty());
        QCOMPARE(run.com1.written, PttOn + PttOn + PttOff + PttOff);
        QCOMPARE(run.com2.written, PttOff);

        // Active: the toggle is red while the character is keyed, green afterwards.
        controller.activate();
        run.com1.written.clear();
        run.com2.written.clear();
        QTest::mouseClick(panel.cmdsend(), Qt::LeftButton);
        QVERIFY(run.rig->txRx() && !run.txRxGreen);
        run.run();
        QCOMPARE(run.keyChanges(), 2);
        QCOMPARE(run.com1.written, PttOn + PttOn + PttOff + PttOff);
        QCOMPARE(run.com2.written, PttOff);
        QVERIFY(!run.rig->txRx() && run.txRxGreen);
        QVERIFY(!run.board.level(BoardLine::Transmit));

        // A receive click waiting in the queue is taken while the first character is keyed:
        // that character is finished, then the transmission ends.
        panel.Text6()->setText(QStringLiteral("eeeee"));
        QMetaObject::invokeMethod(panel.cmdRX(), &QPushButton::click, Qt::QueuedConnection);
        QTest::mouseClick(panel.cmdsend(), Qt::LeftButton);
        QCoreApplication::processEvents();
        run.run();
        QCOMPARE(run.keyChanges(), 4);
        QVERIFY(!controller.keyer().SendingFlag);

        // Loop mode with Loop Stop waiting: one pass, then the closing group.
        panel.Text6()->setText(QStringLiteral("e"));
        QTest::mouseClick(panel.CWloop(), Qt::LeftButton);
        QMetaObject::invokeMethod(panel.LoopStop(), &QPushButton::click, Qt::QueuedConnection);
        QTest::mouseClick(panel.cmdsend(), Qt::LeftButton);
        QCoreApplication::processEvents();
        run.run();
        QCOMPARE(run.keyChanges(), 4 + 2 + 2 * (4 + 3 + 1 + 3)); // e, then p s e k
        QVERIFY(!controller.keyer().LoopStopRequested);
        QVERIFY(!run.board.level(BoardLine::Transmit));
    }

    // On the real clock and timer: the click returns at once and the window handles events
    // while a dash is keyed.
    void windowStaysResponsiveWhileSending() {
        FakeBoard board;
        ProgramState state;
        FakeSerialPort com1, com2;
        com1.setPort(QStringLiteral("/dev/rig1"));
        com2.setPort(QStringLiteral("/dev/rig2"));
        QVERIFY(com1.open() && com2.open());
        RigControl rig(state, &com1, &com2, nullptr);
        KeyerPanel panel;
        KeyerController controller(&panel);
        controller.bindBoard(board);
        controller.bindRig(rig);
        controller.activate();
        panel.Text6()->setText(QStringLiteral("t"));
        QTest::mouseClick(panel.OptSpeed()->button(3), Qt::LeftButton);

        QTest::mouseClick(panel.cmdsend(), Qt::LeftButton);
        QVERIFY(controller.keyer().busy());
        QVERIFY(board.level(BoardLine::Key));
        bool handled = false;
        bool keyDownWhenHandled = false;
        QMetaObject::invokeMethod(
            &panel,
            [&] {
                handled = true;
                keyDownWhenHandled = board.level(BoardLine::Key);
            },
            Qt::QueuedConnection);
        QVERIFY(QTest::qWaitFor([&] { return handled; }, 5000));
        QVERIFY(keyDownWhenHandled); // during the 175 ms dash, not after it
        QVERIFY(QTest::qWaitFor([&] { return !controller.keyer().busy(); }, 5000));
        QCOMPARE(board.calls(),
                 (QStringList{"UsbSetPortDir(0,2,1)", "UsbSetIODir(0,16,1)", "UsbSetIODir(0,17,1)",
                              "UsbSetIOState(0,17,1)", "UsbSetIOState(0,16,1)",
                              "UsbSetIOState(0,16,0)", "UsbSetIOState(0,17,0)"}));
        QCOMPARE(com1.written, PttOn + PttOn + PttOff + PttOff);
        QCOMPARE(com2.written, PttOff);
    }

    // Unload writes settings lines 1 to 5, and ends a transmission still running at once.
    void unloadWritesTheFirstFiveLinesAndEndsATransmission() {
        using namespace Settings;
        KeyerRun run;
        KeyerPanel panel;
        KeyerController controller(&panel);
        controller.keyer().setTiming(&run.clock, &run.timer);
        controller.bindBoard(run.board);
        controller.bindRig(*run.rig);
        controller.activate();
        QTest::mouseClick(panel.OptSpeed()->button(1), Qt::LeftButton);
        panel.TXTSel()->setChecked(true);
        panel.Text1()->setText(QStringLiteral("first"));
        panel.Text6()->setText(QStringLiteral("second"));
        QTest::mouseClick(panel.cmdsend(), Qt::LeftButton);
        QVERIFY(run.board.level(BoardLine::Key));

        SettingsStore settings;
        controller.unload(settings);
        QVERIFY(!controller.keyer().busy());
        QVERIFY(!run.timer.pending());
        QVERIFY(!run.board.level(BoardLine::Key));
        QVERIFY(!run.board.level(BoardLine::Transmit));
        QVERIFY(!run.rig->txRx());
        QCOMPARE(run.com1.written, PttOn + PttOn + PttOff + PttOff);
        QCOMPARE(settings[CwSpeedIndex].toInt(), 1);
        QCOMPARE(settings[CwTextSelect].toBool(), true);
        QCOMPARE(settings[CwLoop].toBool(), false);
        QCOMPARE(settings[CwText1].toText(), QStringLiteral("first"));
        QCOMPARE(settings[CwText2].toText(), QStringLiteral("second"));
        QCOMPARE(Settings::WrittenForm(settings[CwTextSelect]), QStringLiteral("#TRUE#"));
    }
};

QTEST_APPLESS_MAIN(KeyerPanelTest)
#include "tst_keyerpanel.moc"
