#pragma once

// The spectrum of the received audio: each captured block is transformed, its bin levels are
// averaged over successive blocks, the strongest bin is found over the whole spectrum, and a
// trace for the displayed range is built in the picture's coordinates (plot area 0..1000 in both
// directions, y downwards, 125 units per level division). The label texts are kept here too, so
// everything the operator reads can be checked without a display.

#include <QByteArray>
#include <QString>
#include <cstdint>
#include <vector>

class Spectrum {
public:
    static constexpr double kEndMarker = 9999; // TraceX value that ends the trace
    static constexpr double kHertzPerBinPeak = 2 * 1.344855;

    Spectrum();

    // Parameters as the main window sets them at its first activation.
    QString FftLengthText = QStringLiteral("8192");
    QString SampleRateText = QStringLiteral("22050");
    QString DisplayLowText = QStringLiteral("270");
    QString DisplayHighText = QStringLiteral("2700");
    float RefLevel = 30;
    float DbPerDivision = 10;

    // Label texts.
    QString MaxText;                           // lblMax, "<n> dB anl"
    QString MaxHoldText = QStringLiteral("0"); // lblMaxHold
    QString FreqText;                          // lblFreq, "<n> Hz"
    QString NoiseText;                         // Label23
    QString RefText() const;                   // lblReflvl, "Ref: <n> dB"

    // Transforms one block of signed 16-bit little-endian mono samples (2 bytes each). A block
    // shorter than the FFT length counts the missing samples as silence.
    void ComputeSpectrum(const char* samples, qsizetype bytes);
    void ComputeSpectrum(const QByteArray& block) {
        ComputeSpectrum(block.constData(), block.size());
    }

    // Averaging, peak search, noise level and the trace; drawing is the panel's part.
    void UpdateSpectrum();

    // Builds TraceX/TraceY for bins 0..count of the displayed range.
    void BuildTrace(int count);

    // The label half of drawing the grid: integer peak level, maximum hold, frequency.
    void UpdateLabels();

    // Resets the held maximum, as the ClearMax button does.
    void ClearMax() { MaxHoldText = QStringLiteral("0"); }

    int FftLength() const { return m_n; }
    int SampleRate() const;

    float PeakLevel = 0;
    std::int16_t PeakFrequency = 0;
    float NoiseLevel = 0;

    const std::vector<double>& Re() const { return m_re; }
    const std::vector<double>& Im() const { return m_im; }
    const std::vector<double>& Smoothed() const { return m_smoothed; }
    const std::vector<double>& TraceX() const { return m_traceX; }
    const std::vector<double>& TraceY() const { return m_traceY; }
    // Number of trace points before the end marker (lines join point i-1 to point i).
    int TracePointCount() const;

private:
    void Resize();

    int m_n = 0;
    std::vector<double> m_re, m_im;
    std::vector<double> m_smoothed;
    std::vector<double> m_traceX, m_traceY;
};

// The number a text begins with, as the labels are compared: leading blanks, an optional sign,
// digits and a decimal point; 0 when the text starts otherwise.
double LeadingNumber(const QString& text);
