#pragma once

// The Morse keyer: sends a text by pulsing the station board's key line while the transmitter is
// held by the transmit line and the transceiver's PTT.
//
// It is a state machine driven by a timer: each step (a board or rig call, or a decision between
// characters) runs at its due time, and between steps the keyer returns to the event loop, so
// clicks and timers are handled during a transmission. Gaps only move the due time forward; a
// line change is then made at exactly the moment a blocking sleep after every element would have
// made it. Each call re-anchors the due time at the moment it was made, so an element lasts its
// full length from its key-down even when that came late.

#include "KeyerTimer.h"

#include <QString>
#include <QtGlobal>
#include <deque>
#include <memory>
#include <vector>

class Clock;
class StationBoard;
class TransmitControl;
class Transceiver;

class Keyer {
public:
    // clock, timer: not owned; null uses the system clock and a Qt timer on it.
    explicit Keyer(Clock* clock = nullptr, KeyerTimer* timer = nullptr);
    ~Keyer();
    Keyer(const Keyer&) = delete;
    Keyer& operator=(const Keyer&) = delete;

    // Only while idle.
    void setTiming(Clock* clock, KeyerTimer* timer);
    // Not owned. Without a board nothing is keyed; without a rig the transmitter is the
    // board's transmit line alone (as for the rig on Com1, minus its commands).
    void setBoard(StationBoard* board) { m_board = board; }
    void setRig(TransmitControl* rig) { m_rig = rig; }

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

    // Events of the keyer's controls. A start while a transmission runs is taken before the
    // next character of the text being sent and sends its text there, then the first text goes
    // on; the transmitter is released once, at the end of the first. When no character is left
    // to send, the start begins a new transmission once the transmitter has been released.
    void cmdsendClick();
    void cmdRXClick() { SendingFlag = false; }
    void LoopStopClick() { LoopStopRequested = true; }
    // Indexes outside 1-3 are ignored; returns whether the index was taken.
    bool OptSpeedClick(int index);
    void CWloopClick(bool on) { CWloop = on; }
    void TXTSelClick(bool on) { TXTSel = on; }

    // Ends a running transmission at once (the window is closing): the key goes up and the
    // transmitter is released. A transceiver's pause before its receive command is waited for
    // here, blocking, since its port closes right after.
    void endTransmission();

    // The timing primitives. Each plays after whatever is still to be played; called from
    // outside a transmission they start playing at once.
    // Looks a one-character text up and plays it; a space is a character gap. Nothing when the
    // keyer is not ready or the text is not one character.
    void SendMorseChar(const QString& Ch);
    // Plays positions 1 to 20 of a code: "-" a dash, "." a dot, "0" ends it; an element gap
    // after every position that did not end it, and a character gap when "0" ended it.
    void PlayCode(const QString& Code);
    void KeyDash();
    void KeyDot();
    void ElementGap();
    void CharGap();

    // A transmission runs (or is releasing the transmitter), or primitives are being played.
    bool busy() const;
    // Transmissions running: more than one when a start was taken inside another.
    int depth() const { return int(m_passes.size()); }

private:
    enum class Stage {
        Idle,
        Start,           // toggle, board set-up, speed and text
        TransmitterOn,   // the transceiver's keying command, after its pause
        NextCharacter,   // take the next character of the text
        CharacterInHand, // a start inside this one has ended: send the character it came before
        AfterCharacter,  // stop, or the pause after the twentieth character
        LoopCheck,       // the end of the text in loop mode: again, or the closing group
        ClosingSent,
        EndOfText,
        ReleaseTxRx, // the transmit toggle off
        ReleaseCom1, // the Com1 transceiver's receive command, after its pause
        ReleaseCom2,
    };
    struct Op {
        enum class Kind { Line, Wait } kind;
        bool key = true; // Line: the key line, else the transmit line
        bool high = false;
        qint64 us = 0; // Wait
    };
    struct Pass {
        QString text;
        qsizetype i = 0;     // the character in hand, from 1
        qint64 startDue = 0; // due time when the pass began
    };

    void play();
    void step();
    void start();
    void transmitterOn();
    void afterCharacter();
    void loopCheck();
    void endOfText();
    void releaseTxRx();
    void releaseCom1();
    void releaseCom2();
    void fail(const QString& what);
    void idleOrWaitingStart();
    void keyElement(qint64 ms);

    void queueLine(bool key, bool high);
    void queueWait(qint64 ms);
    void setLine(bool key, bool high);
    // A rig call at its due time; what follows is timed from its return.
    template <class Call> bool rigCall(Call call);
    bool toggleAddressesRig() const;
    Transceiver* transceiver(int com) const;
    bool txRx() const;
    bool due();

    std::unique_ptr<Clock> m_ownClock;
    std::unique_ptr<KeyerTimer> m_ownTimer;
    Clock* m_clock = nullptr;
    KeyerTimer* m_timer = nullptr;
    StationBoard* m_board = nullptr;
    TransmitControl* m_rig = nullptr;

    Stage m_stage = Stage::Idle;
    std::deque<Op> m_ops;
    std::vector<Pass> m_passes;
    qint64 m_dueUs = 0;
    int m_startsWaiting = 0;
    int m_keyingCom = 0; // the transceiver keyed for this transmission: 1, 2 or none
    bool m_keyDown = false;
    bool m_inStep = false;
    bool m_blocking = false; // waits sleep instead of returning to the event loop
};
