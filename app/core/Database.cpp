#include "Database.h"

#include "CoreLog.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSqlError>
#include <QSqlQuery>
#include <QStandardPaths>
#include <QStringList>
#include <QUrl>
#include <atomic>

namespace {

QString& dataFolderOverride() {
    static QString folder;
    return folder;
}

bool makeFolder(const QString& folder) {
    return QDir().mkpath(folder);
}

QString connectionName() {
    static std::atomic<quint64> counter{0};
    return QStringLiteral("farscan-db-%1").arg(++counter);
}

// Column definitions of a new database. The first 31 logtab columns follow the outside logging
// program's layout; the last three are this program's Google Earth columns.
struct ColumnDef {
    const char* name;
    const char* type;
};

const ColumnDef logColumns[] = {
    {"ID", "INTEGER PRIMARY KEY"},
    {"Date", "TEXT"}, // ISO date yyyy-MM-dd, so that text order is date order
    {"GMT", "TEXT"},  // ISO time HH:mm:ss
    {"Callsign", "text(20)"},
    {"Band", "TEXT"}, // kHz as text, matched with LIKE '10368%'
    {"mode", "text(10)"},
    {"rsts", "text(10)"},
    {"rstr", "text(10)"},
    {"nrs", "text(10)"}, // contest numbers sent and received
    {"nrr", "text(10)"},
    {"Grid", "text(10)"},
    {"Nam", "text(50)"},
    {"QTH", "text(50)"},
    {"DXCC", "text(50)"},
    {"QRB", "INTEGER"},
    {"QTF", "INTEGER"},
    {"Prop", "text(10)"},
    {"QSL", "text(5)"},
    {"QSLvia", "text(20)"},
    {"QSLsent", "text(5)"},
    {"QSLdate", "TEXT"},
    {"Power", "text(10)"},
    {"Rig", "text(50)"},
    {"Antenna", "text(50)"},
    {"MyGrid", "text(10)"},
    {"CQzone", "text(5)"},
    {"ITUzone", "text(5)"},
    {"Contest", "text(30)"},
    {"Operator", "text(20)"},
    {"Comment", "text(250)"},
    {"Changed", "TEXT"},
    {"GEdata", "text(250)"},
    {"GEpoly", "text(250)"},
    {"GEgridXY", "text(250)"},
};

// dxcccode is a LIKE pattern matched against a callsign ("DL%"); Country is the entry that
// the logbook stores in logtab.DXCC. The program reads both by position (1 and 2).
const ColumnDef dxccColumns[] = {
    {"ID", "INTEGER PRIMARY KEY"}, {"dxcccode", "text(20)"}, {"Country", "text(60)"},
    {"Prefix", "text(20)"},        {"Continent", "text(5)"}, {"CQzone", "text(5)"},
    {"ITUzone", "text(5)"},
};

const ColumnDef beaconColumns[] = {
    {"ID", "INTEGER PRIMARY KEY"},
    {"beacon", "text(30)"},
    {"qrg", "DOUBLE"}, // kHz; numeric so that the frequency sort is numeric
    {"Locator", "text(10)"},
    {"Equipment", "text(250)"},
    {"Status", "text(20)"},
    {"GEpoly", "text(250)"},
    {"GEdata", "text(250)"},
    {"GEgridXY", "text(250)"},
};

template <size_t N> QStringList names(const ColumnDef (&cols)[N]) {
    QStringList out;
    for (const auto& c : cols)
        out << QString::fromLatin1(c.name);
    return out;
}

template <size_t N> QString createStatement(const char* table, const ColumnDef (&cols)[N]) {
    QStringList parts;
    for (const auto& c : cols)
        parts << QStringLiteral("\"%1\" %2").arg(QLatin1String(c.name), QLatin1String(c.type));
    return QStringLiteral("CREATE TABLE \"%1\" (%2)")
        .arg(QLatin1String(table), parts.join(QStringLiteral(", ")));
}

void setError(QString* error, const QString& text) {
    if (error)
        *error = text;
}

} // namespace

QStringList DbLogColumns() {
    return names(logColumns);
}
QStringList DbDxccColumns() {
    return names(dxccColumns);
}
QStringList DbBeaconColumns() {
    return names(beaconColumns);
}

void SetDataFolderOverride(const QString& folder) {
    dataFolderOverride() = folder;
}

QString DataFolderFrom(const QString& overrideFolder, const QString& executableFolder,
                       const QString& userDataFolder) {
    if (!overrideFolder.isEmpty()) {
        makeFolder(overrideFolder);
        return overrideFolder;
    }
    if (!executableFolder.isEmpty() &&
        QFileInfo::exists(QDir(executableFolder).filePath(QString::fromLatin1(DbFileName))))
        return executableFolder;
    makeFolder(userDataFolder);
    return userDataFolder;
}

QString DataFolder() {
    QString override = dataFolderOverride();
    if (override.isEmpty())
        override = qEnvironmentVariable("FARSCAN_DATA_DIR");
    const QString exeFolder =
        QCoreApplication::instance() ? QCoreApplication::applicationDirPath() : QString();
    // $XDG_DATA_HOME/Farscan, whatever organisation name the application carries.
    QString user = QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation);
    if (user.isEmpty())
        user = QDir::homePath();
    return DataFolderFrom(override, exeFolder, QDir(user).filePath(QStringLiteral("Farscan")));
}

QString BuildConnectionText(const QString& folder) {
    QString source = folder + QStringLiteral("\\") + QStringLiteral("backup.mdb");
    if (source.contains(QLatin1Char(';')) || source.contains(QLatin1Char('"')) ||
        source != source.trimmed())
        source = QLatin1Char('"') +
                 QString(source).replace(QStringLiteral("\""), QStringLiteral("\"\"")) +
                 QLatin1Char('"');
    return QStringLiteral("Provider=Microsoft.Jet.OLEDB.4.0;Data Source=") + source +
           QStringLiteral(";Mode=Read|Write");
}

QString BuildMigrationConnectionText(const QString& folder) {
    return QStringLiteral("Provider=Microsoft.Jet.OLEDB.4.0; ") + QStringLiteral("Data Source=") +
           folder + QStringLiteral("\\backup.mdb");
}

QString ConnectionTextToPath(const QString& connectionText) {
    static const QString key = QStringLiteral("data source=");
    const int at = connectionText.indexOf(key, 0, Qt::CaseInsensitive);
    if (at < 0)
        return {};
    int start = at + key.size();
    while (start < connectionText.size() && connectionText.at(start) == QLatin1Char(' '))
        ++start;
    QString source;
    if (start < connectionText.size() && connectionText.at(start) == QLatin1Char('"')) {
        // A quoted value runs to the closing quote; a doubled quote stands for one.
        for (int i = start + 1; i < connectionText.size(); ++i) {
            const QChar c = connectionText.at(i);
            if (c == QLatin1Char('"')) {
                if (i + 1 < connectionText.size() && connectionText.at(i + 1) == QLatin1Char('"')) {
                    source += c;
                    ++i;
                    continue;
                }
                break;
            }
            source += c;
        }
    } else {
        int end = connectionText.indexOf(QLatin1Char(';'), start);
        if (end < 0)
            end = connectionText.size();
        source = connectionText.mid(start, end - start).trimmed();
    }
    if (source.isEmpty())
        return {};
    const int slash = source.lastIndexOf(QLatin1Char('\\'));
    if (slash < 0)
        return QDir::cleanPath(source);
    const QString folder = source.left(slash);
    const QString name = source.mid(slash + 1);
    if (folder.isEmpty())
        return QDir::cleanPath(QDir::rootPath() + name);
    return QDir::cleanPath(QDir(folder).filePath(name));
}

bool EnsureDatabase(const QString& path, QString* error) {
    const QFileInfo target(path);
    if (target.exists() || target.isSymLink()) {
        if (target.isDir()) {
            setError(error, QStringLiteral("The database path is a folder: %1").arg(path));
            return false;
        }
        return true;
    }
    if (!makeFolder(target.absolutePath())) {
        setError(error, QStringLiteral("Cannot create the folder %1").arg(target.absolutePath()));
        return false;
    }
    const QString temp = path + QStringLiteral(".new-%1").arg(QCoreApplication::applicationPid());
    QFile::remove(temp);
    QString failure;
    {
        DbHandle handle(temp, true);
        if (!handle.isOpen()) {
            failure = handle.openError();
        } else {
            QSqlQuery query(handle.database());
            const QString statements[] = {
                createStatement("logtab", logColumns),
                createStatement("dxccdata", dxccColumns),
                createStatement("PNT_Beacon", beaconColumns),
            };
            for (const QString& statement : statements) {
                if (!query.exec(statement)) {
                    failure = query.lastError().text();
                    break;
                }
            }
        }
    }
    if (failure.isEmpty() && !QFile::rename(temp, path))
        failure = QFileInfo::exists(path)
                      ? QString() // created meanwhile by someone else: theirs stands
                      : QStringLiteral("Cannot rename %1 to %2").arg(temp, path);
    QFile::remove(temp);
    if (!failure.isEmpty()) {
        setError(error, QStringLiteral("Cannot create the database %1: %2").arg(path, failure));
        return false;
    }
    return true;
}

DbHandle::DbHandle(const QString& path, bool create) : m_name(connectionName()), m_path(path) {
    if (path.isEmpty()) {
        m_openError = QStringLiteral("The connection text names no database file");
        return;
    }
    const QFileInfo info(path);
    if (!create && !info.isFile()) {
        m_openError = QStringLiteral("Database file not found: %1").arg(path);
        return;
    }
    m_db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), m_name);
    if (!m_db.isValid()) {
        m_openError = QStringLiteral("The SQLite driver of QtSql is not available");
        return;
    }
    // mode=rw makes SQLite itself refuse to create a file that has vanished since the check.
    m_db.setConnectOptions(QStringLiteral("QSQLITE_OPEN_URI;QSQLITE_BUSY_TIMEOUT=5000"));
    m_db.setDatabaseName(QUrl::fromLocalFile(info.absoluteFilePath()).toString(QUrl::FullyEncoded) +
                         (create ? QStringLiteral("?mode=rwc") : QStringLiteral("?mode=rw")));
    if (!m_db.open()) {
        m_openError = QStringLiteral("Cannot open %1: %2").arg(path, m_db.lastError().text());
        return;
    }
    // SQLite reads the file lazily: read the schema now so that a file that is no SQLite
    // database (a Jet file copied from Windows) fails here, before anything else.
    QSqlQuery probe(m_db);
    if (!probe.exec(QStringLiteral("SELECT count(*) FROM sqlite_master")) || !probe.next()) {
        m_openError = QStringLiteral("%1 is not a database this program can read (%2); the file "
                                     "is left as it is.")
                          .arg(path, probe.lastError().databaseText());
        probe = QSqlQuery();
        m_db.close();
        return;
    }
    m_open = true;
}

DbHandle::~DbHandle() {
    if (m_db.isValid())
        m_db.close();
    m_db = QSqlDatabase();
    if (QSqlDatabase::contains(m_name))
        QSqlDatabase::removeDatabase(m_name);
}

bool DbHandle::fileStillThere(QString* error) const {
    if (!m_open) {
        setError(error, QStringLiteral("The connection is not open"));
        return false;
    }
    if (!QFileInfo(m_path).isFile()) {
        setError(error, QStringLiteral("Database file not found: %1").arg(m_path));
        return false;
    }
    return true;
}

bool DbConnection::open(const QString& connectionText) {
    m_handle.reset();
    m_lastError.clear();
    auto handle = std::make_shared<DbHandle>(ConnectionTextToPath(connectionText), false);
    if (!handle->isOpen()) {
        m_lastError = handle->openError();
        return false;
    }
    m_handle = std::move(handle);
    return true;
}

bool DbConnection::execute(const QString& statement) {
    m_lastError.clear();
    if (!m_handle) {
        m_lastError = QStringLiteral("The connection is not open");
        return false;
    }
    if (!m_handle->fileStillThere(&m_lastError))
        return false;
    QSqlQuery query(m_handle->database());
    if (!query.exec(statement)) {
        m_lastError = query.lastError().text();
        if (m_lastError.trimmed().isEmpty())
            m_lastError = QStringLiteral("The statement failed: %1").arg(statement);
        return false;
    }
    return true;
}

bool DbConnection::transactionStep(bool (QSqlDatabase::*step)(), bool checkFile) {
    m_lastError.clear();
    if (!m_handle) {
        m_lastError = QStringLiteral("The connection is not open");
        return false;
    }
    if (checkFile && !m_handle->fileStillThere(&m_lastError))
        return false;
    if (!(m_handle->database().*step)()) {
        m_lastError = m_handle->database().lastError().text();
        return false;
    }
    return true;
}

bool DbConnection::beginTransaction() {
    return transactionStep(&QSqlDatabase::transaction, true);
}

bool DbConnection::commit() {
    return transactionStep(&QSqlDatabase::commit, false);
}

bool DbConnection::rollback() {
    return transactionStep(&QSqlDatabase::rollback, false);
}

bool IsJetDatabase(const QString& path) {
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return false;
    // A Jet or ACE file starts with its format name at byte 4.
    const QByteArray head = file.read(32);
    return head.mid(4, 15) == "Standard Jet DB" || head.mid(4, 15) == "Standard ACE DB";
}

QString JetDatabaseMessage(const QString& path) {
    return QStringLiteral(
               "%1 is a Microsoft Access (Jet) database, as the Windows version of the station "
               "program keeps it. This version keeps its log in an SQLite file of the same name "
               "and cannot read that format; nothing in it was changed.\n\nTo start with a new "
               "log, move the file aside (for example rename it to backup-windows.mdb) and start "
               "the program again; keep the old file to import its QSOs later.")
        .arg(QDir::toNativeSeparators(path));
}

StationDatabase::StationDatabase(QString folder) : m_folder(std::move(folder)) {}

QString StationDatabase::path() const {
    return QDir(m_folder).filePath(QString::fromLatin1(DbFileName));
}

bool StationDatabase::ensure(QString* error) const {
    QString failure;
    bool ok = EnsureDatabase(path(), &failure);
    if (ok && IsJetDatabase(path())) {
        ok = false;
        failure = JetDatabaseMessage(path());
    }
    if (!ok) {
        qCWarning(lcDatabase, "%s", qPrintable(failure));
        setError(error, failure);
    }
    return ok;
}
