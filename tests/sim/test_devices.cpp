// The simulated station through its pseudo-terminals, from the side of a program that opens
// them: what each device understands and answers, and the farscan-sim program's start and end.

#include "SimStation.h"
#include "TestSupport.h"

#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QRegularExpression>
#include <QSet>
#include <QTcpSocket>
#include <algorithm>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <termios.h>
#include <unistd.h>

// Readable failure messages for byte arrays.
inline void PrintTo(const QByteArray& b, std::ostream* os) {
    *os << '[' << b.toHex(' ').toStdString() << ']';
}

namespace {

// The program's end of a device: the terminal opened raw, as a serial port.
class Client {
public:
    explicit Client(const QString& path) {
        m_fd = ::open(path.toLocal8Bit().constData(), O_RDWR | O_NOCTTY | O_NONBLOCK);
        if (m_fd >= 0) {
            termios t{};
            ::tcgetattr(m_fd, &t);
            ::cfmakeraw(&t);
            ::tcsetattr(m_fd, TCSANOW, &t);
        }
    }
    ~Client() {
        if (m_fd >= 0)
            ::close(m_fd);
    }
    bool ok() const { return m_fd >= 0; }
    void write(const QByteArray& bytes) {
        ASSERT_EQ(::write(m_fd, bytes.constData(), size_t(bytes.size())), bytes.size());
    }
    // Answers gathered until nothing more came for quietMs (the event loop runs meanwhile).
    QByteArray read(int quietMs = 120) {
        QByteArray all;
        QElapsedTimer quiet;
        quiet.start();
        while (quiet.elapsed() < quietMs) {
            WaitFor([] { return false; }, 10);
            char buf[512];
            const ssize_t n = ::read(m_fd, buf, sizeof buf);
            if (n > 0) {
                all.append(buf, int(n));
                quiet.restart();
            }
        }
        return all;
    }
    // Everything that arrives within ms, for a peer that never falls silent (the GPS).
    QByteArray readFor(int ms) {
        QByteArray all;
        QElapsedTimer t;
        t.start();
        while (t.elapsed() < ms) {
            WaitFor([] { return false; }, 10);
            char buf[512];
            for (ssize_t n; (n = ::read(m_fd, buf, sizeof buf)) > 0;)
                all.append(buf, int(n));
        }
        return all;
    }

private:
    int m_fd = -1;
};

QByteArray Bytes(std::initializer_list<int> values) {
    QByteArray b;
    for (int v : values)
        b.append(char(v));
    return b;
}

// The sentences of a stream: every line must be CR LF ended, "$GP...*hh" with the XOR of the
// body as its checksum. Returns the sentences' fields, the checksum cut off.
QList<QList<QByteArray>> Sentences(const QByteArray& stream) {
    QList<QList<QByteArray>> out;
    const QList<QByteArray> lines = stream.split('\n');
    for (qsizetype i = 0; i + 1 < lines.size(); ++i) { // the last piece has no line end yet
        const QByteArray& line = lines[i];
        if (i == 0 && !line.startsWith('$'))
            continue; // the reader came in mid-sentence
        EXPECT_TRUE(line.endsWith('\r')) << line.constData();
        const QByteArray s = line.chopped(1);
        const qsizetype star = s.indexOf('*');
        EXPECT_TRUE(s.startsWith("$GP") && star == s.size() - 3) << s.constData();
        if (star < 1)
            continue;
        quint8 sum = 0;
        for (char c : s.mid(1, star - 1))
            sum ^= quint8(c);
        EXPECT_EQ(s.mid(star + 1).toUInt(nullptr, 16), sum) << s.constData();
        out.append(s.mid(1, star - 1).split(','));
    }
    return out;
}

// The last sentence of a type in a stream.
QList<QByteArray> Last(const QList<QList<QByteArray>>& sentences, const QByteArray& type) {
    for (qsizetype i = sentences.size() - 1; i >= 0; --i)
        if (sentences[i].value(0) == type)
            return sentences[i];
    return {};
}

struct AppFirst {
    AppFirst() { EnsureApplication(); }
};

class SimTest : public ::testing::Test {
protected:
    AppFirst app;
    SimStation station;
};

TEST_F(SimTest, Ft847UnderstandsFramesAndIgnoresDigitTexts) {
    Client c(station.com1()->devicePath());
    ASSERT_TRUE(c.ok());
    c.write(Bytes({0, 0, 0, 0, 0}));
    c.write(QByteArray("14420000") + Bytes({0x14, 0x42, 0, 0, 1}));
    c.write(Bytes({2, 0, 0, 0, 7, 0, 0, 0, 0, 8, 0, 0, 0, 0, 0x88, 9, 9, 9, 9, 0x55}));
    c.read();
    Ft847Sim* rig = station.com1Ft847();
    EXPECT_EQ(rig->understood(),
              (QStringList{"FT-847: CAT on", "FT-847: text 14420000 (no CAT frame)",
                           "FT-847: frequency 144.200 00 MHz", "FT-847: mode CW", "FT-847: PTT on",
                           "FT-847: PTT off", "FT-847: unknown frame 09 09 09 09 55"}));
    EXPECT_EQ(rig->frequency10Hz, 14420000);
    EXPECT_EQ(rig->mode, 0x02);
    EXPECT_FALSE(rig->ptt);
    // Everything is recorded as it came, with time stamps in order.
    EXPECT_EQ(rig->received().size(), 5 + 13 + 20);
    qint64 last = 0;
    for (const SimDevice::Reception& r : rig->receptions()) {
        EXPECT_GE(r.msecsSinceEpoch, last);
        last = r.msecsSinceEpoch;
    }
}

TEST_F(SimTest, Ft847DigitTextAloneIsClosedByTheQuietTime) {
    Client c(station.com2()->devicePath());
    c.write("5020000");
    c.read(300);
    EXPECT_EQ(station.com2()->understood(), QStringList{"FT-847: text 5020000 (no CAT frame)"});
    c.write(Bytes({0x14, 0x42}));
    c.read(300);
    EXPECT_EQ(station.com2()->understood().last(), "FT-847: incomplete command dropped (14 42)");
}

TEST_F(SimTest, Ft847AnswersFrequencyAndModeQueries) {
    Client c(station.com1()->devicePath());
    c.write(Bytes({0x43, 0x22, 0x01, 0x50, 1, 1, 0, 0, 0, 7}));
    c.read();
    c.write(Bytes({0, 0, 0, 0, 3}));
    EXPECT_EQ(c.read(), Bytes({0x43, 0x22, 0x01, 0x50, 0x01}));
    EXPECT_TRUE(station.com1()->understood().contains("FT-847: frequency 432.201 50 MHz"));
}

TEST_F(SimTest, Ft991TextCommandsAndAnswers) {
    SimStation::Options o;
    o.com1Ft991 = true;
    SimStation ft991(o);
    Ft991Sim* rig = ft991.com1Ft991();
    ASSERT_NE(rig, nullptr);
    Client c(rig->devicePath());
    c.write("FA050200000;MD03;TX1;");
    EXPECT_TRUE(c.read().isEmpty()); // settings are not answered
    EXPECT_EQ(rig->understood(), (QStringList{"FT-991: frequency 50.200 000 MHz", "FT-991: mode CW",
                                              "FT-991: transmit"}));
    c.write("FA;");
    EXPECT_EQ(c.read(), QByteArray("FA050200000;"));
    c.write("IF;");
    const QByteArray info = c.read();
    EXPECT_EQ(info.size(), 28);
    EXPECT_EQ(info.mid(0, 5), QByteArray("IF001"));
    EXPECT_EQ(info.mid(5, 9), QByteArray("050200000"));
    EXPECT_EQ(info.mid(21, 1), QByteArray("3")); // mode CW
    c.write("ID;");
    EXPECT_EQ(c.read(), QByteArray("ID0570;"));
    // Eight digits are not a frequency for this rig; unknown commands are refused likewise.
    c.write("FA50200000;");
    EXPECT_EQ(c.read(), QByteArray("?;"));
    c.write("ZZ;");
    EXPECT_EQ(c.read(), QByteArray("?;"));
    EXPECT_EQ(rig->frequencyHz, 50200000);
    EXPECT_TRUE(rig->understood().contains("FT-991: not understood FA50200000;"));
}

TEST_F(SimTest, RotorTurnsStopsAndReportsItsAzimuth) {
    RotorSim* rotor = station.rotor();
    rotor->degreesPerSecond = 90;
    Client c(rotor->devicePath());
    c.write("AI1;");
    EXPECT_EQ(c.read(), QByteArray("000;"));
    c.write("AP1045\r;");
    ASSERT_TRUE(WaitFor([&] { return rotor->understood().contains("Rotor: turn to 045"); }));
    ASSERT_TRUE(WaitFor([&] { return !rotor->turning(); }, 3000));
    c.write("AI1;");
    EXPECT_EQ(c.read(), QByteArray("045;"));
    c.write("AB;");
    ASSERT_TRUE(WaitFor([&] { return rotor->azimuth > 60; }, 3000));
    c.write("ST;");
    c.read();
    const double stoppedAt = rotor->azimuth;
    EXPECT_FALSE(rotor->turning());
    c.read(200);
    EXPECT_EQ(rotor->azimuth, stoppedAt);
    // Turning left ends at the controller's limit of 0.
    c.write("AA;");
    ASSERT_TRUE(WaitFor([&] { return rotor->understood().contains("Rotor: turn left"); }));
    ASSERT_TRUE(WaitFor([&] { return !rotor->turning(); }, 5000));
    EXPECT_EQ(rotor->azimuth, 0.0);
    c.write("AW1012;");
    c.read();
    EXPECT_EQ(rotor->secondEntry, "012");
    EXPECT_TRUE(rotor->understood().contains("Rotor: turn to 045"));
    EXPECT_TRUE(rotor->understood().contains("Rotor: turn right"));
    EXPECT_TRUE(rotor->understood().contains("Rotor: turn left"));
}

TEST_F(SimTest, SensorAnswersTheQueryWithItsReplyLayout) {
    SensorSim* sensor = station.sensor();
    sensor->elevationThousandths = -1000;
    sensor->temperatureHundredths = 2150;
    Client c(sensor->devicePath());
    c.write(Bytes({0, 0, 8}));
    EXPECT_TRUE(c.read().isEmpty());
    EXPECT_TRUE(sensor->started);
    c.write(Bytes({0x7F, 0x01, 0x87}));
    const QByteArray reply = c.read();
    ASSERT_EQ(reply.size(), 18);
    EXPECT_EQ(reply.mid(11, 4), Bytes({0xFF, 0xFF, 0xFC, 0x18})); // bytes 12-15
    EXPECT_EQ(reply.mid(15, 2), Bytes({0x08, 0x66}));             // bytes 16-17
    quint8 sum = 0;
    for (int i = 0; i < 17; ++i)
        sum = quint8(sum + quint8(reply[i]));
    EXPECT_EQ(quint8(reply[17]), sum);
    c.write(Bytes({0x55}));
    c.read();
    EXPECT_EQ(sensor->understood().last(), "Sensor: unknown byte 55");
    EXPECT_EQ(sensor->queries, 1);
}

TEST_F(SimTest, EnvironmentAssignmentsFollowTheFirstRunPortNumbers) {
    const QString env = station.environmentFile();
    using Row = std::pair<const char*, SimDevice*>;
    for (const auto& [variable, device] :
         {Row{"FARSCAN_COM10", station.com1()}, Row{"FARSCAN_COM11", station.com2()},
          Row{"FARSCAN_COM1", station.sensor()}, Row{"FARSCAN_COM12", station.rotor()},
          Row{"FARSCAN_COM13", station.gps()}})
        EXPECT_TRUE(env.contains(
            QStringLiteral("export %1='%2'\n").arg(QLatin1String(variable), device->devicePath())))
            << qPrintable(env);
    station.exportEnvironment();
    EXPECT_EQ(qgetenv("FARSCAN_COM12"), station.rotor()->devicePath().toLocal8Bit());
    EXPECT_EQ(qgetenv("FARSCAN_CLUSTER"),
              "127.0.0.1:" + QByteArray::number(station.cluster()->port()));
}

TEST_F(SimTest, GpsSendsNmeaAtReceiverPaceAndFollowsFixPositionAndReplay) {
    GpsSim* gps = station.gps();
    Client c(gps->devicePath());
    ASSERT_TRUE(c.ok());
    // A burst of RMC, GGA, GSA and GSV a second, a 3D fix at the start.
    auto all = Sentences(c.readFor(2200));
    QSet<QByteArray> types;
    for (const auto& s : all)
        types.insert(s[0]);
    EXPECT_EQ(types, (QSet<QByteArray>{"GPRMC", "GPGGA", "GPGSA", "GPGSV"}));
    EXPECT_GE(std::count_if(all.begin(), all.end(), [](auto& s) { return s[0] == "GPRMC"; }), 2);
    auto rmc = Last(all, "GPRMC");
    ASSERT_EQ(rmc.size(), 13);
    EXPECT_EQ(rmc[2], "A");
    EXPECT_TRUE(rmc[3].startsWith("5230.0") || rmc[3].startsWith("5229.9")) << rmc[3].constData();
    EXPECT_EQ(rmc[4], "N");
    EXPECT_TRUE(rmc[5].startsWith("01319.") || rmc[5].startsWith("01320.")) << rmc[5].constData();
    EXPECT_EQ(rmc[6], "E");
    EXPECT_EQ(Last(all, "GPGSA").value(2), "3");
    EXPECT_EQ(Last(all, "GPGGA").value(6), "1");

    struct Step {
        GpsSim::Fix fix;
        const char* gsaMode;
        const char* rmcStatus;
        const char* ggaQuality;
    };
    for (const Step& step :
         {Step{GpsSim::Fix::TwoD, "2", "A", "1"}, Step{GpsSim::Fix::None, "1", "V", "0"},
          Step{GpsSim::Fix::ThreeD, "3", "A", "1"}}) {
        gps->setFix(step.fix);
        all = Sentences(c.readFor(1300));
        EXPECT_EQ(Last(all, "GPGSA").value(2), step.gsaMode);
        EXPECT_EQ(Last(all, "GPRMC").value(2), step.rmcStatus);
        EXPECT_EQ(Last(all, "GPGGA").value(6), step.ggaQuality);
        if (step.fix == GpsSim::Fix::None) {
            EXPECT_TRUE(Last(all, "GPRMC").value(3).isEmpty()); // no position without a fix
        }
    }

    // Moved to the southern and western hemispheres; a position off the globe is refused.
    EXPECT_TRUE(gps->moveTo(-33.9, -70.65));
    EXPECT_FALSE(gps->moveTo(95, 0));
    rmc = Last(Sentences(c.readFor(1300)), "GPRMC");
    // The track wanders a few metres around the position: about 0.002 minutes of arc.
    auto minutes = [](const QByteArray& field, int degreeDigits) {
        return field.left(degreeDigits).toDouble() * 60 + field.mid(degreeDigits).toDouble();
    };
    EXPECT_NEAR(minutes(rmc.value(3), 2), 33.9 * 60, 0.01) << rmc.value(3).constData();
    EXPECT_EQ(rmc.value(4), "S");
    EXPECT_NEAR(minutes(rmc.value(5), 3), 70.65 * 60, 0.01) << rmc.value(5).constData();
    EXPECT_EQ(rmc.value(6), "W");
    EXPECT_EQ(gps->latitude(), -33.9);

    // A recording is replayed as it was, comments left out, one burst per time step, over and
    // over; a file that is not there is refused with its reason.
    ScratchDir dir;
    QFile log(dir.file("track.log"));
    ASSERT_TRUE(log.open(QIODevice::WriteOnly));
    const QByteArray first =
        "$GPGGA,120000.00,5405.6081,N,01049.4791,E,1,08,1.1,40.8,M,43.6,M,,*5D";
    const QByteArray second = "$GPRMC,120001.00,V,,,,,,,240709,,,N*79";
    log.write("# a receiver\n" + first + "\n\n" + second + "\r\n");
    log.close();
    QString why;
    EXPECT_FALSE(gps->replay(dir.file("missing.log"), &why));
    EXPECT_FALSE(why.isEmpty());
    ASSERT_TRUE(gps->replay(dir.file("track.log"), &why)) << qPrintable(why);
    const QByteArray replayed = c.readFor(2700);
    const qsizetype at = replayed.indexOf(first + "\r\n" + second + "\r\n" + first + "\r\n");
    EXPECT_GE(at, 0) << replayed.constData();
    EXPECT_TRUE(
        gps->understood().contains("GPS: replay of " + dir.file("track.log") + " starts again"));
}

TEST(SimCluster, LoginSpotEchoBroadcastGeneratedSpotsAndBye) {
    EnsureApplication();
    SimStation::Options options;
    options.spotsPerMinute = 0;
    SimStation station(options);
    ClusterSim* cluster = station.cluster();
    ASSERT_TRUE(cluster->ok()) << qPrintable(cluster->errorString());
    EXPECT_TRUE(station.environmentFile().contains(
        QStringLiteral("export FARSCAN_CLUSTER='127.0.0.1:%1'\n").arg(cluster->port())));

    struct User {
        QTcpSocket socket;
        QByteArray got;
        // Waits for text; what came before it and the text itself are taken.
        bool expect(const QByteArray& text) {
            const bool found = WaitFor([&] {
                got += socket.readAll();
                return got.contains(text);
            });
            if (found)
                got.remove(0, got.indexOf(text) + text.size());
            return found;
        }
    };
    User a, b, odd;
    for (User* u : {&a, &b, &odd}) {
        u->socket.connectToHost(QStringLiteral("127.0.0.1"), cluster->port());
        ASSERT_TRUE(u->expect("login: "));
    }
    a.socket.write("q9tst\r\n");
    ASSERT_TRUE(a.expect("Hello Q9TST"));
    ASSERT_TRUE(a.expect("\r\nQ9TST de SIMCLUSTER >\r\n"));
    b.socket.write("Q8OTH\n");
    ASSERT_TRUE(b.expect("Q8OTH de SIMCLUSTER >\r\n"));
    // Not a callsign: asked again.
    odd.socket.write("!!\r\n");
    ASSERT_TRUE(odd.expect("Sorry"));
    ASSERT_TRUE(odd.expect("login: "));

    // The spot: echoed, acknowledged, and sent to every user in the fixed columns of a node.
    a.socket.write("dx 144300 Q0ABC<Tr>JO62QM\r\n");
    ASSERT_TRUE(a.expect("dx 144300 Q0ABC<Tr>JO62QM\r\n"));
    ASSERT_TRUE(a.expect("Spot of Q0ABC on 144300.0 kHz accepted\r\n"));
    const QRegularExpression spot(
        "DX de Q9TST:    144300\\.0  Q0ABC        <Tr>JO62QM {21}([0-2][0-9][0-5][0-9])Z\r\n");
    ASSERT_TRUE(a.expect("DX de Q9TST:"));
    ASSERT_TRUE(a.expect("Z\r\n"));
    ASSERT_TRUE(b.expect("Z\r\n"));
    ASSERT_EQ(cluster->spots().size(), 1);
    EXPECT_TRUE(spot.match(cluster->spots()[0] + "\r\n").hasMatch())
        << qPrintable(cluster->spots()[0]);
    EXPECT_FALSE(odd.socket.readAll().contains("DX de")); // not logged in: no spots
    ASSERT_TRUE(a.expect("Q9TST de SIMCLUSTER >\r\n"));

    // Spots without a usable frequency or callsign, and unknown commands, are answered.
    a.socket.write("dx 144300 ?\r\ndx Q0XYZ\r\nshow/weather\r\n");
    ASSERT_TRUE(a.expect("Sorry, a spot needs a frequency in kHz and a callsign"));
    ASSERT_TRUE(a.expect("Sorry, a spot needs a frequency in kHz and a callsign"));
    ASSERT_TRUE(a.expect("Sorry, show/weather is not known here"));
    EXPECT_EQ(cluster->spots().size(), 1);

    // bye: a 73 line and the node closes; the other user stays and gets generated spots.
    a.socket.write("bye\r\n");
    ASSERT_TRUE(a.expect("73 Q9TST de SIMCLUSTER\r\n"));
    ASSERT_TRUE(WaitFor([&] { return a.socket.state() == QAbstractSocket::UnconnectedState; }));
    ASSERT_TRUE(WaitFor([&] { return cluster->users() == 2; }));
    cluster->setSpotsPerMinute(600);
    const QRegularExpression generated(
        "DX de Q[0-9][A-Z]{2,3}: +[0-9]+\\.[0-9]  Q[0-9][A-Z]{3} {8}.{30} [0-9]{4}Z");
    ASSERT_TRUE(b.expect("DX de Q"));
    ASSERT_GE(cluster->spots().size(), 2);
    EXPECT_TRUE(generated.match(cluster->spots()[1]).hasMatch()) << qPrintable(cluster->spots()[1]);
    cluster->setSpotsPerMinute(0);

    EXPECT_EQ(cluster->received().mid(0, 3), (QStringList{"q9tst", "Q8OTH", "!!"}));
    for (const char* line : {"connection 1 logged in as Q9TST", "connection 2 logged in as Q8OTH",
                             "Q9TST: dx 144300 Q0ABC<Tr>JO62QM", "Q9TST disconnected"})
        EXPECT_TRUE(cluster->understood().contains(line)) << line;
}

TEST(SimProgram, PrintsItsDevicesWritesTheEnvFileAndEndsOnSigterm) {
    EnsureApplication();
    ScratchDir dir;
    const QString envFile = dir.file("station.env");
    QProcess version;
    version.start(QStringLiteral(FARSCAN_SIM_BINARY), {"--version"});
    ASSERT_TRUE(version.waitForFinished(10000));
    EXPECT_EQ(version.exitCode(), 0);
    EXPECT_EQ(version.readAllStandardOutput().trimmed(), QByteArray("farscan-sim 2.1.3"));

    QProcess sim;
    sim.start(QStringLiteral(FARSCAN_SIM_BINARY), {"--env-file", envFile, "--rotor-speed", "30"});
    QByteArray out;
    ASSERT_TRUE(WaitFor(
        [&] {
            out += sim.readAllStandardOutput();
            return out.contains("Ready");
        },
        10000))
        << out.constData();
    for (const char* line :
         {"Com1 FT-847 on /dev/", "Com2 FT-847 on /dev/", "Com3 Sensor on /dev/",
          "Com4 Rotor on /dev/", "Com3 GPS on /dev/", "Cluster SIMCLUSTER on 127.0.0.1:"})
        EXPECT_TRUE(out.contains(line)) << line;
    QFile f(envFile);
    ASSERT_TRUE(f.open(QIODevice::ReadOnly));
    const QString env = QString::fromLocal8Bit(f.readAll());
    const QRegularExpression rotorLine("export FARSCAN_COM12='(/dev/[^']+)'");
    const auto m = rotorLine.match(env);
    ASSERT_TRUE(m.hasMatch()) << qPrintable(env);
    EXPECT_TRUE(env.contains(QRegularExpression("export FARSCAN_COM13='/dev/[^']+'\n")));
    EXPECT_TRUE(
        env.contains(QRegularExpression("export FARSCAN_CLUSTER='127\\.0\\.0\\.1:[0-9]+'\n")));
    // Commands on its input switch the GPS fix and the spot rate.
    sim.write("gps nofix\nspots 0\n");
    ASSERT_TRUE(WaitFor(
        [&] {
            out += sim.readAllStandardOutput();
            return out.contains("Com3: GPS: no fix") && out.contains("Cluster: no generated spots");
        },
        5000))
        << out.constData();
    // The program's log tells what the rotor understood.
    {
        Client c(m.captured(1));
        ASSERT_TRUE(c.ok());
        c.write("AB;");
        ASSERT_TRUE(WaitFor(
            [&] {
                out += sim.readAllStandardOutput();
                return out.contains("Com4: Rotor: turn right");
            },
            5000));
    }
    ::kill(pid_t(sim.processId()), SIGTERM);
    ASSERT_TRUE(WaitFor([&] { return sim.state() == QProcess::NotRunning; }, 5000));
    EXPECT_EQ(sim.exitStatus(), QProcess::NormalExit);
    EXPECT_EQ(sim.exitCode(), 0);
    EXPECT_FALSE(QFile::exists(envFile)); // the assignments end with the station

    // Options it cannot use end it with a reason.
    QProcess bad;
    bad.start(QStringLiteral(FARSCAN_SIM_BINARY), {"--env-file", "", "--cluster-port", "70000"});
    ASSERT_TRUE(bad.waitForFinished(10000));
    EXPECT_NE(bad.exitCode(), 0);
    EXPECT_TRUE(bad.readAllStandardError().contains("--cluster-port"));
    bad.start(QStringLiteral(FARSCAN_SIM_BINARY),
              {"--env-file", "", "--gps-replay", dir.file("none.log")});
    ASSERT_TRUE(bad.waitForFinished(10000));
    EXPECT_NE(bad.exitCode(), 0);
    EXPECT_TRUE(bad.readAllStandardError().contains("cannot replay"));
}

} // namespace
