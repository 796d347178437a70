#include "LogGenerator.h"

#include "Database.h"

#include <QDate>
#include <QRandomGenerator>
#include <QSet>
#include <QSqlError>
#include <QSqlQuery>
#include <QTime>
#include <array>
#include <vector>

namespace {

struct Band {
    const char* pattern;
    const char* text;
    int weight; // per mille of the QSOs
};

// 144 MHz and 10368 MHz are the busiest bands; the others share the rest unevenly.
const std::array<Band, 22> bands{{
    {"1840%", "1840", 20},        {"3600%", "3600", 35},
    {"7050%", "7050", 45},        {"10140", "10140", 25},
    {"14200%", "14200", 60},      {"18110%", "18110", 25},
    {"21150%", "21150", 45},      {"24950%", "24950", 20},
    {"28400%", "28400", 55},      {"50%", "50150", 70},
    {"144%", "144300", 100},      {"432%", "432200", 80},
    {"1296%", "1296200", 70},     {"2320%", "2320200", 40},
    {"34%", "3400100", 25},       {"5760%", "5760100", 30},
    {"10368%", "10368100", 100},  {"24048%", "24048100", 60},
    {"47088%", "47088100", 40},   {"76032%", "76032100", 30},
    {"122250%", "122250100", 25}, {"", "", 0},
}};

struct Country {
    const char* prefix;
    const char* name;
    const char* cq;
    const char* itu;
};

const Country countries[] = {
    {"DL", "Germany", "14", "28"},         {"OK", "Czech Republic", "15", "28"},
    {"SP", "Poland", "15", "28"},          {"G", "England", "14", "27"},
    {"F", "France", "14", "27"},           {"HB9", "Switzerland", "14", "28"},
    {"OE", "Austria", "15", "28"},         {"PA", "Netherlands", "14", "27"},
    {"ON", "Belgium", "14", "27"},         {"OZ", "Denmark", "14", "18"},
    {"SM", "Sweden", "14", "18"},          {"LA", "Norway", "14", "18"},
    {"OH", "Finland", "15", "18"},         {"I", "Italy", "15", "28"},
    {"EA", "Spain", "14", "37"},           {"S5", "Slovenia", "15", "28"},
    {"9A", "Croatia", "15", "28"},         {"HA", "Hungary", "15", "28"},
    {"YO", "Romania", "20", "28"},         {"LZ", "Bulgaria", "20", "28"},
    {"UR", "Ukraine", "16", "29"},         {"YL", "Latvia", "15", "29"},
    {"LY", "Lithuania", "15", "29"},       {"ES", "Estonia", "15", "29"},
    {"EI", "Ireland", "14", "27"},         {"GM", "Scotland", "14", "27"},
    {"OM", "Slovak Republic", "15", "28"}, {"W", "United States", "5", "8"},
    {"JA", "Japan", "25", "45"},           {"VK", "Australia", "30", "59"},
};

const char* const modes[] = {"SSB", "CW", "FM", "FT8", "MSK144", "JT65"};
const char* const props[] = {"Tr", "Rs", "Es", "Au", "Ms"};
const char* const qsls[] = {"Y", "Q", "N"};
const char* const names[] = {"Hans", "Jan",  "Piotr", "John",  "Pierre", "Urs",  "Karl",  "Kees",
                             "Luc",  "Sven", "Ola",   "Mario", "Jose",   "Ivan", "Laszlo"};
const char* const rigs[] = {"FT-847", "FT-991", "IC-9700", "Transverter"};
const char* const antennas[] = {"Yagi", "Dish 1.2 m", "Horn", "Dipole", "Loop"};

QString letters(QRandomGenerator& rng, int count, char first = 'A', int span = 26) {
    QString out;
    for (int i = 0; i < count; ++i)
        out += QChar(first + int(rng.bounded(span)));
    return out;
}

QString locator(QRandomGenerator& rng) {
    // Mostly Europe (fields I..L, N..P), some farther away.
    static const char fieldsA[] = "IJJJJKKLO";
    static const char fieldsB[] = "MNNOOOP";
    QString out;
    if (rng.bounded(10) < 9) {
        out += QChar(fieldsA[rng.bounded(int(sizeof fieldsA) - 1)]);
        out += QChar(fieldsB[rng.bounded(int(sizeof fieldsB) - 1)]);
    } else {
        out += letters(rng, 2, 'A', 18);
    }
    out += QChar('0' + int(rng.bounded(10)));
    out += QChar('0' + int(rng.bounded(10)));
    out += letters(rng, 2, 'A', 24);
    return out;
}

} // namespace

QStringList LogbookBandPatterns() {
    QStringList out;
    for (const Band& b : bands)
        out << QString::fromLatin1(b.pattern);
    return out;
}

QString GeneratedBandText(const QString& pattern) {
    for (const Band& b : bands)
        if (pattern == QLatin1String(b.pattern))
            return QString::fromLatin1(b.text);
    return {};
}

bool GenerateLogbook(const QString& path, const GeneratedLogOptions& options, QString* error) {
    auto failed = [&](const QString& why) {
        if (error)
            *error = why;
        return false;
    };
    if (options.qsos < 0 || options.locators < 1)
        return failed(QStringLiteral("Nothing sensible to generate"));
    if (!EnsureDatabase(path, error))
        return false;
    DbHandle db(path, false);
    if (!db.isOpen())
        return failed(db.openError());

    QRandomGenerator rng(options.seed);
    QStringList grids;
    QSet<QString> seen;
    while (grids.size() < options.locators) {
        const QString g = locator(rng);
        if (!seen.contains(g)) {
            seen.insert(g);
            grids << g;
        }
    }
    std::vector<int> bandOfDraw; // 1000 draws, each a band index, by weight
    for (int i = 0; i < int(bands.size()); ++i)
        for (int w = 0; w < bands[i].weight; ++w)
            bandOfDraw.push_back(i);

    const QStringList columns = DbLogColumns().mid(1); // ID is the rowid
    QStringList marks;
    for (int i = 0; i < columns.size(); ++i)
        marks << QStringLiteral("?");
    QSqlDatabase& sql = db.database();
    if (!sql.transaction())
        return failed(sql.lastError().text());
    {
        QSqlQuery insert(sql);
        if (!insert.prepare(QStringLiteral("INSERT INTO logtab (\"%1\") VALUES (%2)")
                                .arg(columns.join(QStringLiteral("\", \"")),
                                     marks.join(QStringLiteral(", "))))) {
            const QString why = insert.lastError().text();
            sql.rollback();
            return failed(why);
        }
        const QDate first(2000, 1, 1);
        const int days = int(first.daysTo(QDate(2026, 4, 30)));
        auto pick = [&](const auto& list) {
            return QString::fromLatin1(list[rng.bounded(int(std::size(list)))]);
        };
        for (int n = 0; n < options.qsos; ++n) {
            // A log grows by appending; one QSO in ten was imported later from an older log.
            int day = options.qsos > 1 ? int(qint64(days) * n / (options.qsos - 1)) : 0;
            if (rng.bounded(10) == 0)
                day = rng.bounded(days + 1);
            const QDate date = first.addDays(day);
            const QTime time = QTime(0, 0).addSecs(rng.bounded(86400));
            const Band& band = bands[bandOfDraw[rng.bounded(int(bandOfDraw.size()))]];
            const Country& c = countries[rng.bounded(int(std::size(countries)))];
            const QString call = QString::fromLatin1(c.prefix) + QChar('0' + int(rng.bounded(10))) +
                                 letters(rng, 1 + int(rng.bounded(3)));
            const QString grid = grids.at(rng.bounded(int(grids.size())));
            const QString mode = pick(modes);
            const bool cw = mode == QLatin1String("CW");
            const QString report = cw ? QStringLiteral("599") : QStringLiteral("59");
            const QVariantList values{
                date.toString(Qt::ISODate),
                time.toString(QStringLiteral("HH:mm:ss")),
                call,
                QString::fromLatin1(band.text),
                mode,
                report,
                report,
                QString::number(1 + rng.bounded(999)).rightJustified(3, QLatin1Char('0')),
                QString::number(1 + rng.bounded(999)).rightJustified(3, QLatin1Char('0')),
                grid,
                pick(names),
                QStringLiteral("QTH %1").arg(rng.bounded(500)),
                QString::fromLatin1(c.name),
                qlonglong(rng.bounded(1500)),
                qlonglong(rng.bounded(360)),
                pick(props),
                pick(qsls),
                rng.bounded(4) == 0 ? QVariant(QStringLiteral("Buro")) : QVariant(),
                pick(qsls),
                date.addDays(rng.bounded(60)).toString(Qt::ISODate),
                QStringLiteral("%1 W").arg(1 + rng.bounded(200)),
                pick(rigs),
                pick(antennas),
                QStringLiteral("JO62QM"),
                QString::fromLatin1(c.cq),
                QString::fromLatin1(c.itu),
                rng.bounded(5) == 0 ? QVariant(QStringLiteral("Field Day")) : QVariant(),
                QStringLiteral("DL0FS"),
                rng.bounded(8) == 0 ? QVariant(QStringLiteral("tnx for the QSO")) : QVariant(),
                date.toString(Qt::ISODate),
                QVariant(),
                QVariant(),
                QVariant(),
            };
            if (values.size() != columns.size()) {
                insert = QSqlQuery();
                sql.rollback();
                return failed(QStringLiteral("The log table has other columns"));
            }
            for (int i = 0; i < int(values.size()); ++i)
                insert.bindValue(i, values.at(i));
            if (!insert.exec()) {
                const QString why = insert.lastError().text();
                insert = QSqlQuery();
                sql.rollback();
                return failed(why);
            }
        }
    }
    if (!sql.commit())
        return failed(sql.lastError().text());
    return true;
}
