#include "Weather.h"

#include <gtest/gtest.h>

namespace {

// A page of dots with texts placed at 1-based positions.
class Page {
public:
    explicit Page(int length) : m_text(length, QLatin1Char('.')) {}
    Page& put(int position, const QString& text) {
        m_text.replace(position - 1, text.size(), text);
        return *this;
    }
    QString text() const { return m_text; }

private:
    QString m_text;
};

TEST(Weather, ReadingsAtTheirOffsetsAfterTheKeys) {
    Page page(12000);
    page.put(5000, "Outside Humidity").put(5061, "64%");
    page.put(5200, "Dew Point").put(5254, "-1.3C");
    page.put(5400, "Barometer").put(5454, "1009.8hPa");
    page.put(5600, "Average Wind Speed").put(5662, "3.1 m/s  ");
    EXPECT_EQ(ScrapeWeather(page.text(), "old"), "64% : -1.3C : 1009.8hPa : 3.1 m/s  ");
}

TEST(Weather, OnlyPositions3000To10000Count) {
    Page page(12000);
    page.put(2999, "Outside Humidity").put(3060, "11%");  // starts before 3000
    page.put(10001, "Dew Point").put(10055, "9.9 C");     // starts after 10000
    page.put(10000, "Barometer").put(10054, "1000.0hPa"); // starts at 10000
    EXPECT_EQ(ScrapeWeather(page.text(), "kept"), "kept : 1000.0hPa");
}

TEST(Weather, EveryMatchIsProcessed) {
    Page page(9000);
    page.put(3000, "Outside Humidity").put(3061, "50%");
    page.put(4000, "Outside Humidity").put(4061, "51%"); // the last one sets the label
    page.put(5000, "Dew Point").put(5054, "1.0 C");
    page.put(6000, "Dew Point").put(6054, "2.0 C");
    EXPECT_EQ(ScrapeWeather(page.text(), QString()), "51% : 1.0 C : 2.0 C");
}

TEST(Weather, ShortPagesAndPiecesPastTheEnd) {
    EXPECT_EQ(ScrapeWeather(QString(), "same"), "same");
    EXPECT_EQ(ScrapeWeather(QString(2500, QLatin1Char('x')), "same"), "same");
    Page page(3020);
    page.put(3001, "Dew Point"); // its reading would lie past the end of the page
    EXPECT_EQ(ScrapeWeather(page.text(), "T"), "T : ");
}

} // namespace
