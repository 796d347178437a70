#pragma once

// When the keyer is called back. The keyer never waits itself: it asks for a call at the due
// time of its next step and returns to the event loop. The real timer fires a little early and
// sleeps the last milliseconds on the clock, so a line changes at its due time to well under a
// millisecond while the window keeps handling events; tests call back by hand in virtual time.

#include <QTimer>
#include <QtGlobal>
#include <functional>

class Clock;

class KeyerTimer {
public:
    using Callback = std::function<void()>;
    virtual ~KeyerTimer() = default;
    // Calls back once when the clock reaches dueUs (through the event loop even when that time
    // has passed); replaces a call still pending.
    virtual void callAt(qint64 dueUs, Callback callback) = 0;
    virtual void cancel() = 0;
    virtual bool pending() const = 0;
};

// A precise Qt timer on the clock: it fires EarlyUs before the due time and sleeps the rest.
class QtKeyerTimer : public KeyerTimer {
public:
    static constexpr qint64 EarlyUs = 2000;

    explicit QtKeyerTimer(Clock& clock);
    void callAt(qint64 dueUs, Callback callback) override;
    void cancel() override;
    bool pending() const override { return m_timer.isActive(); }

private:
    void fire();

    Clock& m_clock;
    QTimer m_timer;
    qint64 m_dueUs = 0;
    Callback m_callback;
};
