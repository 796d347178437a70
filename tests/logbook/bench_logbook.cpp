// The logbook at scale: a generated log of 10,000 and of 100,000 QSOs. Band switches at the
// recordset and in the logbook window (its own " mS" figure), the worked-squares count and the
// geographic refresh of the busiest band, scrolling the whole grid, update walks with and
// without a transaction, and the memory the open log holds.
// The exports and the import of the 100,000-QSO log: the KML of the busiest band, the ADIF of
// the whole log and that file read into an empty log (with a full country table).
// Prints figures; judges nothing.

#include "Adif.h"
#include "CountryFile.h"
#include "Database.h"
#include "FakeBoard.h"
#include "KmlExport.h"
#include "LogDatabase.h"
#include "LogGenerator.h"
#include "LogGeoRefresh.h"
#include "LogbookWindow.h"
#include "OptionGroup.h"
#include "ProgramState.h"
#include "Recordset.h"
#include "RecordsetModel.h"
#include "Schema.h"
#include "Settings.h"
#include "StationContext.h"
#include "ValueLabel.h"

#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFile>
#include <QFileInfo>
#include <QTableView>
#include <QTemporaryDir>
#include <QThread>
#include <cstdio>
#include <ctime>
#include <functional>
#include <memory>
#include <vector>

namespace {

const QString logStatement = QStringLiteral("SELECT * FROM logtab");
const QString logSort = QStringLiteral("date  desc ");
const QString squaresStatement =
    QStringLiteral("select *  from logtab where grid <> ''order by grid");

struct Log {
    QString folder;
    QString text; // connection text
    int qsos = 0;
};

QString bandFilter(const QString& pattern) {
    return pattern.isEmpty() ? QString() : QStringLiteral(" band like '") + pattern + "'";
}

// Processor time of this process in ms: the figure a busy machine disturbs least.
double cpuMs() {
    return double(std::clock()) * 1000.0 / CLOCKS_PER_SEC;
}

double msSince(const QElapsedTimer& t) {
    return double(t.nsecsElapsed()) / 1e6;
}

// Resident memory of this process in MB (VmRSS), -1 when unknown.
double residentMb() {
    QFile f(QStringLiteral("/proc/self/status"));
    if (!f.open(QIODevice::ReadOnly))
        return -1;
    for (const QByteArray& line : f.readAll().split('\n'))
        if (line.startsWith("VmRSS:"))
            return line.mid(6).trimmed().split(' ').value(0).toDouble() / 1024.0;
    return -1;
}

// Reads every column of rows [first, first + count) the way a view paints them.
int readRows(const RecordsetModel& model, int first, int count) {
    int filled = 0;
    const int columns = model.columnCount();
    for (int r = first; r < first + count && r < model.rowCount(); ++r)
        for (int c = 0; c < columns; ++c)
            if (!model.data(model.index(r, c)).toString().isEmpty())
                ++filled;
    return filled;
}

bool openLog(DbConnection& db, const Log& log) {
    if (db.open(log.text))
        return true;
    std::printf("  cannot open the log: %s\n", qPrintable(db.lastError()));
    return false;
}

// Each band option as the logbook window switches to it: a new recordset on the log, sorted by
// date and filtered by band, given to the grid, which shows its first 40 rows. With `bound` the
// grid stays bound to one recordset that is opened again, so it rebuilds after every step.
void bandSwitches(const Log& log, bool bound) {
    std::printf("\nBand switches, %d QSOs, grid %s (ms):\n", log.qsos,
                bound ? "bound while opening" : "bound after filtering");
    std::printf("  %-9s %7s %8s %8s %8s %8s %8s\n", "band", "rows", "open", "sort+flt", "count",
                "screen", "total");
    DbConnection db;
    if (!openLog(db, log))
        return;
    RecordsetModel model;
    auto shared = std::make_shared<Recordset>();
    if (bound)
        model.setRecordset(shared);
    double worst = 0;
    for (const QString& pattern : LogbookBandPatterns()) {
        auto rs = bound ? shared : std::make_shared<Recordset>();
        QElapsedTimer total;
        total.start();
        QElapsedTimer t;
        t.start();
        const bool opened = rs->open(logStatement, db);
        const double open = msSince(t);
        t.restart();
        const bool set = opened && rs->setSort(logSort) && rs->setFilter(bandFilter(pattern));
        const double sortFilter = msSince(t);
        if (!set) {
            std::printf("  %-9s failed: %s\n", qPrintable(pattern), qPrintable(rs->lastError()));
            continue;
        }
        t.restart();
        const int rows = rs->recordCount();
        const double count = msSince(t);
        t.restart();
        if (!bound)
            model.setRecordset(rs);
        readRows(model, 0, 40);
        const double screen = msSince(t);
        const double all = msSince(total);
        worst = std::max(worst, all);
        std::printf("  %-9s %7d %8.2f %8.2f %8.2f %8.2f %8.2f\n",
                    pattern.isEmpty() ? "(all)" : qPrintable(pattern), rows, open, sortFilter,
                    count, screen, all);
    }
    std::printf("  slowest band switch: %.2f ms (count: recordCount(), which reads the rowid list "
                "once a filter is set; screen: 40 rows of every column)\n",
                worst);
}

// The whole "all bands" grid read row by row, as when the user drags the scroll bar from the
// top to the bottom; the resident memory with the grid open.
void scrolling(const Log& log) {
    std::printf("\nThe all-bands grid, %d QSOs, sorted by date:\n", log.qsos);
    const double before = residentMb();
    DbConnection db;
    if (!openLog(db, log))
        return;
    auto rs = std::make_shared<Recordset>();
    QElapsedTimer t;
    t.start();
    if (!rs->open(logStatement, db) || !rs->setSort(logSort)) {
        std::printf("  failed: %s\n", qPrintable(rs->lastError()));
        return;
    }
    RecordsetModel model(rs);
    readRows(model, 0, 40);
    std::printf("  open, sort and first screen: %.2f ms\n", msSince(t));
    std::printf("  resident memory: %.1f MB before opening, %.1f MB with the grid open\n", before,
                residentMb());
    t.restart();
    const int rows = model.rowCount();
    const int filled = readRows(model, 0, rows);
    const double all = msSince(t);
    std::printf("  reading all %d rows (%d filled cells) through the model: %.1f ms, %.2f us a "
                "row\n",
                rows, filled, all, rows ? all * 1000 / rows : 0.0);
    std::printf("  resident memory after scrolling through: %.1f MB\n", residentMb());
    t.restart();
    for (int r = rows - 1; r >= 0 && r >= rows - 2000; --r)
        readRows(model, r, 1);
    std::printf("  2000 rows upwards from the bottom: %.1f ms\n", msSince(t));
}

// Walks the band's rows and updates one field of each, as the logbook's refresh does.
// `limit` bounds the rows walked (0: all).
void walkUpdates(const Log& log, const QString& pattern, bool transaction, int limit) {
    DbConnection db;
    if (!openLog(db, log))
        return;
    Recordset rs;
    QElapsedTimer t;
    t.start();
    if (!rs.open(logStatement, db) || !rs.setFilter(bandFilter(pattern))) {
        std::printf("  failed: %s\n", qPrintable(rs.lastError()));
        return;
    }
    if (transaction)
        db.beginTransaction();
    int updated = 0;
    for (rs.moveFirst(); !rs.eof() && (limit == 0 || updated < limit); rs.moveNext()) {
        const QString poly = QStringLiteral("poly ") + rs.field(QStringLiteral("Grid")).toString();
        if (!rs.setField(QStringLiteral("GEpoly"), poly) || !rs.update()) {
            std::printf("  update failed: %s\n", qPrintable(rs.lastError()));
            break;
        }
        ++updated;
    }
    if (transaction)
        db.commit();
    const double all = msSince(t);
    std::printf("  %-9s %s: %6d rows updated in %8.1f ms, %7.1f us an update\n",
                qPrintable(pattern), transaction ? "in one transaction" : "each autocommitted",
                updated, all, updated ? all * 1000 / updated : 0.0);
}

bool makeLog(const QString& root, int qsos, Log& log) {
    log.folder = QDir(root).filePath(QStringLiteral("log%1").arg(qsos));
    log.qsos = qsos;
    if (!QDir().mkpath(log.folder))
        return false;
    GeneratedLogOptions options;
    options.qsos = qsos;
    QString error;
    QElapsedTimer t;
    t.start();
    if (!GenerateLogbook(QDir(log.folder).filePath(QString::fromLatin1(DbFileName)), options,
                         &error)) {
        std::printf("Generating %d QSOs failed: %s\n", qsos, qPrintable(error));
        return false;
    }
    log.text = BuildConnectionText(log.folder);
    std::printf("Generated %d QSOs in %.0f ms (%.1f MB file)\n", qsos, msSince(t),
                QFileInfo(QDir(log.folder).filePath(QString::fromLatin1(DbFileName))).size() /
                    1048576.0);
    return true;
}

// The logbook window on the log, as the operator meets it: each band option clicked (the
// window's own " mS" figure, and the time until the first screen of the grid is read), the
// worked-squares count of the busiest band, the refresh of its geographic fields with the
// progress it reports, and the memory with all bands shown.
void logbookWindow(const Log& log) {
    QTemporaryDir home;
    SettingsStore settings(QDir(home.path()).filePath(QStringLiteral("Farscan.txt")));
    settings.LoadSettings();
    ProgramState state;
    state.ownCallsign = QStringLiteral("DL0TST");
    state.ownLocator = QStringLiteral("JO62QM");
    FakeBoard board;
    StationDatabase database(log.folder);
    SystemClock clock;
    StationContext context{settings, state, CreateSystemSerialPort, board, database, clock};
    LogbookWindow w(context);
    w.setMessageSink([](const QString&) {});
    w.show();

    std::printf("\nLogbook window, %d QSOs: band switch (ms)\n", log.qsos);
    std::printf("  %-9s %7s %8s %8s\n", "band", "rows", "\" mS\"", "screen");
    double worst = 0;
    QString worstBand;
    for (int option = 1; option <= 22; ++option) {
        QElapsedTimer t;
        t.start();
        w.OptBand()->setSelected(option);
        const int rows = w.grid()->model()->rowCount();
        for (int r = 0; r < 40 && r < rows; ++r)
            for (int c = 0; c < w.grid()->model()->columnCount(); ++c)
                w.grid()->model()->index(r, c).data();
        const double screen = msSince(t);
        const QString label = w.BandTime()->text();
        if (option != 22 && screen > worst) {
            worst = screen;
            worstBand = state.BandPattern;
        }
        std::printf("  %-9s %7d %8s %8.2f\n",
                    state.BandPattern.isEmpty() ? "(all)" : qPrintable(state.BandPattern), rows,
                    qPrintable(label.trimmed()), screen);
    }
    std::printf("  slowest single band: %s, %.2f ms with its first screen\n", qPrintable(worstBand),
                worst);
    std::printf("  resident memory with all bands shown: %.1f MB\n", residentMb());

    const QString busiest = QStringLiteral("10368%");
    QElapsedTimer t;
    t.start();
    QString error;
    const int squares = CountWorkedSquares(log.text, busiest, state.ownLocator, &error);
    std::printf("\nWorked squares with outlines on %s: %d squares in %.1f ms%s\n",
                qPrintable(busiest), squares, msSince(t),
                error.isEmpty() ? "" : qPrintable(QStringLiteral(" (") + error + ")"));

    w.OptBand()->setSelected(17); // 10368%
    int progress = 0;
    QObject::connect(w.refresher(), &LogGeoRefresh::progress, [&](int, int) { ++progress; });
    QEventLoop loop;
    bool ok = false;
    QObject::connect(&w, &LogbookWindow::refreshFinished, &loop, [&](bool result) {
        ok = result;
        loop.quit();
    });
    t.restart();
    w.refreshGeo();
    loop.exec();
    std::printf("Refresh of the geographic fields on %s (%d QSOs): %.0f ms, %d progress steps, "
                "%s\n",
                qPrintable(busiest), w.grid()->model()->rowCount(), msSince(t), progress,
                ok ? "done" : "failed");
    w.close();
}

// The KML export of the busiest band, the ADIF export of the whole log and the import of that
// file into an empty log whose country table is filled from the system's cty.dat (when there is
// one), so every imported QSO is looked up.
void exchange(const Log& log) {
    std::printf("\nExports and import, %d QSOs:\n", log.qsos);
    const QString busiest = QStringLiteral("10368%");
    KmlSettings kml;
    kml.callsign = QStringLiteral("DL0TST");
    kml.transparency = QStringLiteral("128");
    kml.homeLonLat = QStringLiteral("13.3333333333333,52.5");
    const QString kmlPath = QDir(log.folder).filePath(QString::fromLatin1(KmlFileName));
    QElapsedTimer t;
    t.start();
    double cpu = cpuMs();
    const KmlResult k = ExportLogKml(log.text, busiest, QString(), false, kml, kmlPath, "1", "1");
    std::printf("  KML export of %s: %d placemarks in %.0f ms, %.0f ms CPU (%.1f MB)%s\n",
                qPrintable(busiest), k.placemarks, msSince(t), cpuMs() - cpu,
                QFileInfo(kmlPath).size() / 1048576.0,
                k.ok ? "" : qPrintable(QStringLiteral(", failed: ") + k.message));

    const QString adi = QDir(log.folder).filePath(QStringLiteral("log.adi"));
    t.restart();
    cpu = cpuMs();
    const AdifExportResult out = ExportLogAdif(log.text, adi);
    std::printf("  ADIF export of the whole log: %d QSOs in %.0f ms, %.0f ms CPU (%.1f MB)%s\n",
                out.written, msSince(t), cpuMs() - cpu, QFileInfo(adi).size() / 1048576.0,
                out.ok ? "" : qPrintable(QStringLiteral(", failed: ") + out.message));

    const QString empty = QDir(log.folder).filePath(QStringLiteral("imported"));
    QDir().mkpath(empty);
    if (!EnsureDatabase(QDir(empty).filePath(QString::fromLatin1(DbFileName)))) {
        std::printf("  no empty log for the import\n");
        return;
    }
    const QString emptyText = BuildConnectionText(empty);
    const QString cty = QStringLiteral("/usr/share/hamradio-files/cty.dat");
    const CountryTableResult countries =
        QFileInfo::exists(cty) ? FillCountryTable(emptyText, cty) : CountryTableResult{};
    std::printf("  country table of the empty log: %d patterns\n", countries.rows);
    t.restart();
    cpu = cpuMs();
    const AdifImportResult in = ImportLogAdif(emptyText, adi, QStringLiteral("JO62QM"));
    std::printf("  ADIF import into the empty log: %d imported, %d duplicates, %d unreadable in "
                "%.0f ms, %.0f ms CPU%s\n",
                in.imported, in.duplicates, in.unreadable, msSince(t), cpuMs() - cpu,
                in.ok ? "" : qPrintable(QStringLiteral(", failed: ") + in.message));
    t.restart();
    const AdifImportResult again = ImportLogAdif(emptyText, adi, QStringLiteral("JO62QM"));
    std::printf("  the same file again (all duplicates): %d duplicates in %.0f ms\n",
                again.duplicates, msSince(t));
}

} // namespace

int main(int argc, char** argv) {
    if (qgetenv("QT_QPA_PLATFORM").isEmpty())
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    std::printf("Logbook benchmark: %d cores, resident memory at start %.1f MB\n",
                QThread::idealThreadCount(), residentMb());
    QTemporaryDir root;
    if (!root.isValid()) {
        std::printf("No temporary folder\n");
        return 1;
    }
    Log small;
    Log large;
    if (!makeLog(root.path(), 10000, small) || !makeLog(root.path(), 100000, large))
        return 1;

    for (const Log* log : {&small, &large}) {
        // What the program's first grid load does to a log: its indexes.
        QElapsedTimer t;
        t.start();
        const SchemaCheck schema =
            CheckSchema(log->text, BuildMigrationConnectionText(log->folder));
        std::printf("\nSchema check with its indexes, %d QSOs: %.0f ms%s\n", log->qsos, msSince(t),
                    schema.errors.isEmpty() ? "" : qPrintable(schema.errors.join("; ")));
        bandSwitches(*log, false);
        logbookWindow(*log);
    }
    exchange(large);
    scrolling(large);
    std::printf("\nUpdates, one per row (100,000 QSOs):\n");
    walkUpdates(large, QStringLiteral("10368%"), false, 200);
    walkUpdates(large, QStringLiteral("10368%"), true, 0);

    std::printf("\nResident memory at the end: %.1f MB\n", residentMb());
    return 0;
}
