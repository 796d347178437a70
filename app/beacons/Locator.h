#pragma once

// Maidenhead locator rules shared by the whole program: the validity check with its message,
// the conversion to the south-west corner of the named square, the position text, and the
// distance and heading on an ellipsoidal earth.

#include <QString>
#include <optional>

// The message every caller shows the user for a text that is not a locator.
inline constexpr char InvalidLocatorMessage[] = "Invalid Gridlocator:";

// True when text is a locator of 4, 6, 8 or 10 characters under the four patterns; the test is
// case-sensitive on character codes, and the subsquare positions admit every code from 'A' to
// 'x'. No message, no state.
bool MatchesLocatorPattern(const QString& text);

// The one validity check for a locator typed by the user: MatchesLocatorPattern. A caller
// that gets false shows InvalidLocatorMessage; the check itself shows nothing.
bool ValidateLocator(const QString& text);

struct LonLat {
    double lon = 0.0; // degrees, east positive
    double lat = 0.0; // degrees, north positive
};

// The south-west corner of the square a locator of 6, 8 or 10 characters names (upper-cased
// here). Odd lengths count as the even length below them; fewer than 6 characters name no
// position (nullopt): a 4-character locator must be completed first.
std::optional<LonLat> LocatorToLonLat(const QString& locator);

// A number in the program's default text form: shortest, at most 15 significant digits, no
// grouping, no exponent, with the given decimal separator.
QString PositionNumberText(double value, QChar decimalPoint = QLatin1Char('.'));

// The position text: longitude, a comma and latitude with "." as decimal separator, whatever
// the user's locale (built as the locale's numbers joined by ";", then "," -> "." and ";" -> ",").
QString LonLatText(const LonLat& position, QChar localeDecimalPoint = QLatin1Char('.'));

// Replaces the first occurrence of find and searches the new text again from its start, until
// find no longer occurs: ("abb", "ab", "a") gives "a". Where that would not end (a replacement
// that contains find, or text that keeps growing) every occurrence is replaced once, left to
// right, instead. An empty find changes nothing.
QString ReplaceAll(const QString& text, const QString& find, const QString& replacement);

// Arc cosine that clamps its argument: x >= 1 becomes 1 (result 0), x <= -1 becomes -1
// (result pi).
double ArcCosClamped(double& x);

struct PathResult {
    double distanceKm = 0.0;   // D
    float heading = 0.0f;      // H, degrees; 0 for coincident points and paths over 20003.5 km
    float reverse = 180.0f;    // Hr, degrees
    double centralAngle = 0.0; // sigma, radians
};

// Distance and beam heading from home to target on the ellipsoid (mean radius along the path
// by the midpoint rule over four steps, with the long-path correction).
PathResult ComputePath(const LonLat& home, const LonLat& target);

// A locator as the path computation takes it: upper case, and "HH" appended to 4 characters.
QString CompletedLocator(const QString& locator);
