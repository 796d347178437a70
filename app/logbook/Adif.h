#pragma once

// The log in and out as ADIF 3 files (.adi), the exchange format of logging programs.
//
// Encoding: text is UTF-8, and every field length ("<NAME:12>") counts BYTES of the UTF-8 text,
// not characters, so a reader that counts bytes (as the ADIF rules do) reads our files whole.
// On reading, a field whose bytes are no valid UTF-8 is taken as Latin-1, as older programs
// wrote it. Field names are read without regard to case; unknown fields are skipped.
//
// What ADIF's enumerations cannot carry exactly (a QSL code such as "S", the propagation code
// "Au" as opposed to "AUR", a band text that is no kHz figure ...) goes into an application
// field APP_FARSCAN_<column> beside the standard one, so a file written here reads back into
// the same stored texts. Reading prefers the application field when it is present.
//
// The reader never trusts a length: a length is checked against the bytes left before anything
// is taken, and the value is a slice of the file's bytes. A record it cannot read is reported
// with its number and byte offset and skipped; the reading goes on at the next tag.
//
// Both directions run in steps (step(budget)), so a window can drive them from a timer, show
// progress and cancel. An export writes under a temporary name and renames the file into place
// when complete (a failed or cancelled export leaves the old file); an import inserts in one
// transaction that a failure or a cancel rolls back, so the log never holds half a file.

#include <QByteArray>
#include <QByteArrayView>
#include <QDateTime>
#include <QList>
#include <QString>
#include <QStringList>
#include <memory>
#include <utility>

// A record as read: its fields (names upper-cased, in file order) and where it stands.
struct AdifRecord {
    int number = 0;     // 1 for the first record after the header
    qint64 offset = 0;  // byte offset of its first tag
    bool ended = false; // closed by <EOR> (false: the file ended first)
    QString problem;    // why it cannot be read; empty when it was read whole
    QList<std::pair<QByteArray, QString>> fields;
    // The last value of the named field (upper case); null when the record has none.
    QString field(const char* upperName) const;
    bool has(const char* upperName) const;
};

// Splits a file's bytes into records. The header (text and fields up to <EOH>) is skipped;
// a file without <EOH> starts with records.
class AdifReader {
public:
    explicit AdifReader(QByteArrayView data) : m_data(data) {}
    // The next record; false at the end of the data.
    bool next(AdifRecord& record);
    qint64 position() const { return m_pos; }
    bool headerSeen() const { return m_headerSeen; }

private:
    QByteArrayView m_data;
    qint64 m_pos = 0;
    int m_number = 0;
    bool m_headerSeen = false;
    bool m_recordSeen = false;
};

// The log columns the exchange carries, in a fixed order, and a QSO as their stored texts.
QStringList AdifLogColumns();
// The record text of a QSO (values in the order of AdifLogColumns()): "<CALL:6>DL1AAA ...
// <EOR>\n". Empty values are left out.
QByteArray AdifRecordText(const QStringList& values);
// The column texts a record gives (in the order of AdifLogColumns()).
QStringList AdifLogValues(const AdifRecord& record);
// The ADIF band of a Band text (kHz, or a band's MHz digits such as "144"); empty if none.
QString AdifBandOf(const QString& bandText);

struct AdifProgress {
    qint64 done = 0;  // rows written, bytes read
    qint64 total = 0; // rows to write, bytes of the file
    bool finished = false;
};

// Where a record that could not be read stands, and why.
struct AdifProblem {
    int record = 0;
    qint64 offset = 0;
    QString text;
};

struct AdifExportOptions {
    QString bandPattern;    // the logbook's band pattern ("10368%"); empty: the whole log
    QString programVersion; // PROGRAMVERSION; empty: the application's version
    QDateTime created;      // CREATED_TIMESTAMP (UTC); invalid: now
};

struct AdifExportResult {
    bool ok = false;
    bool cancelled = false;
    int written = 0; // QSOs written
    QString path;
    QString message; // what to tell the user
};

struct AdifImportResult {
    bool ok = false; // the QSOs read were stored (also when some records were unreadable)
    bool cancelled = false;
    int records = 0;    // records in the file
    int imported = 0;   // QSOs added to the log
    int duplicates = 0; // skipped: same callsign, date, time (minute) and band as one before
    int unreadable = 0; // records that could not be read
    QList<AdifProblem> problems; // the first MaxProblems of them
    QString message;             // what to tell the user
    static constexpr int MaxProblems = 50;
};

class AdifExportJob {
public:
    AdifExportJob(const QString& connectionText, const QString& path,
                  const AdifExportOptions& options = {});
    ~AdifExportJob();
    AdifExportJob(const AdifExportJob&) = delete;
    AdifExportJob& operator=(const AdifExportJob&) = delete;

    // Writes up to budget QSOs; the last step renames the file into place.
    AdifProgress step(int budget);
    // Stops; the file the path named before stays as it was.
    void cancel();
    bool finished() const;
    const AdifExportResult& result() const;

private:
    struct State;
    std::unique_ptr<State> d;
};

class AdifImportJob {
public:
    // homeLocator: the station's locator, from which distance and heading are measured.
    AdifImportJob(const QString& connectionText, const QString& path, const QString& homeLocator);
    ~AdifImportJob();
    AdifImportJob(const AdifImportJob&) = delete;
    AdifImportJob& operator=(const AdifImportJob&) = delete;

    // Reads up to budget records; the last step commits.
    AdifProgress step(int budget);
    // Stops and rolls back: the log stays as it was.
    void cancel();
    bool finished() const;
    const AdifImportResult& result() const;

private:
    struct State;
    std::unique_ptr<State> d;
};

// The jobs run to their end at once.
AdifExportResult ExportLogAdif(const QString& connectionText, const QString& path,
                               const AdifExportOptions& options = {});
AdifImportResult ImportLogAdif(const QString& connectionText, const QString& path,
                               const QString& homeLocator);
