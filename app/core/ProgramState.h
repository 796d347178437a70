#pragma once

// Values that several windows share for the whole run.

#include <QString>

struct ProgramState {
    QString ownCallsign; // MyCallsign while the program runs
    QString ownLocator;  // MyGrid; the GPS window may replace it while it has a fix
    QString RigPort = QStringLiteral("Com1");
    qint64 RigFrequency = 0; // units of 10 Hz
    QString RigFreqText;
    QString BandPattern;
    QString SelectedBeacon;
    QString SpotLocator;
    QString SpotFrequency;
    QString LastLonLatText;
    QString HomeLonLatText;
    bool GpsFix = false;
};

ProgramState& Program();
