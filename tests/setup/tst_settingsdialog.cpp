// The settings dialog as a real window offscreen over a settings file on disk: the port-number
// clash rules and the Com1 message while typing; "Done" with its locator check, the main
// window's ports switched in order around the log positions, and every value saved and read
// back from the file by a fresh store.

#include "Clock.h"
#include "Database.h"
#include "FakeBoard.h"
#include "OptionGroup.h"
#include "ProgramState.h"
#include "Settings.h"
#include "SettingsDialog.h"
#include "StationContext.h"
#include "TestSupport.h"

#include <QApplication>
#include <QCheckBox>
#include <QFile>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QSlider>
#include <QTest>

namespace {

// A main-window port that notes each open and close in a shared log.
class RecordingPort : public FakeSerialPort {
public:
    RecordingPort(QString name, QStringList* log) : m_name(std::move(name)), m_log(log) {}

protected:
    bool openDevice(const QString& device, const LineSettings& line) override {
        m_log->append(m_name + QStringLiteral(" open"));
        return FakeSerialPort::openDevice(device, line);
    }
    bool closeDevice() override {
        m_log->append(m_name + QStringLiteral(" close"));
        return FakeSerialPort::closeDevice();
    }

private:
    QString m_name;
    QStringList* m_log;
};

// What the main window hands the dialog: the settings read at start and its ports.
struct Station {
    explicit Station(const QString& settingsPath, const QString& folder)
        : settings(settingsPath), database(folder) {
        settings.LoadSettings();
        com1.setPort(QStringLiteral("10"));
        com2.setPort(QStringLiteral("11"));
        com4.setPort(QStringLiteral("12"));
    }
    SettingsStore settings;
    ProgramState state;
    FakeBoard board;
    StationDatabase database;
    SystemClock clock;
    QStringList log; // port operations, log positions and the main window, in order
    QStringList messages;
    bool realBoxes = false; // messages also open as message boxes over the active window
    RecordingPort com1{QStringLiteral("Com1"), &log};
    RecordingPort com2{QStringLiteral("Com2"), &log};
    RecordingPort com4{QStringLiteral("Com4"), &log};
    StationContext context{settings, state, CreateSystemSerialPort, board, database, clock};

    SettingsDialogHooks hooks() {
        SettingsDialogHooks h;
        h.mainPort = [this](int n) -> SerialPort* {
            return n == 1 ? &com1 : n == 2 ? &com2 : n == 4 ? &com4 : nullptr;
        };
        h.computeLogGeo = [this] { log.append(QStringLiteral("geo")); };
        h.showMainWindow = [this] { log.append(QStringLiteral("main")); };
        h.message = [this](const QString& text) {
            messages.append(text);
            if (!realBoxes)
                return;
            auto* owner = QApplication::activeWindow();
            auto* box =
                new QMessageBox(QMessageBox::NoIcon, QString(), text, QMessageBox::Ok, owner);
            box->setAttribute(Qt::WA_DeleteOnClose);
            box->open();
        };
        return h;
    }
};

void Retype(QLineEdit* box, const QString& text) {
    QTest::keyClick(box, Qt::Key_A, Qt::ControlModifier);
    if (text.isEmpty())
        QTest::keyClick(box, Qt::Key_Backspace);
    else
        QTest::keyClicks(box, text);
}

// A value as the settings file gives it back after a save.
SettingValue AsFileHoldsIt(const SettingValue& value) {
    return Settings::ParseField(
        Settings::DecodeCp1252(Settings::EncodeCp1252(Settings::WrittenForm(value))));
}

QByteArray FileBytes(const QString& path) {
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray("unreadable");
}

} // namespace

class SettingsDialogTest : public QObject {
    Q_OBJECT

private slots:
    void initTestCase() { EnsureApplication(); }

    void portNumbersWarnOfClashes() {
        ScratchDir dir;
        Station s(dir.file(QStringLiteral("Farscan.txt")), dir.path());
        SettingsDialog dialog(s.context, s.hooks());
        QLineEdit* pnr[5] = {nullptr, dialog.comPort(1), dialog.comPort(2), dialog.comPort(3),
                             dialog.comPort(4)};
        QCOMPARE(pnr[1]->text(), QStringLiteral("10"));
        QCOMPARE(pnr[4]->text(), QStringLiteral("12"));
        // Loading the boxes warned of nothing.
        QVERIFY(s.messages.isEmpty());
        const QString clash = QStringLiteral("PortNr is alredy used Pse change the PortNr");

        // Com1 typed as Com4's number: Com1 is emptied, Com4 keeps its number.
        Retype(pnr[1], QStringLiteral("12"));
        QCOMPARE(s.messages, QStringList{clash});
        QCOMPARE(pnr[1]->text(), QString());
        QCOMPARE(pnr[4]->text(), QStringLiteral("12"));
        // Com4 typed as a number in use: only Com4 is emptied, and emptying it beside the empty
        // Com1 box does not warn a second time.
        Retype(pnr[4], QStringLiteral("11"));
        QCOMPARE(s.messages.size(), 2);
        QCOMPARE(pnr[4]->text(), QString());
        QCOMPARE(pnr[2]->text(), QStringLiteral("11"));
        QCOMPARE(pnr[1]->text(), QString());
        // Clearing a box while others are empty: one message.
        Retype(pnr[2], QString());
        QCOMPARE(s.messages.size(), 3);
        QCOMPARE(s.messages.last(), clash);
        // A free number is kept as typed.
        Retype(pnr[1], QStringLiteral("7"));
        Retype(pnr[4], QStringLiteral("/dev/ttyUSB0"));
        QCOMPARE(s.messages.size(), 3);
        QCOMPARE(pnr[1]->text(), QStringLiteral("7"));
        QCOMPARE(pnr[4]->text(), QStringLiteral("/dev/ttyUSB0"));

        // The window opens with the callsign box focused.
        dialog.show();
        dialog.activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(&dialog));
        QVERIFY(WaitFor([&] { return dialog.text3()->hasFocus(); }));

        // Entering the Com1 box while Com1 is on names the main window's port, once per entry:
        // the message opening over the dialog and closing again is no new entry.
        QVERIFY(dialog.comCheck(1)->isChecked());
        s.realBoxes = true;
        pnr[1]->setFocus(Qt::TabFocusReason);
        QCOMPARE(s.messages.size(), 4);
        QCOMPARE(s.messages.last(), QStringLiteral(" No change possible while Com1(10) active"));
        QMessageBox* box = nullptr;
        QVERIFY(WaitFor([&] {
            box = qobject_cast<QMessageBox*>(QApplication::activeWindow());
            return box != nullptr;
        }));
        QCOMPARE(box->text(), s.messages.last());
        box->button(QMessageBox::Ok)->click();
        dialog.activateWindow(); // what the window manager does when the message goes
        QVERIFY(QTest::qWaitForWindowActive(&dialog));
        QVERIFY(WaitFor([&] { return pnr[1]->hasFocus(); }));
        QTest::qWait(100);
        QCOMPARE(s.messages.size(), 4);
        // The box can still be edited.
        QTest::keyClick(pnr[1], Qt::Key_End);
        QTest::keyClicks(pnr[1], QStringLiteral("5"));
        QCOMPARE(pnr[1]->text(), QStringLiteral("75"));
        // Leaving and entering again warns again; with Com1 off it does not.
        dialog.comSettings(1)->setFocus(Qt::TabFocusReason);
        pnr[1]->setFocus(Qt::BacktabFocusReason);
        QCOMPARE(s.messages.size(), 5);
        QVERIFY(WaitFor([] { return qobject_cast<QMessageBox*>(QApplication::activeWindow()); }));
        qobject_cast<QMessageBox*>(QApplication::activeWindow())->button(QMessageBox::Ok)->click();
        dialog.activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(&dialog));
        dialog.comCheck(1)->setFocus(Qt::TabFocusReason);
        dialog.comCheck(1)->setChecked(false);
        pnr[1]->setFocus(Qt::BacktabFocusReason);
        QCOMPARE(s.messages.size(), 5);
    }

    void doneValidatesSwitchesPortsAndSaves() {
        ScratchDir dir;
        const QString path = dir.file(QStringLiteral("Farscan.txt"));
        Station s(path, dir.path());
        // Com1 closed but switched on, Com2 open but to be switched off, Com4 closed.
        QVERIFY(s.com2.open());
        s.log.clear();
        SettingsDialog dialog(s.context, s.hooks());
        dialog.show();
        dialog.activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(&dialog));
        QVERIFY(WaitFor([&] { return dialog.text3()->hasFocus(); }));

        // Every control changed; texts the file cannot hold as they stand included.
        const QString longText = QString(40000, QLatin1Char('x')) + QStringLiteral("ÄØ€漢");
        const QString foreign = QStringLiteral("ÄØ€漢");
        dialog.comCheck(2)->setChecked(false);
        dialog.comCheck(3)->setChecked(false);
        Retype(dialog.comPort(3), QStringLiteral("/dev/serial/by-id/gps"));
        dialog.comSettings(4)->setText(QStringLiteral("9600,e,7,2"));
        dialog.Check1()->setChecked(true);
        dialog.Check2()->setChecked(true);
        dialog.ConHost1()->setText(foreign);
        dialog.ConPort1()->setText(QStringLiteral("7300"));
        dialog.uSc_MultiOption1()->button(2)->click();
        for (int i = 0; i < 6; ++i)
            dialog.qslLine(i)->setText(QStringLiteral("QSL %1").arg(i + 1));
        dialog.qslLine(5)->setText(longText);
        QCOMPARE(dialog.qslLine(5)->text(), longText);
        dialog.GEcolor()->setValue(77);
        QCOMPARE(s.state.GeTransparency, QStringLiteral("77"));
        dialog.ChecklineB()->click();
        QCOMPARE(s.state.GeBeaconLines, false);
        QCOMPARE(s.state.GeSquareLines, true);

        // Callsign, Enter, an invalid locator, Enter, Enter: "Done" stops at the locator.
        const QByteArray before = FileBytes(path);
        QTest::keyClicks(dialog.text3(), QStringLiteral("dl0abc"));
        QTest::keyClick(dialog.text3(), Qt::Key_Return);
        QVERIFY(dialog.text4()->hasFocus());
        QTest::keyClicks(dialog.text4(), QStringLiteral("jo62q"));
        QTest::keyClick(dialog.text4(), Qt::Key_Return);
        QVERIFY(dialog.Command1()->hasFocus());
        QTest::keyClick(dialog.Command1(), Qt::Key_Return);
        QCOMPARE(s.messages, QStringList{QStringLiteral("Invalid Gridlocator:")});
        QVERIFY(dialog.text4()->hasFocus());
        QCOMPARE(FileBytes(path), before);
        QVERIFY(s.log.isEmpty()); // no port touched, no log positions, main window not shown
        // Lines 6 to 19 are taken in memory, nothing after them.
        QCOMPARE(s.settings[Settings::MyGrid].toText(), QStringLiteral("jo62q"));
        QCOMPARE(s.state.ownLocator, QStringLiteral("jo62q"));
        QCOMPARE(s.settings[Settings::Com2Enabled].toInt(), 0);
        QCOMPARE(s.settings[Settings::Com3Port].toText(), QStringLiteral("/dev/serial/by-id/gps"));
        QVERIFY(s.settings[Settings::ClusterHost2].toText() != foreign);
        QVERIFY(s.settings[Settings::QslFoot].toText() != longText);

        // Corrected in lower case: valid as upper case, kept as typed.
        QTest::keyClicks(dialog.text4(), QStringLiteral("m"));
        QVERIFY(dialog.done());
        QCOMPARE(s.messages.size(), 1);
        QCOMPARE(dialog.text4()->text(), QStringLiteral("jo62qm"));
        QCOMPARE(s.state.ownLocator, QStringLiteral("jo62qm"));
        QCOMPARE(s.state.ownCallsign, QStringLiteral("dl0abc"));
        QCOMPARE(s.log, (QStringList{QStringLiteral("Com1 open"), QStringLiteral("Com2 close"),
                                     QStringLiteral("geo"), QStringLiteral("Com4 open"),
                                     QStringLiteral("main")}));
        QVERIFY(s.com1.isOpen() && !s.com2.isOpen() && s.com4.isOpen());
        QCOMPARE(s.state.GeBeaconLines, false);
        QCOMPARE(s.state.GeSquareLines, true);

        // A fresh store reads back what the file holds: every line as the file writes it.
        {
            SettingsStore fresh(path);
            QCOMPARE(fresh.LoadSettings(), SettingsLoad::Read);
            for (int slot = 0; slot < Settings::UsedSlots; ++slot)
                QVERIFY2(fresh[slot] == AsFileHoldsIt(s.settings[slot]),
                         qPrintable(QStringLiteral("line %1: %2")
                                        .arg(slot + 1)
                                        .arg(fresh[slot].toText().left(80))));
            QCOMPARE(fresh[Settings::MyCallsign].toText(), QStringLiteral("dl0abc"));
            QCOMPARE(fresh[Settings::MyGrid].toText(), QStringLiteral("jo62qm"));
            QCOMPARE(fresh[Settings::Com2Enabled].kind(), SettingValue::Kind::Integer);
            QCOMPARE(fresh[Settings::Com2Enabled].toInt(), 0);
            QCOMPARE(fresh[Settings::Com3Port].toText(), QStringLiteral("/dev/serial/by-id/gps"));
            QCOMPARE(fresh[Settings::Com4Settings].toText(), QStringLiteral("9600,e,7,2"));
            QCOMPARE(fresh[Settings::ClusterPort2].toText(), QStringLiteral("7300"));
            QCOMPARE(fresh[Settings::ClusterSelect].toInt(), 2);
            QCOMPARE(fresh[Settings::QslInfo].toText(), QStringLiteral("QSL 1"));
            QCOMPARE(fresh[Settings::WeatherFetch].kind(), SettingValue::Kind::Integer);
            QCOMPARE(fresh[Settings::WeatherFetch].toBool(), true);
            QCOMPARE(fresh[Settings::GeTransparency].kind(), SettingValue::Kind::Integer);
            QCOMPARE(fresh[Settings::GeTransparency].toText(), QStringLiteral("77"));
            QCOMPARE(fresh[Settings::GeBeaconLines].toInt(), 0);
            QCOMPARE(fresh[Settings::GeSquareLines].toInt(), 1);
            QCOMPARE(fresh[Settings::Com1Ft991].toInt(), 1); // the rig control asks "= 1"
            QCOMPARE(fresh[Settings::Com2Ft991].toInt(), 0);
            // Characters of the code page survive; the others come back as the file writes them.
            const QString foot = fresh[Settings::QslFoot].toText();
            QCOMPARE(foot.size(), longText.size());
            QVERIFY(foot.startsWith(QString(40000, QLatin1Char('x')) + QStringLiteral("ÄØ€")));
            QCOMPARE(fresh[Settings::ClusterHost2].toText(), foot.right(4));
            QVERIFY(fresh[Settings::ClusterHost2].toText() != foreign);
            // A dialog opened on the read-back settings shows them whole.
            ProgramState state;
            StationContext context{fresh,   state,      CreateSystemSerialPort,
                                   s.board, s.database, s.clock};
            SettingsDialog again(context, {});
            QCOMPARE(again.qslLine(5)->text(), foot);
            QCOMPARE(again.GEcolor()->value(), 77);
            QCOMPARE(again.uSc_MultiOption1()->selected(), 2);
            QVERIFY(again.Check2()->isChecked() && !again.Check3()->isChecked());
            QVERIFY(!again.ChecklineB()->isChecked() && again.ChecklineS()->isChecked());
        }

        // Unticking Com4 closes the rotor port at once; a port that cannot be opened (Com1,
        // held elsewhere) is passed over and the rest still runs.
        QVERIFY(s.com1.close());
        s.log.clear();
        s.com1.refuseOpen = true;
        dialog.comCheck(4)->setChecked(false);
        QTest::mouseClick(dialog.Command1(), Qt::LeftButton);
        QCOMPARE(s.log, (QStringList{QStringLiteral("Com1 open"), QStringLiteral("geo"),
                                     QStringLiteral("Com4 close"), QStringLiteral("main")}));
        QVERIFY(!s.com1.isOpen() && !s.com4.isOpen());
        {
            SettingsStore fresh(path);
            fresh.LoadSettings();
            QCOMPARE(fresh[Settings::Com4Enabled].toInt(), 0);
        }

        // A save that fails is told, with the reason, and the main window stays behind.
        Station lost(dir.file(QStringLiteral("gone/Farscan.txt")), dir.path());
        SettingsDialog failing(lost.context, lost.hooks());
        failing.text4()->setText(QStringLiteral("JO62QM"));
        QVERIFY(!failing.done());
        QCOMPARE(lost.messages.size(), 1);
        QVERIFY(lost.messages.first().contains(lost.settings.lastError()));
        QVERIFY(!lost.settings.lastError().isEmpty());
        QVERIFY(!lost.log.contains(QStringLiteral("main")));
    }
};

QTEST_MAIN(SettingsDialogTest)
#include "tst_settingsdialog.moc"
