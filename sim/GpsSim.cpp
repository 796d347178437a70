#include "GpsSim.h"

#include <QFile>
#include <QTimer>
#include <cmath>
#include <numbers>

namespace {
// A wander of this radius (metres) once round in this many seconds: a few metres of GPS drift.
constexpr double kWanderMetres = 3.0;
constexpr int kWanderSeconds = 300;
constexpr double kMetresPerDegree = 111320.0;
// Stale sentences beyond this (about four bursts) are dropped rather than handed to a program
// that opens the port later, as a receiver's line loses what nobody takes in.
constexpr int kBacklogLimit = 2048;
constexpr qint64 kReplayFileLimit = 16 * 1024 * 1024;
constexpr int kReplayBurstLines = 20;

struct Satellite {
    int prn, elevation, azimuth, snr;
};
// In view; the first ones are used for the fix (three for 2D, eight for 3D).
constexpr Satellite kSatellites[] = {
    {2, 67, 102, 45},  {5, 54, 221, 43}, {7, 41, 300, 41},  {13, 35, 48, 40}, {15, 28, 164, 38},
    {18, 22, 257, 36}, {20, 17, 80, 33}, {24, 12, 330, 31}, {29, 8, 134, 27}, {30, 4, 196, 22}};
constexpr int kInView = int(std::size(kSatellites));

QByteArray Two(int v) {
    return QByteArray::number(v).rightJustified(2, '0');
}

// ddmm.mmmmm / dddmm.mmmmm and the hemisphere letter.
QByteArray Angle(double degrees, int degreeDigits, char positive, char negative) {
    const qint64 units = std::llround(std::abs(degrees) * 60.0 * 100000.0);
    const qint64 perDegree = 60LL * 100000;
    const QByteArray whole =
        QByteArray::number(units / perDegree).rightJustified(degreeDigits, '0');
    const qint64 rest = units % perDegree;
    return whole + Two(int(rest / 100000)) + '.' +
           QByteArray::number(rest % 100000).rightJustified(5, '0') + ',' +
           (degrees < 0 ? negative : positive);
}

// Milliseconds of the day in the time field (hhmmss[.s...]) of an RMC or GGA sentence; -1 for
// other lines and for a field that is not a time.
int SentenceTime(const QByteArray& line) {
    if (!line.startsWith('$') || line.size() < 7)
        return -1;
    const QByteArray address = line.mid(3, 3);
    if (address != "RMC" && address != "GGA")
        return -1;
    const QList<QByteArray> fields = line.split(',');
    const QByteArray t = fields.value(1);
    if (t.size() < 6)
        return -1;
    bool ok = false;
    const int hh = t.left(2).toInt(&ok);
    if (!ok)
        return -1;
    const int mm = t.mid(2, 2).toInt(&ok);
    if (!ok)
        return -1;
    const double ss = t.mid(4).toDouble(&ok);
    if (!ok || hh > 23 || mm > 59 || ss >= 61)
        return -1;
    return (hh * 3600 + mm * 60) * 1000 + int(std::lround(ss * 1000));
}
} // namespace

QByteArray NmeaSentence(const QByteArray& body) {
    quint8 sum = 0;
    for (char c : body)
        sum ^= quint8(c);
    return '$' + body + '*' + QByteArray::number(sum, 16).rightJustified(2, '0').toUpper() + "\r\n";
}

bool NmeaChecksumOk(const QByteArray& sentence) {
    QByteArray s = sentence;
    while (s.endsWith('\n') || s.endsWith('\r'))
        s.chop(1);
    const qsizetype star = s.lastIndexOf('*');
    if (!s.startsWith('$') || star < 1 || star + 3 != s.size())
        return false;
    return NmeaSentence(s.mid(1, star - 1)).chopped(2) == s;
}

GpsSim::GpsSim(QObject* parent) : SimDevice(QStringLiteral("GPS"), parent) {
    m_timer = new QTimer(this);
    m_timer->setTimerType(Qt::PreciseTimer);
    m_timer->setInterval(1000);
    connect(m_timer, &QTimer::timeout, this, [this] { tick(); });
    m_timer->start();
}

QString GpsSim::FixName(Fix fix) {
    switch (fix) {
    case Fix::None:
        return QStringLiteral("no fix");
    case Fix::TwoD:
        return QStringLiteral("2D fix");
    case Fix::ThreeD:
        return QStringLiteral("3D fix");
    }
    return {};
}

void GpsSim::setFix(Fix fix) {
    m_fix = fix;
    say(QStringLiteral("GPS: %1").arg(FixName(fix)));
}

bool GpsSim::moveTo(double latitude, double longitude) {
    if (!std::isfinite(latitude) || !std::isfinite(longitude) || std::abs(latitude) > 90 ||
        std::abs(longitude) > 180) {
        say(QStringLiteral(
                "GPS: position %1 %2 refused (latitude -90 to 90, longitude -180 to 180)")
                .arg(latitude)
                .arg(longitude));
        return false;
    }
    m_latitude = latitude;
    m_longitude = longitude;
    say(QStringLiteral("GPS: position %1 %2 %3 %4")
            .arg(std::abs(latitude), 0, 'f', 5)
            .arg(latitude < 0 ? 'S' : 'N')
            .arg(std::abs(longitude), 0, 'f', 5)
            .arg(longitude < 0 ? 'W' : 'E'));
    return true;
}

QByteArray GpsSim::burst(const QDateTime& utcIn) const {
    const QDateTime utc = utcIn.toUTC();
    const QTime time = utc.time();
    const int second = time.msecsSinceStartOfDay() / 1000;
    const QByteArray hhmmss = QByteArray(utc.toString(QStringLiteral("HHmmss")).toLatin1()) + ".00";
    const QByteArray date = utc.toString(QStringLiteral("ddMMyy")).toLatin1();

    // The wander: round a small circle, so the position and course change a little each second.
    const double a = 2 * std::numbers::pi * (second % kWanderSeconds) / kWanderSeconds;
    const double lat =
        std::clamp(m_latitude + kWanderMetres * std::cos(a) / kMetresPerDegree, -90.0, 90.0);
    const double cosLat = std::max(0.01, std::cos(m_latitude * std::numbers::pi / 180));
    double lon = m_longitude + kWanderMetres * std::sin(a) / (kMetresPerDegree * cosLat);
    if (lon > 180)
        lon -= 360;
    else if (lon < -180)
        lon += 360;
    const double knots = 2 * std::numbers::pi * kWanderMetres / kWanderSeconds * 3600 / 1852;
    double course = std::atan2(std::cos(a), -std::sin(a)) * 180 / std::numbers::pi;
    if (course < 0)
        course += 360;
    const QByteArray position = Angle(lat, 2, 'N', 'S') + ',' + Angle(lon, 3, 'E', 'W');

    const bool fixed = m_fix != Fix::None;
    const int used = m_fix == Fix::ThreeD ? 8 : m_fix == Fix::TwoD ? 3 : 0;
    const QByteArray hdop = m_fix == Fix::ThreeD ? "0.94" : m_fix == Fix::TwoD ? "2.10" : "99.99";

    QByteArray out;
    out += NmeaSentence("GPRMC," + hhmmss + (fixed ? ",A," + position : QByteArray(",V,,,,")) +
                        ',' + (fixed ? QByteArray::number(knots, 'f', 3) : QByteArray()) + ',' +
                        (fixed ? QByteArray::number(course, 'f', 2) : QByteArray()) + ',' + date +
                        ",,," + (fixed ? 'A' : 'N'));
    out += NmeaSentence("GPGGA," + hhmmss + ',' + (fixed ? position : QByteArray(",,,")) + ',' +
                        QByteArray::number(fixed ? 1 : 0) + ',' + Two(used) + ',' + hdop + ',' +
                        (fixed ? QByteArray("34.5,M,39.6,M") : QByteArray(",,,")) + ",,");
    QByteArray gsa = "GPGSA,A," + QByteArray::number(m_fix == Fix::ThreeD ? 3
                                                     : m_fix == Fix::TwoD ? 2
                                                                          : 1);
    for (int i = 0; i < 12; ++i)
        gsa += ',' + (i < used ? Two(kSatellites[i].prn) : QByteArray());
    gsa += m_fix == Fix::ThreeD ? ",1.62,0.94,1.32"
           : m_fix == Fix::TwoD ? ",3.50,2.10,2.80"
                                : ",99.99,99.99,99.99";
    out += NmeaSentence(gsa);
    const int messages = (kInView + 3) / 4;
    for (int m = 0; m < messages; ++m) {
        QByteArray gsv = "GPGSV," + QByteArray::number(messages) + ',' + QByteArray::number(m + 1) +
                         ',' + Two(kInView);
        for (int i = m * 4; i < std::min(kInView, m * 4 + 4); ++i) {
            const Satellite& s = kSatellites[i];
            // The sky turns slowly; signals flicker by a few dB.
            const int azimuth = (s.azimuth + second / 240) % 360;
            gsv += ',' + Two(s.prn) + ',' + Two(s.elevation) + ',' +
                   QByteArray::number(azimuth).rightJustified(3, '0') + ',';
            if (fixed)
                gsv += Two(s.snr + (second + s.prn) % 5 - 2);
        }
        out += NmeaSentence(gsv);
    }
    return out;
}

bool GpsSim::replay(const QString& file, QString* error) {
    auto fail = [&](const QString& why) {
        if (error)
            *error = why;
        say(QStringLiteral("GPS: cannot replay %1: %2").arg(file, why));
        return false;
    };
    QFile f(file);
    if (!f.open(QIODevice::ReadOnly))
        return fail(f.errorString());
    if (f.size() > kReplayFileLimit)
        return fail(QStringLiteral("larger than %1 MB").arg(kReplayFileLimit / (1024 * 1024)));
    const QByteArray all = f.readAll();

    // Bursts: a new one starts where the RMC/GGA time changes, where an RMC or GGA comes a
    // second time, or after a number of lines in a log without times.
    QList<ReplayBurst> bursts;
    QList<int> times;
    QByteArray current;
    int currentLines = 0;
    int currentTime = -1;
    QList<QByteArray> timedSeen;
    auto close = [&] {
        if (currentLines == 0)
            return;
        bursts.append({current, 1000});
        times.append(currentTime);
        current.clear();
        currentLines = 0;
        currentTime = -1;
        timedSeen.clear();
    };
    for (QByteArray line : all.split('\n')) {
        while (line.endsWith('\r'))
            line.chop(1);
        if (line.trimmed().isEmpty() || line.startsWith('#'))
            continue;
        const int t = SentenceTime(line);
        const QByteArray key = t >= 0 ? line.mid(3, 3) : QByteArray();
        if ((t >= 0 && currentTime >= 0 && t != currentTime) ||
            (!key.isEmpty() && timedSeen.contains(key)) || currentLines >= kReplayBurstLines)
            close();
        if (t >= 0) {
            currentTime = t;
            timedSeen.append(key);
        }
        current += line + "\r\n";
        ++currentLines;
    }
    close();
    if (bursts.isEmpty())
        return fail(QStringLiteral("no sentences"));
    // Each burst waits for the time step to the next, within reason; one second otherwise.
    for (int i = 0; i + 1 < bursts.size(); ++i) {
        if (times[i] < 0 || times[i + 1] < 0)
            continue;
        int step = times[i + 1] - times[i];
        if (step < 0)
            step += 24 * 3600 * 1000; // over midnight
        if (step > 0 && step <= 10000)
            bursts[i].delayMs = step;
    }
    m_replay = bursts;
    m_replayNext = 0;
    m_replayFile = file;
    m_timer->stop();
    m_timer->setSingleShot(true);
    m_timer->start(0);
    say(QStringLiteral("GPS: replaying %1 (%2 bursts)").arg(file).arg(bursts.size()));
    return true;
}

void GpsSim::tick() {
    if (m_replay.isEmpty()) {
        send(burst(QDateTime::currentDateTimeUtc()));
        return;
    }
    if (m_replayNext >= m_replay.size()) {
        m_replayNext = 0;
        say(QStringLiteral("GPS: replay of %1 starts again").arg(m_replayFile));
    }
    const ReplayBurst& b = m_replay[m_replayNext++];
    send(b.bytes);
    m_timer->start(b.delayMs);
}

void GpsSim::send(const QByteArray& bytes) {
    if (unreadByProgram() > kBacklogLimit)
        dropUnread();
    reply(bytes);
    m_lastBurst = bytes;
    ++m_bursts;
}

void GpsSim::consume(QByteArray& buffer) {
    // A receiver takes configuration sentences; this one only tells what it was sent.
    for (;;) {
        const qsizetype end = buffer.indexOf('\n');
        if (end < 0)
            return;
        const QByteArray line = buffer.left(end).trimmed();
        buffer.remove(0, end + 1);
        if (!line.isEmpty())
            say(QStringLiteral("GPS: ignored %1").arg(QString::fromLatin1(line)));
    }
}
