// A weather page as any server may send it: a Content-Type line, then the body. Decoding and the
// scan of the readings never fail badly, whatever the charset or the size.
#include "Weather.h"

#include <QByteArray>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const QByteArray input(reinterpret_cast<const char*>(data), qsizetype(size));
    const qsizetype split = input.indexOf('\n');
    const QString contentType = QString::fromLatin1(split < 0 ? QByteArray() : input.left(split));
    const QByteArray body = split < 0 ? input : input.mid(split + 1);
    const QString page = DecodeWeatherPage(body, contentType);
    (void)ScrapeWeather(page, QStringLiteral("label"));
    return 0;
}
