#include "Nmea.h"

#include "GpsLog.h"
#include "Locator.h"

#include <QLocale>
#include <cmath>
#include <limits>
#include <optional>

int NmeaChecksum(const QString& text) {
    int sum = 0;
    for (QChar c : text)
        sum ^= c.unicode();
    return sum;
}

int HexValue(const QString& text) {
    const QString t = text.trimmed();
    if (t.isEmpty() || t.size() > 7)
        return -1;
    bool ok = false;
    const int value = t.toInt(&ok, 16);
    return ok && value >= 0 ? value : -1;
}

QStringList SplitFields(const QString& text, QChar delimiter) {
    return text.split(delimiter, Qt::SkipEmptyParts);
}

double RoundTo(double value, int digits) {
    if (!std::isfinite(value))
        return value;
    digits = qBound(-28, digits, 28);
    // The shortest decimal form, rounded as decimal digits.
    QByteArray text = QByteArray::number(std::fabs(value), 'f', QLocale::FloatingPointShortest);
    const qsizetype point = text.indexOf('.');
    QByteArray whole = point < 0 ? text : text.left(point);
    const QByteArray fraction = point < 0 ? QByteArray() : text.mid(point + 1);
    if (digits >= fraction.size())
        return value;
    QByteArray all = whole + fraction;
    const qsizetype keep = whole.size() + digits;
    if (keep < 0)
        return 0.0;
    const bool up = keep < all.size() && all.at(keep) >= '5';
    QByteArray mantissa = all.left(keep);
    if (mantissa.isEmpty())
        mantissa = "0";
    if (up) {
        qsizetype i = mantissa.size() - 1;
        while (i >= 0 && mantissa.at(i) == '9') {
            mantissa[i] = '0';
            --i;
        }
        if (i < 0)
            mantissa.prepend('1');
        else
            mantissa[i] = char(mantissa.at(i) + 1);
    }
    const QByteArray decimal = mantissa + 'e' + QByteArray::number(-digits);
    const double rounded = decimal.toDouble();
    return value < 0 ? -rounded : rounded;
}

namespace {

// The leading number of a field, read with "." whatever the locale; a field without digits is
// 0. Nothing when the number is beyond a double.
std::optional<double> NumberValue(const QString& field) {
    const QString t = field.trimmed();
    qsizetype i = 0;
    const qsizetype n = t.size();
    auto digitsFrom = [&](qsizetype from) {
        qsizetype j = from;
        while (j < n && t.at(j).isDigit() && t.at(j).unicode() < 128)
            ++j;
        return j;
    };
    if (i < n && (t.at(i) == QLatin1Char('+') || t.at(i) == QLatin1Char('-')))
        ++i;
    qsizetype end = digitsFrom(i);
    bool any = end > i;
    if (end < n && t.at(end) == QLatin1Char('.')) {
        const qsizetype f = digitsFrom(end + 1);
        any = any || f > end + 1;
        end = f;
    }
    if (!any)
        return 0.0;
    if (end < n && (t.at(end) == QLatin1Char('e') || t.at(end) == QLatin1Char('E'))) {
        qsizetype e = end + 1;
        if (e < n && (t.at(e) == QLatin1Char('+') || t.at(e) == QLatin1Char('-')))
            ++e;
        const qsizetype d = digitsFrom(e);
        if (d > e)
            end = d;
    }
    bool ok = false;
    const double v = t.left(end).toLatin1().toDouble(&ok);
    if (!ok || !std::isfinite(v))
        return std::nullopt;
    return v;
}

std::optional<qint16> ShortValue(const QString& field) {
    const auto v = NumberValue(field);
    if (!v || std::round(*v) < std::numeric_limits<qint16>::min() ||
        std::round(*v) > std::numeric_limits<qint16>::max())
        return std::nullopt;
    return qint16(std::lround(*v));
}

// The fields of a sentence of type X after the common checks, or nothing. checksumFailed tells
// a sentence of the right type whose checksum did not match.
struct Sentence {
    QStringList fields; // fields[0] is field 1; the last field without its "*checksum"
    bool typeMatches = false;
    bool checksumOk = false;
};

Sentence Prepare(const QString& sentence, const char* type) {
    Sentence out;
    const QString s = sentence.trimmed().toUpper();
    if (s.size() < 6 || s.at(0) != QLatin1Char('$') || s.mid(3, 3) != QLatin1String(type))
        return out;
    out.typeMatches = true;
    const qsizetype star = s.indexOf(QLatin1Char('*'));
    if (star < 0)
        return out;
    const QString body = s.mid(1, star - 1);
    // Widen every empty field to a blank; one pass leaves every second of a run of empty fields.
    QString widened = s;
    for (int pass = 0; pass < 2; ++pass)
        widened = ReplaceAll(widened, QStringLiteral(",,"), QStringLiteral(", ,"));
    QStringList fields = SplitFields(widened, QLatin1Char(','));
    if (fields.isEmpty())
        return out;
    QString& last = fields.last();
    const qsizetype lastStar = last.indexOf(QLatin1Char('*'));
    if (lastStar < 0 || NmeaChecksum(body) != HexValue(last.mid(lastStar + 1)))
        return out;
    last = last.left(lastStar);
    out.checksumOk = true;
    out.fields = fields;
    return out;
}

// Field n (1-based) or a blank when the sentence is shorter.
QString Field(const QStringList& fields, int n) {
    return n >= 1 && n <= fields.size() ? fields.at(n - 1) : QStringLiteral(" ");
}

QString TimeText(const QString& field) {
    const QString t = field.trimmed().left(6);
    if (t.isEmpty())
        return {};
    return t.left(2) + QLatin1Char(':') + t.mid(2, 2) + QLatin1Char(':') + t.mid(4, 2);
}

QString DateText(const QString& field) {
    const QString t = field.trimmed().left(6);
    if (t.isEmpty())
        return {};
    return t.left(2) + QLatin1Char('.') + t.mid(2, 2) + QLatin1Char('.') + t.mid(4, 2);
}

QString UnitText(const QString& field) {
    const QString t = field.trimmed();
    return t == QLatin1String("M") ? QStringLiteral("m") : t;
}

struct Position {
    double latitude = 0.0;
    QString latitudeHemisphere;
    double longitude = 0.0;
    QString longitudeHemisphere;
    bool present = false;
};

// Latitude, hemisphere, longitude, hemisphere from field n on. Blank coordinates (a receiver
// without a fix) give no position; a coordinate that is no place on earth fails.
std::optional<Position> ReadPosition(const QStringList& fields, int n) {
    Position p;
    p.latitudeHemisphere = Field(fields, n + 1).trimmed();
    p.longitudeHemisphere = Field(fields, n + 3).trimmed();
    const QString lat = Field(fields, n).trimmed();
    const QString lon = Field(fields, n + 2).trimmed();
    if (lat.isEmpty() || lon.isEmpty())
        return p;
    if (!CoordinateValue(lat, &p.latitude) || !CoordinateValue(lon, &p.longitude) ||
        p.latitude > 90.0 || p.longitude > 180.0)
        return std::nullopt;
    p.present = true;
    return p;
}

} // namespace

bool CoordinateValue(const QString& field, double* degrees) {
    const QString t = field.trimmed();
    qsizetype p = t.indexOf(QLatin1Char('.')); // 0-based: 1-based p is p + 1
    if (p < 0)
        p = t.size(); // "ddmm" reads as "ddmm."
    if (p < 2 || t.startsWith(QLatin1Char('-')) || t.startsWith(QLatin1Char('+')))
        return false;
    const auto whole = NumberValue(t.left(p - 2));
    const auto minutes = NumberValue(t.mid(p - 2));
    if (!whole || !minutes || *whole < 0 || *minutes < 0)
        return false;
    const double value = RoundTo(*whole + *minutes / 60.0, 8);
    if (!std::isfinite(value))
        return false;
    if (degrees)
        *degrees = value;
    return true;
}

namespace {

// The fields of a sentence of the given type with at least minFields fields, or nullopt. A
// sentence of that type whose checksum fails clears the result's checksum flag, nothing else.
template <class Result>
std::optional<QStringList> AcceptedFields(const QString& sentence, const char* type, int minFields,
                                          Result& result) {
    Sentence s = Prepare(sentence, type);
    if (!s.typeMatches)
        return std::nullopt;
    if (!s.checksumOk) {
        result.checksumOk = false;
        return std::nullopt;
    }
    if (s.fields.size() < minFields)
        return std::nullopt;
    return std::move(s.fields);
}

} // namespace

bool ParseRmc(const QString& sentence, RmcResult& result) {
    const std::optional<QStringList> accepted = AcceptedFields(sentence, "RMC", 11, result);
    if (!accepted)
        return false;
    const QStringList& f = *accepted;
    const auto position = ReadPosition(f, 4);
    const auto speed = NumberValue(Field(f, 8));
    const auto course = NumberValue(Field(f, 9));
    const auto variation = NumberValue(Field(f, 11));
    if (!position || !speed || !course || !variation)
        return false;
    RmcResult r;
    r.utcTime = TimeText(Field(f, 2));
    r.valid = Field(f, 3).trimmed() == QLatin1String("A");
    r.latitudeHemisphere = position->latitudeHemisphere;
    r.longitudeHemisphere = position->longitudeHemisphere;
    r.hasPosition = position->present;
    r.latitude = position->present ? position->latitude : result.latitude;
    r.longitude = position->present ? position->longitude : result.longitude;
    r.speed = *speed * 0.54;
    r.course = *course;
    r.date = DateText(Field(f, 10));
    r.magneticVariation = *variation;
    r.checksumOk = true;
    result = r;
    return true;
}

bool ParseGga(const QString& sentence, GgaResult& result) {
    const std::optional<QStringList> accepted = AcceptedFields(sentence, "GGA", 13, result);
    if (!accepted)
        return false;
    const QStringList& f = *accepted;
    const auto position = ReadPosition(f, 3);
    const auto satellites = ShortValue(Field(f, 8));
    const auto hdop = NumberValue(Field(f, 9));
    const auto altitude = NumberValue(Field(f, 10));
    const auto geoid = NumberValue(Field(f, 12));
    if (!position || !satellites || !hdop || !altitude || !geoid)
        return false;
    GgaResult r;
    r.utcTime = TimeText(Field(f, 2));
    r.latitudeHemisphere = position->latitudeHemisphere;
    r.longitudeHemisphere = position->longitudeHemisphere;
    r.hasPosition = position->present;
    r.latitude = position->present ? position->latitude : result.latitude;
    r.longitude = position->present ? position->longitude : result.longitude;
    const QString quality = Field(f, 7).trimmed();
    r.quality = quality == QLatin1String("0")   ? QStringLiteral("no fix")
                : quality == QLatin1String("1") ? QStringLiteral("GPS fix")
                : quality == QLatin1String("2") ? QStringLiteral("DGPS fix")
                : quality == QLatin1String("6") ? QStringLiteral("guessed")
                                                : QStringLiteral("unknown");
    r.satellites = *satellites;
    r.hdop = *hdop;
    r.altitude = *altitude;
    r.altitudeUnit = UnitText(Field(f, 11));
    r.geoidSeparation = *geoid;
    r.geoidUnit = UnitText(Field(f, 13));
    r.checksumOk = true;
    result = r;
    return true;
}

bool ParseGsa(const QString& sentence, GsaResult& result) {
    const std::optional<QStringList> accepted = AcceptedFields(sentence, "GSA", 18, result);
    if (!accepted)
        return false;
    const QStringList& f = *accepted;
    const auto pdop = NumberValue(Field(f, 16));
    const auto hdop = NumberValue(Field(f, 17));
    const auto vdop = NumberValue(Field(f, 18));
    if (!pdop || !hdop || !vdop)
        return false;
    GsaResult r;
    r.autoSelection = Field(f, 2).trimmed() == QLatin1String("A");
    const QString mode = Field(f, 3).trimmed();
    r.mode = mode == QLatin1String("3")   ? QStringLiteral("3D-Fix")
             : mode == QLatin1String("2") ? QStringLiteral("2D-Fix")
             : mode == QLatin1String("1") ? QStringLiteral("No-Fix")
                                          : QStringLiteral("unknown");
    for (int i = 0; i < 12; ++i)
        r.satellites[size_t(i)] = Field(f, 4 + i).trimmed();
    r.pdop = *pdop;
    r.hdop = *hdop;
    r.vdop = *vdop;
    r.checksumOk = true;
    result = r;
    return true;
}

bool ParseGsv(const QString& sentence, GsvResult& result) {
    const std::optional<QStringList> accepted = AcceptedFields(sentence, "GSV", 4, result);
    if (!accepted)
        return false;
    const QStringList& f = *accepted;
    GsvResult r;
    const auto count = ShortValue(Field(f, 2));
    const auto number = ShortValue(Field(f, 3));
    const auto inView = ShortValue(Field(f, 4));
    if (!count || !number || !inView)
        return false;
    r.messageCount = *count;
    r.messageNumber = *number;
    r.satellitesInView = *inView;
    // The last message of a cycle carries fewer than four satellites.
    for (int i = 0; i < 4 && 5 + 4 * i <= f.size(); ++i) {
        const int base = 5 + 4 * i;
        const auto prn = ShortValue(Field(f, base));
        const auto elevation = ShortValue(Field(f, base + 1));
        const auto azimuth = ShortValue(Field(f, base + 2));
        const auto snr = ShortValue(Field(f, base + 3));
        if (!prn || !elevation || !azimuth || !snr)
            return false;
        r.satellite[size_t(i)] = *prn;
        r.elevation[size_t(i)] = *elevation;
        r.azimuth[size_t(i)] = *azimuth;
        r.snr[size_t(i)] = *snr;
        r.satellitesInMessage = i + 1;
    }
    r.checksumOk = true;
    result = r;
    return true;
}

QStringList GsvLogLines(const GsvResult& gsv) {
    QStringList lines;
    for (int i = 0; i < gsv.satellitesInMessage && i < 4; ++i) {
        const auto k = size_t(i);
        lines << QStringLiteral("[%1] [%2] [%3] [%4] [%5] [%6] [%7]\r\n")
                     .arg(gsv.messageCount)
                     .arg(gsv.messageNumber)
                     .arg(gsv.satellitesInView)
                     .arg(gsv.satellite[k])
                     .arg(gsv.elevation[k])
                     .arg(gsv.azimuth[k])
                     .arg(gsv.snr[k]);
    }
    return lines;
}

QString LocatorFromPosition(double latitude, double longitude) {
    if (!std::isfinite(latitude) || !std::isfinite(longitude))
        return {};
    // Just inside the last square, so that 90 N and 180 E stay within "R".
    const double lon = qBound(0.0, longitude + 180.0, 359.99999999);
    const double lat = qBound(0.0, latitude + 90.0, 179.99999999);
    auto whole = [](double v) { return qint64(std::floor(v)); };
    QString l;
    l += QChar(char16_t(65 + whole(lon / 20)));
    l += QChar(char16_t(65 + whole(lat / 10)));
    l += QChar(char16_t(48 + whole(lon / 2) % 10));
    l += QChar(char16_t(48 + whole(lat) % 10));
    l += QChar(char16_t(65 + whole(lon * 12) % 24));
    l += QChar(char16_t(65 + whole(lat * 24) % 24));
    l += QChar(char16_t(48 + whole(lon * 120) % 10));
    l += QChar(char16_t(48 + whole(lat * 240) % 10));
    l += QChar(char16_t(65 + whole(lon * 2880) % 24));
    l += QChar(char16_t(65 + whole(lat * 5760) % 24));
    return l;
}

double GpsState::signedLatitude() const {
    return latitudeHemisphere == QLatin1String("S") ? -latitude : latitude;
}

double GpsState::signedLongitude() const {
    return longitudeHemisphere == QLatin1String("W") ? -longitude : longitude;
}

FixView EvaluateFix(const GpsState& state) {
    FixView v;
    v.locator = LocatorFromPosition(state.signedLatitude(), state.signedLongitude());
    v.red = state.gsa.mode == QLatin1String("2D-Fix");
    const bool fixMode = v.red || state.gsa.mode == QLatin1String("3D-Fix");
    // A fix reported before any position arrived has no locator of its own yet.
    v.fix = fixMode && state.hasPosition;
    v.gridText = v.fix ? v.locator : QStringLiteral("GPS NO FIX");
    return v;
}

NmeaReceiver::Handled NmeaReceiver::receive(const QByteArray& chunk) {
    Handled out;
    m_text += QString::fromLatin1(chunk);
    static const QLatin1String starts[] = {QLatin1String("$GPRMC"), QLatin1String("$GPGGA"),
                                           QLatin1String("$GPGSA"), QLatin1String("$GPGSV")};
    qsizetype from = 0;
    for (;;) {
        const qsizetype end = m_text.indexOf(QLatin1String("\r\n"), from);
        if (end < 0)
            break;
        const QStringView line = QStringView(m_text).mid(from, end - from);
        // The last sentence start in the line: noise or a cut sentence before it is dropped.
        qsizetype at = -1;
        for (const QLatin1String& start : starts)
            at = qMax(at, line.lastIndexOf(start));
        if (at >= 0)
            handle(line.mid(at).toString(), out);
        from = end + 2;
    }
    m_text.remove(0, from);
    if (m_text.size() > MaxPendingText) {
        const qsizetype excess = m_text.size() - MaxPendingText;
        if (m_dropped == 0)
            qCInfo(lcGps, "receive text without line ends: the oldest part is dropped");
        m_dropped += excess;
        m_text.remove(0, excess);
    }
    return out;
}

void NmeaReceiver::handle(const QString& sentence, Handled& out) {
    bool accepted = false;
    bool gsv = false;
    if (ParseRmc(sentence, m_state.rmc)) {
        accepted = out.rmc = true;
        if (m_state.rmc.hasPosition) {
            m_state.latitude = m_state.rmc.latitude;
            m_state.latitudeHemisphere = m_state.rmc.latitudeHemisphere;
            m_state.longitude = m_state.rmc.longitude;
            m_state.longitudeHemisphere = m_state.rmc.longitudeHemisphere;
            m_state.hasPosition = true;
        }
    } else if (ParseGga(sentence, m_state.gga)) {
        accepted = out.gga = true;
        if (m_state.gga.hasPosition) {
            m_state.latitude = m_state.gga.latitude;
            m_state.latitudeHemisphere = m_state.gga.latitudeHemisphere;
            m_state.longitude = m_state.gga.longitude;
            m_state.longitudeHemisphere = m_state.gga.longitudeHemisphere;
            m_state.hasPosition = true;
        }
    } else if (ParseGsa(sentence, m_state.gsa)) {
        accepted = out.gsa = true;
    } else if (ParseGsv(sentence, m_state.gsv)) {
        accepted = out.gsv = gsv = true;
    }
    if (!accepted)
        return;
    out.log << sentence + QStringLiteral("\r\n");
    if (gsv)
        out.log << GsvLogLines(m_state.gsv);
}
