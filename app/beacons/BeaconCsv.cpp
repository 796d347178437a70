#include "BeaconCsv.h"

#include "Database.h"
#include "Locator.h"
#include "Recordset.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QLocale>
#include <QSaveFile>
#include <QSet>
#include <QSqlError>
#include <QSqlQuery>
#include <QSqlRecord>
#include <QStringDecoder>
#include <algorithm>
#include <cmath>
#include <memory>

namespace {

// Far above any real directory; a bigger file is refused before it is read.
constexpr qint64 MaxCsvBytes = 16 * 1024 * 1024;
constexpr double MaxKhz = 1e9;

struct RawRecord {
    int line = 0;
    QList<QByteArray> fields;
    QString error; // why the record cannot be read; its fields are then incomplete
};

// Splits bytes into records by RFC 4180. Only ASCII bytes separate, so UTF-8 text inside
// fields passes through untouched. Line numbers count CR LF, LF and a lone CR as one break.
class CsvReader {
public:
    explicit CsvReader(const QByteArray& bytes) : m_b(bytes) {
        if (m_b.startsWith("\xEF\xBB\xBF"))
            m_pos = 3; // a byte-order mark some editors write
    }

    bool atEnd() const { return m_pos >= m_b.size(); }

    RawRecord next() {
        RawRecord r;
        r.line = m_line;
        for (;;) {
            QByteArray field;
            if (m_pos < m_b.size() && m_b[m_pos] == '"') {
                ++m_pos;
                bool closed = false;
                while (m_pos < m_b.size()) {
                    const char c = m_b[m_pos];
                    if (c == '"') {
                        if (m_pos + 1 < m_b.size() && m_b[m_pos + 1] == '"') {
                            field += '"';
                            m_pos += 2;
                            continue;
                        }
                        ++m_pos;
                        closed = true;
                        break;
                    }
                    countBreak();
                    field += c;
                    ++m_pos;
                }
                if (!closed) {
                    r.error = QStringLiteral("a quoted field is not closed");
                    return r;
                }
                if (m_pos < m_b.size() && !isBreak(m_b[m_pos]) && m_b[m_pos] != ',') {
                    r.error = QStringLiteral("text after the closing quote of field %1")
                                  .arg(r.fields.size() + 1);
                    skipLine();
                    return r;
                }
            } else {
                const qsizetype start = m_pos;
                while (m_pos < m_b.size() && m_b[m_pos] != ',' && !isBreak(m_b[m_pos]))
                    ++m_pos;
                field = m_b.mid(start, m_pos - start);
                if (field.contains('"')) {
                    r.error = QStringLiteral("a quote inside field %1, which is not quoted")
                                  .arg(r.fields.size() + 1);
                    skipLine();
                    return r;
                }
            }
            r.fields << field;
            if (m_pos < m_b.size() && m_b[m_pos] == ',') {
                ++m_pos;
                continue;
            }
            endLine();
            return r;
        }
    }

private:
    static bool isBreak(char c) { return c == '\n' || c == '\r'; }

    // Inside a quoted field: a line break there still starts a new line of the file.
    void countBreak() {
        const char c = m_b[m_pos];
        if (c == '\n' || (c == '\r' && (m_pos + 1 >= m_b.size() || m_b[m_pos + 1] != '\n')))
            ++m_line;
    }

    void endLine() {
        if (m_pos >= m_b.size())
            return;
        if (m_b[m_pos] == '\r' && m_pos + 1 < m_b.size() && m_b[m_pos + 1] == '\n')
            ++m_pos;
        ++m_pos;
        ++m_line;
    }

    void skipLine() {
        while (m_pos < m_b.size() && !isBreak(m_b[m_pos]))
            ++m_pos;
        endLine();
    }

    const QByteArray& m_b;
    qsizetype m_pos = 0;
    int m_line = 1;
};

bool hasControl(const QString& text, bool allowBreaks) {
    return std::any_of(text.cbegin(), text.cend(), [allowBreaks](QChar c) {
        const char16_t u = c.unicode();
        if (allowBreaks && (u == '\t' || u == '\n' || u == '\r'))
            return false;
        return u < 0x20 || u == 0x7f;
    });
}

// Digits with an optional fraction: "10368850", "144410.5". No sign, exponent or grouping.
bool parseKhz(const QString& text, double* khz) {
    const qsizetype dot = text.indexOf(QLatin1Char('.'));
    const QString whole = dot < 0 ? text : text.left(dot);
    const QString fraction = dot < 0 ? QString() : text.mid(dot + 1);
    auto digits = [](const QString& s) {
        return std::all_of(s.cbegin(), s.cend(),
                           [](QChar c) { return c.unicode() >= '0' && c.unicode() <= '9'; });
    };
    if (whole.isEmpty() || whole.size() > 12 || !digits(whole))
        return false;
    if (dot >= 0 && (fraction.isEmpty() || fraction.size() > 6 || !digits(fraction)))
        return false;
    bool ok = false;
    const double v = QLocale::c().toDouble(text, &ok);
    // Up to 1 THz: far above every band, and the shortest text of such a number reads back.
    if (!ok || !std::isfinite(v) || v <= 0.0 || v > MaxKhz)
        return false;
    *khz = v;
    return true;
}

bool isHeader(const QStringList& fields) {
    const QStringList names = QString::fromLatin1(BeaconCsvHeader).split(QLatin1Char(','));
    if (fields.size() != names.size())
        return false;
    for (qsizetype i = 0; i < names.size(); ++i)
        if (fields[i].trimmed().compare(names[i], Qt::CaseInsensitive) != 0)
            return false;
    return true;
}

// A field for the file: quoted when it holds a comma, a quote or a line break.
QByteArray csvField(const QString& text) {
    QByteArray bytes = text.toUtf8();
    if (!bytes.contains(',') && !bytes.contains('"') && !bytes.contains('\n') &&
        !bytes.contains('\r'))
        return bytes;
    bytes.replace('"', "\"\"");
    return '"' + bytes + '"';
}

QByteArray csvLine(const QStringList& fields) {
    QByteArray line;
    for (qsizetype i = 0; i < fields.size(); ++i) {
        if (i > 0)
            line += ',';
        line += csvField(fields[i]);
    }
    return line + "\r\n";
}

QString duplicateKey(const QString& callsign, double khz) {
    return callsign.toUpper() + QLatin1Char('\x1f') + QString::number(khz, 'g', 17);
}

QString sqlError(const QSqlError& error, const QString& fallback) {
    const QString text = error.text().trimmed();
    return text.isEmpty() ? fallback : text;
}

// The real names of the beacon columns (case as the table has them), or an error.
bool beaconColumns(QSqlDatabase& db, QStringList* names, QString* error) {
    const QSqlRecord record = db.record(QStringLiteral("PNT_Beacon"));
    names->clear();
    for (const char* wanted : {"beacon", "Locator", "qrg", "Equipment"}) {
        const int i = record.indexOf(QLatin1String(wanted));
        if (i < 0) {
            *error = QStringLiteral("the database has no table PNT_Beacon with the columns "
                                    "beacon, Locator, qrg and Equipment");
            return false;
        }
        names->append(QLatin1Char('"') + record.fieldName(i) + QLatin1Char('"'));
    }
    return true;
}

QString shortList(const QStringList& items, int shown) {
    QStringList out = items.mid(0, shown);
    QString text = out.join(QStringLiteral("; "));
    if (items.size() > shown)
        text += QStringLiteral("; and %1 more").arg(items.size() - shown);
    return text;
}

} // namespace

BeaconCsvContent ParseBeaconCsv(const QByteArray& bytes) {
    BeaconCsvContent out;
    CsvReader reader(bytes);
    bool first = true;
    while (!reader.atEnd()) {
        const RawRecord raw = reader.next();
        auto reject = [&](const QString& reason) {
            out.errors << QStringLiteral("line %1: %2").arg(raw.line).arg(reason);
        };
        if (!raw.error.isEmpty()) {
            first = false;
            reject(raw.error);
            continue;
        }
        if (raw.fields.size() == 1 && raw.fields[0].trimmed().isEmpty())
            continue; // a blank line
        QStringList fields;
        bool utf8 = true;
        for (const QByteArray& f : raw.fields) {
            // The file's byte-order mark is gone already; one at the start of a field is text,
            // or a field would read differently where it stands.
            QStringDecoder decoder(QStringDecoder::Utf8,
                                   QStringDecoder::Flag::Stateless |
                                       QStringDecoder::Flag::ConvertInitialBom);
            fields << decoder.decode(f);
            utf8 = utf8 && !decoder.hasError();
        }
        if (!utf8) {
            first = false;
            reject(QStringLiteral("the text is not UTF-8"));
            continue;
        }
        if (first) {
            first = false;
            if (isHeader(fields))
                continue;
        }
        if (fields.size() < 3 || fields.size() > 4) {
            reject(QStringLiteral("%1 fields; a row holds callsign, locator, qrg_khz and an "
                                  "optional comment")
                       .arg(fields.size()));
            continue;
        }
        BeaconCsvRow row;
        row.line = raw.line;
        row.callsign = fields[0].trimmed();
        row.locator = fields[1].trimmed().toUpper();
        const QString qrg = fields[2].trimmed();
        row.comment = fields.size() > 3 ? fields[3] : QString();
        if (row.callsign.isEmpty()) {
            reject(QStringLiteral("no callsign"));
            continue;
        }
        if (row.callsign.size() > BeaconCallsignMaxLength) {
            reject(
                QStringLiteral("callsign longer than %1 characters").arg(BeaconCallsignMaxLength));
            continue;
        }
        if (hasControl(row.callsign, false)) {
            reject(QStringLiteral("the callsign holds control characters"));
            continue;
        }
        // The shared check lets six signs between 'Z' and 'a' stand for subsquare letters;
        // a file from elsewhere must use letters.
        const bool plain = std::all_of(row.locator.cbegin(), row.locator.cend(),
                                       [](QChar c) { return c.isDigit() || c.isLetter(); });
        if (!plain || !ValidateLocator(row.locator)) {
            reject(QStringLiteral("\"%1\" is not a locator of 4, 6, 8 or 10 characters")
                       .arg(fields[1].trimmed().left(20)));
            continue;
        }
        if (!parseKhz(qrg, &row.qrgKhz)) {
            reject(QStringLiteral("frequency \"%1\" is not a positive number of kHz")
                       .arg(qrg.left(20)));
            continue;
        }
        if (row.comment.size() > BeaconCommentMaxLength) {
            reject(QStringLiteral("comment longer than %1 characters").arg(BeaconCommentMaxLength));
            continue;
        }
        if (hasControl(row.comment, true)) {
            reject(QStringLiteral("the comment holds control characters"));
            continue;
        }
        out.rows.push_back(std::move(row));
    }
    return out;
}

QString BeaconQrgText(double khz) {
    return QString::number(khz, 'f', QLocale::FloatingPointShortest);
}

QByteArray BeaconCsvText(const std::vector<BeaconCsvRow>& rows) {
    QByteArray text = QByteArray(BeaconCsvHeader) + "\r\n";
    for (const BeaconCsvRow& r : rows)
        text += csvLine({r.callsign, r.locator, BeaconQrgText(r.qrgKhz), r.comment});
    return text;
}

BeaconImportResult ImportBeaconCsv(const QString& connectionText, const QString& path) {
    BeaconImportResult result;
    result.source = QDir::toNativeSeparators(path);
    const QFileInfo info(path);
    if (path.isEmpty() || !info.exists()) {
        result.failure = QStringLiteral("the file does not exist");
        return result;
    }
    if (!info.isFile()) {
        result.failure = QStringLiteral("it is not a file");
        return result;
    }
    if (info.size() > MaxCsvBytes) {
        result.failure =
            QStringLiteral("the file is too large for a beacon list (%1 bytes)").arg(info.size());
        return result;
    }
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        result.failure = file.errorString();
        return result;
    }
    const QByteArray bytes = file.read(MaxCsvBytes + 1);
    if (file.error() != QFileDevice::NoError) {
        result.failure = file.errorString();
        return result;
    }
    return ImportBeaconCsvBytes(connectionText, bytes, result.source);
}

BeaconImportResult ImportBeaconCsvBytes(const QString& connectionText, const QByteArray& bytes,
                                        const QString& source) {
    BeaconImportResult result;
    result.source = source;
    if (bytes.size() > MaxCsvBytes) {
        result.failure = QStringLiteral("the file is too large for a beacon list");
        return result;
    }
    const BeaconCsvContent content = ParseBeaconCsv(bytes);
    result.errors = content.errors;

    DbConnection db;
    if (!db.open(connectionText)) {
        result.failure = QStringLiteral("the database cannot be opened: %1").arg(db.lastError());
        return result;
    }
    const std::shared_ptr<DbHandle> handle = db.handle();
    QString error;
    if (!handle->fileStillThere(&error)) {
        result.failure = error;
        return result;
    }
    QSqlDatabase& sql = handle->database();
    QStringList columns;
    if (!beaconColumns(sql, &columns, &error)) {
        result.failure = error;
        return result;
    }

    QSet<QString> known;
    {
        QSqlQuery query(sql);
        if (!query.exec(
                QStringLiteral("SELECT %1, %2 FROM PNT_Beacon").arg(columns[0], columns[2]))) {
            result.failure =
                sqlError(query.lastError(), QStringLiteral("reading the beacons failed"));
            return result;
        }
        while (query.next()) {
            bool ok = false;
            const double khz = query.value(1).toDouble(&ok);
            if (ok && !query.value(0).isNull())
                known.insert(duplicateKey(query.value(0).toString().trimmed(), khz));
        }
    }

    if (!sql.transaction()) {
        result.failure = QStringLiteral("the database refused a transaction: %1")
                             .arg(sqlError(sql.lastError(), QStringLiteral("unknown error")));
        return result;
    }
    auto abandon = [&](const QString& why) {
        sql.rollback();
        result.imported = 0;
        result.duplicates = 0;
        result.duplicateRows.clear();
        result.failure = why;
        return result;
    };
    QSqlQuery insert(sql);
    if (!insert.prepare(QStringLiteral("INSERT INTO PNT_Beacon (%1) VALUES (?, ?, ?, ?)")
                            .arg(columns.join(QStringLiteral(", ")))))
        return abandon(sqlError(insert.lastError(), QStringLiteral("INSERT refused")));
    for (const BeaconCsvRow& row : content.rows) {
        const QString key = duplicateKey(row.callsign, row.qrgKhz);
        if (known.contains(key)) {
            ++result.duplicates;
            result.duplicateRows << QStringLiteral("line %1: %2 on %3 kHz is already in the "
                                                   "directory")
                                        .arg(row.line)
                                        .arg(row.callsign, BeaconQrgText(row.qrgKhz));
            continue;
        }
        insert.bindValue(0, row.callsign);
        insert.bindValue(1, row.locator);
        insert.bindValue(2, row.qrgKhz);
        insert.bindValue(3, row.comment);
        if (!insert.exec())
            return abandon(QStringLiteral("storing line %1 failed: %2")
                               .arg(row.line)
                               .arg(sqlError(insert.lastError(), QStringLiteral("INSERT failed"))));
        known.insert(key);
        ++result.imported;
    }
    insert.finish();
    if (!handle->fileStillThere(&error))
        return abandon(error);
    if (!sql.commit())
        return abandon(sqlError(sql.lastError(), QStringLiteral("COMMIT failed")));
    result.ok = true;
    return result;
}

QString BeaconImportMessage(const BeaconImportResult& result) {
    const QString from =
        result.source.isEmpty() ? QString() : QStringLiteral(" from ") + result.source;
    if (!result.ok)
        return QStringLiteral("Beacon import%1 failed: %2. No beacon was added.")
            .arg(from, result.failure);
    QString text = result.imported == 1
                       ? QStringLiteral("1 beacon imported%1.").arg(from)
                       : QStringLiteral("%1 beacons imported%2.").arg(result.imported).arg(from);
    if (result.duplicates > 0)
        text += QStringLiteral(" %1 already in the directory, skipped.").arg(result.duplicates);
    if (!result.errors.isEmpty())
        text += QStringLiteral(" %1 malformed %2 skipped: %3.")
                    .arg(result.errors.size())
                    .arg(result.errors.size() == 1 ? QStringLiteral("row") : QStringLiteral("rows"))
                    .arg(shortList(result.errors, 3));
    return text;
}

BeaconExportResult ExportBeaconCsv(const QString& connectionText, const QString& path) {
    BeaconExportResult result;
    result.path = QDir::toNativeSeparators(path);
    if (path.isEmpty()) {
        result.failure = QStringLiteral("no file was named");
        return result;
    }
    struct Stored {
        QString callsign, locator, qrg, comment;
        double khz;
    };
    std::vector<Stored> rows;
    {
        DbConnection db;
        if (!db.open(connectionText)) {
            result.failure =
                QStringLiteral("the database cannot be opened: %1").arg(db.lastError());
            return result;
        }
        const std::shared_ptr<DbHandle> handle = db.handle();
        QSqlDatabase& sql = handle->database();
        QStringList columns;
        QString error;
        if (!beaconColumns(sql, &columns, &error)) {
            result.failure = error;
            return result;
        }
        QSqlQuery query(sql);
        if (!query.exec(QStringLiteral("SELECT %1 FROM PNT_Beacon")
                            .arg(columns.join(QStringLiteral(", "))))) {
            result.failure =
                sqlError(query.lastError(), QStringLiteral("reading the beacons failed"));
            return result;
        }
        while (query.next()) {
            Stored s;
            s.callsign = DbValueText(query.value(0));
            s.locator = DbValueText(query.value(1));
            bool numeric = false;
            s.khz = query.value(2).toDouble(&numeric);
            if (!numeric || !std::isfinite(s.khz))
                s.khz = 0.0;
            // A number is written in the file's form; anything else as stored, and the import
            // will report it.
            s.qrg = numeric && std::isfinite(s.khz) && !query.value(2).isNull()
                        ? BeaconQrgText(s.khz)
                        : DbValueText(query.value(2));
            s.comment = DbValueText(query.value(3));
            rows.push_back(std::move(s));
        }
    }
    std::stable_sort(rows.begin(), rows.end(), [](const Stored& a, const Stored& b) {
        const int byName = a.callsign.compare(b.callsign, Qt::CaseInsensitive);
        if (byName != 0)
            return byName < 0;
        return a.khz < b.khz;
    });

    QByteArray text = QByteArray(BeaconCsvHeader) + "\r\n";
    for (const Stored& s : rows)
        text += csvLine({s.callsign, s.locator, s.qrg, s.comment});
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly)) {
        result.failure = file.errorString();
        return result;
    }
    if (file.write(text) != text.size() || !file.commit()) {
        result.failure = file.errorString();
        file.cancelWriting();
        return result;
    }
    result.ok = true;
    result.exported = int(rows.size());
    return result;
}

QString BeaconExportMessage(const BeaconExportResult& result) {
    if (!result.ok)
        return QStringLiteral("Beacon export to %1 failed: %2. No file was written.")
            .arg(result.path, result.failure);
    return result.exported == 1
               ? QStringLiteral("1 beacon exported to %1.").arg(result.path)
               : QStringLiteral("%1 beacons exported to %2.").arg(result.exported).arg(result.path);
}
