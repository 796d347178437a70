#pragma once

// The station database "backup.mdb": where it lives, how the connection text names it, a new
// file with the tables the program needs, and connections to it.
//
// The file is SQLite (it keeps the name it had as a Jet database). Every operation opens its own
// DbConnection and Recordset and drops them at its end; no connection lives between operations.
//
// Data folder (the folder that holds "backup.mdb"), first match wins:
//  1. an override: the folder given to SetDataFolderOverride (the program's command-line
//     option), else the environment variable FARSCAN_DATA_DIR when it is not empty; the folder
//     is created when it is missing;
//  2. the folder of the executable, when it already holds "backup.mdb" (a portable install);
//  3. the user's data folder: $XDG_DATA_HOME/Farscan, usually ~/.local/share/Farscan
//     (on Windows the roaming application data folder), created when needed.
// A build folder never holds the log unless the user put it there.

#include <QSqlDatabase>
#include <QString>
#include <memory>

// The name of the database file inside the data folder.
inline constexpr const char* DbFileName = "backup.mdb";

// Overrides the data folder for this run (an empty text removes the override).
void SetDataFolderOverride(const QString& folder);

// The data folder by the rule above. Never empty.
QString DataFolder();

// The rule above with its inputs given: override (may be empty), the executable's folder and
// the user's data folder. Creates the chosen override or user folder when it is missing.
QString DataFolderFrom(const QString& overrideFolder, const QString& executableFolder,
                       const QString& userDataFolder);

// "Provider=Microsoft.Jet.OLEDB.4.0;Data Source=" + folder + "\" + "backup.mdb;Mode=Read|Write".
// A source that holds ";" or a double quote (or starts or ends with a blank) is written in
// double quotes, with its own double quotes doubled, as connection texts quote such values.
QString BuildConnectionText(const QString& folder);

// The text the schema migrations connect with: "Provider=Microsoft.Jet.OLEDB.4.0; " +
// "Data Source=" + folder + "\backup.mdb", the same file without the sharing mode.
QString BuildMigrationConnectionText(const QString& folder);

// The file a connection text names: the "Data Source=" value (up to ";" or the end, or the
// quoted value), split at its last backslash into folder and file name and joined again with
// the platform's separator, so "<folder>\backup.mdb" names a file on Linux too. Empty when the
// text has no data source.
QString ConnectionTextToPath(const QString& connectionText);

// True when the file is a Microsoft Jet (Access) database, such as a "backup.mdb" copied from
// a Windows station, which this program cannot read.
bool IsJetDatabase(const QString& path);
// What to tell the user about such a file.
QString JetDatabaseMessage(const QString& path);

// The station's database: where it is, and a new one where there is none.
class StationDatabase {
public:
    // folder: the data folder; by default DataFolder().
    explicit StationDatabase(QString folder = DataFolder());
    QString folder() const { return m_folder; }
    QString path() const;
    QString connectionText() const { return BuildConnectionText(m_folder); }
    // EnsureDatabase for path(); a Jet file gets JetDatabaseMessage as its error.
    bool ensure(QString* error = nullptr) const;

private:
    QString m_folder;
};

// Creates a new database at path with the tables logtab (34 columns), dxccdata and PNT_Beacon
// (9 columns), empty. A file that already exists is left exactly as it is (it may be a Jet file
// copied from Windows; opening it then fails, but nothing overwrites it). The new file is built
// under a temporary name and renamed into place, so a half-built file never carries the name.
bool EnsureDatabase(const QString& path, QString* error = nullptr);

// Column lists of a new database, in table order (tests and the seeding code use them).
QStringList DbLogColumns();
QStringList DbDxccColumns();
QStringList DbBeaconColumns();

// One named QtSql connection to one database file. Shared between a DbConnection and the
// recordsets opened on it: the connection is closed and removed when the last owner goes.
class DbHandle {
public:
    // Opens path. With create false a missing file is an error, never created.
    DbHandle(const QString& path, bool create);
    ~DbHandle();
    DbHandle(const DbHandle&) = delete;
    DbHandle& operator=(const DbHandle&) = delete;

    bool isOpen() const { return m_open; }
    QString openError() const { return m_openError; }
    QString path() const { return m_path; }
    QSqlDatabase& database() { return m_db; }

    // False with an error text when the file has gone since it was opened: SQLite would go on
    // writing to the unlinked file and the changes would be lost without a word.
    bool fileStillThere(QString* error) const;

private:
    QString m_name;
    QString m_path;
    QSqlDatabase m_db;
    bool m_open = false;
    QString m_openError;
};

// A connection to the database named by a connection text.
class DbConnection {
public:
    DbConnection() = default;
    ~DbConnection() = default;
    DbConnection(const DbConnection&) = delete;
    DbConnection& operator=(const DbConnection&) = delete;

    // Fails when the text names no file or the file is missing (nothing is created) or is not a
    // database this program can read.
    bool open(const QString& connectionText);
    bool isOpen() const { return m_handle != nullptr; }
    // Runs one statement that returns no rows, such as ALTER TABLE ... ADD/DROP COLUMN.
    bool execute(const QString& statement);
    // One transaction over several statements or recordset updates on this connection: bulk
    // writes then cost one commit instead of one per row, and a failure can roll them back.
    bool beginTransaction();
    bool commit();
    bool rollback();
    // Releases this connection; recordsets opened on it keep working until they close.
    void close() { m_handle.reset(); }
    QString lastError() const { return m_lastError; }

    std::shared_ptr<DbHandle> handle() const { return m_handle; }

private:
    bool transactionStep(bool (QSqlDatabase::*step)(), bool checkFile);

    std::shared_ptr<DbHandle> m_handle;
    QString m_lastError;
};
