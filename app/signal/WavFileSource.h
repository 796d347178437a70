#pragma once

// A WAV stream (PCM, 16 bits, 1 or 2 channels; the first channel is taken) at the capture rate,
// read on a thread of its own, so that nothing on the user-interface thread waits for a file,
// and holding no more than one block of samples.
//
// A regular file is played in a loop at its real pace. A named pipe is a live source: blocks
// follow the writer's samples as they arrive, nothing is repeated, and the writer is held back
// while no block is open. When the writer closes its end, the next writer is awaited with a new
// header. Any other stream (a character device) ends with the stream.

#include "PacedSource.h"

#include <memory>
#include <thread>

class WavFileSource : public PacedSource {
public:
    // Bytes of a stream skipped in search of the samples before it is refused.
    static constexpr qint64 kMaxHeaderBytes = 1 << 20;

    explicit WavFileSource(const QString& path, bool paced = true);
    ~WavFileSource() override;

    QString description() const override { return m_path; }
    bool failed(QString* error) const override;

    struct Shared;

protected:
    bool prepare(int sampleRate, QString* error) override;
    bool produce(std::int16_t* out, int count, std::int64_t first) override;
    void request(std::int64_t first, int count) override;
    void finish() override;
    bool clockPaced() const override;

private:
    void wake();

    QString m_path;
    bool m_paced;
    bool m_regular = false;
    std::shared_ptr<Shared> m_shared;
    std::thread m_reader;
};
