#include "LogGeoRefresh.h"

#include "LogDatabase.h"
#include "LogTransaction.h"
#include "LogbookLog.h"
#include "Recordset.h"

LogGeoRefresh::LogGeoRefresh(QObject* parent) : QObject(parent) {
    m_timer.setInterval(0);
    connect(&m_timer, &QTimer::timeout, this, &LogGeoRefresh::step);
}

LogGeoRefresh::~LogGeoRefresh() = default;

bool LogGeoRefresh::start(const QString& connectionText, const QString& bandPattern,
                          const QString& homeLocator) {
    if (m_running)
        return false;
    m_running = true;
    m_connectionText = connectionText;
    m_bandPattern = bandPattern;
    m_home = homeLocator;
    m_result = Result{};
    m_done = 0;
    m_rows = std::make_shared<Recordset>();
    // The filter is built from the pattern as it stands: an empty pattern matches no QSO, so
    // a refresh never rewrites the whole log by accident.
    if (!m_db.open(connectionText) || !m_rows->open(QStringLiteral("SELECT * FROM logtab"), m_db) ||
        !m_rows->setFilter(QStringLiteral(" band like '") + bandPattern + QStringLiteral("'"))) {
        const QString error = m_db.isOpen() ? m_rows->lastError() : m_db.lastError();
        // Reported from the event loop, as every other outcome is.
        QTimer::singleShot(0, this, [this, error] { finish(false, error); });
        return true;
    }
    m_result.recordCount = m_rows->recordCount();
    m_rows->moveFirst();
    emit progress(0, m_result.recordCount);
    m_timer.start();
    return true;
}

void LogGeoRefresh::cancel() {
    if (!m_running)
        return;
    m_result.cancelled = true;
    finish(false);
}

void LogGeoRefresh::step() {
    if (!m_running || !m_rows)
        return;
    QString error;
    {
        LogTransaction transaction(m_db);
        for (int n = 0; n < m_chunk && !m_rows->eof(); ++n, ++m_done, m_rows->moveNext()) {
            Recordset& rs = *m_rows;
            const QVariant grid = rs.field(QStringLiteral("grid"));
            if (grid.isNull())
                continue;
            const LogGeo geo = ComputeLogGeo(m_home, DbValueText(grid));
            QsoFields q;
            q.date = rs.field(QStringLiteral("Date"));
            q.gmt = rs.field(QStringLiteral("GMT"));
            q.callsign = DbValueText(rs.field(QStringLiteral("Callsign")));
            q.band = DbValueText(rs.field(QStringLiteral("Band")));
            q.rsts = DbValueText(rs.field(QStringLiteral("rsts")));
            q.rstr = DbValueText(rs.field(QStringLiteral("rstr")));
            q.qsl = DbValueText(rs.field(QStringLiteral("QSL")));
            q.prop = DbValueText(rs.field(QStringLiteral("Prop")));
            q.comment = DbValueText(rs.field(QStringLiteral("comment")));
            q.qrb = geo.qrb;
            q.qtf = geo.qtf;
            if (!rs.setField(QStringLiteral("GEdata"), QsoDescription(q)) ||
                !rs.setField(QStringLiteral("GEgridXY"), geo.lastLonLat) || !rs.update()) {
                error = rs.lastError();
                rs.cancelUpdate();
                break;
            }
            ++m_result.updated;
        }
        if (!transaction.commit() && error.isEmpty())
            error = transaction.error();
    }
    if (!error.isEmpty()) {
        finish(false, error);
        return;
    }
    emit progress(m_done, m_result.recordCount);
    if (!m_rows->eof())
        return;
    m_timer.stop();
    m_rows.reset();
    m_db.close();
    QString countError;
    m_result.squares = CountWorkedSquares(m_connectionText, m_bandPattern, m_home, &countError);
    if (m_result.squares < 0) {
        finish(false, countError);
        return;
    }
    finish(true);
}

void LogGeoRefresh::finish(bool ok, const QString& error) {
    if (!m_running)
        return;
    m_timer.stop();
    m_rows.reset();
    m_db.close();
    m_running = false;
    m_result.ok = ok;
    m_result.error = error;
    if (!error.isEmpty())
        qCWarning(lcLogbook, "Refreshing the log's positions failed: %s", qPrintable(error));
    emit finished(m_result);
}
