#include "KmlExport.h"

#include "Database.h"
#include "LogDatabase.h"
#include "Recordset.h"

#include <QSaveFile>

namespace {

const QString kCrLf = QStringLiteral("\r\n");
const QString kYellowTail = QStringLiteral("00ffff");
const QString kRedTail = QStringLiteral("0000ff");
const QString kRed = QStringLiteral("#ff0000ff");
// Every failure of an export is reported with this number and the failure's own description.
constexpr int kErrorNumber = 0;

// Text escaped for XML content. Characters XML 1.0 cannot hold at all (control characters
// other than tab and line breaks, unpaired surrogates) are dropped: one stray byte in a
// comment would otherwise make the whole file unreadable for Google Earth.
QString xml(const QString& text) {
    QString out;
    out.reserve(text.size());
    for (qsizetype i = 0; i < text.size(); ++i) {
        const QChar c = text.at(i);
        const char16_t u = c.unicode();
        if (c.isHighSurrogate() && i + 1 < text.size() && text.at(i + 1).isLowSurrogate()) {
            out += c;
            out += text.at(++i);
            continue;
        }
        if (c.isSurrogate() || u == 0xFFFE || u == 0xFFFF ||
            (u < 0x20 && u != '\t' && u != '\n' && u != '\r'))
            continue;
        switch (u) {
        case '&':
            out += QStringLiteral("&amp;");
            break;
        case '<':
            out += QStringLiteral("&lt;");
            break;
        case '>':
            out += QStringLiteral("&gt;");
            break;
        case '"':
            out += QStringLiteral("&quot;");
            break;
        case '\'':
            out += QStringLiteral("&apos;");
            break;
        default:
            out += c;
        }
    }
    return out;
}

QString fieldXml(const Recordset& rs, const QString& name) {
    return xml(DbValueText(rs.field(name)));
}

QString errorMessage(const QString& procedure, const QString& description) {
    return QStringLiteral("Error %1 (%2) in procedure %3")
        .arg(QString::number(kErrorNumber), description, procedure);
}

// A beacon's name without its suffix: "Q0BCN/B-2" and "Q0BCN/B" both become "Q0BCN".
QString shortBeaconName(const QString& name) {
    if (name.size() < 2)
        return name;
    const QChar mark = name.at(name.size() - 2);
    if (mark == QLatin1Char('-'))
        return name.left(qMax<qsizetype>(0, name.size() - 4));
    if (mark == QLatin1Char('/'))
        return name.left(name.size() - 2);
    return name;
}

QString head(const KmlSettings& s) {
    return QStringLiteral("<kml xmlns=\"http://earth.google.com/kml/2.0\">") + kCrLf +
           QStringLiteral("<Document>") + kCrLf + QStringLiteral("<Placemark><name> ") +
           xml(s.callsign) + QStringLiteral("</name><Point><coordinates>") + xml(s.homeLonLat) +
           QStringLiteral("</coordinates></Point></Placemark>") + kCrLf;
}

QString tail() {
    return QStringLiteral("</Document></kml>") + kCrLf;
}

// The text of the file, collected whole and written in one go at the end.
class KmlFile {
public:
    void put(const QString& text) { m_text += text; }
    // Writes the text to path through a temporary file renamed into place.
    bool save(const QString& path, QString* error) const {
        QSaveFile file(path);
        if (!file.open(QIODevice::WriteOnly)) {
            *error = QStringLiteral("Cannot write %1: %2").arg(path, file.errorString());
            return false;
        }
        const QByteArray bytes = m_text.toUtf8();
        if (file.write(bytes) != bytes.size() || !file.commit()) {
            *error = QStringLiteral("Cannot write %1: %2").arg(path, file.errorString());
            return false;
        }
        return true;
    }

private:
    QString m_text;
};

KmlResult failed(const QString& procedure, const QString& description) {
    KmlResult result;
    result.message = errorMessage(procedure, description);
    return result;
}

// Ends the file with the common tail and writes it.
KmlResult finish(KmlFile& file, const QString& path, const QString& procedure, int placemarks,
                 const QString& lineColour) {
    file.put(tail());
    QString error;
    if (!file.save(path, &error))
        return failed(procedure, error);
    KmlResult result;
    result.ok = true;
    result.path = path;
    result.placemarks = placemarks;
    result.lineColour = lineColour;
    return result;
}

KmlResult emptyResult() {
    KmlResult result;
    result.empty = true;
    result.message = QString::fromLatin1(KmlNoCoordsMessage);
    return result;
}

// The colour of the line to a QSO by its propagation; other values keep the colour before.
QString lineColourFor(const QString& prop, const QString& previous) {
    static const struct {
        const char* prop;
        const char* colour;
    } table[] = {{"Rs", "#ffff0000"},
                 {"Tr", "#ff0000ff"},
                 {"Es", "#ff00ff00"},
                 {"Au", "#ffff0080"},
                 {"Ms", "#ff707070"}};
    for (const auto& row : table)
        if (prop == QLatin1String(row.prop))
            return QString::fromLatin1(row.colour);
    return previous;
}

} // namespace

QString PolyColour(const QString& transparency, const QString& tail) {
    bool ok = false;
    int alpha = transparency.trimmed().toInt(&ok, 10);
    if (!ok || alpha < 0 || alpha > 255)
        alpha = 128;
    return QLatin1Char('#') + QString::number(alpha, 16).toUpper() + tail;
}

// The line from home to a station; the beacon export writes a blank before the closing colour
// tag, the log export none, so the colour text comes with whatever follows it.
static QString lineString(const QString& home, const QString& gridXY, const QString& colour) {
    return QStringLiteral("<Placemark> <LineString>  <coordinates>") + xml(home) +
           QStringLiteral(" ") + gridXY +
           QStringLiteral("</coordinates> </LineString><Style><LineStyle><color>") + colour +
           QStringLiteral("</color><width>2</width></LineStyle></Style></Placemark>");
}

KmlResult ExportBeaconsKml(const QString& connectionText, const QString& beaconFilter,
                           const KmlSettings& s, const QString& path) {
    const QString procedure = QStringLiteral("GeB_Click of Formular form1");
    DbConnection db;
    if (!db.open(connectionText))
        return failed(procedure, db.lastError());
    Recordset rs;
    if (!rs.open(QStringLiteral("select *  from PNT_Beacon"), db))
        return failed(procedure, rs.lastError());
    if (rs.eof() && rs.bof())
        return emptyResult();

    const QString docName = xml(s.callsign + QStringLiteral(" ") + QStringLiteral(" BeaconsAFB"));
    rs.moveFirst();
    const QString filter = beaconFilter.isEmpty() ? QString()
                                                  : QStringLiteral(" beacon like '") +
                                                        beaconFilter + QStringLiteral("'");
    if (!rs.setFilter(filter))
        return failed(procedure, rs.lastError());

    KmlFile file;
    file.put(head(s));
    const QString polyColour = PolyColour(s.transparency, kYellowTail);
    const QString lineColour = kRed;
    int placemarks = 0;
    for (rs.moveFirst(); !rs.eof();) {
        const QString gridXY = fieldXml(rs, QStringLiteral("GEgridXY"));
        file.put(
            QStringLiteral("<name>") + docName + QStringLiteral("</name><Placemark><name>") +
            xml(shortBeaconName(DbValueText(rs.field(QStringLiteral("Beacon"))))) +
            QStringLiteral("</name><description>") + fieldXml(rs, QStringLiteral("GEdata")) +
            QStringLiteral("</description><Style><PolyStyle><color>") + polyColour +
            QStringLiteral("</color></PolyStyle></Style> <MultiGeometry><Point><coordinates>") +
            gridXY +
            QStringLiteral("</coordinates></Point><Polygon><altitudeMode>relativeToGround"
                           "</altitudeMode></Polygon> </MultiGeometry> </Placemark>"));
        ++placemarks;
        if (s.beaconLines)
            file.put(lineString(s.homeLonLat, gridXY, lineColour + QStringLiteral(" ")));
        if (!rs.moveNext() && !rs.eof())
            return failed(procedure, rs.lastError());
    }
    rs.close();
    return finish(file, path, procedure, placemarks, lineColour);
}

KmlResult ExportLogKml(const QString& connectionText, const QString& bandPattern,
                       const QString& searchText, bool searchLocator, const KmlSettings& s,
                       const QString& path, const QString& workedCaption,
                       const QString& confirmedCaption) {
    const QString procedure = QStringLiteral("GoogleEarth_Click of Formular Logbook");
    DbConnection db;
    if (!db.open(connectionText))
        return failed(procedure, db.lastError());
    Recordset rs;
    // With a search, the rows the search shows.
    const LogSearch search = LogSearchStatement(searchText, searchLocator);
    if (!rs.open(search.statement, db, search.params))
        return failed(procedure, rs.lastError());
    const QString filter = bandPattern.isEmpty()
                               ? QString()
                               : QStringLiteral(" band like '") + bandPattern + QStringLiteral("'");
    if (!rs.setFilter(filter))
        return failed(procedure, rs.lastError());
    if (rs.eof() && rs.bof())
        return emptyResult();

    const QString bandLabel = bandPattern == QStringLiteral("34%")
                                  ? QStringLiteral("3400")
                                  : bandPattern.left(qMax<qsizetype>(0, bandPattern.size() - 1));
    const QString docName =
        xml(s.callsign + QStringLiteral(" ") + bandLabel + QStringLiteral(" MHz wkd/cfd ") +
            workedCaption + QStringLiteral("/") + confirmedCaption);

    KmlFile file;
    file.put(head(s));
    // A first QSO whose propagation is not in the table keeps the colour the last export left
    // (the opaque red of the beacon lines before any), never an empty one.
    QString lineColour = s.lineColour.isEmpty() ? QString(kRed) : s.lineColour;
    int placemarks = 0;
    for (rs.moveFirst(); !rs.eof();) {
        const QString qsl = DbValueText(rs.field(QStringLiteral("QSL")));
        const QString polyColour =
            PolyColour(s.transparency, qsl == QStringLiteral("D") ? kRedTail : kYellowTail);
        const QString gridXY = fieldXml(rs, QStringLiteral("GEgridXY"));
        file.put(
            QStringLiteral("<name>") + docName + QStringLiteral("</name><Placemark><name>") +
            fieldXml(rs, QStringLiteral("Grid")) + QStringLiteral("</name><description>") +
            fieldXml(rs, QStringLiteral("GEdata")) +
            QStringLiteral("</description><Style><PolyStyle><color>") + polyColour +
            QStringLiteral("</color></PolyStyle></Style> <MultiGeometry><Point><coordinates>") +
            gridXY +
            QStringLiteral("</coordinates></Point><Polygon><altitudeMode>relativeToGround"
                           "</altitudeMode><outerBoundaryIs><LinearRing><coordinates>") +
            fieldXml(rs, QStringLiteral("GEpoly")) +
            QStringLiteral("</coordinates></LinearRing></outerBoundaryIs></Polygon>"
                           "</MultiGeometry></Placemark>") +
            kCrLf);
        ++placemarks;
        lineColour = lineColourFor(DbValueText(rs.field(QStringLiteral("ProP"))), lineColour);
        if (s.squareLines)
            file.put(lineString(s.homeLonLat, gridXY, lineColour));
        if (!rs.moveNext() && !rs.eof())
            return failed(procedure, rs.lastError());
    }
    rs.close();
    return finish(file, path, procedure, placemarks, lineColour);
}
