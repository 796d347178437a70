// The NMEA routines, the four parsers, the receive text and the locator and fix rule, on the
// cases receivers really produce and on the ones they should not.

#include "GpsdClient.h"
#include "Nmea.h"

#include <QString>
#include <gtest/gtest.h>
#include <limits>

namespace {

// "$" + body + "*" + the two hex digits of its checksum.
QString Sentence(const QString& body) {
    return QLatin1Char('$') + body + QLatin1Char('*') +
           QStringLiteral("%1").arg(NmeaChecksum(body), 2, 16, QLatin1Char('0')).toUpper();
}

QByteArray Line(const QString& body) {
    return (Sentence(body) + QStringLiteral("\r\n")).toLatin1();
}

} // namespace

TEST(Nmea, FieldRoutines) {
    // A real receiver's sentence and its transmitted checksum.
    EXPECT_EQ(NmeaChecksum(QStringLiteral("GPGSA,A,3,28,18,27,19,08,09,10,15,,,,,1.7,1.1,1.3")),
              0x3C);
    EXPECT_EQ(HexValue(QStringLiteral("3C")), 0x3C);
    EXPECT_EQ(HexValue(QStringLiteral("3c")), 0x3C);
    EXPECT_EQ(HexValue(QString()), -1);
    EXPECT_EQ(HexValue(QStringLiteral("ZZ")), -1);
    EXPECT_EQ(SplitFields(QStringLiteral("a,,b,c"), QLatin1Char(',')),
              (QStringList{"a", "b", "c"}));
    EXPECT_EQ(SplitFields(QStringLiteral("abc"), QLatin1Char(',')), (QStringList{"abc"}));
    EXPECT_DOUBLE_EQ(RoundTo(2.675, 2), 2.68);
    EXPECT_DOUBLE_EQ(RoundTo(-2.5, 0), -3.0);
    EXPECT_DOUBLE_EQ(RoundTo(0.125, 2), 0.13);
    EXPECT_DOUBLE_EQ(RoundTo(9.995, 2), 10.0);
    EXPECT_DOUBLE_EQ(RoundTo(1250, -2), 1300);
    EXPECT_DOUBLE_EQ(RoundTo(1.5, 30), 1.5);
    EXPECT_TRUE(std::isnan(RoundTo(std::numeric_limits<double>::quiet_NaN(), 2)));
    double d = 0;
    ASSERT_TRUE(CoordinateValue(QStringLiteral("5405.6081"), &d));
    EXPECT_DOUBLE_EQ(d, RoundTo(54 + 5.6081 / 60, 8));
    ASSERT_TRUE(CoordinateValue(QStringLiteral("01049.4791"), &d));
    EXPECT_DOUBLE_EQ(d, 10.82465167);
    ASSERT_TRUE(CoordinateValue(QStringLiteral("4134.49821229"), &d));
    EXPECT_DOUBLE_EQ(d, 41.5749702);
    EXPECT_FALSE(CoordinateValue(QStringLiteral("1.5"), &d));
    EXPECT_FALSE(CoordinateValue(QStringLiteral("-5405.1"), &d));
}

TEST(Nmea, ParsersOnTheirEdgeCases) {
    GsaResult gsa;
    ASSERT_TRUE(ParseGsa(Sentence("GPGSA,A,3,04,05,,09,12,,,24,,,,,2.5,1.3,2.1"), gsa));
    EXPECT_TRUE(gsa.autoSelection);
    EXPECT_EQ(gsa.mode, "3D-Fix");
    const std::array<QString, 12> prn{"04", "05", "", "09", "12", "", "", "24", "", "", "", ""};
    EXPECT_EQ(gsa.satellites, prn);
    EXPECT_DOUBLE_EQ(gsa.pdop, 2.5);
    EXPECT_DOUBLE_EQ(gsa.hdop, 1.3);
    EXPECT_DOUBLE_EQ(gsa.vdop, 2.1);
    for (const char* m : {"2", "1", "9"}) {
        ASSERT_TRUE(
            ParseGsa(Sentence(QStringLiteral("GPGSA,M,%1,,,,,,,,,,,,,9.9,9.9,9.9").arg(m)), gsa));
    }
    EXPECT_EQ(gsa.mode, "unknown");
    EXPECT_FALSE(gsa.autoSelection);

    GgaResult gga;
    const QString gga6 = "GPGGA,104706.000,5405.6081,N,01049.4791,E,6,08,1.1,40.8,M,43.6,M,,0000";
    ASSERT_TRUE(ParseGga(Sentence(gga6), gga));
    EXPECT_EQ(gga.quality, "guessed");
    EXPECT_EQ(gga.utcTime, "10:47:06");
    EXPECT_EQ(gga.satellites, 8);
    EXPECT_EQ(gga.altitudeUnit, "m");
    EXPECT_DOUBLE_EQ(gga.geoidSeparation, 43.6);
    ASSERT_TRUE(ParseGga(Sentence(QString(gga6).replace(",E,6,", ",E,3,")), gga));
    EXPECT_EQ(gga.quality, "unknown");

    // A wrong checksum, a missing one, and another type change nothing but the flag.
    const GgaResult before = gga;
    EXPECT_FALSE(ParseGga(QString(Sentence(gga6)).replace("40.8", "99.9"), gga));
    EXPECT_FALSE(gga.checksumOk);
    EXPECT_EQ(gga.quality, before.quality);
    EXPECT_DOUBLE_EQ(gga.altitude, before.altitude);
    EXPECT_FALSE(ParseGga("$" + gga6, gga));
    gga.checksumOk = true;
    EXPECT_FALSE(ParseGga(Sentence("GPRMC,1,A"), gga));
    EXPECT_TRUE(gga.checksumOk);

    // Another talker passes the type test; huge, missing and not-a-number fields do no harm.
    RmcResult rmc;
    ASSERT_TRUE(ParseRmc(Sentence("GNRMC,132827.20,A,4134.49941239,N,09345.03495785,W,0.482,"
                                  "33.532,180320,11.5985,E,D"),
                         rmc));
    EXPECT_EQ(rmc.utcTime, "13:28:27");
    EXPECT_EQ(rmc.date, "18.03.20");
    EXPECT_TRUE(rmc.valid);
    EXPECT_EQ(rmc.longitudeHemisphere, "W");
    EXPECT_DOUBLE_EQ(rmc.speed, 0.482 * 0.54);
    const RmcResult good = rmc;
    EXPECT_FALSE(ParseRmc(Sentence("GPRMC,1,A,4134.4,N"), rmc));
    EXPECT_FALSE(ParseRmc(Sentence("GPRMC,1,A,9134.4,N,00000.0,E,1e999,0,010101,0,E"), rmc));
    EXPECT_FALSE(ParseRmc(Sentence("GPRMC,1,A,1.4,N,00000.0,E,0,0,010101,0,E"), rmc));
    EXPECT_DOUBLE_EQ(rmc.latitude, good.latitude);
    EXPECT_EQ(rmc.utcTime, good.utcTime);
    ASSERT_TRUE(ParseRmc(Sentence("GPRMC,,V,,,,,NAN,1E300,,,N"), rmc));
    EXPECT_FALSE(rmc.hasPosition);
    EXPECT_FALSE(rmc.valid);
    EXPECT_EQ(rmc.utcTime, "");
    EXPECT_DOUBLE_EQ(rmc.speed, 0.0);

    GsvResult gsv;
    ASSERT_TRUE(ParseGsv(Sentence("GPGSV,3,3,12,22,00,337,19,26,03,304,"), gsv));
    EXPECT_EQ(gsv.satellitesInMessage, 2);
    EXPECT_EQ(GsvLogLines(gsv), (QStringList{"[3] [3] [12] [22] [0] [337] [19]\r\n",
                                             "[3] [3] [12] [26] [3] [304] [0]\r\n"}));
    EXPECT_FALSE(ParseGsv(Sentence("GPGSV,3,3,99999,22,00,337,19"), gsv));
    EXPECT_EQ(gsv.satellitesInView, 12);
}

TEST(Nmea, LocatorAndFixRule) {
    EXPECT_EQ(LocatorFromPosition(0, 0), "JJ00AA00AA");
    EXPECT_TRUE(LocatorFromPosition(49.5, 10.5).startsWith("JN59"));
    EXPECT_TRUE(LocatorFromPosition(-10, -20).startsWith("II"));
    EXPECT_EQ(LocatorFromPosition(90, 180).left(2), "RR");
    EXPECT_EQ(LocatorFromPosition(-90, -180), "AA00AA00AA");

    GpsState s;
    s.gsa.mode = "3D-Fix";
    EXPECT_FALSE(EvaluateFix(s).fix) << "a fix without any position yet";
    EXPECT_EQ(EvaluateFix(s).gridText, "GPS NO FIX");
    s.latitude = 10;
    s.latitudeHemisphere = "S";
    s.longitude = 20;
    s.longitudeHemisphere = "W";
    s.hasPosition = true;
    EXPECT_TRUE(EvaluateFix(s).fix);
    EXPECT_FALSE(EvaluateFix(s).red);
    EXPECT_TRUE(EvaluateFix(s).gridText.startsWith("II"));
    s.gsa.mode = "2D-Fix";
    EXPECT_TRUE(EvaluateFix(s).fix);
    EXPECT_TRUE(EvaluateFix(s).red);
    EXPECT_EQ(EvaluateFix(s).gridText, EvaluateFix(s).locator);
    s.gsa.mode = "No-Fix";
    EXPECT_EQ(EvaluateFix(s).gridText, "GPS NO FIX");
}

TEST(Nmea, ReceiveTextCutsSentencesAndStaysBounded) {
    NmeaReceiver r;
    const QByteArray rmc =
        Line("GPRMC,104706.000,A,5405.6081,N,01049.4791,E,0.24,18.02,240709,,,A");
    const QByteArray gga =
        Line("GPGGA,104707.000,5405.6083,N,01049.4822,E,1,08,1.0,40.6,M,43.6,M,,0000");
    // A sentence arriving in pieces waits for its CR LF.
    auto h = r.receive(rmc.left(20));
    EXPECT_FALSE(h.rmc);
    h = r.receive(rmc.mid(20));
    EXPECT_TRUE(h.rmc);
    EXPECT_EQ(h.log, QStringList{QString::fromLatin1(rmc)});
    EXPECT_TRUE(r.pendingText().isEmpty());
    EXPECT_EQ(r.state().latitude, RoundTo(54 + 5.6081 / 60, 8));

    // GGA before RMC in one chunk: both are handled, in arrival order (RMC's position wins).
    const QByteArray gsv1 =
        Line("GPGSV,3,1,12,08,30,075,25,09,20,262,32,10,16,194,27,15,74,263,46");
    const QByteArray gsv2 = Line("GPGSV,3,2,12,17,14,127,19,18,22,315,27,19,05,014,27,21,00,284,");
    h = r.receive(gga + "noise\x01\xff" + gsv1 + gsv2 + rmc);
    EXPECT_TRUE(h.gga && h.rmc && h.gsv);
    EXPECT_EQ(h.log.size(), 1 + (1 + 4) + (1 + 4) + 1);
    EXPECT_EQ(h.log.at(2), "[3] [1] [12] [8] [30] [75] [25]\r\n");
    EXPECT_EQ(r.state().gga.utcTime, "10:47:07");
    EXPECT_EQ(r.state().longitude, r.state().rmc.longitude);

    // Other talkers, a wrong checksum and a cut sentence followed by a whole one.
    const GpsState before = r.state();
    h = r.receive(Line("GNGGA,132827.20,4134.49941239,N,09345.03495785,W,2,10,0.9,280.340,M,"
                       "-31.442,M,13.2,0133") +
                  QByteArray(rmc).replace("0.24", "9.24") + "$GPGSA,A,3,28,18");
    EXPECT_TRUE(h.log.isEmpty());
    EXPECT_EQ(r.state().latitude, before.latitude);
    EXPECT_DOUBLE_EQ(r.state().rmc.speed, before.rmc.speed);
    h = r.receive(Line("GPGSA,A,2,28,18,27,19,08,09,10,15,,,,,1.7,1.1,1.3"));
    EXPECT_TRUE(h.gsa);
    EXPECT_EQ(r.state().gsa.mode, "2D-Fix");

    // A stream without line ends never holds more than the limit.
    QByteArray noise(100 * 1024, '\0');
    for (int i = 0; i < noise.size(); ++i)
        noise[i] = char((i * 131 + 7) % 256 == 10 ? 'x' : (i * 131 + 7) % 256);
    for (int i = 0; i < 10; ++i)
        r.receive(noise);
    EXPECT_LE(r.pendingText().size(), NmeaReceiver::MaxPendingText);
    EXPECT_GT(r.droppedCharacters(), 900 * 1024);
    r.receive("\r\n");
    EXPECT_TRUE(r.receive(rmc).rmc) << "the receiver recovers after noise";
}

TEST(Nmea, GpsdReportsFillTheSameResults) {
    GpsdClient c;
    EXPECT_TRUE(c.receive(R"({"class":"TPV","mode":2,"time":"2009-07-24T10:47:06.000Z",)"
                          R"("lat":-10.0,"lon":-20.0,"altMSL":40.8,"speed":1.0,"track":18.5})"
                          "\n"));
    EXPECT_EQ(c.state().gsa.mode, "2D-Fix");
    EXPECT_EQ(c.state().rmc.utcTime, "10:47:06");
    EXPECT_EQ(c.state().rmc.date, "24.07.09");
    EXPECT_EQ(c.state().rmc.latitudeHemisphere, "S");
    EXPECT_DOUBLE_EQ(c.state().rmc.speed, 3600.0 / 1852.0 * 0.54);
    EXPECT_TRUE(EvaluateFix(c.state()).red);
    EXPECT_TRUE(EvaluateFix(c.state()).gridText.startsWith("II"));
    EXPECT_TRUE(
        c.receive(R"({"class":"SKY","hdop":1.1,"pdop":1.7,"vdop":1.3,"satellites":[)"
                  R"({"PRN":28,"used":true},{"PRN":5,"used":false},{"PRN":18,"used":true}]})"
                  "\n"));
    EXPECT_EQ(c.state().gsa.satellites[0], "28");
    EXPECT_EQ(c.state().gsa.satellites[1], "18");
    EXPECT_EQ(c.state().gsa.satellites[2], "");
    EXPECT_EQ(c.state().gga.satellites, 2);
    EXPECT_FALSE(c.receive("{\"class\":\"TPV\",\"mode\":3,\"lat\":1e999}\n"
                           "not json\n"));
    // An endless line is dropped without growing the buffer; the next line is read again.
    for (int i = 0; i < 40; ++i)
        EXPECT_FALSE(c.receive(QByteArray(4096, 'x')));
    EXPECT_FALSE(c.receive(R"({"class":"TPV","mode":1})"
                           "\n"));
    EXPECT_TRUE(c.receive(R"({"class":"TPV","mode":1})"
                          "\n"));
    EXPECT_EQ(EvaluateFix(c.state()).gridText, "GPS NO FIX");

    QString host;
    quint16 port = 0;
    EXPECT_TRUE(GpsdClient::ParseHostPort("localhost", &host, &port));
    EXPECT_EQ(port, 2947);
    EXPECT_TRUE(GpsdClient::ParseHostPort("[::1]:3000", &host, &port));
    EXPECT_EQ(host, "::1");
    EXPECT_EQ(port, 3000);
    EXPECT_FALSE(GpsdClient::ParseHostPort("host:70000", &host, &port));
    EXPECT_FALSE(GpsdClient::ParseHostPort(":2947", &host, &port));
}
