#include "Fft.h"
#include "SignalAnalysis.h"
#include "SignalTestUtil.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <complex>
#include <random>

namespace {

// Direct DFT with the full-precision pi.
std::vector<std::complex<double>> Dft(const std::vector<double>& x) {
    const std::size_t n = x.size();
    std::vector<std::complex<double>> out(n);
    for (std::size_t k = 0; k < n; ++k) {
        std::complex<double> sum = 0;
        for (std::size_t t = 0; t < n; ++t)
            sum += x[t] * std::polar(1.0, -2 * M_PI * double((k * t) % n) / double(n));
        out[k] = sum;
    }
    return out;
}

// Runs `blocks` identical blocks through the spectrum, as the timer does.
void Feed(Spectrum& s, const QByteArray& block, int blocks) {
    for (int i = 0; i < blocks; ++i) {
        s.ComputeSpectrum(block);
        s.UpdateSpectrum();
        s.UpdateLabels();
    }
}

} // namespace

TEST(Fft, AgreesWithDirectDftWithinThePiApproximation) {
    for (int n : {2, 8, 1024, 4096}) {
        std::mt19937 rng(n);
        std::uniform_real_distribution<double> dist(-1.0, 1.0);
        std::vector<double> x(n);
        for (double& v : x)
            v = dist(rng);
        std::vector<double> re = x, im(n, 0.0);
        Fft(re.data(), im.data(), n);
        const auto ref = Dft(x);
        double energy = 0, worst = 0;
        for (int k = 0; k < n; ++k) {
            energy += std::norm(ref[k]);
            worst = std::max(worst, std::abs(std::complex<double>(re[k], im[k]) - ref[k]));
        }
        // Pi as 3.14159 is 2.7e-6 short; over log2(n) stages the twiddles drift by a few times
        // that, so bins may differ by that fraction of the signal's size, and no more.
        const double scale = std::sqrt(energy / n);
        EXPECT_LT(worst, 2e-5 * std::log2(double(n)) * scale) << "n = " << n;
        // Not a full-precision transform: the approximation is visible at larger sizes.
        if (n >= 1024) {
            EXPECT_GT(worst, 1e-9 * scale) << "n = " << n;
        }
    }
}

TEST(Fft, SingleBinSineLandsInItsBinAndItsMirror) {
    const int n = 8192;
    std::vector<double> re(n), im(n, 0.0);
    for (int i = 0; i < n; ++i)
        re[i] = std::cos(2 * M_PI * 372 * i / n);
    Fft(re.data(), im.data(), n);
    EXPECT_NEAR(std::hypot(re[372], im[372]), n / 2.0, n * 1e-4);
    EXPECT_NEAR(std::hypot(re[n - 372], im[n - 372]), n / 2.0, n * 1e-4);
    EXPECT_LT(std::hypot(re[371], im[371]), 1.0);
    EXPECT_LT(std::hypot(re[0], im[0]), 1.0);
}

TEST(Spectrum, SilenceReadsZeroAndTheTraceLiesOnTheBottomEdge) {
    Spectrum s;
    const QByteArray silence(16384, '\0');
    Feed(s, silence, 1);
    EXPECT_EQ(s.MaxText, QStringLiteral("0 dB anl"));
    EXPECT_EQ(s.MaxHoldText, QStringLiteral("0"));
    EXPECT_EQ(s.PeakLevel, 0.0f);
    // Every bin sits at -140 dB; the first block moves the average a tenth of the way there.
    EXPECT_NEAR(s.Smoothed()[372], -14.0, 1e-9);
    EXPECT_EQ(s.NoiseText, QStringLiteral("-14"));
    // Bins 101..1003 lie between 270 and 2700 Hz.
    ASSERT_EQ(s.TracePointCount(), 903);
    for (int i = 0; i < s.TracePointCount(); ++i) {
        EXPECT_EQ(s.TraceY()[i], 1000.0) << i;
        EXPECT_GE(s.TraceX()[i], 0.0);
        EXPECT_LE(s.TraceX()[i], 1000.0);
    }
    EXPECT_NEAR(s.TraceX()[0], (101 * 22050.0 / 8192 - 270) * 1000 / 2430, 1e-3);
    Feed(s, silence, 150);
    EXPECT_NEAR(s.Smoothed()[3296], -140.0, 1e-4);
    EXPECT_EQ(s.NoiseText, QStringLiteral("-140"));
    EXPECT_EQ(s.MaxText, QStringLiteral("0 dB anl"));
}

TEST(Spectrum, SineOnBin372ReadsItsFrequencyAndLevel) {
    Spectrum s;
    const double hz = 372 * 22050.0 / 8192; // 1001.3 Hz
    const QByteArray tone = ToneBlock(hz, 0.5);
    Feed(s, tone, 1);
    EXPECT_EQ(s.FreqText, QStringLiteral("1001 Hz"));
    EXPECT_EQ(s.PeakFrequency, 1001);
    EXPECT_EQ(s.MaxText, QStringLiteral("0 dB anl")); // one tenth of the level is below 25 dB

    Feed(s, tone, 39);
    // Bin level 20 log10(0.5 * 32767/32768 * 8192 / 2); after 40 blocks the average holds
    // 1 - 0.9^40 of it.
    const double level = 20 * std::log10(0.5 * 32767 / 32768 * 4096);
    const double smoothed = level * (1 - std::pow(0.9, 40));
    EXPECT_NEAR(s.Smoothed()[372], smoothed, 0.01);
    EXPECT_EQ(s.MaxText,
              QString::number(int(std::floor(smoothed - 25))) + QStringLiteral(" dB anl"));
    EXPECT_EQ(s.MaxHoldText, s.MaxText);
    EXPECT_EQ(s.FreqText, QStringLiteral("1001 Hz"));

    // The trace's highest point is the tone, at its place in the 270..2700 Hz range.
    const int count = s.TracePointCount();
    const auto top = std::min_element(s.TraceY().begin(), s.TraceY().begin() + count);
    const double x = s.TraceX()[top - s.TraceY().begin()];
    EXPECT_NEAR(x, (hz - 270) * 1000 / 2430, 0.01);
    EXPECT_NEAR(*top, (30 + 50 - smoothed) / 10 * 125, 0.2);
}

TEST(Spectrum, PeakSearchCoversTheWholeSpectrumNotOnlyTheDisplayedRange) {
    Spectrum s;
    Feed(s, ToneBlock(8000, 0.5), 20);
    EXPECT_EQ(s.FreqText,
              QString::number(std::lrint(std::lround(8000 / (22050.0 / 8192)) * 2 * 1.344855)) +
                  QStringLiteral(" Hz"));
    EXPECT_NE(s.MaxText, QStringLiteral("0 dB anl"));
}

TEST(Spectrum, ReferenceLevelMovesTheTraceAndClipsAtTheTopMargin) {
    Spectrum s;
    const QByteArray tone = ToneBlock(372 * 22050.0 / 8192, 0.9);
    Feed(s, tone, 60);
    const int count = s.TracePointCount();
    const double top30 = *std::min_element(s.TraceY().begin(), s.TraceY().begin() + count);
    s.RefLevel = 40;
    s.BuildTrace(4096);
    const double top40 = *std::min_element(s.TraceY().begin(), s.TraceY().begin() + count);
    EXPECT_NEAR(top40 - top30, 125.0, 1e-9); // 10 dB is one division
    s.RefLevel = -40;
    s.BuildTrace(4096);
    EXPECT_EQ(*std::min_element(s.TraceY().begin(), s.TraceY().begin() + count), -50.0);
}

TEST(Spectrum, DisplayLowAboveHighLeavesNoTrace) {
    Spectrum s;
    Feed(s, ToneBlock(1000, 0.5), 3);
    ASSERT_GT(s.TracePointCount(), 1);
    s.DisplayLowText = QStringLiteral("2700");
    s.DisplayHighText = QStringLiteral("270");
    s.BuildTrace(4096);
    EXPECT_EQ(s.TracePointCount(), 1); // no line to draw, not the trace of the earlier range
    s.DisplayHighText = QStringLiteral("2700");
    s.BuildTrace(4096);
    EXPECT_EQ(s.TracePointCount(), 1); // an empty range
    s.DisplayLowText = QStringLiteral("1000");
    s.DisplayHighText = QStringLiteral("1100");
    s.BuildTrace(4096);
    EXPECT_EQ(s.TracePointCount(), 37); // bins 372..408
}

TEST(Spectrum, ClearMaxThenALowerPeakHoldsTheLowerPeak) {
    Spectrum s;
    Feed(s, ToneBlock(1500, 0.5), 40);
    const QString high = s.MaxHoldText;
    ASSERT_GT(LeadingNumber(high), 30);
    // A weaker block lowers the average; without a reset the hold keeps the high reading.
    const QByteArray weak = ToneBlock(1500, 0.005);
    Feed(s, weak, 1);
    EXPECT_LT(LeadingNumber(s.MaxText), LeadingNumber(high));
    EXPECT_EQ(s.MaxHoldText, high);
    s.ClearMax();
    EXPECT_EQ(s.MaxHoldText, QStringLiteral("0"));
    Feed(s, weak, 1);
    EXPECT_GT(LeadingNumber(s.MaxText), 0);
    EXPECT_LT(LeadingNumber(s.MaxText), LeadingNumber(high));
    EXPECT_EQ(s.MaxHoldText, s.MaxText);
    EXPECT_TRUE(s.MaxHoldText.endsWith(QStringLiteral(" dB anl")));
}

TEST(Spectrum, ShortOrMissingBlocksCountAsSilenceBeyondTheirEnd) {
    Spectrum s;
    const QByteArray tone = ToneBlock(1000, 0.5, 100);
    s.ComputeSpectrum(tone.constData(), tone.size() - 1); // odd length: the half sample is dropped
    EXPECT_NEAR(
        s.Re()[0] * 32768,
        [&] {
            double sum = 0;
            for (int i = 0; i < 99; ++i)
                sum += SampleAt(tone, i);
            return sum;
        }(),
        1e-6);
    s.ComputeSpectrum(nullptr, 16384);
    for (int k = 0; k < 8192; ++k)
        ASSERT_EQ(s.Re()[k], 0.0);
}

TEST(Spectrum, LeadingNumberReadsTheNumberALabelStartsWith) {
    EXPECT_EQ(LeadingNumber(QStringLiteral("40 dB anl")), 40);
    EXPECT_EQ(LeadingNumber(QStringLiteral("0")), 0);
    EXPECT_EQ(LeadingNumber(QStringLiteral("  -12.5x")), -12.5);
    EXPECT_EQ(LeadingNumber(QStringLiteral("abc")), 0);
    EXPECT_EQ(LeadingNumber(QString()), 0);
    EXPECT_EQ(LeadingNumber(QStringLiteral("2700")), 2700);
}
