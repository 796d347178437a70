#include "Locator.h"

#include <cmath>

namespace {

bool FieldLetter(QChar c) {
    return c.unicode() >= 'A' && c.unicode() <= 'R';
}
bool Digit(QChar c) {
    return c.unicode() >= '0' && c.unicode() <= '9';
}
// Codes 'A' (65) to 'x' (120): capitals, the six signs between them and lower case, and a to x.
bool SubsquareLetter(QChar c) {
    return c.unicode() >= 'A' && c.unicode() <= 'x';
}

} // namespace

bool MatchesLocatorPattern(const QString& text) {
    const qsizetype n = text.size();
    if (n != 4 && n != 6 && n != 8 && n != 10)
        return false;
    if (!FieldLetter(text[0]) || !FieldLetter(text[1]) || !Digit(text[2]) || !Digit(text[3]))
        return false;
    if (n >= 6 && (!SubsquareLetter(text[4]) || !SubsquareLetter(text[5])))
        return false;
    if (n >= 8 && (!Digit(text[6]) || !Digit(text[7])))
        return false;
    if (n == 10 && (!SubsquareLetter(text[8]) || !SubsquareLetter(text[9])))
        return false;
    return true;
}

bool ValidateLocator(const QString& text) {
    return MatchesLocatorPattern(text);
}

std::optional<LonLat> LocatorToLonLat(const QString& locator) {
    const QString loc = locator.toUpper();
    const qsizetype n = loc.size();
    if (n < 6)
        return std::nullopt;
    auto c = [&loc](int position) { return double(loc[position - 1].unicode()); };
    LonLat p;
    p.lon = (c(1) - 74) * 20 + (c(3) - 48) * 2 + (c(5) - 65) / 12;
    p.lat = (c(2) - 74) * 10 + (c(4) - 48) + (c(6) - 65) / 24;
    if (n >= 8) {
        p.lon += (c(7) - 48) / 120;
        p.lat += (c(8) - 48) / 240;
    }
    if (n >= 10) {
        p.lon += (c(9) - 65) / 2880;
        p.lat += (c(10) - 65) / 5760;
    }
    return p;
}

QString PositionNumberText(double value, QChar decimalPoint) {
    if (value == 0.0)
        value = 0.0; // no "-0"
    QString text = QString::number(value, 'g', 15);
    if (text.contains(QLatin1Char('e')) && std::isfinite(value)) {
        // Fixed notation with the same 15 significant digits, trailing zeros dropped.
        const int exponent = int(std::floor(std::log10(std::fabs(value))));
        text = QString::number(value, 'f', qBound(0, 14 - exponent, 330));
        if (text.contains(QLatin1Char('.'))) {
            while (text.endsWith(QLatin1Char('0')))
                text.chop(1);
            if (text.endsWith(QLatin1Char('.')))
                text.chop(1);
        }
    }
    text.replace(QLatin1Char('.'), decimalPoint);
    return text;
}

QString LonLatText(const LonLat& position, QChar localeDecimalPoint) {
    QString text = PositionNumberText(position.lon, localeDecimalPoint) + QLatin1Char(';') +
                   PositionNumberText(position.lat, localeDecimalPoint);
    text = ReplaceAll(text, QStringLiteral(","), QStringLiteral("."));
    return ReplaceAll(text, QStringLiteral(";"), QStringLiteral(","));
}

namespace {

QString ReplaceEachOnce(const QString& text, const QString& find, const QString& replacement) {
    QString result;
    qsizetype from = 0;
    for (;;) {
        const qsizetype at = text.indexOf(find, from);
        if (at < 0)
            break;
        result += QStringView(text).mid(from, at - from);
        result += replacement;
        from = at + find.size();
    }
    result += QStringView(text).mid(from);
    return result;
}

} // namespace

QString ReplaceAll(const QString& text, const QString& find, const QString& replacement) {
    if (find.isEmpty())
        return text;
    if (replacement.contains(find))
        return ReplaceEachOnce(text, find, replacement);
    // A replacement shorter than find shrinks the text at every step; a longer one may build
    // new occurrences for a long time, so the passes are bounded.
    QString result = text;
    const qsizetype limit = 4 * text.size() + 64;
    for (qsizetype pass = 0; pass < limit; ++pass) {
        const qsizetype at = result.indexOf(find);
        if (at < 0)
            return result;
        result.replace(at, find.size(), replacement);
    }
    return ReplaceEachOnce(text, find, replacement);
}

double ArcCosClamped(double& x) {
    const double pi = 4 * std::atan(1.0);
    if (x >= 1) {
        x = 1;
        return 0;
    }
    if (x <= -1) {
        x = -1;
        return pi;
    }
    return pi / 2 - std::atan(x / std::sqrt(1 - x * x));
}

PathResult ComputePath(const LonLat& home, const LonLat& target) {
    // Earth radii and the empirical correction of the mean-radius integration.
    const double a = 6378.14;
    const double b = 6356.755;
    const double k1 = 0.014;
    const double k2 = 1.8;
    const int n = 4;
    const double pi = 4 * std::atan(1.0);
    const double deg = pi / 180;

    const double c = a * a / b;
    const double Rm = (c + b * b / a) / 2;
    const double p = c - Rm;
    const double q = (a + c) / 2;
    const double s = c - q;
    const double t = (2 * Rm / a - 1) * pi;
    const double u = a - Rm;
    const double w = std::pow((1 - Rm / a) * 2 * pi, 2);

    const double lambda1 = home.lon * deg;
    const double phi1 = home.lat * deg;
    const double lambda2 = target.lon * deg;
    const double phi2 = target.lat * deg;
    const double dLambda = lambda2 - lambda1;

    double x =
        std::sin(phi1) * std::sin(phi2) + std::cos(phi1) * std::cos(phi2) * std::cos(dLambda);
    const double sigma = ArcCosClamped(x);

    double v = 0;
    if (std::fabs(x) < 1)
        v = (std::sin(phi2) * std::cos(phi1) -
             std::cos(phi2) * std::sin(phi1) * std::cos(dLambda)) /
            std::sqrt(1 - x * x);
    const double alpha = ArcCosClamped(v);

    const double h = sigma / n;
    double acc = 0;
    for (int i = 0; i < n; ++i) {
        const double theta = (2 * i + 1) * h / 2;
        double y = std::cos(theta) * std::sin(phi1) + std::sin(theta) * std::cos(phi1) * v;
        const double psi = ArcCosClamped(y);
        const double e = psi != 0 ? std::cos(phi1) * std::sin(psi) : 0.0;
        const double beta = std::fabs(e) < 1 ? std::atan(e / std::sqrt(1 - e * e)) : e * pi / 2;
        const double R1 = Rm + p * std::cos(2 * psi);
        const double R2 = q + s * std::cos(2 * psi);
        acc += (R1 + R2) / 2 + (R1 - R2) / 2 * std::cos(2 * beta);
    }
    const double Rp = acc / n;

    double corr = 0;
    const double d = sigma - t;
    if (d > 0)
        corr = d * d * (Rp - Rm) / w;
    const double g = std::sin((a - Rp) * pi / u);
    const double m = (1 - k1 * g) * t;
    if (sigma > m)
        corr += k2 * g * std::sin(pi * std::sqrt((pi - sigma) / (pi - m)));

    PathResult r;
    r.centralAngle = sigma;
    r.distanceKm = (Rp - corr) * sigma;
    double heading = 0;
    if (!(r.distanceKm < 0.5 || r.distanceKm > 20003.5)) {
        heading = alpha;
        if ((pi - std::fabs(dLambda)) * dLambda < 0)
            heading = 2 * pi - alpha;
    }
    r.heading = float(heading / deg);
    r.reverse = (r.heading > 360 || r.heading < 180) ? r.heading + 180 : r.heading - 180;
    return r;
}

QString CompletedLocator(const QString& locator) {
    QString upper = locator.toUpper();
    if (upper.size() == 4)
        upper += QStringLiteral("HH");
    return upper;
}
