#pragma once

// Time as the program reads it: a monotonic clock for timing and the wall-clock time for what is
// stored. Tests hand in a clock of their own to run timing in virtual time.

#include <QDateTime>
#include <QtGlobal>

class Clock {
public:
    virtual ~Clock() = default;
    // Monotonic microseconds from an arbitrary start.
    virtual qint64 nowUs() = 0;
    // Returns at or after the given nowUs() time; used only for waits of a few milliseconds.
    virtual void sleepUntilUs(qint64 due) = 0;
    // The current time in UTC.
    virtual QDateTime utcNow() { return QDateTime::currentDateTimeUtc(); }
};

// The system's monotonic clock with a blocking sleep.
class SystemClock : public Clock {
public:
    qint64 nowUs() override;
    void sleepUntilUs(qint64 due) override;
};
