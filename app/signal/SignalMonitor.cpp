#include "SignalMonitor.h"

#include "SignalPanel.h"

#include <QMessageBox>

SignalMonitor::SignalMonitor(QWidget* panelParent, AudioCapture::SourceFactory factory,
                             AudioCapture::Reporter report)
    : QObject(panelParent), m_panel(new SpectrumPanel(&m_spectrum, panelParent)),
      m_capture(factory ? std::move(factory) : AudioCapture::SourceFactory([](QString* error) {
                    return CreateCaptureSource(CaptureOptionFromEnvironment(), error);
                }),
                report ? std::move(report)
                       : AudioCapture::Reporter([this](const QString& t) { ShowMessage(t); })) {
    m_capture.setReadyHandler([this] {
        if (m_capture.CaptureRunning())
            emit blockReady();
    });
}

SignalMonitor::~SignalMonitor() {
    m_capture.StopCapture();
    delete m_message.data();
    delete m_panel.data();
}

void SignalMonitor::Activate() {
    if (!m_panel)
        return;
    m_spectrum.RefLevel = 30;
    m_spectrum.FftLengthText = QStringLiteral("8192");
    m_spectrum.DisplayLowText = QStringLiteral("270");
    m_spectrum.DisplayHighText = QStringLiteral("2700");
    m_spectrum.MaxHoldText = QStringLiteral("0");
    m_spectrum.DbPerDivision = 10;
    m_spectrum.SampleRateText = QStringLiteral("22050");
    m_capture.SampleRateText = m_spectrum.SampleRateText;
    m_capture.CaptureBufferBytes = 2 * 8192;
    m_panel->ShowLevels();
    m_panel->DrawGridAndLabels();
    m_capture.StartCapture();
    m_panel->DrawGridAndLabels();
}

void SignalMonitor::Tick() {
    if (!m_panel || !m_capture.CaptureRunning() || !m_capture.BlockDone())
        return;
    m_spectrum.ComputeSpectrum(m_capture.Buffer());
    m_capture.StopCapture();
    m_capture.StartCapture();
    m_spectrum.UpdateSpectrum();
    m_panel->DrawTrace();
    m_panel->ShowLevels();
    ++m_blocks;
    emit blockProcessed();
}

void SignalMonitor::Stop() {
    m_capture.StopCapture();
}

void SignalMonitor::ShowMessage(const QString& text) {
    // Modal for the operator, but the program goes on: the box is not run in a nested loop.
    auto* box = new QMessageBox(QMessageBox::Warning, messageTitle, text, QMessageBox::Ok,
                                m_panel ? m_panel->window() : nullptr);
    box->setObjectName(QStringLiteral("CaptureMessage"));
    box->setAttribute(Qt::WA_DeleteOnClose);
    box->setWindowModality(Qt::ApplicationModal);
    box->show();
    m_message = box;
}
