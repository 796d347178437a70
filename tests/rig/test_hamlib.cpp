// Cross-check of the frequency commands against an independent implementation: Hamlib's
// rigctl tunes the simulated transceivers to the same frequencies, and the frames and texts
// it sends must equal the ones this program sends.

#include "RigControl.h"
#include "RigTestSupport.h"
#include "SimStation.h"

#include <QProcess>
#include <QRegularExpression>
#include <QStandardPaths>
#include <gtest/gtest.h>

namespace {

QString Rigctl() {
    return QStandardPaths::findExecutable(QStringLiteral("rigctl"));
}

// The model number rigctl -l lists for a rig name such as "FT-847"; 0 when it lists none.
int ModelNumber(const QString& rigctl, const QString& name) {
    QProcess p;
    p.start(rigctl, {QStringLiteral("-l")});
    if (!p.waitForFinished(20000))
        return 0;
    const QRegularExpression row(QStringLiteral("^\\s*(\\d+)\\s+Yaesu\\s+(\\S+)\\s"));
    for (const QString& line : QString::fromLocal8Bit(p.readAllStandardOutput()).split('\n')) {
        const auto m = row.match(line);
        if (m.hasMatch() && m.captured(2) == name)
            return m.captured(1).toInt();
    }
    return 0;
}

// Runs rigctl against a device while the simulator answers from this event loop.
bool RunRigctl(const QString& rigctl, int model, SimDevice* device, qint64 hz, QString* why) {
    QProcess p;
    p.setProcessChannelMode(QProcess::MergedChannels);
    p.start(rigctl, {QStringLiteral("-m"), QString::number(model), QStringLiteral("-r"),
                     device->devicePath(), QStringLiteral("F"), QString::number(hz)});
    const bool done = WaitFor([&] { return p.state() == QProcess::NotRunning; }, 30000);
    if (!done) {
        p.kill();
        p.waitForFinished(2000);
    }
    *why = QString::fromLocal8Bit(p.readAll());
    Settle(100);
    return done && p.exitStatus() == QProcess::NormalExit && p.exitCode() == 0;
}

// The FT-847 frequency frames (operation code 01) in a stream of 5-byte frames and digit texts.
QList<QByteArray> FrequencyFrames(const QByteArray& stream) {
    QList<QByteArray> frames;
    int i = 0;
    while (i < stream.size()) {
        if (stream[i] >= '0' && stream[i] <= '9') { // this program's digit text to Com2
            ++i;
            continue;
        }
        const QByteArray f = stream.mid(i, 5);
        if (f.size() == 5 && f[4] == 0x01)
            frames << f;
        i += 5;
    }
    return frames;
}

QStringList FrequencyTexts(const QByteArray& stream) {
    QStringList texts;
    const QRegularExpression set(QStringLiteral("FA\\d+;"));
    auto it = set.globalMatch(QString::fromLatin1(stream));
    while (it.hasNext())
        texts << it.next().captured(0);
    return texts;
}

struct Case {
    qint64 hz;
    const char* rigFreqText; // as the band, preset and tuning buttons set it
    bool fiftyMhz;           // the 50 MHz band (transceiver 2 with the 50 MHz option)
};
const Case kCases[] = {
    {144200000, "14420000", false}, {144410000, "144410", false}, {432200000, "43220000", false},
    {145999990, "14599999", false}, {50200000, "5020000", true},  {50020000, "50020", true},
};

class HamlibCrossCheck : public ::testing::Test {
protected:
    void SetUp() override {
        rigctl = Rigctl();
        if (rigctl.isEmpty())
            GTEST_SKIP() << "rigctl is not installed (Debian package libhamlib-utils): the "
                            "Hamlib cross-check is skipped";
        ResetProgram();
    }
    AppFirst app;
    QString rigctl;
};

TEST_F(HamlibCrossCheck, Ft847FrequencyFramesMatchHamlib) {
    const int model = ModelNumber(rigctl, "FT-847");
    ASSERT_EQ(model, 1001) << "rigctl -l lists the FT-847 under another model number";
    SimStation hamlibSide, farscanSide;
    auto com1 = OpenOn(farscanSide.com1());
    auto com2 = OpenOn(farscanSide.com2());
    RigControl rig(Program(), com1.get(), com2.get(), nullptr);
    rig.Check2 = rig.Check3 = [] { return false; };
    for (const Case& c : kCases) {
        hamlibSide.com1()->clearRecord();
        QString output;
        ASSERT_TRUE(RunRigctl(rigctl, model, hamlibSide.com1(), c.hz, &output))
            << qPrintable(output);
        const QList<QByteArray> hamlib = FrequencyFrames(hamlibSide.com1()->received());
        ASSERT_EQ(hamlib.size(), 1) << c.hz;

        SimDevice* target = c.fiftyMhz ? farscanSide.com2() : farscanSide.com1();
        target->clearRecord();
        Program().RigPort = c.fiftyMhz ? "Com2" : "Com1";
        rig.OptBandVValue = c.fiftyMhz ? 1 : 0;
        Program().RigFreqText = c.rigFreqText;
        QString copy = Program().RigFreqText;
        rig.SetRigFrequency(copy);
        const QByteArray received =
            ReceivedBy(target, int(qstrlen(c.rigFreqText) * (c.fiftyMhz ? 1 : 0) + 5));
        const QList<QByteArray> ours = FrequencyFrames(received);
        ASSERT_EQ(ours.size(), 1) << c.hz;
        EXPECT_EQ(ours.first(), hamlib.first()) << c.hz;
    }
}

TEST_F(HamlibCrossCheck, Ft991FrequencyTextsMatchHamlib) {
    const int model = ModelNumber(rigctl, "FT-991");
    ASSERT_EQ(model, 1035) << "rigctl -l lists the FT-991 under another model number";
    SimStation::Options ft991;
    ft991.com1Ft991 = true;
    SimStation hamlibSide(ft991);
    SimStation farscanSide;
    auto com1 = OpenOn(farscanSide.com1());
    auto com2 = OpenOn(farscanSide.com2());
    RigControl rig(Program(), com1.get(), com2.get(), nullptr);
    rig.Check2 = rig.Check3 = [] { return true; };
    for (const Case& c : kCases) {
        hamlibSide.com1()->clearRecord();
        QString output;
        ASSERT_TRUE(RunRigctl(rigctl, model, hamlibSide.com1(), c.hz, &output))
            << qPrintable(output);
        const QStringList hamlib = FrequencyTexts(hamlibSide.com1()->received());
        ASSERT_EQ(hamlib.size(), 1) << c.hz << " " << qPrintable(hamlib.join(' '));

        SimDevice* target = c.fiftyMhz ? farscanSide.com2() : farscanSide.com1();
        target->clearRecord();
        Program().RigPort = c.fiftyMhz ? "Com2" : "Com1";
        rig.OptBandVValue = c.fiftyMhz ? 1 : 0;
        Program().RigFreqText = c.rigFreqText;
        QString copy = Program().RigFreqText;
        rig.SetRigFrequency(copy);
        const int digits = c.fiftyMhz ? int(qstrlen(c.rigFreqText)) : 0;
        const QStringList ours = FrequencyTexts(ReceivedBy(target, digits + 12));
        ASSERT_EQ(ours.size(), 1) << c.hz;
        EXPECT_EQ(ours.first(), hamlib.first()) << c.hz;
    }
}

} // namespace
