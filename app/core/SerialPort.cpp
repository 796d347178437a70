#include "SerialPort.h"

#include "CoreLog.h"

#include <QStringList>
#include <QtGlobal>

int SerialPort::portNumber() const {
    bool ok = false;
    const int n = m_port.toInt(&ok);
    return ok ? n : 0;
}

QString SerialPort::DevicePathFor(const QString& setting) {
    const QString s = setting.trimmed();
    if (s.contains(QLatin1Char('/')) || s.contains(QLatin1Char('\\')))
        return s;
    bool ok = false;
    const int n = s.toInt(&ok);
    if (!ok)
        return s; // a platform name such as COM3 or ttyUSB0
    if (n <= 0)
        return {};
    const QByteArray override = qgetenv(("FARSCAN_COM" + QByteArray::number(n)).constData());
    if (!override.isEmpty())
        return QString::fromLocal8Bit(override);
#ifdef Q_OS_WIN
    return QStringLiteral("COM%1").arg(n);
#else
    return QStringLiteral("/dev/ttyS%1").arg(n - 1);
#endif
}

bool SerialPort::ParseLineSettings(const QString& text, LineSettings* out) {
    const QStringList parts = text.split(QLatin1Char(','));
    if (parts.size() != 4 || !out)
        return false;
    LineSettings line;
    bool ok = false;
    line.baud = parts[0].trimmed().toInt(&ok);
    if (!ok || line.baud <= 0)
        return false;
    const QString parity = parts[1].trimmed().toLower();
    if (parity.size() != 1 || !QStringLiteral("neoms").contains(parity))
        return false;
    line.parity = parity.at(0).toLatin1();
    line.dataBits = parts[2].trimmed().toInt(&ok);
    if (!ok || line.dataBits < 5 || line.dataBits > 8)
        return false;
    line.stopBits = parts[3].trimmed().toDouble(&ok);
    if (!ok || (line.stopBits != 1 && line.stopBits != 1.5 && line.stopBits != 2))
        return false;
    *out = line;
    return true;
}

bool SerialPort::open() {
    if (isOpen()) {
        setError(QStringLiteral("Port is already open"));
        return false;
    }
    const QString device = DevicePathFor(m_port);
    if (device.isEmpty()) {
        setError(QStringLiteral("Invalid port number: %1").arg(m_port));
        return false;
    }
    LineSettings line;
    if (!ParseLineSettings(m_settings, &line)) {
        setError(QStringLiteral("Invalid line settings: %1").arg(m_settings));
        return false;
    }
    m_lastEvent = CommEventKind::None;
    if (!openDevice(device, line)) {
        qCWarning(lcSerial, "%s (%s) did not open: %s", qPrintable(objectName()),
                  qPrintable(device), qPrintable(m_error));
        return false;
    }
    m_error.clear();
    return true;
}

bool SerialPort::close() {
    if (!isOpen())
        return failClosed("close");
    return closeDevice();
}

bool SerialPort::write(const QByteArray& bytes) {
    if (!isOpen())
        return failClosed("write");
    if (bytes.isEmpty())
        return true;
    const qint64 written = writeBytes(bytes);
    if (written != bytes.size()) {
        if (m_error.isEmpty())
            setError(QStringLiteral("Write failed"));
        return false;
    }
    return true;
}

bool SerialPort::writeText(const QString& text) {
    QByteArray bytes;
    bytes.reserve(text.size());
    for (QChar c : text) {
        if (c.unicode() > 0xFF) {
            setError(QStringLiteral("Character outside 0-255 in output text"));
            return false;
        }
        bytes.append(char(c.unicode()));
    }
    return write(bytes);
}

QByteArray SerialPort::readAll() {
    if (!isOpen()) {
        failClosed("read");
        return {};
    }
    return readBytes();
}

QString SerialPort::readText() {
    return QString::fromLatin1(readAll());
}

int SerialPort::inBufferCount() const {
    return isOpen() ? bytesWaiting() : 0;
}

void SerialPort::dataArrived() {
    const int waiting = bytesWaiting();
    const qint64 excess = m_discard ? waiting : qint64(waiting) - MaxPendingInput;
    if (excess > 0) {
        dropBytes(excess);
        if (m_dropped == 0)
            qCInfo(lcSerial, "%s: %s", qPrintable(objectName()),
                   m_discard ? "dropping input nobody reads"
                             : "more input than the reader takes: the oldest is dropped");
        m_dropped += excess;
        if (m_discard)
            return;
    }
    if (m_threshold > 0 && bytesWaiting() >= m_threshold) {
        m_lastEvent = CommEventKind::Receive;
        emit commEvent();
    }
}

void SerialPort::deviceLost(const QString& why) {
    qCWarning(lcSerial, "%s: device lost: %s", qPrintable(objectName()), qPrintable(why));
    m_lastEvent = CommEventKind::Error;
    setError(why);
    if (isOpen())
        closeDevice();
    emit commEvent();
}

bool SerialPort::failClosed(const char* operation) {
    setError(QStringLiteral("Port not open (%1)").arg(QLatin1String(operation)));
    return false;
}
