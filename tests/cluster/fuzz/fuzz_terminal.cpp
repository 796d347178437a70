// Arbitrary server bytes in arbitrary deliveries: the decoder and the terminal never fail, the
// terminal keeps its bound and its line breaks whole, and spot lines parse without harm.
#include "ClusterSpots.h"
#include "ClusterTerminal.h"

#include <cstdlib>

namespace {

void check(bool condition) {
    if (!condition)
        std::abort();
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    ClusterDecoder decoder;
    TerminalText terminal;
    SpotLineSplitter lines;
    size_t at = 0;
    while (at < size) {
        // The first byte of each delivery says how long it is.
        const size_t length = qMin<size_t>(size - at - 1, data[at]);
        const QByteArray bytes(reinterpret_cast<const char*>(data + at + 1), qsizetype(length));
        at += length + 1;
        QByteArray reply;
        const QString text = decoder.decode(bytes, &reply);
        check(!text.contains(QChar(0)));
        check(reply.size() % 3 == 0);
        const TerminalEdit edit = AppendToTerminal(terminal, text);
        check(terminal.size() <= TerminalText::Limit + edit.inserted.size());
        const QString& held = terminal.text();
        for (qsizetype i = 0; i < held.size(); ++i) {
            const bool cr = held.at(i) == QLatin1Char('\r');
            check(cr == (i + 1 < held.size() && held.at(i + 1) == QLatin1Char('\n')));
            if (held.at(i) == QLatin1Char('\n'))
                check(i > 0 && held.at(i - 1) == QLatin1Char('\r'));
            check(held.at(i) != QChar(8));
        }
        for (const QString& line : lines.add(text)) {
            ClusterSpot spot;
            if (ParseSpotLine(line, &spot)) {
                check(!spot.dxCall.isEmpty());
                const QString digits = SpotFrequencyDigits(spot.frequency);
                check(!digits.isEmpty());
                SpotOnStationBand(digits);
            }
        }
    }
    AppendToTerminal(terminal, decoder.flush());
    return 0;
}
