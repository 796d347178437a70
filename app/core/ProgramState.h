#pragma once

// Values that several windows share for the whole run, held once. The settings dialog, the GPS
// window and the main window all read and write these; the main window writes them back into
// the settings at exit, so a change made anywhere during the run is what gets saved.

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
    QString DbConnectionText;
    bool GpsFix = false;
    // The Google Earth export's state: the squares' transparency as text and the two line
    // switches, taken from the settings at load and changed by the settings dialog.
    QString GeTransparency;
    bool GeBeaconLines = true;
    bool GeSquareLines = true;
    QString LineColour = QStringLiteral("#ff0000ff"); // the last KML line colour, kept for the next
};
