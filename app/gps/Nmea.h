#pragma once

// NMEA 0183 as the GPS window reads it: the shared field routines, the four sentence parsers
// (RMC, GGA, GSA, GSV), the receive-text handler that cuts sentences out of the received bytes,
// the 10-character locator of a position and the fix rule. No widgets, no ports: the window and
// the gpsd client feed it, tests drive it directly.

#include <QByteArray>
#include <QString>
#include <QStringList>
#include <array>

// The exclusive-or of the character codes of all characters of text.
int NmeaChecksum(const QString& text);
// The value of text read as hexadecimal; -1 when it is empty or not hexadecimal, so a missing or
// garbled checksum never matches.
int HexValue(const QString& text);
// Splits text at delimiter; empty fields are dropped, so the next non-empty field takes the
// index. Element 0 of the list is field 1. Text without any delimiter gives one element.
QStringList SplitFields(const QString& text, QChar delimiter);
// The nearest value with the given number of decimals (-28 to 28), halves away from zero, taken
// on the value's shortest decimal form so that 2.675 rounds to 2.68. Not-finite values are
// returned as they are.
double RoundTo(double value, int digits);
// A latitude or longitude field (ddmm.mmmm or dddmm.mmmm) in unsigned degrees, rounded to 8
// decimals. False for a field that is no coordinate.
bool CoordinateValue(const QString& field, double* degrees);

struct RmcResult {
    QString utcTime; // hh:mm:ss
    bool valid = false;
    double latitude = 0.0; // unsigned degrees
    QString latitudeHemisphere;
    double longitude = 0.0;
    QString longitudeHemisphere;
    bool hasPosition = false; // the last accepted sentence carried a position
    double speed = 0.0;       // as shown: the knots field times 0.54
    double course = 0.0;
    QString date; // dd.mm.yy
    double magneticVariation = 0.0;
    bool checksumOk = false;
};

struct GgaResult {
    QString utcTime;
    double latitude = 0.0;
    QString latitudeHemisphere;
    double longitude = 0.0;
    QString longitudeHemisphere;
    bool hasPosition = false;
    QString quality; // "no fix", "GPS fix", "DGPS fix", "guessed", "unknown"
    qint16 satellites = 0;
    double hdop = 0.0;
    double altitude = 0.0;
    QString altitudeUnit;
    double geoidSeparation = 0.0;
    QString geoidUnit;
    bool checksumOk = false;
};

struct GsaResult {
    bool autoSelection = false;
    QString mode; // "3D-Fix", "2D-Fix", "No-Fix", "unknown"
    std::array<QString, 12> satellites;
    double pdop = 0.0;
    double hdop = 0.0;
    double vdop = 0.0;
    bool checksumOk = false;
};

struct GsvResult {
    qint16 messageCount = 0;
    qint16 messageNumber = 0;
    qint16 satellitesInView = 0;
    // Satellites 1 to 4 of the message at indexes 0 to 3; entries past satellitesInMessage are 0.
    std::array<qint16, 4> satellite{};
    std::array<qint16, 4> elevation{};
    std::array<qint16, 4> azimuth{};
    std::array<qint16, 4> snr{};
    int satellitesInMessage = 0;
    bool checksumOk = false;
};

// Each parser takes one sentence (without CR LF). A sentence of another type changes nothing; a
// wrong or missing checksum sets checksumOk false and changes nothing else; a sentence whose
// fields cannot be read (too few, a number beyond its range, a position off the earth) changes
// nothing. True when the sentence was accepted and the results replaced.
bool ParseRmc(const QString& sentence, RmcResult& result);
bool ParseGga(const QString& sentence, GgaResult& result);
bool ParseGsa(const QString& sentence, GsaResult& result);
bool ParseGsv(const QString& sentence, GsvResult& result);

// The 10-character locator of a position in signed degrees (south and west negative). The poles
// and the 180th meridian fall into the last square instead of a letter beyond "R".
QString LocatorFromPosition(double latitude, double longitude);

// Everything the window shows, whichever source filled it.
struct GpsState {
    RmcResult rmc;
    GgaResult gga;
    GsaResult gsa;
    GsvResult gsv;
    // The position of the sentence accepted last (RMC or GGA), unsigned with hemispheres.
    double latitude = 0.0;
    QString latitudeHemisphere;
    double longitude = 0.0;
    QString longitudeHemisphere;
    bool hasPosition = false;

    double signedLatitude() const;
    double signedLongitude() const;
};

// The locator display and the fix: what Grid shows, in which colour, and whether the locator
// becomes the station's own locator.
struct FixView {
    QString gridText; // the locator, or "GPS NO FIX"
    bool red = false; // "2D-Fix"
    bool fix = false; // "2D-Fix" or "3D-Fix" with a received position
    QString locator;  // the locator of the stored position
};
FixView EvaluateFix(const GpsState& state);

// The receive text of the serial receiver: chunks are appended, complete "$GPRMC", "$GPGGA",
// "$GPGSA" and "$GPGSV" sentences (ended by CR LF) are parsed in the order they arrived and cut
// out; a sentence whose CR LF has not come yet waits. The text never holds more than
// MaxPendingText characters: a stream without CR LF (noise, a wrong speed) loses its oldest part.
class NmeaReceiver {
public:
    static constexpr qsizetype MaxPendingText = 4096;

    struct Handled {
        bool rmc = false;
        bool gga = false;
        bool gsa = false;
        bool gsv = false;
        QStringList log; // lines for the log box, each ending in CR LF
    };

    // Takes the bytes as characters 0-255.
    Handled receive(const QByteArray& chunk);

    const GpsState& state() const { return m_state; }
    QString pendingText() const { return m_text; }
    qint64 droppedCharacters() const { return m_dropped; }
    void clear() { m_text.clear(); }

private:
    void handle(const QString& sentence, Handled& out);

    GpsState m_state;
    QString m_text;
    qint64 m_dropped = 0;
};

// The log lines of an accepted GSV sentence, one per satellite it carries.
QStringList GsvLogLines(const GsvResult& gsv);
