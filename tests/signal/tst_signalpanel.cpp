// The spectrum panel and its controller: what the operator sees in Picture2 and the labels, the
// reference-level scroll bar, ClearMax, capture failures, and the main window showing the
// simulated beacon (its picture is saved into the build folder for a person to look at).

#include "Clock.h"
#include "Database.h"
#include "FakeBoard.h"
#include "MainWindow.h"
#include "PacedSource.h"
#include "ProgramState.h"
#include "Settings.h"
#include "SignalMonitor.h"
#include "SignalPanel.h"
#include "SignalTestUtil.h"
#include "TestSupport.h"
#include "WavFileSource.h"

#include <QAccessible>
#include <QApplication>
#include <QGroupBox>
#include <QImage>
#include <QLabel>
#include <QMessageBox>
#include <QProcess>
#include <QPushButton>
#include <QScrollBar>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

#include <sys/stat.h>

namespace {
struct PixelCount {
    int trace = 0, grid = 0, traceAboveBottom = 0;
};

// Counts trace-yellow and grid-grey pixels; trace pixels above the plot's bottom edge apart.
PixelCount Count(SpectrumPicture* picture) {
    QApplication::processEvents();
    const QImage img = picture->grab().toImage().convertToFormat(QImage::Format_RGB32);
    const double bottom = 1100.0 / 1200 * img.height();
    PixelCount c;
    for (int y = 0; y < img.height(); ++y)
        for (int x = 0; x < img.width(); ++x) {
            const QColor p = img.pixelColor(x, y);
            if (p.red() > 120 && p.green() > 120 && p.blue() < 60) {
                ++c.trace;
                if (y < bottom - 3)
                    ++c.traceAboveBottom;
            } else if (p == SpectrumPicture::GridColour) {
                ++c.grid;
            }
        }
    return c;
}

std::unique_ptr<CaptureSource> Unpaced(QString*) {
    return std::make_unique<BeaconSource>(false);
}

// Runs the block step `count` times, each once the capture has its block (a file is read on a
// thread of its own, so a block may take a moment).
bool Steps(SignalMonitor& monitor, int count) {
    for (int i = 0; i < count; ++i) {
        if (!WaitFor([&] { return monitor.capture().BlockDone(); }))
            return false;
        monitor.Tick();
    }
    return true;
}

template <class T> T* Child(QWidget& w, const char* name) {
    T* c = w.findChild<T*>(QString::fromLatin1(name));
    if (!c)
        qWarning("no %s", name);
    return c;
}
} // namespace

class SpectrumPanelTest : public QObject {
    Q_OBJECT
private slots:
    void controlsCarryTheirNamesAndAccessibleNames() {
        QWidget window;
        SignalMonitor monitor(&window, Unpaced, [](const QString&) {});
        for (const char* name : {"Picture2", "lblMax", "lblMaxHold", "lblFreq", "lblReflvl",
                                 "scrReflvl", "ClearMax", "Label23"}) {
            QWidget* w = window.findChild<QWidget*>(QString::fromLatin1(name));
            QVERIFY2(w, name);
            QVERIFY2(!w->accessibleName().isEmpty(), name);
        }
        QCOMPARE(Child<QPushButton>(window, "ClearMax")->accessibleName(),
                 Child<QPushButton>(window, "ClearMax")->text());
    }

    void activationShowsTheStartingValuesAndTheGrid() {
        QWidget window;
        window.resize(600, 400);
        SignalMonitor monitor(&window, Unpaced, [](const QString&) {});
        window.show();
        monitor.Activate();
        QCOMPARE(Child<QLabel>(window, "lblReflvl")->text(), QStringLiteral("Ref: 30 dB"));
        QCOMPARE(Child<QLabel>(window, "lblMaxHold")->text(), QStringLiteral("0"));
        QCOMPARE(Child<QLabel>(window, "lblMax")->text(), QStringLiteral("0 dB anl"));
        QCOMPARE(Child<QScrollBar>(window, "scrReflvl")->value(), 30);
        QVERIFY(monitor.capture().CaptureRunning());
        const PixelCount c = Count(monitor.panel()->picture());
        QVERIFY(c.grid > 0);
        QCOMPARE(c.trace, 0);
    }

    void blocksDrawTheTraceAndLowAboveHighLeavesTheGridOnly() {
        QWidget window;
        window.resize(600, 400);
        SignalMonitor monitor(&window, Unpaced, [](const QString&) {});
        window.show();
        monitor.Activate();
        for (int i = 0; i < 20; ++i)
            monitor.Tick();
        QCOMPARE(monitor.BlockCount(), 20);
        QVERIFY(monitor.capture().CaptureRunning());
        QCOMPARE(monitor.capture().OpenCount(), 21); // stop and start around every block
        QVERIFY(Count(monitor.panel()->picture()).traceAboveBottom > 50);
        QCOMPARE(Child<QLabel>(window, "lblFreq")->text(), QStringLiteral("1001 Hz"));
        QVERIFY(Child<QLabel>(window, "lblMax")->text().endsWith(QStringLiteral(" dB anl")));
        QCOMPARE(Child<QLabel>(window, "Label23")->text(), monitor.spectrum().NoiseText);

        monitor.spectrum().DisplayLowText = QStringLiteral("2700");
        monitor.spectrum().DisplayHighText = QStringLiteral("270");
        Child<QScrollBar>(window, "scrReflvl")->setValue(31); // redraws with the new range
        const PixelCount c = Count(monitor.panel()->picture());
        QCOMPARE(c.trace, 0);
        QVERIFY(c.grid > 0);
        monitor.Tick();
        QCOMPARE(Count(monitor.panel()->picture()).trace, 0);
    }

    void silenceLiesOnTheBottomEdge() {
        QTemporaryDir dir;
        const QString path = dir.filePath(QStringLiteral("silence.wav"));
        QVERIFY(WriteWav(path, std::vector<std::int16_t>(8192), 22050));
        QWidget window;
        window.resize(600, 400);
        SignalMonitor monitor(
            &window, [path](QString*) { return std::make_unique<WavFileSource>(path, false); },
            [](const QString&) {});
        window.show();
        monitor.Activate();
        QVERIFY(Steps(monitor, 3));
        QCOMPARE(Child<QLabel>(window, "lblMax")->text(), QStringLiteral("0 dB anl"));
        const PixelCount c = Count(monitor.panel()->picture());
        QVERIFY(c.trace > 100);
        QCOMPARE(c.traceAboveBottom, 0);
    }

    void scrollBarSetsTheReferenceLevelAndMovesTheTrace() {
        QWidget window;
        SignalMonitor monitor(&window, Unpaced, [](const QString&) {});
        monitor.Activate();
        for (int i = 0; i < 5; ++i)
            monitor.Tick();
        const double y = monitor.spectrum().TraceY()[100];
        Child<QScrollBar>(window, "scrReflvl")->setValue(45);
        QCOMPARE(Child<QLabel>(window, "lblReflvl")->text(), QStringLiteral("Ref: 45 dB"));
        QCOMPARE(monitor.spectrum().RefLevel, 45.0f);
        QVERIFY(qAbs(monitor.spectrum().TraceY()[100] - std::min(1000.0, y + 187.5)) < 1e-9);
    }

    void clearMaxThenALowerPeakHoldsIt() {
        QTemporaryDir dir;
        const QString path = dir.filePath(QStringLiteral("tone.wav"));
        std::vector<std::int16_t> samples(8192 * 40);
        for (std::size_t i = 0; i < samples.size(); ++i)
            samples[i] = std::int16_t(std::lrint((i < 8192 * 30 ? 16000 : 160) *
                                                 std::sin(2 * M_PI * 1500.0 * double(i) / 22050)));
        QVERIFY(WriteWav(path, samples, 22050));
        QWidget window;
        SignalMonitor monitor(
            &window, [path](QString*) { return std::make_unique<WavFileSource>(path, false); },
            [](const QString&) {});
        monitor.Activate();
        QVERIFY(Steps(monitor, 30));
        auto* hold = Child<QLabel>(window, "lblMaxHold");
        auto* max = Child<QLabel>(window, "lblMax");
        const QString high = hold->text();
        QVERIFY(LeadingNumber(high) > 20);
        QVERIFY(Steps(monitor, 1)); // the weak part begins
        QVERIFY(LeadingNumber(max->text()) < LeadingNumber(high));
        QCOMPARE(hold->text(), high);
        QTest::mouseClick(Child<QPushButton>(window, "ClearMax"), Qt::LeftButton);
        QCOMPARE(hold->text(), QStringLiteral("0"));
        QVERIFY(Steps(monitor, 1));
        QVERIFY(LeadingNumber(max->text()) > 0);
        QCOMPARE(hold->text(), max->text());
    }

    // Driven by blockReady alone, the step runs about once per block, never in a fast loop:
    // for blocks that come as fast as a writer sends them into a named pipe, and for blocks
    // paced by the clock.
    void blockReadyDrivesOneStepPerBlock() {
        QTemporaryDir dir;
        const QString pipe = dir.filePath(QStringLiteral("radio.pipe"));
        QCOMPARE(::mkfifo(QFile::encodeName(pipe).constData(), 0600), 0);
        QWidget window;
        QStringList messages;
        SignalMonitor monitor(
            &window,
            [pipe](QString* e) { return CreateCaptureSource(QStringLiteral("file:") + pipe, e); },
            [&](const QString& text) { messages << text; });
        int ready = 0;
        connect(&monitor, &SignalMonitor::blockReady, &monitor, [&] {
            ++ready;
            monitor.Tick();
        });
        monitor.Activate();
        // Four seconds of 1001.3 Hz (bin 372) as a WAV stream: 88200 samples, ten whole blocks.
        QProcess sox;
        sox.start(QStringLiteral("sox"),
                  {QStringLiteral("-n"), QStringLiteral("-t"), QStringLiteral("wav"),
                   QStringLiteral("-r"), QStringLiteral("22050"), QStringLiteral("-c"),
                   QStringLiteral("1"), QStringLiteral("-b"), QStringLiteral("16"), pipe,
                   QStringLiteral("synth"), QStringLiteral("4"), QStringLiteral("sine"),
                   QStringLiteral("1001.3"), QStringLiteral("vol"), QStringLiteral("0.3")});
        QVERIFY2(sox.waitForStarted(5000), "sox is needed (scripts/packages/signal.list)");
        QVERIFY(WaitFor([&] { return sox.state() == QProcess::NotRunning; }, 20000));
        QVERIFY(WaitFor([&] { return monitor.BlockCount() == 10; }, 5000));
        QTest::qWait(300);
        QCOMPARE(monitor.BlockCount(), 10); // the part of a block at the end is not one
        QCOMPARE(Child<QLabel>(window, "lblFreq")->text(), QStringLiteral("1001 Hz"));
        QVERIFY2(ready <= 3 * monitor.BlockCount() + 3, qPrintable(QString::number(ready)));
        QVERIFY(messages.isEmpty());
        QVERIFY(monitor.capture().CaptureRunning()); // waiting for the next writer

        SignalMonitor paced(
            &window, [](QString*) { return std::make_unique<BeaconSource>(); },
            [&](const QString& text) { messages << text; });
        int pacedReady = 0;
        connect(&paced, &SignalMonitor::blockReady, &paced, [&] {
            ++pacedReady;
            paced.Tick();
        });
        paced.Activate();
        QVERIFY(WaitFor([&] { return paced.BlockCount() >= 3; }, 10000));
        QVERIFY2(pacedReady <= 3 * paced.BlockCount() + 3, qPrintable(QString::number(pacedReady)));
        QCOMPARE(paced.capture().OpenCount(), paced.BlockCount() + 1);
        QVERIFY(messages.isEmpty());
    }

    void failedOpenShowsOneMessageBoxWithTheTitle() {
        QWidget window;
        window.show();
        SignalMonitor monitor(&window, [](QString* e) {
            return CreateCaptureSource(QStringLiteral("file:/nonexistent/beacon.wav"), e);
        });
        monitor.Activate();
        for (int i = 0; i < 50; ++i)
            monitor.Tick();
        QTest::qWait(100);
        const QList<QMessageBox*> boxes = window.findChildren<QMessageBox*>();
        QCOMPARE(boxes.size(), 1);
        QCOMPARE(boxes[0]->windowTitle(), QStringLiteral("Farscan BCN 2.1.3"));
        QVERIFY2(boxes[0]->text().contains(QStringLiteral("No such file or directory")),
                 qPrintable(boxes[0]->text()));
        QVERIFY(boxes[0]->isVisible());
        QVERIFY(!monitor.capture().CaptureRunning());
        boxes[0]->button(QMessageBox::Ok)->click();
        QTest::qWait(50);
        QVERIFY(window.findChildren<QMessageBox*>().isEmpty());
        monitor.Stop();
    }

    void mainWindowShowsTheSimulatedBeacon() {
        ScratchDir dir;
        QTemporaryDir data;
        EnvGuard dataDir("FARSCAN_DATA_DIR", data.path().toLocal8Bit());
        EnvGuard audio("FARSCAN_AUDIO", "beacon");
        // What the program's main() hands the window, with a board that is not there.
        SettingsStore settings;
        ProgramState state;
        FakeBoard board;
        board.missing = true;
        StationDatabase database;
        SystemClock clock;
        MainWindowOptions options;
        options.video = false;
        MainWindow w({settings, state, CreateSystemSerialPort, board, database, clock}, options);
        w.resize(1100, 760);
        w.show();
        auto* monitor = w.findChild<SignalMonitor*>();
        QVERIFY(monitor);
        auto* reflvl = w.findChild<QLabel*>(QStringLiteral("lblReflvl"));
        QCOMPARE(reflvl->text(), QStringLiteral("Ref: 30 dB"));
        auto* group = qobject_cast<QGroupBox*>(reflvl->parentWidget());
        QVERIFY(group);
        QCOMPARE(group->title(), QStringLiteral("Station"));
        QVERIFY(WaitFor([&] { return monitor->BlockCount() >= 8; }, 15000));
        QCOMPARE(w.findChild<QLabel*>(QStringLiteral("lblFreq"))->text(),
                 QStringLiteral("1001 Hz"));
        QVERIFY(Count(monitor->panel()->picture()).traceAboveBottom > 50);
        const QString shot = QStringLiteral(SCREENSHOT_DIR "/mainwindow-beacon.png");
        QVERIFY(w.grab().save(shot));
        qInfo("main window picture: %s", qPrintable(shot));
        w.close();
        QVERIFY(!monitor->capture().CaptureRunning());
    }
};

int main(int argc, char** argv) {
    EnsureApplication();
    SpectrumPanelTest test;
    return QTest::qExec(&test, argc, argv);
}

#include "tst_signalpanel.moc"
