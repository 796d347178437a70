#pragma once

// The one fake of the station board: records every call in the board library's own terms
// ("UsbSetIODir(0,3,1)", "UsbSetIOState(0,16,1)", "UsbSetPortDir(0,2,1)"), with the time of a
// clock when one is given, and keeps the lines' directions and levels so that tests can read
// them back. It can play a board that is missing (every call fails).

#include "Clock.h"
#include "StationBoard.h"

#include <QStringList>
#include <array>
#include <vector>

// A clock the test moves by hand; sleeping moves it to the due time at once.
class VirtualClock : public Clock {
public:
    qint64 now = 0;
    qint64 nowUs() override { return now; }
    void sleepUntilUs(qint64 due) override {
        if (due > now)
            now = due;
    }
};

class FakeBoard : public StationBoard {
public:
    struct Call {
        qint64 timeUs; // the clock's time of the call, 0 without a clock
        QString text;  // "UsbSetIOState(0,16,1)"
    };

    explicit FakeBoard(Clock* clock = nullptr) : m_clock(clock) {}

    // Every call fails, as without a board or library.
    bool missing = false;

    bool init() override { return record(QStringLiteral("UsbInit(0)")); }
    bool setLineDirection(BoardLine line, bool output) override {
        m_output[line.number()] = output;
        return record(QStringLiteral("UsbSetIODir(0,%1,%2)").arg(line.number()).arg(int(output)));
    }
    bool setLine(BoardLine line, bool high) override {
        if (!missing)
            m_level[line.number()] = high;
        return record(QStringLiteral("UsbSetIOState(0,%1,%2)").arg(line.number()).arg(int(high)));
    }
    bool setPortDirection(BoardPort port, quint8 outputs) override {
        for (int bit = 0; bit < 8; ++bit)
            m_output[size_t(quint8(port) * 8 + bit)] = (outputs >> bit) & 1;
        return record(QStringLiteral("UsbSetPortDir(0,%1,%2)").arg(quint8(port)).arg(outputs));
    }
    std::optional<quint8> portLevels(quint8 port) override {
        if (missing || port > 4)
            return std::nullopt;
        quint8 levels = 0;
        for (int bit = 0; bit < 8; ++bit)
            if (m_level[size_t(port * 8 + bit)])
                levels |= quint8(1 << bit);
        return levels;
    }
    QString lastError() const override {
        return missing ? QStringLiteral("no board library") : QString();
    }

    // The calls as texts, in order.
    QStringList calls() const {
        QStringList out;
        for (const Call& c : m_calls)
            out << c.text;
        return out;
    }
    const std::vector<Call>& timedCalls() const { return m_calls; }
    void clear() { m_calls.clear(); }
    bool level(BoardLine line) const { return m_level[line.number()]; }
    bool output(BoardLine line) const { return m_output[line.number()]; }

private:
    bool record(const QString& text) {
        m_calls.push_back({m_clock ? m_clock->nowUs() : 0, text});
        return !missing;
    }

    Clock* m_clock;
    std::vector<Call> m_calls;
    std::array<bool, 40> m_level{};
    std::array<bool, 40> m_output{};
};
