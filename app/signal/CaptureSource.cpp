#include "CaptureSource.h"

#include "PacedSource.h"
#include "QtCaptureSource.h"
#include "WavFileSource.h"

void CaptureSource::announceReady() {
    if (!m_ready || m_queued.exchange(true))
        return;
    QMetaObject::invokeMethod(
        &m_context,
        [this] {
            m_queued = false;
            if (m_ready)
                m_ready();
        },
        Qt::QueuedConnection);
}

std::unique_ptr<CaptureSource> CreateCaptureSource(const QString& option, QString* error) {
    const QString text = option.trimmed();
    if (text.isEmpty() || text == QLatin1String("default"))
        return std::make_unique<QtCaptureSource>();
    if (text.startsWith(QLatin1String("device:")) && text.size() > 7)
        return std::make_unique<QtCaptureSource>(text.mid(7));
    if (text.startsWith(QLatin1String("file:")) && text.size() > 5)
        return std::make_unique<WavFileSource>(text.mid(5));
    if (text == QLatin1String("beacon"))
        return std::make_unique<BeaconSource>();
    if (error)
        *error = QStringLiteral("Unknown audio source \"%1\" (FARSCAN_AUDIO): use default, "
                                "device:<name>, file:<path.wav> or beacon.")
                     .arg(text);
    return nullptr;
}

QString CaptureOptionFromEnvironment() {
    return qEnvironmentVariable("FARSCAN_AUDIO");
}
