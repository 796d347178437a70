#include "Schema.h"

#include "CoreLog.h"
#include "Database.h"

#include <QSqlError>
#include <QSqlQuery>
#include <QSqlRecord>

namespace {

QStringList runAll(const QString& connectionText, const char* const* statements, int count) {
    QStringList errors;
    DbConnection db;
    if (!db.open(connectionText))
        return {db.lastError()};
    for (int i = 0; i < count; ++i) {
        if (!db.execute(QString::fromLatin1(statements[i]))) {
            errors << QStringLiteral("%1: %2").arg(QString::fromLatin1(statements[i]).trimmed(),
                                                   db.lastError());
            qCWarning(lcDatabase, "Migration statement failed: %s", qPrintable(errors.last()));
        }
    }
    return errors;
}

} // namespace

int RowFieldCount(DbConnection& db, const QString& table, QString* error) {
    if (!db.isOpen()) {
        if (error)
            *error = QStringLiteral("The connection is not open");
        return -1;
    }
    QSqlQuery query(db.handle()->database());
    query.setForwardOnly(true);
    if (!query.exec(QStringLiteral("SELECT * FROM %1 LIMIT 1").arg(table))) {
        if (error)
            *error = query.lastError().text();
        return -1;
    }
    return query.next() ? query.record().count() : 0;
}

QStringList MigrateLogTable(const QString& migrationConnectionText) {
    static const char* const statements[] = {
        "ALTER TABLE logtab ADD COLUMN GEdata text(250);",
        "ALTER TABLE logtab ADD COLUMN GEpoly text(250);",
        "ALTER TABLE logtab ADD COLUMN GEgridXY text(250);",
    };
    return runAll(migrationConnectionText, statements, 3);
}

QStringList MigrateBeaconTable(const QString& migrationConnectionText) {
    static const char* const statements[] = {
        "ALTER TABLE PNT_Beacon DROP COLUMN XCoord ",
        "ALTER TABLE PNT_Beacon DROP COLUMN YCoord ",
        "ALTER TABLE PNT_Beacon ADD COLUMN GEpoly text(250);",
        "ALTER TABLE PNT_Beacon ADD COLUMN GEdata text(250);",
        "ALTER TABLE PNT_Beacon ADD COLUMN GEgridXY text(250);",
    };
    return runAll(migrationConnectionText, statements, 5);
}

SchemaCheck CheckSchema(const QString& connectionText, const QString& migrationConnectionText) {
    SchemaCheck result;
    // A table in the old layout: its field count then its migration.
    const struct {
        const char* table;
        int oldFields;
        QStringList (*migrate)(const QString&);
        bool SchemaCheck::*migrated;
    } tables[] = {
        {"LogTab", 31, MigrateLogTable, &SchemaCheck::logMigrated},
        {"PNT_Beacon", 8, MigrateBeaconTable, &SchemaCheck::beaconMigrated},
    };
    for (const auto& t : tables) {
        DbConnection db;
        if (!db.open(connectionText)) {
            result.errors << db.lastError();
            return result;
        }
        QString error;
        const int fields = RowFieldCount(db, QString::fromLatin1(t.table), &error);
        if (fields < 0)
            result.errors << error;
        if (fields == t.oldFields) {
            // The check's own connection goes first: the migration changes the table.
            db.close();
            result.errors << t.migrate(migrationConnectionText);
            result.*t.migrated = true;
        }
    }
    {
        // Indexes only speed up reading; a read-only or busy file simply goes without them.
        DbConnection db;
        if (db.open(connectionText)) {
            static const char* const indexes[][2] = {
                {"logtab_band", "CREATE INDEX logtab_band ON logtab (Band COLLATE NOCASE, Date)"},
                {"logtab_grid", "CREATE INDEX logtab_grid ON logtab (Grid)"},
                {"logtab_date", "CREATE INDEX logtab_date ON logtab (Date)"},
            };
            QSqlQuery query(db.handle()->database());
            QStringList present;
            if (query.exec(QStringLiteral("SELECT name FROM sqlite_master WHERE type = 'index'")))
                while (query.next())
                    present << query.value(0).toString();
            query.finish();
            for (const auto& index : indexes)
                if (!present.contains(QLatin1String(index[0])) &&
                    !db.execute(QString::fromLatin1(index[1])))
                    qCDebug(lcDatabase, "No index %s: %s", index[0], qPrintable(db.lastError()));
        }
    }
    return result;
}
