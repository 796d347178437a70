#include "Recordset.h"

#include <QDateTime>
#include <QRegularExpression>
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

Recordset::~Recordset() = default;

bool Recordset::fail(const QString& text) const {
    m_lastError = text;
    return false;
}

bool Recordset::requireOpen() const {
    return m_open || fail(QStringLiteral("The recordset is closed"));
}

bool Recordset::requireCurrent() const {
    if (!requireOpen())
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

    QSqlQuery query(db->database());
    bool withRowid = false;
    if (writable) {
        const QString rewritten =
            QStringLiteral("SELECT %1, %2.rowid AS %3 FROM %2%4")
                .arg(simple.columns.trimmed(), simple.table, hiddenRowid, simple.rest);
        withRowid = run(query, rewritten);
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
    std::vector<Row> rows;
    while (query.next()) {
        Row row;
        row.values.reserve(columns);
        for (int i = 0; i < columns; ++i)
            row.values << query.value(i);
        if (withRowid)
            row.rowid = query.value(columns);
        rows.push_back(std::move(row));
    }
    if (query.lastError().isValid())
        return fail(errorText(query, QStringLiteral("Reading the rows failed")));
    query.finish();

    m_db = std::move(db);
    m_open = true;
    m_options = options;
    m_fields = fields;
    m_rows = std::move(rows);
    if (withRowid) {
        m_table = simple.table;
        m_columnList = simple.columns.trimmed();
    } else {
        m_readOnlyWhy = why;
    }
    rebuildVisible();
    emit changed();
    return true;
}

void Recordset::close() {
    const bool wasOpen = m_open;
    m_open = false;
    m_db.reset();
    m_fields.clear();
    m_table.clear();
    m_columnList.clear();
    m_readOnlyWhy.clear();
    m_rows.clear();
    m_visible.clear();
    m_pos = -1;
    m_filterText.clear();
    m_filterColumn = -1;
    m_filterPattern.clear();
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

void Recordset::rebuildVisible() {
    m_visible.clear();
    for (int i = 0; i < static_cast<int>(m_rows.size()); ++i) {
        if (m_filterColumn >= 0) {
            const QVariant& v = m_rows[i].values.at(m_filterColumn);
            if (v.isNull() || !LikeMatches(DbValueText(v), m_filterPattern))
                continue;
        }
        m_visible.push_back(i);
    }
    if (!m_sortKeys.empty()) {
        std::stable_sort(m_visible.begin(), m_visible.end(), [this](int a, int b) {
            for (const SortKey& key : m_sortKeys) {
                int c =
                    compareValues(m_rows[a].values.at(key.column), m_rows[b].values.at(key.column));
                if (key.descending)
                    c = -c;
                if (c != 0)
                    return c < 0;
            }
            return false;
        });
    }
    m_pos = 0;
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
    rebuildVisible();
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
    rebuildVisible();
    emit changed();
    return true;
}

int Recordset::recordCount() const {
    return m_open ? static_cast<int>(m_visible.size()) : 0;
}

bool Recordset::eof() const {
    return !m_open || m_visible.empty() || m_pos >= static_cast<int>(m_visible.size());
}

bool Recordset::bof() const {
    return !m_open || m_visible.empty() || m_pos < 0;
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
    if (row < 0 || row >= static_cast<int>(m_visible.size()))
        return fail(QStringLiteral("There is no row %1").arg(row));
    if (!commitBeforeMove())
        return false;
    m_pos = row;
    return true;
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
    return m_rows[m_visible[m_pos]].values.at(index);
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
        m_buffer = m_rows[m_visible[m_pos]].values;
        m_dirty.assign(m_fields.size(), false);
        m_edit = Edit::Change;
    }
    m_buffer[index] = value;
    m_dirty[index] = true;
    return true;
}

QVariant Recordset::valueAt(int row, int column) const {
    if (!m_open || row < 0 || row >= static_cast<int>(m_visible.size()) || column < 0 ||
        column >= m_fields.size())
        return {};
    return m_rows[m_visible[row]].values.at(column);
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

bool Recordset::readRow(const QVariant& rowid, Row& row) {
    QSqlQuery query(m_db->database());
    query.setForwardOnly(true);
    const QString text = QStringLiteral("SELECT %1, %2.rowid AS %3 FROM %2 WHERE %2.rowid = ?")
                             .arg(m_columnList, m_table, hiddenRowid);
    if (!query.prepare(text))
        return false;
    query.addBindValue(rowid);
    if (!query.exec() || !query.next())
        return false;
    // The table may have gained or lost columns since the rows were read.
    if (query.record().count() != m_fields.size() + 1)
        return false;
    row.values.clear();
    for (int i = 0; i < m_fields.size(); ++i)
        row.values << query.value(i);
    row.rowid = query.value(static_cast<int>(m_fields.size()));
    return true;
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

    QSqlQuery query(m_db->database());
    if (m_edit == Edit::AddNew) {
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
        if (!query.prepare(text))
            return fail(errorText(query, QStringLiteral("Cannot add the row")));
        for (const QVariant& v : values)
            query.addBindValue(storedForm(v));
        if (!query.exec())
            return fail(errorText(query, QStringLiteral("Cannot add the row")));
        const QVariant rowid = query.lastInsertId();
        query.finish();
        Row row;
        if (!readRow(rowid, row)) {
            row.values = m_buffer;
            row.rowid = rowid;
        }
        m_rows.push_back(std::move(row));
        // A new row is shown at the end, whatever the filter and sort, until they change.
        m_visible.push_back(static_cast<int>(m_rows.size()) - 1);
        m_pos = static_cast<int>(m_visible.size()) - 1;
    } else {
        const int rowIndex = m_visible[m_pos];
        if (!columns.isEmpty()) {
            QStringList sets;
            for (const QString& c : columns)
                sets << c + QStringLiteral(" = ?");
            const QString text = QStringLiteral("UPDATE %1 SET %2 WHERE rowid = ?")
                                     .arg(m_table, sets.join(QStringLiteral(", ")));
            if (!query.prepare(text))
                return fail(errorText(query, QStringLiteral("Cannot update the row")));
            for (const QVariant& v : values)
                query.addBindValue(storedForm(v));
            query.addBindValue(m_rows[rowIndex].rowid);
            if (!query.exec())
                return fail(errorText(query, QStringLiteral("Cannot update the row")));
            if (query.numRowsAffected() != 1)
                return fail(QStringLiteral("The row no longer exists in the table"));
            query.finish();
            Row row;
            if (readRow(m_rows[rowIndex].rowid, row))
                m_rows[rowIndex] = std::move(row);
            else
                m_rows[rowIndex].values = m_buffer;
        }
    }
    cancelUpdate();
    emit changed();
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
    const int rowIndex = m_visible[m_pos];
    QSqlQuery query(m_db->database());
    if (!query.prepare(QStringLiteral("DELETE FROM %1 WHERE rowid = ?").arg(m_table)))
        return fail(errorText(query, QStringLiteral("Cannot delete the row")));
    query.addBindValue(m_rows[rowIndex].rowid);
    if (!query.exec())
        return fail(errorText(query, QStringLiteral("Cannot delete the row")));
    if (query.numRowsAffected() != 1)
        return fail(QStringLiteral("The row no longer exists in the table"));
    cancelUpdate();
    const int removed = m_pos;
    emit rowAboutToBeRemoved(removed);
    m_rows.erase(m_rows.begin() + rowIndex);
    m_visible.erase(m_visible.begin() + removed);
    for (int& v : m_visible)
        if (v > rowIndex)
            --v;
    emit rowRemoved(removed);
    return true;
}
