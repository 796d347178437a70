#include "WavFileSource.h"

#include "SignalLog.h"

#include <QFile>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <mutex>
#include <poll.h>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

// What the user-interface thread and the reader share; everything under `lock`.
struct WavFileSource::Shared {
    std::mutex lock;
    bool stop = false;
    // The open block, as the user-interface thread asks for it.
    std::uint64_t generation = 0; // one per block
    int wanted = 0;               // samples; 0 while no block is open
    std::int64_t first = 0;       // regular file: running sample number the block starts at
    int captureRate = 0;
    // What the reader found.
    std::vector<std::int16_t> samples;
    int filled = 0;
    int fileRate = 0; // once a header was read
    bool failed = false;
    QString error;
    // The reader sleeps in poll(); a byte in this pipe wakes it.
    int wakeRead = -1;
    int wakeWrite = -1;
    // Tells the source's owner that the block is full or the reading failed.
    std::function<void()> announce;
};

namespace {
std::uint32_t Le32(const char* p) {
    const auto* u = reinterpret_cast<const unsigned char*>(p);
    return std::uint32_t(u[0]) | std::uint32_t(u[1]) << 8 | std::uint32_t(u[2]) << 16 |
           std::uint32_t(u[3]) << 24;
}
std::uint16_t Le16(const char* p) {
    const auto* u = reinterpret_cast<const unsigned char*>(p);
    return std::uint16_t(u[0] | u[1] << 8);
}

QString ErrnoText(int code) {
    return QString::fromLocal8Bit(std::strerror(code));
}

// Streams often cannot say how long they are and give 0 or nearly 4 GB.
bool UnknownLength(std::uint32_t length) {
    return length == 0 || length >= 0x7FFFF000u;
}

struct Header {
    int rate = 0;
    int channels = 0;
    qint64 dataOffset = 0; // regular file
    qint64 dataBytes = -1; // -1: up to the end
};

// The reader thread: the header, then the samples into whatever block is open.
class Reader {
public:
    enum Result { Ok, Ended, Stopped, Failed };

    Reader(WavFileSource::Shared& shared, QString path, int fd, bool regular)
        : m_s(shared), m_path(std::move(path)), m_fd(fd), m_regular(regular) {
        struct stat st {};
        m_fifo = ::fstat(fd, &st) == 0 && S_ISFIFO(st.st_mode);
    }
    ~Reader() {
        if (m_fd >= 0)
            ::close(m_fd);
    }

    void run() {
        for (;;) {
            Header h;
            const Result header = readHeader(&h);
            if (header == Stopped || header == Failed)
                return;
            if (header == Ok) {
                if (!accept(h))
                    return;
                const Result play = m_regular ? playFile(h) : playStream(h);
                if (play != Ended)
                    return;
            }
            if (!awaitNextWriter())
                return;
        }
    }

private:
    struct Request {
        std::uint64_t generation;
        std::int64_t first;
        int filled;
        int need;
    };

    Result fail(const QString& why) {
        {
            std::lock_guard guard(m_s.lock);
            if (!m_s.failed) {
                m_s.failed = true;
                m_s.error = m_path + QStringLiteral(": ") + why;
            }
        }
        m_s.announce();
        return Failed;
    }

    bool stopped() {
        std::lock_guard guard(m_s.lock);
        return m_s.stop;
    }

    void drainWake() {
        char buf[64];
        while (::read(m_s.wakeRead, buf, sizeof buf) > 0) {
        }
    }

    // Sleeps until the wake pipe or (withData) the stream has something.
    Result wait(bool withData) {
        for (;;) {
            if (stopped())
                return Stopped;
            pollfd fds[2] = {{m_s.wakeRead, POLLIN, 0}, {m_fd, POLLIN, 0}};
            const int n = ::poll(fds, withData ? 2 : 1, -1);
            if (n < 0 && errno != EINTR)
                return fail(ErrnoText(errno));
            if (n > 0 && fds[0].revents)
                drainWake();
            if (stopped())
                return Stopped;
            if (!withData || (n > 0 && fds[1].revents))
                return Ok;
        }
    }

    // Exactly n bytes of the header, waiting for a writer as long as it takes.
    Result readFully(char* out, qint64 n) {
        qint64 got = 0;
        while (got < n) {
            ssize_t r;
            if (m_regular) {
                r = ::pread(m_fd, out + got, size_t(n - got), m_offset);
            } else {
                const Result w = wait(true);
                if (w != Ok)
                    return w;
                r = ::read(m_fd, out + got, size_t(n - got));
            }
            if (r > 0) {
                got += r;
                m_offset += r;
            } else if (r == 0) {
                return Ended;
            } else if (errno != EAGAIN && errno != EINTR) {
                return fail(ErrnoText(errno));
            }
        }
        return Ok;
    }

    Result skip(qint64 n) {
        if (m_regular) {
            m_offset += n;
            return Ok;
        }
        char buf[4096];
        while (n > 0) {
            m_skipped += std::min<qint64>(n, sizeof buf);
            if (m_skipped > WavFileSource::kMaxHeaderBytes)
                return fail(QStringLiteral("no audio data within the first %1 bytes")
                                .arg(WavFileSource::kMaxHeaderBytes));
            const qint64 step = std::min<qint64>(n, sizeof buf);
            const Result r = readFully(buf, step);
            if (r != Ok)
                return r;
            n -= step;
        }
        return Ok;
    }

    // A file that ends within its header is refused; a pipe whose writer left waits for the next.
    Result endedIn(Result r, const QString& why) {
        if (r == Ended && m_regular)
            return fail(why);
        return r;
    }

    Result readHeader(Header* h) {
        m_offset = 0;
        m_skipped = 0;
        char riff[12];
        Result r = readFully(riff, sizeof riff);
        if (r != Ok)
            return endedIn(r, QStringLiteral("not a WAV file"));
        if (std::memcmp(riff, "RIFF", 4) != 0 || std::memcmp(riff + 8, "WAVE", 4) != 0)
            return fail(QStringLiteral("not a WAV file"));
        bool haveFormat = false;
        int bits = 0;
        for (int chunks = 0;; ++chunks) {
            if (chunks > 1000)
                return fail(QStringLiteral("no audio data"));
            char chunk[8];
            r = readFully(chunk, sizeof chunk);
            if (r != Ok)
                return endedIn(r, QStringLiteral("no audio data"));
            const std::uint32_t length = Le32(chunk + 4);
            if (std::memcmp(chunk, "fmt ", 4) == 0) {
                if (length < 16)
                    return fail(QStringLiteral("format chunk too short"));
                char fmt[40] = {};
                const qint64 take = std::min<qint64>(length, sizeof fmt);
                r = readFully(fmt, take);
                if (r != Ok)
                    return endedIn(r, QStringLiteral("format chunk cut off"));
                const std::uint16_t tag = Le16(fmt);
                h->channels = Le16(fmt + 2);
                h->rate = int(std::min<std::uint32_t>(Le32(fmt + 4), 1u << 30));
                bits = Le16(fmt + 14);
                const bool pcm = tag == 1 || (tag == 0xFFFE && take >= 26 && Le16(fmt + 24) == 1);
                if (!pcm)
                    return fail(QStringLiteral("not PCM audio (format %1)").arg(tag));
                haveFormat = true;
                r = skip(qint64(length) - take + (length & 1));
            } else if (std::memcmp(chunk, "data", 4) == 0) {
                if (!haveFormat)
                    return fail(QStringLiteral("data before the format chunk"));
                if (bits != 16 || h->channels < 1 || h->channels > 2)
                    return fail(QStringLiteral("%1-bit audio with %2 channels; 16-bit mono or "
                                               "stereo is needed")
                                    .arg(bits)
                                    .arg(h->channels));
                h->dataOffset = m_offset;
                h->dataBytes = UnknownLength(length) ? -1 : qint64(length);
                return Ok;
            } else {
                r = skip(qint64(length) + (length & 1));
            }
            if (r != Ok)
                return endedIn(r, QStringLiteral("no audio data"));
        }
    }

    bool accept(const Header& h) {
        int needed = 0;
        {
            std::lock_guard guard(m_s.lock);
            m_s.fileRate = h.rate;
            needed = m_s.captureRate;
        }
        if (needed > 0 && h.rate != needed) {
            fail(QStringLiteral("%1 samples per second; %2 are needed").arg(h.rate).arg(needed));
            return false;
        }
        return true;
    }

    // Sleeps until a block is open and not yet full.
    Result nextRequest(Request* q) {
        for (;;) {
            {
                std::lock_guard guard(m_s.lock);
                if (m_s.stop)
                    return Stopped;
                if (m_s.wanted > m_s.filled) {
                    *q = {m_s.generation, m_s.first, m_s.filled, m_s.wanted - m_s.filled};
                    return Ok;
                }
            }
            const Result w = wait(false);
            if (w != Ok)
                return w;
        }
    }

    // Puts `frames` frames (first channel) into the block the request was for.
    void deliver(const Request& q, const char* data, int frames, int frameBytes) {
        {
            std::lock_guard guard(m_s.lock);
            if (m_s.generation != q.generation || m_s.filled != q.filled)
                return; // that block was closed meanwhile
            frames = std::min(frames, m_s.wanted - m_s.filled);
            for (int i = 0; i < frames; ++i)
                m_s.samples[std::size_t(m_s.filled + i)] =
                    std::int16_t(Le16(data + i * frameBytes));
            m_s.filled += frames;
            if (frames == 0 || m_s.filled < m_s.wanted)
                return;
        }
        m_s.announce();
    }

    // Samples the file holds now (it may be cut while it plays).
    qint64 fileFrames(const Header& h, int frameBytes) {
        struct stat st {};
        if (::fstat(m_fd, &st) != 0)
            return 0;
        qint64 bytes = std::max<qint64>(0, qint64(st.st_size) - h.dataOffset);
        if (h.dataBytes >= 0)
            bytes = std::min(bytes, h.dataBytes);
        return bytes / frameBytes;
    }

    Result playFile(const Header& h) {
        const int frameBytes = 2 * h.channels;
        std::vector<char> buf(std::size_t(kChunkFrames) * frameBytes);
        for (;;) {
            Request q;
            const Result r = nextRequest(&q);
            if (r != Ok)
                return r;
            const qint64 frames = fileFrames(h, frameBytes);
            if (frames <= 0)
                return fail(QStringLiteral("no samples"));
            const qint64 at = (q.first + q.filled) % frames;
            const qint64 take = std::min<qint64>({q.need, frames - at, kChunkFrames});
            const ssize_t got = ::pread(m_fd, buf.data(), size_t(take * frameBytes),
                                        h.dataOffset + at * frameBytes);
            if (got < 0 && errno != EINTR)
                return fail(ErrnoText(errno));
            if (got > 0)
                deliver(q, buf.data(), int(got / frameBytes), frameBytes);
            // A short read means the file was cut meanwhile: the next pass measures it again.
        }
    }

    Result playStream(const Header& h) {
        const int frameBytes = 2 * h.channels;
        std::vector<char> buf(std::size_t(kChunkFrames) * frameBytes);
        qint64 left = h.dataBytes; // -1: up to the end
        qint64 carry = 0;          // bytes of a frame not yet complete, at the start of buf
        for (;;) {
            if (left == 0)
                return discardRest();
            Request q;
            Result r = nextRequest(&q);
            if (r != Ok)
                return r;
            qint64 want = std::min<qint64>(qint64(q.need) * frameBytes, qint64(buf.size())) - carry;
            if (left > 0)
                want = std::min(want, left);
            r = wait(true);
            if (r != Ok)
                return r;
            const ssize_t got = ::read(m_fd, buf.data() + carry, size_t(want));
            if (got == 0)
                return Ended;
            if (got < 0) {
                if (errno == EAGAIN || errno == EINTR)
                    continue;
                return fail(ErrnoText(errno));
            }
            if (left > 0)
                left -= got;
            const qint64 bytes = carry + got;
            const int frames = int(bytes / frameBytes);
            deliver(q, buf.data(), frames, frameBytes);
            carry = bytes - qint64(frames) * frameBytes;
            std::memmove(buf.data(), buf.data() + qint64(frames) * frameBytes, size_t(carry));
        }
    }

    // After the samples a stream declared: whatever follows is read and dropped up to its end.
    Result discardRest() {
        char buf[4096];
        for (;;) {
            const Result r = readFully(buf, sizeof buf);
            if (r != Ok)
                return r;
        }
    }

    // A named pipe's writer closed its end: wait for the next writer, with a new header. The
    // part of a block already filled is dropped, so no block mixes two streams.
    bool awaitNextWriter() {
        if (!m_fifo) {
            fail(QStringLiteral("the stream ended"));
            return false;
        }
        ::close(m_fd);
        m_fd = ::open(QFile::encodeName(m_path).constData(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
        struct stat st {};
        if (m_fd < 0 || ::fstat(m_fd, &st) != 0 || !S_ISFIFO(st.st_mode)) {
            fail(m_fd < 0 ? ErrnoText(errno) : QStringLiteral("no longer a named pipe"));
            return false;
        }
        {
            std::lock_guard guard(m_s.lock);
            m_s.filled = 0;
        }
        qCInfo(lcSignal) << "audio pipe" << m_path << "ended; waiting for the next writer";
        return true;
    }

    static constexpr qint64 kChunkFrames = 4096;

    WavFileSource::Shared& m_s;
    QString m_path;
    int m_fd;
    bool m_regular;
    bool m_fifo = false;
    qint64 m_offset = 0;  // header position in a regular file
    qint64 m_skipped = 0; // stream bytes skipped before the samples
};
} // namespace

WavFileSource::WavFileSource(const QString& path, bool paced)
    : PacedSource(paced), m_path(path), m_paced(paced), m_shared(std::make_shared<Shared>()) {
    m_shared->announce = [this] { announceReady(); };
}

WavFileSource::~WavFileSource() {
    if (m_reader.joinable()) {
        {
            std::lock_guard guard(m_shared->lock);
            m_shared->stop = true;
        }
        wake();
        m_reader.join();
    }
    if (m_shared->wakeRead >= 0)
        ::close(m_shared->wakeRead);
    if (m_shared->wakeWrite >= 0)
        ::close(m_shared->wakeWrite);
}

void WavFileSource::wake() {
    const char byte = 1;
    [[maybe_unused]] const ssize_t n = ::write(m_shared->wakeWrite, &byte, 1);
}

bool WavFileSource::prepare(int sampleRate, QString* error) {
    auto refuse = [&](const QString& why) {
        if (error)
            *error = m_path + QStringLiteral(": ") + why;
        return false;
    };
    if (!m_reader.joinable()) {
        // Non-blocking: opening a named pipe that has no writer yet returns at once.
        const int fd =
            ::open(QFile::encodeName(m_path).constData(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
        if (fd < 0)
            return refuse(ErrnoText(errno));
        struct stat st {};
        if (::fstat(fd, &st) != 0 || S_ISDIR(st.st_mode)) {
            const int code = S_ISDIR(st.st_mode) ? EISDIR : errno;
            ::close(fd);
            return refuse(ErrnoText(code));
        }
        int wake[2];
        if (::pipe2(wake, O_NONBLOCK | O_CLOEXEC) != 0) {
            const int code = errno;
            ::close(fd);
            return refuse(ErrnoText(code));
        }
        m_regular = S_ISREG(st.st_mode);
        m_shared->wakeRead = wake[0];
        m_shared->wakeWrite = wake[1];
        m_shared->captureRate = sampleRate;
        qCInfo(lcSignal) << "audio from" << m_path << (m_regular ? "(file)" : "(stream)");
        m_reader = std::thread([shared = m_shared, path = m_path, fd, regular = m_regular] {
            Reader(*shared, path, fd, regular).run();
        });
    }
    std::lock_guard guard(m_shared->lock);
    m_shared->captureRate = sampleRate;
    if (m_shared->failed) {
        if (error)
            *error = m_shared->error;
        return false;
    }
    if (m_shared->fileRate > 0 && m_shared->fileRate != sampleRate) {
        if (error)
            *error = m_path + QStringLiteral(": %1 samples per second; %2 are needed")
                                  .arg(m_shared->fileRate)
                                  .arg(sampleRate);
        return false;
    }
    return true;
}

bool WavFileSource::clockPaced() const {
    return m_paced && m_regular;
}

void WavFileSource::request(std::int64_t first, int count) {
    {
        std::lock_guard guard(m_shared->lock);
        ++m_shared->generation;
        m_shared->first = first;
        m_shared->wanted = count;
        m_shared->filled = 0;
        m_shared->samples.assign(std::size_t(count), 0);
    }
    wake();
}

void WavFileSource::finish() {
    std::lock_guard guard(m_shared->lock);
    m_shared->wanted = 0;
    m_shared->filled = 0;
}

bool WavFileSource::produce(std::int16_t* out, int count, std::int64_t) {
    std::lock_guard guard(m_shared->lock);
    if (m_shared->failed || m_shared->wanted != count || m_shared->filled < count)
        return false;
    std::copy_n(m_shared->samples.begin(), count, out);
    return true;
}

bool WavFileSource::failed(QString* error) const {
    std::lock_guard guard(m_shared->lock);
    if (m_shared->failed && error)
        *error = m_shared->error;
    return m_shared->failed;
}
