#pragma once

// The weather-station page shown on the main window: four readings cut out of the page's text
// at fixed offsets after their keys.

#include <QString>
#include <QUrl>

// The label text after scanning page: each "Outside Humidity" found sets it anew, each of the
// other keys found appends " : " and its reading. Keys are looked for at 1-based positions
// 3000 to 10000 only.
QString ScrapeWeather(const QString& page, const QString& label);

// The page's address: FARSCAN_WEATHER_URL when set, else the station's default page.
QUrl WeatherPageUrl();

// What is read of the page at most; a larger (or endless) page is given up.
inline constexpr int WeatherPageLimit = 1 << 20;

// The page's text in the character set it declares (the Content-Type header's charset, else a
// charset in the page's own meta tags), else Windows-1252, which weather-station software
// writes on Windows.
QString DecodeWeatherPage(const QByteArray& body, const QString& contentType = QString());
