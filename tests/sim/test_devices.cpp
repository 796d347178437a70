// The simulated station through its pseudo-terminals, from the side of a program that opens
// them: what each device understands and answers, and the farscan-sim program's start and end.

#include "SimStation.h"
#include "TestSupport.h"

#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QRegularExpression>
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

private:
    int m_fd = -1;
};

QByteArray Bytes(std::initializer_list<int> values) {
    QByteArray b;
    for (int v : values)
        b.append(char(v));
    return b;
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
          Row{"FARSCAN_COM1", station.sensor()}, Row{"FARSCAN_COM12", station.rotor()}})
        EXPECT_TRUE(env.contains(
            QStringLiteral("export %1='%2'\n").arg(QLatin1String(variable), device->devicePath())))
            << qPrintable(env);
    station.exportEnvironment();
    EXPECT_EQ(qgetenv("FARSCAN_COM12"), station.rotor()->devicePath().toLocal8Bit());
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
    for (const char* line : {"Com1 FT-847 on /dev/", "Com2 FT-847 on /dev/", "Com3 Sensor on /dev/",
                             "Com4 Rotor on /dev/"})
        EXPECT_TRUE(out.contains(line)) << line;
    QFile f(envFile);
    ASSERT_TRUE(f.open(QIODevice::ReadOnly));
    const QString env = QString::fromLocal8Bit(f.readAll());
    const QRegularExpression rotorLine("export FARSCAN_COM12='(/dev/[^']+)'");
    const auto m = rotorLine.match(env);
    ASSERT_TRUE(m.hasMatch()) << qPrintable(env);
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
}

} // namespace
