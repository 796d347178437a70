// The real capture path: the sound server's null sink "radio", its monitor remapped to the
// source "radio_in" (scripts/test.d/10-pulseaudio.sh), a tone played into the sink, and the
// spectrum reading it back.

#include "QtCaptureSource.h"
#include "SignalMonitor.h"
#include "SignalPanel.h"
#include "SignalTestUtil.h"
#include "TestSupport.h"

#include <QLabel>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>
#include <QWidget>

namespace {
bool ServerRunning() {
    QProcess p;
    p.start(QStringLiteral("pactl"), {QStringLiteral("info")});
    return p.waitForFinished(5000) && p.exitStatus() == QProcess::NormalExit && p.exitCode() == 0;
}

QString Pactl(const QStringList& args) {
    QProcess p;
    p.start(QStringLiteral("pactl"), args);
    p.waitForFinished(10000);
    return QString::fromLocal8Bit(p.readAllStandardOutput()).trimmed();
}

// Runs the event loop with the monitor's step driven by its blockReady signal alone, as the
// main window drives it, until pred() holds or the time is up.
bool RunUntil(SignalMonitor& m, const std::function<bool()>& pred, int timeoutMs) {
    const QMetaObject::Connection step =
        QObject::connect(&m, &SignalMonitor::blockReady, &m, &SignalMonitor::Tick);
    const bool met = WaitFor(pred, timeoutMs);
    QObject::disconnect(step);
    return met;
}
} // namespace

class PulseAudioTest : public QObject {
    Q_OBJECT
    QTemporaryDir m_dir;
    QString m_tone;

private slots:
    void initTestCase() {
        if (!ServerRunning()) {
            // In CI the sound server is part of the test set-up: its absence is a failure.
            if (qEnvironmentVariable("CI") == QLatin1String("true") ||
                qEnvironmentVariableIsSet("FARSCAN_PULSE_READY"))
                QFAIL("No PulseAudio server: scripts/test.d/10-pulseaudio.sh should have started "
                      "one (is XDG_RUNTIME_DIR exported?)");
            QSKIP("No PulseAudio server; run scripts/test.d/10-pulseaudio.sh first");
        }
        QVERIFY2(Pactl({QStringLiteral("list"), QStringLiteral("short"), QStringLiteral("sources")})
                     .contains(QStringLiteral("radio_in")),
                 "source radio_in missing");
        // Twenty seconds of 1001.3 Hz (bin 372) at a moderate level.
        const int rate = 22050;
        std::vector<std::int16_t> samples(20 * rate);
        for (std::size_t i = 0; i < samples.size(); ++i)
            samples[i] =
                std::int16_t(std::lrint(8000 * std::sin(2 * M_PI * 372.0 / 8192 * double(i))));
        m_tone = m_dir.filePath(QStringLiteral("tone.wav"));
        QVERIFY(WriteWav(m_tone, samples, rate));
    }

    void toneIntoTheSinkReadsAsItsFrequency_data() {
        QTest::addColumn<QString>("option");
        QTest::newRow("named input") << QStringLiteral("device:radio_in");
        QTest::newRow("by description") << QStringLiteral("device:remapped monitor");
        // The set-up script makes radio_in the default source.
        QTest::newRow("default input") << QStringLiteral("default");
    }

    void toneIntoTheSinkReadsAsItsFrequency() {
        QFETCH(QString, option);
        QWidget window;
        QStringList messages;
        SignalMonitor monitor(
            &window, [option](QString* e) { return CreateCaptureSource(option, e); },
            [&](const QString& t) { messages << t; });
        QProcess player;
        player.start(QStringLiteral("paplay"),
                     {QStringLiteral("-d"), QStringLiteral("radio"), m_tone});
        QVERIFY(player.waitForStarted());
        monitor.Activate();
        QVERIFY2(monitor.capture().CaptureRunning(), qPrintable(messages.join(QLatin1Char('\n'))));
        auto* freq = window.findChild<QLabel*>(QStringLiteral("lblFreq"));
        QVERIFY(freq);
        // The player needs a moment to start; after that a few blocks show the tone.
        const bool found = RunUntil(
            monitor,
            [&] { return freq->text() == QLatin1String("1001 Hz") && monitor.BlockCount() >= 2; },
            10000);
        player.kill();
        player.waitForFinished();
        QVERIFY2(found, qPrintable(QStringLiteral("lblFreq %1 after %2 blocks")
                                       .arg(freq->text())
                                       .arg(monitor.BlockCount())));
        qInfo("1001 Hz after %d blocks", monitor.BlockCount());
        QCOMPARE(monitor.spectrum().FreqText, QStringLiteral("1001 Hz"));
        QVERIFY(monitor.BlockCount() <= 20);
        // Every block was whole.
        QVERIFY(messages.isEmpty());
        monitor.Stop();
        QVERIFY(!monitor.capture().CaptureRunning());
    }

    void unknownDeviceFailsOnceWithTheReason() {
        QWidget window;
        QStringList messages;
        SignalMonitor monitor(
            &window,
            [](QString* e) {
                return CreateCaptureSource(QStringLiteral("device:no_such_input"), e);
            },
            [&](const QString& t) { messages << t; });
        monitor.Activate();
        QVERIFY(!monitor.capture().CaptureRunning());
        QCOMPARE(messages.size(), 1);
        QVERIFY2(messages[0].contains(QStringLiteral("no_such_input")), qPrintable(messages[0]));
        for (int i = 0; i < 50; ++i)
            monitor.Tick();
        QTest::qWait(200);
        QCOMPARE(messages.size(), 1);
    }

    void vanishedInputStopsTheCaptureWithOneMessage() {
        // A second remapped source stands in for a USB sound card that is unplugged.
        const QString module = Pactl(
            {QStringLiteral("load-module"), QStringLiteral("module-remap-source"),
             QStringLiteral("master=radio.monitor"), QStringLiteral("source_name=radio_usb")});
        QVERIFY2(!module.isEmpty(), "could not load a remapped source");
        QTest::qWait(300);
        QWidget window;
        QStringList messages;
        SignalMonitor monitor(
            &window,
            [](QString* e) { return CreateCaptureSource(QStringLiteral("device:radio_usb"), e); },
            [&](const QString& t) { messages << t; });
        monitor.Activate();
        QVERIFY2(monitor.capture().CaptureRunning(), qPrintable(messages.join(QLatin1Char('\n'))));
        Pactl({QStringLiteral("unload-module"), module});
        QVERIFY(RunUntil(
            monitor, [&] { return !monitor.capture().CaptureRunning(); }, 10000));
        RunUntil(
            monitor, [] { return false; }, 1000);
        QCOMPARE(messages.size(), 1);
        qInfo("message: %s", qPrintable(messages[0]));
        QVERIFY2(messages[0].contains(QStringLiteral("no longer available")),
                 qPrintable(messages[0]));
    }
};

int main(int argc, char** argv) {
    EnsureApplication();
    PulseAudioTest test;
    return QTest::qExec(&test, argc, argv);
}

#include "tst_pulseaudio.moc"
