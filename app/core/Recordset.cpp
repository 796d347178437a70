#include "Recordset.h"

#include <QDateTime>
#include <QRegularExpression>
#include <QSet>
#include <QSqlError>
#include <QSqlQuery>
#include <QSqlRecord>
#include <algorithm>
#include <cmath>

namespace {

const QString hiddenRowid = QStringLiteral("__farscan_rowid");

// An identifier as written in a statement: plain, [bracketed] or "quoted".
const QString identPattern = QStringLiteral(R"((?:[A-Za-z_][A-Za-z0-9_]*|\[[^\]]+\]|"[^"]+"))");

QString unquoted(const QString& ident) {
    if (ident.size() >= 2 &&
        ((ident.front() == QLatin1Char('[') && ident.back() == QLatin1Char(']')) ||
         (ident.front() == QLatin1Char('"') && ident.back() == QLatin1Char('"'))))
        return ident.mid(1, ident.size() - 2);
    return ident;
}

QString quoted(const QString& name) {
    QString inner = name;
    inner.replace(QLatin1Char('"'), QStringLiteral("\"\""));
    return QLatin1Char('"') + inner + QLatin1Char('"');
}

struct SimpleSelect {
    QString columns;
    QString table;
    QString rest;
};

// Recognises "SELECT <names or *> FROM <one table> [WHERE ...] [ORDER BY ...] [LIMIT ...]".
// Anything else (expressions, joins, grouping, compound selects) cannot be written back.
bool parseSimpleSelect(const QString& statement, SimpleSelect& out, QString& why) {
    static const QRegularExpression shape(
        QStringLiteral(R"(^\s*select\s+(.+?)\s+from\s+(%1)([\s;].*)?$)").arg(identPattern),
        QRegularExpression::CaseInsensitiveOption | QRegularExpression::DotMatchesEverythingOption);
    static const QRegularExpression columnList(
        QStringLiteral(R"(^\s*(?:%1\.)?(?:%1|\*)(?:\s*,\s*(?:%1\.)?(?:%1|\*))*\s*$)")
            .arg(identPattern));
    static const QRegularExpression restStart(QStringLiteral(R"(^(?:where|order|limit)\b)"),
                                              QRegularExpression::CaseInsensitiveOption);
    static const QRegularExpression forbidden(
        QStringLiteral(R"(\b(?:join|union|intersect|except|group|having|distinct)\b)"),
        QRegularExpression::CaseInsensitiveOption);

    const auto m = shape.match(statement);
    if (!m.hasMatch()) {
        why = QStringLiteral("the statement is not a plain SELECT ... FROM <table>");
        return false;
    }
    out.columns = m.captured(1);
    out.table = m.captured(2);
    out.rest = m.captured(3);
    if (!columnList.match(out.columns).hasMatch()) {
        why = QStringLiteral("the statement selects more than column names");
        return false;
    }
    QString rest = out.rest.trimmed();
    while (rest.endsWith(QLatin1Char(';')))
        rest = rest.chopped(1).trimmed();
    if (!rest.isEmpty() && !restStart.match(rest).hasMatch()) {
        why = QStringLiteral("the statement reads more than one table");
        return false;
    }
    if (forbidden.match(out.rest).hasMatch()) {
        why = QStringLiteral("the statement joins or groups rows");
        return false;
    }
    out.rest = rest.isEmpty() ? QString() : QLatin1Char(' ') + rest;
    return true;
}

bool isNumber(const QVariant& v) {
    switch (v.typeId()) {
    case QMetaType::Int:
    case QMetaType::UInt:
    case QMetaType::LongLong:
    case QMetaType::ULongLong:
    case QMetaType::Double:
    case QMetaType::Float:
    case QMetaType::Bool:
        return true;
    default:
        return false;
    }
}

bool isWholeNumber(const QVariant& v) {
    return isNumber(v) && v.typeId() != QMetaType::Double && v.typeId() != QMetaType::Float;
}

// SQLite's order of kinds: null, numbers, texts, blobs.
int kindRank(const QVariant& v) {
    if (!v.isValid() || v.isNull())
        return 0;
    if (isNumber(v))
        return 1;
    if (v.typeId() == QMetaType::QByteArray)
        return 3;
    return 2;
}

int compareValues(const QVariant& a, const QVariant& b) {
    // Texts are the common sort key (dates, calls, locators): compare them without copies.
    if (a.typeId() == QMetaType::QString && b.typeId() == QMetaType::QString && !a.isNull() &&
        !b.isNull())
        return QString::compare(*static_cast<const QString*>(a.constData()),
                                *static_cast<const QString*>(b.constData()), Qt::CaseInsensitive);
    const int ra = kindRank(a);
    const int rb = kindRank(b);
    if (ra != rb)
        return ra < rb ? -1 : 1;
    switch (ra) {
    case 1:
        if (isWholeNumber(a) && isWholeNumber(b)) {
            const qlonglong x = a.toLongLong();
            const qlonglong y = b.toLongLong();
            return x < y ? -1 : (x > y ? 1 : 0);
        } else {
            const double x = a.toDouble();
            const double y = b.toDouble();
            return x < y ? -1 : (x > y ? 1 : 0);
        }
    case 2:
        return QString::compare(a.toString(), b.toString(), Qt::CaseInsensitive);
    case 3: {
        const QByteArray x = a.toByteArray();
        const QByteArray y = b.toByteArray();
        return x < y ? -1 : (x > y ? 1 : 0);
    }
    default:
        return 0;
    }
}

// A sort key prepared once per row, so that the sort compares without conversions: the kind
// rank, the number, and texts case-folded (comparing folded texts is comparing texts
// case-insensitively).
struct SortValue {
    int rank = 0;
    bool whole = false;
    bool packed = false; // the folded text is in hi and lo (see below)
    quint64 hi = 0;
    quint64 lo = 0;
    qint64 integer = 0;
    double real = 0;
    QString text;
    QByteArray blob;
};

SortValue sortValue(const QVariant& v) {
    SortValue out;
    out.rank = kindRank(v);
    switch (out.rank) {
    case 1:
        out.whole = isWholeNumber(v);
        out.integer = v.toLongLong();
        out.real = v.toDouble();
        break;
    case 2: {
        out.text = v.toString().toCaseFolded();
        // A short text of Latin-1 letters (dates, times, calls, locators) packed into two
        // numbers whose order is the text's order, so that most comparisons are two compares.
        if (out.text.size() <= 16) {
            out.packed = true;
            for (qsizetype i = 0; i < 16 && out.packed; ++i) {
                const char16_t c = i < out.text.size() ? out.text.at(i).unicode() : 0;
                if (c > 0xff || (i < out.text.size() && c == 0))
                    out.packed = false;
                else if (i < 8)
                    out.hi = (out.hi << 8) | c;
                else
                    out.lo = (out.lo << 8) | c;
            }
        }
        break;
    }
    case 3:
        out.blob = v.toByteArray();
        break;
    default:
        break;
    }
    return out;
}

// The order of compareValues.
int compareSortValues(const SortValue& a, const SortValue& b) {
    if (a.rank != b.rank)
        return a.rank < b.rank ? -1 : 1;
    switch (a.rank) {
    case 1:
        if (a.whole && b.whole)
            return a.integer < b.integer ? -1 : (a.integer > b.integer ? 1 : 0);
        return a.real < b.real ? -1 : (a.real > b.real ? 1 : 0);
    case 2:
        if (a.packed && b.packed) {
            if (a.hi != b.hi)
                return a.hi < b.hi ? -1 : 1;
            return a.lo < b.lo ? -1 : (a.lo > b.lo ? 1 : 0);
        }
        return QString::compare(a.text, b.text, Qt::CaseSensitive);
    case 3:
        return a.blob < b.blob ? -1 : (a.blob > b.blob ? 1 : 0);
    default:
        return 0;
    }
}

// Dates and times as ISO texts without fractions of a second (the driver would add them).
QVariant storedForm(const QVariant& v) {
    if (v.isNull())
        return v;
    switch (v.typeId()) {
    case QMetaType::QDate:
        return v.toDate().toString(Qt::ISODate);
    case QMetaType::QTime:
        return v.toTime().toString(QStringLiteral("HH:mm:ss"));
    case QMetaType::QDateTime:
        return v.toDateTime().toString(Qt::ISODate);
    default:
        return v;
    }
}

// SQLite's rule: a declared type with INT is integer, else one with CHAR, CLOB or TEXT is text.
bool hasTextAffinity(const QString& declaredType) {
    const QString t = declaredType.toUpper();
    return !t.contains(QLatin1String("INT")) &&
           (t.contains(QLatin1String("CHAR")) || t.contains(QLatin1String("CLOB")) ||
            t.contains(QLatin1String("TEXT")));
}

// The pattern with every non-ASCII character made "_": SQLite's LIKE folds only ASCII case, so
// this matches at least every text the pattern matches here.
QString asciiPattern(const QString& pattern, bool* changed) {
    QString out;
    *changed = false;
    for (const char32_t c : pattern.toUcs4()) {
        if (c < 0x80) {
            out += QChar(c);
        } else {
            out += QLatin1Char('_');
            *changed = true;
        }
    }
    return out;
}

QString errorText(const QSqlQuery& query, const QString& fallback) {
    const QString text = query.lastError().text().trimmed();
    return text.isEmpty() ? fallback : text;
}

} // namespace

bool LikeMatches(const QString& text, const QString& pattern) {
    QList<uint> t = text.toUcs4();
    QList<uint> p = pattern.toUcs4();
    for (auto& c : t)
        c = QChar::toCaseFolded(char32_t(c));
    for (auto& c : p)
        if (c != '%' && c != '_')
            c = QChar::toCaseFolded(char32_t(c));
    qsizetype ti = 0, pi = 0, star = -1, mark = 0;
    while (ti < t.size()) {
        if (pi < p.size() && p[pi] == '%') {
            star = pi++;
            mark = ti;
        } else if (pi < p.size() && (p[pi] == '_' || p[pi] == t[ti])) {
            ++pi;
            ++ti;
        } else if (star >= 0) {
            pi = star + 1;
            ti = ++mark;
        } else {
            return false;
        }
    }
    while (pi < p.size() && p[pi] == '%')
        ++pi;
    return pi == p.size();
}

QString DbValueText(const QVariant& value) {
    if (!value.isValid() || value.isNull())
        return {};
    if (value.typeId() == QMetaType::Double || value.typeId() == QMetaType::Float) {
        const double d = value.toDouble();
        if (std::isfinite(d) && std::floor(d) == d && std::fabs(d) < 1e15)
            return QString::number(static_cast<qlonglong>(d));
        return QString::number(d, 'g', QLocale::FloatingPointShortest);
    }
    return value.toString();
}

Recordset::Recordset(QObject* parent) : QObject(parent) {}

Recordset::~Recordset() {
    // Statements go before the connection they belong to.
    m_pageQuery.reset();
    m_writeQueries.clear();
}

bool Recordset::fail(const QString& text) const {
    m_lastError = text;
    return false;
}

bool Recordset::requireOpen() const {
    return m_open || fail(QStringLiteral("The recordset is closed"));
}

bool Recordset::requireCurrent() const {
    // The current row's values need the list, not just the count.
    if (!requireOpen() || !ensureList())
        return false;
    if (m_pos < 0 || m_pos >= static_cast<int>(m_visible.size()))
        return fail(QStringLiteral("There is no current row (begin or end of the rows)"));
    return true;
}

bool Recordset::requireWritable() const {
    if (!requireOpen())
        return false;
    if (m_options.lockType == 1)
        return fail(QStringLiteral("The recordset was opened read-only"));
    if (m_table.isEmpty())
        return fail(QStringLiteral("The recordset is read-only: %1").arg(m_readOnlyWhy));
    return true;
}

bool Recordset::isUpdatable() const {
    return m_open && !m_table.isEmpty() && m_options.lockType != 1;
}

void Recordset::setPageSize(int rows) {
    m_pageSize = std::max(1, rows);
    m_pageQuery.reset();
    evict();
}

bool Recordset::open(const QString& selectStatement, DbConnection& connection,
                     const QVariantList& params, RecordsetOptions options) {
    close();
    m_lastError.clear();
    if (options.cursorLocation != 2 && options.cursorLocation != 3)
        return fail(QStringLiteral("Unknown cursor location %1").arg(options.cursorLocation));
    if (options.cursorType < 0 || options.cursorType > 3)
        return fail(QStringLiteral("Unknown cursor type %1").arg(options.cursorType));
    if (options.lockType < 1 || options.lockType > 4)
        return fail(QStringLiteral("Unknown lock type %1").arg(options.lockType));
    if (options.commandType != 1)
        return fail(QStringLiteral("Only statement texts (command type 1) are supported"));
    static const QRegularExpression selectStart(QStringLiteral(R"(^\s*select\b)"),
                                                QRegularExpression::CaseInsensitiveOption);
    if (!selectStart.match(selectStatement).hasMatch())
        return fail(QStringLiteral("A recordset needs a SELECT statement"));
    std::shared_ptr<DbHandle> db = connection.handle();
    if (!db)
        return fail(QStringLiteral("The connection is not open"));
    if (!db->fileStillThere(&m_lastError))
        return false;

    SimpleSelect simple;
    QString why;
    const bool writable = parseSimpleSelect(selectStatement, simple, why);

    auto run = [&](QSqlQuery& query, const QString& text) {
        query.setForwardOnly(true);
        if (!query.prepare(text))
            return false;
        for (const QVariant& p : params)
            query.addBindValue(p);
        return query.exec();
    };

    static const QRegularExpression orderBy(QStringLiteral(R"(\border\s+by\b)"),
                                            QRegularExpression::CaseInsensitiveOption);
    const bool ordered = writable && orderBy.match(simple.rest).hasMatch();

    QSqlQuery query(db->database());
    bool withRowid = false;
    QString rewritten;
    if (writable) {
        rewritten = QStringLiteral("SELECT %1, %2.rowid AS %3 FROM %2%4")
                        .arg(simple.columns.trimmed(), simple.table, hiddenRowid, simple.rest);
        // The first rows of an ordered statement may cost a sort of the whole table: only
        // the fields and the statement's errors now, the rows with the list.
        withRowid = run(query, ordered ? QStringLiteral("SELECT * FROM (%1) LIMIT 0").arg(rewritten)
                                       : rewritten);
        if (!withRowid)
            why = QStringLiteral("the table has no row identity");
    }
    if (!withRowid) {
        query = QSqlQuery(db->database());
        if (!run(query, selectStatement))
            return fail(errorText(query, QStringLiteral("The statement failed")));
    }

    const QSqlRecord record = query.record();
    const int columns = record.count() - (withRowid ? 1 : 0);
    QStringList fields;
    for (int i = 0; i < columns; ++i)
        fields << record.fieldName(i);

    // A simple statement: the first screen of rows now (all of them when the statement has no
    // more), the rest when looked at. Any other: every row now.
    std::vector<QVariantList> rows;
    std::vector<qint64> firstIds;
    bool readAll = !ordered;
    while (query.next()) {
        QVariantList values;
        values.reserve(columns);
        for (int i = 0; i < columns; ++i)
            values << query.value(i);
        if (withRowid) {
            const qint64 id = query.value(columns).toLongLong();
            m_cache.insert(id, CachedRow{std::move(values), ++m_tick, false, false});
            firstIds.push_back(id);
            if (int(firstIds.size()) > std::min(m_pageSize, 64)) {
                readAll = false;
                break;
            }
        } else {
            rows.push_back(std::move(values));
        }
    }
    if (query.lastError().isValid()) {
        m_cache.clear();
        return fail(errorText(query, QStringLiteral("Reading the rows failed")));
    }
    query.finish();

    m_db = std::move(db);
    m_open = true;
    m_lazy = withRowid;
    m_options = options;
    m_fields = fields;
    m_textColumn.assign(fields.size(), false);
    if (withRowid) {
        m_table = simple.table;
        m_columnList = simple.columns.trimmed();
        m_rowidStatement = rewritten;
        m_params = params;
        m_statementOrdered = ordered;
        // Which fields SQLite can filter exactly: columns declared as texts.
        QSqlQuery info(m_db->database());
        info.setForwardOnly(true);
        if (info.prepare(QStringLiteral("SELECT name, type FROM pragma_table_info(?)"))) {
            info.addBindValue(unquoted(m_table));
            if (info.exec()) {
                while (info.next()) {
                    const int index = fieldIndex(info.value(0).toString());
                    if (index >= 0)
                        m_textColumn[index] = hasTextAffinity(info.value(1).toString());
                }
            }
        }
        if (readAll) {
            if (!m_statementOrdered)
                std::sort(firstIds.begin(), firstIds.end());
            m_visible = std::move(firstIds);
            m_listValid = true;
        }
    } else {
        m_readOnlyWhy = why;
        m_rows = std::move(rows);
    }
    m_pos = 0;
    emit changed();
    return true;
}

void Recordset::close() {
    const bool wasOpen = m_open;
    m_open = false;
    m_lazy = false;
    m_pageQuery.reset();
    m_writeQueries.clear();
    m_db.reset();
    m_fields.clear();
    m_textColumn.clear();
    m_table.clear();
    m_columnList.clear();
    m_rowidStatement.clear();
    m_params.clear();
    m_statementOrdered = false;
    m_readOnlyWhy.clear();
    m_rows.clear();
    m_visible.clear();
    m_visible.shrink_to_fit();
    m_listValid = false;
    m_count = -1;
    m_appended = false;
    m_cache.clear();
    m_pos = -1;
    m_filterText.clear();
    m_filterColumn = -1;
    m_filterPattern.clear();
    m_filterMode = FilterMode::None;
    m_sqlPattern.clear();
    m_sortText.clear();
    m_sortKeys.clear();
    m_edit = Edit::None;
    m_buffer.clear();
    m_dirty.clear();
    if (wasOpen)
        emit changed();
}

int Recordset::fieldCount() const {
    return m_open ? static_cast<int>(m_fields.size()) : 0;
}

QString Recordset::fieldName(int index) const {
    m_lastError.clear();
    if (!requireOpen())
        return {};
    if (index < 0 || index >= m_fields.size()) {
        fail(QStringLiteral("There is no field %1").arg(index));
        return {};
    }
    return m_fields.at(index);
}

int Recordset::fieldIndex(const QString& name) const {
    const QString wanted = unquoted(name.trimmed());
    for (int i = 0; i < m_fields.size(); ++i)
        if (QString::compare(m_fields.at(i), wanted, Qt::CaseInsensitive) == 0)
            return i;
    return -1;
}

void Recordset::invalidateList(bool keepCount) {
    const int known = m_listValid ? static_cast<int>(m_visible.size()) : m_count;
    m_listValid = false;
    m_visible.clear();
    m_visible.shrink_to_fit();
    m_count = keepCount ? known : -1;
    m_pos = 0;
}

bool Recordset::ensureList() const {
    if (!m_open)
        return false;
    if (m_listValid)
        return true;
    m_listValid = true;
    m_count = -1;
    m_appended = false;
    if (!m_lazy) {
        buildEagerList();
        return true;
    }
    if (!buildLazyList()) {
        // Shown as no rows, with the reason in lastError(); the next filter or sort tries again.
        m_visible.clear();
        return false;
    }
    return true;
}

int Recordset::visibleCount() const {
    if (!m_open)
        return 0;
    if (m_listValid)
        return static_cast<int>(m_visible.size());
    if (m_count >= 0)
        return m_count;
    if (m_lazy && m_filterMode == FilterMode::None) {
        // A grid bound while the recordset is opened asks for the count before the filter and
        // sort are set: counting every row is cheap and leaves the list to the final filter and
        // sort. A filtered count would read as much as the list itself.
        QSqlQuery query(m_db->database());
        query.setForwardOnly(true);
        if (query.prepare(QStringLiteral("SELECT count(*) ") + listSource()) &&
            bindListParams(query) && query.exec() && query.next()) {
            m_count = query.value(0).toInt();
            return m_count;
        }
    }
    ensureList();
    return static_cast<int>(m_visible.size());
}

void Recordset::buildEagerList() const {
    m_visible.clear();
    for (int i = 0; i < static_cast<int>(m_rows.size()); ++i) {
        if (m_filterColumn >= 0) {
            const QVariant& v = m_rows[i].at(m_filterColumn);
            if (v.isNull() || !LikeMatches(DbValueText(v), m_filterPattern))
                continue;
        }
        m_visible.push_back(i);
    }
    if (!m_sortKeys.empty()) {
        std::stable_sort(m_visible.begin(), m_visible.end(), [this](qint64 a, qint64 b) {
            for (const SortKey& key : m_sortKeys) {
                int c = compareValues(m_rows[a].at(key.column), m_rows[b].at(key.column));
                if (key.descending)
                    c = -c;
                if (c != 0)
                    return c < 0;
            }
            return false;
        });
    }
}

// "FROM (<statement with rowid>) [WHERE <filter column> LIKE ?]": the statement stays whole
// (its own WHERE, ORDER BY and LIMIT keep their meaning) and SQLite folds it into the outer
// query, so an index on the filter column serves the filter.
QString Recordset::listSource() const {
    QString text = QStringLiteral("FROM (") + m_rowidStatement + QLatin1Char(')');
    if (m_filterMode == FilterMode::Sql || m_filterMode == FilterMode::SqlRefined)
        text +=
            QStringLiteral(" WHERE ") + quotedColumn(m_filterColumn) + QStringLiteral(" LIKE ?");
    return text;
}

bool Recordset::bindListParams(QSqlQuery& query) const {
    for (const QVariant& p : m_params)
        query.addBindValue(p);
    if (m_filterMode == FilterMode::Sql || m_filterMode == FilterMode::SqlRefined)
        query.addBindValue(m_sqlPattern);
    return true;
}

bool Recordset::buildLazyList() const {
    m_visible.clear();
    const bool matchHere =
        m_filterMode == FilterMode::SqlRefined || m_filterMode == FilterMode::Memory;
    QStringList columns{quoted(hiddenRowid)};
    if (matchHere)
        columns << quotedColumn(m_filterColumn);
    const int firstKey = static_cast<int>(columns.size());
    for (const SortKey& key : m_sortKeys)
        columns << quotedColumn(key.column);
    // Every row of the table sorted: SQLite's order is most likely already ours and may come
    // from an index (the log's date); it is checked below and mended where texts differ in
    // case. With a filter SQLite could pick the sort's index over the filter's, so not then.
    QString orderBy;
    if (!m_statementOrdered && !m_sortKeys.empty() && m_filterMode == FilterMode::None) {
        QStringList terms;
        for (const SortKey& key : m_sortKeys)
            terms << quotedColumn(key.column) +
                         (key.descending ? QStringLiteral(" DESC") : QString());
        orderBy = QStringLiteral(" ORDER BY ") + terms.join(QStringLiteral(", ")) +
                  QStringLiteral(", ") + quoted(hiddenRowid);
    }
    QSqlQuery query(m_db->database());
    query.setForwardOnly(true);
    if (!query.prepare(QStringLiteral("SELECT ") + columns.join(QStringLiteral(", ")) +
                       QLatin1Char(' ') + listSource() + orderBy) ||
        !bindListParams(query) || !query.exec())
        return fail(errorText(query, QStringLiteral("Reading the rows failed")));

    const size_t keyCount = m_sortKeys.size();
    std::vector<qint64> ids;
    std::vector<SortValue> keys; // keyCount values per row
    const size_t expected = m_count > 0 ? size_t(m_count) : 1024;
    ids.reserve(expected);
    keys.reserve(expected * keyCount);
    while (query.next()) {
        if (matchHere) {
            const QVariant v = query.value(1);
            if (v.isNull() || !LikeMatches(DbValueText(v), m_filterPattern))
                continue;
        }
        ids.push_back(query.value(0).toLongLong());
        for (size_t k = 0; k < keyCount; ++k)
            keys.push_back(sortValue(query.value(firstKey + static_cast<int>(k))));
    }
    if (query.lastError().isValid())
        return fail(errorText(query, QStringLiteral("Reading the rows failed")));
    query.finish();

    std::vector<int> order(ids.size());
    for (size_t i = 0; i < order.size(); ++i)
        order[i] = static_cast<int>(i);
    // Equal keys keep the statement's order; without an ORDER BY of its own that is rowid
    // order, whatever index SQLite chose for the filter, and the order is total.
    auto less = [&](int a, int b) {
        const SortValue* ka = keys.data() + size_t(a) * keyCount;
        const SortValue* kb = keys.data() + size_t(b) * keyCount;
        for (size_t k = 0; k < keyCount; ++k) {
            int c = compareSortValues(ka[k], kb[k]);
            if (m_sortKeys[k].descending)
                c = -c;
            if (c != 0)
                return c < 0;
        }
        return !m_statementOrdered && ids[a] < ids[b];
    };
    if (!std::is_sorted(order.begin(), order.end(), less)) {
        if (m_statementOrdered)
            std::stable_sort(order.begin(), order.end(), less);
        else
            std::sort(order.begin(), order.end(), less);
    }
    m_visible.reserve(order.size());
    for (const int i : order)
        m_visible.push_back(ids[i]);
    return true;
}

bool Recordset::setFilter(const QString& text) {
    m_lastError.clear();
    if (!requireOpen())
        return false;
    int column = -1;
    QString pattern;
    if (!text.trimmed().isEmpty()) {
        // The pattern runs to the last quote, so a quote inside it stays part of it.
        static const QRegularExpression shape(
            QStringLiteral(R"(^\s*(%1)\s+like\s*'(.*)'\s*$)").arg(identPattern),
            QRegularExpression::CaseInsensitiveOption |
                QRegularExpression::DotMatchesEverythingOption);
        const auto m = shape.match(text);
        if (!m.hasMatch())
            return fail(QStringLiteral("Cannot read the filter: %1").arg(text));
        column = fieldIndex(m.captured(1));
        if (column < 0)
            return fail(QStringLiteral("The filter names no field of the rows: %1").arg(text));
        pattern = m.captured(2);
    }
    if (!commitBeforeMove())
        return false;
    m_filterText = text;
    m_filterColumn = column;
    m_filterPattern = pattern;
    m_sqlPattern.clear();
    if (column < 0) {
        m_filterMode = FilterMode::None;
    } else if (m_lazy && m_textColumn[column]) {
        bool narrowed = false;
        m_sqlPattern = asciiPattern(pattern, &narrowed);
        m_filterMode = narrowed ? FilterMode::SqlRefined : FilterMode::Sql;
    } else {
        // Numbers are matched in their DbValueText form ("1296900", not SQLite's "1296900.0").
        m_filterMode = FilterMode::Memory;
    }
    invalidateList(false);
    emit changed();
    return true;
}

bool Recordset::setSort(const QString& text) {
    m_lastError.clear();
    if (!requireOpen())
        return false;
    std::vector<SortKey> keys;
    if (!text.trimmed().isEmpty()) {
        static const QRegularExpression keyShape(
            QStringLiteral(R"(^(%1)(?:\s+(asc|desc))?$)").arg(identPattern),
            QRegularExpression::CaseInsensitiveOption);
        const QStringList parts = text.split(QLatin1Char(','));
        for (const QString& part : parts) {
            const auto m = keyShape.match(part.trimmed());
            if (!m.hasMatch())
                return fail(QStringLiteral("Cannot read the sort: %1").arg(text));
            const int column = fieldIndex(m.captured(1));
            if (column < 0)
                return fail(QStringLiteral("The sort names no field of the rows: %1").arg(text));
            keys.push_back(
                {column, m.captured(2).compare(QLatin1String("desc"), Qt::CaseInsensitive) == 0});
        }
    }
    if (!commitBeforeMove())
        return false;
    m_sortText = text;
    m_sortKeys = std::move(keys);
    // A new order keeps the rows, except a row added since the list was read, which the
    // filter may now drop.
    invalidateList(m_lazy && !m_appended);
    emit changed();
    return true;
}

int Recordset::recordCount() const {
    return visibleCount();
}

bool Recordset::eof() const {
    if (!m_open || !ensureList())
        return true;
    return m_visible.empty() || m_pos >= static_cast<int>(m_visible.size());
}

bool Recordset::bof() const {
    if (!m_open || !ensureList())
        return true;
    return m_visible.empty() || m_pos < 0;
}

bool Recordset::commitBeforeMove() {
    if (m_edit == Edit::None)
        return true;
    return update();
}

bool Recordset::moveFirst() {
    m_lastError.clear();
    if (!requireOpen() || !commitBeforeMove())
        return false;
    m_pos = 0;
    return true;
}

bool Recordset::moveLast() {
    m_lastError.clear();
    if (!requireOpen() || !commitBeforeMove())
        return false;
    ensureList();
    m_pos = m_visible.empty() ? 0 : static_cast<int>(m_visible.size()) - 1;
    return true;
}

bool Recordset::moveNext() {
    m_lastError.clear();
    if (!requireOpen())
        return false;
    if (eof())
        return fail(QStringLiteral("Cannot move past the end of the rows"));
    if (!commitBeforeMove())
        return false;
    ++m_pos;
    return true;
}

bool Recordset::movePrevious() {
    m_lastError.clear();
    if (!requireOpen())
        return false;
    if (bof())
        return fail(QStringLiteral("Cannot move before the beginning of the rows"));
    if (!commitBeforeMove())
        return false;
    --m_pos;
    return true;
}

bool Recordset::moveTo(int row) {
    m_lastError.clear();
    if (!requireOpen())
        return false;
    ensureList();
    if (row < 0 || row >= static_cast<int>(m_visible.size()))
        return fail(QStringLiteral("There is no row %1").arg(row));
    if (!commitBeforeMove())
        return false;
    m_pos = row;
    return true;
}

// The stored values of visible row `row` (in range, list computed); null with lastError() set
// when they cannot be read. Valid until the next row is read.
const QVariantList* Recordset::rowValues(int row) const {
    const qint64 key = m_visible[row];
    if (!m_lazy)
        return &m_rows[key];
    auto it = m_cache.find(key);
    if (it == m_cache.end() || it->refresh) {
        if (!fetchPage(row / m_pageSize))
            return nullptr;
        it = m_cache.find(key);
        if (it == m_cache.end()) {
            fail(QStringLiteral("Reading the row failed"));
            return nullptr;
        }
    }
    it->stamp = ++m_tick;
    if (it->gone) {
        fail(QStringLiteral("The row no longer exists in the table"));
        return nullptr;
    }
    return &it->values;
}

// Reads the rows of page `page` of the visible list that are not cached (or were written since
// they were read) with one query.
bool Recordset::fetchPage(int page) const {
    const int first = page * m_pageSize;
    const int last = std::min(first + m_pageSize, static_cast<int>(m_visible.size()));
    std::vector<qint64> wanted;
    for (int i = first; i < last; ++i) {
        const auto it = m_cache.constFind(m_visible[i]);
        if (it == m_cache.cend() || it->refresh)
            wanted.push_back(m_visible[i]);
    }
    if (wanted.empty())
        return true;
    if (!m_pageQuery) {
        QStringList marks;
        for (int i = 0; i < m_pageSize; ++i)
            marks << QStringLiteral("?");
        auto query = std::make_unique<QSqlQuery>(m_db->database());
        query->setForwardOnly(true);
        const QString text =
            QStringLiteral("SELECT %1, %2.rowid AS %3 FROM %2 WHERE %2.rowid IN (%4)")
                .arg(m_columnList, m_table, hiddenRowid, marks.join(QStringLiteral(", ")));
        if (!query->prepare(text))
            return fail(errorText(*query, QStringLiteral("Reading the rows failed")));
        m_pageQuery = std::move(query);
    }
    QSqlQuery& query = *m_pageQuery;
    // Unused places stay null, so one prepared statement serves every page.
    for (int i = 0; i < m_pageSize; ++i)
        query.bindValue(i, i < static_cast<int>(wanted.size()) ? QVariant(wanted[i]) : QVariant());
    if (!query.exec())
        return fail(errorText(query, QStringLiteral("Reading the rows failed")));
    const int columns = static_cast<int>(m_fields.size());
    // The table may have gained or lost columns since the recordset was opened.
    if (query.record().count() != columns + 1) {
        query.finish();
        return fail(QStringLiteral("The table's columns changed since the recordset was opened"));
    }
    QSet<qint64> found;
    while (query.next()) {
        QVariantList values;
        values.reserve(columns);
        for (int i = 0; i < columns; ++i)
            values << query.value(i);
        const qint64 id = query.value(columns).toLongLong();
        m_cache.insert(id, CachedRow{std::move(values), ++m_tick, false, false});
        found.insert(id);
    }
    const bool failed = query.lastError().isValid();
    const QString why = errorText(query, QStringLiteral("Reading the rows failed"));
    query.finish();
    if (failed)
        return fail(why);
    for (const qint64 id : wanted) {
        if (found.contains(id))
            continue;
        auto it = m_cache.find(id);
        if (it != m_cache.end())
            it->refresh = false; // written by us, since deleted elsewhere: keep what we wrote
        else
            m_cache.insert(id, CachedRow{{}, ++m_tick, false, true});
    }
    evict();
    return true;
}

// Keeps the cache within 32 pages: past that, the least recently used half goes.
void Recordset::evict() const {
    const qsizetype limit = qsizetype(m_pageSize) * 32;
    if (m_cache.size() <= limit)
        return;
    std::vector<quint64> stamps;
    stamps.reserve(m_cache.size());
    for (auto it = m_cache.cbegin(); it != m_cache.cend(); ++it)
        stamps.push_back(it->stamp);
    const auto keep = static_cast<std::ptrdiff_t>(limit / 2);
    std::nth_element(stamps.begin(), stamps.end() - keep, stamps.end());
    const quint64 oldestKept = *(stamps.end() - keep);
    for (auto it = m_cache.begin(); it != m_cache.end();) {
        if (it->stamp < oldestKept)
            it = m_cache.erase(it);
        else
            ++it;
    }
}

QVariant Recordset::field(const QString& name) const {
    m_lastError.clear();
    if (!requireOpen())
        return {};
    const int index = fieldIndex(name);
    if (index < 0) {
        fail(QStringLiteral("There is no field named %1").arg(name));
        return {};
    }
    return field(index);
}

QVariant Recordset::field(int index) const {
    m_lastError.clear();
    if (!requireOpen())
        return {};
    if (index < 0 || index >= m_fields.size()) {
        fail(QStringLiteral("There is no field %1").arg(index));
        return {};
    }
    if (m_edit != Edit::None)
        return m_buffer.at(index);
    if (!requireCurrent())
        return {};
    const QVariantList* values = rowValues(m_pos);
    if (!values || index >= values->size())
        return {};
    return values->at(index);
}

bool Recordset::setField(const QString& name, const QVariant& value) {
    m_lastError.clear();
    if (!requireOpen())
        return false;
    const int index = fieldIndex(name);
    if (index < 0)
        return fail(QStringLiteral("There is no field named %1").arg(name));
    return setField(index, value);
}

bool Recordset::setField(int index, const QVariant& value) {
    m_lastError.clear();
    if (!requireWritable())
        return false;
    if (index < 0 || index >= m_fields.size())
        return fail(QStringLiteral("There is no field %1").arg(index));
    if (m_edit == Edit::None) {
        if (!requireCurrent())
            return false;
        const QVariantList* values = rowValues(m_pos);
        if (!values)
            return false;
        m_buffer = *values;
        m_dirty.assign(m_fields.size(), false);
        m_edit = Edit::Change;
    }
    m_buffer[index] = value;
    m_dirty[index] = true;
    return true;
}

QVariant Recordset::valueAt(int row, int column) const {
    if (!m_open || column < 0 || column >= m_fields.size() || row < 0 || !ensureList() ||
        row >= static_cast<int>(m_visible.size()))
        return {};
    const QVariantList* values = rowValues(row);
    if (!values || column >= values->size())
        return {};
    return values->at(column);
}

QString Recordset::quotedColumn(int index) const {
    return quoted(m_fields.at(index));
}

bool Recordset::addNew() {
    m_lastError.clear();
    if (!requireWritable() || !commitBeforeMove())
        return false;
    m_buffer.clear();
    for (int i = 0; i < m_fields.size(); ++i)
        m_buffer << QVariant();
    m_dirty.assign(m_fields.size(), false);
    m_edit = Edit::AddNew;
    return true;
}

void Recordset::cancelUpdate() {
    m_edit = Edit::None;
    m_buffer.clear();
    m_dirty.clear();
}

// A prepared statement for this text, kept for the next write of the same shape.
QSqlQuery* Recordset::writeQuery(const QString& text) {
    auto it = m_writeQueries.find(text);
    if (it == m_writeQueries.end()) {
        if (m_writeQueries.size() >= 16)
            m_writeQueries.clear();
        QSqlQuery query(m_db->database());
        if (!query.prepare(text)) {
            fail(errorText(query, QStringLiteral("Cannot write the row")));
            return nullptr;
        }
        it = m_writeQueries.insert(text, query);
    }
    return &it.value();
}

bool Recordset::update() {
    m_lastError.clear();
    if (!requireOpen())
        return false;
    if (m_edit == Edit::None)
        return true;
    if (!requireWritable() || !m_db->fileStillThere(&m_lastError))
        return false;

    QStringList columns;
    QVariantList values;
    for (int i = 0; i < m_fields.size(); ++i) {
        if (m_dirty[i]) {
            columns << quotedColumn(i);
            values << m_buffer.at(i);
        }
    }

    if (m_edit == Edit::AddNew) {
        // The new row goes at the end of the list as it stands.
        ensureList();
        QString text;
        if (columns.isEmpty()) {
            text = QStringLiteral("INSERT INTO %1 DEFAULT VALUES").arg(m_table);
        } else {
            QStringList marks;
            for (int i = 0; i < columns.size(); ++i)
                marks << QStringLiteral("?");
            text = QStringLiteral("INSERT INTO %1 (%2) VALUES (%3)")
                       .arg(m_table, columns.join(QStringLiteral(", ")),
                            marks.join(QStringLiteral(", ")));
        }
        QSqlQuery* query = writeQuery(text);
        if (!query)
            return false;
        for (int i = 0; i < values.size(); ++i)
            query->bindValue(i, storedForm(values.at(i)));
        if (!query->exec())
            return fail(errorText(*query, QStringLiteral("Cannot add the row")));
        const qint64 id = query->lastInsertId().toLongLong();
        query->finish();
        m_cache.insert(id, CachedRow{m_buffer, ++m_tick, true, false});
        // A new row is shown at the end, whatever the filter and sort, until they change.
        m_visible.push_back(id);
        m_appended = true;
        m_pos = static_cast<int>(m_visible.size()) - 1;
    } else {
        const qint64 id = m_visible[m_pos];
        if (!columns.isEmpty()) {
            QStringList sets;
            for (const QString& c : columns)
                sets << c + QStringLiteral(" = ?");
            QSqlQuery* query = writeQuery(QStringLiteral("UPDATE %1 SET %2 WHERE rowid = ?")
                                              .arg(m_table, sets.join(QStringLiteral(", "))));
            if (!query)
                return false;
            for (int i = 0; i < values.size(); ++i)
                query->bindValue(i, storedForm(values.at(i)));
            query->bindValue(static_cast<int>(values.size()), id);
            if (!query->exec())
                return fail(errorText(*query, QStringLiteral("Cannot update the row")));
            const int affected = query->numRowsAffected();
            query->finish();
            if (affected != 1)
                return fail(QStringLiteral("The row no longer exists in the table"));
            // Read back when next looked at; what was written stands in if that fails.
            m_cache.insert(id, CachedRow{m_buffer, ++m_tick, true, false});
        }
        m_updatedRow = m_pos;
    }
    cancelUpdate();
    emit changed();
    m_updatedRow = -1;
    return true;
}

bool Recordset::deleteCurrent() {
    m_lastError.clear();
    if (m_open && m_edit == Edit::AddNew) {
        // Deleting the row being added forgets it: nothing of it is stored yet.
        cancelUpdate();
        return true;
    }
    if (!requireWritable() || !requireCurrent() || !m_db->fileStillThere(&m_lastError))
        return false;
    const qint64 id = m_visible[m_pos];
    QSqlQuery* query = writeQuery(QStringLiteral("DELETE FROM %1 WHERE rowid = ?").arg(m_table));
    if (!query)
        return false;
    query->bindValue(0, id);
    if (!query->exec())
        return fail(errorText(*query, QStringLiteral("Cannot delete the row")));
    const int affected = query->numRowsAffected();
    query->finish();
    if (affected != 1)
        return fail(QStringLiteral("The row no longer exists in the table"));
    cancelUpdate();
    const int removed = m_pos;
    emit rowAboutToBeRemoved(removed);
    m_cache.remove(id);
    m_visible.erase(m_visible.begin() + removed);
    emit rowRemoved(removed);
    return true;
}
