#include "BeaconDirectory.h"
#include "BoardLibrary.h"
#include "Clock.h"
#include "Database.h"
#include "FakeBoard.h"
#include "LogbookWindow.h"
#include "MainWindow.h"
#include "OptionGroup.h"
#include "PortivaBoard.h"
#include "ProgramState.h"
#include "Settings.h"
#include "SettingsDialog.h"
#include "StationWindows.h"
#include "TestStation.h"
#include "TestSupport.h"
#include "ValueLabel.h"

#include "Weather.h"
#include <QAccessible>
#include <QDir>
#include <QFile>
#include <QLabel>
#include <QLibrary>
#include <QLineEdit>
#include <QMenuBar>
#include <QMessageBox>
#include <QPointer>
#include <QProcess>
#include <QProgressDialog>
#include <QPushButton>
#include <QScrollBar>
#include <QSignalSpy>
#include <QStandardItemModel>
#include <QTableView>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <QWheelEvent>

#include <csignal>
#include <memory>

namespace {

QList<QByteArray> FileLines(const QString& path) {
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly))
        return {};
    QList<QByteArray> lines = f.readAll().split('\n');
    if (!lines.isEmpty() && lines.last().isEmpty())
        lines.removeLast();
    for (QByteArray& l : lines)
        if (l.endsWith('\r'))
            l.chop(1);
    return lines;
}

QColor TextColour(QLabel* label) {
    return label->palette().color(QPalette::WindowText);
}

// What the program's main() builds for the window: the settings file in the working
// directory, the program-wide values, the data folder of FARSCAN_DATA_DIR, and a board (the
// fake unless the test hands in another).
struct Station : TestStation {
    explicit Station(StationBoard* other = nullptr)
        : TestStation(DataFolder(), SettingsFilePath(), other) {}
};

// Four pseudo-terminals standing in for the station's ports, mapped by port number.
struct StationPorts {
    PtyPair com1, com2, sensor, rotor;
    std::unique_ptr<EnvGuard> g1, g2, g3, g4;
    StationPorts() {
        g1 = std::make_unique<EnvGuard>("FARSCAN_COM10", com1.devicePath().toLocal8Bit());
        g2 = std::make_unique<EnvGuard>("FARSCAN_COM11", com2.devicePath().toLocal8Bit());
        g3 = std::make_unique<EnvGuard>("FARSCAN_COM1", sensor.devicePath().toLocal8Bit());
        g4 = std::make_unique<EnvGuard>("FARSCAN_COM12", rotor.devicePath().toLocal8Bit());
    }
};

// What a port received, without the polls the main window's timer sends every 200 ms.
QByteArray WithoutPolls(QByteArray bytes, const QByteArray& poll) {
    return bytes.replace(poll, QByteArray());
}

const QByteArray kSensorPoll("\x7F\x01\x87", 3);
const QByteArray kRotorPoll("AI1;");

// A settings file in the working directory: first-run values with some of them changed.
void PresetSettings(std::initializer_list<std::pair<int, SettingValue>> values) {
    SettingsStore file;
    file.LoadSettings();
    for (const auto& [slot, value] : values)
        file[slot] = value;
    file.SaveSettings();
}

// A station with its callsign and locator set (no first-run dialog takes the focus) and a data
// folder, chosen through FARSCAN_DATA_DIR, whose fresh database holds the given rows. Made
// inside the test's ScratchDir, where the settings file goes.
struct StationData {
    QTemporaryDir dir;
    EnvGuard folder{"FARSCAN_DATA_DIR", dir.path().toLocal8Bit()};
    QString text = BuildConnectionText(dir.path());

    bool fill(std::initializer_list<QString> statements) {
        PresetSettings({{Settings::MyGrid, SettingValue::text(QStringLiteral("JO62QM"))},
                        {Settings::MyCallsign, SettingValue::text(QStringLiteral("DL1TST"))}});
        if (!EnsureDatabase(QDir(dir.path()).filePath(QStringLiteral("backup.mdb"))))
            return false;
        DbConnection c;
        if (!c.open(text))
            return false;
        for (const QString& statement : statements)
            if (!c.execute(statement))
                return false;
        return true;
    }
};

MainWindowOptions TestOptions() {
    MainWindowOptions o;
    o.video = false;
    return o;
}

} // namespace

class MainWindowTest : public QObject {
    Q_OBJECT
    QTemporaryDir m_data;
private slots:
    void initTestCase() {
        qunsetenv("FARSCAN_WEATHER_URL");
        // The spectrum records the generated beacon, so no test here depends on a sound server.
        qputenv("FARSCAN_AUDIO", "beacon");
        // Keep the database out of the build folder.
        qputenv("FARSCAN_DATA_DIR", m_data.path().toLocal8Bit());
    }

    void startUpSendsTheStationBytes() {
        ScratchDir dir;
        StationPorts ports;
        Station station;
        MainWindow w(station.context(), TestOptions());
        w.show();
        QCOMPARE(ports.com1.readAvailable(), QByteArray(5, '\0'));
        QCOMPARE(ports.com2.readAvailable(), QByteArray(5, '\0'));
        const QByteArray sensor = ports.sensor.readAvailable(200, 1000);
        QVERIFY(sensor.startsWith(QByteArray("\x00\x00\x08", 3)));
        QCOMPARE(WithoutPolls(sensor.mid(3), kSensorPoll), QByteArray());
        QVERIFY2(sensor.size() > 3, "the timer polls the sensor box");
        QCOMPARE(WithoutPolls(ports.rotor.readAvailable(200, 1000), kRotorPoll), QByteArray());
        for (int n = 1; n <= 4; ++n)
            QVERIFY2(w.com(n)->isOpen(), qPrintable(QStringLiteral("Com%1").arg(n)));
        QCOMPARE(station.fake.calls().value(0), QStringLiteral("UsbInit(0)"));

        QVERIFY2(!w.findChild<QLabel*>(QStringLiteral("BoardLines")), "only for a simulated board");
        auto* lbl1 = w.findChild<QLabel*>(QStringLiteral("lblCom1"));
        auto* lbl4 = w.findChild<QLabel*>(QStringLiteral("lblCom4"));
        QCOMPARE(lbl1->text(), QStringLiteral("Com1 PortNr: 10 9600,n,8,1"));
        QCOMPARE(TextColour(lbl1), QColor(0, 255, 0));
        QCOMPARE(lbl4->text(), QStringLiteral("Com4 PortNr: 12 4800,n,8,1"));
        QCOMPARE(TextColour(lbl4), QColor(0, 255, 0));
        QCOMPARE(w.findChild<QLabel*>(QStringLiteral("lblReflvl"))->text(),
                 QStringLiteral("Ref: 30 dB"));
        QVERIFY(w.findChild<QTimer*>(QStringLiteral("Timer"))->isActive());
        QCOMPARE(w.findChild<QTimer*>(QStringLiteral("Timer"))->interval(), 200);
        // Timer1 runs the spectrum step once per completed block, 1 ms after it.
        auto* timer1 = w.findChild<QTimer*>(QStringLiteral("Timer1"));
        QCOMPARE(timer1->interval(), 1);
        QVERIFY(timer1->isSingleShot());
        QSignalSpy steps(timer1, &QTimer::timeout);
        QVERIFY(steps.wait(3000)); // a generated beacon block lasts about 0.37 s
        QVERIFY(steps.count() <= 2);

        w.close();
        for (int n = 1; n <= 4; ++n)
            QVERIFY(!w.com(n)->isOpen());
    }

    void aPortWithoutDeviceStaysClosedAndTurnsRed() {
        ScratchDir dir;
        StationPorts ports;
        EnvGuard missing("FARSCAN_COM10", "/dev/farscan-no-such-port");
        Station station;
        station.fake.missing = true;
        MainWindow w(station.context(), TestOptions());
        w.show();
        QVERIFY(!w.com(1)->isOpen());
        QCOMPARE(ports.com1.readAvailable(), QByteArray());
        QCOMPARE(ports.com2.readAvailable(), QByteArray(5, '\0'));
        QVERIFY(ports.sensor.readAvailable(200, 1000).startsWith(QByteArray("\x00\x00\x08", 3)));
        auto* lbl1 = w.findChild<QLabel*>(QStringLiteral("lblCom1"));
        QCOMPARE(TextColour(lbl1), QColor(255, 0, 0));
        QCOMPARE(TextColour(w.findChild<QLabel*>(QStringLiteral("lblCom2"))), QColor(0, 255, 0));
        // The second transceiver is still used.
        QVERIFY(w.com(2)->write(QByteArray("\x01\x00\x00\x00\x07", 5)));
        QCOMPARE(ports.com2.readAvailable().size(), 5);
    }

    void disabledPortsStayClosedAndTheCom2LabelFollowsItsSetting() {
        ScratchDir dir;
        StationPorts ports;
        PresetSettings({{Settings::Com2Enabled, SettingValue::number(0)},
                        {Settings::Com4Enabled, SettingValue::number(0)}});
        Station station;
        station.fake.missing = true;
        MainWindow w(station.context(), TestOptions());
        w.show();
        QVERIFY(!w.com(2)->isOpen());
        QVERIFY(!w.com(4)->isOpen());
        QCOMPARE(ports.com2.readAvailable(), QByteArray());
        QCOMPARE(TextColour(w.findChild<QLabel*>(QStringLiteral("lblCom2"))), QColor(255, 0, 0));
        QCOMPARE(TextColour(w.findChild<QLabel*>(QStringLiteral("lblCom4"))), QColor(255, 0, 0));
    }

    void firstRunAndUnloadWriteTheSettingsFile() {
        ScratchDir dir;
        const QString file = dir.file(QStringLiteral("Farscan.txt"));
        {
            Station station;
            MainWindow w(station.context(), TestOptions());
            QCOMPARE(FileLines(file).size(), 47);
            QCOMPARE(FileLines(file)[3], QByteArray("\"text1\""));
            w.show();
            QCOMPARE(w.findChild<QLineEdit*>(QStringLiteral("Text6"))->text(),
                     QStringLiteral("text2"));
            QCOMPARE(w.findChild<OptionGroup*>(QStringLiteral("OptSpeed"))->selected(), 2);
            QCOMPARE(w.findChild<OptionGroup*>(QStringLiteral("OptBandR"))->selected(), 1);
            QCOMPARE(w.findChild<OptionGroup*>(QStringLiteral("OptQRG"))->selected(), 1);
            QCOMPARE(w.findChild<QLabel*>(QStringLiteral("lblMarkerX"))->text(),
                     QStringLiteral("3640"));
            w.findChild<QLineEdit*>(QStringLiteral("Text6"))->setText(QStringLiteral("vvv test"));
            w.findChild<OptionGroup*>(QStringLiteral("OptBandR"))->setSelected(5);
            w.findChild<OptionGroup*>(QStringLiteral("OptBandV"))->setSelected(2);
            w.close();
        }
        const QList<QByteArray> lines = FileLines(file);
        QCOMPARE(lines.size(), 47);
        QCOMPARE(lines[0], QByteArray("2"));
        QCOMPARE(lines[1], QByteArray("#TRUE#"));  // the text-select toggle, restored from -1
        QCOMPARE(lines[2], QByteArray("#FALSE#")); // the loop toggle
        QCOMPARE(lines[3], QByteArray("\"Text1\""));
        QCOMPARE(lines[4], QByteArray("\"vvv test\""));
        QCOMPARE(lines[19], QByteArray("\"3640\""));
        QCOMPARE(lines[29], QByteArray("#TRUE#"));
        QCOMPARE(lines[33], QByteArray("5"));        // the last transverter band
        QCOMPARE(lines[34], QByteArray("14420000")); // the 144 MHz preset of the direct band
    }

    void aDataFolderWithoutDatabaseGetsOne() {
        ScratchDir dir;
        EnvGuard data("FARSCAN_DATA_DIR", dir.path().toLocal8Bit());
        Station station;
        station.fake.missing = true;
        MainWindow w(station.context(), TestOptions());
        QCOMPARE(station.state.DbConnectionText,
                 QStringLiteral("Provider=Microsoft.Jet.OLEDB.4.0;Data Source=") + dir.path() +
                     QStringLiteral("\\backup.mdb;Mode=Read|Write"));
        QVERIFY(QFile::exists(dir.file(QStringLiteral("backup.mdb"))));
        DbConnection db;
        QVERIFY2(db.open(station.state.DbConnectionText), qPrintable(db.lastError()));
    }

#ifdef PORTIVA_LIBRARY
    void simulatedBoardShowsItsLinesAsBandsAreChosen() {
        ScratchDir dir;
        EnvGuard sim("PORTIVA_SIM", "1");
        BoardLibrary library(QStringLiteral(PORTIVA_LIBRARY));
        PortivaBoard board(&library);
        Station station(&board);
        MainWindow w(station.context(), TestOptions());
        w.show();
        auto* lines = w.findChild<QLabel*>(QStringLiteral("BoardLines"));
        QVERIFY(lines);
        // The first-run band is 1296 MHz, relay line 7.
        QVERIFY(WaitFor([&] { return lines->text() == QStringLiteral("Board lines on: 7"); }));
        w.findChild<OptionGroup*>(QStringLiteral("OptBandR"))->setSelected(5);
        QVERIFY(WaitFor([&] { return lines->text() == QStringLiteral("Board lines on: 3"); }));
        w.findChild<OptionGroup*>(QStringLiteral("OptBandV"))->setSelected(2);
        QVERIFY(WaitFor([&] {
            return lines->text() == QStringLiteral("Board lines on: 3 20");
        })); // relays stay
    }
#endif

    void wheelScrollsBothGridsByWholeNotches() {
        ScratchDir dir;
        Station station;
        station.fake.missing = true;
        MainWindow w(station.context(), TestOptions());
        w.resize(1000, 700);
        w.show();
        QStandardItemModel beacons(200, 4), log(200, 4);
        QTableView* grid = w.beaconGrid();
        grid->setModel(&beacons);
        LogbookWindow* logbook = w.windows().logbookWindow();
        QVERIFY(logbook && logbook->grid());
        logbook->grid()->setModel(&log);
        logbook->grid()->resize(400, 300);
        QCoreApplication::processEvents();
        grid->verticalScrollBar()->setValue(50);
        logbook->grid()->verticalScrollBar()->setValue(60);

        auto wheel = [&](int delta) {
            QWheelEvent e(QPointF(5, 5), QPointF(5, 5), QPoint(), QPoint(0, delta), Qt::NoButton,
                          Qt::NoModifier, Qt::NoScrollPhase, false);
            QCoreApplication::sendEvent(grid->viewport(), &e);
        };
        wheel(60);
        QCOMPARE(grid->verticalScrollBar()->value(), 50);
        QCOMPARE(logbook->grid()->verticalScrollBar()->value(), 60);
        wheel(60);
        QCOMPARE(grid->verticalScrollBar()->value(), 49);
        QCOMPARE(logbook->grid()->verticalScrollBar()->value(), 59);
        wheel(-360); // towards the user: three notches down
        QCOMPARE(grid->verticalScrollBar()->value(), 52);
        QCOMPARE(logbook->grid()->verticalScrollBar()->value(), 62);
        grid->setModel(nullptr);
        logbook->grid()->setModel(nullptr);
    }

    void menuOpensEachWindowOnce() {
        ScratchDir dir;
        Station station;
        station.fake.missing = true;
        MainWindow w(station.context(), TestOptions());
        w.show();
        const struct {
            const char* action;
            const char* caption;
            const char* window;
            const char* title;
        } items[] = {
            {"mnuInitial", "&Initial", "form2", "Initial"},
            {"mnuPacket", "&Packet", "form3", "FarscanPacket"},
            {"mnuGPS", "&GPSLoc", "form4", "FarscanGPSLoc"},
            {"mnuFarscanLog", "&FarscanLog", "form5", "FarscanLog"},
            {"mnuQSL", "&QSL", "Form6", "FarscanQSL"},
        };
        QList<QAction*> actions = w.menuBar()->actions();
        QCOMPARE(actions.size(), 7); // and "Data", "About"
        for (int i = 0; i < 5; ++i) {
            QAction* a = actions[i];
            QCOMPARE(a->objectName(), QString::fromLatin1(items[i].action));
            QCOMPARE(a->text(), QString::fromLatin1(items[i].caption));
            a->trigger();
            QWidget* opened = nullptr;
            for (QWidget* top : QApplication::topLevelWidgets())
                if (top->objectName() == QLatin1String(items[i].window) && top->isVisible())
                    opened = top;
            QVERIFY(opened);
            QVERIFY(!opened->isModal());
            QCOMPARE(opened->windowTitle(), QString::fromLatin1(items[i].title));
            a->trigger();
            int count = 0;
            for (QWidget* top : QApplication::topLevelWidgets())
                count += top->objectName() == QLatin1String(items[i].window);
            QCOMPARE(count, 1);
        }
        QPointer<QWidget> logbook = w.windows().logbookWindow();
        w.close();
        QVERIFY2(logbook.isNull(), "unload closes every other window");
    }

    void beaconFieldsTypeCapitals() {
        ScratchDir dir;
        Station station;
        station.fake.missing = true;
        MainWindow w(station.context(), TestOptions());
        w.show();
        auto* beacon = w.findChild<QLineEdit*>(QStringLiteral("txtBeacon"));
        auto* locator = w.findChild<QLineEdit*>(QStringLiteral("txtLocB"));
        QTest::keyClicks(beacon, QStringLiteral("q0abc/b"));
        QTest::keyClicks(locator, QStringLiteral("jo62qm"));
        QCOMPARE(beacon->text(), QStringLiteral("Q0ABC/B"));
        QCOMPARE(locator->text(), QStringLiteral("JO62QM"));
        QCOMPARE(w.windowTitle(), QStringLiteral("Farscan BCN 2.1.3"));
    }

    void weatherPageIsFetchedOnlyWhenSwitchedOn() {
        QTcpServer server;
        QVERIFY(server.listen(QHostAddress::LocalHost));
        int requests = 0;
        // A page with the four keys past position 3000, readings at their fixed offsets.
        QString page(3100, QLatin1Char('.'));
        auto put = [&page](int pos1, const QString& text) {
            page.replace(pos1 - 1, text.size(), text);
        };
        page += QString(400, QLatin1Char('.'));
        put(3001, QStringLiteral("Outside Humidity"));
        put(3001 + 61, QStringLiteral("87%"));
        put(3101, QStringLiteral("Dew Point"));
        put(3101 + 54, QString::fromUtf8("4.2°C")); // Latin-1 on the wire, no charset given
        put(3201, QStringLiteral("Barometer"));
        put(3201 + 54, QStringLiteral("1013.2hPa"));
        put(3301, QStringLiteral("Average Wind Speed"));
        put(3301 + 62, QStringLiteral("12.0 km/h"));
        const QByteArray body = page.toLatin1();
        bool endless = false;
        qint64 endlessSent = 0;
        connect(&server, &QTcpServer::newConnection, &server, [&] {
            QTcpSocket* s = server.nextPendingConnection();
            ++requests;
            connect(s, &QTcpSocket::readyRead, s, [&, s] {
                s->readAll();
                if (!endless) {
                    s->write("HTTP/1.0 200 OK\r\nContent-Type: text/html\r\nContent-Length: " +
                             QByteArray::number(body.size()) + "\r\n\r\n" + body);
                    s->disconnectFromHost();
                    return;
                }
                // A page that never ends: more whenever the last piece has gone out.
                s->write("HTTP/1.0 200 OK\r\nContent-Type: text/html\r\n\r\n");
                auto more = [&, s] {
                    if (s->state() == QAbstractSocket::ConnectedState && s->bytesToWrite() == 0) {
                        s->write(QByteArray(64 * 1024, 'w'));
                        endlessSent += 64 * 1024;
                    }
                };
                connect(s, &QTcpSocket::bytesWritten, s, more);
                more();
            });
        });
        EnvGuard url("FARSCAN_WEATHER_URL", QByteArray("http://127.0.0.1:") +
                                                QByteArray::number(server.serverPort()) +
                                                "/weather.htm");
        {
            ScratchDir dir;
            Station station;
            MainWindow w(station.context(), TestOptions());
            w.show();
            QTest::qWait(300);
            QCOMPARE(requests, 0);
        }
        {
            ScratchDir dir;
            PresetSettings({{Settings::WeatherFetch, SettingValue::boolean(true)}});
            Station station;
            MainWindow w(station.context(), TestOptions());
            w.show();
            auto* label = w.findChild<QLabel*>(QStringLiteral("Label28"));
            QVERIFY(WaitFor([&] { return !label->text().isEmpty(); }, 5000));
            QCOMPARE(requests, 1);
            QCOMPARE(label->text(), QString::fromUtf8("87% : 4.2°C : 1013.2hPa : 12.0 km/h"));
        }
        {
            // A page that never ends is given up past the cap; the label stays as it was.
            ScratchDir dir;
            PresetSettings({{Settings::WeatherFetch, SettingValue::boolean(true)}});
            endless = true;
            Station station;
            MainWindow w(station.context(), TestOptions());
            w.show();
            // The server never ends the page: only the program can end the connection.
            QVERIFY(WaitFor([&] { return requests == 2; }, 5000));
            QVERIFY(WaitFor(
                [&] {
                    for (QTcpSocket* s : server.findChildren<QTcpSocket*>())
                        if (s->state() == QAbstractSocket::ConnectedState)
                            return false;
                    return true;
                },
                30000));
            QVERIFY(endlessSent > WeatherPageLimit);
            QVERIFY(endlessSent < 64 * WeatherPageLimit);
            QCOMPARE(w.findChild<QLabel*>(QStringLiteral("Label28"))->text(), QString());
        }
    }

    // Locator, Enter, Enter: the first Enter computes the path and puts the heading into the
    // rotor's heading box, over whatever was typed there, with the focus; the second turns the
    // antenna to it.
    void locatorEnterEnterTurnsTheAntenna() {
        ScratchDir dir;
        StationPorts ports;
        // With callsign and locator set, no first-run dialog takes the focus.
        PresetSettings({{Settings::MyGrid, SettingValue::text(QStringLiteral("JO62QM"))},
                        {Settings::MyCallsign, SettingValue::text(QStringLiteral("DL1TST"))}});
        Station station;
        MainWindow w(station.context(), TestOptions());
        w.show();
        w.activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(&w));
        auto* locator = w.findChild<QLineEdit*>(QStringLiteral("Locator"));
        auto* heading = w.findChild<QLineEdit*>(QStringLiteral("Text160"));
        QVERIFY(locator && heading);
        QCOMPARE(w.findChildren<QLineEdit*>(QStringLiteral("Text160")).size(), 1);
        heading->setText(QStringLiteral("abc"));
        ports.rotor.readAvailable(100, 300);
        locator->setFocus();
        QTest::keyClicks(locator, QStringLiteral("jo31nf"));
        QTest::keyClick(locator, Qt::Key_Return);
        QCOMPARE(heading->text(), QStringLiteral("253"));
        QVERIFY(heading->hasFocus());
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Return);
        QCOMPARE(WithoutPolls(ports.rotor.readAvailable(300, 1500), kRotorPoll),
                 QByteArray("AP1253\r;"));
        QVERIFY(locator->hasFocus());
    }

    // A first start without callsign and locator opens the settings dialog; "Done" sets up the
    // station, and the logbook measures from the new locator at once.
    void firstRunSetsUpTheStationInTheSettingsDialog() {
        ScratchDir dir;
        Station station;
        MainWindow w(station.context(), TestOptions());
        w.show();
        SettingsDialog* dialog = w.windows().settingsDialog();
        QVERIFY(WaitFor([&] { return dialog->isVisible(); }, 3000));
        dialog->text3()->setText(QStringLiteral("DL1NEW"));
        dialog->text4()->setText(QStringLiteral("jo31nf"));
        QVERIFY(dialog->done());
        QCOMPARE(station.state.ownCallsign, QStringLiteral("DL1NEW"));
        QCOMPARE(station.state.ownLocator, QStringLiteral("jo31nf"));
        QCOMPARE(station.state.HomeLonLatText, QStringLiteral("7.08333333333333,51.2083333333333"));
        QCOMPARE(w.windows().logbookWindow()->MyGrid()->text(), QStringLiteral("jo31nf"));
        SettingsStore file;
        QCOMPARE(file.LoadSettings(), SettingsLoad::Read);
        QCOMPARE(file[Settings::MyCallsign].toText(), QStringLiteral("DL1NEW"));
        // Once set up, the grid's loads leave the dialog alone.
        dialog->close();
        w.beacons()->LoadBeaconGrid();
        QVERIFY(!dialog->isVisible());
    }

    // The operator picks a beacon in the grid with Enter: the exact frames reach the rig and
    // rotor ports, the microwave beacon's digits go to Com2, the band follows the frequency.
    void beaconChosenInTheGridTunesTheRigAndTurnsTheAntenna() {
        ScratchDir dir;
        StationPorts ports;
        StationData data;
        QVERIFY(data.fill({QStringLiteral(
            "INSERT INTO PNT_Beacon (beacon, qrg, Locator) VALUES ('DB0MW/B', 10368850, "
            "'JO31NF'), ('OK0EA', 144410, 'JO60JJ')")}));
        Station station;
        MainWindow w(station.context(), TestOptions());
        w.show();
        w.activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(&w));
        QTableView* grid = w.beaconGrid();
        QCOMPARE(grid->model()->rowCount(), 2);
        auto pick = [&](const QString& name) {
            for (int r = 0; r < grid->model()->rowCount(); ++r)
                if (grid->model()->index(r, 0).data().toString() == name)
                    grid->setCurrentIndex(grid->model()->index(r, 1));
            grid->setFocus();
            QTest::keyClick(grid, Qt::Key_Return);
        };
        ports.com1.readAvailable(200, 500);
        ports.com2.readAvailable(200, 500);
        ports.rotor.readAvailable(200, 500);

        pick(QStringLiteral("DB0MW/B"));
        // The transverter's band: 144.850 MHz on Com1, the beacon's kHz on Com2.
        QCOMPARE(ports.com1.readAvailable(300, 1500), QByteArray("\x14\x48\x50\x00\x01", 5));
        // Com2 gets the beacon's digits, then the rig's digit text as every tuning sends it.
        QCOMPARE(ports.com2.readAvailable(300, 1500), QByteArray("10368850144850"));
        QCOMPARE(WithoutPolls(ports.rotor.readAvailable(300, 1500), kRotorPoll),
                 QByteArray("AP1253\r;"));
        QCOMPARE(station.state.BandPattern, QStringLiteral("10368%"));
        QCOMPARE(station.state.SelectedBeacon, QStringLiteral("DB0MW/B"));

        pick(QStringLiteral("OK0EA"));
        // The direct 144 MHz band: USB mode on Com1, the beacon's frequency on Com2.
        QCOMPARE(ports.com1.readAvailable(300, 1500), QByteArray("\x01\x00\x00\x00\x07", 5));
        const QByteArray frame("\x14\x44\x10\x00\x01", 5);
        // The band's own tuning and the selection's, each the digit text and the frame.
        QCOMPARE(ports.com2.readAvailable(300, 1500), "144410" + frame + "144410" + frame);
        QVERIFY(!WithoutPolls(ports.rotor.readAvailable(300, 1500), kRotorPoll).isEmpty());
        QCOMPARE(station.state.RigPort, QStringLiteral("Com2"));
    }

    // The Data menu's ADIF entries and the logbook's ADIF button through the file-dialog hook:
    // the whole log and one band out, a file in (its duplicate skipped) with the logbook's grid
    // and counts brought up to date, and a long import cancelled from its progress dialog,
    // which leaves the log as it was.
    void adifMenuAndButtonExchangeTheLog() {
        ScratchDir dir;
        StationData data;
        QVERIFY(data.fill({QStringLiteral(
            "INSERT INTO logtab (Date, GMT, Callsign, Band, Grid, QSL, DXCC) VALUES "
            "('2024-05-12','21:05:00','DL1AAA','144300','JO62','Q','Germany'),"
            "('2024-05-13','10:00:00','OK1BBB','10368100','JN79','N','Czech')")}));
        const QString text = data.text;
        auto count = [&text] {
            return StoredRows(text, QStringLiteral("SELECT count(*) FROM logtab"))
                .value(0)
                .value(0);
        };
        Station station;
        MainWindow w(station.context(), TestOptions());
        QStringList asked;
        QString answer;
        const AdifFileChooser chooser = [&](const QString& title, bool save,
                                            const std::function<void(const QString&)>& chosen) {
            asked << title + (save ? QStringLiteral(" (save)") : QStringLiteral(" (open)"));
            chosen(answer);
        };
        w.setAdifFileChooser(chooser);
        w.show();
        QSignalSpy done(&w, &MainWindow::adifFinished);
        auto told = [&w](const QString& part) {
            for (QMessageBox* box : w.findChildren<QMessageBox*>())
                if (box->text().contains(part))
                    return true;
            return false;
        };
        auto trigger = [&w](const char* name) {
            QAction* action = w.findChild<QAction*>(QString::fromLatin1(name));
            QVERIFY2(action, name);
            action->trigger();
        };

        answer = dir.file(QStringLiteral("all.adi"));
        trigger("mnuExportAdif");
        QVERIFY(WaitFor([&] { return done.size() == 1; }));
        QCOMPARE(done.at(0).at(0).toBool(), true);
        QVERIFY(told(QStringLiteral("2 QSOs written to")));
        QFile all(answer);
        QVERIFY(all.open(QIODevice::ReadOnly));
        const QByteArray whole = all.readAll();
        QCOMPARE(whole.count("<EOR>"), 2);
        QVERIFY(whole.contains("<CALL:6>DL1AAA") && whole.contains("<CALL:6>OK1BBB"));

        // The logbook's button writes the band it shows.
        LogbookWindow* log = w.windows().logbookWindow();
        log->setFileChooser(chooser);
        log->show();
        log->OptBand()->setSelected(17); // 10368%
        QCOMPARE(log->GridCaption()->text(), QStringLiteral("1"));
        QSignalSpy logDone(log, &LogbookWindow::adifFinished);
        answer = dir.file(QStringLiteral("band.adi"));
        QVERIFY(log->AdifExport()->isEnabled());
        log->AdifExport()->click();
        QVERIFY(WaitFor([&] { return logDone.size() == 1; }));
        QFile band(answer);
        QVERIFY(band.open(QIODevice::ReadOnly));
        const QByteArray bandText = band.readAll();
        QCOMPARE(bandText.count("<EOR>"), 1);
        QVERIFY(bandText.contains("<CALL:6>OK1BBB <QSO_DATE:8>20240513 <TIME_ON:6>100000 "
                                  "<BAND:3>3cm <FREQ:9>10368.100 "));

        // In: one QSO already logged, one new on the band the logbook shows.
        answer = dir.file(QStringLiteral("in.adi"));
        QFile in(answer);
        QVERIFY(in.open(QIODevice::WriteOnly));
        in.write("<EOH><CALL:6>DL1AAA<QSO_DATE:8>20240512<TIME_ON:4>2105<BAND:2>2m<EOR>\n"
                 "<CALL:5>G4XYZ<QSO_DATE:8>20240514<TIME_ON:4>1200<FREQ:9>10368.200"
                 "<GRIDSQUARE:6>IO91WM<COUNTRY:7>England<QSL_SENT:1>Y<QSL_RCVD:1>Y<EOR>\n");
        in.close();
        trigger("mnuImportAdif");
        QVERIFY(WaitFor([&] { return done.size() == 2; }));
        QCOMPARE(done.at(1).at(0).toBool(), true);
        QVERIFY(
            told(QStringLiteral("1 QSOs imported, 1 duplicates skipped, 0 records unreadable")));
        QCOMPARE(count(), QStringLiteral("3"));
        QCOMPARE(log->GridCaption()->text(), QStringLiteral("2"));
        QCOMPARE(log->Sqw()->text(), QStringLiteral("2"));
        QCOMPARE(log->SQc()->text(), QStringLiteral("1"));
        QCOMPARE(log->dxw()->text(), QStringLiteral("2"));
        QCOMPARE(asked, (QStringList{QStringLiteral("Export log as ADIF (save)"),
                                     QStringLiteral("Export this band as ADIF (save)"),
                                     QStringLiteral("Import ADIF (open)")}));

        // A long import, cancelled from its progress dialog once it has started.
        QByteArray many = "<EOH>\n";
        for (int i = 0; i < 40000; ++i)
            many += QStringLiteral("<CALL:7>Q%1<QSO_DATE:8>20240601<TIME_ON:4>1200<BAND:2>2m"
                                   "<EOR>\n")
                        .arg(i, 6, 10, QLatin1Char('0'))
                        .toLatin1();
        QVERIFY(in.open(QIODevice::WriteOnly));
        in.write(many);
        in.close();
        trigger("mnuImportAdif");
        AdifRunner* runner = w.adifRunner();
        QVERIFY(runner);
        QPointer<QProgressDialog> progress = runner->progressDialog();
        QVERIFY(progress);
        QCOMPARE(progress->minimumDuration(), 500);
        QVERIFY(!progress->isModal());
        QVERIFY(!progress->accessibleName().isEmpty());
        QVERIFY(WaitFor([&] { return !progress || progress->value() > 0; }));
        QVERIFY2(progress && done.size() == 2, qPrintable(done.value(2).value(1).toString()));
        auto* cancel = progress->findChild<QPushButton*>();
        QVERIFY(cancel);
        cancel->click();
        QVERIFY(WaitFor([&] { return done.size() == 3; }));
        QCOMPARE(done.at(2).at(0).toBool(), false);
        QVERIFY(told(QStringLiteral("Import cancelled; the log was not changed")));
        QCOMPARE(count(), QStringLiteral("3"));
        QVERIFY(WaitFor([&] { return w.adifRunner() == nullptr; }));
    }

    // GEB and the logbook's GoogleEarth button write earth.kml in the working folder and hand
    // it to the desktop; without an application for KML the user is told where the file is.
    void googleEarthButtonsWriteAndOpenEarthKml() {
        ScratchDir dir;
        StationData data;
        QVERIFY(data.fill(
            {QStringLiteral("INSERT INTO PNT_Beacon (beacon, qrg, Locator, GEdata, GEgridXY) "
                            "VALUES ('Q0BCN/B-2', 10368850, 'JO31NF', 'dish', '7.08,51.2')"),
             QStringLiteral(
                 "INSERT INTO logtab (Callsign, Band, Grid, QSL, Prop, GEdata, GEgridXY, GEpoly) "
                 "VALUES ('Q0ABC', '144300', 'JO31NF', 'Q', 'Tr', 'qso', '7.08,51.2', '')")}));
        Station station;
        MainWindow w(station.context(), TestOptions());
        QStringList opened;
        bool registered = true;
        w.setFileOpener([&](const QString& path) {
            opened << path;
            return registered;
        });
        w.show();
        const QString kml = QDir::current().filePath(QStringLiteral("earth.kml"));
        w.beaconPanel()->GEB()->click();
        QCOMPARE(opened, QStringList{kml});
        QFile file(kml);
        QVERIFY(file.open(QIODevice::ReadOnly));
        const QByteArray beacons = file.readAll();
        file.close();
        QVERIFY2(beacons.contains("<name>Q0BCN</name>"), beacons.constData());
        QVERIFY(beacons.contains("<name> DL1TST</name>"));

        station.state.BandPattern = QStringLiteral("144%");
        registered = false;
        w.windows().logbookWindow()->GoogleEarth()->click();
        QCOMPARE(opened.size(), 2);
        QVERIFY(file.open(QIODevice::ReadOnly));
        const QByteArray log = file.readAll();
        QVERIFY2(log.contains("<name>DL1TST 144 MHz wkd/cfd 1/1</name>"), log.constData());
        bool told = false;
        for (QMessageBox* box : w.findChildren<QMessageBox*>())
            told |= box->text().contains(QStringLiteral("no application is registered"));
        QVERIFY(told);
    }

    // Values that other windows change during the run (the GPS's locator, the settings
    // dialog's callsign) are the ones written at exit; a save that fails keeps the window open
    // and says so, and closing anyway is the user's choice.
    void exitSavesTheProgramWideValuesOrSaysWhyNot() {
        ScratchDir dir;
        const QString path = dir.file(QStringLiteral("Farscan.txt"));
        {
            Station station;
            MainWindow w(station.context(), TestOptions());
            w.show();
            station.state.ownLocator = QStringLiteral("IO91WM");
            station.state.ownCallsign = QStringLiteral("Q0XYZ");
            w.close();
        }
        QCOMPARE(FileLines(path).value(5), QByteArray("\"Q0XYZ\""));
        QCOMPARE(FileLines(path).value(6), QByteArray("\"IO91WM\""));

        // The file cannot be written (it is a folder now): the window stays and asks.
        QVERIFY(QFile::remove(path));
        QVERIFY(QDir(dir.path()).mkdir(QStringLiteral("Farscan.txt")));
        Station station;
        MainWindow w(station.context(), TestOptions());
        w.show();
        QVERIFY(!w.close());
        QVERIFY(w.isVisible());
        auto* box = w.findChild<QMessageBox*>(QStringLiteral("SaveFailedMessage"));
        QVERIFY(box && box->isVisible());
        QVERIFY(box->text().contains(QStringLiteral("Farscan.txt")));
        QVERIFY(w.com(3)->isOpen() || !w.com(3)->lastError().isEmpty());
        QAbstractButton* closeAnyway = nullptr;
        for (QAbstractButton* b : box->buttons())
            if (box->buttonRole(b) == QMessageBox::DestructiveRole)
                closeAnyway = b;
        QVERIFY(closeAnyway);
        closeAnyway->click();
        QTRY_VERIFY(!w.isVisible());
        QVERIFY(QFileInfo(path).isDir());
    }

    // What is really connected, whatever a port label shows, and a Windows database named.
    void statusLineAndAWindowsDatabase() {
        ScratchDir dir;
        StationPorts ports;
        EnvGuard missing("FARSCAN_COM12", "/dev/farscan-no-such-port");
        QTemporaryDir data;
        QFile jet(QDir(data.path()).filePath(QStringLiteral("backup.mdb")));
        QVERIFY(jet.open(QIODevice::WriteOnly));
        jet.write(QByteArray("\x00\x01\x00\x00Standard Jet DB", 19) + QByteArray(2048, '\0'));
        jet.close();
        EnvGuard dataDir("FARSCAN_DATA_DIR", data.path().toLocal8Bit());
        Station station;
        station.fake.missing = true;
        MainWindow w(station.context(), TestOptions());
        w.show();
        const QString status = w.connectionStatus()->text();
        QVERIFY2(status.contains(QStringLiteral("Com1 ") + ports.com1.devicePath() +
                                 QStringLiteral(" open")),
                 qPrintable(status));
        QVERIFY2(status.contains(QStringLiteral("Com4 /dev/farscan-no-such-port failed:")),
                 qPrintable(status));
        QVERIFY2(status.contains(QStringLiteral("Board library missing")), qPrintable(status));
        QAccessibleInterface* access = QAccessible::queryAccessibleInterface(w.connectionStatus());
        QVERIFY(access);
        QCOMPARE(access->text(QAccessible::Description), status);
        QCOMPARE(access->text(QAccessible::Name), QStringLiteral("Connections"));
        QMessageBox* message = nullptr;
        for (QMessageBox* box : w.findChildren<QMessageBox*>())
            if (box->text().contains(QStringLiteral("Jet")))
                message = box;
        QVERIFY(message);
        QVERIFY(message->text().contains(jet.fileName()));
        QCOMPARE(QFileInfo(jet.fileName()).size(), qint64(19 + 2048));
        QCOMPARE(w.findChildren<QMessageBox*>().size(), 1);

        // A damaged file: one clear message, and the file stays byte for byte.
        QFile damaged(QDir(data.path()).filePath(QStringLiteral("backup.mdb")));
        QVERIFY(damaged.open(QIODevice::WriteOnly | QIODevice::Truncate));
        const QByteArray noise = QByteArray("SQLite format 3\0", 16) + QByteArray(3000, '\x5a');
        damaged.write(noise);
        damaged.close();
        MainWindow w2(station.context(), TestOptions());
        w2.show();
        const QList<QMessageBox*> boxes = w2.findChildren<QMessageBox*>();
        QCOMPARE(boxes.size(), 1);
        QVERIFY2(boxes[0]->text().contains(QStringLiteral("cannot be read")),
                 qPrintable(boxes[0]->text()));
        QVERIFY(damaged.open(QIODevice::ReadOnly));
        QCOMPARE(damaged.readAll(), noise);
    }

    void versionOption() {
        QProcess farscan;
        farscan.start(QStringLiteral(FARSCAN_BINARY), {QStringLiteral("--version")});
        QVERIFY(farscan.waitForFinished(20000));
        QCOMPARE(farscan.exitCode(), 0);
        QCOMPARE(farscan.readAllStandardOutput().trimmed(), QByteArray("Farscan 2.1.3"));
    }

    void terminationSignalClosesThroughUnload() {
        ScratchDir dir;
        QProcess farscan;
        farscan.setWorkingDirectory(dir.path());
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
        env.insert(QStringLiteral("FARSCAN_NO_VIDEO"), QStringLiteral("1"));
        env.insert(QStringLiteral("FARSCAN_DATA_DIR"), dir.path());
        farscan.setProcessEnvironment(env);
        farscan.start(QStringLiteral(FARSCAN_BINARY), {});
        QVERIFY(farscan.waitForStarted());
        const QString file = dir.file(QStringLiteral("Farscan.txt"));
        QVERIFY(WaitFor([&] { return FileLines(file).size() == 47; }, 20000));
        QTest::qWait(500); // let the window come up
        ::kill(pid_t(farscan.processId()), SIGTERM);
        QVERIFY(farscan.waitForFinished(20000));
        QCOMPARE(farscan.exitStatus(), QProcess::NormalExit);
        QCOMPARE(farscan.exitCode(), 0);
        const QList<QByteArray> lines = FileLines(file);
        QCOMPARE(lines.size(), 47);
        QCOMPARE(lines[3], QByteArray("\"Text1\""));
        QCOMPARE(lines[1], QByteArray("#TRUE#"));
    }
};

int main(int argc, char** argv) {
    EnsureApplication();
    MainWindowTest test;
    return QTest::qExec(&test, argc, argv);
}

#include "tst_mainwindow.moc"
