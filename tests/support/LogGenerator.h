#pragma once

// A generated logbook for tests and benchmarks: realistic QSOs over the logbook window's bands,
// written in one transaction into a new database file.

#include <QString>
#include <QStringList>

// The logbook window's band options as LIKE patterns (the last one, "", shows every band).
QStringList LogbookBandPatterns();

// The Band text the generator stores for a pattern of LogbookBandPatterns() ("10368%" gives
// "10368100"); empty for the all-bands pattern.
QString GeneratedBandText(const QString& pattern);

struct GeneratedLogOptions {
    int qsos = 100000;
    quint32 seed = 20260501;
    int locators = 2000; // distinct 6-character locators
};

// Creates the database at path with EnsureDatabase and appends the QSOs to logtab with one
// prepared INSERT inside one transaction. The same options give the same rows. 144 MHz and
// 10368 MHz each hold a tenth of the QSOs; the other bands share the rest unevenly. Dates are
// ISO texts and mostly ascend with the row (a log grows by appending), GMT is "HH:mm:ss".
bool GenerateLogbook(const QString& path, const GeneratedLogOptions& options = {},
                     QString* error = nullptr);
