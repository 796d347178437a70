// farscan-sim: plays the station's transceivers, rotor controller, elevation sensor and GPS
// receiver on pseudo-terminals and a DX-cluster node on loopback, and logs what it receives.
// Farscan finds them through FARSCAN_COM<N> and FARSCAN_CLUSTER.

#include "SimStation.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QDateTime>
#include <QFile>
#include <QSaveFile>
#include <QSocketNotifier>
#include <csignal>
#include <cstdio>
#include <memory>
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

// One line of standard input.
void Command(SimStation& station, const QByteArray& line) {
    const QList<QByteArray> words = line.split(' ');
    if (words.value(0).isEmpty())
        return;
    bool ok = false;
    const double value = words.value(1).toDouble(&ok);
    const QByteArray& what = words[0];
    GpsSim* gps = station.gps();
    if (what == "ele" && ok && words.size() == 2) {
        station.sensor()->elevationThousandths = qint32(qRound(value * 1000));
    } else if (what == "temp" && ok && words.size() == 2) {
        station.sensor()->temperatureHundredths =
            qint16(qBound(-32768, qRound(value * 100), 32767));
    } else if (what == "az" && ok && words.size() == 2) {
        station.rotor()->azimuth = qBound(0.0, value, 360.0);
    } else if (what == "spots" && ok && words.size() == 2 && value >= 0) {
        station.cluster()->setSpotsPerMinute(value);
    } else if (what == "gps" && gps->replaying() && words.size() > 1) {
        Print(QStringLiteral("The GPS replays a recording: its fix and position are the "
                             "recording's"));
        return;
    } else if (what == "gps" && words.size() == 2 && words[1] == "3d") {
        gps->setFix(GpsSim::Fix::ThreeD);
    } else if (what == "gps" && words.size() == 2 && words[1] == "2d") {
        gps->setFix(GpsSim::Fix::TwoD);
    } else if (what == "gps" && words.size() == 2 && words[1] == "nofix") {
        gps->setFix(GpsSim::Fix::None);
    } else if (what == "gps" && words.size() == 4 && words[1] == "pos") {
        bool latOk = false, lonOk = false;
        const double lat = words[2].toDouble(&latOk);
        const double lon = words[3].toDouble(&lonOk);
        if (!latOk || !lonOk || !gps->moveTo(lat, lon)) {
            Print(QStringLiteral("gps pos wants a latitude (-90 to 90) and a longitude (-180 to "
                                 "180) in decimal degrees"));
            return;
        }
    } else {
        Print(QStringLiteral("Commands: ele <degrees>, temp <degrees>, az <degrees>, "
                             "gps 3d|2d|nofix, gps pos <lat> <lon>, spots <per minute>"));
        return;
    }
    Print(QStringLiteral("Set %1").arg(QString::fromLatin1(line)));
}
} // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("farscan-sim"));
    QCoreApplication::setApplicationVersion(QStringLiteral(FARSCAN_VERSION));

    QCommandLineParser parser;
    parser.setApplicationDescription(QStringLiteral(
        "Simulated station for Farscan: two transceivers, the rotor controller, the elevation "
        "sensor and an NMEA GPS receiver on pseudo-terminals, and a DX-cluster node on "
        "127.0.0.1.\n\n"
        "Commands on standard input, one a line:\n"
        "  az <degrees>          azimuth of the rotor\n"
        "  ele <degrees>         elevation the sensor reports\n"
        "  temp <degrees>        temperature the sensor reports\n"
        "  gps 3d|2d|nofix       the GPS receiver's fix\n"
        "  gps pos <lat> <lon>   move the GPS position (decimal degrees, south and west "
        "negative)\n"
        "  spots <per minute>    rate of generated cluster spots (0 stops them)"));
    parser.addHelpOption();
    parser.addVersionOption();
    QCommandLineOption envFile(
        QStringLiteral("env-file"),
        QStringLiteral("Write the FARSCAN_COM<N> and FARSCAN_CLUSTER assignments to <file>."),
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
    QCommandLineOption gpsReplay(
        QStringLiteral("gps-replay"),
        QStringLiteral("The GPS receiver replays the NMEA log <file> (one sentence a line, '#' "
                       "lines are comments) at the pace of its time fields, over and over, "
                       "instead of a generated track near 52.5 N 13.33 E."),
        QStringLiteral("file"));
    QCommandLineOption clusterPort(
        QStringLiteral("cluster-port"),
        QStringLiteral("TCP port of the DX-cluster node on 127.0.0.1 (default: any free port)."),
        QStringLiteral("port"), QStringLiteral("0"));
    QCommandLineOption spotRate(
        QStringLiteral("spot-rate"),
        QStringLiteral("Generated cluster spots per minute, 0 for none (default 6)."),
        QStringLiteral("per-minute"), QStringLiteral("6"));
    parser.addOptions(
        {envFile, ft991, raw, speed, elevation, temperature, gpsReplay, clusterPort, spotRate});
    parser.process(app);

    SimStation::Options options;
    options.com1Ft991 = parser.isSet(ft991);
    bool ok = false;
    const uint port = parser.value(clusterPort).toUInt(&ok);
    if (!ok || port > 65535) {
        std::fprintf(stderr, "farscan-sim: --cluster-port wants a port number 0-65535, not %s\n",
                     qPrintable(parser.value(clusterPort)));
        return 2;
    }
    options.clusterPort = quint16(port);
    options.spotsPerMinute = parser.value(spotRate).toDouble(&ok);
    if (!ok || options.spotsPerMinute < 0) {
        std::fprintf(stderr, "farscan-sim: --spot-rate wants a number of spots a minute, not %s\n",
                     qPrintable(parser.value(spotRate)));
        return 2;
    }
    SimStation station(options);
    if (!station.cluster()->ok()) {
        std::fprintf(stderr, "farscan-sim: cannot listen on 127.0.0.1:%u: %s\n", port,
                     qPrintable(station.cluster()->errorString()));
        return 1;
    }
    if (!station.ok()) {
        std::fprintf(stderr, "farscan-sim: cannot open pseudo-terminals\n");
        return 1;
    }
    if (parser.isSet(gpsReplay)) {
        QString why;
        if (!station.gps()->replay(parser.value(gpsReplay), &why)) {
            std::fprintf(stderr, "farscan-sim: cannot replay %s: %s\n",
                         qPrintable(parser.value(gpsReplay)), qPrintable(why));
            return 1;
        }
    }
    station.rotor()->degreesPerSecond = qBound(0.1, parser.value(speed).toDouble(), 90.0);
    station.sensor()->elevationThousandths =
        qint32(qRound(parser.value(elevation).toDouble() * 1000));
    station.sensor()->temperatureHundredths =
        qint16(qBound(-32768, qRound(parser.value(temperature).toDouble() * 100), 32767));

    for (const SimStation::Assignment& a : station.assignments())
        Print(QStringLiteral("%1 %2 on %3  %4=%3")
                  .arg(a.role, a.device->kind(), a.device->devicePath(), a.variable));
    Print(QStringLiteral("Cluster %1 on %2  %3=%2")
              .arg(QLatin1String(ClusterSim::kNode), station.cluster()->address(),
                   QLatin1String(SimStation::kClusterVariable)));
    Print(station.gps()->replaying() ? QStringLiteral("GPS replays %1").arg(parser.value(gpsReplay))
                                     : QStringLiteral("GPS %1 near %2 N %3 E")
                                           .arg(GpsSim::FixName(station.gps()->fix()))
                                           .arg(station.gps()->latitude())
                                           .arg(station.gps()->longitude()));
    Print(QStringLiteral("Cluster spots: %1 a minute").arg(options.spotsPerMinute));

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

    // Lines on standard input change what the devices report.
    auto* input = new QSocketNotifier(STDIN_FILENO, QSocketNotifier::Read, &app);
    auto pending = std::make_shared<QByteArray>();
    QObject::connect(input, &QSocketNotifier::activated, &app, [&station, input, pending] {
        char buf[256];
        const ssize_t n = ::read(STDIN_FILENO, buf, sizeof buf);
        if (n <= 0) {
            input->setEnabled(false); // end of input: the station runs on
            return;
        }
        pending->append(buf, int(n));
        for (qsizetype end; (end = pending->indexOf('\n')) >= 0;) {
            const QByteArray line = pending->left(end).simplified();
            pending->remove(0, end + 1);
            Command(station, line);
        }
        if (pending->size() > 4096)
            pending->clear(); // no line end in sight: not a command
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
