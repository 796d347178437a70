// ADIF files as any program or accident may leave them: the reader always ends, never reads
// outside the bytes, reports records in order with offsets inside the file, and every record
// it reads writes back into a record that reads as the same log texts.
#include "Adif.h"

#include <QStringList>
#include <cstdlib>

namespace {

void check(bool condition) {
    if (!condition)
        std::abort();
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    // The reader gets exactly the input's bytes (a copy the sanitizer fences in).
    const QByteArray bytes(reinterpret_cast<const char*>(data), qsizetype(size));
    AdifReader reader(bytes);
    AdifRecord record;
    int number = 0;
    qint64 lastOffset = -1;
    qint64 lastPosition = 0;
    while (reader.next(record)) {
        check(record.number == ++number);
        check(record.offset > lastOffset && record.offset < qint64(size));
        check(reader.position() >= lastPosition && reader.position() <= qint64(size));
        check(record.ended || reader.position() == qint64(size));
        lastOffset = record.offset;
        lastPosition = reader.position();
        for (const auto& [name, value] : record.fields)
            check(!name.isEmpty() && name == name.toUpper());

        const QStringList values = AdifLogValues(record);
        check(values.size() == AdifLogColumns().size());
        const QByteArray text = AdifRecordText(values);
        AdifReader again(text);
        AdifRecord back;
        bool empty = true;
        for (const QString& v : values)
            empty = empty && v.isEmpty();
        if (empty) { // "<EOR>" alone is no record
            check(!again.next(back));
            continue;
        }
        check(again.next(back));
        check(back.problem.isEmpty() && back.ended);
        check(AdifLogValues(back) == values);
        check(!again.next(back));
    }
    check(reader.position() == qint64(size));
    return 0;
}
