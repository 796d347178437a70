#pragma once

// The beacon directory as a CSV file, to exchange with other programs and lists:
//
//   callsign,locator,qrg_khz,comment
//   DB0ABC/B,JO62QM,10368850,"10 W, horn"
//
// UTF-8; CR LF or LF; fields holding a comma, a quote or a line break are in double quotes
// with their quotes doubled (RFC 4180). The header line is written on export and skipped on
// import. Export writes CR LF line ends.
//
// Import only ever adds rows to `PNT_Beacon`: rows already stored are never changed or deleted.
// A row whose callsign (case ignored) and frequency are already in the directory, or earlier in
// the same file, is skipped and counted. A malformed row is skipped and reported with its line
// number; the good rows are stored in one transaction.

#include <QByteArray>
#include <QString>
#include <QStringList>
#include <vector>

// The header line's field names.
inline constexpr const char* BeaconCsvHeader = "callsign,locator,qrg_khz,comment";

// Longest texts a row may hold (the widths of the table's columns).
inline constexpr int BeaconCallsignMaxLength = 30;
inline constexpr int BeaconCommentMaxLength = 250;

struct BeaconCsvRow {
    QString callsign;    // trimmed, as written
    QString locator;     // upper case, valid by ValidateLocator
    double qrgKhz = 0.0; // above 0, at most 1e9 (1 THz); up to 6 decimals
    QString comment;     // as written, line breaks included
    int line = 0;        // the line the row starts on
};

struct BeaconCsvContent {
    std::vector<BeaconCsvRow> rows; // the valid rows in file order
    QStringList errors;             // "line N: reason" for every row skipped
};

// Reads CSV bytes. Never fails: every malformed row is reported and skipped.
BeaconCsvContent ParseBeaconCsv(const QByteArray& bytes);

// A frequency as the file writes it: kHz, shortest decimals, no exponent, no ".0".
QString BeaconQrgText(double khz);

// The file for rows: the header line, then one line per row (quoted where needed), CR LF.
QByteArray BeaconCsvText(const std::vector<BeaconCsvRow>& rows);

struct BeaconImportResult {
    bool ok = false;           // the file was read and its valid rows stored
    QString source;            // the file (for messages)
    int imported = 0;          // rows added
    int duplicates = 0;        // rows skipped because the beacon was already there
    QStringList errors;        // "line N: reason" for every malformed row
    QStringList duplicateRows; // "line N: <callsign> on <qrg> kHz is already in the directory"
    QString failure;           // why nothing was stored (file or database); empty when ok
};

// Adds the rows of the CSV file at path to `PNT_Beacon` of the database named by
// connectionText.
BeaconImportResult ImportBeaconCsv(const QString& connectionText, const QString& path);
// The same with the file's content given; source names it in messages.
BeaconImportResult ImportBeaconCsvBytes(const QString& connectionText, const QByteArray& bytes,
                                        const QString& source = QString());
// One short text for the user.
QString BeaconImportMessage(const BeaconImportResult& result);

struct BeaconExportResult {
    bool ok = false;
    QString path;
    int exported = 0;
    QString failure; // why no file was written; empty when ok
};

// Writes every beacon of `PNT_Beacon` to path (replaced atomically: a failure leaves an old file
// as it was), sorted by callsign (case ignored), then frequency.
BeaconExportResult ExportBeaconCsv(const QString& connectionText, const QString& path);
QString BeaconExportMessage(const BeaconExportResult& result);
