#include "KeyerFixture.h"

#include "Morse.h"
#include "StationColours.h"

namespace {
// Frames as hexadecimal bytes, text commands as they stand.
QString Shown(const QByteArray& bytes) {
    for (char c : bytes)
        if (c < 0x20 || c > 0x7e)
            return QString::fromLatin1(bytes.toHex(' ')).toUpper();
    return QString::fromLatin1(bytes);
}
} // namespace

qint64 RecordingPort::writeBytes(const QByteArray& bytes) {
    if (writesBeforeFailing == 0)
        return -1;
    if (writesBeforeFailing > 0)
        --writesBeforeFailing;
    if (onWrite)
        onWrite(bytes);
    return FakeSerialPort::writeBytes(bytes);
}

KeyerRun::KeyerRun() {
    EnsureApplication();
    com1.setPort(QStringLiteral("/dev/rig1"));
    com2.setPort(QStringLiteral("/dev/rig2"));
    com1.open();
    com2.open();
    com1.onWrite = [this](const QByteArray& b) { log(QStringLiteral("Com1 ") + Shown(b)); };
    com2.onWrite = [this](const QByteArray& b) { log(QStringLiteral("Com2 ") + Shown(b)); };
    rig = std::make_unique<RigControl>(state, &com1, &com2, nullptr);
    rig->Check2 = [this] { return ft991; };
    QObject::connect(rig.get(), &RigControl::txRxChanged, [this](bool on) {
        log(on ? QStringLiteral("TxRx on") : QStringLiteral("TxRx off"));
    });
    QObject::connect(rig.get(), &RigControl::txRxColourChanged,
                     [this](const QColor& c) { txRxGreen = c == Colours::Green; });
    keyer = std::make_unique<Keyer>(&clock, &timer);
    keyer->setBoard(&board);
    keyer->setRig(rig.get());
    keyer->KeyerReady = true;
}

KeyerRun::~KeyerRun() {
    keyer.reset();
}

void KeyerRun::send(const QString& text, int speed) {
    keyer->Text6 = text;
    keyer->OptSpeedClick(speed);
    keyer->cmdsendClick();
    run();
}

int KeyerRun::run(const std::function<bool()>& until, int maxWakes) {
    int wakes = 0;
    while (wakes < maxWakes && timer.fire()) {
        ++wakes;
        if (until && until())
            break;
    }
    return wakes;
}

void KeyerRun::log(const QString& what) {
    m_events.push_back({board.timedCalls().size(), clock.now, what});
}

QStringList KeyerRun::schedule() const {
    QStringList lines;
    auto line = [&lines](qint64 us, const QString& what) {
        lines << QStringLiteral("%1 %2").arg(double(us) / 1000).arg(what);
    };
    const std::vector<FakeBoard::Call>& calls = board.timedCalls();
    size_t e = 0;
    for (size_t k = 0; k <= calls.size(); ++k) {
        for (; e < m_events.size() && m_events[e].beforeBoardCall == k; ++e)
            line(m_events[e].timeUs, m_events[e].what);
        if (k < calls.size())
            line(calls[k].timeUs, calls[k].text);
    }
    return lines;
}

QStringList KeyerRun::keyLine() const {
    QStringList lines;
    for (const FakeBoard::Call& c : board.timedCalls()) {
        if (c.text == QLatin1String("UsbSetIOState(0,16,1)"))
            lines << QStringLiteral("%1 down").arg(double(c.timeUs) / 1000);
        else if (c.text == QLatin1String("UsbSetIOState(0,16,0)"))
            lines << QStringLiteral("%1 up").arg(double(c.timeUs) / 1000);
    }
    return lines;
}

std::vector<double> KeyerRun::keyDurations() const {
    std::vector<double> times;
    for (const QString& l : keyLine())
        times.push_back(l.section(QLatin1Char(' '), 0, 0).toDouble());
    std::vector<double> d;
    for (size_t i = 1; i < times.size(); ++i)
        d.push_back(times[i] - times[i - 1]);
    return d;
}

QStringList Pulses(const KeyerRun& run) {
    QStringList out;
    const std::vector<double> d = run.keyDurations();
    for (size_t i = 0; i < d.size(); ++i)
        out << QStringLiteral("%1 %2").arg(i % 2 == 0 ? "down" : "up").arg(d[i]);
    return out;
}

QStringList CodePulses(const QString& code, int dot) {
    QStringList out;
    for (QChar c : code) {
        if (c == QLatin1Char('0'))
            break;
        if (!out.isEmpty())
            out << QStringLiteral("up %1").arg(dot);
        out << QStringLiteral("down %1").arg(c == QLatin1Char('-') ? DashLength(dot) : dot);
    }
    return out;
}
