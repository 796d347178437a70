#pragma once

// Runs the keyer in virtual time against the fake board and the rig control on recording serial
// ports (FT-847s unless ft991 is set, the rig on Com1), and writes everything that happened as
// one schedule of lines "<ms> <event>" in the order it happened.

#include "FakeBoard.h"
#include "Keyer.h"
#include "KeyerTimer.h"
#include "ProgramState.h"
#include "RigControl.h"
#include "TestSupport.h"

#include <QStringList>
#include <functional>
#include <memory>
#include <vector>

// Calls back by hand: firing moves the virtual clock to the due time first.
class ManualKeyerTimer : public KeyerTimer {
public:
    explicit ManualKeyerTimer(VirtualClock& clock) : m_clock(clock) {}
    void callAt(qint64 dueUs, Callback callback) override {
        m_dueUs = dueUs;
        m_callback = std::move(callback);
    }
    void cancel() override { m_callback = nullptr; }
    bool pending() const override { return bool(m_callback); }
    // False when nothing was pending.
    bool fire() {
        if (!m_callback)
            return false;
        Callback callback = std::move(m_callback);
        m_callback = nullptr;
        m_clock.now = qMax(m_clock.now, m_dueUs);
        callback();
        return true;
    }

private:
    VirtualClock& m_clock;
    qint64 m_dueUs = 0;
    Callback m_callback;
};

// A transceiver port that logs its writes ("Com1 00 00 00 00 08", "Com1 TX1;").
class RecordingPort : public FakeSerialPort {
public:
    std::function<void(const QByteArray&)> onWrite;
    int writesBeforeFailing = -1; // then every write fails; -1: never

protected:
    qint64 writeBytes(const QByteArray& bytes) override;
};

class KeyerRun {
public:
    KeyerRun();
    ~KeyerRun();

    VirtualClock clock;
    ManualKeyerTimer timer{clock};
    FakeBoard board{&clock};
    ProgramState state; // RigPort
    RecordingPort com1, com2;
    bool ft991 = false; // the FT991 box of the Com1 row
    std::unique_ptr<RigControl> rig;
    bool txRxGreen = true;
    std::unique_ptr<Keyer> keyer;

    // Sends a text as Text6 at a speed and runs the transmission to its end.
    void send(const QString& text, int speed);
    // Fires the timer until nothing is pending or until() holds after a wake; returns the
    // number of wakes. Stops after maxWakes.
    int run(const std::function<bool()>& until = {}, int maxWakes = 100000);

    // Board calls as "UsbSetIOState(0,16,1)", writes as "Com1 00 00 00 00 08" or "Com1 TX1;",
    // the toggle as "TxRx on"/"TxRx off".
    QStringList schedule() const;
    // Only the key line: "<ms> down" / "<ms> up".
    QStringList keyLine() const;
    // Durations between successive key-line changes in ms, from the first key-down.
    std::vector<double> keyDurations() const;
    // Key-line changes so far.
    int keyChanges() const { return int(keyLine().size()); }

    void log(const QString& what);

private:
    struct Event {
        size_t beforeBoardCall; // the board calls made before it
        qint64 timeUs;
        QString what;
    };
    std::vector<Event> m_events;
};

// The key line as "down <ms>" / "up <ms>" durations, from the first key-down to the last key-up.
QStringList Pulses(const KeyerRun& run);
// Pulses of a code at a dot length: each element, then one element gap.
QStringList CodePulses(const QString& code, int dot);
