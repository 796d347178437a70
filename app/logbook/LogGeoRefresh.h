#pragma once

// Rewrites the geographic fields (GEdata, GEgridXY) of every QSO of a band that has a grid,
// then counts the band's worked squares, which writes their outlines (GEpoly).
//
// A band can hold tens of thousands of QSOs, so the rows are done in chunks from a timer, each
// chunk in one transaction: the window stays responsive, shows the progress and can cancel.
// Rows done stay done, whether the run is cancelled or fails.

#include "Database.h"

#include <QObject>
#include <QTimer>
#include <memory>

class Recordset;

class LogGeoRefresh : public QObject {
    Q_OBJECT
public:
    struct Result {
        bool ok = false;
        bool cancelled = false;
        int recordCount = 0; // QSOs of the band
        int updated = 0;     // of them rewritten
        int squares = -1;    // worked squares, -1 when not counted
        QString error;
    };

    explicit LogGeoRefresh(QObject* parent = nullptr);
    ~LogGeoRefresh() override;

    // Rows per timer tick.
    void setChunkSize(int rows) { m_chunk = qMax(1, rows); }
    // Starts a run; false when one is running. The result always arrives through finished(),
    // also for a failure to open the rows.
    bool start(const QString& connectionText, const QString& bandPattern,
               const QString& homeLocator);
    // Stops after the row in hand; finished() reports the run as cancelled.
    void cancel();
    bool isRunning() const { return m_running; }

signals:
    void progress(int done, int total);
    void finished(const LogGeoRefresh::Result& result);

private:
    void step();
    void finish(bool ok, const QString& error = {});

    QTimer m_timer;
    int m_chunk = 250;
    bool m_running = false;
    QString m_connectionText;
    QString m_bandPattern;
    QString m_home;
    DbConnection m_db;
    std::shared_ptr<Recordset> m_rows;
    int m_done = 0;
    Result m_result;
};

Q_DECLARE_METATYPE(LogGeoRefresh::Result)
