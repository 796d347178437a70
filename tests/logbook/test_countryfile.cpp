// The country table from a country file, against a real database file: the file as Debian ships
// it, a hand-written one with every override, CR LF and malformed entries, the logbook's lookup
// (last matching row wins) and fills that fail without touching the stored table.

#include "CountryFile.h"
#include "Database.h"
#include "Recordset.h"
#include "TestStation.h"
#include "TestSupport.h"

#include <QFile>
#include <QFileInfo>
#include <gtest/gtest.h>
#include <optional>
#include <ostream>

inline void PrintTo(const QString& text, std::ostream* os) {
    *os << '"' << text.toStdString() << '"';
}
inline void PrintTo(const QStringList& list, std::ostream* os) {
    *os << '{' << list.join(QStringLiteral(" | ")).toStdString() << '}';
}

namespace {

const char* const DebianCtyFile = "/usr/share/hamradio-files/cty.dat";

struct Match {
    QString country;
    QString continent;
    QString cq;
    QString itu;
    QString prefix;
    bool operator==(const Match&) const = default;
};
void PrintTo(const Match& m, std::ostream* os) {
    *os << '{'
        << QStringList{m.country, m.continent, m.cq, m.itu, m.prefix}.join(", ").toStdString()
        << '}';
}

class CountryFileTest : public ::testing::Test {
protected:
    void SetUp() override {
        EnsureApplication();
        QString error;
        ASSERT_TRUE(EnsureDatabase(m_dir.file(QStringLiteral("backup.mdb")), &error))
            << error.toStdString();
        m_text = BuildConnectionText(m_dir.path());
    }

    // The logbook's lookup: every row whose pattern matches, the last one wins.
    std::optional<Match> lookup(const QString& callsign) {
        DbConnection db;
        EXPECT_TRUE(db.open(m_text)) << db.lastError().toStdString();
        Recordset rs;
        EXPECT_TRUE(
            rs.open(QStringLiteral("SELECT * FROM dxccdata where ? like dxcccode"), db, {callsign}))
            << rs.lastError().toStdString();
        std::optional<Match> last;
        for (; !rs.eof(); rs.moveNext())
            last = Match{rs.field(2).toString(), rs.field(QStringLiteral("Continent")).toString(),
                         rs.field(QStringLiteral("CQzone")).toString(),
                         rs.field(QStringLiteral("ITUzone")).toString(),
                         rs.field(QStringLiteral("Prefix")).toString()};
        return last;
    }

    QString countryOf(const QString& callsign) {
        const auto m = lookup(callsign);
        return m ? m->country : QString();
    }

    // The same decided in C++ over the stored rows (in table order).
    static QString lookupInCpp(const QList<QStringList>& table, const QString& callsign) {
        QString last;
        for (const QStringList& row : table)
            if (LikeMatches(callsign, row[1]))
                last = row[2];
        return last;
    }

    // Every stored row in table order, each field as text.
    QList<QStringList> rows() {
        QString error;
        const QList<QStringList> out =
            StoredRows(m_text, QStringLiteral("SELECT * FROM dxccdata"), {}, &error);
        EXPECT_TRUE(error.isEmpty()) << error.toStdString();
        return out;
    }

    void exec(const QString& statement) {
        DbConnection db;
        ASSERT_TRUE(db.open(m_text));
        ASSERT_TRUE(db.execute(statement)) << db.lastError().toStdString();
    }

    ScratchDir m_dir;
    QString m_text;
};

TEST_F(CountryFileTest, DebianCountryFileFillsTheTableAndTheMostSpecificEntryWins) {
    if (!QFileInfo::exists(QString::fromLatin1(DebianCtyFile)))
        GTEST_SKIP() << DebianCtyFile
                     << " is missing: install the Debian package hamradio-files to run this test";
    QFile file(QString::fromLatin1(DebianCtyFile));
    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    const CountryFileContent content = ParseCountryFile(file.readAll());
    EXPECT_EQ(content.problemCount, 0) << content.problems.join(QLatin1Char('\n')).toStdString();
    EXPECT_GT(content.entities, 300);
    EXPECT_GT(content.rows.size(), 10000u);
    // Table order: prefixes by length, then whole calls.
    for (size_t i = 1; i < content.rows.size(); ++i) {
        const CountryRow& a = content.rows[i - 1];
        const CountryRow& b = content.rows[i];
        ASSERT_TRUE(!a.exactCall || b.exactCall) << a.dxcccode.toStdString();
        if (!a.exactCall && !b.exactCall) {
            ASSERT_LE(a.dxcccode.size(), b.dxcccode.size()) << a.dxcccode.toStdString();
        }
    }

    // A new database gets the table from the default file (no override set).
    EnvGuard noOverride("FARSCAN_CTY_FILE", QByteArray());
    EXPECT_EQ(DefaultCountryFilePath(), QString::fromLatin1(DebianCtyFile));
    const CountryTableResult filled = EnsureCountryTable(m_text);
    ASSERT_TRUE(filled.ok) << filled.message.toStdString();
    EXPECT_EQ(filled.rows, int(content.rows.size()));
    EXPECT_TRUE(filled.message.contains(QString::fromLatin1(DebianCtyFile)));
    EXPECT_EQ(rows().size(), filled.rows);

    const auto germany = lookup(QStringLiteral("DL1ABC"));
    ASSERT_TRUE(germany);
    EXPECT_EQ(*germany, (Match{QStringLiteral("Fed. Rep. of Germany"), QStringLiteral("EU"),
                               QStringLiteral("14"), QStringLiteral("28"), QStringLiteral("DL")}));
    const auto usa = lookup(QStringLiteral("w1aw")); // case is ignored
    ASSERT_TRUE(usa);
    EXPECT_EQ(usa->country, QStringLiteral("United States of America"));
    EXPECT_EQ(usa->continent, QStringLiteral("NA"));
    // W1AW/KG4 starts with the US prefix W but is listed whole under Guantanamo Bay.
    EXPECT_EQ(countryOf(QStringLiteral("W1AW/KG4")), QStringLiteral("Guantanamo Bay"));
    // Overrides on a whole call: Yemen is CQ 21, ITU 39; this call is listed as (37)[48].
    const auto yemen = lookup(QStringLiteral("7O/DL7ZM"));
    ASSERT_TRUE(yemen);
    EXPECT_EQ(*yemen, (Match{QStringLiteral("Yemen"), QStringLiteral("AS"), QStringLiteral("37"),
                             QStringLiteral("48"), QStringLiteral("7O")}));
    // Listed under Scotland and under the Shetland Islands (not on the DXCC list): Scotland.
    EXPECT_EQ(countryOf(QStringLiteral("GB2ELH")), QStringLiteral("Scotland"));
    // A prefix of an entity not on the DXCC list still names it, with its marked prefix.
    const auto sicily = lookup(QStringLiteral("IT9ABC"));
    ASSERT_TRUE(sicily);
    EXPECT_EQ(sicily->country, QStringLiteral("Sicily"));
    EXPECT_EQ(sicily->prefix, QStringLiteral("*IT9"));
    EXPECT_FALSE(lookup(QStringLiteral("Q0XYZ")));
    EXPECT_FALSE(lookup(QStringLiteral("%")));
    // The C++ matcher over the table order agrees with SQLite.
    const QList<QStringList> table = rows();
    for (const char* call : {"DL1ABC", "W1AW", "W1AW/KG4", "7O/DL7ZM", "GB2ELH", "IT9ABC", "VK9XX",
                             "KH6ABC", "3D2CR", "Q0XYZ"}) {
        const auto sqlite = lookup(QString::fromLatin1(call));
        EXPECT_EQ(lookupInCpp(table, QString::fromLatin1(call)),
                  sqlite ? sqlite->country : QString())
            << call;
    }
}

TEST_F(CountryFileTest, HandWrittenFileOverridesMalformedEntriesAndFailedFills) {
    const QByteArray text =
        "Testland:   14: 28: EU:  51.00: -10.00: -1.0: TL:\r\n"                 // 1
        "    TL,TL7(15)[29],=TL1ABC{af}~-2.0~<10.0/20.0>,T%X,=T_1,TL9(41);\r\n" // 2
        "Broken Zone: 99: 28: EU: 1: 1: 1: BZ:\r\n"                             // 3
        "    BZ1,BZ2;\r\n"                                                      // 4
        "Not Dxcc:   14: 28: EU:  51.00: -10.00: -1.0: *ND:\r\n"                // 5
        "    =TL1ABC,ND,=ND1ZZ[30;\n"                                           // 6
        "Lostland:   20: 30: AS:  1: 1: 1: LL:\n"                               // 7
        "    LL,\n"                                                             // 8
        "Otherland:  15: 30: SA:  1: 1: 1: OL:\n"                               // 9
        "    OL, =OL1A/P(16) ;  extra\n"                                        // 10
        "    XX1;\n";                                                           // 11
    const CountryFileContent content = ParseCountryFile(text);
    EXPECT_EQ(content.entities, 4);
    EXPECT_EQ(content.problems,
              (QStringList{
                  QStringLiteral("line 2: \"T%X\" (Testland) is not a prefix or callsign: only "
                                 "letters, digits and '/' are allowed"),
                  QStringLiteral("line 2: \"=T_1\" (Testland) is not a prefix or callsign: only "
                                 "letters, digits and '/' are allowed"),
                  QStringLiteral("line 2: \"TL9(41)\" (Testland): override \"(41)\" is not valid"),
                  QStringLiteral("line 3: Broken Zone: CQ zone \"99\" is not 1 to 40"),
                  QStringLiteral("line 6: \"=ND1ZZ[30\" (Not Dxcc): '[' is not closed"),
                  QStringLiteral("line 9: the prefix list of Lostland (line 7) has no closing ';'"),
                  QStringLiteral("line 10: text after the ';' that ends Otherland is ignored"),
                  QStringLiteral("line 11: prefixes without an entity line before them"),
              }));
    EXPECT_EQ(content.problemCount, 8);
    EXPECT_EQ(content.duplicates, 1);
    QStringList codes;
    for (const CountryRow& r : content.rows)
        codes << r.dxcccode + QLatin1Char('@') + QString::number(r.line);
    EXPECT_EQ(codes, (QStringList{"TL%@2", "ND%@6", "LL%@8", "OL%@10", "TL7%@2", "TL1ABC@2",
                                  "OL1A/P@10"}));

    // Fill, then look up.
    const CountryTableResult filled =
        FillCountryTableFromBytes(m_text, text, QStringLiteral("test.dat"));
    ASSERT_TRUE(filled.ok) << filled.message.toStdString();
    EXPECT_EQ(filled.rows, 7);
    EXPECT_EQ(filled.problems, 8);
    EXPECT_EQ(filled.message,
              QStringLiteral("Country table filled from test.dat: 7 prefixes and callsigns of 4 "
                             "countries. 8 malformed entries were skipped, the first: line 2: "
                             "\"T%X\" (Testland) is not a prefix or callsign: only letters, digits "
                             "and '/' are allowed."));
    EXPECT_EQ(lookup(QStringLiteral("tl2abc")),
              std::optional<Match>(Match{"Testland", "EU", "14", "28", "TL"}));
    EXPECT_EQ(lookup(QStringLiteral("TL7ABC")),
              std::optional<Match>(Match{"Testland", "EU", "15", "29", "TL"}));
    // The whole call is Testland's (on the DXCC list), with its continent override.
    EXPECT_EQ(lookup(QStringLiteral("TL1ABC")),
              std::optional<Match>(Match{"Testland", "AF", "14", "28", "TL"}));
    EXPECT_EQ(lookup(QStringLiteral("ND1ZZ")),
              std::optional<Match>(Match{"Not Dxcc", "EU", "14", "28", "*ND"}));
    EXPECT_EQ(lookup(QStringLiteral("OL1A/P")),
              std::optional<Match>(Match{"Otherland", "SA", "16", "30", "OL"}));
    EXPECT_EQ(countryOf(QStringLiteral("OL1A/P")), lookupInCpp(rows(), QStringLiteral("OL1A/P")));
    // The refused "T%X" and "=T_1" never act as wildcards; BZ of the broken entity is gone.
    EXPECT_FALSE(lookup(QStringLiteral("TAX")));
    EXPECT_FALSE(lookup(QStringLiteral("TX")));
    EXPECT_FALSE(lookup(QStringLiteral("T91")));
    EXPECT_FALSE(lookup(QStringLiteral("BZ1AA")));
    const QList<QStringList> stored = rows();
    ASSERT_EQ(stored.size(), 7);
    EXPECT_EQ(stored[0], (QStringList{"1", "TL%", "Testland", "TL", "EU", "14", "28"}));

    // Fills that fail leave the table exactly as it was.
    const QString missing = m_dir.file(QStringLiteral("no-such-cty.dat"));
    CountryTableResult failed = FillCountryTable(m_text, missing);
    EXPECT_FALSE(failed.ok);
    EXPECT_TRUE(failed.message.contains(missing)) << failed.message.toStdString();
    EXPECT_TRUE(failed.message.contains(QStringLiteral("hamradio-files")));
    EXPECT_TRUE(failed.message.contains(QStringLiteral("unchanged")));
    failed = FillCountryTable(m_text, m_dir.path()); // a folder
    EXPECT_FALSE(failed.ok);
    failed = FillCountryTableFromBytes(m_text, "no country here\n\x01\xff:", QStringLiteral("x"));
    EXPECT_FALSE(failed.ok);
    EXPECT_TRUE(failed.message.startsWith(QStringLiteral("x holds no country entries")))
        << failed.message.toStdString();
    EXPECT_EQ(rows(), stored);
    // A statement failing half-way: everything before it is rolled back.
    exec(QStringLiteral("CREATE TRIGGER refuse BEFORE INSERT ON dxccdata WHEN "
                        "NEW.dxcccode = 'BOOM%' BEGIN SELECT RAISE(ABORT, 'refused'); END"));
    failed = FillCountryTableFromBytes(m_text,
                                       "Boomland: 1: 1: EU: 0: 0: 0: BOOM:\n"
                                       "  A,B,C,BOOM,=BOOM1;\n",
                                       QStringLiteral("boom.dat"));
    EXPECT_FALSE(failed.ok);
    EXPECT_TRUE(failed.message.contains(QStringLiteral("refused"))) << failed.message.toStdString();
    EXPECT_EQ(rows(), stored);

    // A filled table is left alone; an empty one is filled from the file the environment names.
    {
        const QString own = m_dir.file(QStringLiteral("own.dat"));
        QFile f(own);
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        f.write("Ownland: 5: 8: NA: 0: 0: 0: OWN:\n  OWN;\n");
        f.close();
        EnvGuard env("FARSCAN_CTY_FILE", own.toUtf8());
        EXPECT_EQ(DefaultCountryFilePath(), own);
        CountryTableResult ensured = EnsureCountryTable(m_text);
        EXPECT_TRUE(ensured.ok);
        EXPECT_EQ(ensured.rows, 7);
        EXPECT_EQ(rows(), stored);
        exec(QStringLiteral("DELETE FROM dxccdata"));
        ensured = EnsureCountryTable(m_text);
        ASSERT_TRUE(ensured.ok) << ensured.message.toStdString();
        EXPECT_EQ(ensured.rows, 1);
        EXPECT_EQ(countryOf(QStringLiteral("OWN1X")), QStringLiteral("Ownland"));
    }
    {
        exec(QStringLiteral("DELETE FROM dxccdata"));
        EnvGuard env("FARSCAN_CTY_FILE", m_dir.file(QStringLiteral("gone.dat")).toUtf8());
        const CountryTableResult ensured = EnsureCountryTable(m_text);
        EXPECT_FALSE(ensured.ok);
        EXPECT_TRUE(ensured.message.contains(QStringLiteral("gone.dat")));
        EXPECT_TRUE(rows().isEmpty());
    }
}

} // namespace
