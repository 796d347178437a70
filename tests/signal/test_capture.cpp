#include "AudioCapture.h"
#include "PacedSource.h"
#include "SignalAnalysis.h"
#include "SignalTestUtil.h"
#include "TestSupport.h"

#include <gtest/gtest.h>

#include <QTemporaryDir>

namespace {

// A source that records how it is used and fails when told to.
struct ScriptedSource : CaptureSource {
    int opens = 0, closes = 0;
    bool refuseOpen = false, done = false, vanished = false;
    QByteArray data;
    bool open(int rate, qsizetype bytes, QString* error) override {
        ++opens;
        if (refuseOpen) {
            *error = QStringLiteral("Connection refused");
            return false;
        }
        EXPECT_EQ(rate, 22050);
        data = QByteArray(bytes, '\x01');
        return true;
    }
    bool poll() override { return done; }
    const QByteArray& block() const override { return data; }
    bool failed(QString* error) const override {
        if (vanished)
            *error = QStringLiteral("gone");
        return vanished;
    }
    void close() override { ++closes; }
    QString description() const override { return QStringLiteral("scripted"); }
};

struct Harness {
    std::unique_ptr<ScriptedSource> owned = std::make_unique<ScriptedSource>();
    ScriptedSource* source = owned.get();
    QStringList messages;
    AudioCapture capture{
        [this](QString*) { return std::unique_ptr<CaptureSource>(owned.release()); },
        [this](const QString& t) { messages << t; }};
};

} // namespace

TEST(AudioCapture, SecondStartOpensNothing) {
    Harness h;
    EXPECT_TRUE(h.capture.StartCapture());
    EXPECT_TRUE(h.capture.StartCapture());
    EXPECT_EQ(h.source->opens, 1);
    EXPECT_TRUE(h.capture.CaptureRunning());
    EXPECT_FALSE(h.capture.BlockDone());
    EXPECT_TRUE(h.capture.Buffer().size() == 16384 || h.capture.Buffer().isEmpty());
    h.source->done = true;
    EXPECT_TRUE(h.capture.BlockDone());
    EXPECT_EQ(h.capture.Buffer().size(), 16384);
    h.capture.StopCapture();
    EXPECT_FALSE(h.capture.CaptureRunning());
    EXPECT_FALSE(h.capture.BlockDone());
    EXPECT_TRUE(h.capture.Buffer().isEmpty());
    EXPECT_TRUE(h.messages.isEmpty());
}

TEST(AudioCapture, FailedOpenReportsOnceAndStaysStopped) {
    Harness h;
    h.source->refuseOpen = true;
    EXPECT_FALSE(h.capture.StartCapture());
    EXPECT_FALSE(h.capture.CaptureRunning());
    ASSERT_EQ(h.messages, QStringList{QStringLiteral("Connection refused")});
    // The timer only restarts a running capture: nothing more happens, nothing more is shown.
    for (int i = 0; i < 100; ++i)
        EXPECT_FALSE(h.capture.BlockDone());
    h.capture.StopCapture();
    EXPECT_EQ(h.messages.size(), 1);
    EXPECT_EQ(h.source->opens, 1);
}

TEST(AudioCapture, StopWithoutStartIsHarmless) {
    Harness h;
    h.capture.StopCapture();
    h.capture.StopCapture();
    EXPECT_FALSE(h.capture.CaptureRunning());
    EXPECT_EQ(h.source->opens, 0);
    EXPECT_TRUE(h.messages.isEmpty());
    AudioCapture none(nullptr, nullptr);
    none.StopCapture();
    EXPECT_FALSE(none.StartCapture()); // no source and nobody to tell: still no crash
}

TEST(AudioCapture, VanishedDeviceStopsTheCaptureWithOneMessage) {
    Harness h;
    ASSERT_TRUE(h.capture.StartCapture());
    h.source->vanished = true;
    EXPECT_FALSE(h.capture.BlockDone());
    EXPECT_FALSE(h.capture.CaptureRunning());
    EXPECT_EQ(h.messages, QStringList{QStringLiteral("gone")});
    EXPECT_FALSE(h.capture.BlockDone());
    EXPECT_EQ(h.messages.size(), 1);
    EXPECT_GE(h.source->closes, 1);
}

TEST(AudioCapture, UnknownSourceOptionIsReportedAsAFailedOpen) {
    QString error;
    EXPECT_EQ(CreateCaptureSource(QStringLiteral("tape:deck"), &error), nullptr);
    EXPECT_TRUE(error.contains(QStringLiteral("tape:deck")));
    QStringList messages;
    AudioCapture c([](QString* e) { return CreateCaptureSource(QStringLiteral("nonsense"), e); },
                   [&](const QString& t) { messages << t; });
    EXPECT_FALSE(c.StartCapture());
    EXPECT_EQ(messages.size(), 1);
    for (const char* option : {"", "default", "device:radio_in", "file:x.wav", "beacon"})
        EXPECT_NE(CreateCaptureSource(QString::fromLatin1(option), &error), nullptr) << option;
}

TEST(BeaconSource, CarrierNear1kHzKeyedWithTheIdentification) {
    BeaconSource::Options o;
    BeaconSource beacon(o, false);
    // A pause, the identification (Q starts with a dash), then the carrier to the period's end.
    EXPECT_EQ(beacon.envelope(0.2), 0.0);
    EXPECT_EQ(beacon.envelope(0.85), 1.0);   // inside the first dash of Q (0.7 .. 1.0 s)
    EXPECT_EQ(beacon.envelope(1.05), 0.0);   // the gap after it
    EXPECT_EQ(beacon.envelope(15.0), 1.0);   // carrier
    EXPECT_EQ(beacon.envelope(20.2), 0.0);   // the next period starts with the pause
    EXPECT_GT(beacon.envelope(0.7025), 0.0); // soft keying edges
    EXPECT_LT(beacon.envelope(0.7025), 1.0);

    // Blocks during the carrier show it at its frequency, well above the noise.
    Spectrum s;
    QString error;
    std::int64_t skipped = 0;
    while (skipped < 12 * 22050) { // move into the steady carrier
        ASSERT_TRUE(beacon.open(22050, 16384, &error)) << qPrintable(error);
        ASSERT_TRUE(beacon.poll());
        beacon.close();
        skipped += 8192;
    }
    for (int i = 0; i < 10; ++i) {
        ASSERT_TRUE(beacon.open(22050, 16384, &error));
        ASSERT_TRUE(beacon.poll());
        ASSERT_EQ(beacon.block().size(), 16384);
        s.ComputeSpectrum(beacon.block());
        beacon.close();
        s.UpdateSpectrum();
        s.UpdateLabels();
    }
    EXPECT_EQ(s.FreqText, QStringLiteral("1001 Hz")); // 1002 Hz falls into bin 372
    EXPECT_GT(LeadingNumber(s.MaxText), 0);
    EXPECT_LT(s.NoiseLevel, s.Smoothed()[372] - 30);
}

TEST(BeaconSource, PacedBlocksTakeTheirRecordingTime) {
    BeaconSource beacon;
    QString error;
    ASSERT_TRUE(beacon.open(22050, 16384, &error));
    EXPECT_FALSE(beacon.poll());
    EXPECT_TRUE(beacon.block().isEmpty()); // nothing is handed out before it is complete
    EXPECT_TRUE(WaitFor([&] { return beacon.poll(); }, 5000));
    EXPECT_EQ(beacon.block().size(), 16384);
    beacon.close();
    EXPECT_TRUE(beacon.block().isEmpty());
}

TEST(WavFileSource, PlaysTheFileInALoop) {
    QTemporaryDir dir;
    std::vector<std::int16_t> samples(5000);
    for (std::size_t i = 0; i < samples.size(); ++i)
        samples[i] = std::int16_t(i * 7 - 17000);
    const QString path = dir.filePath(QStringLiteral("tone.wav"));
    ASSERT_TRUE(WriteWav(path, samples, 22050));
    auto source = CreateCaptureSource(QStringLiteral("file:") + path, nullptr);
    ASSERT_TRUE(source);
    WavFileSource file(path, false);
    QString error;
    ASSERT_TRUE(file.open(22050, 16384, &error)) << qPrintable(error);
    ASSERT_TRUE(file.poll());
    for (int i = 0; i < 8192; ++i)
        ASSERT_EQ(SampleAt(file.block(), i), samples[i % 5000]) << i;
    file.close();
    ASSERT_TRUE(file.open(22050, 16384, &error));
    ASSERT_TRUE(file.poll());
    EXPECT_EQ(SampleAt(file.block(), 0), samples[8192 % 5000]); // blocks follow each other
}

TEST(WavFileSource, StereoGivesTheFirstChannel) {
    QTemporaryDir dir;
    std::vector<std::int16_t> frames;
    for (int i = 0; i < 100; ++i) {
        frames.push_back(std::int16_t(i));
        frames.push_back(std::int16_t(-1000));
    }
    const QString path = dir.filePath(QStringLiteral("stereo.wav"));
    ASSERT_TRUE(WriteWav(path, frames, 22050, 2));
    WavFileSource file(path, false);
    QString error;
    ASSERT_TRUE(file.open(22050, 400, &error)) << qPrintable(error);
    ASSERT_TRUE(file.poll());
    for (int i = 0; i < 200; ++i)
        ASSERT_EQ(SampleAt(file.block(), i), i % 100);
}

TEST(WavFileSource, UnusableFilesGiveAClearReason) {
    QTemporaryDir dir;
    QString error;
    auto opens = [&](const QString& path) {
        WavFileSource file(path, false);
        error.clear();
        return file.open(22050, 16384, &error);
    };
    EXPECT_FALSE(opens(dir.filePath(QStringLiteral("missing.wav"))));
    EXPECT_TRUE(error.contains(QStringLiteral("No such file or directory"))) << qPrintable(error);

    const QString rate = dir.filePath(QStringLiteral("44k.wav"));
    ASSERT_TRUE(WriteWav(rate, std::vector<std::int16_t>(100), 44100));
    EXPECT_FALSE(opens(rate));
    EXPECT_TRUE(error.contains(QStringLiteral("44100"))) << qPrintable(error);

    const QString adpcm = dir.filePath(QStringLiteral("adpcm.wav"));
    ASSERT_TRUE(WriteWav(adpcm, std::vector<std::int16_t>(100), 22050, 1, 16, 2));
    EXPECT_FALSE(opens(adpcm));
    EXPECT_TRUE(error.contains(QStringLiteral("not PCM"))) << qPrintable(error);

    const QString empty = dir.filePath(QStringLiteral("empty.wav"));
    ASSERT_TRUE(WriteWav(empty, {}, 22050));
    EXPECT_FALSE(opens(empty));
    EXPECT_TRUE(error.contains(QStringLiteral("no samples"))) << qPrintable(error);

    // Cut-off files: every prefix of a good file is refused or read within its bounds.
    const QString good = dir.filePath(QStringLiteral("good.wav"));
    ASSERT_TRUE(WriteWav(good, std::vector<std::int16_t>(64, 5), 22050));
    QFile f(good);
    ASSERT_TRUE(f.open(QIODevice::ReadOnly));
    const QByteArray whole = f.readAll();
    const QString cut = dir.filePath(QStringLiteral("cut.wav"));
    for (int n = 0; n < whole.size(); ++n) {
        QFile c(cut);
        ASSERT_TRUE(c.open(QIODevice::WriteOnly | QIODevice::Truncate));
        c.write(whole.left(n));
        c.close();
        WavFileSource file(cut, false);
        if (file.open(22050, 64, &error)) {
            ASSERT_TRUE(file.poll());
            EXPECT_EQ(SampleAt(file.block(), 0), 5) << n;
        } else {
            EXPECT_FALSE(error.isEmpty()) << n;
        }
    }
}
