#include "Keyer.h"

#include "Clock.h"
#include "KeyerLog.h"
#include "Morse.h"
#include "SerialPort.h"
#include "StationBoard.h"
#include "Transceiver.h"
#include "TransmitControl.h"

namespace {

QString TrimSpaces(const QString& text) {
    qsizetype begin = 0;
    qsizetype end = text.size();
    while (begin < end && text[begin] == QLatin1Char(' '))
        ++begin;
    while (end > begin && text[end - 1] == QLatin1Char(' '))
        --end;
    return text.mid(begin, end - begin);
}

// 1 for "Com1", 2 for "Com2", 0 for anything else.
int ComOf(const QString& rigPort) {
    return rigPort == QLatin1String("Com1") ? 1 : rigPort == QLatin1String("Com2") ? 2 : 0;
}

// "FT-991 on Com1 (port not open)", for the log.
QString Describe(Transceiver* t, int com) {
    const SerialPort* port = t->port();
    QString why = !port || !port->isOpen() ? QStringLiteral("port not open") : port->lastError();
    return QStringLiteral("%1 on Com%2 (%3)").arg(t->model()).arg(com).arg(why);
}

} // namespace

Keyer::Keyer(Clock* clock, KeyerTimer* timer) {
    setTiming(clock, timer);
}

Keyer::~Keyer() {
    m_timer->cancel();
    // Destroyed in the middle of a transmission: the rig may be gone already, but the board
    // lets the transmitter go.
    if (busy() && m_board) {
        m_board->setLine(BoardLine::Key, false);
        m_board->setLine(BoardLine::Transmit, false);
    }
}

void Keyer::setTiming(Clock* clock, KeyerTimer* timer) {
    if (m_timer && busy())
        return;
    if (!clock) {
        if (!m_ownClock)
            m_ownClock = std::make_unique<SystemClock>();
        clock = m_ownClock.get();
    }
    m_clock = clock;
    m_ownTimer.reset();
    if (!timer) {
        m_ownTimer = std::make_unique<QtKeyerTimer>(*m_clock);
        timer = m_ownTimer.get();
    }
    m_timer = timer;
    m_dueUs = 0;
}

bool Keyer::OptSpeedClick(int index) {
    if (DotLengthFor(index) == 0)
        return false;
    SpeedIndex = index;
    return true;
}

bool Keyer::busy() const {
    return m_stage != Stage::Idle || !m_ops.empty();
}

// ---------------------------------------------------------------------------------------------
// Timing primitives: they queue line changes and waits, which play() carries out in order.

void Keyer::queueLine(bool key, bool high) {
    if (!busy())
        m_dueUs = qMax(m_dueUs, m_clock->nowUs());
    m_ops.push_back({Op::Kind::Line, key, high, 0});
}

void Keyer::queueWait(qint64 ms) {
    if (!busy())
        m_dueUs = qMax(m_dueUs, m_clock->nowUs());
    m_ops.push_back({Op::Kind::Wait, true, false, ms});
}

void Keyer::keyElement(qint64 ms) {
    queueLine(true, true);
    queueWait(ms);
    queueLine(true, false);
    play();
}

void Keyer::KeyDash() {
    keyElement(DashLength(DotLength));
}

void Keyer::KeyDot() {
    keyElement(DotLength);
}

void Keyer::ElementGap() {
    queueWait(DotLength);
    play();
}

void Keyer::CharGap() {
    queueWait(2 * qint64(DotLength));
    play();
}

void Keyer::PlayCode(const QString& Code) {
    for (int position = 1; position <= 20; ++position) {
        const QChar c = position <= Code.size() ? Code[position - 1] : QChar();
        if (c == QLatin1Char('0')) {
            CharGap();
            return;
        }
        if (c == QLatin1Char('-'))
            KeyDash();
        else if (c == QLatin1Char('.'))
            KeyDot();
        ElementGap();
    }
}

void Keyer::SendMorseChar(const QString& Ch) {
    if (!KeyerReady || Ch.size() != 1)
        return;
    if (Ch[0] == QLatin1Char(' ')) {
        CharGap();
        return;
    }
    const QString code = MorseCode(Ch[0]);
    if (!code.isEmpty())
        PlayCode(code);
}

// ---------------------------------------------------------------------------------------------
// The machine

// Runs every step that is due, then asks the timer for the next one. Steps queued while it
// runs are taken by the same loop.
void Keyer::play() {
    if (m_inStep)
        return;
    m_inStep = true;
    for (;;) {
        if (!m_ops.empty() && m_ops.front().kind == Op::Kind::Wait) {
            m_dueUs += m_ops.front().us * 1000;
            m_ops.pop_front();
            continue;
        }
        if (m_ops.empty() && m_stage == Stage::Idle)
            break;
        if (!due())
            break;
        if (!m_ops.empty()) {
            const Op op = m_ops.front();
            m_ops.pop_front();
            setLine(op.key, op.high);
        } else {
            step();
        }
    }
    m_inStep = false;
}

bool Keyer::due() {
    if (m_clock->nowUs() >= m_dueUs)
        return true;
    if (m_blocking) {
        m_clock->sleepUntilUs(m_dueUs);
        return true;
    }
    m_timer->callAt(m_dueUs, [this] { play(); });
    return false;
}

// A line changes at its due time; what follows is timed from the moment the call was made.
void Keyer::setLine(bool key, bool high) {
    const qint64 at = m_clock->nowUs();
    if (m_board)
        m_board->setLine(key ? BoardLine::Key : BoardLine::Transmit, high);
    m_dueUs = at;
    if (key)
        m_keyDown = high;
}

template <class Call> bool Keyer::rigCall(Call call) {
    const bool ok = call();
    m_dueUs = m_clock->nowUs();
    return ok;
}

// The toggle sends PTT to the transceiver RigPort names; when it names none, nothing is sent
// and nothing can have failed.
bool Keyer::toggleAddressesRig() const {
    return m_rig && ComOf(m_rig->rigPort()) != 0;
}

Transceiver* Keyer::transceiver(int com) const {
    return m_rig ? m_rig->transceiver(com) : nullptr;
}

bool Keyer::txRx() const {
    return m_rig && m_rig->txRx();
}

void Keyer::step() {
    switch (m_stage) {
    case Stage::Idle:
        break;
    case Stage::Start:
        start();
        break;
    case Stage::TransmitterOn:
        transmitterOn();
        break;
    case Stage::NextCharacter: {
        Pass& pass = m_passes.back();
        if (++pass.i > pass.text.size())
            m_stage = Stage::EndOfText;
        else if (pass.text[pass.i - 1] == QLatin1Char('"'))
            m_stage = Stage::AfterCharacter; // skipped: no start is taken before it either
        else
            m_stage = Stage::CharacterInHand;
        break;
    }
    case Stage::CharacterInHand:
        // Where a start that came in meanwhile is taken; the character waits for its end.
        if (m_startsWaiting > 0) {
            --m_startsWaiting;
            m_stage = Stage::Start;
            break;
        }
        SendMorseChar(QString(m_passes.back().text[m_passes.back().i - 1]));
        m_stage = Stage::AfterCharacter;
        break;
    case Stage::AfterCharacter:
        afterCharacter();
        break;
    case Stage::LoopCheck:
        loopCheck();
        break;
    case Stage::ClosingSent:
        LoopStopRequested = false;
        m_stage = Stage::EndOfText;
        break;
    case Stage::EndOfText:
        endOfText();
        break;
    case Stage::ReleaseTxRx:
        releaseTxRx();
        break;
    case Stage::ReleaseCom1:
        releaseCom1();
        break;
    case Stage::ReleaseCom2:
        releaseCom2();
        break;
    }
}

void Keyer::cmdsendClick() {
    if (busy()) {
        ++m_startsWaiting;
        return;
    }
    m_dueUs = qMax(m_dueUs, m_clock->nowUs());
    m_stage = Stage::Start;
    play();
}

void Keyer::start() {
    m_passes.push_back({});

    // Transmitter on through the TxRx toggle.
    if (!rigCall([this] { return !m_rig || m_rig->setTxRx(true); }) && toggleAddressesRig())
        return fail(
            QStringLiteral("PTT on through the transmit toggle (%1)").arg(m_rig->rigPort()));

    // The keying port: the key line output, the others input; then key and transmit lines
    // as outputs.
    if (m_board) {
        m_board->setPortDirection(BoardPort::Keying, 1);
        m_board->setLineDirection(BoardLine::Key, true);
        m_board->setLineDirection(BoardLine::Transmit, true);
    }
    m_dueUs = m_clock->nowUs();

    DotLength = DotLengthFor(SpeedIndex);
    if (DotLength == 0)
        DotLength = DotLengthFor(SpeedIndex = 2);

    // An empty text leaves the transmitter keyed until the operator releases TxRx.
    const QString text = TXTSel ? Text1 : Text6;
    if (text.isEmpty()) {
        m_passes.pop_back();
        if (m_passes.empty())
            idleOrWaitingStart();
        else
            m_stage = Stage::CharacterInHand;
        return;
    }

    SendingFlag = true;
    m_passes.back().text = TrimSpaces(text);

    // Transmitter on by the rig in use; some transceivers take their command after a pause.
    m_keyingCom = m_rig ? ComOf(m_rig->rigPort()) : 1;
    if (m_keyingCom == 1) {
        if (Transceiver* t = transceiver(1))
            queueWait(t->keyingDelayMs());
    }
    m_stage = Stage::TransmitterOn;
}

void Keyer::transmitterOn() {
    if (m_keyingCom == 1) {
        Transceiver* t = transceiver(1);
        if (m_rig && !rigCall([t] { return t && t->keyTransmitter(true); }))
            return fail(t ? QStringLiteral("transmitter on, ") + Describe(t, 1)
                          : QStringLiteral("transmitter on: no transceiver on Com1"));
        queueLine(false, true);
    } else if (m_keyingCom == 2) {
        Transceiver* t = transceiver(2);
        if (m_rig && !rigCall([t] { return t && t->setPtt(true); }))
            return fail(t ? QStringLiteral("PTT on, ") + Describe(t, 2)
                          : QStringLiteral("PTT on: no transceiver on Com2"));
    }
    m_passes.back().startDue = m_dueUs;
    m_stage = Stage::NextCharacter;
}

void Keyer::afterCharacter() {
    if (!SendingFlag) {
        m_stage = Stage::EndOfText;
        return;
    }
    if (m_passes.back().i == 20) {
        CharGap();
        CharGap();
    }
    m_stage = Stage::LoopCheck;
}

void Keyer::loopCheck() {
    Pass& pass = m_passes.back();
    m_stage = Stage::NextCharacter;
    if (pass.i != pass.text.size() || !CWloop)
        return;
    if (LoopStopRequested) {
        for (const char* c : {" ", "p", "s", "e", " ", "k"})
            SendMorseChar(QString::fromLatin1(c));
        m_stage = Stage::ClosingSent;
        return;
    }
    pass.i = 0;
    // A pass that took no time (nothing in it is keyed) waits a dot before the next, so that
    // repeating it neither blocks the window nor spins.
    if (m_dueUs == pass.startDue)
        m_dueUs += qint64(DotLength) * 1000;
    pass.startDue = m_dueUs;
}

void Keyer::endOfText() {
    m_passes.pop_back();
    // A transmission taken inside another leaves the transmitter to the outer one, which goes
    // on with the character it had in hand.
    if (!m_passes.empty()) {
        m_stage = Stage::CharacterInHand;
        return;
    }
    // The release.
    queueLine(false, false);
    m_stage = Stage::ReleaseTxRx;
}

// An error ends the transmission at that point; the transmitter is released all the same.
void Keyer::fail(const QString& what) {
    qCWarning(lcKeyer, "%s failed: transmission ended", qPrintable(what));
    SendingFlag = false;
    endOfText();
}

// The rest of the release: every step is tried even when one before it failed, so that
// whatever can still be reached is switched back to receive.
void Keyer::releaseTxRx() {
    if (!rigCall([this] { return !m_rig || m_rig->setTxRx(false); }) && toggleAddressesRig())
        qCWarning(lcKeyer, "PTT off through the transmit toggle (%s) failed",
                  qPrintable(m_rig->rigPort()));
    if (txRx()) {
        m_stage = Stage::ReleaseCom2;
        return;
    }
    if (m_rig)
        m_rig->showTxRxReceive();
    if (Transceiver* t = transceiver(1))
        queueWait(t->keyingDelayMs());
    m_stage = Stage::ReleaseCom1;
}

void Keyer::releaseCom1() {
    Transceiver* t = transceiver(1);
    if (t && !rigCall([t] { return t->keyTransmitter(false); }))
        qCWarning(lcKeyer, "transmitter off, %s failed", qPrintable(Describe(t, 1)));
    m_stage = Stage::ReleaseCom2;
}

void Keyer::releaseCom2() {
    if (!txRx()) {
        if (m_rig)
            m_rig->showTxRxReceive();
        Transceiver* t = transceiver(2);
        if (t && !rigCall([t] { return t->setPtt(false); }))
            qCWarning(lcKeyer, "PTT off, %s failed", qPrintable(Describe(t, 2)));
    }
    idleOrWaitingStart();
}

// A start that found no character left to go before begins now.
void Keyer::idleOrWaitingStart() {
    m_stage = Stage::Idle;
    if (m_startsWaiting > 0) {
        --m_startsWaiting;
        m_stage = Stage::Start;
    }
}

void Keyer::endTransmission() {
    if (!busy())
        return;
    m_timer->cancel();
    m_startsWaiting = 0;
    SendingFlag = false;
    const bool releasing = m_stage == Stage::ReleaseTxRx || m_stage == Stage::ReleaseCom1 ||
                           m_stage == Stage::ReleaseCom2;
    // The transmit line is low already unless its change is still queued.
    const bool transmitLinePending = m_stage == Stage::ReleaseTxRx && !m_ops.empty();
    // Nothing was switched yet by a start that has not run, nor by primitives played alone.
    const bool keyed = releasing || !m_passes.empty();
    m_ops.clear();
    m_passes.clear();
    if (m_keyDown)
        setLine(true, false);
    if (!keyed) {
        m_stage = Stage::Idle;
        return;
    }
    if (!releasing || transmitLinePending)
        setLine(false, false);
    if (!releasing)
        m_stage = Stage::ReleaseTxRx;
    m_blocking = true;
    play();
    m_blocking = false;
}
