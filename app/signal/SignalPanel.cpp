#include "SignalPanel.h"

#include "SignalAnalysis.h"

#include <QGridLayout>
#include <QLabel>

#include "ValueLabel.h"
#include <QPainter>
#include <QPushButton>
#include <QScrollBar>
#include <algorithm>

namespace {
ValueLabel* Named(const QString& name, const QString& accessible, QWidget* parent) {
    return new ValueLabel(name, accessible, parent);
}
} // namespace

SpectrumPicture::SpectrumPicture(QWidget* parent) : QWidget(parent) {
    setObjectName(QStringLiteral("Picture2"));
    setAccessibleName(tr("Spectrum"));
    setAttribute(Qt::WA_OpaquePaintEvent);
    setMinimumSize(200, 150);
    setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Expanding);
}

void SpectrumPicture::clearTrace() {
    m_trace.clear();
    update();
}

void SpectrumPicture::setTrace(QPolygonF points) {
    m_trace = std::move(points);
    update();
}

void SpectrumPicture::paintEvent(QPaintEvent*) {
    QPainter p(this);
    p.fillRect(rect(), Qt::black);
    // Scale: left -100, top -100, 1200 x 1200.
    QTransform t;
    t.scale(width() / 1200.0, height() / 1200.0);
    t.translate(100, 100);
    p.setTransform(t);

    QPen grid(GridColour, 0); // cosmetic: one pixel at any size
    p.setPen(grid);
    for (int x = 0; x <= 1000; x += 100)
        p.drawLine(QLineF(x, 0, x, 1000));
    for (int y = 0; y <= 1000; y += 125)
        p.drawLine(QLineF(0, y, 1000, y));
    p.drawLine(QLineF(500, 0, 500, 1000));
    p.drawLine(QLineF(0, 500, 1000, 500));

    if (m_trace.size() > 1) {
        p.setRenderHint(QPainter::Antialiasing);
        QPen pen(TraceColour, 1.5, Qt::SolidLine, Qt::RoundCap, Qt::BevelJoin);
        pen.setCosmetic(true);
        p.setPen(pen);
        // In short runs: the raster engine outlines a long zigzag as one polygon and fills it in
        // tens of milliseconds per block. Runs of 16 segments meet in their round caps, and at
        // 1.5 pixels bevel joins inside a run look like round ones, at a tenth of the cost.
        constexpr qsizetype kRun = 16;
        for (qsizetype i = 0; i + 1 < m_trace.size(); i += kRun)
            p.drawPolyline(m_trace.constData() + i, int(std::min(kRun + 1, m_trace.size() - i)));
    }
}

SpectrumPanel::SpectrumPanel(Spectrum* spectrum, QWidget* parent)
    : QWidget(parent), m_spectrum(spectrum) {
    setObjectName(QStringLiteral("SpectrumPanel"));
    setAccessibleName(tr("Spectrum"));
    m_picture2 = new SpectrumPicture(this);
    m_lblMax = Named(QStringLiteral("lblMax"), tr("Signal maximum"), this);
    m_lblMaxHold = Named(QStringLiteral("lblMaxHold"), tr("Maximum hold"), this);
    m_lblFreq = Named(QStringLiteral("lblFreq"), tr("Peak frequency"), this);
    m_label23 = Named(QStringLiteral("Label23"), tr("Noise level"), this);
    m_lblReflvl = Named(QStringLiteral("lblReflvl"), tr("Reference level"), this);
    m_scrReflvl = new QScrollBar(Qt::Vertical, this);
    m_scrReflvl->setObjectName(QStringLiteral("scrReflvl"));
    m_scrReflvl->setAccessibleName(tr("Reference level"));
    // The value is the reference level in dB; down moves the trace down.
    m_scrReflvl->setRange(-60, 120);
    m_scrReflvl->setSingleStep(1);
    m_scrReflvl->setPageStep(10);
    m_scrReflvl->setValue(int(spectrum->RefLevel));
    m_clearMax = new QPushButton(tr("Clear Max"), this);
    m_clearMax->setObjectName(QStringLiteral("ClearMax"));
    m_clearMax->setAccessibleName(tr("Clear Max"));

    auto* layout = new QGridLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(m_picture2, 0, 0, 1, 8);
    layout->addWidget(m_scrReflvl, 0, 8);
    int column = 0;
    auto add = [&](const QString& caption, QLabel* value) {
        auto* c = new QLabel(caption, this);
        c->setBuddy(value);
        layout->addWidget(c, 1, column++);
        layout->addWidget(value, 1, column++);
    };
    add(tr("SigMax:"), m_lblMax);
    add(tr("MaxHold:"), m_lblMaxHold);
    add(tr("FreqMax:"), m_lblFreq);
    add(tr("Noise:"), m_label23);
    layout->addWidget(m_clearMax, 2, 0, 1, 2);
    layout->addWidget(m_lblReflvl, 2, 2, 1, 2); // until the window places it elsewhere
    layout->setRowStretch(0, 1);

    connect(m_scrReflvl, &QScrollBar::valueChanged, this, &SpectrumPanel::referenceChanged);
    connect(m_clearMax, &QPushButton::clicked, this, &SpectrumPanel::ClearMaxHold);
}

void SpectrumPanel::ClearMaxHold() {
    m_spectrum->ClearMax();
    m_lblMaxHold->setText(m_spectrum->MaxHoldText);
}

void SpectrumPanel::DrawGridAndLabels() {
    m_picture2->clearTrace();
    m_spectrum->UpdateLabels();
    m_lblMax->setText(m_spectrum->MaxText);
    m_lblMaxHold->setText(m_spectrum->MaxHoldText);
    m_lblFreq->setText(m_spectrum->FreqText);
}

void SpectrumPanel::DrawTrace() {
    DrawGridAndLabels();
    const int count = m_spectrum->TracePointCount();
    QPolygonF points;
    if (count > 1) {
        points.reserve(count);
        for (int i = 0; i < count; ++i)
            points.append(QPointF(m_spectrum->TraceX()[i], m_spectrum->TraceY()[i]));
    }
    m_picture2->setTrace(std::move(points));
}

void SpectrumPanel::ShowLevels() {
    m_label23->setText(m_spectrum->NoiseText);
    m_lblReflvl->setText(m_spectrum->RefText());
    if (m_scrReflvl->value() != int(m_spectrum->RefLevel)) {
        const QSignalBlocker block(m_scrReflvl);
        m_scrReflvl->setValue(int(m_spectrum->RefLevel));
    }
}

void SpectrumPanel::referenceChanged(int value) {
    m_spectrum->RefLevel = float(value);
    m_lblReflvl->setText(m_spectrum->RefText());
    m_spectrum->BuildTrace(m_spectrum->FftLength() / 2);
    DrawTrace();
}
