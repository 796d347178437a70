// The database seam against real SQLite files: connection text, data folder, new database,
// connections, recordsets (filter, sort, walk, fields, add, update, delete) and schema changes.

#include "Database.h"
#include "Recordset.h"
#include "TestSupport.h"

#include <QCoreApplication>
#include <QDate>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>
#include <gtest/gtest.h>
#include <ostream>

// Readable failure messages for Qt texts.
inline void PrintTo(const QString& text, std::ostream* os) {
    *os << '"' << text.toStdString() << '"';
}
inline void PrintTo(const QStringList& list, std::ostream* os) {
    *os << '{' << list.join(QStringLiteral(", ")).toStdString() << '}';
}

namespace {

QByteArray readAll(const QString& path) {
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly))
        return {};
    return f.readAll();
}

// A fresh database in a temporary folder, reached through the program's connection text.
class DatabaseTest : public ::testing::Test {
protected:
    void SetUp() override {
        EnsureApplication();
        ASSERT_TRUE(m_dir.isValid());
        m_path = QDir(m_dir.path()).filePath(QStringLiteral("backup.mdb"));
        QString error;
        ASSERT_TRUE(EnsureDatabase(m_path, &error)) << error.toStdString();
        m_text = BuildConnectionText(m_dir.path());
    }

    // Runs statements on a connection of its own; fails the test on the first error.
    void exec(std::initializer_list<const char*> statements) {
        DbConnection db;
        ASSERT_TRUE(db.open(m_text)) << db.lastError().toStdString();
        for (const char* s : statements)
            ASSERT_TRUE(db.execute(QString::fromUtf8(s)))
                << s << ": " << db.lastError().toStdString();
    }

    void addBeacons() {
        exec({"INSERT INTO PNT_Beacon (beacon, qrg, Locator, Equipment) VALUES "
              "('DB0ABC/B', 10368850, 'JO62QM', '10 W horn'),"
              "('Q0XYZ/B', 1296900, 'JO50AA', 'slot'),"
              "('q0low/b', 144410, 'JO40BB', NULL),"
              "('OK0EA', 24048000, 'JN79AA', 'dish'),"
              "('O''HARA/B', 50020, 'IO91AA', 'dipole'),"
              "('XQ0/B', 432900, 'KP20AA', 'yagi')"});
    }

    void addQsos() {
        exec({"INSERT INTO logtab (Date, GMT, Callsign, Band, Grid, QSL, DXCC) VALUES "
              "('2026-03-01', '10:00:00', 'DL1AAA', '10368100', 'JO62', 'q', 'Germany'),"
              "('2026-05-17', '11:30:00', 'OK1BBB', '144300', 'JO70', '', 'Czech Republic'),"
              "('2025-12-31', '23:59:00', 'SP2CCC', '10368850', NULL, 'Q', 'Poland'),"
              "(NULL, NULL, 'G4DDD', NULL, 'IO91', NULL, ''),"
              "('2026-05-17', '08:00:00', 'F6EEE', '1036', 'JN18', 'n', 'France'),"
              "('2026-01-02', '09:00:00', 'HB9FFF', '24048000', 'JN47', 'q', 'Switzerland')"});
    }

    int countRows(const QString& statement, const QVariantList& params = {}) {
        DbConnection db;
        if (!db.open(m_text))
            return -1;
        Recordset rs;
        if (!rs.open(statement, db, params))
            return -1;
        return rs.recordCount();
    }

    QStringList column(Recordset& rs, const QString& name) {
        QStringList out;
        for (rs.moveFirst(); !rs.eof(); rs.moveNext())
            out << DbValueText(rs.field(name));
        return out;
    }

    QTemporaryDir m_dir;
    QString m_path;
    QString m_text;
};

TEST(DatabaseConnectionText, BuildsTheProgramsTextAndResolvesItAndTheMigrationText) {
    const QString folder = QStringLiteral("/srv/station data");
    EXPECT_EQ(BuildConnectionText(folder),
              QStringLiteral("Provider=Microsoft.Jet.OLEDB.4.0;Data Source=/srv/station "
                             "data\\backup.mdb;Mode=Read|Write"));
    const QString expected = QDir(folder).filePath(QStringLiteral("backup.mdb"));
    EXPECT_EQ(ConnectionTextToPath(BuildConnectionText(folder)), expected);
    EXPECT_EQ(ConnectionTextToPath(QStringLiteral("Provider=Microsoft.Jet.OLEDB.4.0; ") +
                                   QStringLiteral("Data Source=") + folder +
                                   QStringLiteral("\\backup.mdb")),
              expected);
    EXPECT_EQ(ConnectionTextToPath(QStringLiteral("Provider=Microsoft.Jet.OLEDB.4.0;")), QString());
    EXPECT_EQ(ConnectionTextToPath(QStringLiteral("Data Source=;Mode=Read")), QString());

    // A folder with ";" or quotes in its name is quoted, and resolves to itself.
    for (const QString& odd : {QStringLiteral("/srv/a;b"), QStringLiteral("/srv/say \"hi\";x")}) {
        const QString text = BuildConnectionText(odd);
        EXPECT_TRUE(text.endsWith(QStringLiteral("\";Mode=Read|Write"))) << qPrintable(text);
        EXPECT_EQ(ConnectionTextToPath(text), QDir(odd).filePath(QStringLiteral("backup.mdb")))
            << qPrintable(text);
    }
}

// The station's database where the data folder is, whatever its name holds; a Jet file copied
// from a Windows station is named in a message that says what to do, and left as it is.
TEST(StationDatabaseFile, MadeWhereTheFolderIsAndAJetFileIsNamedNotTouched) {
    EnsureApplication();
    QTemporaryDir dir;
    const QString folder = dir.filePath(QStringLiteral("a;b \"c\""));
    StationDatabase database(folder);
    QString error;
    ASSERT_TRUE(database.ensure(&error)) << qPrintable(error);
    EXPECT_TRUE(QFileInfo(QDir(folder).filePath(QStringLiteral("backup.mdb"))).isFile());
    DbConnection db;
    EXPECT_TRUE(db.open(database.connectionText())) << qPrintable(db.lastError());
    db.close();

    const QString windows = dir.filePath(QStringLiteral("windows"));
    ASSERT_TRUE(QDir().mkpath(windows));
    QByteArray jet(4096, '\0');
    jet.replace(0, 19, QByteArray("\x00\x01\x00\x00Standard Jet DB", 19));
    QFile file(QDir(windows).filePath(QStringLiteral("backup.mdb")));
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.write(jet);
    file.close();
    StationDatabase old(windows);
    EXPECT_FALSE(old.ensure(&error));
    EXPECT_TRUE(error.contains(QDir::toNativeSeparators(file.fileName()))) << qPrintable(error);
    EXPECT_TRUE(error.contains(QStringLiteral("move the file aside"))) << qPrintable(error);
    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    EXPECT_EQ(file.readAll(), jet);
}

TEST(DatabaseDataFolder, OverrideEnvironmentExecutableFolderAndUserFolder) {
    EnsureApplication();
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const QString fromEnv = dir.filePath(QStringLiteral("env/data"));
    const QString fromOption = dir.filePath(QStringLiteral("option"));
    {
        EnvGuard env("FARSCAN_DATA_DIR", fromEnv.toUtf8());
        EXPECT_EQ(DataFolder(), fromEnv);
        EXPECT_TRUE(QFileInfo(fromEnv).isDir()) << "the override folder is created";
        SetDataFolderOverride(fromOption);
        EXPECT_EQ(DataFolder(), fromOption) << "the command-line option wins";
        SetDataFolderOverride(QString());
        EXPECT_EQ(DataFolder(), fromEnv);
    }
    {
        // Without an override the log never lands in the (writable) build folder: the user's
        // data folder, $XDG_DATA_HOME/Farscan.
        EnvGuard env("FARSCAN_DATA_DIR", QByteArray());
        EnvGuard xdg("XDG_DATA_HOME", dir.filePath(QStringLiteral("xdg")).toUtf8());
        EXPECT_EQ(DataFolder(), dir.filePath(QStringLiteral("xdg/Farscan")));
        EXPECT_TRUE(QFileInfo(dir.filePath(QStringLiteral("xdg/Farscan"))).isDir());
    }

    const QString exe = dir.filePath(QStringLiteral("exe"));
    const QString user = dir.filePath(QStringLiteral("user/Farscan"));
    ASSERT_TRUE(QDir().mkpath(exe));
    // A writable program folder without a database is no data folder.
    EXPECT_EQ(DataFolderFrom(QString(), exe, user), user);
    EXPECT_TRUE(QFileInfo(user).isDir());
    // A portable install: the program's folder already holds the database.
    QFile portable(QDir(exe).filePath(QStringLiteral("backup.mdb")));
    ASSERT_TRUE(portable.open(QIODevice::WriteOnly));
    portable.close();
    EXPECT_EQ(DataFolderFrom(QString(), exe, user), exe);
    EXPECT_EQ(DataFolderFrom(fromOption, exe, user), fromOption);
}

TEST_F(DatabaseTest, NewDatabaseHasTheThreeTablesWithTheirColumns) {
    DbConnection db;
    ASSERT_TRUE(db.open(m_text)) << db.lastError().toStdString();
    Recordset log;
    ASSERT_TRUE(log.open(QStringLiteral("SELECT * FROM LogTab"), db));
    EXPECT_EQ(log.fieldCount(), 34);
    QStringList names;
    for (int i = 0; i < log.fieldCount(); ++i)
        names << log.fieldName(i);
    EXPECT_EQ(names, DbLogColumns());
    for (const char* used : {"Date", "GMT", "Callsign", "Grid", "rsts", "rstr", "Band", "mode",
                             "Nam", "Comment", "QSL", "Prop", "DXCC", "QRB", "QTF"})
        EXPECT_GE(log.fieldIndex(QString::fromLatin1(used)), 0) << used;
    EXPECT_EQ(names.mid(31), (QStringList{"GEdata", "GEpoly", "GEgridXY"}));

    Recordset beacons;
    ASSERT_TRUE(beacons.open(QStringLiteral("SELECT * FROM PNT_Beacon"), db));
    EXPECT_EQ(beacons.fieldCount(), 9);
    for (const char* used :
         {"beacon", "qrg", "Locator", "Equipment", "GEpoly", "GEdata", "GEgridXY"})
        EXPECT_GE(beacons.fieldIndex(QString::fromLatin1(used)), 0) << used;

    Recordset dxcc;
    ASSERT_TRUE(dxcc.open(QStringLiteral("SELECT * FROM dxccdata  "), db));
    ASSERT_GE(dxcc.fieldCount(), 3);
    EXPECT_EQ(dxcc.fieldName(1), QStringLiteral("dxcccode"));
    EXPECT_EQ(log.recordCount() + beacons.recordCount() + dxcc.recordCount(), 0);
    EXPECT_EQ(QDir(m_dir.path()).entryList(QDir::Files | QDir::Hidden), QStringList{"backup.mdb"})
        << "the file is built under another name and renamed; nothing else is left";
}

TEST_F(DatabaseTest, ExistingFileIsLeftByteForByteAndAForeignFileFailsToOpen) {
    addBeacons();
    const QByteArray before = readAll(m_path);
    ASSERT_FALSE(before.isEmpty());
    EXPECT_TRUE(EnsureDatabase(m_path));
    EXPECT_EQ(readAll(m_path), before);
    EXPECT_EQ(countRows(QStringLiteral("SELECT * FROM PNT_Beacon")), 6);

    // A Jet file copied from Windows: no SQLite header.
    QTemporaryDir other;
    const QString jet = other.filePath(QStringLiteral("backup.mdb"));
    QByteArray jetBytes("\x00\x01\x00\x00Standard Jet DB\x00", 20);
    jetBytes += QByteArray(2048 - jetBytes.size(), '\x5a');
    {
        QFile f(jet);
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        f.write(jetBytes);
    }
    EXPECT_TRUE(EnsureDatabase(jet));
    DbConnection db;
    EXPECT_FALSE(db.open(BuildConnectionText(other.path())));
    EXPECT_FALSE(db.lastError().isEmpty());
    EXPECT_FALSE(db.execute(QStringLiteral("CREATE TABLE t (a)")));
    EXPECT_EQ(readAll(jet), jetBytes);
    EXPECT_EQ(QDir(other.path()).entryList(QDir::Files), QStringList{"backup.mdb"})
        << "no journal or temporary file left";

    // A folder where the file should be is an error, not a database.
    ASSERT_TRUE(QDir(other.path()).mkdir(QStringLiteral("folder.mdb")));
    QString error;
    EXPECT_FALSE(EnsureDatabase(other.filePath(QStringLiteral("folder.mdb")), &error));
    EXPECT_FALSE(error.isEmpty());
}

TEST_F(DatabaseTest, MissingFileFailsToOpenAndCreatesNothing) {
    QTemporaryDir empty;
    DbConnection db;
    EXPECT_FALSE(db.open(BuildConnectionText(empty.path())));
    EXPECT_TRUE(db.lastError().contains(QStringLiteral("not found")))
        << db.lastError().toStdString();
    EXPECT_FALSE(db.isOpen());
    EXPECT_TRUE(QDir(empty.path()).entryList(QDir::Files | QDir::Hidden).isEmpty());
    EXPECT_FALSE(db.open(QStringLiteral("Provider=Microsoft.Jet.OLEDB.4.0;")));
    EXPECT_FALSE(db.execute(QStringLiteral("ALTER TABLE logtab ADD COLUMN x text(250);")));

    // A file that vanishes while open: writes fail instead of going to the unlinked file.
    ASSERT_TRUE(db.open(m_text));
    Recordset rs;
    ASSERT_TRUE(rs.open(QStringLiteral("SELECT * FROM PNT_Beacon"), db));
    ASSERT_TRUE(QFile::remove(m_path));
    EXPECT_FALSE(db.execute(QStringLiteral("ALTER TABLE PNT_Beacon ADD COLUMN x text(250);")));
    ASSERT_TRUE(rs.addNew());
    ASSERT_TRUE(rs.setField(QStringLiteral("beacon"), QStringLiteral("DB0LOST/B")));
    EXPECT_FALSE(rs.update());
    EXPECT_TRUE(rs.lastError().contains(QStringLiteral("not found")));
    Recordset again;
    EXPECT_FALSE(again.open(QStringLiteral("SELECT * FROM PNT_Beacon"), db));
    EXPECT_FALSE(QFileInfo::exists(m_path));
}

TEST(DatabaseFolderNames, BlanksHashesAndUmlautsInTheFolder) {
    EnsureApplication();
    QTemporaryDir dir;
    const QString folder = dir.filePath(QStringLiteral("Stat ion #2 ?ü%20"));
    ASSERT_TRUE(QDir().mkpath(folder));
    ASSERT_TRUE(EnsureDatabase(QDir(folder).filePath(QStringLiteral("backup.mdb"))));
    DbConnection db;
    ASSERT_TRUE(db.open(BuildConnectionText(folder))) << db.lastError().toStdString();
    EXPECT_TRUE(db.execute(QStringLiteral("INSERT INTO PNT_Beacon (beacon) VALUES ('DB0X/B')")));
    EXPECT_EQ(QDir(folder).entryList(QDir::Files), QStringList{"backup.mdb"});
    EXPECT_EQ(QDir(dir.path()).entryList(QDir::AllEntries | QDir::NoDotAndDotDot).size(), 1);
}

TEST(DatabaseLike, PercentUnderscoreAndCaseInsensitivity) {
    EXPECT_TRUE(LikeMatches(QStringLiteral("10368850"), QStringLiteral("10368%")));
    EXPECT_TRUE(LikeMatches(QStringLiteral("10368"), QStringLiteral("10368%")));
    EXPECT_FALSE(LikeMatches(QStringLiteral("1036"), QStringLiteral("10368%")));
    EXPECT_FALSE(LikeMatches(QStringLiteral("110368"), QStringLiteral("10368%")));
    EXPECT_TRUE(LikeMatches(QStringLiteral("DB0ABC/B"), QStringLiteral("%/b%")));
    EXPECT_TRUE(LikeMatches(QStringLiteral("q0low/b"), QStringLiteral("Q0%/B")));
    EXPECT_FALSE(LikeMatches(QStringLiteral("OK0EA"), QStringLiteral("%/b%")));
    EXPECT_TRUE(LikeMatches(QStringLiteral("JO62"), QStringLiteral("jo__")));
    EXPECT_FALSE(LikeMatches(QStringLiteral("JO6"), QStringLiteral("jo__")));
    EXPECT_FALSE(LikeMatches(QStringLiteral("JO62Q"), QStringLiteral("jo__")));
    EXPECT_TRUE(LikeMatches(QStringLiteral("a%b"), QStringLiteral("a%b")));
    EXPECT_TRUE(LikeMatches(QStringLiteral("aXbYb"), QStringLiteral("a%b")));
    EXPECT_FALSE(LikeMatches(QStringLiteral("aXbY"), QStringLiteral("a%b")));
    EXPECT_TRUE(LikeMatches(QString(), QStringLiteral("%")));
    EXPECT_FALSE(LikeMatches(QString(), QStringLiteral("_")));
    EXPECT_TRUE(LikeMatches(QString(), QString()));
    EXPECT_FALSE(LikeMatches(QStringLiteral("x"), QString()));
    EXPECT_TRUE(LikeMatches(QStringLiteral("MÜLLER"), QStringLiteral("mül%")));
    EXPECT_TRUE(LikeMatches(QStringLiteral("O'HARA/B"), QStringLiteral("o'h%")));
    EXPECT_TRUE(LikeMatches(QStringLiteral("%%%x"), QStringLiteral("%x")));
}

TEST_F(DatabaseTest, BandFilterShowsOnlyItsBandAndTheEmptyFilterShowsAll) {
    addQsos();
    DbConnection db;
    ASSERT_TRUE(db.open(m_text));
    Recordset rs;
    ASSERT_TRUE(rs.open(QStringLiteral("SELECT * FROM logtab"), db, {}, {3, 3, 3, 1}));
    EXPECT_EQ(rs.recordCount(), 6);
    ASSERT_TRUE(rs.setFilter(QStringLiteral(" band like '") + QStringLiteral("10368%") + "'"));
    EXPECT_EQ(rs.recordCount(), 2);
    EXPECT_EQ(column(rs, QStringLiteral("Band")), (QStringList{"10368100", "10368850"}));
    EXPECT_EQ(rs.filter(), QStringLiteral(" band like '10368%'"));

    // Unreadable filters fail and keep the filter in force.
    EXPECT_FALSE(rs.setFilter(QStringLiteral(" band = '144300'")));
    EXPECT_FALSE(rs.lastError().isEmpty());
    EXPECT_FALSE(rs.setFilter(QStringLiteral(" nosuchcolumn like 'x%'")));
    EXPECT_FALSE(rs.setFilter(QStringLiteral(" band like 10368")));
    EXPECT_EQ(rs.recordCount(), 2);

    // The empty pattern matches only empty texts; the empty filter shows every row.
    ASSERT_TRUE(rs.setFilter(QStringLiteral(" band like ''")));
    EXPECT_EQ(rs.recordCount(), 0);
    EXPECT_TRUE(rs.eof());
    EXPECT_TRUE(rs.bof());
    ASSERT_TRUE(rs.setFilter(QString()));
    EXPECT_EQ(rs.recordCount(), 6);
    ASSERT_TRUE(rs.setFilter(QStringLiteral("  ")));
    EXPECT_EQ(rs.recordCount(), 6);

    // A quote inside the pattern belongs to it: the pattern ends at the last quote.
    ASSERT_TRUE(rs.setFilter(QStringLiteral(" callsign like '%1B%'")));
    EXPECT_EQ(column(rs, QStringLiteral("callsign")), QStringList{"OK1BBB"});
    ASSERT_TRUE(rs.setFilter(QStringLiteral(" callsign like 'x' OR '1'='1'")));
    EXPECT_EQ(rs.recordCount(), 0);
    ASSERT_TRUE(rs.setFilter(QStringLiteral(" QSL like'q'")));
    EXPECT_EQ(rs.recordCount(), 3) << "LIKE is case-insensitive; a null QSL never matches";
    ASSERT_TRUE(rs.setFilter(QStringLiteral(" grid like 'J_6_'")));
    EXPECT_EQ(column(rs, QStringLiteral("Callsign")), QStringList{"DL1AAA"});
}

TEST_F(DatabaseTest, NumericFrequencyFilterAndMonitorList) {
    addBeacons();
    DbConnection db;
    ASSERT_TRUE(db.open(m_text));
    Recordset rs;
    ASSERT_TRUE(
        rs.open(QStringLiteral("SELECT beacon, Locator, qrg, Equipment FROM PNT_beacon"), db));
    ASSERT_TRUE(rs.setFilter(QStringLiteral(" beacon like '%/b%'")));
    EXPECT_EQ(column(rs, QStringLiteral("beacon")),
              (QStringList{"DB0ABC/B", "Q0XYZ/B", "q0low/b", "O'HARA/B", "XQ0/B"}));
    ASSERT_TRUE(rs.setFilter(QStringLiteral(" qrg like '1296%'")));
    EXPECT_EQ(column(rs, QStringLiteral("beacon")), QStringList{"Q0XYZ/B"});
}

TEST_F(DatabaseTest, SearchTextTravelsAsAParameterAndCannotInject) {
    addBeacons();
    const QString search = QStringLiteral(
        "SELECT beacon, Locator, qrg, Equipment  FROM PNT_beacon where beacon like ?");
    DbConnection db;
    ASSERT_TRUE(db.open(m_text));
    Recordset rs;
    ASSERT_TRUE(rs.open(search, db, {QStringLiteral("Q0") + QStringLiteral("%")}));
    EXPECT_EQ(column(rs, QStringLiteral("beacon")), (QStringList{"Q0XYZ/B", "q0low/b"}))
        << "names beginning Q0, not containing it";
    EXPECT_EQ(rs.fieldCount(), 4);

    ASSERT_TRUE(rs.open(search, db, {QStringLiteral("O'HARA%")}));
    EXPECT_EQ(column(rs, QStringLiteral("beacon")), QStringList{"O'HARA/B"});
    ASSERT_TRUE(rs.open(search, db, {QStringLiteral("x' OR '1'='1")}));
    EXPECT_EQ(rs.recordCount(), 0);
    ASSERT_TRUE(rs.open(search, db, {QStringLiteral("%'; DROP TABLE PNT_Beacon; --")}));
    EXPECT_EQ(rs.recordCount(), 0);
    EXPECT_EQ(countRows(QStringLiteral("SELECT * FROM PNT_Beacon")), 6);

    // The logbook's country lookup, with the callsign as a parameter.
    exec({"INSERT INTO dxccdata (dxcccode, Country) VALUES ('DL%', 'Germany'), ('D%', 'Germany "
          "(D)'), ('OK%', 'Czech Republic')"});
    ASSERT_TRUE(rs.open(QStringLiteral("SELECT * FROM dxccdata where ? like dxcccode "), db,
                        {QStringLiteral("DL1ABC")}));
    EXPECT_EQ(column(rs, QStringLiteral("Country")), (QStringList{"Germany", "Germany (D)"}));
    EXPECT_FALSE(rs.open(search, db, {}));
    EXPECT_FALSE(rs.lastError().isEmpty()) << "a missing parameter is an error";
}

TEST_F(DatabaseTest, SortsNumericallyByFrequencyAndByDateDescending) {
    addBeacons();
    addQsos();
    DbConnection db;
    ASSERT_TRUE(db.open(m_text));
    Recordset rs;
    ASSERT_TRUE(
        rs.open(QStringLiteral("SELECT beacon, Locator, qrg, Equipment FROM PNT_beacon"), db));
    ASSERT_TRUE(rs.setSort(QStringLiteral("qrg  asc ")));
    EXPECT_EQ(column(rs, QStringLiteral("qrg")),
              (QStringList{"50020", "144410", "432900", "1296900", "10368850", "24048000"}));
    ASSERT_TRUE(rs.setSort(QStringLiteral("beacon  asc ")));
    EXPECT_EQ(column(rs, QStringLiteral("beacon")),
              (QStringList{"DB0ABC/B", "O'HARA/B", "OK0EA", "q0low/b", "Q0XYZ/B", "XQ0/B"}))
        << "texts case-insensitively";
    ASSERT_TRUE(rs.setSort(QStringLiteral("Equipment asc")));
    EXPECT_EQ(column(rs, QStringLiteral("beacon")).first(), QStringLiteral("q0low/b"))
        << "null first in ascending order";
    EXPECT_FALSE(rs.setSort(QStringLiteral("nosuch asc")));
    EXPECT_FALSE(rs.setSort(QStringLiteral("qrg upwards")));
    EXPECT_EQ(rs.sort(), QStringLiteral("Equipment asc"));

    Recordset log;
    ASSERT_TRUE(log.open(QStringLiteral("SELECT * FROM logtab"), db));
    ASSERT_TRUE(log.setSort(QStringLiteral("date  desc ")));
    EXPECT_EQ(column(log, QStringLiteral("Callsign")),
              (QStringList{"OK1BBB", "F6EEE", "DL1AAA", "HB9FFF", "SP2CCC", "G4DDD"}))
        << "equal dates keep statement order; the null date comes last";
    ASSERT_TRUE(log.setSort(QStringLiteral("date desc, GMT asc")));
    EXPECT_EQ(column(log, QStringLiteral("Callsign")).mid(0, 2), (QStringList{"F6EEE", "OK1BBB"}));
    ASSERT_TRUE(log.setFilter(QStringLiteral(" band like '10368%'")));
    EXPECT_EQ(column(log, QStringLiteral("Callsign")), (QStringList{"DL1AAA", "SP2CCC"}))
        << "the sort stays in force under a new filter";
    ASSERT_TRUE(log.setSort(QString()));
    ASSERT_TRUE(log.setFilter(QString()));
    EXPECT_EQ(column(log, QStringLiteral("Callsign")).first(), QStringLiteral("DL1AAA"));
}

TEST_F(DatabaseTest, WalksForwardAndBackWithEndAndBeginFlags) {
    addBeacons();
    DbConnection db;
    ASSERT_TRUE(db.open(m_text));
    Recordset rs;
    ASSERT_TRUE(
        rs.open(QStringLiteral("SELECT * FROM PNT_Beacon WHERE beacon like 'nothing%'"), db));
    EXPECT_TRUE(rs.eof());
    EXPECT_TRUE(rs.bof());
    EXPECT_EQ(rs.recordCount(), 0);
    EXPECT_FALSE(rs.field(QStringLiteral("beacon")).isValid());
    EXPECT_FALSE(rs.moveNext());

    ASSERT_TRUE(rs.open(QStringLiteral("SELECT * FROM PNT_Beacon"), db));
    EXPECT_FALSE(rs.eof());
    EXPECT_FALSE(rs.bof());
    int seen = 0;
    while (!rs.eof()) {
        EXPECT_TRUE(rs.field(QStringLiteral("beacon")).isValid());
        ASSERT_TRUE(rs.moveNext());
        ++seen;
    }
    EXPECT_EQ(seen, 6);
    EXPECT_EQ(rs.position(), 6);
    EXPECT_FALSE(rs.moveNext());
    EXPECT_FALSE(rs.lastError().isEmpty());
    EXPECT_FALSE(rs.field(0).isValid()) << "no current row past the end";
    ASSERT_TRUE(rs.movePrevious());
    EXPECT_EQ(DbValueText(rs.field(QStringLiteral("beacon"))), QStringLiteral("XQ0/B"));
    ASSERT_TRUE(rs.moveFirst());
    ASSERT_TRUE(rs.movePrevious());
    EXPECT_TRUE(rs.bof());
    EXPECT_FALSE(rs.eof());
    EXPECT_FALSE(rs.movePrevious());
    ASSERT_TRUE(rs.moveNext());
    EXPECT_EQ(DbValueText(rs.field(QStringLiteral("beacon"))), QStringLiteral("DB0ABC/B"));
    EXPECT_FALSE(rs.moveTo(6));
    ASSERT_TRUE(rs.moveLast());
    EXPECT_EQ(rs.position(), 5);
}

TEST_F(DatabaseTest, FieldsByNameIgnoreCaseAndByPosition) {
    addBeacons();
    exec({"INSERT INTO dxccdata (dxcccode, Country) VALUES ('DL%', 'Germany')"});
    DbConnection db;
    ASSERT_TRUE(db.open(m_text));
    Recordset rs;
    ASSERT_TRUE(rs.open(QStringLiteral("SELECT * FROM PNT_beacon where beacon like ?"), db,
                        {QStringLiteral("Q0XYZ/B")}));
    ASSERT_EQ(rs.recordCount(), 1);
    EXPECT_EQ(rs.field(QStringLiteral("QRG")).toString(), QStringLiteral("1296900"));
    EXPECT_EQ(DbValueText(rs.field(QStringLiteral("qrg"))), QStringLiteral("1296900"));
    EXPECT_EQ(rs.field(QStringLiteral("equipment")).toString(), QStringLiteral("slot"));
    EXPECT_EQ(rs.field(QStringLiteral("LOCATOR")).toString(), QStringLiteral("JO50AA"));
    EXPECT_TRUE(rs.field(QStringLiteral("GEdata")).isNull());
    EXPECT_TRUE(rs.lastError().isEmpty()) << "a null field is no error";
    EXPECT_EQ(rs.field(rs.fieldIndex(QStringLiteral("Beacon"))).toString(),
              QStringLiteral("Q0XYZ/B"));

    EXPECT_FALSE(rs.field(QStringLiteral("nosuch")).isValid());
    EXPECT_TRUE(rs.lastError().contains(QStringLiteral("nosuch")));
    EXPECT_FALSE(rs.field(9).isValid());
    EXPECT_FALSE(rs.field(-1).isValid());
    EXPECT_EQ(rs.fieldName(9), QString());
    EXPECT_FALSE(rs.setField(QStringLiteral("nosuch"), 1));

    Recordset dxcc;
    ASSERT_TRUE(dxcc.open(QStringLiteral("SELECT * FROM dxccdata  "), db));
    EXPECT_EQ(dxcc.field(1).toString(), QStringLiteral("DL%"));
    EXPECT_EQ(dxcc.field(2).toString(), QStringLiteral("Germany"));
}

TEST_F(DatabaseTest, AddNewAppendsARowThatAnotherConnectionSees) {
    addBeacons();
    {
        DbConnection db;
        ASSERT_TRUE(db.open(m_text));
        Recordset rs;
        ASSERT_TRUE(rs.open(QStringLiteral("SELECT * FROM PNT_Beacon"), db, {}, {3, 1, 2, 1}));
        EXPECT_TRUE(rs.isUpdatable());
        ASSERT_TRUE(rs.addNew());
        EXPECT_TRUE(rs.editPending());
        ASSERT_TRUE(rs.setField(QStringLiteral("beacon"), QStringLiteral("DB0NEW/B")));
        ASSERT_TRUE(rs.setField(QStringLiteral("QRG"), QStringLiteral("1296900")));
        ASSERT_TRUE(rs.setField(QStringLiteral("Locator"), QStringLiteral("JO62QM")));
        ASSERT_TRUE(rs.setField(QStringLiteral("equipment"), QStringLiteral(" ")));
        EXPECT_EQ(rs.field(QStringLiteral("beacon")).toString(), QStringLiteral("DB0NEW/B"));
        ASSERT_TRUE(rs.update()) << rs.lastError().toStdString();
        EXPECT_FALSE(rs.editPending());
        EXPECT_EQ(rs.recordCount(), 7);
        EXPECT_EQ(rs.position(), 6) << "the new row is current";
        EXPECT_EQ(DbValueText(rs.field(QStringLiteral("qrg"))), QStringLiteral("1296900"));
        EXPECT_TRUE(rs.field(QStringLiteral("ID")).toLongLong() > 0) << "read back from the table";

        // A second new row, written by moving on (the cursor writes pending changes first).
        ASSERT_TRUE(rs.addNew());
        ASSERT_TRUE(rs.setField(1, QStringLiteral("DB0TWO/B")));
        ASSERT_TRUE(rs.moveFirst());
        EXPECT_EQ(rs.recordCount(), 8);
        // addNew then deleteCurrent forgets the new row.
        ASSERT_TRUE(rs.addNew());
        ASSERT_TRUE(rs.setField(1, QStringLiteral("DB0NOT/B")));
        ASSERT_TRUE(rs.deleteCurrent());
        EXPECT_FALSE(rs.editPending());
        EXPECT_EQ(rs.recordCount(), 8);
    }
    DbConnection other;
    ASSERT_TRUE(other.open(m_text));
    Recordset check;
    ASSERT_TRUE(check.open(QStringLiteral("SELECT * FROM PNT_Beacon where beacon like ?"), other,
                           {QStringLiteral("DB0NEW/B")}));
    ASSERT_EQ(check.recordCount(), 1);
    EXPECT_EQ(check.field(QStringLiteral("qrg")).toString(), QStringLiteral("1296900"));
    EXPECT_EQ(check.field(QStringLiteral("Equipment")).toString(), QStringLiteral(" "));
    EXPECT_EQ(check.field(QStringLiteral("Locator")).toString(), QStringLiteral("JO62QM"));
    EXPECT_EQ(countRows(QStringLiteral("SELECT * FROM PNT_Beacon where beacon like 'DB0TWO/B'")),
              1);
    EXPECT_EQ(countRows(QStringLiteral("SELECT * FROM PNT_Beacon where beacon like 'DB0NOT/B'")),
              0);
}

TEST_F(DatabaseTest, UpdateWritesOnlyTheChangedFieldsOfEachRow) {
    addQsos();
    {
        DbConnection db;
        ASSERT_TRUE(db.open(m_text));
        Recordset rs;
        ASSERT_TRUE(rs.open(QStringLiteral("SELECT * FROM logtab"), db));
        ASSERT_TRUE(rs.setFilter(QStringLiteral(" band like '10368%'")));
        for (rs.moveFirst(); !rs.eof(); rs.moveNext()) {
            ASSERT_TRUE(rs.setField(QStringLiteral("GEdata"),
                                    QStringLiteral("Log: ") + rs.field("Callsign").toString()));
            ASSERT_TRUE(rs.setField(QStringLiteral("QRB"), QStringLiteral("512")));
            ASSERT_TRUE(rs.update()) << rs.lastError().toStdString();
            EXPECT_EQ(rs.field(QStringLiteral("QRB")).toLongLong(), 512);
        }
        // Another connection changes a column meanwhile; ours writes only what it changed.
        exec({"UPDATE logtab SET Comment = 'elsewhere' WHERE Callsign = 'DL1AAA'"});
        ASSERT_TRUE(rs.moveFirst());
        ASSERT_TRUE(rs.setField(QStringLiteral("QTF"), 271));
        ASSERT_TRUE(rs.setField(QStringLiteral("Date"), QDate(2026, 12, 7)));
        ASSERT_TRUE(rs.setField(QStringLiteral("GMT"), QTime(20, 15, 30, 250)));
        ASSERT_TRUE(rs.update());
        EXPECT_EQ(rs.field(QStringLiteral("Date")).toString(), QStringLiteral("2026-12-07"));
        EXPECT_EQ(rs.field(QStringLiteral("GMT")).toString(), QStringLiteral("20:15:30"));
        EXPECT_EQ(rs.field(QStringLiteral("Comment")).toString(), QStringLiteral("elsewhere"))
            << "the row is read back after writing";
        // A pending change is forgotten by cancelUpdate.
        ASSERT_TRUE(rs.setField(QStringLiteral("Nam"), QStringLiteral("never")));
        rs.cancelUpdate();
        EXPECT_TRUE(rs.field(QStringLiteral("Nam")).isNull());
        ASSERT_TRUE(rs.update()) << "nothing pending";
    }
    DbConnection db;
    ASSERT_TRUE(db.open(m_text));
    Recordset check;
    ASSERT_TRUE(
        check.open(QStringLiteral("select *  from logtab where grid <> ''order by grid"), db));
    EXPECT_EQ(check.recordCount(), 5);
    ASSERT_TRUE(check.open(QStringLiteral("SELECT Callsign, GEdata, QRB, QTF, Comment, Nam FROM "
                                          "logtab WHERE GEdata IS NOT NULL ORDER BY Callsign"),
                           db));
    EXPECT_EQ(column(check, QStringLiteral("GEdata")), (QStringList{"Log: DL1AAA", "Log: SP2CCC"}));
    EXPECT_EQ(column(check, QStringLiteral("QRB")), (QStringList{"512", "512"}));
    EXPECT_EQ(column(check, QStringLiteral("QTF")), (QStringList{"271", ""}));
    EXPECT_EQ(column(check, QStringLiteral("Comment")), (QStringList{"elsewhere", ""}));
    EXPECT_EQ(column(check, QStringLiteral("Nam")), (QStringList{"", ""}));
}

TEST_F(DatabaseTest, RowsUpdatedBeforeAFailureStayUpdated) {
    addBeacons();
    DbConnection db;
    ASSERT_TRUE(db.open(m_text));
    Recordset rs;
    ASSERT_TRUE(rs.open(QStringLiteral("SELECT * FROM PNT_Beacon"), db));
    ASSERT_TRUE(rs.setField(QStringLiteral("GEdata"), QStringLiteral("first")));
    ASSERT_TRUE(rs.update());
    ASSERT_TRUE(rs.moveNext());
    // The row vanishes behind the recordset's back: its update fails.
    exec({"DELETE FROM PNT_Beacon WHERE beacon = 'Q0XYZ/B'"});
    ASSERT_TRUE(rs.setField(QStringLiteral("GEdata"), QStringLiteral("second")));
    EXPECT_FALSE(rs.update());
    EXPECT_TRUE(rs.lastError().contains(QStringLiteral("no longer")));
    EXPECT_FALSE(rs.moveNext()) << "a failing pending change blocks the move";
    rs.cancelUpdate();
    EXPECT_TRUE(rs.moveNext());
    EXPECT_EQ(countRows(QStringLiteral("SELECT * FROM PNT_Beacon WHERE GEdata = 'first'")), 1);
}

TEST_F(DatabaseTest, DeleteRemovesTheRowAndTheNextBecomesCurrent) {
    addBeacons();
    DbConnection db;
    ASSERT_TRUE(db.open(m_text));
    Recordset rs;
    ASSERT_TRUE(rs.open(QStringLiteral("SELECT beacon, qrg FROM PNT_Beacon"), db));
    ASSERT_TRUE(rs.setSort(QStringLiteral("qrg asc")));
    ASSERT_TRUE(rs.moveTo(1));
    EXPECT_EQ(rs.field(0).toString(), QStringLiteral("q0low/b"));
    ASSERT_TRUE(rs.deleteCurrent()) << rs.lastError().toStdString();
    EXPECT_EQ(rs.recordCount(), 5);
    EXPECT_EQ(rs.field(0).toString(), QStringLiteral("XQ0/B"));
    ASSERT_TRUE(rs.moveLast());
    ASSERT_TRUE(rs.deleteCurrent());
    EXPECT_TRUE(rs.eof());
    EXPECT_FALSE(rs.deleteCurrent());
    EXPECT_EQ(countRows(QStringLiteral("SELECT * FROM PNT_Beacon")), 4);
    EXPECT_EQ(
        countRows(QStringLiteral("SELECT * FROM PNT_Beacon WHERE beacon IN ('q0low/b', 'OK0EA')")),
        0);
}

TEST_F(DatabaseTest, StatementsThatCannotBeWrittenBackAreReadOnly) {
    addBeacons();
    DbConnection db;
    ASSERT_TRUE(db.open(m_text));
    Recordset rs;
    ASSERT_TRUE(rs.open(QStringLiteral("SELECT count(*) AS n FROM PNT_Beacon"), db));
    EXPECT_EQ(rs.fieldCount(), 1);
    EXPECT_EQ(rs.field(0).toInt(), 6);
    EXPECT_FALSE(rs.isUpdatable());
    EXPECT_FALSE(rs.setField(0, 7));
    EXPECT_FALSE(rs.addNew());
    EXPECT_FALSE(rs.deleteCurrent());
    EXPECT_TRUE(rs.lastError().contains(QStringLiteral("read-only")));

    ASSERT_TRUE(rs.open(QStringLiteral("SELECT DISTINCT Locator FROM PNT_Beacon"), db));
    EXPECT_FALSE(rs.isUpdatable());
    ASSERT_TRUE(rs.open(QStringLiteral("SELECT a.beacon FROM PNT_Beacon a, logtab b"), db));
    EXPECT_FALSE(rs.isUpdatable());

    RecordsetOptions readOnly;
    readOnly.lockType = 1;
    ASSERT_TRUE(rs.open(QStringLiteral("SELECT * FROM PNT_Beacon"), db, {}, readOnly));
    EXPECT_FALSE(rs.setField(QStringLiteral("beacon"), QStringLiteral("x")));
    EXPECT_EQ(rs.options().lockType, 1);

    RecordsetOptions table;
    table.commandType = 2;
    EXPECT_FALSE(rs.open(QStringLiteral("SELECT * FROM PNT_Beacon"), db, {}, table));
    EXPECT_FALSE(rs.open(QStringLiteral("DELETE FROM PNT_Beacon"), db));
    EXPECT_FALSE(rs.open(QStringLiteral("SELECT * FROM PNT_Beacon; DELETE FROM PNT_Beacon"), db));
    EXPECT_FALSE(rs.open(QStringLiteral("SELECT * FROM nosuchtable"), db));
    EXPECT_FALSE(rs.lastError().isEmpty());
    EXPECT_EQ(countRows(QStringLiteral("SELECT * FROM PNT_Beacon")), 6);
}

TEST_F(DatabaseTest, SchemaStatementsMigrateOldBeaconAndLogTables) {
    QTemporaryDir old;
    const QString path = QDir(old.path()).filePath(QStringLiteral("backup.mdb"));
    ASSERT_TRUE(EnsureDatabase(path));
    QStringList oldLog = DbLogColumns().mid(0, 31);
    {
        DbConnection db;
        ASSERT_TRUE(db.open(BuildConnectionText(old.path())));
        ASSERT_TRUE(db.execute(QStringLiteral("DROP TABLE logtab")));
        ASSERT_TRUE(
            db.execute(QStringLiteral("CREATE TABLE logtab (\"%1\")").arg(oldLog.join("\", \""))));
        ASSERT_TRUE(db.execute(QStringLiteral("DROP TABLE PNT_Beacon")));
        ASSERT_TRUE(db.execute(QStringLiteral(
            "CREATE TABLE PNT_Beacon (ID INTEGER PRIMARY KEY, beacon text(30), qrg DOUBLE, "
            "Locator text(10), Equipment text(250), Status text(20), XCoord DOUBLE, YCoord "
            "DOUBLE)")));
        ASSERT_TRUE(db.execute(QStringLiteral(
            "INSERT INTO PNT_Beacon (beacon, qrg, XCoord) VALUES ('DB0OLD/B', 10368900, 12.5)")));
    }
    const QString migration = QStringLiteral("Provider=Microsoft.Jet.OLEDB.4.0; ") +
                              QStringLiteral("Data Source=") + old.path() +
                              QStringLiteral("\\backup.mdb");
    auto fieldCount = [&](const QString& statement) {
        DbConnection db;
        Recordset rs;
        if (!db.open(BuildConnectionText(old.path())) || !rs.open(statement, db))
            return -1;
        return rs.fieldCount();
    };
    EXPECT_EQ(fieldCount(QStringLiteral("SELECT * FROM PNT_Beacon")), 8);
    EXPECT_EQ(fieldCount(QStringLiteral("SELECT * FROM LogTab")), 31);
    {
        DbConnection db;
        ASSERT_TRUE(db.open(migration)) << db.lastError().toStdString();
        // The recordset of the schema check may still be open on another connection.
        DbConnection reader;
        ASSERT_TRUE(reader.open(BuildConnectionText(old.path())));
        Recordset open;
        ASSERT_TRUE(open.open(QStringLiteral("SELECT * FROM PNT_Beacon"), reader));
        for (const char* s : {"ALTER TABLE PNT_Beacon DROP COLUMN XCoord ",
                              "ALTER TABLE PNT_Beacon DROP COLUMN YCoord ",
                              "ALTER TABLE PNT_Beacon ADD COLUMN GEpoly text(250);",
                              "ALTER TABLE PNT_Beacon ADD COLUMN GEdata text(250);",
                              "ALTER TABLE PNT_Beacon ADD COLUMN GEgridXY text(250);",
                              "ALTER TABLE logtab ADD COLUMN GEdata text(250);",
                              "ALTER TABLE logtab ADD COLUMN GEpoly text(250);",
                              "ALTER TABLE logtab ADD COLUMN GEgridXY text(250);"})
            EXPECT_TRUE(db.execute(QString::fromLatin1(s))) << s << db.lastError().toStdString();
        // Running the migration twice fails with an error and changes nothing.
        EXPECT_FALSE(db.execute(QStringLiteral("ALTER TABLE logtab ADD COLUMN GEdata text(250);")));
        EXPECT_TRUE(db.lastError().contains(QStringLiteral("duplicate"), Qt::CaseInsensitive))
            << db.lastError().toStdString();
        EXPECT_FALSE(db.execute(QStringLiteral("ALTER TABLE PNT_Beacon DROP COLUMN XCoord ")));
        // The recordset opened before the change keeps the rows it read; writing a column
        // that is gone fails with an error.
        EXPECT_EQ(open.fieldCount(), 8);
        EXPECT_EQ(open.field(QStringLiteral("XCoord")).toDouble(), 12.5);
        ASSERT_TRUE(open.setField(QStringLiteral("XCoord"), 13.0));
        EXPECT_FALSE(open.update());
        EXPECT_TRUE(open.lastError().contains(QStringLiteral("XCoord")))
            << open.lastError().toStdString();
        open.cancelUpdate();
    }
    EXPECT_EQ(fieldCount(QStringLiteral("SELECT * FROM PNT_Beacon")), 9);
    EXPECT_EQ(fieldCount(QStringLiteral("SELECT * FROM LogTab")), 34);
    DbConnection db;
    ASSERT_TRUE(db.open(BuildConnectionText(old.path())));
    Recordset rs;
    ASSERT_TRUE(rs.open(QStringLiteral("SELECT * FROM PNT_Beacon"), db));
    EXPECT_EQ(DbValueText(rs.field(QStringLiteral("qrg"))), QStringLiteral("10368900"));
    EXPECT_EQ(rs.fieldIndex(QStringLiteral("XCoord")), -1);
}

TEST_F(DatabaseTest, ClosedRecordsetFailsCleanlyAndOutlivesItsConnection) {
    addBeacons();
    Recordset rs;
    EXPECT_FALSE(rs.isOpen());
    EXPECT_TRUE(rs.eof());
    EXPECT_TRUE(rs.bof());
    EXPECT_EQ(rs.recordCount(), 0);
    EXPECT_EQ(rs.fieldCount(), 0);
    EXPECT_FALSE(rs.moveFirst());
    EXPECT_TRUE(rs.lastError().contains(QStringLiteral("closed")));
    EXPECT_FALSE(rs.moveNext());
    EXPECT_FALSE(rs.movePrevious());
    EXPECT_FALSE(rs.moveTo(0));
    EXPECT_FALSE(rs.field(QStringLiteral("beacon")).isValid());
    EXPECT_FALSE(rs.field(0).isValid());
    EXPECT_FALSE(rs.setField(0, 1));
    EXPECT_FALSE(rs.addNew());
    EXPECT_FALSE(rs.update());
    EXPECT_FALSE(rs.deleteCurrent());
    EXPECT_FALSE(rs.setFilter(QStringLiteral(" beacon like 'x'")));
    EXPECT_FALSE(rs.setSort(QStringLiteral("qrg asc")));
    EXPECT_FALSE(rs.valueAt(0, 0).isValid());
    EXPECT_EQ(rs.fieldName(0), QString());
    rs.close();

    DbConnection unopened;
    EXPECT_FALSE(rs.open(QStringLiteral("SELECT * FROM PNT_Beacon"), unopened));
    EXPECT_FALSE(unopened.execute(QStringLiteral("SELECT 1")));

    {
        DbConnection db;
        ASSERT_TRUE(db.open(m_text));
        ASSERT_TRUE(rs.open(QStringLiteral("SELECT * FROM PNT_Beacon"), db));
    }
    // The connection object is gone; the recordset keeps the database until it closes.
    ASSERT_TRUE(rs.setField(QStringLiteral("Equipment"), QStringLiteral("kept")));
    ASSERT_TRUE(rs.update()) << rs.lastError().toStdString();
    rs.close();
    EXPECT_FALSE(rs.field(0).isValid());
    EXPECT_FALSE(rs.update());
    EXPECT_EQ(countRows(QStringLiteral("SELECT * FROM PNT_Beacon WHERE Equipment = 'kept'")), 1);
}

TEST(DatabaseValueText, WholeNumbersWithoutDecimalsOthersShortest) {
    EXPECT_EQ(DbValueText(QVariant(10368850.0)), QStringLiteral("10368850"));
    EXPECT_EQ(DbValueText(QVariant(144410.5)), QStringLiteral("144410.5"));
    EXPECT_EQ(DbValueText(QVariant(qlonglong(512))), QStringLiteral("512"));
    EXPECT_EQ(DbValueText(QVariant(QMetaType(QMetaType::QString))), QString());
    EXPECT_EQ(DbValueText(QVariant()), QString());
}

} // namespace
