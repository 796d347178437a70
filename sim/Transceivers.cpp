#include "Transceivers.h"

namespace {
bool Bcd(quint8 b) {
    return (b >> 4) <= 9 && (b & 0x0F) <= 9;
}
bool Digit(char c) {
    return c >= '0' && c <= '9';
}
bool AllDigits(const QByteArray& text) {
    for (char c : text)
        if (!Digit(c))
            return false;
    return !text.isEmpty();
}
} // namespace

QString Mhz10Hz(qint64 tenHz) {
    return QStringLiteral("%1.%2 %3")
        .arg(tenHz / 100000)
        .arg((tenHz / 100) % 1000, 3, 10, QLatin1Char('0'))
        .arg(tenHz % 100, 2, 10, QLatin1Char('0'));
}

QString MhzHz(qint64 hz) {
    return QStringLiteral("%1.%2 %3")
        .arg(hz / 1000000)
        .arg((hz / 1000) % 1000, 3, 10, QLatin1Char('0'))
        .arg(hz % 1000, 3, 10, QLatin1Char('0'));
}

// ---------------------------------------------------------------------------------------------
// FT-847

QString Ft847Sim::ModeName(quint8 mode) {
    switch (mode) {
    case 0x00:
        return QStringLiteral("LSB");
    case 0x01:
        return QStringLiteral("USB");
    case 0x02:
        return QStringLiteral("CW");
    case 0x03:
        return QStringLiteral("CWR");
    case 0x04:
        return QStringLiteral("AM");
    case 0x08:
        return QStringLiteral("FM");
    case 0x82:
        return QStringLiteral("CW narrow");
    case 0x83:
        return QStringLiteral("CWR narrow");
    case 0x84:
        return QStringLiteral("AM narrow");
    case 0x88:
        return QStringLiteral("FM narrow");
    default:
        return {};
    }
}

bool Ft847Sim::frame(const QByteArray& f) {
    const quint8 p1 = quint8(f[0]);
    const quint8 op = quint8(f[4]);
    switch (op) {
    case 0x00:
        catOn = true;
        say(QStringLiteral("FT-847: CAT on"));
        return true;
    case 0x80:
        catOn = false;
        say(QStringLiteral("FT-847: CAT off"));
        return true;
    case 0x01: {
        qint64 value = 0;
        for (int i = 0; i < 4; ++i) {
            const quint8 b = quint8(f[i]);
            if (!Bcd(b))
                return false;
            value = value * 100 + (b >> 4) * 10 + (b & 0x0F);
        }
        frequency10Hz = value;
        say(QStringLiteral("FT-847: frequency %1 MHz").arg(Mhz10Hz(value)));
        return true;
    }
    case 0x07:
        if (ModeName(p1).isEmpty())
            return false;
        mode = p1;
        say(QStringLiteral("FT-847: mode %1").arg(ModeName(p1)));
        return true;
    case 0x08:
        ptt = true;
        say(QStringLiteral("FT-847: PTT on"));
        return true;
    case 0x88:
        ptt = false;
        say(QStringLiteral("FT-847: PTT off"));
        return true;
    case 0x03:
    case 0x13:
    case 0x23: {
        // Frequency (BCD, 10 Hz) and mode of the main, satellite RX or satellite TX VFO.
        QByteArray answer;
        qint64 v = frequency10Hz;
        for (int i = 3; i >= 0; --i) {
            const int pair = int(v % 100);
            v /= 100;
            answer.prepend(char(((pair / 10) << 4) | (pair % 10)));
        }
        answer.append(char(mode));
        say(QStringLiteral("FT-847: frequency and mode asked"));
        reply(answer);
        return true;
    }
    case 0xE7:
        say(QStringLiteral("FT-847: receiver status asked"));
        reply(QByteArray(1, '\0'));
        return true;
    case 0xF7:
        say(QStringLiteral("FT-847: transmitter status asked"));
        reply(QByteArray(1, ptt ? char(0x80) : '\0'));
        return true;
    default:
        return false;
    }
}

void Ft847Sim::consume(QByteArray& buffer) {
    while (!buffer.isEmpty()) {
        if (Digit(buffer[0])) {
            // Decimal digits as text: no frame ends in a digit, so they are no frame. A text at
            // the end of the buffer may go on; the quiet time closes it.
            int n = 0;
            while (n < buffer.size() && Digit(buffer[n]))
                ++n;
            if (n == buffer.size())
                return;
            say(QStringLiteral("FT-847: text %1 (no CAT frame)")
                    .arg(QString::fromLatin1(buffer.left(n))));
            buffer.remove(0, n);
            continue;
        }
        if (buffer.size() < 5)
            return;
        const QByteArray f = buffer.left(5);
        buffer.remove(0, 5);
        if (!frame(f))
            say(QStringLiteral("FT-847: unknown frame %1")
                    .arg(QString::fromLatin1(f.toHex(' ').toUpper())));
    }
}

void Ft847Sim::flushIncomplete(QByteArray& buffer) {
    if (AllDigits(buffer)) {
        say(QStringLiteral("FT-847: text %1 (no CAT frame)").arg(QString::fromLatin1(buffer)));
        buffer.clear();
        return;
    }
    SimDevice::flushIncomplete(buffer);
}

// ---------------------------------------------------------------------------------------------
// FT-991

void Ft991Sim::consume(QByteArray& buffer) {
    for (;;) {
        const int end = buffer.indexOf(';');
        if (end < 0)
            return;
        const QByteArray text = buffer.left(end);
        buffer.remove(0, end + 1);
        command(text);
    }
}

void Ft991Sim::command(const QByteArray& text) {
    const QString shown = QString::fromLatin1(text) + QLatin1Char(';');
    auto refuse = [&] {
        say(QStringLiteral("FT-991: not understood %1").arg(shown));
        reply("?;");
    };
    if (text.size() < 2) {
        refuse();
        return;
    }
    const QByteArray name = text.left(2);
    const QByteArray arg = text.mid(2);
    if (name == "FA" || name == "FB") {
        qint64& f = name == "FA" ? frequencyHz : frequencyBHz;
        if (arg.isEmpty()) {
            reply(name + QByteArray::number(f).rightJustified(9, '0') + ";");
            return;
        }
        if (arg.size() != 9 || !AllDigits(arg)) {
            refuse();
            return;
        }
        f = arg.toLongLong();
        say(QStringLiteral("FT-991: frequency %1%2 MHz")
                .arg(name == "FB" ? QStringLiteral("B ") : QString(), MhzHz(f)));
        return;
    }
    if (name == "MD") {
        if (arg == "0") {
            reply(QByteArray("MD0") + mode + ";");
            return;
        }
        if (arg.size() == 2 && arg[0] == '0') {
            static const char* const kNames = "123456789ABCDE";
            const char m = arg[1];
            if (QByteArray(kNames).contains(m)) {
                mode = m;
                say(QStringLiteral("FT-991: mode %1")
                        .arg(m == '3'   ? QStringLiteral("CW")
                             : m == '2' ? QStringLiteral("USB")
                             : m == '1' ? QStringLiteral("LSB")
                                        : QStringLiteral("code %1").arg(QLatin1Char(m))));
                return;
            }
        }
        refuse();
        return;
    }
    if (name == "TX") {
        if (arg.isEmpty()) {
            reply(transmit ? "TX1;" : "TX0;");
            return;
        }
        if (arg == "0" || arg == "1") {
            transmit = arg == "1";
            say(transmit ? QStringLiteral("FT-991: transmit") : QStringLiteral("FT-991: receive"));
            return;
        }
        refuse();
        return;
    }
    if (name == "EX" && arg.size() >= 3 && AllDigits(arg.left(3))) {
        // Menu items: a query gives back what was set (0 when nothing was).
        const QByteArray item = arg.left(3);
        if (arg.size() == 3) {
            reply("EX" + item + menu.value(item, "0") + ";");
        } else {
            menu.insert(item, arg.mid(3));
            say(QStringLiteral("FT-991: menu %1 set to %2")
                    .arg(QString::fromLatin1(item), QString::fromLatin1(arg.mid(3))));
        }
        return;
    }
    if (name == "IF" && arg.isEmpty()) {
        // Memory channel, VFO A in Hz (nine digits), clarifier, RX/TX clarifier, mode,
        // VFO/memory, CTCSS, 00, shift.
        reply("IF001" + QByteArray::number(frequencyHz).rightJustified(9, '0') + "+0000" + "00" +
              QByteArray(1, mode) + "0" + "0" + "00" + "0;");
        return;
    }
    if (text == "SH0") {
        reply("SH016;"); // IF width
        return;
    }
    if (text == "NA0") {
        reply("NA00;"); // narrow off
        return;
    }
    if (arg.isEmpty()) {
        // Queries Hamlib sends while it opens the rig and before it tunes.
        static const struct {
            const char* name;
            const char* answer;
        } kAnswers[] = {
            {"ID", "ID0570;"}, {"AI", "AI0;"}, {"PS", "PS1;"}, {"VS", "VS0;"},
            {"FT", "FT0;"},    {"ST", "ST0;"}, {"SV", "SV0;"}, {"RI", "RI00000000;"},
        };
        for (const auto& a : kAnswers) {
            if (name == a.name) {
                reply(a.answer);
                return;
            }
        }
    } else if (name == "AI" || name == "VS" || name == "FT" || name == "ST") {
        return; // settings Hamlib makes; accepted silently
    }
    refuse();
}
