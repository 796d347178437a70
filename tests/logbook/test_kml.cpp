// The Google Earth exports against a real SQLite log on disk: the beacon and logbook files byte
// for byte, their colours, names and lines, text that XML must escape, and the old file kept
// when there is nothing to export or the folder cannot be written.

#include "Database.h"
#include "KmlExport.h"
#include "TestSupport.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QXmlStreamReader>
#include <gtest/gtest.h>

#include <sys/stat.h>

namespace {

const QString kCrLf = QStringLiteral("\r\n");
const QString kHome = QStringLiteral("13.3333333333333,52.5");
const QString kOdd = QStringLiteral("Q1<&\"'\u6F22>");

QByteArray readAll(const QString& path) {
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray("<missing>");
}

void writeFile(const QString& path, const QByteArray& bytes) {
    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.write(bytes);
}

// What a KML reader finds in the file.
struct KmlCounts {
    bool ok = false;
    QString error;
    int placemarks = 0, points = 0, polygons = 0, lines = 0;
    QStringList names;        // every <name> text, decoded
    QStringList descriptions; // every <description> text, decoded
};

KmlCounts parse(const QString& path) {
    KmlCounts out;
    QXmlStreamReader reader(readAll(path));
    bool sawKml = false;
    while (!reader.atEnd()) {
        if (!reader.readNext() || !reader.isStartElement())
            continue;
        const auto name = reader.name();
        if (name == QLatin1String("kml"))
            sawKml = reader.namespaceUri() == QLatin1String("http://earth.google.com/kml/2.0");
        else if (name == QLatin1String("Placemark"))
            ++out.placemarks;
        else if (name == QLatin1String("Point"))
            ++out.points;
        else if (name == QLatin1String("Polygon"))
            ++out.polygons;
        else if (name == QLatin1String("LineString"))
            ++out.lines;
        else if (name == QLatin1String("name"))
            out.names << reader.readElementText();
        else if (name == QLatin1String("description"))
            out.descriptions << reader.readElementText();
    }
    out.error = reader.errorString();
    out.ok = !reader.hasError() && sawKml;
    return out;
}

// xmllint's verdict on the file; empty when it finds it well-formed or is not installed.
QString xmllint(const QString& path) {
    if (!QFileInfo::exists(QStringLiteral("/usr/bin/xmllint"))) {
        std::printf("xmllint not installed: well-formedness checked by QXmlStreamReader only\n");
        return {};
    }
    QProcess lint;
    lint.start(QStringLiteral("/usr/bin/xmllint"), {QStringLiteral("--noout"), path});
    if (!lint.waitForFinished(20000))
        return QStringLiteral("xmllint did not finish");
    return lint.exitCode() == 0 ? QString()
                                : QString::fromUtf8(lint.readAllStandardError()) + " (exit " +
                                      QString::number(lint.exitCode()) + ")";
}

QString head(const QString& callsign) {
    return QStringLiteral("<kml xmlns=\"http://earth.google.com/kml/2.0\">") + kCrLf +
           "<Document>" + kCrLf + "<Placemark><name> " + callsign + "</name><Point><coordinates>" +
           kHome + "</coordinates></Point></Placemark>" + kCrLf;
}

class KmlExportTest : public ::testing::Test {
protected:
    void SetUp() override {
        EnsureApplication();
        StationDatabase database(dir.path());
        QString error;
        ASSERT_TRUE(database.ensure(&error)) << error.toStdString();
        text = database.connectionText();
        path = dir.file(QString::fromLatin1(KmlFileName));
        DbConnection db;
        ASSERT_TRUE(db.open(text));
        ASSERT_TRUE(db.execute(
            QStringLiteral("INSERT INTO PNT_Beacon (beacon, Locator, GEdata, GEgridXY) VALUES "
                           "('Q0BCN/B-2','JO62','Beacon one','12.5,52.25'),"
                           "('Q0BCN/B','JO61','Beacon two','12.5,51.25'),"
                           "('Q1<&\"''\u6F22>','IO91','Q1<&\"''\u6F22> 10 GHz','-1.5,51.5')")));
        ASSERT_TRUE(db.execute(QStringLiteral(
            "INSERT INTO logtab (Callsign, Band, Grid, QSL, Prop, GEdata, GEgridXY, GEpoly) VALUES "
            "('DL1AAA','3400100','JO62','D','Rs','Log: DL1AAA','13.0,52.5',''),"
            "('DL2BBB','3400200','JO61','Q','Xx','Log: DL2BBB','13.0,51.5','12.0,51.0,2000 "
            "14.0,51.0,2000 '),"
            "('Q1<&\"''\u6F22>','10368000','IO91','N','Es','Log: Q1<&\"''\u6F22> rain & "
            "<snow>','-1.0,51.5','-2.0,51.0,2000 '),"
            "('DL3CCC','3400300','','Q','Tr','no grid','','')")));
        settings.callsign = QStringLiteral("Q0ABC");
        settings.transparency = QStringLiteral("255");
        settings.homeLonLat = kHome;
    }

    ScratchDir dir;
    QString text, path;
    KmlSettings settings;
};

TEST_F(KmlExportTest, BeaconsAndLogWrittenAsWellFormedKml) {
    // Colours: upper-case hexadecimal alpha without leading zeros, then the tail.
    EXPECT_EQ(PolyColour(QStringLiteral("128"), QStringLiteral("00ffff")),
              QStringLiteral("#8000ffff"));
    EXPECT_EQ(PolyColour(QStringLiteral("255"), QStringLiteral("0000ff")),
              QStringLiteral("#FF0000ff"));
    EXPECT_EQ(PolyColour(QStringLiteral("15"), QStringLiteral("00ffff")),
              QStringLiteral("#F00ffff"));
    EXPECT_EQ(PolyColour(QStringLiteral("half"), QStringLiteral("00ffff")),
              QStringLiteral("#8000ffff"));
    EXPECT_EQ(PolyColour(QStringLiteral("999"), QStringLiteral("00ffff")),
              QStringLiteral("#8000ffff"));

    // Beacons without lines: one placemark each besides home, suffixes dropped, odd text escaped.
    settings.beaconLines = false;
    KmlResult r = ExportBeaconsKml(text, QString(), settings, path);
    ASSERT_TRUE(r.ok) << r.message.toStdString();
    EXPECT_TRUE(r.message.isEmpty());
    EXPECT_EQ(r.path, path);
    EXPECT_EQ(r.placemarks, 3);
    EXPECT_EQ(xmllint(path), QString());
    KmlCounts k = parse(path);
    ASSERT_TRUE(k.ok) << k.error.toStdString();
    EXPECT_EQ(k.placemarks, 4);
    EXPECT_EQ(k.points, 4);
    EXPECT_EQ(k.polygons, 3);
    EXPECT_EQ(k.lines, 0);
    const QString beaconDoc = QStringLiteral("Q0ABC  BeaconsAFB");
    EXPECT_EQ(k.names, (QStringList{QStringLiteral(" Q0ABC"), beaconDoc, "Q0BCN", beaconDoc,
                                    "Q0BCN", beaconDoc, kOdd}));
    EXPECT_EQ(k.descriptions.value(2), kOdd + QStringLiteral(" 10 GHz"));
    EXPECT_TRUE(readAll(path).contains("<name>Q1&lt;&amp;&quot;&apos;\xE6\xBC\xA2&gt;</name>"));

    // With lines, filtered to one beacon: the exact bytes.
    settings.beaconLines = true;
    r = ExportBeaconsKml(text, QStringLiteral("Q0BCN/B"), settings, path);
    ASSERT_TRUE(r.ok) << r.message.toStdString();
    EXPECT_EQ(r.placemarks, 1);
    const QString beaconFile =
        head("Q0ABC") + "<name>" + beaconDoc + "</name><Placemark><name>Q0BCN</name>" +
        "<description>Beacon two</description><Style><PolyStyle><color>#FF00ffff</color>" +
        "</PolyStyle></Style> <MultiGeometry><Point><coordinates>12.5,51.25</coordinates>" +
        "</Point><Polygon><altitudeMode>relativeToGround</altitudeMode></Polygon> " +
        "</MultiGeometry> </Placemark>" + "<Placemark> <LineString>  <coordinates>" + kHome +
        " 12.5,51.25</coordinates> </LineString><Style><LineStyle><color>#ff0000ff </color>" +
        "<width>2</width></LineStyle></Style></Placemark>" + "</Document></kml>" + kCrLf;
    EXPECT_EQ(readAll(path), beaconFile.toUtf8());
    r = ExportBeaconsKml(text, QStringLiteral("Q0BCN%"), settings, path);
    EXPECT_EQ(parse(path).lines, 2);

    // The 3.4 GHz band: grid order, QSL "D" red, Prop colours, an empty outline; exact bytes.
    r = ExportLogKml(text, QStringLiteral("34%"), QString(), false, settings, path,
                     QStringLiteral("2"), QStringLiteral("1"));
    ASSERT_TRUE(r.ok) << r.message.toStdString();
    EXPECT_EQ(r.placemarks, 2);
    const QString logDoc = QStringLiteral("Q0ABC 3400 MHz wkd/cfd 2/1");
    auto row = [&](const QString& grid, const QString& data, const QString& colour,
                   const QString& xy, const QString& poly, const QString& line) {
        return "<name>" + logDoc + "</name><Placemark><name>" + grid + "</name><description>" +
               data + "</description><Style><PolyStyle><color>" + colour +
               "</color></PolyStyle></Style> <MultiGeometry><Point><coordinates>" + xy +
               "</coordinates></Point><Polygon><altitudeMode>relativeToGround</altitudeMode>" +
               "<outerBoundaryIs><LinearRing><coordinates>" + poly +
               "</coordinates></LinearRing></outerBoundaryIs></Polygon></MultiGeometry>" +
               "</Placemark>" + kCrLf + "<Placemark> <LineString>  <coordinates>" + kHome + " " +
               xy + "</coordinates> </LineString><Style><LineStyle><color>" + line +
               "</color><width>2</width></LineStyle></Style></Placemark>";
    };
    const QString logFile = head("Q0ABC") +
                            row("JO61", "Log: DL2BBB", "#FF00ffff", "13.0,51.5",
                                "12.0,51.0,2000 14.0,51.0,2000 ", "#ff0000ff") +
                            row("JO62", "Log: DL1AAA", "#FF0000ff", "13.0,52.5", "", "#ffff0000") +
                            "</Document></kml>" + kCrLf;
    EXPECT_EQ(readAll(path), logFile.toUtf8());
    // The last line colour carries into the next export for a propagation without a colour.
    EXPECT_EQ(r.lineColour, QStringLiteral("#ffff0000"));
    settings.lineColour = r.lineColour;
    r = ExportLogKml(text, QStringLiteral("34%"), QString(), false, settings, path, "2", "1");
    EXPECT_TRUE(readAll(path).contains("13.0,51.5</coordinates> </LineString><Style><LineStyle>"
                                       "<color>#ffff0000</color>"));

    // Every band, an odd callsign in the settings too: still well-formed, text kept.
    settings.callsign = kOdd;
    settings.transparency = QStringLiteral("128");
    settings.squareLines = false;
    r = ExportLogKml(text, QString(), QString(), false, settings, path, QStringLiteral("3"),
                     QStringLiteral("1"));
    ASSERT_TRUE(r.ok) << r.message.toStdString();
    EXPECT_EQ(r.placemarks, 3);
    EXPECT_EQ(xmllint(path), QString());
    k = parse(path);
    ASSERT_TRUE(k.ok) << k.error.toStdString();
    EXPECT_EQ(k.placemarks, 4);
    EXPECT_EQ(k.polygons, 3);
    EXPECT_EQ(k.lines, 0);
    EXPECT_EQ(k.names.value(0), " " + kOdd);
    EXPECT_EQ(k.names.value(1), kOdd + QStringLiteral("  MHz wkd/cfd 3/1"));
    EXPECT_TRUE(k.descriptions.contains("Log: " + kOdd + " rain & <snow>"));
    EXPECT_TRUE(readAll(path).contains("#8000ffff"));

    // A search exports the rows it shows, gridless ones included; its text is only bound.
    r = ExportLogKml(text, QString(), QStringLiteral("DL"), false, settings, path, "3", "1");
    EXPECT_EQ(r.placemarks, 3);
    r = ExportLogKml(text, QString(), QStringLiteral("JO62"), true, settings, path, "3", "1");
    EXPECT_EQ(r.placemarks, 1);
    EXPECT_EQ(parse(path).names.value(2), QStringLiteral("JO62"));
    r = ExportLogKml(text, QStringLiteral("34%"), QStringLiteral("x' or 1=1 --"), false, settings,
                     path, "3", "1");
    EXPECT_TRUE(r.empty);
}

TEST_F(KmlExportTest, NothingToExportOrNoWayToWriteKeepsTheOldFile) {
    const QByteArray old("old earth file");
    writeFile(path, old);

    KmlResult r = ExportLogKml(text, QStringLiteral("1296%"), QString(), false, settings, path,
                               QStringLiteral("0"), QStringLiteral("0"));
    EXPECT_FALSE(r.ok);
    EXPECT_TRUE(r.empty);
    EXPECT_EQ(r.message, QStringLiteral("No lat/long coords where found."));
    EXPECT_EQ(readAll(path), old);

    {
        DbConnection db;
        ASSERT_TRUE(db.open(text));
        ASSERT_TRUE(db.execute(QStringLiteral("DELETE FROM PNT_Beacon")));
    }
    r = ExportBeaconsKml(text, QString(), settings, path);
    EXPECT_TRUE(r.empty);
    EXPECT_EQ(r.message, QStringLiteral("No lat/long coords where found."));
    EXPECT_EQ(readAll(path), old);

    // A missing database is reported in the beacon export's own form.
    r = ExportBeaconsKml(BuildConnectionText(dir.file("nowhere")), QString(), settings, path);
    EXPECT_FALSE(r.ok);
    EXPECT_FALSE(r.empty);
    EXPECT_TRUE(r.message.startsWith(QStringLiteral("Error 0 (")));
    EXPECT_TRUE(r.message.endsWith(QStringLiteral(") in procedure GeB_Click of Formular form1")));
    EXPECT_EQ(readAll(path), old);

    // A folder the user may not write: a clear message, the old file as it was.
    const QString locked = dir.file("locked");
    ASSERT_TRUE(QDir().mkpath(locked));
    const QString lockedPath = QDir(locked).filePath(QString::fromLatin1(KmlFileName));
    writeFile(lockedPath, old);
    ASSERT_EQ(::chmod(dir.path().toLocal8Bit().constData(), 0755), 0);
    ASSERT_EQ(::chmod((dir.path() + "/backup.mdb").toLocal8Bit().constData(), 0644), 0);
    ASSERT_EQ(::chmod(locked.toLocal8Bit().constData(), 0555), 0);
    ASSERT_EQ(::chmod(lockedPath.toLocal8Bit().constData(), 0644), 0);
    const bool refused = RunUnprivileged([&] {
        const KmlResult w = ExportLogKml(text, QString(), QString(), false, settings, lockedPath,
                                         QStringLiteral("3"), QStringLiteral("1"));
        if (w.ok || w.empty || !w.message.startsWith(QStringLiteral("Error 0 (Cannot write ")))
            std::fprintf(stderr, "unexpected: %s\n", qPrintable(w.message));
        return !w.ok && !w.empty && w.message.startsWith(QStringLiteral("Error 0 (Cannot write "));
    });
    EXPECT_TRUE(refused);
    EXPECT_EQ(readAll(lockedPath), old);
    ::chmod(locked.toLocal8Bit().constData(), 0755);
}

} // namespace
