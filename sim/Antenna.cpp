#include "Antenna.h"

#include <QDateTime>
#include <QTimer>
#include <cmath>

RotorSim::RotorSim(QObject* parent) : SimDevice(QStringLiteral("Rotor"), parent) {
    m_motion = new QTimer(this);
    m_motion->setInterval(100);
    connect(m_motion, &QTimer::timeout, this, [this] { step(); });
}

void RotorSim::consume(QByteArray& buffer) {
    for (;;) {
        const int end = buffer.indexOf(';');
        if (end < 0)
            return;
        QByteArray text = buffer.left(end);
        buffer.remove(0, end + 1);
        command(text);
    }
}

void RotorSim::command(const QByteArray& raw) {
    QByteArray text = raw;
    text.replace('\r', QByteArray());
    auto start = [this](double to) {
        target = qBound(0.0, to, 360.0);
        m_lastStep = QDateTime::currentMSecsSinceEpoch();
        m_motion->start();
    };
    if (text == "AA") {
        say(QStringLiteral("Rotor: turn left"));
        start(0);
    } else if (text == "AB") {
        say(QStringLiteral("Rotor: turn right"));
        start(360);
    } else if (text == "ST") {
        say(QStringLiteral("Rotor: stop at %1").arg(qRound(azimuth), 3, 10, QLatin1Char('0')));
        target.reset();
        m_motion->stop();
    } else if (text == "AI1") {
        const QByteArray digits = QByteArray::number(qRound(azimuth) % 1000).rightJustified(3, '0');
        say(QStringLiteral("Rotor: position asked (%1)").arg(QString::fromLatin1(digits)));
        reply(digits + ";");
    } else if (text.startsWith("AP1") && text.size() == 6) {
        bool ok = false;
        const int heading = text.mid(3).toInt(&ok);
        if (!ok) {
            say(QStringLiteral("Rotor: not understood %1;").arg(QString::fromLatin1(raw)));
            return;
        }
        say(QStringLiteral("Rotor: turn to %1").arg(heading, 3, 10, QLatin1Char('0')));
        start(heading);
    } else if (text.startsWith("AW1")) {
        secondEntry = QString::fromLatin1(text.mid(3));
        say(QStringLiteral("Rotor: second entry %1").arg(secondEntry));
    } else {
        say(QStringLiteral("Rotor: not understood %1;")
                .arg(QString::fromLatin1(raw.toHex(' ').toUpper())));
    }
}

void RotorSim::step() {
    if (!target) {
        m_motion->stop();
        return;
    }
    const qint64 now = QDateTime::currentMSecsSinceEpoch();
    const double travel = degreesPerSecond * double(now - m_lastStep) / 1000.0;
    m_lastStep = now;
    const double gap = *target - azimuth;
    if (std::abs(gap) <= travel) {
        azimuth = *target;
        target.reset();
        m_motion->stop();
        say(QStringLiteral("Rotor: standing at %1").arg(qRound(azimuth), 3, 10, QLatin1Char('0')));
        return;
    }
    azimuth += gap > 0 ? travel : -travel;
}

// ---------------------------------------------------------------------------------------------

QByteArray SensorReply(qint32 elevationThousandths, qint16 temperatureHundredths) {
    QByteArray r("\x7F\x01\x87", 3);
    r.append(QByteArray(8, '\0'));
    const quint32 e = quint32(elevationThousandths);
    for (int shift = 24; shift >= 0; shift -= 8)
        r.append(char((e >> shift) & 0xFF));
    const quint16 t = quint16(temperatureHundredths);
    r.append(char(t >> 8));
    r.append(char(t & 0xFF));
    quint8 sum = 0;
    for (char c : r)
        sum = quint8(sum + quint8(c));
    r.append(char(sum));
    return r;
}

void SensorSim::consume(QByteArray& buffer) {
    static const QByteArray kStart("\x00\x00\x08", 3);
    static const QByteArray kQuery("\x7F\x01\x87", 3);
    while (!buffer.isEmpty()) {
        if (buffer.startsWith(kStart)) {
            buffer.remove(0, 3);
            started = true;
            say(QStringLiteral("Sensor: start"));
        } else if (buffer.startsWith(kQuery)) {
            buffer.remove(0, 3);
            ++queries;
            say(QStringLiteral("Sensor: query (elevation %1, temperature %2)")
                    .arg(elevationThousandths / 1000.0)
                    .arg(temperatureHundredths / 100.0));
            reply(replyOverride ? *replyOverride
                                : SensorReply(elevationThousandths, temperatureHundredths));
        } else if (kStart.startsWith(buffer) || kQuery.startsWith(buffer)) {
            return; // the rest of a command may follow
        } else {
            say(QStringLiteral("Sensor: unknown byte %1")
                    .arg(QString::fromLatin1(buffer.left(1).toHex().toUpper())));
            buffer.remove(0, 1);
        }
    }
}
