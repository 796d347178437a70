#include "Locator.h"

#include <gtest/gtest.h>

#include <QStringList>
#include <cmath>

namespace {

LonLat Pos(const char* locator) {
    const std::optional<LonLat> p = LocatorToLonLat(QString::fromLatin1(locator));
    EXPECT_TRUE(p.has_value()) << locator;
    return p.value_or(LonLat{});
}

} // namespace

TEST(ValidateLocator, AcceptsTheFourPatterns) {
    for (const char* good : {"JO62", "JO62QM", "JO62QM15", "JO62QM15AX", "AA00AA", "RR99xx",
                             "JO62qm", "JO62[M", "JO62\\]", "JO62^_", "JO62`A", "JO62QM15ax"}) {
        EXPECT_TRUE(ValidateLocator(QString::fromLatin1(good))) << good;
    }
}

TEST(ValidateLocator, RefusesEverythingElse) {
    const char* bad[] = {
        "",       "J",          "JO6",    "JO62Q",       "JO62QM1", "JO62QM15A", "JO62QM15AXB",
        "SO62",   "JS62",       "jo62",   "JO6A",        "JOA2",    "JO62QM1A",  "JO62Qy",
        "JO62@M", "JO62QM15A{", "JO62 M", "JO62QM15AX1",
    };
    for (const char* text : bad) {
        EXPECT_FALSE(ValidateLocator(QString::fromLatin1(text))) << text;
    }
    EXPECT_STREQ(InvalidLocatorMessage, "Invalid Gridlocator:");
    // The same text in upper case, as the target box hands it over, passes.
    EXPECT_TRUE(ValidateLocator(QStringLiteral("jo62qm").toUpper()));
    // A character beyond Latin-1 is no letter of any pattern.
    EXPECT_FALSE(ValidateLocator(QStringLiteral("JO62Q") + QChar(0x0100)));
}

TEST(LocatorToLonLat, GivesTheSouthWestCorner) {
    const LonLat jo62qm = Pos("JO62QM");
    EXPECT_DOUBLE_EQ(jo62qm.lon, 12 + 16.0 / 12);
    EXPECT_DOUBLE_EQ(jo62qm.lat, 52.5);
    const LonLat jo62hh = Pos("JO62HH");
    EXPECT_NEAR(jo62hh.lon, 12.583333333333, 1e-9);
    EXPECT_NEAR(jo62hh.lat, 52.291666666667, 1e-9);
    const LonLat aa00aa = Pos("AA00AA");
    EXPECT_DOUBLE_EQ(aa00aa.lon, -180);
    EXPECT_DOUBLE_EQ(aa00aa.lat, -90);
    // Eight and ten characters refine the corner.
    const LonLat eight = Pos("JO62QM15");
    EXPECT_NEAR(eight.lon, jo62qm.lon + 1.0 / 120, 1e-12);
    EXPECT_NEAR(eight.lat, jo62qm.lat + 5.0 / 240, 1e-12);
    const LonLat ten = Pos("JO62QM15CX");
    EXPECT_NEAR(ten.lon, eight.lon + 2.0 / 2880, 1e-12);
    EXPECT_NEAR(ten.lat, eight.lat + 23.0 / 5760, 1e-12);
    // Lower case converts as upper case.
    EXPECT_DOUBLE_EQ(Pos("jo62qm").lon, jo62qm.lon);
}

TEST(LocatorToLonLat, ShortTextsNameNoPosition) {
    for (const char* text : {"", "J", "JO62", "JO62Q"})
        EXPECT_FALSE(LocatorToLonLat(QString::fromLatin1(text)).has_value()) << text;
    // Odd lengths count as the even length below them.
    EXPECT_DOUBLE_EQ(Pos("JO62QM1").lon, Pos("JO62QM").lon);
    EXPECT_DOUBLE_EQ(Pos("JO62QM15A").lat, Pos("JO62QM15").lat);
}

TEST(PositionText, DotDecimalCommaBetween) {
    EXPECT_EQ(LonLatText(Pos("JO62QM")), QStringLiteral("13.3333333333333,52.5"));
    // A locale with a decimal comma still gives dots.
    EXPECT_EQ(LonLatText(Pos("JO62QM"), QLatin1Char(',')), QStringLiteral("13.3333333333333,52.5"));
    EXPECT_EQ(LonLatText(Pos("AA00AA"), QLatin1Char(',')), QStringLiteral("-180,-90"));
    EXPECT_EQ(LonLatText(LonLat{12, 52}), QStringLiteral("12,52"));
    // Small values stay without an exponent and keep 15 significant digits at most.
    EXPECT_EQ(PositionNumberText(1.0 / 28800), QStringLiteral("0.0000347222222222222"));
    EXPECT_EQ(PositionNumberText(-0.0), QStringLiteral("0"));
    EXPECT_EQ(PositionNumberText(-12.5, QLatin1Char(',')), QStringLiteral("-12,5"));
}

TEST(ReplaceAll, ReplacesEveryOccurrence) {
    EXPECT_EQ(ReplaceAll(QStringLiteral("13,5;52,25"), QStringLiteral(","), QStringLiteral(".")),
              QStringLiteral("13.5;52.25"));
    EXPECT_EQ(ReplaceAll(QStringLiteral("13.5;52.25"), QStringLiteral(";"), QStringLiteral(",")),
              QStringLiteral("13.5,52.25"));
    EXPECT_EQ(ReplaceAll(QStringLiteral("no match"), QStringLiteral(","), QStringLiteral(".")),
              QStringLiteral("no match"));
    EXPECT_EQ(ReplaceAll(QString(), QStringLiteral(","), QStringLiteral(".")), QString());
    EXPECT_EQ(ReplaceAll(QStringLiteral(",,,"), QStringLiteral(","), QString()), QString());
    EXPECT_EQ(ReplaceAll(QStringLiteral("a--b--"), QStringLiteral("--"), QStringLiteral("+")),
              QStringLiteral("a+b+"));
    // Each step searches the new text from its start again.
    EXPECT_EQ(ReplaceAll(QStringLiteral("abb"), QStringLiteral("ab"), QStringLiteral("a")),
              QStringLiteral("a"));
    EXPECT_EQ(ReplaceAll(QStringLiteral("aab"), QStringLiteral("ab"), QStringLiteral("b")),
              QStringLiteral("b"));
}

TEST(ReplaceAll, EndsWhenTheReplacementContainsTheSearchedText) {
    EXPECT_EQ(ReplaceAll(QStringLiteral("banana"), QStringLiteral("a"), QStringLiteral("aa")),
              QStringLiteral("baanaanaa"));
    EXPECT_EQ(ReplaceAll(QStringLiteral("1,2"), QStringLiteral(","), QStringLiteral(",,")),
              QStringLiteral("1,,2"));
    EXPECT_EQ(ReplaceAll(QStringLiteral("x"), QStringLiteral("x"), QStringLiteral("x")),
              QStringLiteral("x"));
    // An empty search text changes nothing instead of inserting forever.
    EXPECT_EQ(ReplaceAll(QStringLiteral("abc"), QString(), QStringLiteral("z")),
              QStringLiteral("abc"));
}

TEST(ArcCosClamped, ClampsItsArgument) {
    const double pi = 4 * std::atan(1.0);
    double x = 1.0000001;
    EXPECT_EQ(ArcCosClamped(x), 0.0);
    EXPECT_EQ(x, 1.0);
    x = -3;
    EXPECT_EQ(ArcCosClamped(x), pi);
    EXPECT_EQ(x, -1.0);
    x = -1;
    EXPECT_EQ(ArcCosClamped(x), pi);
    for (double v : {-0.999, -0.5, 0.0, 0.3, 0.999999}) {
        x = v;
        EXPECT_NEAR(ArcCosClamped(x), std::acos(v), 1e-12) << v;
        EXPECT_EQ(x, v);
    }
}

TEST(ComputePath, ReferenceValuesFromJO62QM) {
    const LonLat home = Pos("JO62QM");
    const PathResult toJO31NF = ComputePath(home, Pos("JO31NF"));
    EXPECT_NEAR(toJO31NF.distanceKm, 452.93, 0.005);
    EXPECT_NEAR(toJO31NF.heading, 254.0, 0.05);
    EXPECT_NEAR(toJO31NF.reverse, 74.0, 0.05);
    const PathResult toIO91WM = ComputePath(home, Pos("IO91WM"));
    EXPECT_NEAR(toIO91WM.distanceKm, 930.44, 0.005);
    EXPECT_NEAR(toIO91WM.heading, 268.5, 0.05);
    const PathResult toJO62QN = ComputePath(home, Pos("JO62QN"));
    EXPECT_NEAR(toJO62QN.distanceKm, 4.64, 0.005);
    EXPECT_NEAR(toJO62QN.heading, 0.0, 0.05);
    EXPECT_NEAR(toJO62QN.reverse, 180.0, 0.05);
}

TEST(ComputePath, CoincidentAntipodalAndLongPaths) {
    const LonLat home = Pos("JO62QM");
    const PathResult same = ComputePath(home, home);
    EXPECT_EQ(same.distanceKm, 0.0);
    EXPECT_EQ(same.heading, 0.0f);
    EXPECT_EQ(same.reverse, 180.0f);

    // The exact antipode: clamped to a central angle of pi, a finite distance, heading 0.
    const double pi = 4 * std::atan(1.0);
    const PathResult antipode = ComputePath(LonLat{10, 40}, LonLat{-170, -40});
    EXPECT_NEAR(antipode.centralAngle, pi, 1e-6);
    EXPECT_TRUE(std::isfinite(antipode.distanceKm));
    EXPECT_GT(antipode.distanceKm, 20003.5);
    EXPECT_EQ(antipode.heading, 0.0f);
    EXPECT_EQ(antipode.reverse, 180.0f);

    // A target to the east is measured with the start azimuth, one to the west with its
    // complement; neither gives a value outside 0..360.
    const PathResult east = ComputePath(home, Pos("KO02AA"));
    EXPECT_GT(east.heading, 0.0f);
    EXPECT_LT(east.heading, 180.0f);
    EXPECT_NEAR(east.reverse, east.heading + 180, 1e-3);
    const PathResult west = ComputePath(home, Pos("JO32AA"));
    EXPECT_GT(west.heading, 180.0f);
    EXPECT_LT(west.heading, 360.0f);
    EXPECT_NEAR(west.reverse, west.heading - 180, 1e-3);
    // Across the date line: Delta lambda beyond pi counts the other way round.
    const PathResult dateLine = ComputePath(LonLat{179, 10}, LonLat{-179, 10});
    EXPECT_GT(dateLine.heading, 0.0f);
    EXPECT_LT(dateLine.heading, 180.0f);
}

TEST(ComputePath, EveryLocatorPairGivesFiniteValues) {
    // Corners of the grid, poles and the seams of the field letters.
    const char* places[] = {"AA00AA", "RR99XX", "JJ00AA", "AR09AX", "RA90XA", "JO62QM", "IO91WM",
                            "JN00AA", "IM99XX", "QF56OD", "FN31PR", "RE78IR", "AA00AB", "RR99XW"};
    for (const char* from : places)
        for (const char* to : places) {
            const PathResult r = ComputePath(Pos(from), Pos(to));
            EXPECT_TRUE(std::isfinite(r.distanceKm)) << from << " " << to;
            EXPECT_GE(r.distanceKm, 0.0) << from << " " << to;
            EXPECT_LE(r.distanceKm, 20040.0) << from << " " << to;
            EXPECT_TRUE(r.heading >= 0.0f && r.heading < 360.0f) << from << " " << to;
            EXPECT_TRUE(r.reverse >= 0.0f && r.reverse <= 540.0f) << from << " " << to;
        }
}

TEST(CompletedLocator, AppendsHHToFourCharacters) {
    EXPECT_EQ(CompletedLocator(QStringLiteral("jo62")), QStringLiteral("JO62HH"));
    EXPECT_EQ(CompletedLocator(QStringLiteral("JO62QM")), QStringLiteral("JO62QM"));
    EXPECT_EQ(CompletedLocator(QStringLiteral("JO6")), QStringLiteral("JO6"));
    EXPECT_EQ(CompletedLocator(QString()), QString());
}
