// farscan-sim: plays the station's transceivers, rotor controller and elevation sensor on
// pseudo-terminals and logs what it receives. Farscan finds them through FARSCAN_COM<N>.

#include "SimStation.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QDateTime>
#include <QFile>
#include <QSaveFile>
#include <QSocketNotifier>
#include <csignal>
#include <cstdio>
#include <sys/socket.h>
#include <unistd.h>

namespace {
int g_signalPipe[2] = {-1, -1};

void OnSignal(int) {
    const char c = 1;
    [[maybe_unused]] const ssize_t n = ::write(g_signalPipe[1], &c, 1);
}

void Print(const QString& line) {
    std::fprintf(stdout, "%s\n", line.toLocal8Bit().constData());
    std::fflush(stdout);
}
} // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("farscan-sim"));
    QCoreApplication::setApplicationVersion(QStringLiteral(FARSCAN_VERSION));

    QCommandLineParser parser;
    parser.setApplicationDescription(QStringLiteral(
        "Simulated station for Farscan: two transceivers, the rotor controller and the "
        "elevation sensor on pseudo-terminals."));
    parser.addHelpOption();
    parser.addVersionOption();
    QCommandLineOption envFile(QStringLiteral("env-file"),
                               QStringLiteral("Write the FARSCAN_COM<N> assignments to <file>."),
                               QStringLiteral("file"), QStringLiteral("farscan-sim.env"));
    QCommandLineOption ft991(QStringLiteral("com1-ft991"),
                             QStringLiteral("Transceiver 1 speaks FT-991 text commands."));
    QCommandLineOption raw(QStringLiteral("raw"),
                           QStringLiteral("Also print every received chunk in hexadecimal."));
    QCommandLineOption speed(QStringLiteral("rotor-speed"),
                             QStringLiteral("Rotor speed in degrees per second (default 4)."),
                             QStringLiteral("deg"), QStringLiteral("4"));
    QCommandLineOption elevation(QStringLiteral("elevation"),
                                 QStringLiteral("Elevation the sensor reports (default 0.7)."),
                                 QStringLiteral("deg"), QStringLiteral("0.7"));
    QCommandLineOption temperature(QStringLiteral("temperature"),
                                   QStringLiteral("Temperature the sensor reports (default 21.5)."),
                                   QStringLiteral("deg"), QStringLiteral("21.5"));
    parser.addOptions({envFile, ft991, raw, speed, elevation, temperature});
    parser.process(app);

    SimStation::Options options;
    options.com1Ft991 = parser.isSet(ft991);
    SimStation station(options);
    if (!station.ok()) {
        std::fprintf(stderr, "farscan-sim: cannot open pseudo-terminals\n");
        return 1;
    }
    station.rotor()->degreesPerSecond = qBound(0.1, parser.value(speed).toDouble(), 90.0);
    station.sensor()->elevationThousandths =
        qint32(qRound(parser.value(elevation).toDouble() * 1000));
    station.sensor()->temperatureHundredths =
        qint16(qBound(-32768, qRound(parser.value(temperature).toDouble() * 100), 32767));

    for (const SimStation::Assignment& a : station.assignments())
        Print(QStringLiteral("%1 %2 on %3  %4=%3")
                  .arg(a.role, a.device->kind(), a.device->devicePath(), a.variable));

    const QString envPath = parser.value(envFile);
    if (!envPath.isEmpty()) {
        QSaveFile file(envPath);
        if (file.open(QIODevice::WriteOnly | QIODevice::Text)) {
            file.write(station.environmentFile().toLocal8Bit());
            if (file.commit())
                Print(QStringLiteral("Environment written to %1").arg(envPath));
        }
        if (!QFile::exists(envPath))
            std::fprintf(stderr, "farscan-sim: cannot write %s\n", qPrintable(envPath));
    }
    Print(QStringLiteral("Ready"));

    auto stamp = [] {
        return QDateTime::currentDateTimeUtc().toString(QStringLiteral("HH:mm:ss.zzz"));
    };
    QObject::connect(&station, &SimStation::logLine, &app,
                     [stamp](const QString& line) { Print(stamp() + QLatin1Char(' ') + line); });
    if (parser.isSet(raw)) {
        for (const SimStation::Assignment& a : station.assignments()) {
            const QString role = a.role;
            QObject::connect(a.device, &SimDevice::bytesReceived, &app,
                             [stamp, role](const QByteArray& bytes) {
                                 Print(stamp() + QLatin1Char(' ') + role + QStringLiteral(" <- ") +
                                       QString::fromLatin1(bytes.toHex(' ').toUpper()));
                             });
        }
    }

    // Lines on standard input change what the sensor and the rotor report.
    auto* input = new QSocketNotifier(STDIN_FILENO, QSocketNotifier::Read, &app);
    QObject::connect(input, &QSocketNotifier::activated, &app, [&station, input] {
        char buf[256];
        const ssize_t n = ::read(STDIN_FILENO, buf, sizeof buf - 1);
        if (n <= 0) {
            input->setEnabled(false); // end of input: the station runs on
            return;
        }
        for (const QByteArray& line : QByteArray(buf, int(n)).split('\n')) {
            const QList<QByteArray> words = line.simplified().split(' ');
            if (words.value(0).isEmpty())
                continue;
            bool ok = false;
            const double value = words.value(1).toDouble(&ok);
            if (words[0] == "ele" && ok) {
                station.sensor()->elevationThousandths = qint32(qRound(value * 1000));
            } else if (words[0] == "temp" && ok) {
                station.sensor()->temperatureHundredths =
                    qint16(qBound(-32768, qRound(value * 100), 32767));
            } else if (words[0] == "az" && ok) {
                station.rotor()->azimuth = qBound(0.0, value, 360.0);
            } else {
                Print(QStringLiteral("Commands: ele <degrees>, temp <degrees>, az <degrees>"));
                continue;
            }
            Print(QStringLiteral("Set %1").arg(QString::fromLatin1(line.simplified())));
        }
    });

    // SIGINT and SIGTERM end the run through the event loop.
    if (::socketpair(AF_UNIX, SOCK_STREAM, 0, g_signalPipe) == 0) {
        auto* notifier = new QSocketNotifier(g_signalPipe[0], QSocketNotifier::Read, &app);
        QObject::connect(notifier, &QSocketNotifier::activated, &app, [] {
            char c;
            [[maybe_unused]] const ssize_t n = ::read(g_signalPipe[0], &c, 1);
            QCoreApplication::quit();
        });
        std::signal(SIGINT, OnSignal);
        std::signal(SIGTERM, OnSignal);
    }
    const int rc = app.exec();
    if (!envPath.isEmpty())
        QFile::remove(envPath);
    return rc;
}
