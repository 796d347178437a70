#pragma once

// The spectrum display: the picture Picture2 with its grid and trace, the labels for the peak
// level (lblMax), the held maximum (lblMaxHold), the peak frequency (lblFreq), the noise level
// (Label23) and the reference level (lblReflvl, placed by the main window), the reference-level
// scroll bar scrReflvl and the ClearMax button. It only draws what a Spectrum holds and forwards
// the scroll bar and the button to it.

#include <QPolygonF>
#include <QWidget>

class QLabel;
class ValueLabel;
class QPushButton;
class QScrollBar;
class Spectrum;

// Picture2: plot area 0..1000 in both directions with a 100-unit margin, y downwards, drawn
// anew at every paint at the widget's size, so it stays crisp and does not flicker.
class SpectrumPicture : public QWidget {
    Q_OBJECT
public:
    explicit SpectrumPicture(QWidget* parent = nullptr);
    void clearTrace();
    void setTrace(QPolygonF points);
    const QPolygonF& trace() const { return m_trace; }
    QSize sizeHint() const override { return {420, 300}; }

    static inline const QColor GridColour{192, 192, 192};
    static inline const QColor TraceColour{255, 255, 0};

protected:
    void paintEvent(QPaintEvent*) override;

private:
    QPolygonF m_trace;
};

class SpectrumPanel : public QWidget {
    Q_OBJECT
public:
    explicit SpectrumPanel(Spectrum* spectrum, QWidget* parent = nullptr);

    // Grid, cleared trace, and the labels from the spectrum.
    void DrawGridAndLabels();
    // The grid and labels, then the spectrum's trace.
    void DrawTrace();
    // Shows the noise level and the reference level texts.
    void ShowLevels();

    SpectrumPicture* picture() const { return m_picture2; }
    // Lives wherever the main window puts it.
    // The held maximum starts again from "0" (the ClearMax button, a new beacon).
    void ClearMaxHold();
    ValueLabel* referenceLabel() const { return m_lblReflvl; }
    QScrollBar* referenceScrollBar() const { return m_scrReflvl; }

private:
    void referenceChanged(int value);

    Spectrum* m_spectrum;
    SpectrumPicture* m_picture2;
    ValueLabel* m_lblMax;
    ValueLabel* m_lblMaxHold;
    ValueLabel* m_lblFreq;
    ValueLabel* m_label23;
    ValueLabel* m_lblReflvl;
    QScrollBar* m_scrReflvl;
    QPushButton* m_clearMax;
};
