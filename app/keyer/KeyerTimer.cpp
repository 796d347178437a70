#include "KeyerTimer.h"

#include "Clock.h"

#include <algorithm>

QtKeyerTimer::QtKeyerTimer(Clock& clock) : m_clock(clock) {
    m_timer.setSingleShot(true);
    m_timer.setTimerType(Qt::PreciseTimer);
    QObject::connect(&m_timer, &QTimer::timeout, [this] { fire(); });
}

void QtKeyerTimer::callAt(qint64 dueUs, Callback callback) {
    m_dueUs = dueUs;
    m_callback = std::move(callback);
    const qint64 early = dueUs - EarlyUs - m_clock.nowUs();
    m_timer.start(int(std::clamp<qint64>(early / 1000, 0, 24 * 3600 * 1000)));
}

void QtKeyerTimer::cancel() {
    m_timer.stop();
    m_callback = nullptr;
}

void QtKeyerTimer::fire() {
    // The final approach: at most EarlyUs plus the timer's own lateness.
    if (m_clock.nowUs() < m_dueUs)
        m_clock.sleepUntilUs(m_dueUs);
    Callback callback = std::move(m_callback);
    m_callback = nullptr;
    if (callback)
        callback();
}
