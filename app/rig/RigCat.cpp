#include "RigCat.h"

#include "SerialPort.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QEventLoop>
#include <QThread>
#include <QTimer>

namespace RigCat {

namespace {
QByteArray Frame(char p1, char p2, char p3, char p4, char op) {
    const char bytes[5] = {p1, p2, p3, p4, op};
    return QByteArray(bytes, 5);
}

bool AllDigits(const QString& text) {
    for (QChar c : text)
        if (c < QLatin1Char('0') || c > QLatin1Char('9'))
            return false;
    return !text.isEmpty();
}
} // namespace

QByteArray CatOnFrame() {
    return Frame(0, 0, 0, 0, 0);
}
QByteArray ModeUsbFrame() {
    return Frame(1, 0, 0, 0, 7);
}
QByteArray ModeCwFrame() {
    return Frame(2, 0, 0, 0, 7);
}
QByteArray PttOnFrame() {
    return Frame(0, 0, 0, 0, 0x08);
}
QByteArray PttOffFrame() {
    return Frame(0, 0, 0, 0, char(0x88));
}

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

bool SendPtt(SerialPort* port, bool on) {
    return Send(port, on ? PttOnFrame() : PttOffFrame());
}

bool SendTransmitText(SerialPort* com1) {
    WaitSeconds(1);
    return SendText(com1, QLatin1String(TransmitText));
}

bool SendReceiveText(SerialPort* com1) {
    WaitSeconds(1);
    return SendText(com1, QLatin1String(ReceiveText));
}

} // namespace RigCat

void WaitSeconds(int& Seconds) {
    if (Seconds <= 0)
        return;
    const QDeadlineTimer deadline(qint64(Seconds) * 1000, Qt::PreciseTimer);
    if (!QCoreApplication::instance()) {
        QThread::msleep(quint64(deadline.remainingTime()));
        return;
    }
    // A local loop per call: a wait started from an event inside this one runs its own loop
    // and returns to this one, which then waits for whatever time it has left.
    while (!deadline.hasExpired()) {
        QEventLoop loop;
        QTimer timer;
        timer.setSingleShot(true);
        timer.setTimerType(Qt::PreciseTimer);
        QObject::connect(&timer, &QTimer::timeout, &loop, &QEventLoop::quit);
        timer.start(int(qMax<qint64>(1, deadline.remainingTime())));
        loop.exec();
    }
}

void WaitSeconds(int&& Seconds) {
    int s = Seconds;
    WaitSeconds(s);
}
