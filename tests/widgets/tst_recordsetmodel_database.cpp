// The grid model over a recordset on a real SQLite file: rows and columns shown, refresh on
// filter, sort and content changes, and deletion only after the confirmation agrees.

#include "Database.h"
#include "Recordset.h"
#include "RecordsetModel.h"

#include <QAbstractItemModelTester>
#include <QDir>
#include <QSignalSpy>
#include <QTableView>
#include <QTemporaryDir>
#include <QtTest>

class TestRecordsetModel : public QObject {
    Q_OBJECT

private:
    QTemporaryDir m_dir;
    QString m_text;

    int storedBeacons(const QString& name) {
        DbConnection db;
        Recordset rs;
        if (!db.open(m_text) ||
            !rs.open(QStringLiteral("SELECT * FROM PNT_Beacon WHERE beacon like ?"), db, {name}))
            return -1;
        return rs.recordCount();
    }

    std::shared_ptr<Recordset> gridRecordset(DbConnection& db) {
        auto rs = std::make_shared<Recordset>();
        if (!rs->open(QStringLiteral("SELECT beacon, Locator, qrg, Equipment FROM PNT_beacon"), db,
                      {}, {3, 3, 3, 1}))
            return nullptr;
        return rs;
    }

private slots:
    void init() {
        QVERIFY(m_dir.isValid());
        const QString path = QDir(m_dir.path()).filePath(QStringLiteral("backup.mdb"));
        QFile::remove(path);
        QVERIFY(EnsureDatabase(path));
        m_text = BuildConnectionText(m_dir.path());
        DbConnection db;
        QVERIFY(db.open(m_text));
        QVERIFY(db.execute(QStringLiteral(
            "INSERT INTO PNT_Beacon (beacon, qrg, Locator, Equipment) VALUES "
            "('DB0ABC/B', 10368850, 'JO62QM', '10 W horn'), ('OK0EA', 1296900, 'JN79AA', "
            "'dish'), ('DL0XX/B', 10368900, 'JO31AA', NULL), ('PI7ALK', 144410, 'JO22AA', 'x')")));
    }

    void showsVisibleRowsAndColumnsAndFollowsFilterAndSort() {
        DbConnection db;
        QVERIFY(db.open(m_text));
        auto rs = gridRecordset(db);
        QVERIFY(rs);
        RecordsetModel model(rs);
        QAbstractItemModelTester tester(&model,
                                        QAbstractItemModelTester::FailureReportingMode::QtTest);
        QTableView view;
        view.setModel(&model);
        view.show();

        QCOMPARE(model.rowCount(), 4);
        QCOMPARE(model.columnCount(), 4);
        QCOMPARE(model.headerData(0, Qt::Horizontal).toString(), QStringLiteral("beacon"));
        QCOMPARE(model.headerData(3, Qt::Horizontal).toString(), QStringLiteral("Equipment"));
        QCOMPARE(model.data(model.index(1, 2)).toString(), QStringLiteral("1296900"));
        QCOMPARE(model.data(model.index(2, 3)).toString(), QString());

        QSignalSpy resets(&model, &QAbstractItemModel::modelReset);
        QVERIFY(rs->setFilter(QStringLiteral(" beacon like '%/b%'")));
        QCOMPARE(resets.count(), 1);
        QCOMPARE(model.rowCount(), 2);
        QVERIFY(rs->setSort(QStringLiteral("qrg  desc ")));
        QCOMPARE(model.data(model.index(0, 0)).toString(), QStringLiteral("DL0XX/B"));
        QVERIFY(rs->setFilter(QString()));
        QVERIFY(rs->setSort(QStringLiteral("qrg  asc ")));
        QCOMPARE(model.data(model.index(0, 0)).toString(), QStringLiteral("PI7ALK"));
        QCOMPARE(model.rowCount(), 4);

        // A stored change shows at once.
        QVERIFY(rs->moveTo(0));
        QVERIFY(rs->setField(QStringLiteral("equipment"), QStringLiteral("changed")));
        QVERIFY(rs->update());
        QCOMPARE(model.data(model.index(0, 3)).toString(), QStringLiteral("changed"));

        // Rebinding and closing empty the grid without dangling rows.
        rs->close();
        QCOMPARE(model.rowCount(), 0);
        QCOMPARE(model.columnCount(), 0);
        model.setRecordset(nullptr);
        QCOMPARE(model.rowCount(), 0);
        QVERIFY(!model.data(model.index(0, 0)).isValid());
    }

    void deleteNeedsTheConfirmation() {
        DbConnection db;
        QVERIFY(db.open(m_text));
        auto rs = gridRecordset(db);
        QVERIFY(rs);
        QVERIFY(rs->setSort(QStringLiteral("beacon  asc ")));
        RecordsetModel model(rs);
        QAbstractItemModelTester tester(&model,
                                        QAbstractItemModelTester::FailureReportingMode::QtTest);
        QTableView view;
        view.setModel(&model);

        // Without a hook nothing is deleted.
        QVERIFY(!model.removeRows(0, 1));
        QCOMPARE(storedBeacons(QStringLiteral("DB0ABC/B")), 1);

        int asked = 0;
        bool answer = false;
        model.setDeleteConfirmation([&] {
            ++asked;
            return answer;
        });
        QVERIFY(!model.removeRows(0, 1));
        QCOMPARE(asked, 1);
        QCOMPARE(model.rowCount(), 4);
        QCOMPARE(storedBeacons(QStringLiteral("DB0ABC/B")), 1);

        answer = true;
        QSignalSpy removed(&model, &QAbstractItemModel::rowsRemoved);
        QVERIFY(model.removeRows(0, 1));
        QCOMPARE(asked, 2);
        QCOMPARE(removed.count(), 1);
        QCOMPARE(model.rowCount(), 3);
        QCOMPARE(model.data(model.index(0, 0)).toString(), QStringLiteral("DL0XX/B"));
        QCOMPARE(storedBeacons(QStringLiteral("DB0ABC/B")), 0);
        QCOMPARE(storedBeacons(QStringLiteral("%")), 3);

        // Two rows in one call: one question.
        QVERIFY(model.removeRows(1, 2));
        QCOMPARE(asked, 3);
        QCOMPARE(model.rowCount(), 1);
        QCOMPARE(storedBeacons(QStringLiteral("%")), 1);

        QVERIFY(!model.removeRows(1, 1));
        QVERIFY(!model.removeRows(-1, 1));
        QCOMPARE(asked, 3);

        // A deletion made by program code on the bound recordset shows in the grid too.
        QVERIFY(rs->moveTo(0));
        QVERIFY(rs->deleteCurrent());
        QCOMPARE(removed.count(), 4);
        QCOMPARE(model.rowCount(), 0);
    }

    void deleteFailuresLeaveTheGridConsistent() {
        DbConnection db;
        QVERIFY(db.open(m_text));
        auto rs = gridRecordset(db);
        QVERIFY(rs);
        RecordsetModel model(rs);
        QAbstractItemModelTester tester(&model,
                                        QAbstractItemModelTester::FailureReportingMode::QtTest);
        model.setDeleteConfirmation([] { return true; });

        // The row was deleted elsewhere: the error is reported and the grid stays whole.
        QVERIFY(db.execute(QStringLiteral("DELETE FROM PNT_Beacon WHERE beacon = 'OK0EA'")));
        QVERIFY(!model.removeRows(1, 1));
        QVERIFY(model.lastError().contains(QStringLiteral("no longer")));
        QCOMPARE(model.rowCount(), 4);

        // The question closed the recordset meanwhile.
        model.setDeleteConfirmation([&] {
            rs->close();
            return true;
        });
        QVERIFY(!model.removeRows(0, 1));
        QCOMPARE(model.rowCount(), 0);
        QCOMPARE(storedBeacons(QStringLiteral("DB0ABC/B")), 1);

        // A read-only recordset is never asked about.
        auto counts = std::make_shared<Recordset>();
        QVERIFY(counts->open(QStringLiteral("SELECT count(*) FROM PNT_Beacon"), db));
        bool asked = false;
        RecordsetModel readOnly(counts);
        readOnly.setDeleteConfirmation([&] {
            asked = true;
            return true;
        });
        QVERIFY(!readOnly.removeRows(0, 1));
        QVERIFY(!asked);
    }
};

QTEST_MAIN(TestRecordsetModel)
#include "tst_recordsetmodel_database.moc"
