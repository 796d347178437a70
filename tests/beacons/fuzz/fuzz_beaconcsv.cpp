// Beacon lists as any program or editor may write them: the reading never fails badly, every row
// it keeps is valid, and what is written for those rows reads back as the very same rows.
#include "BeaconCsv.h"
#include "Locator.h"

#include <cmath>
#include <cstdlib>

namespace {

void check(bool condition) {
    if (!condition)
        std::abort();
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const QByteArray bytes(reinterpret_cast<const char*>(data), qsizetype(size));
    const BeaconCsvContent content = ParseBeaconCsv(bytes);
    for (const QString& e : content.errors)
        check(e.startsWith(QLatin1String("line ")));
    for (const BeaconCsvRow& r : content.rows) {
        check(!r.callsign.isEmpty() && r.callsign == r.callsign.trimmed());
        check(r.callsign.size() <= BeaconCallsignMaxLength);
        check(r.comment.size() <= BeaconCommentMaxLength);
        check(r.locator == r.locator.toUpper() && ValidateLocator(r.locator));
        check(std::isfinite(r.qrgKhz) && r.qrgKhz > 0.0);
        check(r.line >= 1);
    }

    const QByteArray written = BeaconCsvText(content.rows);
    const BeaconCsvContent back = ParseBeaconCsv(written);
    check(back.errors.isEmpty());
    check(back.rows.size() == content.rows.size());
    for (size_t i = 0; i < back.rows.size(); ++i) {
        const BeaconCsvRow& a = content.rows[i];
        const BeaconCsvRow& b = back.rows[i];
        check(a.callsign == b.callsign && a.locator == b.locator && a.qrgKhz == b.qrgKhz &&
              a.comment == b.comment);
    }
    check(BeaconCsvText(back.rows) == written);
    return 0;
}
