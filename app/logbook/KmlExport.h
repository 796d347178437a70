#pragma once

// The Google Earth exports: the beacon directory and the logbook's worked squares written as a
// KML 2.0 file ("earth.kml") for Google Earth to open. Plain functions: the caller shows the
// result's message and starts the viewer.
//
// The file is UTF-8 (no encoding declaration, which XML then reads as UTF-8), so callsigns and
// comments in any script are kept. Every text from the settings or the database is escaped for
// XML. The file is written under a temporary name in the same folder and renamed over the old
// one only when it is complete, so a failing export leaves the previous file as it was.

#include <QString>

struct KmlSettings {
    QString callsign;
    QString transparency; // GeTransparency: a decimal number, 0 to 255
    bool beaconLines = true;
    bool squareLines = true;
    QString homeLonLat; // HomeLonLatText
    // LineColour as the last export left it: a QSO whose propagation has no colour of its own
    // keeps the colour before it, across exports too.
    QString lineColour = QStringLiteral("#ff0000ff");
};

struct KmlResult {
    bool ok = false;    // the file was written
    bool empty = false; // nothing to export: "No lat/long coords where found."
    QString message;    // what to tell the user; empty when all went well
    QString path;       // the file written
    int placemarks = 0; // placemarks written for rows (the home placemark not counted)
    QString lineColour; // LineColour after a written file, for the next export
};

// The export file's name, in the folder the caller chooses.
inline constexpr char KmlFileName[] = "earth.kml";
// What an export with no rows reports.
inline constexpr char KmlNoCoordsMessage[] = "No lat/long coords where found.";

// "#" + the transparency in upper-case hexadecimal without leading zeros + tail: ("128",
// "00ffff") gives "#8000ffff", ("255", "0000ff") "#FF0000ff". A transparency that is no whole
// number from 0 to 255 counts as 128 (half transparent).
QString PolyColour(const QString& transparency, const QString& tail);

// The beacons of PNT_Beacon (those matching beaconFilter, a LIKE pattern on the name, when it is
// not empty) as placemarks with a line from home to each when s.beaconLines is set.
KmlResult ExportBeaconsKml(const QString& connectionText, const QString& beaconFilter,
                           const KmlSettings& s, const QString& path);

// The QSOs of logtab that have a grid, in grid order, on the band (every band for an empty
// pattern), coloured by QSL and joined to home by lines coloured by propagation when
// s.squareLines is set. With searchText not empty, the rows the logbook's search shows instead:
// the QSOs whose callsign (locator, with searchLocator) starts with it. The captions are the
// worked and confirmed square counts shown in the logbook, which the caller brings up to date
// before.
KmlResult ExportLogKml(const QString& connectionText, const QString& bandPattern,
                       const QString& searchText, bool searchLocator, const KmlSettings& s,
                       const QString& path, const QString& workedCaption,
                       const QString& confirmedCaption);
