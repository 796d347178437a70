// Country files as any editor or download may leave them: the reading never fails badly, every
// row it gives is a usable LIKE pattern in lookup order, and CR LF or CR reads as LF does.
#include "CountryFile.h"

#include <QStringList>
#include <cstdlib>

namespace {

void check(bool condition) {
    if (!condition)
        std::abort();
}

bool callText(const QString& text) {
    if (text.isEmpty())
        return false;
    for (QChar c : text) {
        const char16_t u = c.unicode();
        if (!((u >= 'A' && u <= 'Z') || (u >= '0' && u <= '9') || u == '/'))
            return false;
    }
    return true;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const QByteArray bytes(reinterpret_cast<const char*>(data), qsizetype(size));
    const CountryFileContent content = ParseCountryFile(bytes);
    const int lines = int(bytes.count('\n') + bytes.count('\r')) + 1;
    static const QStringList continents = {"AF", "AN", "AS", "EU", "NA", "OC", "SA"};

    check(content.problemCount >= content.problems.size());
    check(content.problems.size() <= CountryFileContent::MaxProblemTexts);
    for (const QString& p : content.problems)
        check(p.startsWith(QLatin1String("line ")));
    for (size_t i = 0; i < content.rows.size(); ++i) {
        const CountryRow& r = content.rows[i];
        // A whole call matches only itself; a prefix is the prefix and one "%" at its end.
        if (r.exactCall)
            check(callText(r.dxcccode));
        else
            check(r.dxcccode.endsWith(QLatin1Char('%')) && callText(r.dxcccode.chopped(1)));
        check(!r.country.trimmed().isEmpty());
        check(!r.prefix.isEmpty());
        check(continents.contains(r.continent));
        check(r.cqZone >= 1 && r.cqZone <= 40 && r.ituZone >= 1 && r.ituZone <= 90);
        check(r.line >= 1 && r.line <= lines);
        if (i > 0) {
            // Least specific first: prefixes by length, then whole calls.
            const CountryRow& before = content.rows[i - 1];
            check(!before.exactCall || r.exactCall);
            if (!before.exactCall && !r.exactCall)
                check(before.dxcccode.size() <= r.dxcccode.size());
        }
    }

    // Every line end (CR LF, a lone CR) as LF: the same lines, so the same rows.
    QByteArray lf;
    for (qsizetype i = 0; i < bytes.size(); ++i) {
        if (bytes[i] != '\r')
            lf += bytes[i];
        else if (i + 1 >= bytes.size() || bytes[i + 1] != '\n')
            lf += '\n';
    }
    const CountryFileContent again = ParseCountryFile(lf);
    check(again.rows.size() == content.rows.size());
    check(again.problemCount == content.problemCount && again.entities == content.entities);
    for (size_t i = 0; i < again.rows.size(); ++i) {
        const CountryRow& a = content.rows[i];
        const CountryRow& b = again.rows[i];
        check(a.dxcccode == b.dxcccode && a.country == b.country && a.prefix == b.prefix &&
              a.continent == b.continent && a.cqZone == b.cqZone && a.ituZone == b.ituZone &&
              a.line == b.line);
    }
    return 0;
}
