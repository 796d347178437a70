#include "GpsdClient.h"

#include "GpsLog.h"

#include <QDateTime>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTcpSocket>
#include <cmath>

namespace {

constexpr double KnotsPerMetrePerSecond = 3600.0 / 1852.0;

// A finite number member, or nothing.
bool Number(const QJsonObject& o, const char* key, double* out) {
    const QJsonValue v = o.value(QLatin1String(key));
    if (!v.isDouble() || !std::isfinite(v.toDouble()))
        return false;
    *out = v.toDouble();
    return true;
}

} // namespace

GpsdClient::GpsdClient(QObject* parent) : QObject(parent), m_socket(new QTcpSocket(this)) {
    connect(m_socket, &QTcpSocket::connected, this, [this] {
        m_socket->write(R"(?WATCH={"enable":true,"json":true})"
                        "\n");
        setStatus(tr("gpsd %1: connected").arg(m_address), true);
    });
    connect(m_socket, &QTcpSocket::readyRead, this, [this] {
        if (receive(m_socket->readAll()))
            emit updated();
    });
    connect(m_socket, &QTcpSocket::errorOccurred, this, [this](QAbstractSocket::SocketError) {
        if (!m_running)
            return;
        m_running = false;
        qCWarning(lcGps, "gpsd %s: %s", qPrintable(m_address), qPrintable(m_socket->errorString()));
        setStatus(tr("gpsd %1: %2").arg(m_address, m_socket->errorString()), false);
        m_socket->abort();
    });
    connect(m_socket, &QTcpSocket::disconnected, this, [this] {
        if (!m_running)
            return;
        m_running = false;
        setStatus(tr("gpsd %1: connection closed").arg(m_address), false);
    });
}

GpsdClient::~GpsdClient() {
    m_running = false;
    m_socket->abort();
}

bool GpsdClient::ParseHostPort(const QString& text, QString* host, quint16* port) {
    QString t = text.trimmed();
    QString h;
    QString p;
    if (t.startsWith(QLatin1Char('['))) {
        const qsizetype close = t.indexOf(QLatin1Char(']'));
        if (close < 0)
            return false;
        h = t.mid(1, close - 1);
        const QString rest = t.mid(close + 1);
        if (!rest.isEmpty()) {
            if (!rest.startsWith(QLatin1Char(':')))
                return false;
            p = rest.mid(1);
        }
    } else if (t.count(QLatin1Char(':')) == 1) {
        h = t.section(QLatin1Char(':'), 0, 0);
        p = t.section(QLatin1Char(':'), 1);
    } else {
        h = t; // a name, or a bare IPv6 address
    }
    h = h.trimmed();
    if (h.isEmpty() || h.contains(QLatin1Char(' ')))
        return false;
    quint16 number = DefaultPort;
    if (!p.isNull()) {
        bool ok = false;
        const uint n = p.trimmed().toUInt(&ok);
        if (!ok || n == 0 || n > 65535)
            return false;
        number = quint16(n);
    }
    if (host)
        *host = h;
    if (port)
        *port = number;
    return true;
}

bool GpsdClient::start(const QString& hostPort) {
    stop();
    QString host;
    quint16 port = 0;
    m_address = hostPort.trimmed();
    if (!ParseHostPort(hostPort, &host, &port)) {
        setStatus(tr("gpsd: \"%1\" is no host:port").arg(m_address), false);
        return false;
    }
    m_buffer.clear();
    m_skipping = false;
    m_running = true;
    setStatus(tr("gpsd %1: connecting").arg(m_address), true);
    m_socket->connectToHost(host, port);
    return true;
}

void GpsdClient::stop() {
    const bool was = m_running;
    m_running = false;
    m_socket->abort();
    m_buffer.clear();
    if (was)
        setStatus(tr("gpsd %1: stopped").arg(m_address), false);
}

bool GpsdClient::isConnected() const {
    return m_socket->state() == QAbstractSocket::ConnectedState;
}

void GpsdClient::setStatus(const QString& text, bool ok) {
    emit statusChanged(text, ok);
}

bool GpsdClient::receive(const QByteArray& bytes) {
    bool changed = false;
    qsizetype from = 0;
    for (;;) {
        const qsizetype nl = bytes.indexOf('\n', from);
        if (nl < 0)
            break;
        if (m_skipping)
            m_skipping = false;
        else
            changed |= handleLine(m_buffer + bytes.mid(from, nl - from));
        m_buffer.clear();
        from = nl + 1;
    }
    if (!m_skipping)
        m_buffer += bytes.mid(from);
    if (m_buffer.size() > MaxLine) {
        qCWarning(lcGps, "gpsd sent a line beyond %lld bytes: dropped", qlonglong(MaxLine));
        m_buffer.clear();
        m_skipping = true;
    }
    return changed;
}

bool GpsdClient::handleLine(const QByteArray& line) {
    QJsonParseError error;
    const QJsonDocument doc = QJsonDocument::fromJson(line.trimmed(), &error);
    if (error.error != QJsonParseError::NoError || !doc.isObject())
        return false;
    const QJsonObject o = doc.object();
    const QString kind = o.value(QLatin1String("class")).toString();
    GpsState& s = m_state;
    if (kind == QLatin1String("TPV")) {
        const int mode = o.value(QLatin1String("mode")).toInt(0);
        s.gsa.mode = mode == 3   ? QStringLiteral("3D-Fix")
                     : mode == 2 ? QStringLiteral("2D-Fix")
                     : mode == 1 ? QStringLiteral("No-Fix")
                                 : QStringLiteral("unknown");
        s.gsa.checksumOk = true;
        s.rmc.valid = mode >= 2;
        const int status = o.value(QLatin1String("status")).toInt(1);
        s.gga.quality = mode < 2      ? QStringLiteral("no fix")
                        : status == 2 ? QStringLiteral("DGPS fix")
                                      : QStringLiteral("GPS fix");
        double lat = 0;
        double lon = 0;
        if (Number(o, "lat", &lat) && Number(o, "lon", &lon) && std::fabs(lat) <= 90 &&
            std::fabs(lon) <= 180) {
            s.latitude = RoundTo(std::fabs(lat), 8);
            s.latitudeHemisphere = lat < 0 ? QStringLiteral("S") : QStringLiteral("N");
            s.longitude = RoundTo(std::fabs(lon), 8);
            s.longitudeHemisphere = lon < 0 ? QStringLiteral("W") : QStringLiteral("E");
            s.hasPosition = true;
            for (auto* r : {&s.rmc.latitude, &s.gga.latitude})
                *r = s.latitude;
            for (auto* r : {&s.rmc.longitude, &s.gga.longitude})
                *r = s.longitude;
            s.rmc.latitudeHemisphere = s.gga.latitudeHemisphere = s.latitudeHemisphere;
            s.rmc.longitudeHemisphere = s.gga.longitudeHemisphere = s.longitudeHemisphere;
            s.rmc.hasPosition = s.gga.hasPosition = true;
        }
        double v = 0;
        if (Number(o, "altMSL", &v) || Number(o, "alt", &v)) {
            s.gga.altitude = v;
            s.gga.altitudeUnit = QStringLiteral("m");
        }
        if (Number(o, "geoidSep", &v)) {
            s.gga.geoidSeparation = v;
            s.gga.geoidUnit = QStringLiteral("m");
        }
        if (Number(o, "speed", &v))
            s.rmc.speed = v * KnotsPerMetrePerSecond * 0.54;
        if (Number(o, "track", &v))
            s.rmc.course = v;
        if (Number(o, "magvar", &v))
            s.rmc.magneticVariation = v;
        const QDateTime time =
            QDateTime::fromString(o.value(QLatin1String("time")).toString(), Qt::ISODateWithMs);
        if (time.isValid()) {
            const QDateTime utc = time.toUTC();
            s.rmc.utcTime = s.gga.utcTime = utc.toString(QStringLiteral("hh:mm:ss"));
            s.rmc.date = utc.toString(QStringLiteral("dd.MM.yy"));
        }
        s.rmc.checksumOk = s.gga.checksumOk = true;
        return true;
    }
    if (kind == QLatin1String("SKY")) {
        const QJsonArray satellites = o.value(QLatin1String("satellites")).toArray();
        if (!satellites.isEmpty()) {
            s.gsa.satellites.fill(QString());
            size_t used = 0;
            for (const QJsonValue& sat : satellites) {
                const QJsonObject so = sat.toObject();
                if (!so.value(QLatin1String("used")).toBool())
                    continue;
                if (used < s.gsa.satellites.size())
                    s.gsa.satellites[used] =
                        QString::number(so.value(QLatin1String("PRN")).toInt());
                ++used;
            }
            s.gga.satellites = qint16(qMin<size_t>(used, 32767));
        }
        double v = 0;
        if (Number(o, "pdop", &v))
            s.gsa.pdop = v;
        if (Number(o, "hdop", &v))
            s.gsa.hdop = s.gga.hdop = v;
        if (Number(o, "vdop", &v))
            s.gsa.vdop = v;
        s.gsa.autoSelection = true;
        s.gsa.checksumOk = true;
        return true;
    }
    return false;
}
