#include "SignalAnalysis.h"

#include "Fft.h"

#include <algorithm>
#include <cmath>

namespace {
// Lengths the transform accepts; anything else falls back to the standard block.
int ValidLength(const QString& text) {
    const double v = LeadingNumber(text);
    const int n = v >= 2 && v <= 65536 ? int(v) : 0;
    return n > 0 && (n & (n - 1)) == 0 && n == v ? n : 8192;
}
} // namespace

double LeadingNumber(const QString& text) {
    int i = 0;
    while (i < text.size() && text[i].isSpace())
        ++i;
    const int start = i;
    if (i < text.size() && (text[i] == QLatin1Char('-') || text[i] == QLatin1Char('+')))
        ++i;
    bool point = false;
    while (i < text.size() && (text[i].isDigit() || (!point && text[i] == QLatin1Char('.')))) {
        point = point || text[i] == QLatin1Char('.');
        ++i;
    }
    bool ok = false;
    const double v = text.mid(start, i - start).toDouble(&ok);
    return ok ? v : 0.0;
}

Spectrum::Spectrum() {
    Resize();
}

void Spectrum::Resize() {
    m_n = ValidLength(FftLengthText);
    m_re.assign(m_n, 0.0);
    m_im.assign(m_n, 0.0);
    m_smoothed.assign(m_n / 2 + 2, 0.0);
    m_traceX.assign(m_n / 2 + 2, 0.0);
    m_traceY.assign(m_n / 2 + 2, 0.0);
    m_traceX[1] = kEndMarker; // no trace until the first one is built
}

int Spectrum::SampleRate() const {
    return int(LeadingNumber(SampleRateText));
}

QString Spectrum::RefText() const {
    return QStringLiteral("Ref: ") + QString::number(RefLevel) + QStringLiteral(" dB");
}

void Spectrum::ComputeSpectrum(const char* samples, qsizetype bytes) {
    if (ValidLength(FftLengthText) != m_n)
        Resize();
    const qsizetype available = samples ? std::max<qsizetype>(0, bytes / 2) : 0;
    for (int i = 0; i < m_n; ++i) {
        std::int16_t s = 0;
        if (i < available) {
            const auto lo = std::uint8_t(samples[2 * i]);
            const auto hi = std::uint8_t(samples[2 * i + 1]);
            s = std::int16_t(std::uint16_t(lo | (hi << 8)));
        }
        m_re[i] = s / 32768.0;
        m_im[i] = 0.0;
    }
    Fft(m_re.data(), m_im.data(), m_n);
}

void Spectrum::UpdateSpectrum() {
    PeakLevel = 0;
    const int half = m_n / 2;
    for (int k = 0; k <= half; ++k) {
        const double magnitude = std::sqrt(m_re[k] * m_re[k] + m_im[k] * m_im[k]);
        const double level = 20 * std::log(magnitude + 0.0000001) / std::log(10.0);
        m_smoothed[k] += (level - m_smoothed[k]) / 10;
        if (float(m_smoothed[k]) > PeakLevel) {
            PeakLevel = float(m_smoothed[k]);
            PeakFrequency = std::int16_t(std::lrint(k * kHertzPerBinPeak));
        }
        // The last pass leaves the level of bin n/2 - 800 (about 8.9 kHz), where no signal is.
        if (k > 1000)
            NoiseLevel = float(m_smoothed[k - 800]);
    }
    PeakLevel -= 25;
    if (PeakLevel < 0)
        PeakLevel = 0;
    BuildTrace(half);
    NoiseText = QString::number(int(std::floor(NoiseLevel)));
}

void Spectrum::BuildTrace(int count) {
    const double lo = LeadingNumber(DisplayLowText);
    const double hi = LeadingNumber(DisplayHighText);
    if (hi <= lo) {
        // An empty range shows the grid only, not the trace of an earlier range.
        m_traceX[1] = kEndMarker;
        return;
    }
    count = std::clamp(count, 0, m_n / 2);
    const float rate = float(SampleRate());
    int j = 0;
    for (int k = 0; k <= count; ++k) {
        double y = (RefLevel + 50 - m_smoothed[k]) / DbPerDivision * 125;
        y = std::clamp(y, -50.0, 1000.0);
        m_traceY[j] = y;
        const float f = float(k / double(m_n)) * rate;
        double v = 0;
        if (f >= lo && f <= hi)
            v = (f - lo) * 1000 / (hi - lo);
        if (f > hi)
            return; // the end marker of the previous pass stays
        m_traceX[j] = v;
        m_traceX[j + 1] = kEndMarker;
        if (f >= lo && f <= hi)
            ++j;
    }
}

int Spectrum::TracePointCount() const {
    for (int i = 1; i < int(m_traceX.size()); ++i)
        if (m_traceX[i] == kEndMarker)
            return i;
    return int(m_traceX.size());
}

void Spectrum::UpdateLabels() {
    PeakLevel = std::floor(PeakLevel);
    MaxText = QString::number(int(PeakLevel)) + QStringLiteral(" dB anl");
    if (LeadingNumber(MaxText) > LeadingNumber(MaxHoldText))
        MaxHoldText = MaxText;
    FreqText = QString::number(PeakFrequency) + QStringLiteral(" Hz");
}
