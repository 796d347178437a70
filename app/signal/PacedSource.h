#pragma once

// Sources that compute or read their samples (a generated beacon, a WAV file) deliver a block when
// the time it takes to record one has passed, as a sound card does; unpaced they deliver as soon
// as the samples are there.

#include "CaptureSource.h"

#include <QElapsedTimer>
#include <QTimer>
#include <cstdint>
#include <memory>
#include <vector>

class PacedSource : public CaptureSource {
public:
    explicit PacedSource(bool paced) : m_paced(paced) { m_clock.start(); }

    bool open(int sampleRate, qsizetype bytes, QString* error) override;
    bool poll() override;
    const QByteArray& block() const override { return m_done ? m_block : m_empty; }
    bool failed(QString*) const override { return false; }
    void close() override;

protected:
    // Fills `count` samples starting at the running sample number `first`; false while they
    // are not there yet (poll() then asks again later).
    virtual bool produce(std::int16_t* out, int count, std::int64_t first) = 0;
    virtual bool prepare(int sampleRate, QString* error) = 0;
    // A block from `first` for `count` samples is wanted; closed again by finish().
    virtual void request(std::int64_t first, int count) {
        Q_UNUSED(first);
        Q_UNUSED(count);
    }
    virtual void finish() {}
    // Whether blocks wait for the time it takes to record them (decided after prepare()).
    virtual bool clockPaced() const { return m_paced; }
    int sampleRate() const { return m_rate; }

private:
    std::int64_t now() const;
    void armDueTimer();

    bool m_paced;
    QElapsedTimer m_clock;
    std::unique_ptr<QTimer> m_due; // wakes the ready handler when a paced block is due
    bool m_open = false;
    bool m_done = false;
    int m_rate = 0;
    std::int64_t m_first = 0;    // sample number the block starts at
    std::int64_t m_nextFree = 0; // unpaced: the sample after the last block
    std::vector<std::int16_t> m_samples;
    QByteArray m_block;
    QByteArray m_empty;
};

// A steady carrier with a periodic Morse identification in band-limited receiver noise.
class BeaconSource : public PacedSource {
public:
    struct Options {
        double carrierHz = 1002.0;
        double carrierAmplitude = 0.05; // of full scale
        double noiseAmplitude = 0.03;   // standard deviation before the receiver filter
        QString identification = QStringLiteral("Q0BCN");
        double dotSeconds = 0.1;     // 12 words per minute
        double periodSeconds = 20.0; // identification, then carrier until the period ends
        unsigned seed = 1;
    };
    explicit BeaconSource(bool paced = true) : BeaconSource(Options{}, paced) {}
    BeaconSource(Options options, bool paced);
    QString description() const override { return QStringLiteral("generated beacon"); }

    // Keying envelope (0..1) at time t seconds into the period.
    double envelope(double t) const;

protected:
    bool prepare(int sampleRate, QString* error) override;
    bool produce(std::int16_t* out, int count, std::int64_t first) override;

private:
    Options m_options;
    std::vector<std::pair<double, double>> m_marks; // key-down intervals in seconds
    std::uint64_t m_rng;
    bool m_haveSpare = false;
    double m_spare = 0;
    double gauss();
    double period() const;
    // The receiver's audio filter (high-pass near 300 Hz, low-pass near 2700 Hz) shapes the noise.
    struct Biquad {
        double b0 = 1, b1 = 0, b2 = 0, a1 = 0, a2 = 0;
        double x1 = 0, x2 = 0, y1 = 0, y2 = 0;
        double run(double x);
    };
    Biquad m_highPass, m_lowPass;
    int m_designedRate = 0;
};
