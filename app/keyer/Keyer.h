#pragma once

// The Morse keyer: sends a text by pulsing the I/O board's key line (16) while the transmitter
// is held by the transmit line (17) and the transceiver's PTT. Everything runs on the window
// thread; pending events are processed between characters.
//
// Timing goes through a clock seam. Gaps are not slept where they occur: they move a due time
// forward, and the keyer sleeps until that due time right before its next board or rig call.
// The line changes therefore happen exactly when a blocking sleep after every element would
// have put them, while the time spent processing events between characters comes out of the
// gap instead of lengthening it.

#include <QByteArray>
#include <QString>
#include <QtGlobal>
#include <functional>
#include <memory>

// Time source and sleep of the keyer, in microseconds.
class KeyerClock {
public:
    virtual ~KeyerClock() = default;
    virtual qint64 nowUs() = 0;
    // Returns at or after the given time.
    virtual void sleepUntilUs(qint64 due) = 0;
};

// The system's monotonic clock and a blocking sleep.
class SteadyKeyerClock : public KeyerClock {
public:
    qint64 nowUs() override;
    void sleepUntilUs(qint64 due) override;
};

// What the keyer drives. Unset hooks do nothing (and succeed).
struct KeyerHooks {
    // Board 0 of the I/O library; results are ignored.
    std::function<void(quint8 portNr, quint8 dir)> setPortDir;
    std::function<void(quint8 pinNr, bool output)> setIODir;
    std::function<void(quint8 pinNr, bool state)> setIOState;
    // Keeps the window alive between characters.
    std::function<void()> processEvents;

    // The transceivers. A hook answers false when it failed (a write to a port that is not
    // open): that ends the transmission, and the keyer then releases the transmitter.
    std::function<QString()> rigPort; // "Com1" or "Com2"
    std::function<bool()> ft991;      // the settings dialog's FT991 box of the Com1 row
    // Sets the TxRx toggle; its click sends PTT on/off to the rig of RigPort and colours it.
    std::function<bool(bool on)> setTxRx;
    std::function<bool()> txRx;            // the toggle's value
    std::function<void()> showTxRxReceive; // the toggle's back colour green
    std::function<bool(int com, const QByteArray& frame)> writeFrame; // to Com1 or Com2
    std::function<bool()> sendTransmitText; // WaitSeconds(1), then "TX1;" to Com1
    std::function<bool()> sendReceiveText;  // WaitSeconds(1), then "TX0;" to Com1
};

class Keyer {
public:
    static constexpr quint8 KeyLine = 16;
    static constexpr quint8 PttLine = 17;
    static constexpr quint8 KeyPort = 2; // lines 16 to 23

    // clock: not owned; null uses the system clock.
    explicit Keyer(KeyerHooks hooks = {}, KeyerClock* clock = nullptr);
    ~Keyer();
    Keyer(const Keyer&) = delete;
    Keyer& operator=(const Keyer&) = delete;

    KeyerHooks& hooks() { return m_hooks; }
    void setClock(KeyerClock* clock);

    // State the window shows and the settings keep.
    int SpeedIndex = 2; // 1-3, the OptSpeed option
    int DotLength = 0;  // ms, set at each start from SpeedIndex
    bool SendingFlag = false;
    bool LoopStopRequested = false;
    bool KeyerReady = false; // characters are keyed only once the main window is active
    bool CWloop = false;
    bool TXTSel = false; // true: send Text1, false: Text6
    QString Text1;
    QString Text6;

    // Events of the keyer's controls.
    void cmdsendClick();
    void cmdRXClick() { SendingFlag = false; }
    void LoopStopClick() { LoopStopRequested = true; }
    // Indexes outside 1-3 are ignored; returns whether the index was taken.
    bool OptSpeedClick(int index);
    void CWloopClick(bool on) { CWloop = on; }
    void TXTSelClick(bool on) { TXTSel = on; }

    // Looks a one-character text up and plays it; a space is a character gap. Nothing when the
    // keyer is not ready or the text is empty.
    void SendMorseChar(const QString& Ch);
    // Plays positions 1 to 20 of a code: "-" a dash, "." a dot, "0" ends it; an element gap
    // after every position that did not end it, and a character gap when "0" ended it.
    void PlayCode(const QString& Code);
    void KeyDash();
    void KeyDot();
    void ElementGap();
    void CharGap();
    // Sleeps until every gap keyed so far has passed.
    void settle();

    // Transmissions running (more than one when a start arrived during a transmission).
    int depth() const { return m_depth; }

private:
    struct Failed {};
    void rig(bool ok);
    void setLine(quint8 line, bool state);
    void keyElement(int ms);
    qint64 gapStart();
    void transmit(const std::shared_ptr<bool>& alive);
    void sendText(const QString& text, const std::shared_ptr<bool>& alive);
    void release();

    KeyerHooks m_hooks;
    SteadyKeyerClock m_steady;
    KeyerClock* m_clock;
    qint64 m_dueUs = 0;
    int m_depth = 0;
    std::shared_ptr<bool> m_alive = std::make_shared<bool>(true);
};
