#include "Keyer.h"

#include "Morse.h"
#include "ProgramState.h"

#ifdef FARSCAN_KEYER_HAS_RIG
#include "RigCat.h"
#endif

#include <chrono>
#include <thread>

namespace {

// Leaving a transmission because the keyer itself was destroyed while events were processed.
struct Gone {};

QByteArray PttFrame(bool on) {
#ifdef FARSCAN_KEYER_HAS_RIG
    return on ? RigCat::PttOnFrame() : RigCat::PttOffFrame();
#else
    return on ? QByteArray("\x00\x00\x00\x00\x08", 5) : QByteArray("\x00\x00\x00\x00\x88", 5);
#endif
}

QString TrimSpaces(const QString& text) {
    qsizetype begin = 0;
    qsizetype end = text.size();
    while (begin < end && text[begin] == QLatin1Char(' '))
        ++begin;
    while (end > begin && text[end - 1] == QLatin1Char(' '))
        --end;
    return text.mid(begin, end - begin);
}

void CheckAlive(const std::shared_ptr<bool>& alive) {
    if (!*alive)
        throw Gone{};
}

} // namespace

qint64 SteadyKeyerClock::nowUs() {
    using namespace std::chrono;
    return duration_cast<microseconds>(steady_clock::now().time_since_epoch()).count();
}

void SteadyKeyerClock::sleepUntilUs(qint64 due) {
    using namespace std::chrono;
    std::this_thread::sleep_until(steady_clock::time_point(microseconds(due)));
}

Keyer::Keyer(KeyerHooks hooks, KeyerClock* clock)
    : m_hooks(std::move(hooks)), m_clock(clock ? clock : &m_steady) {}

Keyer::~Keyer() {
    *m_alive = false;
    // Destroyed in the middle of a transmission: at least the board lets the transmitter go.
    if (m_depth > 0 && m_hooks.setIOState) {
        m_hooks.setIOState(KeyLine, false);
        m_hooks.setIOState(PttLine, false);
    }
}

void Keyer::setClock(KeyerClock* clock) {
    m_clock = clock ? clock : &m_steady;
    m_dueUs = 0;
}

bool Keyer::OptSpeedClick(int index) {
    if (DotLengthFor(index) == 0)
        return false;
    SpeedIndex = index;
    return true;
}

// ---------------------------------------------------------------------------------------------
// Timing

void Keyer::settle() {
    if (m_clock->nowUs() < m_dueUs)
        m_clock->sleepUntilUs(m_dueUs);
}

// A board call happens at the due time; what follows is timed from the moment it was made.
void Keyer::setLine(quint8 line, bool state) {
    settle();
    const qint64 at = m_clock->nowUs();
    if (m_hooks.setIOState)
        m_hooks.setIOState(line, state);
    m_dueUs = at;
}

void Keyer::keyElement(int ms) {
    setLine(KeyLine, true);
    m_dueUs += qint64(ms) * 1000;
    setLine(KeyLine, false);
}

void Keyer::KeyDash() {
    keyElement(DashLength(DotLength));
}

void Keyer::KeyDot() {
    keyElement(DotLength);
}

// Within a transmission every call leaves the due time at the moment it was made, so a gap
// after a key-up counts from the key-up itself (not from when the library answered). Outside
// one the due time may be long past, and a gap starts now at the earliest.
qint64 Keyer::gapStart() {
    return m_depth > 0 ? m_dueUs : qMax(m_dueUs, m_clock->nowUs());
}

void Keyer::ElementGap() {
    m_dueUs = gapStart() + qint64(DotLength) * 1000;
}

void Keyer::CharGap() {
    m_dueUs = gapStart() + qint64(2 * DotLength) * 1000;
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
// A transmission

void Keyer::rig(bool ok) {
    if (!ok)
        throw Failed{};
}

void Keyer::cmdsendClick() {
    const std::shared_ptr<bool> alive = m_alive;
    ++m_depth;
    try {
        transmit(alive);
    } catch (const Gone&) {
        return; // nothing of this object may be touched any more
    } catch (...) {
        // A failed step ends the transmission (and any it was started inside of). The
        // outermost one lets the transmitter go; an inner one leaves that to the outer.
        if (!*alive)
            return;
        SendingFlag = false;
        if (m_depth == 1) {
            try {
                release();
            } catch (...) {
                if (!*alive)
                    return;
            }
        }
    }
    --m_depth;
}

void Keyer::transmit(const std::shared_ptr<bool>& alive) {
    // 1. Transmitter on through the TxRx toggle.
    settle();
    const bool txOk = !m_hooks.setTxRx || m_hooks.setTxRx(true);
    CheckAlive(alive);
    m_dueUs = m_clock->nowUs();
    rig(txOk);

    // 2. Port 2: line 16 output, lines 17-23 input; then lines 16 and 17 as outputs.
    settle();
    if (m_hooks.setPortDir)
        m_hooks.setPortDir(KeyPort, 1);
    if (m_hooks.setIODir) {
        m_hooks.setIODir(KeyLine, true);
        m_hooks.setIODir(PttLine, true);
    }
    m_dueUs = m_clock->nowUs();

    // 3.
    DotLength = DotLengthFor(SpeedIndex);
    if (DotLength == 0)
        DotLength = DotLengthFor(SpeedIndex = 2);

    // 4. An empty text leaves the transmitter keyed until the operator releases TxRx.
    const QString text = TXTSel ? Text1 : Text6;
    if (text.isEmpty())
        return;

    // 5.
    SendingFlag = true;

    // 6. Transmitter on, by the rig in use.
    const QString port = m_hooks.rigPort ? m_hooks.rigPort() : Program().RigPort;
    if (port == QLatin1String("Com1")) {
        const bool ft991 = m_hooks.ft991 && m_hooks.ft991();
        settle();
        bool ok = true;
        if (!ft991) {
            ok = !m_hooks.writeFrame || m_hooks.writeFrame(1, PttFrame(true));
        } else {
            ok = !m_hooks.sendTransmitText || m_hooks.sendTransmitText();
            CheckAlive(alive);
        }
        m_dueUs = m_clock->nowUs();
        rig(ok);
        setLine(PttLine, true);
    } else if (port == QLatin1String("Com2")) {
        settle();
        const bool ok = !m_hooks.writeFrame || m_hooks.writeFrame(2, PttFrame(true));
        m_dueUs = m_clock->nowUs();
        rig(ok);
    }

    // 7.
    sendText(text, alive);

    // 8-10. A transmission started inside another leaves the transmitter to the outer one,
    // which is still keying.
    if (m_depth == 1)
        release();
}

void Keyer::sendText(const QString& whole, const std::shared_ptr<bool>& alive) {
    const QString text = TrimSpaces(whole);
    const qsizetype length = text.size();
    for (qsizetype i = 1; i <= length; ++i) {
        const QChar ch = text[i - 1];
        if (ch != QLatin1Char('"')) {
            if (m_hooks.processEvents)
                m_hooks.processEvents();
            CheckAlive(alive);
            SendMorseChar(QString(ch));
        }
        if (!SendingFlag)
            break;
        if (i == 20) {
            CharGap();
            CharGap();
        }
        if (i == length && CWloop) {
            if (LoopStopRequested) {
                for (const char* c : {" ", "p", "s", "e", " ", "k"})
                    SendMorseChar(QString::fromLatin1(c));
                LoopStopRequested = false;
                break;
            }
            i = 0;
            // Each pass lets the controls work, even for a text that keys nothing.
            if (m_hooks.processEvents)
                m_hooks.processEvents();
            CheckAlive(alive);
        }
    }
}

// Steps 8 to 10: every step is tried even when one before it failed, so that whatever can
// still be reached is switched back to receive.
void Keyer::release() {
    const std::shared_ptr<bool> alive = m_alive;
    setLine(PttLine, false);

    auto call = [&](const std::function<bool()>& step) {
        settle();
        if (step)
            step();
        CheckAlive(alive);
        m_dueUs = m_clock->nowUs();
    };
    auto txRx = [this] { return m_hooks.txRx && m_hooks.txRx(); };
    auto green = [this] {
        if (m_hooks.showTxRxReceive)
            m_hooks.showTxRxReceive();
    };

    call([this] { return !m_hooks.setTxRx || m_hooks.setTxRx(false); });
    const bool ft991 = m_hooks.ft991 && m_hooks.ft991();
    if (!txRx()) {
        green();
        if (!ft991)
            call([this] { return !m_hooks.writeFrame || m_hooks.writeFrame(1, PttFrame(false)); });
        else
            call([this] { return !m_hooks.sendReceiveText || m_hooks.sendReceiveText(); });
    }
    if (!txRx()) {
        green();
        call([this] { return !m_hooks.writeFrame || m_hooks.writeFrame(2, PttFrame(false)); });
    }
}
