// Arbitrary bytes into the receive text (in chunks, as a port delivers them), the four parsers
// and the gpsd report mapping: none may crash, and the receive text stays bounded.

#include "GpsdClient.h"
#include "Nmea.h"

#include <QByteArray>
#include <QString>
#include <cstddef>
#include <cstdint>
#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const QByteArray bytes(reinterpret_cast<const char*>(data), qsizetype(size));
    NmeaReceiver receiver;
    const qsizetype step = size > 0 ? 1 + data[0] % 64 : 1;
    for (qsizetype at = 0; at < bytes.size(); at += step)
        receiver.receive(bytes.mid(at, step));
    if (receiver.pendingText().size() > NmeaReceiver::MaxPendingText)
        std::abort();
    const QString text = QString::fromLatin1(bytes);
    RmcResult rmc;
    GgaResult gga;
    GsaResult gsa;
    GsvResult gsv;
    ParseRmc(text, rmc);
    ParseGga(text, gga);
    ParseGsa(text, gsa);
    ParseGsv(text, gsv);
    GsvLogLines(gsv);
    EvaluateFix(receiver.state());
    GpsdClient client;
    client.receive(bytes);
    return 0;
}
