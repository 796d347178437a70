#include "AudioCapture.h"
#include "PacedSource.h"
#include "SignalAnalysis.h"
#include "SignalTestUtil.h"
#include "TestSupport.h"
#include "WavFileSource.h"

#include <gtest/gtest.h>

#include <QDeadlineTimer>
#include <QTemporaryDir>
#include <QThread>

#include <atomic>
#include <csignal>
#include <fcntl.h>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>

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

namespace {
constexpr int kBlock = 8192;

// A counting signal that never repeats within a test, so every sample says where it came from.
std::vector<std::int16_t> Ramp(int count, int start = 0) {
    std::vector<std::int16_t> v(static_cast<std::size_t>(count));
    for (int i = 0; i < count; ++i)
        v[std::size_t(i)] = std::int16_t((start + i) * 7 - 30000);
    return v;
}

QByteArray Pcm(const std::vector<std::int16_t>& samples, std::size_t from = 0,
               std::size_t to = std::size_t(-1)) {
    QByteArray b;
    for (std::size_t i = from; i < std::min(to, samples.size()); ++i) {
        b.append(char(std::uint16_t(samples[i]) & 0xff));
        b.append(char(std::uint16_t(samples[i]) >> 8));
    }
    return b;
}

// The header a streaming writer sends: the length is not known, so it says nearly 4 GB.
QByteArray StreamHeader(int rate) {
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("h.wav"));
    WriteWav(path, {}, rate);
    QFile f(path);
    f.open(QIODevice::ReadOnly);
    QByteArray h = f.readAll();
    for (int i : {4, 40})
        h.replace(i, 4, QByteArray("\x00\xf0\xff\x7f", 4));
    return h;
}

// Samples i .. i + count of a block equal `expected` from `from` on.
::testing::AssertionResult BlockIs(const QByteArray& block,
                                   const std::vector<std::int16_t>& expected, std::size_t from) {
    if (block.size() != 2 * kBlock)
        return ::testing::AssertionFailure() << "block of " << block.size() << " bytes";
    for (int i = 0; i < kBlock; ++i)
        if (SampleAt(block, i) != expected[(from + std::size_t(i)) % expected.size()])
            return ::testing::AssertionFailure() << "sample " << i << " differs";
    return ::testing::AssertionSuccess();
}

// The writing end of a named pipe, opened as soon as the source reads it.
class PipeWriter {
public:
    explicit PipeWriter(const QString& path) {
        QDeadlineTimer deadline(5000);
        while (m_fd < 0 && !deadline.hasExpired()) {
            m_fd = ::open(QFile::encodeName(path).constData(), O_WRONLY | O_NONBLOCK | O_CLOEXEC);
            if (m_fd < 0)
                QThread::msleep(5); // no reader yet (ENXIO)
        }
        if (m_fd >= 0)
            ::fcntl(m_fd, F_SETFL, 0);
    }
    ~PipeWriter() { close(); }
    bool write(const QByteArray& bytes) {
        return m_fd >= 0 && ::write(m_fd, bytes.constData(), size_t(bytes.size())) == bytes.size();
    }
    void close() {
        if (m_fd >= 0)
            ::close(m_fd);
        m_fd = -1;
    }

private:
    int m_fd = -1;
};

bool Complete(CaptureSource& source, int timeoutMs = 5000) {
    return WaitFor([&] { return source.poll(); }, timeoutMs);
}

// Counts the notes that a pipe's writer left (the reader then waits for the next one).
std::atomic<int> g_writersLeft{0};
void NoteWriterLeft(QtMsgType, const QMessageLogContext&, const QString& text) {
    if (text.contains(QLatin1String("waiting for the next writer")))
        ++g_writersLeft;
}

// Opens a source on `path` and waits until it delivers a block or fails; the reason, or
// empty when it plays.
QString Refusal(const QString& path, int bytes = 2 * kBlock) {
    WavFileSource source(path, false);
    QString error;
    if (!source.open(22050, bytes, &error))
        return error.isEmpty() ? QStringLiteral("(no reason)") : error;
    EXPECT_TRUE(WaitFor([&] { return source.failed(&error) || source.poll(); }, 10000))
        << qPrintable(path);
    return source.failed(&error) ? error : QString();
}
} // namespace

TEST(WavFileSource, FilePlaysInALoopReadOnItsOwnThread) {
    QTemporaryDir dir;
    const std::vector<std::int16_t> samples = Ramp(5000);
    const QString path = dir.filePath(QStringLiteral("tone.wav"));
    ASSERT_TRUE(WriteWav(path, samples, 22050));
    ASSERT_TRUE(CreateCaptureSource(QStringLiteral("file:") + path, nullptr));

    // Unpaced: blocks follow each other through the file and round its end.
    {
        WavFileSource file(path, false);
        QString error;
        ASSERT_TRUE(file.open(22050, 2 * kBlock, &error)) << qPrintable(error);
        ASSERT_TRUE(Complete(file));
        EXPECT_TRUE(BlockIs(file.block(), samples, 0));
        file.close();
        ASSERT_TRUE(file.open(22050, 2 * kBlock, &error));
        ASSERT_TRUE(Complete(file));
        EXPECT_TRUE(BlockIs(file.block(), samples, kBlock));

        // Cut while it plays: the loop shrinks to what is left, and a file cut down to its
        // header fails once with a reason.
        file.close();
        ASSERT_EQ(::truncate(QFile::encodeName(path).constData(), 44 + 2 * 100), 0);
        ASSERT_TRUE(file.open(22050, 2 * kBlock, &error));
        ASSERT_TRUE(Complete(file));
        EXPECT_TRUE(BlockIs(file.block(),
                            std::vector<std::int16_t>(samples.begin(), samples.begin() + 100),
                            2 * kBlock % 100));
        file.close();
        ASSERT_EQ(::truncate(QFile::encodeName(path).constData(), 44), 0);
        ASSERT_TRUE(file.open(22050, 2 * kBlock, &error));
        ASSERT_TRUE(WaitFor([&] { return file.failed(&error); }));
        EXPECT_TRUE(error.endsWith(QStringLiteral("no samples"))) << qPrintable(error);
        EXPECT_FALSE(file.poll());
    }

    // Stereo gives the first channel; a file removed while it plays goes on playing, since it
    // is open.
    std::vector<std::int16_t> frames;
    for (int i = 0; i < 3000; ++i) {
        frames.push_back(std::int16_t(i));
        frames.push_back(std::int16_t(-1000));
    }
    const QString stereo = dir.filePath(QStringLiteral("stereo.wav"));
    ASSERT_TRUE(WriteWav(stereo, frames, 22050, 2));
    WavFileSource file(stereo, false);
    QString error;
    ASSERT_TRUE(file.open(22050, 2 * kBlock, &error)) << qPrintable(error);
    ASSERT_TRUE(QFile::remove(stereo));
    ASSERT_TRUE(Complete(file));
    for (int i = 0; i < kBlock; ++i)
        ASSERT_EQ(SampleAt(file.block(), i), i % 3000) << i;

    // Paced, a block takes its recording time, as from a sound card.
    const QString again = dir.filePath(QStringLiteral("again.wav"));
    ASSERT_TRUE(WriteWav(again, samples, 22050));
    WavFileSource paced(again);
    ASSERT_TRUE(paced.open(22050, 2 * kBlock, &error));
    EXPECT_FALSE(paced.poll());
    EXPECT_TRUE(Complete(paced));
}

TEST(WavFileSource, UnusableInputIsRefusedWithAReasonAfterABoundedRead) {
    std::signal(SIGPIPE, SIG_IGN);
    QTemporaryDir dir;
    auto contains = [](const QString& text, const char* part) {
        return text.contains(QLatin1String(part))
                   ? ::testing::AssertionSuccess()
                   : ::testing::AssertionFailure() << qPrintable(text);
    };
    EXPECT_TRUE(contains(Refusal(dir.filePath(QStringLiteral("missing.wav"))),
                         "No such file or directory"));
    EXPECT_TRUE(contains(Refusal(dir.path()), "Is a directory"));

    const QString rate = dir.filePath(QStringLiteral("44k.wav"));
    ASSERT_TRUE(WriteWav(rate, std::vector<std::int16_t>(100), 44100));
    EXPECT_TRUE(contains(Refusal(rate), "44100 samples per second; 22050 are needed"));
    const QString adpcm = dir.filePath(QStringLiteral("adpcm.wav"));
    ASSERT_TRUE(WriteWav(adpcm, std::vector<std::int16_t>(100), 22050, 1, 16, 2));
    EXPECT_TRUE(contains(Refusal(adpcm), "not PCM"));
    const QString empty = dir.filePath(QStringLiteral("empty.wav"));
    ASSERT_TRUE(WriteWav(empty, {}, 22050));
    EXPECT_TRUE(contains(Refusal(empty), "no samples"));

    // Endless or empty devices: no header, so a reason at once, not memory without end.
    EXPECT_TRUE(contains(Refusal(QStringLiteral("/dev/zero")), "/dev/zero: not a WAV file"));
    EXPECT_TRUE(contains(Refusal(QStringLiteral("/dev/null")), "/dev/null: the stream ended"));

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
        QString error;
        const bool opened = file.open(22050, 64, &error); // may know the reason already
        ASSERT_TRUE(!opened || WaitFor([&] { return file.failed(&error) || file.poll(); })) << n;
        if (!opened || file.failed(&error))
            EXPECT_FALSE(error.isEmpty()) << n;
        else
            EXPECT_EQ(SampleAt(file.block(), 0), 5) << n;
    }

    // A pipe that sends a header whose chunks never end: refused after the first megabyte,
    // and the pipe is closed, so the writer cannot go on.
    const QString pipe = dir.filePath(QStringLiteral("junk.pipe"));
    ASSERT_EQ(::mkfifo(QFile::encodeName(pipe).constData(), 0600), 0);
    std::atomic<qint64> written{0};
    {
        WavFileSource source(pipe, false);
        QString error;
        ASSERT_TRUE(source.open(22050, 2 * kBlock, &error));
        std::thread writer([&] {
            PipeWriter w(pipe);
            QByteArray junk("RIFF\xff\xff\xff\xffWAVEJUNK\x00\xff\xff\xff", 20);
            junk.append(QByteArray(65536, 'j'));
            while (w.write(junk)) {
                written += junk.size();
                junk = QByteArray(65536, 'j');
            }
        });
        EXPECT_TRUE(WaitFor([&] { return source.failed(&error); }, 10000));
        EXPECT_TRUE(contains(error, "no audio data within the first 1048576 bytes"));
        writer.join();
        EXPECT_LE(written, WavFileSource::kMaxHeaderBytes + 4 * 65536);
    }
}

TEST(WavFileSource, NamedPipeIsALiveSourcePacedByItsWriter) {
    std::signal(SIGPIPE, SIG_IGN);
    const QtMessageHandler previous = qInstallMessageHandler(NoteWriterLeft);
    // A new writer that came before the reader saw the last one leave would join its stream.
    auto writerLeft = [left = g_writersLeft.load()]() mutable {
        const bool seen = WaitFor([&] { return g_writersLeft > left; });
        left = g_writersLeft;
        return seen;
    };
    QTemporaryDir dir;
    const QString pipe = dir.filePath(QStringLiteral("radio.pipe"));
    ASSERT_EQ(::mkfifo(QFile::encodeName(pipe).constData(), 0600), 0);
    auto source = CreateCaptureSource(QStringLiteral("file:") + pipe, nullptr);
    ASSERT_TRUE(source);
    QString error;

    // No writer yet: opening returns at once, and no block comes.
    ASSERT_TRUE(source->open(22050, 2 * kBlock, &error)) << qPrintable(error);
    EXPECT_FALSE(Complete(*source, 300));
    EXPECT_FALSE(source->failed(&error));

    // Two and a half blocks: two come, exactly as written; the third waits for the writer.
    const std::vector<std::int16_t> first = Ramp(3 * kBlock);
    auto writer = std::make_unique<PipeWriter>(pipe);
    ASSERT_TRUE(writer->write(StreamHeader(22050) + Pcm(first, 0, 5 * kBlock / 2)));
    for (int block = 0; block < 2; ++block) {
        ASSERT_TRUE(Complete(*source)) << block;
        EXPECT_TRUE(BlockIs(source->block(), first, std::size_t(block) * kBlock)) << block;
        source->close();
        ASSERT_TRUE(source->open(22050, 2 * kBlock, &error));
    }
    EXPECT_FALSE(Complete(*source, 300)); // not played in a loop, not padded
    ASSERT_TRUE(writer->write(Pcm(first, 5 * kBlock / 2)));
    ASSERT_TRUE(Complete(*source));
    EXPECT_TRUE(BlockIs(source->block(), first, 2 * kBlock));
    source->close();

    // The writer leaves in the middle of a block: that part is dropped, and the next writer,
    // with a header of its own, fills the block.
    ASSERT_TRUE(source->open(22050, 2 * kBlock, &error));
    ASSERT_TRUE(writer->write(Pcm(Ramp(kBlock / 4, 50000))));
    writer->close();
    ASSERT_TRUE(writerLeft());
    const std::vector<std::int16_t> second = Ramp(kBlock, 90000);
    writer = std::make_unique<PipeWriter>(pipe);
    ASSERT_TRUE(writer->write(StreamHeader(22050) + Pcm(second)));
    ASSERT_TRUE(Complete(*source));
    EXPECT_TRUE(BlockIs(source->block(), second, 0));
    source->close();

    // A writer at another rate stops the source with the reason. (The reader sees a writer
    // leave when it reads again, that is, once a block is open.)
    ASSERT_TRUE(source->open(22050, 2 * kBlock, &error));
    writer->close();
    ASSERT_TRUE(writerLeft());
    writer = std::make_unique<PipeWriter>(pipe);
    ASSERT_TRUE(writer->write(StreamHeader(44100)));
    ASSERT_TRUE(WaitFor([&] { return source->failed(&error); }));
    EXPECT_EQ(error, pipe + QStringLiteral(": 44100 samples per second; 22050 are needed"));
    EXPECT_FALSE(source->poll());
    source.reset();

    // The pipe removed while its writer is still there: when the writer leaves, the source
    // says it is gone.
    WavFileSource gone(pipe);
    ASSERT_TRUE(gone.open(22050, 2 * kBlock, &error));
    writer = std::make_unique<PipeWriter>(pipe);
    ASSERT_TRUE(writer->write(StreamHeader(22050)));
    ASSERT_TRUE(QFile::remove(pipe));
    writer->close();
    ASSERT_TRUE(WaitFor([&] { return gone.failed(&error); }));
    EXPECT_EQ(error, pipe + QStringLiteral(": No such file or directory"));
    qInstallMessageHandler(previous);
}
