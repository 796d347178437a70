// The lazy recordset (rowid list plus page cache) against the same rows read whole: a generated
// log of 1,000 QSOs with awkward values, small pages so that every walk crosses page and cache
// boundaries, and filter, sort, update, delete and addNew checked against the in-memory path.

#include "Database.h"
#include "LogGenerator.h"
#include "Recordset.h"
#include "TestSupport.h"

#include <QDate>
#include <QDir>
#include <QTemporaryDir>
#include <gtest/gtest.h>
#include <ostream>

// Readable failure messages for Qt texts.
inline void PrintTo(const QString& text, std::ostream* os) {
    *os << '"' << text.toStdString() << '"';
}

namespace {

const QStringList shownFields{"ID", "Date", "GMT", "Callsign", "Band", "Nam", "QRB", "Comment"};

// Every visible row's shown fields as texts, read without moving.
QStringList rowsOf(const Recordset& rs) {
    QStringList out;
    for (int r = 0; r < rs.recordCount(); ++r) {
        QStringList row;
        for (const QString& name : shownFields)
            row << DbValueText(rs.valueAt(r, rs.fieldIndex(name)));
        out << row.join(QLatin1Char('|'));
    }
    return out;
}

// GROUP BY keeps the rows but cannot be written back: the rows are read whole.
const QString wholeStatement = QStringLiteral("SELECT * FROM logtab GROUP BY ID");

class LazyRecordsetTest : public ::testing::Test {
protected:
    void SetUp() override {
        EnsureApplication();
        ASSERT_TRUE(m_dir.isValid());
        GeneratedLogOptions options;
        options.qsos = 1000;
        options.locators = 50;
        QString error;
        ASSERT_TRUE(GenerateLogbook(QDir(m_dir.path()).filePath(QStringLiteral("backup.mdb")),
                                    options, &error))
            << error.toStdString();
        ASSERT_TRUE(m_db.open(BuildConnectionText(m_dir.path())));
        // Values the fast paths could get wrong: non-ASCII case, nulls, quotes, wildcards,
        // numbers in a text column and texts in a number column.
        ASSERT_TRUE(m_db.execute(QStringLiteral(
            "INSERT INTO logtab (Date, GMT, Callsign, Band, Nam, QRB, Comment) VALUES "
            "('2026-01-01', '10:00:00', 'DL1MÜ', '10368100', 'MÜLLER', 12, '50% off'),"
            "('2026-01-01', '10:00:00', 'dl2mü', '10368200', 'müller', '12', 'a_b'),"
            "(NULL, NULL, 'O''HARA', NULL, 'O''Hara', NULL, 'it''s 100%'),"
            "('2026-01-01', NULL, 'G4X', 144300, 'ÉMILE', 7.5, NULL),"
            "('2019-05-05', '23:00:00', 'F5Y', '1296200', 'émile', 'n/a', 'x'' OR ''1''=''1')")));
        m_lazy.setPageSize(16);
        ASSERT_TRUE(m_lazy.open(QStringLiteral("SELECT * FROM logtab"), m_db));
        ASSERT_TRUE(m_whole.open(wholeStatement, m_db));
        ASSERT_TRUE(m_lazy.isLazy());
        ASSERT_FALSE(m_whole.isLazy());
    }

    // Sets the same sort and filter on both and expects the same rows in the same order; the
    // rows read whole are read again, as they do not follow the changes.
    void expectSame(const QString& sort, const QString& filter, int atLeast) {
        SCOPED_TRACE((sort + " / " + filter).toStdString());
        ASSERT_TRUE(m_whole.open(wholeStatement, m_db));
        ASSERT_TRUE(m_lazy.setSort(sort)) << m_lazy.lastError().toStdString();
        ASSERT_TRUE(m_lazy.setFilter(filter)) << m_lazy.lastError().toStdString();
        ASSERT_TRUE(m_whole.setSort(sort));
        ASSERT_TRUE(m_whole.setFilter(filter));
        const QStringList expected = rowsOf(m_whole);
        EXPECT_GE(expected.size(), atLeast);
        EXPECT_EQ(m_lazy.recordCount(), expected.size());
        EXPECT_EQ(rowsOf(m_lazy), expected);
        EXPECT_TRUE(m_lazy.lastError().isEmpty()) << m_lazy.lastError().toStdString();
    }

    int stored(const QString& where, const QVariantList& params = {}) {
        Recordset rs;
        if (!rs.open(QStringLiteral("SELECT ID FROM logtab WHERE ") + where, m_db, params))
            return -1;
        return rs.recordCount();
    }

    QTemporaryDir m_dir;
    DbConnection m_db;
    Recordset m_lazy;
    Recordset m_whole;
};

TEST_F(LazyRecordsetTest, FilterAndSortGiveTheRowsOfTheInMemoryPath) {
    // Counted before any row is read, then listed.
    EXPECT_EQ(m_lazy.recordCount(), 1005);
    EXPECT_EQ(m_lazy.field(QStringLiteral("ID")).toLongLong(), 1) << "the first row, unmoved";
    expectSame(QString(), QString(), 1005);
    expectSame(QStringLiteral("date  desc "), QStringLiteral(" band like '10368%'"), 50);
    expectSame(QStringLiteral("date  desc "), QString(), 1005);
    expectSame(QStringLiteral("Nam, Comment desc"), QString(), 1005); // mixed case, nulls
    expectSame(QStringLiteral("Nam asc, GMT desc"), QStringLiteral(" band like '144%'"), 80);
    expectSame(QStringLiteral("QRB desc, Callsign"), QStringLiteral(" nam like 'mü%'"), 2);
    expectSame(QStringLiteral("Callsign asc"), QStringLiteral(" callsign like '%Ü'"), 2);
    expectSame(QStringLiteral("nam"), QStringLiteral(" nam like '_MILE'"), 2);
    expectSame(QString(), QStringLiteral(" QRB like '7.5'"), 1);
    expectSame(QString(), QStringLiteral(" QRB like '12'"), 2);
    expectSame(QStringLiteral("ID desc"), QStringLiteral(" comment like '%100\%'"), 1);
    expectSame(QString(), QStringLiteral(" comment like 'a_b'"), 1);
    expectSame(QString(), QStringLiteral(" callsign like 'o'hara'"), 1);
    expectSame(QString(), QStringLiteral(" band like ''"), 0);
    // A pattern written to break out of the quotes is a pattern like any other.
    expectSame(QString(), QStringLiteral(" callsign like 'x'' OR 1=1 --'"), 0);
    expectSame(QString(), QStringLiteral(" comment like 'x' OR '1'='1'"), 1);
    EXPECT_EQ(stored(QStringLiteral("1")), 1005);

    // A statement with its own order: equal sort keys keep that order.
    Recordset ordered;
    ordered.setPageSize(16);
    ASSERT_TRUE(ordered.open(
        QStringLiteral("select *  from logtab where grid <> ''order by grid, ID desc"), m_db));
    ASSERT_TRUE(ordered.isLazy());
    ASSERT_TRUE(m_whole.open(
        QStringLiteral("select *  from logtab where grid <> '' group by ID order by grid, ID desc"),
        m_db));
    for (const QString& sort : {QString(), QStringLiteral("Prop"), QStringLiteral("QSL desc")}) {
        ASSERT_TRUE(ordered.setSort(sort));
        ASSERT_TRUE(ordered.setFilter(QStringLiteral(" band like '10368%'")));
        ASSERT_TRUE(m_whole.setSort(sort));
        ASSERT_TRUE(m_whole.setFilter(QStringLiteral(" band like '10368%'")));
        EXPECT_GT(m_whole.recordCount(), 50);
        EXPECT_EQ(rowsOf(ordered), rowsOf(m_whole)) << sort.toStdString();
    }
}

TEST_F(LazyRecordsetTest, WalkUpdatesDeletesAndAddsAcrossPages) {
    ASSERT_TRUE(m_lazy.setSort(QStringLiteral("date  desc ")));
    ASSERT_TRUE(m_lazy.setFilter(QStringLiteral(" band like '144%'")));
    const int rows = m_lazy.recordCount();
    ASSERT_GT(rows, 80) << "more rows than the cache holds (32 pages of 16 rows would not do)";

    // A walk that updates every row, as the logbook's refresh does, in one transaction.
    ASSERT_TRUE(m_db.beginTransaction());
    int walked = 0;
    for (m_lazy.moveFirst(); !m_lazy.eof(); m_lazy.moveNext()) {
        const QString id = m_lazy.field(QStringLiteral("ID")).toString();
        ASSERT_TRUE(m_lazy.setField(QStringLiteral("GEpoly"), QStringLiteral("poly ") + id));
        ASSERT_TRUE(m_lazy.setField(QStringLiteral("QRB"), QStringLiteral("512")));
        ASSERT_TRUE(m_lazy.update()) << m_lazy.lastError().toStdString();
        ++walked;
    }
    ASSERT_TRUE(m_db.commit());
    EXPECT_EQ(walked, rows);
    EXPECT_EQ(stored(QStringLiteral("GEpoly = 'poly ' || ID AND QRB = 512")), rows);
    // Written rows are read back when looked at: the number column holds a number.
    ASSERT_TRUE(m_lazy.moveTo(rows / 2));
    EXPECT_EQ(m_lazy.field(QStringLiteral("QRB")).typeId(), QMetaType::LongLong);
    EXPECT_EQ(m_lazy.field(QStringLiteral("GEpoly")).toString(),
              QStringLiteral("poly ") + m_lazy.field(QStringLiteral("ID")).toString());

    // Deleting the first row of a page: the next row, from the next page, becomes current.
    ASSERT_TRUE(m_lazy.moveTo(32));
    const QVariant deleted = m_lazy.field(QStringLiteral("ID"));
    const QVariant following = m_lazy.valueAt(33, m_lazy.fieldIndex(QStringLiteral("ID")));
    ASSERT_TRUE(m_lazy.deleteCurrent()) << m_lazy.lastError().toStdString();
    EXPECT_EQ(m_lazy.recordCount(), rows - 1);
    EXPECT_EQ(m_lazy.field(QStringLiteral("ID")), following);
    EXPECT_EQ(stored(QStringLiteral("ID = ?"), {deleted}), 0);

    // A row another connection deleted before we read it fails cleanly; its neighbours stay.
    const QVariant gone = m_lazy.valueAt(rows - 5, m_lazy.fieldIndex(QStringLiteral("ID")));
    ASSERT_TRUE(m_lazy.setSort(QStringLiteral("date  asc "))); // drops the cached rows' order
    {
        DbConnection other;
        ASSERT_TRUE(other.open(BuildConnectionText(m_dir.path())));
        ASSERT_TRUE(other.execute(
            QStringLiteral("DELETE FROM logtab WHERE ID = %1").arg(gone.toLongLong())));
    }
    int missing = 0;
    for (m_lazy.moveFirst(); !m_lazy.eof(); m_lazy.moveNext())
        if (!m_lazy.field(QStringLiteral("ID")).isValid()) {
            ++missing;
            EXPECT_TRUE(m_lazy.lastError().contains(QStringLiteral("no longer")));
        }
    EXPECT_LE(missing, 1) << "at most the row deleted elsewhere, if it was not cached";

    // A new row goes at the end until the filter or sort changes, then where they put it.
    ASSERT_TRUE(m_lazy.addNew());
    ASSERT_TRUE(m_lazy.setField(QStringLiteral("Callsign"), QStringLiteral("OK1NEW")));
    ASSERT_TRUE(m_lazy.setField(QStringLiteral("Band"), QStringLiteral("144390")));
    ASSERT_TRUE(m_lazy.setField(QStringLiteral("Date"), QDate(1999, 1, 1)));
    ASSERT_TRUE(m_lazy.update()) << m_lazy.lastError().toStdString();
    const int count = m_lazy.recordCount();
    EXPECT_EQ(m_lazy.position(), count - 1);
    EXPECT_GT(m_lazy.field(QStringLiteral("ID")).toLongLong(), 1005) << "read back";
    EXPECT_EQ(m_lazy.field(QStringLiteral("Date")).toString(), QStringLiteral("1999-01-01"));
    ASSERT_TRUE(m_lazy.setSort(QStringLiteral("date  asc ")));
    EXPECT_EQ(m_lazy.field(QStringLiteral("Callsign")).toString(), QStringLiteral("OK1NEW"))
        << "the oldest QSO of the band comes first";
    ASSERT_TRUE(m_lazy.addNew());
    ASSERT_TRUE(m_lazy.setField(QStringLiteral("Band"), QStringLiteral("432200")));
    ASSERT_TRUE(m_lazy.update());
    EXPECT_EQ(m_lazy.recordCount(), count + 1);
    ASSERT_TRUE(m_lazy.setFilter(m_lazy.filter()));
    EXPECT_EQ(m_lazy.recordCount(), count) << "the 432 MHz row leaves the 144 MHz list";

    // The in-memory path agrees about every row after all this.
    expectSame(QStringLiteral("date  desc , ID"), QStringLiteral(" band like '144%'"), count);
}

} // namespace
