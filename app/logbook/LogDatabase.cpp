#include "LogDatabase.h"

#include "Database.h"
#include "Locator.h"
#include "LogTransaction.h"
#include "LogbookLog.h"
#include "Recordset.h"

#include <QDate>
#include <QSqlDatabase>
#include <QSqlError>
#include <QSqlQuery>
#include <QTime>
#include <cmath>
#include <functional>

namespace {

void setError(QString* error, const QString& text) {
    if (error)
        *error = text;
}

QString completed(const QString& locator) {
    QString text = locator;
    if (text.size() == 4)
        text += QStringLiteral("HH");
    return text.toUpper();
}

// Opens statement on db, filtered to the band. The recordset keeps the connection alive for as
// long as it is open.
std::shared_ptr<Recordset> openFiltered(DbConnection& db, const QString& connectionText,
                                        const QString& statement, const QVariantList& params,
                                        const QString& bandPattern, QString* error) {
    if (!db.isOpen() && !db.open(connectionText)) {
        setError(error, db.lastError());
        return nullptr;
    }
    auto rs = std::make_shared<Recordset>();
    if (!rs->open(statement, db, params) || !rs->setFilter(BandFilterText(bandPattern))) {
        setError(error, rs->lastError());
        return nullptr;
    }
    return rs;
}

// Walks rows in the statement's order and counts the distinct adjacent keys (rows whose key
// field is null are skipped); onNew runs on the first row of each key and may write that row.
// The writes share one transaction: one commit instead of one per square.
int countDistinct(const QString& connectionText, const QString& statement,
                  const QString& bandPattern, const QString& keyField, int keyLength,
                  const std::function<bool(Recordset&, const QString&)>& onNew, QString* error) {
    DbConnection db;
    auto rs = openFiltered(db, connectionText, statement, {}, bandPattern, error);
    if (!rs)
        return -1;
    LogTransaction transaction(db, onNew != nullptr);
    int count = 0;
    QString last;
    for (rs->moveFirst(); !rs->eof(); rs->moveNext()) {
        const QVariant field = rs->field(keyField);
        if (field.isNull())
            continue;
        const QString value =
            keyLength > 0 ? DbValueText(field).left(keyLength) : DbValueText(field);
        if (value == last)
            continue;
        last = value;
        ++count;
        if (onNew && !onNew(*rs, value)) {
            setError(error, rs->lastError());
            rs->cancelUpdate();
            transaction.commit(); // outlines written so far stay written
            return -1;
        }
    }
    if (!transaction.commit()) {
        setError(error, transaction.error());
        return -1;
    }
    return count;
}

} // namespace

QString LogBandPattern(int index) {
    static const char* const patterns[LogBandCount] = {
        "1840%",  "3600%",  "7050%",  "10140",  "14200%",  "18110%", "21150%", "24950%",
        "28400%", "50%",    "144%",   "432%",   "1296%",   "2320%",  "34%",    "5760%",
        "10368%", "24048%", "47088%", "76032%", "122250%", ""};
    if (index < 0 || index >= LogBandCount)
        return {};
    return QString::fromLatin1(patterns[index]);
}

QString BandFilterText(const QString& bandPattern) {
    if (bandPattern.isEmpty())
        return {};
    return QStringLiteral(" band like '") + bandPattern + QStringLiteral("'");
}

QString BandDigits(const QString& bandPattern) {
    return bandPattern.endsWith(QLatin1Char('%')) ? bandPattern.chopped(1) : bandPattern;
}

namespace {

bool digits(const QString& text, std::initializer_list<int> positions) {
    for (const int i : positions)
        if (text.at(i) < QLatin1Char('0') || text.at(i) > QLatin1Char('9'))
            return false;
    return true;
}

} // namespace

QString ShownDate(const QVariant& stored) {
    if (!stored.isValid() || stored.isNull())
        return {};
    if (stored.typeId() == QMetaType::QString) {
        // The stored ISO form, without the date parser (a grid shows thousands of them).
        const QString text = stored.toString();
        if (text.size() >= 10 && text.at(4) == QLatin1Char('-') && text.at(7) == QLatin1Char('-') &&
            digits(text, {0, 1, 2, 3, 5, 6, 8, 9}) &&
            (text.size() == 10 || !text.at(10).isDigit()) &&
            QDate(text.left(4).toInt(), text.mid(5, 2).toInt(), text.mid(8, 2).toInt()).isValid())
            return QLatin1Char(' ') + text.mid(8, 2) + QLatin1Char('.') + text.mid(5, 2) +
                   QLatin1Char('.') + text.left(4);
    }
    QDate date = stored.typeId() == QMetaType::QDate ? stored.toDate() : QDate();
    if (!date.isValid())
        date = QDate::fromString(stored.toString().left(10), Qt::ISODate);
    if (!date.isValid())
        return stored.toString();
    return date.toString(QStringLiteral(" dd.MM.yyyy"));
}

QString ShownTime(const QVariant& stored) {
    if (!stored.isValid() || stored.isNull())
        return {};
    if (stored.typeId() == QMetaType::QString) {
        const QString text = stored.toString();
        if (text.size() == 8 && text.at(2) == QLatin1Char(':') && text.at(5) == QLatin1Char(':') &&
            digits(text, {0, 1, 3, 4, 6, 7}) && text.left(2).toInt() < 24 &&
            text.mid(3, 2).toInt() < 60 && text.mid(6, 2).toInt() < 60)
            return text.left(5);
    }
    QTime time = stored.typeId() == QMetaType::QTime ? stored.toTime() : QTime();
    const QString text = stored.toString();
    if (!time.isValid())
        time = QTime::fromString(text, QStringLiteral("HH:mm:ss"));
    if (!time.isValid())
        time = QTime::fromString(text, QStringLiteral("HH:mm"));
    if (!time.isValid())
        return text;
    return time.toString(QStringLiteral("HH:mm"));
}

QString SquareOutline(double lon, double lat) {
    // The even degree at or below the longitude, taken in single precision as the log's
    // outlines always were, so that stored outlines and new ones agree.
    float west = float(lon);
    if (long(std::floor(west)) % 2 != 0)
        west -= 1;
    const long w = long(std::floor(west));
    const long s = long(std::floor(lat));
    const long corners[5][2] = {{w, s}, {w + 2, s}, {w + 2, s + 1}, {w, s + 1}, {w, s}};
    QString text;
    for (const auto& c : corners)
        text += QString::number(c[0]) + QStringLiteral(".0,") + QString::number(c[1]) +
                QStringLiteral(".0,2000 ");
    return text;
}

LogGeo ComputeLogGeo(const QString& homeLocator, const QString& target) {
    LogGeo geo;
    const QString homeText = completed(homeLocator);
    std::optional<LonLat> home;
    if (MatchesLocatorPattern(homeText))
        home = LocatorToLonLat(homeText);
    if (home) {
        geo.homeValid = true;
        geo.homeLonLat = LonLatText(*home);
        geo.lastLonLat = geo.homeLonLat;
    }
    const QString targetText = completed(target);
    std::optional<LonLat> there;
    if (MatchesLocatorPattern(targetText))
        there = LocatorToLonLat(targetText);
    if (!there)
        return geo; // LastLonLatText keeps the home position
    geo.targetValid = true;
    geo.lastLonLat = LonLatText(*there);
    geo.polygon = SquareOutline(there->lon, there->lat);
    if (home) {
        const PathResult path = ComputePath(*home, *there);
        geo.qrb = int(std::floor(float(path.distanceKm)));
        geo.qtf = int(std::floor(path.heading));
    }
    return geo;
}

QString QsoDescription(const QsoFields& q) {
    return QStringLiteral("Log: ") + q.callsign + QStringLiteral(" ") + q.band +
           QStringLiteral(" kHz ") + ShownDate(q.date) + QStringLiteral(" ") + ShownTime(q.gmt) +
           QStringLiteral(" rsts:") + q.rsts + QStringLiteral(" rstr:") + q.rstr +
           QStringLiteral(" QRB:") + DbValueText(q.qrb) + QStringLiteral("km  ") +
           QStringLiteral("QTF:") + DbValueText(q.qtf) + QStringLiteral(" QSL: ") + q.qsl +
           QStringLiteral(" Prop:") + q.prop + QStringLiteral(" ") + q.comment;
}

LogRow NewLogRow(const LogEntry& e, const QString& homeLocator) {
    LogRow row;
    if (!e.grid.isEmpty())
        row.geo = ComputeLogGeo(homeLocator, e.grid);
    const bool measured = row.geo.homeValid && row.geo.targetValid;
    const QVariant qrb = measured || e.knownQrb.isNull() ? QVariant(row.geo.qrb) : e.knownQrb;
    QsoFields q;
    q.date = e.date;
    q.gmt = e.gmt;
    q.callsign = e.callsign;
    q.band = e.band;
    q.rsts = e.rsts;
    q.rstr = e.rstr;
    q.qsl = e.qsl;
    q.prop = e.prop;
    q.comment = e.comment;
    q.qrb = qrb;
    q.qtf = row.geo.qtf;
    const std::pair<const char*, QVariant> fields[] = {
        {"Date", e.date},
        {"GMT", e.gmt},
        {"Callsign", e.callsign},
        {"Grid", e.grid},
        {"rsts", e.rsts},
        {"rstr", e.rstr},
        {"Band", e.band},
        {"mode", e.mode},
        {"Nam", e.name},
        {"Comment", e.comment},
        {"QSL", e.qsl},
        {"Prop", e.prop},
        {"DXCC", e.dxcc},
        {"QRB", qrb},
        {"QTF", row.geo.qtf},
        {"GEdata", QsoDescription(q)},
        {"GEgridXY", row.geo.lastLonLat},
    };
    for (const auto& [name, value] : fields) {
        row.columns << QString::fromLatin1(name);
        row.values << value;
    }
    return row;
}

namespace {

// The text of a LIKE pattern before its first wildcard, upper-cased.
QString literalPrefix(const QString& pattern) {
    qsizetype end = 0;
    while (end < pattern.size() && pattern.at(end) != QLatin1Char('%') &&
           pattern.at(end) != QLatin1Char('_'))
        ++end;
    return pattern.left(end).toUpper();
}

} // namespace

bool DxccTable::load(DbConnection& db, QString* error) {
    m_rows.clear();
    m_byPrefix.clear();
    if (!db.isOpen() || !db.handle()) {
        setError(error, QStringLiteral("No database"));
        return false;
    }
    // By position, as the lookup reads the table: 1 the pattern, 2 the country entry.
    QSqlQuery query(db.handle()->database());
    query.setForwardOnly(true);
    if (!query.exec(QStringLiteral("SELECT * FROM dxccdata ORDER BY rowid"))) {
        setError(error, query.lastError().text());
        return false;
    }
    while (query.next()) {
        const QString pattern = DbValueText(query.value(1));
        m_rows.push_back({pattern, DbValueText(query.value(2))});
        m_byPrefix[literalPrefix(pattern)].push_back(int(m_rows.size()) - 1);
    }
    return true;
}

QString DxccTable::countryOf(const QString& callsign) const {
    const QString upper = callsign.toUpper();
    int best = -1;
    for (qsizetype length = 0; length <= upper.size(); ++length) {
        const auto it = m_byPrefix.constFind(upper.left(length));
        if (it == m_byPrefix.cend())
            continue;
        for (const int row : *it)
            if (row > best && LikeMatches(callsign, m_rows[size_t(row)].pattern))
                best = row;
    }
    return best < 0 ? QString() : m_rows[size_t(best)].country;
}

LogSearch LogSearchStatement(const QString& text, bool byLocator) {
    if (text.isEmpty())
        return {QStringLiteral("select *  from logtab where grid <> ''order by grid"), {}};
    return {byLocator ? QStringLiteral("select * from logtab where  Grid like ? ")
                      : QStringLiteral("select * from logtab where  callsign like ? "),
            {text + QLatin1Char('%')}};
}

std::shared_ptr<Recordset> LoadLogGrid(const QString& connectionText, const QString& bandPattern,
                                       QString* error) {
    DbConnection db;
    auto rs = openFiltered(db, connectionText, QStringLiteral("SELECT * FROM logtab"), {},
                           bandPattern, error);
    if (rs && !rs->setSort(QStringLiteral("date  desc "))) {
        setError(error, rs->lastError());
        return nullptr;
    }
    return rs;
}

DxccLookup LookupDxcc(const QString& connectionText, const QString& callsign) {
    DxccLookup result;
    DbConnection db;
    if (!db.open(connectionText)) {
        result.error = db.lastError();
        return result;
    }
    Recordset rs;
    if (!rs.open(QStringLiteral("SELECT * FROM dxccdata where ? like dxcccode "), db, {callsign})) {
        result.error = rs.lastError();
        return result;
    }
    result.ok = true;
    for (rs.moveFirst(); !rs.eof(); rs.moveNext()) {
        result.matched = true;
        result.country = DbValueText(rs.field(2));
        const QString pattern = DbValueText(rs.field(1));
        if (pattern.endsWith(QLatin1Char('*'))) {
            if (!rs.setField(1, pattern.chopped(1) + QLatin1Char('%')) || !rs.update()) {
                // The country is found; the pattern stays as it was until the next rewrite.
                qCWarning(lcLogbook, "Cannot rewrite the country pattern %s: %s",
                          qPrintable(pattern), qPrintable(rs.lastError()));
                rs.cancelUpdate();
            }
        }
    }
    return result;
}

int NormaliseDxccPatterns(const QString& connectionText, QString* error) {
    DbConnection db;
    if (!db.open(connectionText)) {
        setError(error, db.lastError());
        return -1;
    }
    Recordset rs;
    if (!rs.open(QStringLiteral("SELECT * FROM dxccdata  "), db)) {
        setError(error, rs.lastError());
        return -1;
    }
    LogTransaction transaction(db);
    int changed = 0;
    for (rs.moveFirst(); !rs.eof(); rs.moveNext()) {
        const QString pattern = DbValueText(rs.field(1));
        if (!pattern.endsWith(QLatin1Char('*')))
            continue;
        if (!rs.setField(1, pattern.chopped(1) + QLatin1Char('%')) || !rs.update()) {
            setError(error, rs.lastError());
            rs.cancelUpdate();
            return -1;
        }
        ++changed;
    }
    if (!transaction.commit()) {
        setError(error, transaction.error());
        return -1;
    }
    return changed;
}

int CountWorkedSquares(const QString& connectionText, const QString& bandPattern,
                       const QString& homeLocator, QString* error) {
    return countDistinct(
        connectionText, QStringLiteral("select *  from logtab where grid <> ''order by grid"),
        bandPattern, QStringLiteral("grid"), 4,
        [&homeLocator](Recordset& rs, const QString& square) {
            const LogGeo geo = ComputeLogGeo(homeLocator, square);
            // A square that names no place keeps whatever outline its QSO had.
            if (geo.polygon.isEmpty())
                return true;
            return rs.setField(QStringLiteral("GEpoly"), geo.polygon) && rs.update();
        },
        error);
}

int CountConfirmedSquares(const QString& connectionText, const QString& bandPattern,
                          QString* error) {
    return countDistinct(
        connectionText,
        QStringLiteral("select *  from logtab where grid <> ''and QSL like'q' order by grid"),
        bandPattern, QStringLiteral("grid"), 4, nullptr, error);
}

int CountWorkedDxcc(const QString& connectionText, const QString& bandPattern, QString* error) {
    return countDistinct(connectionText,
                         QStringLiteral("select  *  from logtab where DXCC <>'' order by dxcc "),
                         bandPattern, QStringLiteral("dxcc"), 0, nullptr, error);
}

int CountConfirmedDxcc(const QString& connectionText, const QString& bandPattern, QString* error) {
    return countDistinct(
        connectionText,
        QStringLiteral("select  *  from logtab where DXCC <>'' and QSL like 'Q'  order by dxcc "),
        bandPattern, QStringLiteral("dxcc"), 0, nullptr, error);
}
