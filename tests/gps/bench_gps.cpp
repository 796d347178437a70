// Processor load of the GPS receiver at a receiver's pace: 10 NMEA sentences a second through a
// pseudo-terminal into the GPS window (offscreen), then into the serial port and the NMEA
// receiver without a window. Prints figures only.
//
// gps_bench [seconds per run, default 10]

#include "Clock.h"
#include "Database.h"
#include "FakeBoard.h"
#include "GpsWindow.h"
#include "Nmea.h"
#include "ProgramState.h"
#include "Settings.h"
#include "TestSupport.h"

#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QPlainTextEdit>
#include <QTextDocument>
#include <QTimer>

#include <cstdio>
#include <functional>
#include <sys/resource.h>

namespace {

QList<QByteArray> Sentences() {
    const QString folder = QFileInfo(QStringLiteral(__FILE__))
                               .absoluteDir()
                               .filePath(QStringLiteral("../../../shared/nmea"));
    QFile f(QDir(folder).filePath(QStringLiteral("nl402u.log")));
    QList<QByteArray> lines;
    if (f.open(QIODevice::ReadOnly)) {
        for (QByteArray line : f.readAll().split('\n')) {
            line = line.trimmed();
            if (line.startsWith('$'))
                lines << line + "\r\n";
        }
    }
    return lines;
}

double CpuSeconds() {
    rusage u{};
    getrusage(RUSAGE_SELF, &u);
    return double(u.ru_utime.tv_sec + u.ru_stime.tv_sec) +
           double(u.ru_utime.tv_usec + u.ru_stime.tv_usec) / 1e6;
}

// Writes one sentence every 100 ms for the given time with the event loop running, and
// returns the processor time used per wall-clock second, in percent of one core.
double Run(PtyPair& pty, const QList<QByteArray>& lines, int seconds, qint64* sentences) {
    QTimer feed;
    qsizetype next = 0;
    *sentences = 0;
    QObject::connect(&feed, &QTimer::timeout, [&] {
        pty.write(lines.at(next));
        next = (next + 1) % lines.size();
        ++*sentences;
    });
    QElapsedTimer wall;
    const double cpu0 = CpuSeconds();
    wall.start();
    feed.start(100);
    QTimer::singleShot(seconds * 1000, qApp, &QCoreApplication::quit);
    QCoreApplication::exec();
    feed.stop();
    return 100.0 * (CpuSeconds() - cpu0) / (double(wall.nsecsElapsed()) / 1e9);
}

} // namespace

int main(int argc, char** argv) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    const int seconds = argc > 1 ? qMax(1, atoi(argv[1])) : 10;
    const QList<QByteArray> lines = Sentences();
    if (lines.isEmpty()) {
        std::fprintf(stderr, "the recordings folder ../shared/nmea beside the source tree is "
                             "missing\n");
        return 1;
    }
    ScratchDir scratch;

    {
        PtyPair pty;
        if (!pty.ok()) {
            std::fprintf(stderr, "no pseudo-terminal\n");
            return 1;
        }
        SettingsStore settings;
        ProgramState state;
        FakeBoard board;
        StationDatabase database{QDir::currentPath()};
        SystemClock clock;
        StationContext context{settings, state, CreateSystemSerialPort, board, database, clock};
        settings.LoadSettings();
        settings[Settings::Com3Enabled] = SettingValue::number(1);
        settings[Settings::Com3Port] = SettingValue::text(pty.devicePath());
        settings[Settings::Com3Settings] = SettingValue::text(QStringLiteral("4800,n,8,1"));
        GpsWindow window(context);
        window.show();
        window.command1();
        if (!window.port()->isOpen()) {
            std::fprintf(stderr, "the port did not open: %s\n",
                         qPrintable(window.port()->lastError()));
            return 1;
        }
        qint64 sent = 0;
        const double load = Run(pty, lines, seconds, &sent);
        std::printf("GPS window, %lld sentences in %d s: %.2f %% of one core (%d log lines)\n",
                    qlonglong(sent), seconds, load, window.Text1()->document()->blockCount());
        window.close();
    }

    {
        PtyPair pty;
        auto port = CreateSystemSerialPort();
        port->setPort(pty.devicePath());
        port->setSettings(QStringLiteral("4800,n,8,1"));
        port->setReceiveThreshold(1);
        NmeaReceiver receiver;
        qint64 handled = 0;
        QObject::connect(port.get(), &SerialPort::commEvent, [&] {
            const NmeaReceiver::Handled h = receiver.receive(port->readAll());
            handled += h.log.size();
        });
        if (!port->open()) {
            std::fprintf(stderr, "the port did not open: %s\n", qPrintable(port->lastError()));
            return 1;
        }
        qint64 sent = 0;
        const double load = Run(pty, lines, seconds, &sent);
        std::printf("serial port + NmeaReceiver, %lld sentences in %d s: %.2f %% of one core "
                    "(%lld logged)\n",
                    qlonglong(sent), seconds, load, qlonglong(handled));
    }
    return 0;
}
