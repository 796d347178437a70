// The GPS window end to end: recorded receiver output replayed through a pseudo-terminal at
// receiver pace into the real window, the same recording through a real gpsd, and a receiver
// that is unplugged mid-run.

#include "Clock.h"
#include "Database.h"
#include "FakeBoard.h"
#include "GpsWindow.h"
#include "Nmea.h"
#include "ProgramState.h"
#include "Settings.h"
#include "TestSupport.h"
#include "ValueLabel.h"

#include <QAccessible>
#include <QComboBox>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QLineEdit>
#include <QMessageBox>
#include <QPlainTextEdit>
#include <QProcess>
#include <QPushButton>
#include <QSignalSpy>
#include <QTcpServer>
#include <QTest>
#include <QTimer>

#include <sys/resource.h>

namespace {

// The shared recordings, found beside the source tree.
QString RecordingsFolder() {
    return QFileInfo(QStringLiteral(__FILE__))
        .absoluteDir()
        .filePath(QStringLiteral("../../../shared/nmea"));
}

// The sentence lines of a recording, with the CR LF a receiver sends.
QList<QByteArray> Recording(const QString& name, int maxLines) {
    QFile f(QDir(RecordingsFolder()).filePath(name));
    QList<QByteArray> lines;
    if (!f.open(QIODevice::ReadOnly))
        return lines;
    for (QByteArray line : f.readAll().split('\n')) {
        line = line.trimmed();
        if (line.startsWith('$') && lines.size() < maxLines)
            lines << line + "\r\n";
    }
    return lines;
}

// What main() builds, with the settings file in the scratch folder.
struct Station {
    SettingsStore settings;
    ProgramState state;
    FakeBoard board;
    StationDatabase database{QDir::currentPath()};
    SystemClock clock;
    StationContext context{settings, state, CreateSystemSerialPort, board, database, clock};
};

// Feeds lines a few at a time every 100 ms, as a receiver at 4800 baud would; a looping feeder
// starts the recording again at its end, as a receiver keeps sending.
class Feeder : public QObject {
public:
    Feeder(PtyPair& pty, QList<QByteArray> lines, bool loop = false)
        : m_pty(pty), m_lines(std::move(lines)), m_loop(loop) {
        connect(&m_timer, &QTimer::timeout, this, [this] {
            // What the program sends (gpsd probes the receiver) is drained, so it never blocks.
            m_pty.readAvailable(1, 20);
            QByteArray chunk;
            for (int i = 0; i < 3 && m_next < m_lines.size(); ++i)
                chunk += m_lines.at(m_next++);
            if (m_loop && m_next >= m_lines.size()) {
                m_next = 0;
                ++m_rounds;
            }
            if (!chunk.isEmpty())
                m_pty.write(chunk);
        });
        m_timer.start(100);
    }
    bool done() const { return m_next >= m_lines.size(); }
    int rounds() const { return m_rounds; }
    void stop() { m_timer.stop(); }

private:
    PtyPair& m_pty;
    QList<QByteArray> m_lines;
    bool m_loop;
    qsizetype m_next = 0;
    int m_rounds = 0;
    QTimer m_timer;
};

// Processor time this process used so far, in seconds.
double CpuSeconds() {
    rusage u{};
    getrusage(RUSAGE_SELF, &u);
    return double(u.ru_utime.tv_sec + u.ru_stime.tv_sec) +
           double(u.ru_utime.tv_usec + u.ru_stime.tv_usec) / 1e6;
}

} // namespace

class TestGpsWindow : public QObject {
    Q_OBJECT

private slots:
    void initTestCase() {
        EnsureApplication();
        InstallValueLabelAccessibility();
    }

    void replayedReceiverSetsBoxesLocatorAndFix() {
        const QList<QByteArray> lines = Recording(QStringLiteral("nl402u.log"), 30);
        if (lines.isEmpty())
            QSKIP("the recordings folder ../shared/nmea beside the source tree is missing");
        ScratchDir scratch;
        PtyPair pty;
        QVERIFY(pty.ok());
        Station s;
        s.settings.LoadSettings();
        s.settings[Settings::Com3Enabled] = SettingValue::number(0);
        s.settings[Settings::Com3Port] = SettingValue::text(pty.devicePath());
        s.settings[Settings::Com3Settings] = SettingValue::text(QStringLiteral("4800,n,8,1"));
        s.state.ownLocator = QStringLiteral("JO62QM");
        s.state.GpsFix = true;
        GpsWindow w(s.context);
        QStringList messages;
        w.setMessageSink([&](const QString& m) { messages << m; });
        QCOMPARE(w.objectName(), QString("form4"));
        QCOMPARE(w.windowTitle(), QString("FarscanGPSLoc"));
        QVERIFY(w.windowFlags() & Qt::Window);
        QVERIFY(!s.state.GpsFix);
        QCOMPARE(w.lblCom3()->text(), "Com3 PortNr: " + pty.devicePath() + " 4800,n,8,1");
        const QStringList frames{"RMC-Data", "GGA-Data", "GSA-Data"};
        for (const QString& f : frames)
            QVERIFY(w.findChild<QWidget*>(f));
        for (QWidget* c : w.findChildren<QWidget*>()) {
            if (c->focusPolicy() != Qt::NoFocus || qobject_cast<QLineEdit*>(c))
                QVERIFY2(!c->accessibleName().isEmpty() || !QAccessible::queryAccessibleInterface(c)
                                                                ->text(QAccessible::Name)
                                                                .isEmpty(),
                         qPrintable(c->objectName()));
        }
        for (int i = 1; i <= 12; ++i)
            QCOMPARE(w.txtPRN(i)->objectName(), QStringLiteral("txtPRN%1").arg(i));

        // Disabled: the message and a red label, the port stays closed.
        w.Command1()->click();
        QCOMPARE(messages, QStringList{"Com3(" + pty.devicePath() + ")Port not open"});
        QVERIFY(!w.port()->isOpen());
        QCOMPARE(w.lblCom3()->palette().color(QPalette::WindowText), QColor(255, 0, 0));

        s.settings[Settings::Com3Enabled] = SettingValue::number(1);
        QSignalSpy fixes(&w, &GpsWindow::fixChanged);
        w.Command1()->click();
        QVERIFY(w.port()->isOpen());
        QCOMPARE(w.Command1()->text(), QString("&stop"));
        QCOMPARE(w.lblCom3()->palette().color(QPalette::WindowText), QColor(0, 255, 0));
        QCOMPARE(w.Grid()->text(), QString("GPS NO FIX"));

        QElapsedTimer took;
        took.start();
        Feeder feeder(pty, lines);
        QVERIFY(WaitFor([&] { return feeder.done(); }, 8000));
        QVERIFY(WaitFor([&] { return w.box("txtUT")->text() == "10:47:08"; }, 2000));
        qInfo("replayed %lld lines in %lld ms", qlonglong(lines.size()), took.elapsed());

        QCOMPARE(w.box("txtRW")->text(), QString("True"));
        QCOMPARE(w.box("txtLAD")->text(), QString("N"));
        QCOMPARE(w.box("txtLOD")->text(), QString("E"));
        QCOMPARE(w.box("txtDS")->text(), QString("24.07.09"));
        QCOMPARE(w.box("txtLa")->text().left(6), QString("54.093"));
        QCOMPARE(w.box("txtQU")->text(), QString("GPS fix"));
        QCOMPARE(w.box("txtALSU")->text(), QString("m"));
        QCOMPARE(w.box("txtMO")->text(), QString("3D-Fix"));
        QCOMPARE(w.box("txtASM")->text(), QString("True"));
        QCOMPARE(w.txtPRN(1)->text(), QString("28"));
        QCOMPARE(w.txtPRN(9)->text(), QString(""));
        QVERIFY(w.Grid()->text().startsWith("JO54"));
        QCOMPARE(w.Grid()->text().size(), 10);
        QCOMPARE(w.Grid()->palette().color(QPalette::WindowText), QColor(Qt::black));
        QCOMPARE(s.state.ownLocator, w.Grid()->text());
        QVERIFY(s.state.GpsFix);
        QVERIFY(!w.Image1()->isHidden());
        QCOMPARE(fixes.size(), 1);
        QCOMPARE(fixes.at(0).at(0).toBool(), true);
        const QString log = w.Text1()->toPlainText();
        QVERIFY(log.contains("$GPGSA,A,3,28,18,27,19,08,09,10,15,,,,,1.7,1.1,1.3*3C"));
        QVERIFY(log.contains("[3] [1] [12] [8] [30] [75] [25]"));
        QVERIFY(!log.contains("GPVTG"));

        // The receiver is unplugged: the port closes by itself, the window says so, and the
        // dead line does not keep the event loop busy.
        feeder.stop();
        pty.hangUp();
        QVERIFY(WaitFor([&] { return !w.port()->isOpen(); }, 3000));
        QCOMPARE(w.Command1()->text(), QString("&start"));
        QCOMPARE(w.lblCom3()->palette().color(QPalette::WindowText), QColor(255, 0, 0));
        QVERIFY2(w.status()->text().contains("receiver lost"), qPrintable(w.status()->text()));
        QCOMPARE(w.port()->lastError(), QString("The device was disconnected"));
        QCOMPARE(w.port()->lastEventKind(), SerialPort::CommEventKind::Error);
        const double before = CpuSeconds();
        WaitFor([] { return false; }, 1000);
        const double used = CpuSeconds() - before;
        qInfo("processor time over one second after the hang-up: %.3f s", used);
        QVERIFY2(used < 0.5, "the event loop spins on the hung-up line");
        // Plugged in again (a new line): start works as before.
        PtyPair again;
        w.port()->setPort(again.devicePath());
        w.Command1()->click();
        QVERIFY(w.port()->isOpen());
        QCOMPARE(w.Command1()->text(), QString("&stop"));

        // Closed, the port set elsewhere, opened again: the window loads afresh.
        w.close();
        QVERIFY(!w.port()->isOpen());
        s.settings[Settings::Com3Port] = SettingValue::text(QStringLiteral("/dev/ttyUSB7"));
        w.show();
        QCOMPARE(w.lblCom3()->text(), QString("Com3 PortNr: /dev/ttyUSB7 4800,n,8,1"));
        QVERIFY(!s.state.GpsFix);
        QCOMPARE(w.Grid()->text(), QString("GPS NO FIX"));
        w.close();
    }

    void gpsdShowsTheSameLocatorAndFix() {
        if (!QFileInfo::exists(QStringLiteral("/usr/sbin/gpsd")))
            QSKIP("gpsd is not installed (/usr/sbin/gpsd): install the Debian package gpsd");
        const QList<QByteArray> lines = Recording(QStringLiteral("nl402u.log"), 40);
        if (lines.isEmpty())
            QSKIP("the recordings folder ../shared/nmea beside the source tree is missing");
        // What the serial path makes of the same recording.
        NmeaReceiver serial;
        serial.receive(lines.join());
        const FixView expected = EvaluateFix(serial.state());
        QVERIFY(expected.fix);
        ScratchDir scratch;
        PtyPair pty;
        QVERIFY(pty.ok());
        quint16 port = 0;
        {
            QTcpServer probe;
            QVERIFY(probe.listen(QHostAddress::LocalHost, 0));
            port = probe.serverPort();
        }
        // gpsd opens the terminal's device side; the test feeds the other side. gpsd hunts
        // speeds and flushes the line while it opens the device, so feeding starts once its
        // log says the device is active, and the recording repeats as a receiver's output
        // would.
        QByteArray gpsdLog;
        QProcess gpsd;
        connect(&gpsd, &QProcess::readyReadStandardError, &gpsd,
                [&] { gpsdLog += gpsd.readAllStandardError(); });
        gpsd.start(QStringLiteral("/usr/sbin/gpsd"),
                   {"-N", "-n", "-D", "3", "-S", QString::number(port), pty.devicePath()});
        QVERIFY(gpsd.waitForStarted(3000));
        auto stopGpsd = qScopeGuard([&] {
            gpsd.terminate();
            if (!gpsd.waitForFinished(3000))
                gpsd.kill();
            gpsd.waitForFinished(1000);
        });
        auto dumpLog = qScopeGuard([&] {
            if (QTest::currentTestFailed())
                qInfo("gpsd said:\n%s", gpsdLog.right(4000).constData());
        });
        QVERIFY(WaitFor([&] { return gpsdLog.contains("activated GPS"); }, 5000));

        Station s;
        s.settings.LoadSettings();
        GpsWindow w(s.context);
        w.setSource(GpsWindow::Source::Gpsd);
        w.setGpsdAddress(QStringLiteral("127.0.0.1:%1").arg(port));
        QSignalSpy fixes(&w, &GpsWindow::fixChanged);
        // gpsd takes a moment to listen; a refused first try is shown and then repeated.
        QVERIFY(WaitFor(
            [&] {
                if (!w.gpsd()->isRunning())
                    w.command1();
                return w.gpsd()->isConnected();
            },
            5000));
        QCOMPARE(w.Command1()->text(), QString("&stop"));
        QVERIFY(w.status()->text().contains("connected"));
        Feeder feeder(pty, lines, true);
        QVERIFY(WaitFor(
            [&] {
                return s.state.GpsFix && w.box("txtMO")->text() == "3D-Fix" &&
                       w.Grid()->text() == expected.gridText;
            },
            10000));
        qInfo("gpsd gave the fix after %d rounds of the recording", feeder.rounds());
        feeder.stop();
        QCOMPARE(w.Grid()->text(), expected.gridText);
        QCOMPARE(s.state.ownLocator, expected.locator);
        QCOMPARE(w.Grid()->palette().color(QPalette::WindowText), QColor(Qt::black));
        QCOMPARE(w.box("txtLAD")->text(), serial.state().rmc.latitudeHemisphere);
        QCOMPARE(w.box("txtLOD")->text(), serial.state().rmc.longitudeHemisphere);
        QCOMPARE(w.box("txtLa")->text().left(6), QString("54.093"));
        QCOMPARE(w.box("txtQU")->text(), serial.state().gga.quality);
        QVERIFY(!w.Image1()->isHidden());
        QVERIFY(fixes.size() >= 1);
        QCOMPARE(fixes.last().at(0).toBool(), true);

        // gpsd goes away: the status says so and the button offers a new start.
        stopGpsd.dismiss();
        gpsd.terminate();
        gpsd.waitForFinished(3000);
        QVERIFY(WaitFor([&] { return !w.gpsd()->isRunning(); }, 3000));
        QCOMPARE(w.Command1()->text(), QString("&start"));
        QVERIFY(!w.status()->text().isEmpty());
    }
};

QTEST_MAIN(TestGpsWindow)
#include "tst_gpswindow.moc"
