#include "RotorControl.h"

#include "RigCat.h"
#include "RigControl.h"
#include "SerialPort.h"
#include "StationColours.h"

#include <cmath>

QString SensorHexText(const QByteArray& reply) {
    return QString::fromLatin1(reply.toHex().toUpper());
}

std::optional<SensorReading> DecodeSensorText(const QString& hexText) {
    if (hexText.size() < 30)
        return std::nullopt;
    bool ok = false;
    const quint32 elevation = hexText.mid(22, 8).toUInt(&ok, 16);
    if (!ok)
        return std::nullopt;
    SensorReading r;
    r.elevationThousandths = qint32(elevation);
    if (hexText.size() >= 34) {
        const quint16 t = quint16(hexText.mid(30, 4).toUInt(&ok, 16));
        if (ok)
            r.temperatureHundredths = qint16(t);
    }
    return r;
}

int ElevationTenths(qint32 thousandths) {
    const qint64 v = thousandths;
    return int(v >= 0 ? (v + 50) / 100 : -((-v + 50) / 100));
}

QString ElevationText(int tenths) {
    const int a = std::abs(tenths);
    return QStringLiteral("%1%2.%3")
        .arg(tenths < 0 ? QStringLiteral("-") : QString())
        .arg(a / 10)
        .arg(a % 10);
}

namespace {
std::optional<int> WholeNumber(const QString& text, int max) {
    bool ok = false;
    const double v = text.trimmed().toDouble(&ok);
    if (!ok || !std::isfinite(v))
        return std::nullopt;
    const double r = std::round(v); // half away from zero
    if (r < 0 || r > max)
        return std::nullopt;
    return int(r);
}
} // namespace

QByteArray HeadingCommand(const QString& text) {
    const auto n = WholeNumber(text, 360);
    if (!n)
        return {};
    return "AP1" + QByteArray::number(*n).rightJustified(3, '0') + "\r;";
}

QByteArray SecondEntryCommand(const QString& text) {
    const auto n = WholeNumber(text, 999);
    if (!n)
        return {};
    return "AW1" + QByteArray::number(*n).rightJustified(3, '0') + ";";
}

RotorControl::RotorControl(SerialPort* com3, SerialPort* com4, StationBoard* board,
                           bool* buttonHeld, QObject* parent)
    : QObject(parent), m_com3(com3), m_com4(com4), m_board(board), m_buttonHeld(buttonHeld) {
    if (!m_buttonHeld)
        m_buttonHeld = &m_ownHeld;
    m_holdWatch.setInterval(20);
    connect(&m_holdWatch, &QTimer::timeout, this, [this] {
        if (!*m_buttonHeld)
            releaseHeldLines();
    });
    m_pulseTimer.setSingleShot(true);
    m_pulseTimer.setTimerType(Qt::PreciseTimer);
    connect(&m_pulseTimer, &QTimer::timeout, this, &RotorControl::endPulse);
}

RotorControl::~RotorControl() {
    releaseHeldLines();
    endPulse();
}

void RotorControl::AziL() {
    RigCat::Send(m_com4, "AA;");
}

void RotorControl::AziR() {
    RigCat::Send(m_com4, "AB;");
}

void RotorControl::RotorStop() {
    emit rotorStopColourChanged(Colours::Red);
    RigCat::Send(m_com4, "ST;");
}

bool RotorControl::TurnToHeading(QString& Text160) {
    if (Text160.isEmpty())
        Text160 = QStringLiteral("000");
    const QByteArray command = HeadingCommand(Text160);
    return !command.isEmpty() && RigCat::Send(m_com4, command);
}

bool RotorControl::Text177Enter(const QString& Text177) {
    const QByteArray command = SecondEntryCommand(Text177);
    return !command.isEmpty() && RigCat::Send(m_com4, command);
}

void RotorControl::setEleAuto(bool on) {
    if (EleAuto != on) {
        EleAuto = on;
        emit eleAutoChanged(on);
    }
}

void RotorControl::holdElevation(BoardLine line) {
    setEleAuto(false);
    if (m_board) {
        m_board->setLineDirection(line, true);
        m_board->setLine(line, true);
    }
    *m_buttonHeld = true;
    m_heldLines.push_back(line);
    m_holdWatch.start();
}

void RotorControl::EleMouseUp() {
    *m_buttonHeld = false;
    releaseHeldLines();
}

void RotorControl::releaseHeldLines() {
    m_holdWatch.stop();
    // A button pressed while another was held lets go first, as it was pressed last.
    while (!m_heldLines.empty()) {
        const BoardLine line = m_heldLines.back();
        m_heldLines.pop_back();
        if (m_board)
            m_board->setLine(line, false);
    }
}

void RotorControl::ElevationPulse(bool up) {
    if (m_pulseLine)
        return; // one pulse at a time
    const BoardLine line = up ? BoardLine::ElevationUp : BoardLine::ElevationDown;
    if (m_board) {
        m_board->setLineDirection(line, true);
        m_board->setLine(line, true);
    }
    m_pulseLine = line;
    m_pulseTimer.start(qMax(0, PulseLength));
}

void RotorControl::endPulse() {
    m_pulseTimer.stop();
    if (!m_pulseLine)
        return;
    const BoardLine line = *m_pulseLine;
    m_pulseLine.reset();
    if (m_board)
        m_board->setLine(line, false);
}

void RotorControl::pollAzimuth() {
    if (!m_com4 || !RigCat::Send(m_com4, "AI1;"))
        return;
    // What has arrived so far: the reply to an earlier poll.
    Label1 = QString::fromLatin1(m_com4->readAll().left(3));
    emit label1Changed(Label1);
}

void RotorControl::pollSensor() {
    if (!m_com3 || !RigCat::Send(m_com3, QByteArray("\x7F\x01\x87", 3)))
        return;
    QString reply;
    if (m_com3->lastEventKind() == SerialPort::CommEventKind::Receive) {
        while (m_com3->inBufferCount() > 0) {
            reply += SensorHexText(m_com3->readAll());
            const auto reading = DecodeSensorText(reply);
            if (!reading || !reading->temperatureHundredths)
                continue; // not all of it yet
            Label31 = QStringLiteral("Temp = ") +
                      DefaultNumberText(*reading->temperatureHundredths / 100.0);
            Label30 = QStringLiteral("Ele = ") +
                      DefaultNumberText(reading->elevationThousandths / 1000.0);
            emit label31Changed(Label31);
            emit label30Changed(Label30);
        }
    }
    // A reply too short to give the elevation ends the tick quietly.
    const auto reading = DecodeSensorText(reply);
    if (!reading)
        return;
    int tenths = ElevationTenths(reading->elevationThousandths);
    Label30 = ElevationText(tenths);
    emit label30Changed(Label30);
    if (tenths < 0)
        tenths = -10;
    elevationTenths = tenths;

    if (EleAuto) {
        if (tenths < 4)
            ElevationPulse(true);
        else if (tenths > 10)
            ElevationPulse(false);
    }
    emit eleAutoChanged(EleAuto);
}

void RotorControl::PollTick() {
    // A closed rotor port does not stop the elevation hold: each poll fails on its own.
    pollAzimuth();
    pollSensor();
}

QColor RotorControl::EleAutoColour(bool automatic) {
    return automatic ? Colours::Green : Colours::Yellow;
}

QString RotorControl::EleAutoCaption(bool automatic) {
    return automatic ? QStringLiteral("Ele Auto") : QStringLiteral("Ele manu");
}
