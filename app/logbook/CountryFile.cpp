#include "CountryFile.h"

#include "Database.h"
#include "LogbookLog.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QHash>
#include <QSqlError>
#include <QSqlQuery>
#include <QSqlRecord>
#include <algorithm>
#include <cmath>
#include <memory>

namespace {

// Far above the real file (about 330 KB); a bigger file is not a country file.
constexpr qint64 MaxCountryFileBytes = 32 * 1024 * 1024;

struct Entity {
    QString name;
    QString prefix;
    QString continent;
    int cqZone = 0;
    int ituZone = 0;
    bool onDxccList = true;
    int line = 0;
};

class Parser {
public:
    explicit Parser(CountryFileContent& out) : m_out(out) {}

    void line(int number, const QString& text) {
        if (text.trimmed().isEmpty())
            return;
        if (text.contains(QLatin1Char(':'))) {
            // Prefixes never hold ':': this is an entity line.
            if (m_state == State::InList)
                problem(number, QStringLiteral("the prefix list of %1 (line %2) has no closing ';'")
                                    .arg(m_entity.name)
                                    .arg(m_entity.line));
            entityLine(number, text);
            return;
        }
        switch (m_state) {
        case State::Idle:
            problem(number, QStringLiteral("prefixes without an entity line before them"));
            if (!text.contains(QLatin1Char(';')))
                m_state = State::Skipping;
            return;
        case State::Skipping:
            if (text.contains(QLatin1Char(';')))
                m_state = State::Idle;
            return;
        case State::InList:
            listText(number, text);
            return;
        }
    }

    void finish(int lastLine) {
        if (m_state == State::InList)
            problem(lastLine, QStringLiteral("the prefix list of %1 (line %2) has no closing ';'")
                                  .arg(m_entity.name)
                                  .arg(m_entity.line));
        m_state = State::Idle;
    }

private:
    enum class State { Idle, InList, Skipping };

    void problem(int number, const QString& reason) {
        ++m_out.problemCount;
        if (m_out.problems.size() < CountryFileContent::MaxProblemTexts)
            m_out.problems << QStringLiteral("line %1: %2").arg(number).arg(reason);
    }

    static bool hasControl(const QString& text) {
        return std::any_of(text.cbegin(), text.cend(),
                           [](QChar c) { return c.unicode() < 0x20 || c.unicode() == 0x7f; });
    }

    // Letters, digits and "/": what a callsign or prefix holds. Everything else (LIKE's "%"
    // and "_" above all) is refused.
    static bool isCallText(const QString& text) {
        return !text.isEmpty() && std::all_of(text.cbegin(), text.cend(), [](QChar c) {
            const char16_t u = c.unicode();
            return (u >= 'A' && u <= 'Z') || (u >= 'a' && u <= 'z') || (u >= '0' && u <= '9') ||
                   u == '/';
        });
    }

    static bool zone(const QString& text, int max, int* value) {
        bool ok = false;
        const int v = text.trimmed().toInt(&ok);
        if (!ok || v < 1 || v > max)
            return false;
        *value = v;
        return true;
    }

    static bool continent(const QString& text, QString* value) {
        static const QStringList known = {
            QStringLiteral("AF"), QStringLiteral("AN"), QStringLiteral("AS"), QStringLiteral("EU"),
            QStringLiteral("NA"), QStringLiteral("OC"), QStringLiteral("SA")};
        const QString c = text.trimmed().toUpper();
        if (!known.contains(c))
            return false;
        *value = c;
        return true;
    }

    static bool number(const QString& text) {
        bool ok = false;
        const double v = text.trimmed().toDouble(&ok);
        return ok && std::isfinite(v);
    }

    void entityLine(int number, const QString& text) {
        const QStringList parts = text.split(QLatin1Char(':'));
        m_state = State::Skipping; // until the line proves good
        if (parts.size() < 9) {
            problem(number, QStringLiteral("an entity line needs 8 fields, each ended by ':'"));
            return;
        }
        Entity e;
        e.line = number;
        e.name = parts[0].trimmed();
        if (e.name.isEmpty() || hasControl(e.name)) {
            problem(number, QStringLiteral("the entity has no usable name"));
            return;
        }
        if (!zone(parts[1], 40, &e.cqZone)) {
            problem(number, QStringLiteral("%1: CQ zone \"%2\" is not 1 to 40")
                                .arg(e.name, parts[1].trimmed()));
            return;
        }
        if (!zone(parts[2], 90, &e.ituZone)) {
            problem(number, QStringLiteral("%1: ITU zone \"%2\" is not 1 to 90")
                                .arg(e.name, parts[2].trimmed()));
            return;
        }
        if (!continent(parts[3], &e.continent)) {
            problem(
                number,
                QStringLiteral("%1: \"%2\" is not a continent").arg(e.name, parts[3].trimmed()));
            return;
        }
        if (!Parser::number(parts[4]) || !Parser::number(parts[5]) || !Parser::number(parts[6])) {
            problem(number, QStringLiteral("%1: latitude, longitude or UTC offset is not a number")
                                .arg(e.name));
            return;
        }
        e.prefix = parts[7].trimmed();
        QString bare = e.prefix;
        if (bare.startsWith(QLatin1Char('*'))) {
            e.onDxccList = false;
            bare.remove(0, 1);
        }
        if (!isCallText(bare)) {
            problem(number,
                    QStringLiteral("%1: \"%2\" is not a primary prefix").arg(e.name, e.prefix));
            return;
        }
        m_entity = e;
        m_state = State::InList;
        ++m_out.entities;
        // Prefixes written on the entity line itself, after its eighth ':'.
        const QString rest = parts.mid(8).join(QLatin1Char(':'));
        if (!rest.trimmed().isEmpty())
            listText(number, rest);
    }

    void listText(int number, const QString& text) {
        const qsizetype end = text.indexOf(QLatin1Char(';'));
        const QString list = end < 0 ? text : text.left(end);
        for (const QString& item : list.split(QLatin1Char(','))) {
            const QString token = item.trimmed();
            if (!token.isEmpty())
                entry(number, token);
        }
        if (end >= 0) {
            m_state = State::Idle;
            if (!text.mid(end + 1).trimmed().isEmpty())
                problem(number, QStringLiteral("text after the ';' that ends %1 is ignored")
                                    .arg(m_entity.name));
        }
    }

    // One prefix or "=call" with its overrides.
    void entry(int number, const QString& token) {
        CountryRow row;
        row.line = number;
        row.country = m_entity.name;
        row.prefix = m_entity.prefix;
        row.continent = m_entity.continent;
        row.cqZone = m_entity.cqZone;
        row.ituZone = m_entity.ituZone;
        qsizetype pos = 0;
        if (token.startsWith(QLatin1Char('='))) {
            row.exactCall = true;
            pos = 1;
        }
        static const QString openers = QStringLiteral("([<{~");
        static const QString closers = QStringLiteral(")]>}~");
        qsizetype baseEnd = pos;
        while (baseEnd < token.size() && !openers.contains(token[baseEnd]))
            ++baseEnd;
        const QString base = token.mid(pos, baseEnd - pos);
        if (!isCallText(base)) {
            problem(number, QStringLiteral("\"%1\" (%2) is not a prefix or callsign: only letters, "
                                           "digits and '/' are allowed")
                                .arg(token, m_entity.name));
            return;
        }
        pos = baseEnd;
        while (pos < token.size()) {
            const qsizetype kind = openers.indexOf(token[pos]);
            const qsizetype close = token.indexOf(closers[kind], pos + 1);
            if (close < 0) {
                problem(number, QStringLiteral("\"%1\" (%2): '%3' is not closed")
                                    .arg(token, m_entity.name, QString(token[pos])));
                return;
            }
            const QString value = token.mid(pos + 1, close - pos - 1);
            bool good = true;
            switch (kind) {
            case 0:
                good = zone(value, 40, &row.cqZone);
                break;
            case 1:
                good = zone(value, 90, &row.ituZone);
                break;
            case 2: {
                const QStringList ll = value.split(QLatin1Char('/'));
                good = ll.size() == 2 && Parser::number(ll[0]) && Parser::number(ll[1]);
                break;
            }
            case 3:
                good = continent(value, &row.continent);
                break;
            default:
                good = Parser::number(value);
                break;
            }
            if (!good) {
                problem(number, QStringLiteral("\"%1\" (%2): override \"%3\" is not valid")
                                    .arg(token, m_entity.name, token.mid(pos, close - pos + 1)));
                return;
            }
            pos = close + 1;
            if (pos < token.size() && !openers.contains(token[pos])) {
                problem(number, QStringLiteral("\"%1\" (%2): text after an override")
                                    .arg(token, m_entity.name));
                return;
            }
        }
        row.dxcccode = row.exactCall ? base.toUpper() : base.toUpper() + QLatin1Char('%');
        add(std::move(row));
    }

    // A pattern seen before keeps one row: an entity on the DXCC list wins over one that is
    // not, else the first stays.
    void add(CountryRow row) {
        const auto seen = m_index.constFind(row.dxcccode);
        if (seen != m_index.cend()) {
            ++m_out.duplicates;
            CountryRow& kept = m_out.rows[*seen];
            if (!kept.prefix.startsWith(QLatin1Char('*')) || !m_entity.onDxccList)
                return;
            kept = std::move(row);
            return;
        }
        m_index.insert(row.dxcccode, m_out.rows.size());
        m_out.rows.push_back(std::move(row));
    }

    CountryFileContent& m_out;
    State m_state = State::Idle;
    Entity m_entity;
    QHash<QString, size_t> m_index;
};

void setFailure(CountryTableResult& r, const QString& text) {
    r.ok = false;
    r.rows = 0;
    r.message = text + QStringLiteral(" The country table is unchanged.");
}

QString sqlError(const QSqlError& error, const QString& fallback) {
    const QString text = error.text().trimmed();
    return text.isEmpty() ? fallback : text;
}

QString quoted(const QString& name) {
    return QLatin1Char('"') + name + QLatin1Char('"');
}

} // namespace

CountryFileContent ParseCountryFile(const QByteArray& bytes) {
    CountryFileContent out;
    Parser parser(out);
    // Latin-1 maps every byte to a character, so no input is refused for its encoding.
    const QString text = QString::fromLatin1(bytes);
    int number = 1;
    qsizetype start = 0;
    const qsizetype size = text.size();
    for (qsizetype i = 0; i <= size; ++i) {
        if (i < size && text[i] != QLatin1Char('\n') && text[i] != QLatin1Char('\r'))
            continue;
        parser.line(number, text.mid(start, i - start));
        if (i < size && text[i] == QLatin1Char('\r') && i + 1 < size &&
            text[i + 1] == QLatin1Char('\n'))
            ++i; // CR LF ends one line
        start = i + 1;
        if (i < size)
            ++number;
    }
    parser.finish(number);
    // Least specific first, so the most specific match is the last one: prefixes by length,
    // then whole callsigns; equal ones in file order.
    std::stable_sort(out.rows.begin(), out.rows.end(),
                     [](const CountryRow& a, const CountryRow& b) {
                         if (a.exactCall != b.exactCall)
                             return !a.exactCall;
                         return !a.exactCall && a.dxcccode.size() < b.dxcccode.size();
                     });
    return out;
}

QString DefaultCountryFilePath() {
    const QString fromEnv = qEnvironmentVariable("FARSCAN_CTY_FILE");
    if (!fromEnv.isEmpty())
        return fromEnv;
    return QStringLiteral("/usr/share/hamradio-files/cty.dat");
}

CountryTableResult FillCountryTable(const QString& connectionText, const QString& ctyPath) {
    CountryTableResult result;
    const QString hint =
        QStringLiteral("The country file cty.dat comes with the Debian package hamradio-files "
                       "(apt install hamradio-files); a copy of your own can be chosen instead.");
    if (ctyPath.isEmpty()) {
        setFailure(result, QStringLiteral("No country file was named. ") + hint);
        return result;
    }
    const QFileInfo info(ctyPath);
    if (!info.exists()) {
        setFailure(result, QStringLiteral("The country file %1 does not exist. %2")
                               .arg(QDir::toNativeSeparators(ctyPath), hint));
        return result;
    }
    if (!info.isFile()) {
        setFailure(result, QStringLiteral("The country file %1 is not a file. %2")
                               .arg(QDir::toNativeSeparators(ctyPath), hint));
        return result;
    }
    if (info.size() > MaxCountryFileBytes) {
        setFailure(result, QStringLiteral("%1 is too large to be a country file (%2 bytes). %3")
                               .arg(QDir::toNativeSeparators(ctyPath))
                               .arg(info.size())
                               .arg(hint));
        return result;
    }
    QFile file(ctyPath);
    if (!file.open(QIODevice::ReadOnly)) {
        setFailure(result, QStringLiteral("The country file %1 cannot be read: %2. %3")
                               .arg(QDir::toNativeSeparators(ctyPath), file.errorString(), hint));
        return result;
    }
    const QByteArray bytes = file.read(MaxCountryFileBytes + 1);
    if (file.error() != QFileDevice::NoError) {
        setFailure(result, QStringLiteral("The country file %1 cannot be read: %2. %3")
                               .arg(QDir::toNativeSeparators(ctyPath), file.errorString(), hint));
        return result;
    }
    return FillCountryTableFromBytes(connectionText, bytes, QDir::toNativeSeparators(ctyPath));
}

CountryTableResult FillCountryTableFromBytes(const QString& connectionText, const QByteArray& bytes,
                                             const QString& sourceName) {
    CountryTableResult result;
    if (bytes.size() > MaxCountryFileBytes) {
        setFailure(result, QStringLiteral("%1 is too large to be a country file.").arg(sourceName));
        return result;
    }
    const CountryFileContent content = ParseCountryFile(bytes);
    result.entities = content.entities;
    result.problems = content.problemCount;
    result.details = content.problems;
    if (content.rows.empty()) {
        // Replacing the table by nothing would throw the old countries away.
        setFailure(result,
                   QStringLiteral("%1 holds no country entries%2.")
                       .arg(sourceName, content.problems.isEmpty()
                                            ? QString()
                                            : QStringLiteral(" (%1)").arg(content.problems[0])));
        return result;
    }

    DbConnection db;
    if (!db.open(connectionText)) {
        setFailure(result,
                   QStringLiteral("The database cannot be opened: %1.").arg(db.lastError()));
        return result;
    }
    const std::shared_ptr<DbHandle> handle = db.handle();
    QString error;
    if (!handle->fileStillThere(&error)) {
        setFailure(result, error);
        return result;
    }
    QSqlDatabase& sql = handle->database();
    // Only the columns the table has (an older table may lack some); the pattern and the
    // country are needed.
    const QSqlRecord record = sql.record(QStringLiteral("dxccdata"));
    const QString wanted[] = {QStringLiteral("ID"),        QStringLiteral("dxcccode"),
                              QStringLiteral("Country"),   QStringLiteral("Prefix"),
                              QStringLiteral("Continent"), QStringLiteral("CQzone"),
                              QStringLiteral("ITUzone")};
    int present[7];
    QStringList columns;
    for (int i = 0; i < 7; ++i) {
        present[i] = record.indexOf(wanted[i]);
        if (present[i] >= 0)
            columns << quoted(record.fieldName(present[i]));
    }
    if (present[1] < 0 || present[2] < 0) {
        setFailure(result,
                   QStringLiteral("The database has no table dxccdata with the columns dxcccode "
                                  "and Country."));
        return result;
    }
    if (!sql.transaction()) {
        setFailure(result, QStringLiteral("The database refused a transaction: %1.")
                               .arg(sqlError(sql.lastError(), QStringLiteral("unknown error"))));
        return result;
    }
    auto abandon = [&](const QString& why) {
        sql.rollback();
        setFailure(result, QStringLiteral("Writing the country table failed: %1.").arg(why));
        return result;
    };
    QSqlQuery query(sql);
    if (!query.exec(QStringLiteral("DELETE FROM dxccdata")))
        return abandon(sqlError(query.lastError(), QStringLiteral("DELETE failed")));
    QStringList marks;
    for (int i = 0; i < columns.size(); ++i)
        marks << QStringLiteral("?");
    if (!query.prepare(
            QStringLiteral("INSERT INTO dxccdata (%1) VALUES (%2)")
                .arg(columns.join(QStringLiteral(", ")), marks.join(QStringLiteral(", ")))))
        return abandon(sqlError(query.lastError(), QStringLiteral("INSERT refused")));
    int id = 0;
    for (const CountryRow& row : content.rows) {
        ++id;
        const QVariant values[7] = {id,
                                    row.dxcccode,
                                    row.country,
                                    row.prefix,
                                    row.continent,
                                    QString::number(row.cqZone),
                                    QString::number(row.ituZone)};
        int slot = 0;
        for (int i = 0; i < 7; ++i)
            if (present[i] >= 0)
                query.bindValue(slot++, values[i]);
        if (!query.exec())
            return abandon(QStringLiteral("%1 (line %2)")
                               .arg(sqlError(query.lastError(), QStringLiteral("INSERT failed")))
                               .arg(row.line));
    }
    query.finish();
    if (!handle->fileStillThere(&error))
        return abandon(error);
    if (!sql.commit())
        return abandon(sqlError(sql.lastError(), QStringLiteral("COMMIT failed")));

    result.ok = true;
    result.rows = int(content.rows.size());
    result.message =
        QStringLiteral("Country table filled from %1: %2 %3 of %4 %5.")
            .arg(sourceName)
            .arg(result.rows)
            .arg(result.rows == 1 ? QStringLiteral("prefix or callsign")
                                  : QStringLiteral("prefixes and callsigns"))
            .arg(result.entities)
            .arg(result.entities == 1 ? QStringLiteral("country") : QStringLiteral("countries"));
    if (result.problems > 0)
        result.message += QStringLiteral(" %1 malformed %2 skipped, the first: %3.")
                              .arg(result.problems)
                              .arg(result.problems == 1 ? QStringLiteral("entry was")
                                                        : QStringLiteral("entries were"))
                              .arg(content.problems.value(0));
    qCInfo(lcLogbook).noquote() << result.message;
    return result;
}

CountryTableResult EnsureCountryTable(const QString& connectionText) {
    {
        DbConnection db;
        if (!db.open(connectionText)) {
            CountryTableResult result;
            setFailure(result,
                       QStringLiteral("The database cannot be opened: %1.").arg(db.lastError()));
            return result;
        }
        QSqlQuery query(db.handle()->database());
        if (query.exec(QStringLiteral("SELECT COUNT(*) FROM dxccdata")) && query.next()) {
            const int rows = query.value(0).toInt();
            if (rows > 0) {
                CountryTableResult result;
                result.ok = true;
                result.rows = rows;
                return result;
            }
        }
    }
    return FillCountryTable(connectionText, DefaultCountryFilePath());
}
