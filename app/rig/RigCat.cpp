#include "RigCat.h"

#include "SerialPort.h"

namespace RigCat {

namespace {
bool AllDigits(const QString& text) {
    for (QChar c : text)
        if (c < QLatin1Char('0') || c > QLatin1Char('9'))
            return false;
    return !text.isEmpty();
}
} // namespace

QByteArray FrequencyFrame(const QString& freqText, bool fiftyMhzOption) {
    QString digits = freqText.trimmed();
    if (!AllDigits(digits))
        return {};
    const int fill = fiftyMhzOption ? 7 : 8;
    if (digits.size() < fill)
        digits = digits.leftJustified(fill, QLatin1Char('0'));
    if (digits.size() > 8)
        return {};
    digits = digits.rightJustified(8, QLatin1Char('0'));
    QByteArray frame;
    for (int i = 0; i < 8; i += 2) {
        const int high = digits.at(i).unicode() - '0';
        const int low = digits.at(i + 1).unicode() - '0';
        frame.append(char((high << 4) | low));
    }
    frame.append(char(0x01));
    return frame;
}

QString TextFrequencyCommand(const QString& freqText) {
    const QString digits = freqText.trimmed();
    if (!AllDigits(digits))
        return {};
    qint64 hz = 0;
    switch (digits.size()) {
    case 5:
    case 6:
        hz = digits.toLongLong() * 1000; // kHz from the beacon list
        break;
    case 7:
    case 8:
        hz = digits.toLongLong() * 10; // 10 Hz units
        break;
    default:
        return {};
    }
    return QStringLiteral("FA%1;").arg(hz, 9, 10, QLatin1Char('0'));
}

bool Send(SerialPort* port, const QByteArray& bytes) {
    return port && port->isOpen() && port->write(bytes);
}

bool SendText(SerialPort* port, const QString& text) {
    return port && port->isOpen() && port->writeText(text);
}

} // namespace RigCat
