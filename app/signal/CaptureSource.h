#pragma once

// A capture source fills one block of signed 16-bit little-endian mono samples at a time. It is
// opened for a block, polled until the block is complete, read, and closed again. The block is
// never handed out before it is complete, and nothing touches it after that until the next open.

#include <QByteArray>
#include <QString>
#include <memory>

class CaptureSource {
public:
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
};

// The source named by an option text (see README): "default", "device:<name>", "file:<path>",
// "beacon". An empty text means "default"; an unknown one gives null and *error.
std::unique_ptr<CaptureSource> CreateCaptureSource(const QString& option, QString* error);

// The option from the environment variable FARSCAN_AUDIO (empty when unset).
QString CaptureOptionFromEnvironment();
