#pragma once

// The country table `dxccdata` from the country file radio amateurs maintain ("cty.dat", in
// Debian's package hamradio-files). Format of the file, ASCII or Latin-1, CR LF or LF:
//
//   Fed. Rep. of Germany:     14:  28:  EU:   51.00:   -10.00:    -1.0:  DL:
//       DA,DB,DC,DD,DE,DF,DG,DH,DI,DJ,DK,DL,DM,DN,DO,DP,DQ,DR,=DL0ABC/LH(14)[28];
//
// An entity line (name, CQ zone, ITU zone, continent, latitude, longitude, UTC offset, primary
// prefix, each ended by ":"; a "*" before the primary prefix marks an entity that is not on the
// DXCC list) is followed by its prefixes and whole callsigns ("=" + call), separated by commas
// and ended by ";". A prefix or call may carry overrides: (CQ zone) [ITU zone] <lat/lon>
// {continent} ~UTC offset~.
//
// Every prefix becomes the LIKE pattern prefix + "%", every whole callsign the call itself. The
// logbook looks a callsign up with "SELECT * FROM dxccdata where ? like dxcccode" and keeps the
// last matching row, so the rows are stored from the least to the most specific: prefixes by
// length, then whole callsigns. A pattern listed twice keeps one row: the one of an entity on
// the DXCC list (a call listed under Scotland and under the non-DXCC Shetland Islands counts as
// Scotland), else the first.

#include <QByteArray>
#include <QString>
#include <QStringList>
#include <vector>

// One row of `dxccdata`.
struct CountryRow {
    QString dxcccode;  // "DL%" for a prefix, "DL0ABC/LH" for a whole callsign
    QString country;   // the entity's name
    QString prefix;    // the entity's primary prefix as the file writes it ("*" included)
    QString continent; // AF, AN, AS, EU, NA, OC or SA
    int cqZone = 0;    // 1 to 40
    int ituZone = 0;   // 1 to 90
    bool exactCall = false;
    int line = 0; // where the prefix or call stands in the file
};

struct CountryFileContent {
    std::vector<CountryRow> rows; // in table order (least specific first)
    int entities = 0;             // entity lines read
    int problemCount = 0;         // malformed entries skipped (all of them)
    QStringList problems;         // "line N: reason", the first MaxProblemTexts of them
    int duplicates = 0;           // patterns listed again and dropped

    static constexpr int MaxProblemTexts = 200;
};

// Reads a country file's bytes. Never fails: what cannot be read is skipped and reported with
// its line number, and the reading goes on with the next prefix or entity.
CountryFileContent ParseCountryFile(const QByteArray& bytes);

// The country file to use: the environment variable FARSCAN_CTY_FILE when it is set and not
// empty, else Debian's /usr/share/hamradio-files/cty.dat.
QString DefaultCountryFilePath();

struct CountryTableResult {
    bool ok = false;     // the table now holds the file's rows; false: the table is unchanged
    int rows = 0;        // rows stored (or, for EnsureCountryTable, found)
    int entities = 0;    // entities read from the file
    int problems = 0;    // malformed entries skipped
    QString message;     // one short text for the user (summary, or why nothing changed)
    QStringList details; // "line N: reason" of the skipped entries (at most 200)
};

// Replaces every row of `dxccdata` in the database named by connectionText with the rows of the
// country file at ctyPath, in one transaction. A missing, unreadable or empty file, a file
// without a single usable entry, or a failing statement leaves the table as it was.
CountryTableResult FillCountryTable(const QString& connectionText, const QString& ctyPath);

// The same with the file's content given; sourceName names it in messages.
CountryTableResult FillCountryTableFromBytes(const QString& connectionText, const QByteArray& bytes,
                                             const QString& sourceName);

// For a new or old database: fills `dxccdata` from DefaultCountryFilePath() when the table has
// no rows, and leaves a filled table alone (ok, rows = the rows found, empty message).
CountryTableResult EnsureCountryTable(const QString& connectionText);
