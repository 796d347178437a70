#pragma once

// The rows of one SELECT statement walked like a client-side static cursor: a current row, end
// and begin flags, a filter and a sort, fields by name (case-insensitive) or by position, and
// add/update/delete written back to the table.
//
// User text reaches SQL only as bound "?" parameters. Filter texts are parsed, never executed.
// Nothing throws: every failing call returns false (or an invalid QVariant) and sets lastError().
//
// Writing back needs the row's identity: a simple "SELECT <columns> FROM <table> ..." (column
// names or *, one table, no grouping or joins) is read together with the table's rowid under a
// hidden name that is not one of the fields. Any other statement gives a read-only recordset.
//
// Such a simple statement is read lazily, so that a log of 100,000 QSOs opens in milliseconds:
// the recordset keeps only the rowids of the visible rows, in order, and reads field values a
// page of rows at a time ("rowid IN (...)") into a bounded cache. The rowid list is computed
// when first needed, so open, setSort and setFilter in a row cost one query. A statement
// without ORDER BY lists its rows in rowid order (the order of a table scan). The filter runs in
// SQLite when its column has text affinity: SQLite's LIKE has the same "%" and "_", no escape
// character, and folds case for ASCII letters; patterns with other letters are narrowed in SQL
// and matched exactly here. The only difference left: the two non-ASCII letters whose case
// folding is an ASCII letter (KELVIN SIGN, LONG S) match "k" and "s" here but not in SQLite.
// The sort runs here, over the rowids and the sort columns of the visible rows. Values of rows
// not read yet come from the table when they are shown, so a row changed by another recordset
// meanwhile may show either its old or its new values until the recordset is opened again.
// Other statements are read whole at open and filtered and sorted in memory.

#include "Database.h"

#include <QHash>
#include <QObject>
#include <QSqlQuery>
#include <QString>
#include <QStringList>
#include <QVariant>
#include <QVariantList>
#include <memory>
#include <vector>

// The numeric option codes the program sets before opening. Every cursor kind behaves the same
// way here (a static cursor); lock type 1 (read-only) refuses writes; only command type 1
// (a statement text) is supported.
struct RecordsetOptions {
    int cursorLocation = 3; // 3 client side, 2 server side
    int cursorType = 3;     // 3 static, 1 keyset, 2 dynamic, 0 forward-only
    int lockType = 3;       // 3 optimistic, 2 pessimistic, 4 batch optimistic, 1 read-only
    int commandType = 1;    // 1 statement text
};

// SQL LIKE on texts: "%" matches any run of characters, "_" exactly one; letters compare
// case-insensitively; there is no escape character.
bool LikeMatches(const QString& text, const QString& pattern);

// A field value as text: null is empty, a whole-numbered double has no decimals or exponent
// ("1296900", not "1.2969e+06").
QString DbValueText(const QVariant& value);

class Recordset : public QObject {
    Q_OBJECT
public:
    explicit Recordset(QObject* parent = nullptr);
    ~Recordset() override;

    // Runs the statement with params bound in order and reads its first rows (a simple
    // statement) or every row (any other). The current row is the first one (end and begin flags
    // both set when there is none). Closes what was open.
    bool open(const QString& selectStatement, DbConnection& connection,
              const QVariantList& params = {}, RecordsetOptions options = {});
    // Drops the rows and any pending change; the connection is released with the last owner.
    void close();
    bool isOpen() const { return m_open; }
    QString lastError() const { return m_lastError; }
    RecordsetOptions options() const { return m_options; }
    // True when changes can be written back (see above).
    bool isUpdatable() const;

    int fieldCount() const;
    QString fieldName(int index) const;
    // Position of the field with this name (case-insensitive), -1 when there is none.
    int fieldIndex(const QString& name) const;

    // A filter of the form "<column> like '<pattern>'" (whitespace around and between the
    // parts; the pattern runs from the first quote after LIKE to the last quote). An empty text
    // shows every row. A text that cannot be read fails and keeps the previous filter.
    bool setFilter(const QString& text);
    QString filter() const { return m_filterText; }
    // "<column> [asc|desc][, ...]": numbers in numeric order, texts case-insensitively, nulls
    // first in ascending order; rows with equal keys keep their order. Empty: statement order.
    bool setSort(const QString& text);
    QString sort() const { return m_sortText; }

    // The number of visible rows (those passing the filter). When the rowid list is not
    // computed yet (a grid asking right after open or setFilter), a count query answers.
    int recordCount() const;

    // True when the rows are read lazily (a simple statement, see above).
    bool isLazy() const { return m_open && m_lazy; }
    // Rows read per query on the lazy path (default 256, at least 1); the cache holds 32 pages.
    // Takes effect for the pages read after the call.
    void setPageSize(int rows);
    int pageSize() const { return m_pageSize; }
    // While changed() is emitted by update() of an existing row: that visible row, whose stored
    // content changed while the rows and their order did not (a grid repaints just that row).
    // -1 during every other change.
    int updatedRow() const { return m_updatedRow; }

    // Moves write a pending change first, as the cursor of the original component did.
    bool moveFirst();
    bool moveNext();
    bool movePrevious();
    bool moveLast();
    // Makes visible row `row` (0-based) the current row.
    bool moveTo(int row);
    // The current visible row, -1 before the first, recordCount() past the last.
    int position() const { return m_pos; }
    // Past the last row (also when there are no rows).
    bool eof() const;
    // Before the first row (also when there are no rows).
    bool bof() const;

    // The current row's field, including a pending change. Invalid on any failure.
    QVariant field(const QString& name) const;
    QVariant field(int index) const;
    // Changes a field of the current row (or of the new row after addNew) in memory; update()
    // writes it. Dates and times are stored as ISO texts ("2026-12-07", "20:15:00"), so that
    // their text order is their time order.
    bool setField(const QString& name, const QVariant& value);
    bool setField(int index, const QVariant& value);
    // A visible row's stored value without moving; invalid when out of range.
    QVariant valueAt(int row, int column) const;

    // Starts a new row with every field null; update() appends it and makes it current.
    bool addNew();
    // Writes the pending new row (INSERT) or the changed fields of the current row (UPDATE,
    // located by rowid). The stored row is read back when it is next looked at (conversions by
    // the column's type, changes made elsewhere); a walk that updates and moves on never reads
    // it again. True when nothing was pending. Prepared statements are kept for the next update
    // of the same fields; wrap many updates in a transaction of the connection to save a disk
    // sync per row.
    bool update();
    // Forgets a pending change.
    void cancelUpdate();
    bool editPending() const { return m_edit != Edit::None; }
    // Deletes the current row from the table. The row that followed it becomes current (end
    // flag set when it was the last). During addNew it forgets the new row instead.
    bool deleteCurrent();

signals:
    // Rows, their order or their stored content changed (open, close, filter, sort, update):
    // views rebuild from here.
    void changed();
    // deleteCurrent() removes visible row `row` after the table has dropped it: views remove
    // that row between the two signals.
    void rowAboutToBeRemoved(int row);
    void rowRemoved(int row);

private:
    enum class Edit { None, Change, AddNew };
    // How the filter is applied: not at all, in SQL, in SQL narrowed and then here, or here.
    enum class FilterMode { None, Sql, SqlRefined, Memory };
    struct SortKey {
        int column;
        bool descending;
    };
    // A row read on the lazy path. `refresh`: the values are what update() wrote and are read
    // again when next looked at; `gone`: the table no longer has the row.
    struct CachedRow {
        QVariantList values;
        quint64 stamp = 0;
        bool refresh = false;
        bool gone = false;
    };

    bool fail(const QString& text) const;
    bool requireOpen() const;
    bool requireCurrent() const;
    bool requireWritable() const;
    bool commitBeforeMove();
    void invalidateList(bool keepCount);
    bool ensureList() const;
    int visibleCount() const;
    void buildEagerList() const;
    bool buildLazyList() const;
    QString listSource() const;
    bool bindListParams(QSqlQuery& query) const;
    const QVariantList* rowValues(int row) const;
    bool fetchPage(int page) const;
    void evict() const;
    QSqlQuery* writeQuery(const QString& text);
    QString quotedColumn(int index) const;

    std::shared_ptr<DbHandle> m_db;
    bool m_open = false;
    bool m_lazy = false;
    RecordsetOptions m_options;
    QStringList m_fields;
    std::vector<bool> m_textColumn; // the field's table column has text affinity
    QString m_table;                // the table written back to; empty when read-only
    QString m_columnList;           // the statement's column list, to read rows by rowid
    QString m_rowidStatement;       // the statement with the hidden rowid
    QVariantList m_params;
    bool m_statementOrdered = false;  // the statement has its own ORDER BY
    QString m_readOnlyWhy;            // why writing is refused
    std::vector<QVariantList> m_rows; // every row, for statements read whole

    // The visible rows, filtered and sorted: rowids (lazy) or indices into m_rows.
    mutable std::vector<qint64> m_visible;
    mutable bool m_listValid = false;
    mutable int m_count = -1;        // the visible rows counted before the list was computed
    mutable bool m_appended = false; // addNew put rows at the end that the filter may drop
    mutable QHash<qint64, CachedRow> m_cache;
    mutable quint64 m_tick = 0;
    mutable std::unique_ptr<QSqlQuery> m_pageQuery;
    QHash<QString, QSqlQuery> m_writeQueries;
    int m_pageSize = 256;
    int m_pos = -1;
    int m_updatedRow = -1;

    QString m_filterText;
    int m_filterColumn = -1;
    QString m_filterPattern;
    FilterMode m_filterMode = FilterMode::None;
    QString m_sqlPattern; // the pattern given to SQLite
    QString m_sortText;
    std::vector<SortKey> m_sortKeys;

    Edit m_edit = Edit::None;
    QVariantList m_buffer;
    std::vector<bool> m_dirty;

    mutable QString m_lastError;
};
