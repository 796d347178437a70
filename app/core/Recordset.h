#pragma once

// The rows of one SELECT statement held in memory, walked like a client-side static cursor:
// a current row, end and begin flags, a filter and a sort applied in memory, fields by name
// (case-insensitive) or by position, and add/update/delete written back to the table.
//
// User text reaches SQL only as bound "?" parameters. Filter texts are parsed, never executed.
// Nothing throws: every failing call returns false (or an invalid QVariant) and sets lastError().
//
// Writing back needs the row's identity: a simple "SELECT <columns> FROM <table> ..." (column
// names or *, one table, no grouping or joins) is read together with the table's rowid under a
// hidden name that is not one of the fields. Any other statement gives a read-only recordset.

#include "Database.h"

#include <QObject>
#include <QString>
#include <QStringList>
#include <QVariant>
#include <QVariantList>
#include <memory>
#include <vector>

// The numeric option codes the program sets before opening. Every cursor kind behaves the same
// way here (all rows in memory); lock type 1 (read-only) refuses writes; only command type 1
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

    // Runs the statement with params bound in order and loads every row. The current row is
    // the first one (end and begin flags both set when there is none). Closes what was open.
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

    // The number of visible rows (those passing the filter).
    int recordCount() const;

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
    // located by rowid) and reads the stored row back. True when nothing was pending.
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
    struct Row {
        QVariantList values;
        QVariant rowid;
    };
    struct SortKey {
        int column;
        bool descending;
    };

    bool fail(const QString& text) const;
    bool requireOpen() const;
    bool requireCurrent() const;
    bool requireWritable() const;
    bool commitBeforeMove();
    void rebuildVisible();
    bool readRow(const QVariant& rowid, Row& row);
    QString quotedColumn(int index) const;

    std::shared_ptr<DbHandle> m_db;
    bool m_open = false;
    RecordsetOptions m_options;
    QStringList m_fields;
    QString m_table;       // the table written back to; empty when read-only
    QString m_columnList;  // the statement's column list, to read a row back
    QString m_readOnlyWhy; // why writing is refused
    std::vector<Row> m_rows;
    std::vector<int> m_visible; // indices into m_rows, filtered and sorted
    int m_pos = -1;

    QString m_filterText;
    int m_filterColumn = -1;
    QString m_filterPattern;
    QString m_sortText;
    std::vector<SortKey> m_sortKeys;

    Edit m_edit = Edit::None;
    QVariantList m_buffer;
    std::vector<bool> m_dirty;

    mutable QString m_lastError;
};
