#pragma once

// The sound card through Qt Multimedia (PulseAudio, or PipeWire's PulseAudio service): the
// system's default input, or the input whose name or description matches a given text.

#include "CaptureSource.h"

#include <QAudioDevice>
#include <QIODevice>
#include <QObject>
#include <functional>
#include <memory>

class QAudioSource;
class QMediaDevices;

// Takes what the audio input delivers until the block is full; the rest is dropped.
class BlockSink : public QIODevice {
public:
    // Runs once the block is full.
    std::function<void()> onFull;
    void begin(qsizetype bytes);
    bool full() const { return m_fill == m_block.size() && !m_block.isEmpty(); }
    const QByteArray& block() const { return m_block; }

protected:
    qint64 readData(char*, qint64) override { return -1; }
    qint64 writeData(const char* data, qint64 len) override;

private:
    QByteArray m_block;
    qsizetype m_fill = 0;
};

class QtCaptureSource : public QObject, public CaptureSource {
    Q_OBJECT
public:
    // An empty device text means the system's default input.
    explicit QtCaptureSource(const QString& device = QString());
    ~QtCaptureSource() override;

    bool open(int sampleRate, qsizetype bytes, QString* error) override;
    bool poll() override;
    const QByteArray& block() const override;
    bool failed(QString* error) const override;
    void close() override;
    QString description() const override;

private:
    void fail(const QString& why);
    QAudioDevice findDevice(QString* error) const;

    QString m_deviceText;
    QAudioDevice m_device;
    std::unique_ptr<QMediaDevices> m_devices;
    std::unique_ptr<QAudioSource> m_audio;
    BlockSink m_sink;
    bool m_failed = false;
    QString m_failText;
    QByteArray m_empty;
};
