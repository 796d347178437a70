// The beacon directory as CSV against real database files: export and import give back the same
// rows, and an import of a file with every kind of bad row stores only the good new rows,
// reports the rest by line and leaves what was stored as it was.

#include "BeaconCsv.h"
#include "Database.h"
#include "Recordset.h"
#include "TestStation.h"
#include "TestSupport.h"

#include <QDir>
#include <QFile>
#include <QSqlQuery>
#include <QVariant>
#include <algorithm>
#include <gtest/gtest.h>
#include <ostream>

inline void PrintTo(const QString& text, std::ostream* os) {
    *os << '"' << text.toStdString() << '"';
}
inline void PrintTo(const QStringList& list, std::ostream* os) {
    *os << '{' << list.join(QStringLiteral(" | ")).toStdString() << '}';
}

namespace {

QByteArray readAll(const QString& path) {
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

// A database file of its own in a folder of the scratch directory.
class Station {
public:
    Station(const ScratchDir& dir, const QString& name) {
        const QString folder = dir.file(name);
        QDir().mkpath(folder);
        QString error;
        m_ok = EnsureDatabase(QDir(folder).filePath(QStringLiteral("backup.mdb")), &error);
        EXPECT_TRUE(m_ok) << error.toStdString();
        text = BuildConnectionText(folder);
    }

    void add(const QString& call, const QString& locator, const QVariant& qrg,
             const QVariant& comment, const QString& geData = QString()) {
        DbConnection db;
        ASSERT_TRUE(db.open(text));
        QSqlQuery q(db.handle()->database());
        ASSERT_TRUE(q.prepare(QStringLiteral("INSERT INTO PNT_Beacon (beacon, Locator, qrg, "
                                             "Equipment, GEdata) VALUES (?, ?, ?, ?, ?)")));
        q.addBindValue(call);
        q.addBindValue(locator);
        q.addBindValue(qrg);
        q.addBindValue(comment);
        q.addBindValue(geData.isEmpty() ? QVariant() : QVariant(geData));
        ASSERT_TRUE(q.exec());
    }

    // Rows of a statement, fields as text (numbers without ".0").
    QList<QStringList> rows(const QString& statement = QStringLiteral("SELECT * FROM PNT_Beacon"),
                            const QVariantList& params = {}) const {
        QString error;
        const QList<QStringList> out = StoredRows(text, statement, params, &error);
        EXPECT_TRUE(error.isEmpty()) << error.toStdString();
        return out;
    }

    // The four exchanged columns of every beacon, in a fixed order.
    QList<QStringList> directory() const {
        QList<QStringList> out =
            rows(QStringLiteral("SELECT beacon, Locator, qrg, Equipment FROM PNT_Beacon"));
        std::sort(out.begin(), out.end(), [](const QStringList& a, const QStringList& b) {
            return a.join(QChar(0x1f)) < b.join(QChar(0x1f));
        });
        return out;
    }

    QString text;

private:
    bool m_ok = false;
};

TEST(BeaconCsv, ExportAndImportGiveBackTheSameDirectory) {
    EnsureApplication();
    ScratchDir dir;
    Station first(dir, QStringLiteral("first"));
    first.add("Z9Z", "JO62QM12", 144410.25, "LF\nonly");
    first.add("DB0ABC/B", "JO62QM", 10368850.0, "10 W, horn");
    first.add("Q0'A", "JO50AA", 1296900.5, "He said \"hi\"\r\nsecond line");
    first.add("ok0ea", "JN79AA", 24048000, "");
    first.add("Q0UTF/B", "KP20AA", 432900, QString::fromUtf8("Antenne über Dach – 5 el."));
    ASSERT_EQ(first.directory().size(), 5);

    const QString file = dir.file(QStringLiteral("beacons.csv"));
    const BeaconExportResult exported = ExportBeaconCsv(first.text, file);
    ASSERT_TRUE(exported.ok) << exported.failure.toStdString();
    EXPECT_EQ(exported.exported, 5);
    EXPECT_EQ(BeaconExportMessage(exported),
              QStringLiteral("5 beacons exported to %1.").arg(QDir::toNativeSeparators(file)));
    // Sorted by callsign with case ignored; quoted only where needed; kHz without ".0".
    EXPECT_EQ(readAll(file), QByteArray("callsign,locator,qrg_khz,comment\r\n"
                                        "DB0ABC/B,JO62QM,10368850,\"10 W, horn\"\r\n"
                                        "ok0ea,JN79AA,24048000,\r\n"
                                        "Q0'A,JO50AA,1296900.5,\"He said \"\"hi\"\"\r\n"
                                        "second line\"\r\n"
                                        "Q0UTF/B,KP20AA,432900,") +
                                 QString::fromUtf8("Antenne über Dach – 5 el.").toUtf8() +
                                 "\r\n"
                                 "Z9Z,JO62QM12,144410.25,\"LF\nonly\"\r\n");

    Station second(dir, QStringLiteral("second"));
    BeaconImportResult imported = ImportBeaconCsv(second.text, file);
    ASSERT_TRUE(imported.ok) << imported.failure.toStdString();
    EXPECT_EQ(imported.imported, 5);
    EXPECT_EQ(imported.duplicates, 0);
    EXPECT_EQ(imported.errors, QStringList());
    EXPECT_EQ(second.directory(), first.directory());
    EXPECT_EQ(BeaconImportMessage(imported),
              QStringLiteral("5 beacons imported from %1.").arg(QDir::toNativeSeparators(file)));
    // The frequency is stored as a number, so the grid's frequency sort stays numeric.
    EXPECT_EQ(second.rows(QStringLiteral("SELECT typeof(qrg) FROM PNT_Beacon WHERE beacon = ?"),
                          {QStringLiteral("Q0'A")}),
              (QList<QStringList>{{"real"}}));

    const QString again = dir.file(QStringLiteral("again.csv"));
    ASSERT_TRUE(ExportBeaconCsv(second.text, again).ok);
    EXPECT_EQ(readAll(again), readAll(file));

    // The same file once more: every row is already there.
    imported = ImportBeaconCsv(second.text, file);
    EXPECT_TRUE(imported.ok);
    EXPECT_EQ(imported.imported, 0);
    EXPECT_EQ(imported.duplicates, 5);
    EXPECT_EQ(second.directory(), first.directory());
    EXPECT_EQ(BeaconImportMessage(imported),
              QStringLiteral("0 beacons imported from %1. 5 already in the directory, skipped.")
                  .arg(QDir::toNativeSeparators(file)));
}

TEST(BeaconCsv, ImportReportsBadRowsSkipsKnownBeaconsAndKeepsStoredRows) {
    EnsureApplication();
    ScratchDir dir;
    Station station(dir, QStringLiteral("station"));
    station.add("DB0ABC/B", "JO62QM", 10368850, "stored comment", "stored description");
    station.add("OLD/B", "jo62qm", QStringLiteral("144410"), QVariant());
    const QList<QStringList> before = station.rows();

    const QByteArray csv = "Callsign, Locator ,QRG_kHz,Comment\n"                       // 1
                           "db0abc/b,JO62QM,10368850,same beacon with case ignored\r\n" // 2
                           "DB0ABC/B,JO62QM,10368851,\"new frequency\"\r\n"             // 3
                           ",JO62QM,1000,no call\n"                                     // 4
                           "X1/B,JO6,1000,short locator\n"                              // 5
                           "X2/B,jo62qm,-5,negative\n"                                  // 6
                           "X3/B,JO62QM,1e5,exponent\n"                                 // 7
                           " X4/B ,jo62qm, 10368.5 \n"                                  // 8
                           "X6/B,JO62QM,100,a,b\n"                                      // 9
                           "\"X7/B\"x,JO62QM,100,\n"                                    // 10
                           "X8\"B,JO62QM,100,\n"                                        // 11
                           "Q0'A,jo62qm,144410,\"multi\nline, comment\"\n"              // 12-13
                           "q0'a,JO62QM,144410,again\n"                                 // 14
                           "\n"                                                         // 15
                           "X9/B,JO62[[,100,signs in the locator\n"                     // 16
                           "X10/B,JO62QM,100,bad \xff byte\n"                           // 17
                           "OLD/B,JO62QM,144410,stored as text\n"                       // 18
                           "X11/B,JO62QM,0,zero\n"                                      // 19
                           "X12/B,JO62QM,100,\"never closed\n";                         // 20
    const BeaconImportResult result =
        ImportBeaconCsvBytes(station.text, csv, QStringLiteral("list.csv"));
    ASSERT_TRUE(result.ok) << result.failure.toStdString();
    EXPECT_EQ(
        result.errors,
        (QStringList{
            "line 4: no callsign",
            "line 5: \"JO6\" is not a locator of 4, 6, 8 or 10 characters",
            "line 6: frequency \"-5\" is not a positive number of kHz",
            "line 7: frequency \"1e5\" is not a positive number of kHz",
            "line 9: 5 fields; a row holds callsign, locator, qrg_khz and an optional comment",
            "line 10: text after the closing quote of field 1",
            "line 11: a quote inside field 1, which is not quoted",
            "line 16: \"JO62[[\" is not a locator of 4, 6, 8 or 10 characters",
            "line 17: the text is not UTF-8",
            "line 19: frequency \"0\" is not a positive number of kHz",
            "line 20: a quoted field is not closed",
        }));
    EXPECT_EQ(result.imported, 3);
    EXPECT_EQ(result.duplicates, 3);
    EXPECT_EQ(result.duplicateRows,
              (QStringList{"line 2: db0abc/b on 10368850 kHz is already in the directory",
                           "line 14: q0'a on 144410 kHz is already in the directory",
                           "line 18: OLD/B on 144410 kHz is already in the directory"}));
    EXPECT_EQ(BeaconImportMessage(result),
              QStringLiteral("3 beacons imported from list.csv. 3 already in the directory, "
                             "skipped. 11 malformed rows skipped: line 4: no callsign; line 5: "
                             "\"JO6\" is not a locator of 4, 6, 8 or 10 characters; line 6: "
                             "frequency \"-5\" is not a positive number of kHz; and 8 more."));

    // Stored rows untouched, every column; the new ones appended after them.
    const QList<QStringList> after = station.rows();
    ASSERT_EQ(after.size(), before.size() + 3);
    EXPECT_EQ(after.mid(0, before.size()), before);
    EXPECT_EQ(station.rows(QStringLiteral("SELECT beacon, Locator, qrg, Equipment FROM "
                                          "PNT_Beacon WHERE ID > ?"),
                           {before.size()}),
              (QList<QStringList>{{"DB0ABC/B", "JO62QM", "10368851", "new frequency"},
                                  {"X4/B", "JO62QM", "10368.5", ""},
                                  {"Q0'A", "JO62QM", "144410", "multi\nline, comment"}}));

    // Nothing readable: nothing changes, and the user is told why.
    const QString missing = dir.file(QStringLiteral("none.csv"));
    const BeaconImportResult failed = ImportBeaconCsv(station.text, missing);
    EXPECT_FALSE(failed.ok);
    EXPECT_EQ(BeaconImportMessage(failed),
              QStringLiteral("Beacon import from %1 failed: the file does not exist. No beacon "
                             "was added.")
                  .arg(QDir::toNativeSeparators(missing)));
    EXPECT_FALSE(ImportBeaconCsv(station.text, dir.path()).ok); // a folder
    EXPECT_EQ(station.rows(), after);

    // An export into a folder that does not exist fails and says so.
    const BeaconExportResult noFolder =
        ExportBeaconCsv(station.text, dir.file(QStringLiteral("no/such/folder/b.csv")));
    EXPECT_FALSE(noFolder.ok);
    EXPECT_TRUE(BeaconExportMessage(noFolder).startsWith(QStringLiteral("Beacon export to ")));
    EXPECT_FALSE(QFile::exists(dir.file(QStringLiteral("no/such/folder/b.csv"))));
    // The old row's lower-case locator goes out as stored; the import refuses nothing of it.
    const QString out = dir.file(QStringLiteral("out.csv"));
    ASSERT_TRUE(ExportBeaconCsv(station.text, out).ok);
    EXPECT_TRUE(readAll(out).contains("\r\nOLD/B,jo62qm,144410,\r\n"));
}

} // namespace
