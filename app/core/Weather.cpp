#include "Weather.h"

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
