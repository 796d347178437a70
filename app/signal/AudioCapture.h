#pragma once

// Block capture as the main window drives it: StartCapture opens the source for one block,
// BlockDone() is polled when the source says a block may be complete, the spectrum reads
// Buffer(), StopCapture closes the source, and StartCapture opens it again for the next block.
// One block at a time, on one thread.

#include "CaptureSource.h"

#include <functional>
#include <memory>

class AudioCapture {
public:
    // Makes the source on the first start; null with *error when the option names none.
    using SourceFactory = std::function<std::unique_ptr<CaptureSource>(QString* error)>;
    // Shows one message to the operator.
    using Reporter = std::function<void(const QString& text)>;

    AudioCapture(SourceFactory factory, Reporter report);
    ~AudioCapture();

    // Runs from the event loop when BlockDone() may have turned true or the source failed
    // (see CaptureSource::setReadyHandler). Set before the first start.
    void setReadyHandler(std::function<void()> handler) { m_ready = std::move(handler); }

    QString SampleRateText = QStringLiteral("22050");
    qint32 CaptureBufferBytes = 2 * 8192;

    // True when capture is running after the call, also when it already was; false when the
    // source could not be opened (reported once through the reporter).
    bool StartCapture();
    // Harmless when nothing runs.
    void StopCapture();
    bool CaptureRunning() const { return m_running; }

    // The done flag: true when the running block is complete. A source that failed while
    // filling stops the capture and is reported once; the result is then false.
    bool BlockDone();
    // The completed block; empty unless BlockDone() is true.
    const QByteArray& Buffer() const;

    // Number of times a source was opened (each block opens it once).
    int OpenCount() const { return m_opens; }
    CaptureSource* Source() const { return m_source.get(); }

private:
    void report(const QString& text);

    SourceFactory m_factory;
    Reporter m_report;
    std::function<void()> m_ready;
    std::unique_ptr<CaptureSource> m_source;
    bool m_running = false;
    int m_opens = 0;
    QByteArray m_empty;
};
