// ADIF exchange against real SQLite logs on disk: a generated log out and back in without loss,
// the files other programs and accidents produce, duplicates, and a target that cannot be
// written.

#include "Adif.h"
#include "Database.h"
#include "LogDatabase.h"
#include "LogGenerator.h"
#include "Recordset.h"
#include "TestStation.h"
#include "TestSupport.h"

#include <QDir>
#include <QFile>
#include <QSqlQuery>
#include <gtest/gtest.h>

#include <sys/stat.h>

namespace {

const QString kHome = QStringLiteral("JO62QM");

QByteArray ReadAll(const QString& path) {
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray("<missing>");
}

bool WriteFile(const QString& path, const QByteArray& bytes) {
    QFile f(path);
    return f.open(QIODevice::WriteOnly) && f.write(bytes) == bytes.size();
}

// An empty log in its own folder; returns the connection text.
QString NewLog(const QString& folder) {
    QDir().mkpath(folder);
    EXPECT_TRUE(EnsureDatabase(QDir(folder).filePath(QString::fromLatin1(DbFileName))));
    return BuildConnectionText(folder);
}

QString LogColumnsSelect() {
    QStringList quoted;
    for (const QString& c : AdifLogColumns())
        quoted << QLatin1Char('"') + c + QLatin1Char('"');
    return QStringLiteral("SELECT ") + quoted.join(QLatin1Char(',')) +
           QStringLiteral(" FROM logtab ORDER BY rowid");
}

struct Counts {
    int imported, duplicates, unreadable;
};

} // namespace

// Generated log -> file -> empty log -> file: the same stored texts and the same bytes, also
// for texts with markup characters, quotes and non-Latin letters, and for codes ADIF has no
// value for. A band export holds that band only.
TEST(Adif, RoundTripIsLossless) {
    EnsureApplication();
    QTemporaryDir dir;
    const QString source = QDir(dir.path()).filePath(QStringLiteral("source"));
    QDir().mkpath(source);
    GeneratedLogOptions options;
    options.qsos = 1000;
    ASSERT_TRUE(GenerateLogbook(QDir(source).filePath(QString::fromLatin1(DbFileName)), options));
    const QString from = BuildConnectionText(source);
    {
        DbConnection db;
        ASSERT_TRUE(db.open(from));
        QSqlDatabase& sql = db.handle()->database();
        // Distances as a save measures them from home (the generator draws them at random).
        ASSERT_TRUE(db.beginTransaction());
        QSqlQuery rows(sql);
        ASSERT_TRUE(rows.exec(QStringLiteral("SELECT rowid, Grid FROM logtab")));
        QSqlQuery set(sql);
        set.prepare(QStringLiteral("UPDATE logtab SET QRB = ? WHERE rowid = ?"));
        while (rows.next()) {
            set.bindValue(0, ComputeLogGeo(kHome, rows.value(1).toString()).qrb);
            set.bindValue(1, rows.value(0));
            ASSERT_TRUE(set.exec());
        }
        ASSERT_TRUE(db.commit());
        QSqlQuery add(sql);
        add.prepare(QStringLiteral(
            "INSERT INTO logtab (Date, GMT, Callsign, Band, mode, rsts, rstr, Grid, Nam, Comment, "
            "QSL, Prop, QRB, DXCC, Power) VALUES (?,?,?,?,?,?,?,?,?,?,?,?,?,?,?)"));
        const QVariantList special[] = {
            {"2025-01-01", "10:00:00", QString::fromUtf8("UA<3&\"Ж'"), "144300", "USB", "59", "57",
             "KO85", QString::fromUtf8("Алёша <b>"),
             QString::fromUtf8("a <EOR> & \"c\" 'd' — Jörg 日本"), "S", "Au",
             ComputeLogGeo(kHome, "KO85").qrb, "", "5 W"},
            {"2025-01-02", "11:30", "Q1AA", "144", "cw", "599", "599", "JO62QM12AB", "", "", "q",
             "xyz", ComputeLogGeo(kHome, "JO62QM12AB").qrb, "Q land", "100"},
            {"2025-01-03", "12:00:00", "Q2BB", "abc", "JS8", "", "", "", "", "", "D", "EME", 77, "",
             ""},
            {"2025-01-04", "13:00:00", "Q3CC", "10140", "FT4", "", "", "IO91WM", "", "", "B", "Tr",
             ComputeLogGeo(kHome, "IO91WM").qrb, "", ""},
        };
        for (const QVariantList& row : special) {
            for (int i = 0; i < row.size(); ++i)
                add.bindValue(i, row.at(i));
            ASSERT_TRUE(add.exec());
        }
    }
    AdifExportOptions fixed;
    fixed.programVersion = QStringLiteral("2.1.3");
    fixed.created = QDateTime(QDate(2026, 1, 2), QTime(3, 4, 5), Qt::UTC);
    const QString first = dir.filePath(QStringLiteral("first.adi"));
    const AdifExportResult out = ExportLogAdif(from, first, fixed);
    ASSERT_TRUE(out.ok) << out.message.toStdString();
    EXPECT_EQ(out.written, options.qsos + 4);
    const QByteArray a = ReadAll(first);
    EXPECT_TRUE(a.startsWith("ADIF export of the Farscan log\n<ADIF_VER:5>3.1.4\n"
                             "<PROGRAMID:7>Farscan\n<PROGRAMVERSION:5>2.1.3\n"
                             "<CREATED_TIMESTAMP:15>20260102 030405\n<EOH>\n"));
    EXPECT_EQ(a.count("<EOR>\n"), options.qsos + 4);
    // Lengths count bytes of UTF-8, not characters.
    const QString commentText = QString::fromUtf8("a <EOR> & \"c\" 'd' — Jörg 日本");
    const QByteArray comment = commentText.toUtf8();
    ASSERT_GT(comment.size(), commentText.size());
    EXPECT_TRUE(a.contains("<COMMENT:" + QByteArray::number(comment.size()) + ">" + comment));
    EXPECT_TRUE(a.contains("<QSL_SENT:1>Q <APP_FARSCAN_QSL:1>S "));
    EXPECT_TRUE(a.contains("<PROP_MODE:3>AUR <DISTANCE:"));
    EXPECT_TRUE(a.contains("<BAND:2>2m <FREQ:7>144.300 <MODE:3>SSB <SUBMODE:3>USB "
                           "<APP_FARSCAN_MODE:3>USB "));
    EXPECT_TRUE(a.contains("<BAND:2>2m <MODE:2>CW <APP_FARSCAN_MODE:2>cw "));
    EXPECT_TRUE(a.contains("<GRIDSQUARE:8>JO62QM12 <APP_FARSCAN_GRID:10>JO62QM12AB "));
    EXPECT_TRUE(a.contains("<APP_FARSCAN_BAND:3>abc <MODE:4>MFSK <SUBMODE:3>JS8 "));
    EXPECT_TRUE(a.contains("<BAND:3>30m <FREQ:6>10.140 <MODE:4>MFSK <SUBMODE:3>FT4 "));
    EXPECT_TRUE(a.contains("<QSL_SENT:1>Y <APP_FARSCAN_QSL:1>D <PROP_MODE:3>EME "
                           "<DISTANCE:2>77 "));

    const QString copy = NewLog(QDir(dir.path()).filePath(QStringLiteral("copy")));
    const AdifImportResult in = ImportLogAdif(copy, first, kHome);
    ASSERT_TRUE(in.ok) << in.message.toStdString();
    EXPECT_EQ(in.records, options.qsos + 4);
    EXPECT_EQ(in.imported, options.qsos + 4);
    EXPECT_EQ(in.duplicates, 0);
    EXPECT_EQ(in.unreadable, 0);

    const QString second = dir.filePath(QStringLiteral("second.adi"));
    ASSERT_TRUE(ExportLogAdif(copy, second, fixed).ok);
    EXPECT_EQ(ReadAll(second), a);
    EXPECT_EQ(StoredRows(copy, LogColumnsSelect()), StoredRows(from, LogColumnsSelect()));
    // An imported QSO stores what the window's Save stores.
    LogEntry e;
    e.date = QStringLiteral("2025-01-04");
    e.gmt = QStringLiteral("13:00:00");
    e.callsign = QStringLiteral("Q3CC");
    e.grid = QStringLiteral("IO91WM");
    e.band = QStringLiteral("10140");
    e.mode = QStringLiteral("FT4");
    e.qsl = QStringLiteral("B");
    e.prop = QStringLiteral("Tr");
    const LogRow row = NewLogRow(e, kHome);
    const auto stored = StoredRows(
        copy, QStringLiteral("SELECT QRB, QTF, GEdata, GEgridXY FROM logtab WHERE Callsign = ?"),
        {QStringLiteral("Q3CC")});
    ASSERT_EQ(stored.size(), 1);
    EXPECT_EQ(stored.at(0),
              (QStringList{DbValueText(row.values.at(13)), DbValueText(row.values.at(14)),
                           row.values.at(15).toString(), row.values.at(16).toString()}));
    EXPECT_GT(row.geo.qrb, 900);

    // One band.
    AdifExportOptions band = fixed;
    band.bandPattern = QStringLiteral("10368%");
    const QString bandFile = dir.filePath(QStringLiteral("band.adi"));
    const AdifExportResult bandOut = ExportLogAdif(from, bandFile, band);
    ASSERT_TRUE(bandOut.ok);
    const auto bandRows =
        StoredRows(from, QStringLiteral("SELECT count(*) FROM logtab WHERE Band LIKE '10368%'"));
    EXPECT_EQ(QString::number(bandOut.written), bandRows.value(0).value(0));
    EXPECT_GT(bandOut.written, 0);
    EXPECT_EQ(ReadAll(bandFile).count("<BAND:3>3cm <FREQ:9>10368."), bandOut.written);
}

// Files as other programs and accidents leave them: whatever can be read is imported, each
// record that cannot be read is reported with its number and byte offset.
TEST(Adif, ReadsWhatCanBeReadAndReportsTheRest) {
    EnsureApplication();
    QTemporaryDir dir;
    const QByteArray qso1 = "<CALL:6>DL1AAA<QSO_DATE:8>20240101<TIME_ON:4>1200<BAND:2>2m";
    const QByteArray qso2 = "<CALL:6>DL2BBB<QSO_DATE:8>20240102<TIME_ON:6>130000<FREQ:7>432.200";
    const struct {
        const char* name;
        QByteArray file;
        Counts want;
        int badRecord;    // the first unreadable record, 0 for none
        qint64 badOffset; // its byte offset
    } cases[] = {
        {"lower-case names",
         "free text\n<adif_ver:5>3.1.4 <eoh>\n<call:6>DL1AAA<qso_date:8>20240101"
         "<Time_On:4>1200<band:2>2M<eor>\n",
         {1, 0, 0},
         0,
         0},
        {"no header", qso1 + "<EOR>\n" + qso2 + "<EOR>\n", {2, 0, 0}, 0, 0},
        {"text but no <EOH>", "exported by <program>\n" + qso1 + "<EOR>", {1, 0, 0}, 0, 0},
        {"length past the end",
         qso1 + "<EOR>\n<CALL:6>DL2BBB<COMMENT:500>short<EOR>\n",
         {1, 0, 1},
         2,
         qso1.size() + 6},
        {"2 GB length", "<CALL:2147483648>DL1AAA<EOR>" + qso2 + "<EOR>", {1, 0, 1}, 1, 0},
        {"huge length", "<CALL:99999999999999999999999>DL1AAA<EOR>", {0, 0, 1}, 1, 0},
        {"unknown fields",
         qso1 + "<XYZ_FOO:3>abc<APP_OTHER_X:2:S>xx<USERDEF1:3>u&v<EOR>",
         {1, 0, 0},
         0,
         0},
        {"garbage between fields",
         "<CALL:6>DL1AAA junk < not a tag <> <<<\x01\xff <QSO_DATE:8>20240101\r\n"
         "<TIME_ON:4>1200 <BAND:2>2m <:3>abc <EOR> <EOR>",
         {1, 0, 0},
         0,
         0},
        {"missing <EOR> at the end", qso1 + "<EOR>\n" + qso2, {2, 0, 0}, 0, 0},
        {"no length",
         qso1 + "<EOR><CALL>DL3CCC<EOR>" + qso2 + "<EOR>",
         {2, 0, 1},
         2,
         qso1.size() + 5},
        {"no callsign", "<QSO_DATE:8>20240101<EOR>" + qso1 + "<EOR>", {1, 0, 1}, 1, 0},
        {"no date", "<CALL:6>DL1AAA<QSO_DATE:8>2024ab01<EOR>", {0, 0, 1}, 1, 0},
        {"Latin-1 text", qso1 + "<NAME:4>J\xf6rg<EOR>", {1, 0, 0}, 0, 0},
        {"same QSO twice", qso1 + "<EOR>" + qso1 + "<TIME_ON:6>120059<EOR>", {1, 1, 0}, 0, 0},
        {"empty file", "", {0, 0, 0}, 0, 0},
    };
    int n = 0;
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const QString log = NewLog(QDir(dir.path()).filePath(QString::number(++n)));
        const QString file = dir.filePath(QStringLiteral("%1.adi").arg(n));
        ASSERT_TRUE(WriteFile(file, c.file));
        const AdifImportResult r = ImportLogAdif(log, file, kHome);
        EXPECT_TRUE(r.ok) << r.message.toStdString();
        EXPECT_EQ(r.imported, c.want.imported) << r.message.toStdString();
        EXPECT_EQ(r.duplicates, c.want.duplicates);
        EXPECT_EQ(r.unreadable, c.want.unreadable) << r.message.toStdString();
        EXPECT_EQ(StoredRows(log, QStringLiteral("SELECT count(*) FROM logtab")).value(0).value(0),
                  QString::number(c.want.imported));
        if (c.badRecord) {
            ASSERT_FALSE(r.problems.isEmpty());
            EXPECT_EQ(r.problems.at(0).record, c.badRecord);
            EXPECT_EQ(r.problems.at(0).offset, c.badOffset);
            EXPECT_TRUE(r.message.contains(
                QStringLiteral("record %1 (byte %2)").arg(c.badRecord).arg(c.badOffset)))
                << r.message.toStdString();
        }
    }
    // What the first and the Latin-1 case stored.
    EXPECT_EQ(StoredRows(BuildConnectionText(QDir(dir.path()).filePath(QStringLiteral("1"))),
                         QStringLiteral("SELECT Callsign, Date, GMT, Band FROM logtab")),
              (QList<QStringList>{{"DL1AAA", "2024-01-01", "12:00:00", "144"}}));
    EXPECT_EQ(StoredRows(BuildConnectionText(QDir(dir.path()).filePath(QStringLiteral("13"))),
                         QStringLiteral("SELECT Nam FROM logtab")),
              (QList<QStringList>{{QString::fromUtf8("Jörg")}}));
    // A missing file is a message, not a crash.
    const AdifImportResult missing =
        ImportLogAdif(BuildConnectionText(QDir(dir.path()).filePath(QStringLiteral("1"))),
                      dir.filePath(QStringLiteral("none.adi")), kHome);
    EXPECT_FALSE(missing.ok);
    EXPECT_TRUE(missing.message.contains(QStringLiteral("none.adi")));
}

// QSOs already logged, or twice in the file, are skipped and counted; the rest get their
// country from the log's table and their distance from home; what was stored stays as it was;
// a cancelled import leaves the log untouched.
TEST(Adif, SkipsDuplicatesAndKeepsTheLog) {
    EnsureApplication();
    QTemporaryDir dir;
    const QString log = NewLog(dir.filePath(QStringLiteral("log")));
    {
        DbConnection db;
        ASSERT_TRUE(db.open(log));
        ASSERT_TRUE(db.execute(QStringLiteral(
            "INSERT INTO logtab (Date, GMT, Callsign, Band, Grid, QSL, DXCC, QRB, GEdata) VALUES "
            "('2024-05-12','21:05:00','DL1AAA','144300','JO62','N','mine',5,'kept')")));
        ASSERT_TRUE(db.execute(
            QStringLiteral("INSERT INTO dxccdata (dxcccode, Country) VALUES ('DL%','Germany'), "
                           "('DL1%','Germany special'), ('G%','England')")));
    }
    const auto before = StoredRows(log, QStringLiteral("SELECT * FROM logtab"));
    const QString file = dir.filePath(QStringLiteral("in.adi"));
    ASSERT_TRUE(WriteFile(file,
                          "<EOH>"
                          // the logged QSO, the same minute and band at another frequency
                          "<CALL:6>dl1aaa<QSO_DATE:8>20240512<TIME_ON:6>210530<FREQ:7>144.310<EOR>"
                          // new twice
                          "<CALL:5>G4XYZ<QSO_DATE:8>20240512<TIME_ON:4>2200<BAND:4>23cm"
                          "<GRIDSQUARE:6>IO91WM<COUNTRY:7>ENGLAND<DISTANCE:4>9999<EOR>"
                          "<CALL:5>G4XYZ<QSO_DATE:8>20240512<TIME_ON:4>2200<BAND:4>23CM<EOR>"
                          // same call and minute on another band
                          "<CALL:6>DL1AAA<QSO_DATE:8>20240512<TIME_ON:4>2105<BAND:4>70cm"
                          "<COUNTRY:3>FRG<EOR>"
                          // unknown to the table: the file's country and distance stay
                          "<CALL:5>Q0ZZZ<QSO_DATE:8>20240512<TIME_ON:4>2300<BAND:2>2m<COUNTRY:3>Qia"
                          "<DISTANCE:5>123.7<EOR>"));
    const AdifImportResult r = ImportLogAdif(log, file, kHome);
    ASSERT_TRUE(r.ok) << r.message.toStdString();
    EXPECT_EQ(r.imported, 3);
    EXPECT_EQ(r.duplicates, 2);
    EXPECT_TRUE(r.message.contains(QStringLiteral("3 QSOs imported, 2 duplicates skipped")));
    const auto after = StoredRows(log, QStringLiteral("SELECT * FROM logtab ORDER BY rowid"));
    ASSERT_EQ(after.size(), 4);
    EXPECT_EQ(after.at(0), before.at(0));
    const LogGeo geo = ComputeLogGeo(kHome, QStringLiteral("IO91WM"));
    EXPECT_EQ(StoredRows(log, QStringLiteral("SELECT Callsign, Band, DXCC, QRB, QTF, GEgridXY FROM "
                                             "logtab WHERE rowid > 1 ORDER BY rowid")),
              (QList<QStringList>{{"G4XYZ", "1296", "England", QString::number(geo.qrb),
                                   QString::number(geo.qtf), geo.lastLonLat},
                                  {"DL1AAA", "432", "Germany special", "0", "0", ""},
                                  {"Q0ZZZ", "144", "Qia", "123", "0", ""}}));

    // Cancelled part-way: nothing of the file is stored.
    QByteArray big = "<EOH>";
    for (int i = 0; i < 2000; ++i)
        big += QStringLiteral("<CALL:7>Q%1<QSO_DATE:8>20240601<TIME_ON:4>1200<BAND:2>2m<EOR>\n")
                   .arg(i, 6, 10, QLatin1Char('0'))
                   .toLatin1();
    ASSERT_TRUE(WriteFile(file, big));
    const auto kept = StoredRows(log, QStringLiteral("SELECT * FROM logtab ORDER BY rowid"));
    {
        AdifImportJob job(log, file, kHome);
        const AdifProgress p = job.step(500);
        EXPECT_FALSE(p.finished);
        EXPECT_GT(p.done, 0);
        EXPECT_LT(p.done, p.total);
        job.cancel();
        EXPECT_TRUE(job.result().cancelled);
        EXPECT_TRUE(job.step(1).finished);
    }
    EXPECT_EQ(StoredRows(log, QStringLiteral("SELECT * FROM logtab ORDER BY rowid")), kept);
}

// A folder that cannot be written, or a cancelled export, leaves the old file as it was, and
// the message names the file.
TEST(Adif, FailedExportKeepsTheOldFile) {
    EnsureApplication();
    QTemporaryDir dir;
    const QString logFolder = dir.filePath(QStringLiteral("log"));
    const QString log = NewLog(logFolder);
    {
        DbConnection db;
        ASSERT_TRUE(db.open(log));
        ASSERT_TRUE(db.execute(QStringLiteral(
            "INSERT INTO logtab (Date, GMT, Callsign, Band) VALUES "
            "('2024-05-12','21:05:00','DL1AAA','144300'), ('2024-05-13','21:05:00','DL2BBB',"
            "'144300')")));
    }
    const QString locked = dir.filePath(QStringLiteral("locked"));
    ASSERT_TRUE(QDir().mkpath(locked));
    const QString target = QDir(locked).filePath(QStringLiteral("log.adi"));
    ASSERT_TRUE(WriteFile(target, "old"));

    // Cancelled after the first QSO.
    {
        AdifExportJob job(log, target);
        EXPECT_FALSE(job.step(1).finished);
        job.cancel();
        EXPECT_TRUE(job.result().cancelled);
    }
    EXPECT_EQ(ReadAll(target), QByteArray("old"));

    const QByteArray root = dir.path().toLocal8Bit();
    ASSERT_EQ(::chmod(root.constData(), 0755), 0);
    ASSERT_EQ(::chmod(logFolder.toLocal8Bit().constData(), 0755), 0);
    ASSERT_EQ(::chmod((logFolder + "/backup.mdb").toLocal8Bit().constData(), 0644), 0);
    ASSERT_EQ(::chmod(target.toLocal8Bit().constData(), 0666), 0); // only the folder is locked
    ASSERT_EQ(::chmod(locked.toLocal8Bit().constData(), 0555), 0);
    QString message;
    const bool refused = RunUnprivileged([&] {
        const AdifExportResult r = ExportLogAdif(log, target);
        message = r.message;
        return !r.ok && r.message.contains(target) && r.written == 0;
    });
    ::chmod(locked.toLocal8Bit().constData(), 0755);
    EXPECT_TRUE(refused) << message.toStdString();
    EXPECT_EQ(ReadAll(target), QByteArray("old"));
    // Writable again: the new file replaces the old one.
    const AdifExportResult r = ExportLogAdif(log, target);
    EXPECT_TRUE(r.ok);
    EXPECT_EQ(r.written, 2);
    EXPECT_EQ(ReadAll(target).count("<EOR>"), 2);
}
