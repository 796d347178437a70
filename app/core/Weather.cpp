#include "Weather.h"

#include "Settings.h"

#include <QRegularExpression>
#include <QStringDecoder>
#include <QtGlobal>

namespace {
struct WeatherKey {
    const char* key;
    int offset; // piece starts this many characters after the key's position
    int length;
    bool sets; // the first key sets the label, the others append
};

const WeatherKey kKeys[] = {
    {"Outside Humidity", 61, 3, true},
    {"Dew Point", 54, 5, false},
    {"Barometer", 54, 9, false},
    {"Average Wind Speed", 62, 9, false},
};

// The 1-based piece of text starting at position, as Basic's Mid cuts it.
QString Mid(const QString& text, qsizetype position, qsizetype length) {
    if (position < 1 || position > text.size())
        return {};
    return text.mid(position - 1, length);
}
} // namespace

QString ScrapeWeather(const QString& page, const QString& label) {
    QString result = label;
    for (const WeatherKey& k : kKeys) {
        const QString key = QString::fromLatin1(k.key);
        for (qsizetype i = 3000; i <= 10000; ++i) {
            if (Mid(page, i, key.size()) != key)
                continue;
            const QString piece = Mid(page, i + k.offset, k.length);
            if (k.sets)
                result = piece;
            else
                result += QStringLiteral(" : ") + piece;
        }
    }
    return result;
}

QUrl WeatherPageUrl() {
    const QByteArray url = qgetenv("FARSCAN_WEATHER_URL");
    if (!url.isEmpty())
        return QUrl(QString::fromUtf8(url));
    // The station's own weather computer publishes its current-conditions page on the LAN.
    return QUrl(QStringLiteral("http://weather.local/Current_Vantage_Pro.htm"));
}

namespace {
QByteArray CharsetIn(const QByteArray& text) {
    static const QRegularExpression charset(
        QStringLiteral("charset\\s*=\\s*[\"']?\\s*([A-Za-z0-9._:-]+)"),
        QRegularExpression::CaseInsensitiveOption);
    const QRegularExpressionMatch m = charset.match(QString::fromLatin1(text));
    return m.hasMatch() ? m.captured(1).toLatin1().toLower() : QByteArray();
}
} // namespace

QString DecodeWeatherPage(const QByteArray& body, const QString& contentType) {
    QByteArray charset = CharsetIn(contentType.toLatin1());
    if (charset.isEmpty())
        charset = CharsetIn(body.left(4096)); // <meta charset=...> sits in the head
    if (charset == "utf-8" || charset == "utf8")
        return QString::fromUtf8(body);
    // Browsers read Latin-1 labels as Windows-1252 too; it is a superset for printable text.
    if (charset.isEmpty() || charset == "windows-1252" || charset == "cp1252" ||
        charset == "iso-8859-1" || charset == "latin1" || charset == "us-ascii" ||
        charset == "ascii")
        return Settings::DecodeCp1252(body);
    QStringDecoder decoder(charset.constData());
    if (decoder.isValid()) {
        QString text = decoder.decode(body);
        if (!decoder.hasError())
            return text;
    }
    return Settings::DecodeCp1252(body);
}
