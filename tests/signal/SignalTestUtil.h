#pragma once

// Test signals: blocks of 16-bit samples and WAV files written to disk.

#include <QByteArray>
#include <QFile>
#include <QString>
#include <cmath>
#include <cstdint>
#include <vector>

// A block of `count` little-endian samples of amplitude * sin(2 pi hz t) at `rate`.
inline QByteArray ToneBlock(double hz, double amplitude, int count = 8192, int rate = 22050,
                            std::int64_t first = 0) {
    QByteArray b(2 * count, '\0');
    for (int i = 0; i < count; ++i) {
        const double v = amplitude * 32767.0 * std::sin(2 * M_PI * hz * double(first + i) / rate);
        const auto s = std::uint16_t(std::int16_t(std::lrint(v)));
        b[2 * i] = char(s & 0xff);
        b[2 * i + 1] = char(s >> 8);
    }
    return b;
}

inline std::int16_t SampleAt(const QByteArray& block, int i) {
    return std::int16_t(
        std::uint16_t(std::uint8_t(block[2 * i]) | std::uint8_t(block[2 * i + 1]) << 8));
}

// Writes a canonical PCM WAV file; samples holds interleaved frames.
inline bool WriteWav(const QString& path, const std::vector<std::int16_t>& samples, int rate,
                     int channels = 1, int bits = 16, std::uint16_t tag = 1) {
    QByteArray d;
    auto u32 = [&d](std::uint32_t v) {
        for (int i = 0; i < 4; ++i)
            d.append(char((v >> (8 * i)) & 0xff));
    };
    auto u16 = [&d](std::uint16_t v) {
        d.append(char(v & 0xff));
        d.append(char(v >> 8));
    };
    const std::uint32_t dataBytes = std::uint32_t(samples.size() * 2);
    d.append("RIFF");
    u32(36 + dataBytes);
    d.append("WAVE");
    d.append("fmt ");
    u32(16);
    u16(tag);
    u16(std::uint16_t(channels));
    u32(std::uint32_t(rate));
    u32(std::uint32_t(rate * channels * bits / 8));
    u16(std::uint16_t(channels * bits / 8));
    u16(std::uint16_t(bits));
    d.append("data");
    u32(dataBytes);
    for (std::int16_t s : samples)
        u16(std::uint16_t(s));
    QFile f(path);
    return f.open(QIODevice::WriteOnly) && f.write(d) == d.size();
}
