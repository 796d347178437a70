#include "KeyerFixture.h"

KeyerRun* KeyerRun::s_current = nullptr;

namespace {
using SetSource = void (*)(long long (*)(void));
using Reset = void (*)(void);
using GetCall = int (*)(int, long long*, char*, unsigned char*, unsigned char*, unsigned char*);

QString Hex(const QByteArray& bytes) {
    return QString::fromLatin1(bytes.toHex(' ')).toUpper();
}
} // namespace

long long KeyerRun::TimeSource() {
    KeyerRun* run = s_current;
    if (!run)
        return 0;
    run->m_events.push_back({run->clock.now, QString(), run->m_boardCalls++});
    return run->clock.now;
}

KeyerRun::KeyerRun() : board(QStringLiteral(RECORDER_LIBRARY)), m_recorder(RECORDER_LIBRARY) {
    s_current = this;
    if (m_recorder.load()) {
        reinterpret_cast<Reset>(m_recorder.resolve("RecorderReset"))();
        reinterpret_cast<SetSource>(m_recorder.resolve("RecorderSetTimeSource"))(&TimeSource);
    }
    KeyerHooks h;
    h.setPortDir = [this](quint8 port, quint8 dir) { board.UsbSetPortDir(0, port, dir); };
    h.setIODir = [this](quint8 line, bool out) { board.UsbSetIODir(0, line, out); };
    h.setIOState = [this](quint8 line, bool state) { board.UsbSetIOState(0, line, state); };
    h.processEvents = [this] {
        ++processEventsCalls;
        if (onProcessEvents)
            onProcessEvents(processEventsCalls);
    };
    auto write = [this](int com, const QString& text) {
        const bool open = com == 1 ? station.com1Open : station.com2Open;
        log(QStringLiteral("Com%1 %2%3")
                .arg(com)
                .arg(text, open ? QString() : QStringLiteral(" (closed)")));
        return open;
    };
    h.rigPort = [this] { return station.rigPort; };
    h.ft991 = [this] { return station.ft991; };
    h.setTxRx = [this, write](bool on) {
        station.txRx = on;
        station.txRxGreen = !on;
        log(on ? QStringLiteral("TxRx on") : QStringLiteral("TxRx off"));
        const int com = station.rigPort == QLatin1String("Com2") ? 2 : 1;
        return write(com, on ? QStringLiteral("00 00 00 00 08") : QStringLiteral("00 00 00 00 88"));
    };
    h.txRx = [this] { return station.txRx; };
    h.showTxRxReceive = [this] { station.txRxGreen = true; };
    h.writeFrame = [write](int com, const QByteArray& frame) { return write(com, Hex(frame)); };
    h.sendTransmitText = [this, write] {
        clock.now += 1000000; // WaitSeconds(1)
        return write(1, QStringLiteral("TX1;"));
    };
    h.sendReceiveText = [this, write] {
        clock.now += 1000000;
        return write(1, QStringLiteral("TX0;"));
    };
    keyer = std::make_unique<Keyer>(h, &clock);
    keyer->KeyerReady = true;
}

KeyerRun::~KeyerRun() {
    keyer.reset();
    if (m_recorder.isLoaded())
        reinterpret_cast<SetSource>(m_recorder.resolve("RecorderSetTimeSource"))(nullptr);
    s_current = nullptr;
}

void KeyerRun::log(const QString& what) {
    m_events.push_back({clock.now, what, -1});
}

QString KeyerRun::boardCall(int index, qint64* time) const {
    auto get = reinterpret_cast<GetCall>(const_cast<QLibrary&>(m_recorder).resolve("RecorderCall"));
    long long t = 0;
    char f = 0;
    unsigned char d = 0, n = 0, v = 0;
    if (!get || !get(index, &t, &f, &d, &n, &v))
        return QStringLiteral("?");
    *time = t;
    const char* name = f == 'I'   ? "UsbInit"
                       : f == 'P' ? "UsbSetPortDir"
                       : f == 'D' ? "UsbSetIODir"
                                  : "UsbSetIOState";
    return QStringLiteral("%1(%2,%3,%4)").arg(QLatin1String(name)).arg(d).arg(n).arg(v);
}

QStringList KeyerRun::schedule() const {
    QStringList lines;
    for (const Event& e : m_events) {
        qint64 t = e.time;
        const QString what = e.boardIndex >= 0 ? boardCall(e.boardIndex, &t) : e.what;
        lines << QStringLiteral("%1 %2").arg(double(t) / 1000).arg(what);
    }
    return lines;
}

QStringList KeyerRun::keyLine() const {
    QStringList lines;
    for (const Event& e : m_events) {
        if (e.boardIndex < 0)
            continue;
        qint64 t = 0;
        const QString call = boardCall(e.boardIndex, &t);
        if (call == QLatin1String("UsbSetIOState(0,16,1)"))
            lines << QStringLiteral("%1 down").arg(double(t) / 1000);
        else if (call == QLatin1String("UsbSetIOState(0,16,0)"))
            lines << QStringLiteral("%1 up").arg(double(t) / 1000);
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

int KeyerRun::lastState(int line) const {
    int state = -1;
    for (const Event& e : m_events) {
        if (e.boardIndex < 0)
            continue;
        qint64 t = 0;
        const QString call = boardCall(e.boardIndex, &t);
        if (call == QStringLiteral("UsbSetIOState(0,%1,0)").arg(line))
            state = 0;
        else if (call == QStringLiteral("UsbSetIOState(0,%1,1)").arg(line))
            state = 1;
    }
    return state;
}
