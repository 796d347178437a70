#pragma once

// The log database operations that need no window: the logbook grid's recordset, the country
// (DXCC) lookup, the geographic fields of a QSO, its Google Earth description and the worked
// and confirmed counts of a band.
//
// Every operation opens its own connection from the connection text and drops it at its end.
// User text reaches SQL only as a bound value; band patterns go through Recordset::setFilter,
// which reads them and never executes them.

#include <QHash>
#include <QString>
#include <QStringList>
#include <QVariant>
#include <memory>
#include <vector>

class DbConnection;
class Recordset;

// The logbook's band options, index 0 to 21, as LIKE patterns on the band's kHz text. Index 3
// (30 m) is the exact text "10140"; index 21 is empty: every band. Out of range: empty.
QString LogBandPattern(int index);
inline constexpr int LogBandCount = 22;

// " band like '<pattern>'", or empty for an empty pattern.
QString BandFilterText(const QString& bandPattern);

// The band's kHz digits for the Band box: the pattern without its trailing "%" (an exact
// pattern such as "10140" stays whole).
QString BandDigits(const QString& bandPattern);

// How dates and times are shown in the grid and in the description: " dd.MM.yyyy" (with the
// leading blank) and "HH:mm". Stored values are ISO texts; a text that is no ISO date or time
// is shown as stored, null as empty.
QString ShownDate(const QVariant& stored);
QString ShownTime(const QVariant& stored);

// What ComputeLogGeo finds for a home locator and a QSO's (or a square's) locator.
struct LogGeo {
    bool homeValid = false;
    bool targetValid = false;
    QString homeLonLat; // HomeLonLatText; empty when the home locator is no locator
    QString lastLonLat; // LastLonLatText: the target, or the home position when it is invalid
    QString polygon;    // LogPolygonText: the 2 x 1 degree square; empty without a target
    int qrb = 0;        // LogQrb, whole kilometres; 0 unless both locators are valid
    int qtf = 0;        // LogQtf, whole degrees
};

// Both locators are upper-cased and completed with "HH" when they have 4 characters; no
// message is shown for either.
LogGeo ComputeLogGeo(const QString& homeLocator, const QString& target);

// The outline of the 2 x 1 degree square whose south-west corner lies at or below lon/lat,
// five corners "W.0,S.0,2000 " (the even degree at or below the longitude, taken in single
// precision).
QString SquareOutline(double lon, double lat);

// The fields of a QSO that its description shows.
struct QsoFields {
    QVariant date; // stored ISO text (or a QDate)
    QVariant gmt;  // stored ISO text (or a QTime)
    QString callsign, band, rsts, rstr, qsl, prop, comment;
    QVariant qrb, qtf;
};
// The GEdata text: "Log: <call> <band> kHz  dd.MM.yyyy HH:mm rsts:.. rstr:.. QRB:..km  QTF:..
// QSL: .. Prop:.. <comment>".
QString QsoDescription(const QsoFields& qso);

// A new QSO as the logbook stores it: the texts of the window's entry boxes, or of an imported
// record.
struct LogEntry {
    QVariant date; // QDate or stored ISO text; null when none
    QVariant gmt;  // QTime or stored "HH:mm:ss"; null when none
    QString callsign, grid, rsts, rstr, band, mode, name, comment, qsl, prop;
    QString dxcc;      // the country entry (LookupDxcc)
    QVariant knownQrb; // the distance kept when the locators give none (an imported figure)
};

// The columns of a new logtab row and their values, in the same order.
struct LogRow {
    QStringList columns;
    QVariantList values;
    LogGeo geo; // the measurement behind QRB, QTF and GEgridXY
};

// What a saved QSO stores: the entry's fields, the distance and heading measured from the home
// locator to the QSO's grid, the Google Earth description (GEdata) and position (GEgridXY). An
// empty grid measures nothing and stores no position; an invalid one stores the home position.
LogRow NewLogRow(const LogEntry& entry, const QString& homeLocator);

// The country table in memory, for many lookups in a row: the answer of LookupDxcc (the entry
// of the last matching row, SQL LIKE without regard to ASCII case) without a query per
// callsign. Patterns are grouped by their text before the first wildcard, so a lookup tries
// only the patterns that can match.
class DxccTable {
public:
    bool load(DbConnection& db, QString* error = nullptr);
    QString countryOf(const QString& callsign) const; // empty when no pattern matches
    int size() const { return int(m_rows.size()); }

private:
    struct Row {
        QString pattern;
        QString country;
    };
    std::vector<Row> m_rows;
    QHash<QString, std::vector<int>> m_byPrefix; // upper-cased literal prefix -> rows
};

// The grid's rows: every QSO of the band (all QSOs for an empty pattern), newest first.
// Null with *error on failure.
std::shared_ptr<Recordset> LoadLogGrid(const QString& connectionText, const QString& bandPattern,
                                       QString* error = nullptr);

// The logbook's search: the QSOs whose callsign (locator, with byLocator) starts with text, or
// with no text the QSOs that have a grid, in grid order. The text is a bound value.
struct LogSearch {
    QString statement;
    QVariantList params;
};
LogSearch LogSearchStatement(const QString& text, bool byLocator);

// The country entry of a callsign from dxccdata.
struct DxccLookup {
    bool ok = false;      // the table could be read
    bool matched = false; // some pattern matched
    QString country;      // the entry of the last matching row
    QString error;
};
DxccLookup LookupDxcc(const QString& connectionText, const QString& callsign);

// Rewrites every dxcccode that ends in "*" to end in "%". Returns the number of rows changed,
// -1 on failure (rows changed before it stay changed).
int NormaliseDxccPatterns(const QString& connectionText, QString* error = nullptr);

// The four counts of a band (all bands for an empty pattern), -1 on failure. The worked-squares
// count also writes the outline of each square into GEpoly of the square's first QSO in grid
// order, measured from homeLocator.
int CountWorkedSquares(const QString& connectionText, const QString& bandPattern,
                       const QString& homeLocator, QString* error = nullptr);
int CountConfirmedSquares(const QString& connectionText, const QString& bandPattern,
                          QString* error = nullptr);
int CountWorkedDxcc(const QString& connectionText, const QString& bandPattern,
                    QString* error = nullptr);
int CountConfirmedDxcc(const QString& connectionText, const QString& bandPattern,
                       QString* error = nullptr);

// The message every failing write of the log ends with.
inline constexpr char NoRecordsetMessage[] = "No new Recorset available";
