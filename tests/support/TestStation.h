#pragma once

// What the program's main() makes for its windows, with the fake board unless another is given:
// the settings table, the program-wide values, the data folder's database and the clock.

#include "Clock.h"
#include "Database.h"
#include "FakeBoard.h"
#include "ProgramState.h"
#include "Recordset.h"
#include "Settings.h"
#include "StationContext.h"

struct TestStation {
    explicit TestStation(const QString& dataFolder = DataFolder(),
                         const QString& settingsPath = SettingsFilePath(),
                         StationBoard* other = nullptr)
        : settings(settingsPath), board(other ? other : &fake), database(dataFolder) {}
    SettingsStore settings;
    ProgramState state;
    FakeBoard fake;
    StationBoard* board;
    StationDatabase database;
    SystemClock clock;
    StationContext context() {
        return {settings, state, CreateSystemSerialPort, *board, database, clock};
    }
};

// The rows of a statement on the database a connection text names, each field as the program
// shows it (DbValueText). Empty, with error set, when the database or the statement fails.
inline QList<QStringList> StoredRows(const QString& connectionText, const QString& statement,
                                     const QVariantList& params = {}, QString* error = nullptr) {
    DbConnection db;
    Recordset rs;
    QList<QStringList> out;
    if (!db.open(connectionText) || !rs.open(statement, db, params)) {
        if (error)
            *error = db.isOpen() ? rs.lastError() : db.lastError();
        return out;
    }
    for (; !rs.eof(); rs.moveNext()) {
        QStringList fields;
        for (int i = 0; i < rs.fieldCount(); ++i)
            fields << DbValueText(rs.field(i));
        out << fields;
    }
    return out;
}
