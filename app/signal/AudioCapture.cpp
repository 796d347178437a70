#include "AudioCapture.h"

#include "SignalAnalysis.h"
#include "SignalLog.h"

AudioCapture::AudioCapture(SourceFactory factory, Reporter report)
    : m_factory(std::move(factory)), m_report(std::move(report)) {}

AudioCapture::~AudioCapture() {
    StopCapture();
}

bool AudioCapture::StartCapture() {
    if (m_running)
        return true;
    QString error;
    if (!m_source && m_factory) {
        m_source = m_factory(&error);
        if (m_source && m_ready)
            m_source->setReadyHandler(m_ready);
    }
    if (!m_source) {
        if (error.isEmpty())
            error = QStringLiteral("No audio source.");
        report(error);
        return false;
    }
    const int rate = int(LeadingNumber(SampleRateText));
    ++m_opens;
    if (!m_source->open(rate, CaptureBufferBytes, &error)) {
        report(error);
        return false;
    }
    m_running = true;
    return true;
}

void AudioCapture::StopCapture() {
    m_running = false;
    if (m_source)
        m_source->close();
}

bool AudioCapture::BlockDone() {
    if (!m_running || !m_source)
        return false;
    QString error;
    if (m_source->failed(&error)) {
        StopCapture();
        report(error);
        return false;
    }
    return m_source->poll();
}

const QByteArray& AudioCapture::Buffer() const {
    return m_running && m_source ? m_source->block() : m_empty;
}

void AudioCapture::report(const QString& text) {
    qCWarning(lcSignal).noquote() << "audio capture failed:" << text;
    if (m_report)
        m_report(text);
}
