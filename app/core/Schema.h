#pragma once

// The schema check the beacon grid runs on every load: a log or beacon table still in the old
// layout of the outside logging program (31 and 8 columns) gets the columns this program adds.
// A table without rows is left as it is: the check reads the field count from a row.

#include <QString>
#include <QStringList>

class DbConnection;

// The number of fields of the table's rows; 0 when the table has no row, -1 when it cannot be
// read (error says why).
int RowFieldCount(DbConnection& db, const QString& table, QString* error = nullptr);

// The log's three Google Earth columns, on a connection of their own. Each statement runs
// even when an earlier one failed; the failures are returned.
QStringList MigrateLogTable(const QString& migrationConnectionText);
// The beacon table's migration: the two coordinate columns go, the three Google Earth columns
// come.
QStringList MigrateBeaconTable(const QString& migrationConnectionText);

struct SchemaCheck {
    bool logMigrated = false;
    bool beaconMigrated = false;
    QStringList errors; // what could not be read or changed
};

// logtab with 31 fields is migrated, then PNT_Beacon with 8; indexes the log's band, grid and
// date columns so that band switches and counts stay quick on a large log.
SchemaCheck CheckSchema(const QString& connectionText, const QString& migrationConnectionText);
