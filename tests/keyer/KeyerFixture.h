#pragma once

// Runs the keyer in virtual time against the recording board library (loaded at run time like
// the real one) and a fake station, and writes everything that happened as one schedule of
// lines "<ms> <event>" in the order it happened.

#include "BoardLibrary.h"
#include "Keyer.h"

#include <QByteArray>
#include <QLibrary>
#include <QStringList>
#include <functional>
#include <memory>
#include <vector>

class VirtualClock : public KeyerClock {
public:
    qint64 now = 0;
    qint64 nowUs() override { return now; }
    void sleepUntilUs(qint64 due) override {
        if (due > now)
            now = due;
    }
};

// The transceiver side as the main window binds it: the TxRx toggle sends PTT to the rig of
// RigPort; writes to a closed port fail.
struct FakeStation {
    QString rigPort = QStringLiteral("Com1");
    bool ft991 = false;
    bool com1Open = true;
    bool com2Open = true;
    bool txRx = false;
    bool txRxGreen = true;
};

class KeyerRun {
public:
    KeyerRun();
    ~KeyerRun();

    bool libraryLoaded() const { return m_recorder.isLoaded(); }

    VirtualClock clock;
    FakeStation station;
    std::unique_ptr<Keyer> keyer;
    BoardLibrary board;
    // Called for every processEvents of the keyer, with the number of the call (from 1).
    std::function<void(int)> onProcessEvents;
    int processEventsCalls = 0;

    // The schedule so far; board calls as "UsbSetIOState(0,16,1)", writes as "Com1 00 00 00 00
    // 08" or "Com1 TX1;", the toggle as "TxRx on"/"TxRx off".
    QStringList schedule() const;
    // Only the key line: "<ms> down" / "<ms> up".
    QStringList keyLine() const;
    // Durations between successive key-line changes, in ms, starting with the first key-down.
    std::vector<double> keyDurations() const;
    // The last state set on a line, -1 when never set.
    int lastState(int line) const;

    void log(const QString& what);

private:
    struct Event {
        qint64 time;
        QString what; // empty for a board call
        int boardIndex;
    };
    QString boardCall(int index, qint64* time) const;

    QLibrary m_recorder;
    std::vector<Event> m_events;
    int m_boardCalls = 0;
    static KeyerRun* s_current;
    static long long TimeSource();
};
