#pragma once

// A capture source fills one block of signed 16-bit little-endian mono samples at a time. It is
// opened for a block, polled until the block is complete, read, and closed again. The block is
// never handed out before it is complete, and nothing touches it after that until the next open.
//
// A source also says when polling is worth it: its ready handler runs when poll() or failed() may
// have turned true, so the block cycle can be driven by completions instead of a fast timer.

#include <QByteArray>
#include <QObject>
#include <QString>
#include <atomic>
#include <functional>
#include <memory>

class CaptureSource {
public:
    CaptureSource() = default;
    CaptureSource(const CaptureSource&) = delete;
    CaptureSource& operator=(const CaptureSource&) = delete;
    virtual ~CaptureSource() = default;

    // Starts filling a block of `bytes` bytes at `sampleRate` samples per second. On failure
    // returns false with the sound system's own text in *error.
    virtual bool open(int sampleRate, qsizetype bytes, QString* error) = 0;
    // True once the block is complete; may do the work of producing it.
    virtual bool poll() = 0;
    // The completed block (empty before poll() returned true).
    virtual const QByteArray& block() const = 0;
    // True when the device went away or failed while filling; *error says why.
    virtual bool failed(QString* error) const = 0;
    virtual void close() = 0;
    // What the source captures from, for messages and the log.
    virtual QString description() const = 0;

    // Set before the first open. The handler runs from the event loop of the thread that made
    // the source, never from inside a call into the source, so it may close and reopen it.
    void setReadyHandler(std::function<void()> handler) { m_ready = std::move(handler); }
    bool hasReadyHandler() const { return bool(m_ready); }

protected:
    // Queues one run of the ready handler; callable from any thread. Calls made while one is
    // queued are merged into it.
    void announceReady();

private:
    std::function<void()> m_ready;
    QObject m_context; // lives in the making thread; its queued calls die with it
    std::atomic<bool> m_queued{false};
};

// The source named by an option text (see README): "default", "device:<name>", "file:<path>",
// "beacon". An empty text means "default"; an unknown one gives null and *error.
std::unique_ptr<CaptureSource> CreateCaptureSource(const QString& option, QString* error);

// The option from the environment variable FARSCAN_AUDIO (empty when unset).
QString CaptureOptionFromEnvironment();
