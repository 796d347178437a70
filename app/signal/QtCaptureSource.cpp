#include "QtCaptureSource.h"

#include <QAudioSource>
#include <QMediaDevices>
#include <QMetaEnum>
#include <QMutex>
#include <QStringList>
#include <algorithm>

// ---------------------------------------------------------------------------------------------

void BlockSink::begin(qsizetype bytes) {
    m_block = QByteArray(bytes, '\0');
    m_fill = 0;
    if (!isOpen())
        QIODevice::open(QIODevice::WriteOnly | QIODevice::Unbuffered);
}

qint64 BlockSink::writeData(const char* data, qint64 len) {
    const qint64 take = std::min<qint64>(len, m_block.size() - m_fill);
    if (take > 0) {
        std::copy_n(data, take, m_block.data() + m_fill);
        m_fill += take;
        if (full() && onFull)
            onFull();
    }
    return len;
}

// ---------------------------------------------------------------------------------------------

namespace {
// The audio backend reports the sound server's own complaint as a warning; while a stream is
// opened those warnings are gathered so the operator sees them in the message.
QMutex g_gatherLock;
QStringList* g_gathered = nullptr;
QtMessageHandler g_previous = nullptr;

void Gather(QtMsgType type, const QMessageLogContext& context, const QString& text) {
    {
        QMutexLocker lock(&g_gatherLock);
        if (g_gathered && type != QtDebugMsg && type != QtInfoMsg)
            g_gathered->append(text.trimmed());
    }
    if (g_previous)
        g_previous(type, context, text);
}

class WarningGatherer {
public:
    WarningGatherer() {
        QMutexLocker lock(&g_gatherLock);
        g_gathered = &m_texts;
        g_previous = qInstallMessageHandler(Gather);
    }
    ~WarningGatherer() {
        qInstallMessageHandler(g_previous);
        QMutexLocker lock(&g_gatherLock);
        g_gathered = nullptr;
    }
    QString text() {
        QMutexLocker lock(&g_gatherLock);
        m_texts.removeDuplicates();
        return m_texts.join(QLatin1Char('\n'));
    }

private:
    QStringList m_texts;
};

QString ErrorName(QAudio::Error e) {
    switch (e) {
    case QAudio::NoError:
        return QStringLiteral("no error");
    case QAudio::OpenError:
        return QStringLiteral("the audio input could not be opened");
    case QAudio::IOError:
        return QStringLiteral("reading from the audio input failed");
    case QAudio::UnderrunError:
        return QStringLiteral("audio data is not arriving fast enough");
    case QAudio::FatalError:
        return QStringLiteral("the audio input failed and cannot be used");
    }
    return QStringLiteral("unknown audio error");
}
} // namespace

QtCaptureSource::QtCaptureSource(const QString& device) : m_deviceText(device) {
    m_sink.onFull = [this] { announceReady(); };
}

QtCaptureSource::~QtCaptureSource() {
    close();
}

QString QtCaptureSource::description() const {
    if (!m_device.isNull())
        return m_device.description();
    return m_deviceText.isEmpty() ? QStringLiteral("default audio input") : m_deviceText;
}

QAudioDevice QtCaptureSource::findDevice(QString* error) const {
    if (m_deviceText.isEmpty()) {
        QAudioDevice d = QMediaDevices::defaultAudioInput();
        if (d.isNull() && error)
            *error = m_device.isNull()
                         ? QStringLiteral("No audio input device is available.")
                         : QStringLiteral("The audio input \"%1\" is no longer available.")
                               .arg(m_device.description());
        return d;
    }
    const QList<QAudioDevice> inputs = QMediaDevices::audioInputs();
    for (const QAudioDevice& d : inputs)
        if (QString::fromUtf8(d.id()) == m_deviceText)
            return d;
    for (const QAudioDevice& d : inputs)
        if (d.description().contains(m_deviceText, Qt::CaseInsensitive))
            return d;
    if (error) {
        // Found for an earlier block: the device went away between two blocks.
        *error = m_device.isNull()
                     ? QStringLiteral("No audio input device is called \"%1\".").arg(m_deviceText)
                     : QStringLiteral("The audio input \"%1\" is no longer available.")
                           .arg(m_device.description());
    }
    return {};
}

bool QtCaptureSource::open(int sampleRate, qsizetype bytes, QString* error) {
    close();
    WarningGatherer gather;
    auto failOpen = [&](QString why) {
        const QString system = gather.text();
        if (!system.isEmpty())
            why += QLatin1Char('\n') + system;
        if (error)
            *error = why;
        m_audio.reset();
        return false;
    };
    if (!m_devices) {
        m_devices = std::make_unique<QMediaDevices>();
        // A device that goes away (a USB sound card unplugged) ends the block with a failure.
        connect(m_devices.get(), &QMediaDevices::audioInputsChanged, this, [this] {
            if (!m_audio || m_sink.full())
                return;
            const QList<QAudioDevice> inputs = QMediaDevices::audioInputs();
            if (std::find(inputs.begin(), inputs.end(), m_device) == inputs.end())
                fail(QStringLiteral("The audio input \"%1\" is no longer available.")
                         .arg(m_device.description()));
        });
    }
    QString why;
    m_device = findDevice(&why);
    if (m_device.isNull())
        return failOpen(why);

    QAudioFormat format;
    format.setSampleRate(sampleRate);
    format.setChannelCount(1);
    format.setSampleFormat(QAudioFormat::Int16);
    if (!m_device.isFormatSupported(format))
        return failOpen(QStringLiteral("The audio input \"%1\" cannot record 16-bit mono at %2 "
                                       "samples per second.")
                            .arg(m_device.description())
                            .arg(sampleRate));

    m_audio = std::make_unique<QAudioSource>(m_device, format);
    connect(m_audio.get(), &QAudioSource::stateChanged, this, [this](QAudio::State state) {
        if (state == QAudio::StoppedState && m_audio && m_audio->error() != QAudio::NoError &&
            !m_sink.full())
            fail(QStringLiteral("The audio input \"%1\" stopped: %2.")
                     .arg(m_device.description(), ErrorName(m_audio->error())));
    });
    m_sink.begin(bytes);
    m_failed = false;
    m_audio->start(&m_sink);
    if (m_audio->error() != QAudio::NoError || m_audio->state() == QAudio::StoppedState)
        return failOpen(QStringLiteral("The audio input \"%1\" could not be opened: %2.")
                            .arg(m_device.description(), ErrorName(m_audio->error())));
    return true;
}

bool QtCaptureSource::poll() {
    return m_audio && !m_failed && m_sink.full();
}

const QByteArray& QtCaptureSource::block() const {
    return m_sink.full() ? m_sink.block() : m_empty;
}

bool QtCaptureSource::failed(QString* error) const {
    if (m_failed && error)
        *error = m_failText;
    return m_failed;
}

void QtCaptureSource::fail(const QString& why) {
    if (m_failed)
        return;
    m_failed = true;
    m_failText = why;
    announceReady();
}

void QtCaptureSource::close() {
    if (m_audio) {
        QAudioSource* audio = m_audio.get();
        audio->disconnect(this);
        audio->stop();
        m_audio.reset();
    }
}
