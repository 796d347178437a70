#include "Adif.h"

#include "Database.h"
#include "Locator.h"
#include "LogDatabase.h"
#include "LogbookLog.h"
#include "Recordset.h"

#include <QCoreApplication>
#include <QDate>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSaveFile>
#include <QSet>
#include <QSqlDatabase>
#include <QSqlError>
#include <QSqlQuery>
#include <QSqlRecord>
#include <QStringDecoder>
#include <QTime>
#include <QVarLengthArray>
#include <charconv>
#include <cstring>
#include <optional>

namespace {

// ---------------------------------------------------------------------------------------------
// Columns and their fields

// The columns the exchange carries, in record order. The first ones are what the logbook's
// entry row holds; the rest are the outside program's columns that ADIF has a field for.
enum Column {
    CCall,
    CDate,
    CTime,
    CBand,
    CMode,
    CRsts,
    CRstr,
    CGrid,
    CName,
    CComment,
    CQsl,
    CProp,
    CQrb,
    CDxcc,
    CQth,
    CQslVia,
    CNrs,
    CNrr,
    COperator,
    CContest,
    CMyGrid,
    CRig,
    CAntenna,
    CCqZone,
    CItuZone,
    CPower,
    CQslSent,
    CQslDate,
    ColumnCount
};

struct ColumnDef {
    const char* column; // logtab's name
    const char* app;    // APP_FARSCAN_ field for what the standard fields cannot carry
};

const ColumnDef columns[ColumnCount] = {
    {"Callsign", "APP_FARSCAN_CALL"},     {"Date", "APP_FARSCAN_DATE"},
    {"GMT", "APP_FARSCAN_GMT"},           {"Band", "APP_FARSCAN_BAND"},
    {"mode", "APP_FARSCAN_MODE"},         {"rsts", "APP_FARSCAN_RSTS"},
    {"rstr", "APP_FARSCAN_RSTR"},         {"Grid", "APP_FARSCAN_GRID"},
    {"Nam", "APP_FARSCAN_NAM"},           {"Comment", "APP_FARSCAN_COMMENT"},
    {"QSL", "APP_FARSCAN_QSL"},           {"Prop", "APP_FARSCAN_PROP"},
    {"QRB", "APP_FARSCAN_QRB"},           {"DXCC", "APP_FARSCAN_DXCC"},
    {"QTH", "APP_FARSCAN_QTH"},           {"QSLvia", "APP_FARSCAN_QSLVIA"},
    {"nrs", "APP_FARSCAN_NRS"},           {"nrr", "APP_FARSCAN_NRR"},
    {"Operator", "APP_FARSCAN_OPERATOR"}, {"Contest", "APP_FARSCAN_CONTEST"},
    {"MyGrid", "APP_FARSCAN_MYGRID"},     {"Rig", "APP_FARSCAN_RIG"},
    {"Antenna", "APP_FARSCAN_ANTENNA"},   {"CQzone", "APP_FARSCAN_CQZONE"},
    {"ITUzone", "APP_FARSCAN_ITUZONE"},   {"Power", "APP_FARSCAN_POWER"},
    {"QSLsent", "APP_FARSCAN_QSLSENT"},   {"QSLdate", "APP_FARSCAN_QSLDATE"},
};

// A few named values: the standard fields of one column, or of one record.
struct Fields {
    QVarLengthArray<std::pair<QByteArrayView, QString>, 4> items; // no allocation per column
    void add(const char* name, const QString& value) {
        items.append({QByteArrayView(name), value});
    }
};

// Reads the last value of a field from a record or a field list.
template <class List> QString lastValue(const List& items, QByteArrayView name) {
    for (auto it = items.crbegin(); it != items.crend(); ++it)
        if (QByteArrayView(it->first) == name)
            return it->second;
    return {};
}

// The number written by count digits at pos, -1 when they are not all digits.
int digitsAt(const QString& text, int pos, int count) {
    if (pos + count > text.size())
        return -1;
    int value = 0;
    for (int i = pos; i < pos + count; ++i) {
        const char16_t c = text.at(i).unicode();
        if (c < '0' || c > '9')
            return -1;
        value = value * 10 + (c - '0');
    }
    return value;
}

QString twoDigits(int n) {
    return QString(QChar(u'0' + n / 10)) + QChar(u'0' + n % 10);
}

// "yyyy-MM-dd" exactly (the log's form) and "yyyyMMdd" (ADIF's): the date, or invalid.
QDate isoDate(const QString& text) {
    if (text.size() != 10 || text.at(4) != QLatin1Char('-') || text.at(7) != QLatin1Char('-'))
        return {};
    const int y = digitsAt(text, 0, 4), m = digitsAt(text, 5, 2), d = digitsAt(text, 8, 2);
    return y < 0 || m < 0 || d < 0 ? QDate() : QDate(y, m, d);
}
QDate compactDate(const QString& text) {
    if (text.size() != 8)
        return {};
    const int y = digitsAt(text, 0, 4), m = digitsAt(text, 4, 2), d = digitsAt(text, 6, 2);
    return y < 0 || m < 0 || d < 0 ? QDate() : QDate(y, m, d);
}

// A time of day from "HH:mm:ss" or "HH:mm" (separators given) or "HHmmss" or "HHmm": hours,
// minutes and seconds, or false.
bool timeOfDay(const QString& text, bool separated, int* h, int* m, int* sec) {
    const int step = separated ? 3 : 2;
    const int n = int(text.size());
    if (n != 2 * step - (separated ? 1 : 0) && n != 3 * step - (separated ? 1 : 0))
        return false;
    if (separated && (text.at(2) != QLatin1Char(':') || (n == 8 && text.at(5) != QLatin1Char(':'))))
        return false;
    *h = digitsAt(text, 0, 2);
    *m = digitsAt(text, step, 2);
    *sec = n > 2 * step ? digitsAt(text, 2 * step, 2) : 0;
    return *h >= 0 && *h < 24 && *m >= 0 && *m < 60 && *sec >= 0 && *sec < 60;
}

bool allDigits(const QString& text) {
    if (text.isEmpty())
        return false;
    for (const QChar c : text)
        if (c < QLatin1Char('0') || c > QLatin1Char('9'))
            return false;
    return true;
}

// A decimal figure: digits with at most one point, at least one digit.
bool isDecimal(const QString& text, bool pointFirstAllowed) {
    int digits = 0, points = 0;
    for (const QChar c : text) {
        if (c == QLatin1Char('.'))
            ++points;
        else if (c >= QLatin1Char('0') && c <= QLatin1Char('9'))
            ++digits;
        else
            return false;
    }
    if (!pointFirstAllowed && text.startsWith(QLatin1Char('.')))
        return false;
    return digits > 0 && points <= 1;
}

// Moves the decimal point by three places without going through floating point, so every
// digit of the stored text survives: "10368100" kHz <-> "10368.100" MHz.
QString khzToMhz(const QString& khz) {
    const qsizetype point = khz.indexOf(QLatin1Char('.'));
    QString whole = point < 0 ? khz : khz.left(point);
    const QString fraction = point < 0 ? QString() : khz.mid(point + 1);
    while (whole.size() < 4)
        whole.prepend(QLatin1Char('0'));
    QString integer = whole.left(whole.size() - 3);
    while (integer.size() > 1 && integer.startsWith(QLatin1Char('0')))
        integer.remove(0, 1);
    return integer + QLatin1Char('.') + whole.right(3) + fraction;
}

QString mhzToKhz(const QString& mhz) {
    const qsizetype point = mhz.indexOf(QLatin1Char('.'));
    QString integer = point < 0 ? mhz : mhz.left(point);
    QString fraction = point < 0 ? QString() : mhz.mid(point + 1);
    while (fraction.size() < 3)
        fraction += QLatin1Char('0');
    integer += fraction.left(3);
    fraction = fraction.mid(3);
    while (fraction.endsWith(QLatin1Char('0')))
        fraction.chop(1);
    while (integer.size() > 1 && integer.startsWith(QLatin1Char('0')))
        integer.remove(0, 1);
    return fraction.isEmpty() ? integer : integer + QLatin1Char('.') + fraction;
}

struct AdifBand {
    const char* name;
    double lowMhz, highMhz;
    const char* digits; // the Band text for this band without a frequency (its MHz digits)
};

// ADIF's band enumeration.
const AdifBand adifBands[] = {
    {"2190m", 0.1357, 0.1378, "0"},
    {"630m", 0.472, 0.479, "0"},
    {"560m", 0.501, 0.504, "0"},
    {"160m", 1.8, 2.0, "1840"},
    {"80m", 3.5, 4.0, "3600"},
    {"60m", 5.06, 5.45, "5350"},
    {"40m", 7.0, 7.3, "7050"},
    {"30m", 10.1, 10.15, "10140"},
    {"20m", 14.0, 14.35, "14200"},
    {"17m", 18.068, 18.168, "18110"},
    {"15m", 21.0, 21.45, "21150"},
    {"12m", 24.89, 24.99, "24950"},
    {"10m", 28.0, 29.7, "28400"},
    {"8m", 40.0, 45.0, "40"},
    {"6m", 50.0, 54.0, "50"},
    {"5m", 54.000001, 69.9, "54"},
    {"4m", 70.0, 71.0, "70"},
    {"2m", 144.0, 148.0, "144"},
    {"1.25m", 222.0, 225.0, "222"},
    {"70cm", 420.0, 450.0, "432"},
    {"33cm", 902.0, 928.0, "902"},
    {"23cm", 1240.0, 1300.0, "1296"},
    {"13cm", 2300.0, 2450.0, "2320"},
    {"9cm", 3300.0, 3500.0, "34"},
    {"6cm", 5650.0, 5925.0, "5760"},
    {"3cm", 10000.0, 10500.0, "10368"},
    {"1.25cm", 24000.0, 24250.0, "24048"},
    {"6mm", 47000.0, 47200.0, "47088"},
    {"4mm", 75500.0, 81000.0, "76032"},
    {"2.5mm", 119980.0, 123000.0, "122250"},
    {"2mm", 134000.0, 149000.0, "134000"},
    {"1mm", 241000.0, 250000.0, "241000"},
};

const AdifBand* bandOfMhz(double mhz) {
    for (const AdifBand& b : adifBands)
        if (mhz >= b.lowMhz && mhz <= b.highMhz)
            return &b;
    return nullptr;
}

const AdifBand* bandNamed(const QString& name) {
    for (const AdifBand& b : adifBands)
        if (name.compare(QLatin1String(b.name), Qt::CaseInsensitive) == 0)
            return &b;
    return nullptr;
}

// The band of a stored Band text: a kHz figure inside a band, or just a band's MHz digits (the
// logbook's New puts "144" in the box before the operator completes the frequency).
const AdifBand* bandOfText(const QString& text, bool* isFrequency) {
    *isFrequency = false;
    if (!isDecimal(text, false))
        return nullptr;
    // The figure without the locale-aware number parser: digits and at most one point.
    double khz = 0, scale = 0;
    for (const QChar c : text) {
        if (c == QLatin1Char('.')) {
            scale = 1;
            continue;
        }
        if (scale > 0)
            khz += (c.unicode() - '0') * (scale /= 10);
        else
            khz = khz * 10 + (c.unicode() - '0');
    }
    if (const AdifBand* b = bandOfMhz(khz / 1000)) {
        *isFrequency = true;
        return b;
    }
    for (const AdifBand& b : adifBands)
        if (text == QLatin1String(b.digits) && b.lowMhz >= 1.0)
            return &b;
    return nullptr;
}

const char* const adifModes[] = {
    "AM",           "ARDOP",  "ATV",   "C4FM", "CHIP",  "CLO",    "CONTESTI", "CW",
    "DIGITALVOICE", "DOMINO", "DSTAR", "FAX",  "FM",    "FSK441", "FT8",      "HELL",
    "ISCAT",        "JT4",    "JT6M",  "JT9",  "JT44",  "JT65",   "MFSK",     "MSK144",
    "MT63",         "OLIVIA", "OPERA", "PAC",  "PAX",   "PKT",    "PSK",      "PSK2K",
    "Q15",          "QRA64",  "ROS",   "RTTY", "RTTYM", "SSB",    "SSTV",     "T10",
    "THOR",         "THRB",   "TOR",   "V4",   "VOI",   "WINMOR", "WSPR"};

struct Submode {
    const char* submode;
    const char* mode;
};
const Submode adifSubmodes[] = {
    {"USB", "SSB"},
    {"LSB", "SSB"},
    {"FT4", "MFSK"},
    {"JS8", "MFSK"},
    {"Q65", "MFSK"},
    {"FST4", "MFSK"},
    {"FST4W", "MFSK"},
    {"PSK31", "PSK"},
    {"PSK63", "PSK"},
    {"PSK125", "PSK"},
    {"BPSK31", "PSK"},
    {"QPSK31", "PSK"},
    {"JT65A", "JT65"},
    {"JT65B", "JT65"},
    {"JT65C", "JT65"},
    {"JT9A", "JT9"},
    {"OLIVIA 8/500", "OLIVIA"},
    {"C4FM", "DIGITALVOICE"},
    {"FMHELL", "HELL"},
};

bool isAdifMode(const QString& upper) {
    for (const char* m : adifModes)
        if (upper == QLatin1String(m))
            return true;
    return false;
}

// QSL codes of the log: Y, S, T, B a card to print; N, D printed; Q confirmed; T also means
// the other station's card came in (our card says "TNX QSL").
struct QslCode {
    char code;
    const char* sent;
    const char* rcvd;
};
const QslCode qslCodes[] = {{'Y', "Q", nullptr}, {'S', "Q", nullptr}, {'B', "Q", nullptr},
                            {'T', "Q", "Y"},     {'N', "Y", nullptr}, {'D', "Y", nullptr},
                            {'Q', "Y", "Y"}};

const char* const adifPropModes[] = {"AS", "AUE", "AUR",   "BS",       "ECH", "EME", "ES",
                                     "F2", "FAI", "GWAVE", "INTERNET", "ION", "IRL", "LOS",
                                     "MS", "RPT", "RS",    "SAT",      "TEP", "TR"};
// The log's own codes for the modes the logbook colours.
const std::pair<const char*, const char*> propCodes[] = {
    {"Tr", "TR"}, {"Rs", "RS"}, {"Es", "ES"}, {"Au", "AUR"}, {"Ms", "MS"}};

bool isLocator8(const QString& text) {
    const int n = int(text.size());
    if (n != 2 && n != 4 && n != 6 && n != 8)
        return false;
    for (int i = 0; i < n; ++i) {
        const char16_t c = QChar::toUpper(text.at(i).unicode());
        const bool ok = (i < 2)   ? (c >= 'A' && c <= 'R')
                        : (i < 4) ? (c >= '0' && c <= '9')
                        : (i < 6) ? (c >= 'A' && c <= 'X')
                                  : (c >= '0' && c <= '9');
        if (!ok)
            return false;
    }
    return true;
}

// The standard fields that carry a column's text (as near as ADIF allows).
void standardFields(int column, const QString& v, Fields& out) {
    switch (column) {
    case CCall:
        out.add("CALL", v);
        break;
    case CDate: {
        const QDate d = isoDate(v);
        if (d.isValid() && d.year() >= 1930)
            out.add("QSO_DATE", QString(v).remove(QLatin1Char('-')));
        break;
    }
    case CTime: {
        int h, m, sec;
        if (timeOfDay(v, true, &h, &m, &sec))
            out.add("TIME_ON", twoDigits(h) + twoDigits(m) + twoDigits(sec));
        break;
    }
    case CBand: {
        bool isFrequency = false;
        if (const AdifBand* b = bandOfText(v, &isFrequency)) {
            out.add("BAND", QString::fromLatin1(b->name));
            if (isFrequency)
                out.add("FREQ", khzToMhz(v));
        }
        break;
    }
    case CMode: {
        const QString upper = v.toUpper();
        if (upper == QLatin1String("SSB") || upper == QLatin1String("CW") || isAdifMode(upper)) {
            out.add("MODE", upper);
            break;
        }
        for (const Submode& s : adifSubmodes)
            if (upper == QLatin1String(s.submode)) {
                out.add("MODE", QString::fromLatin1(s.mode));
                out.add("SUBMODE", upper);
                break;
            }
        break;
    }
    case CRsts:
        out.add("RST_SENT", v);
        break;
    case CRstr:
        out.add("RST_RCVD", v);
        break;
    case CGrid:
        if (isLocator8(v))
            out.add("GRIDSQUARE", v);
        else if (v.size() == 10 && isLocator8(v.left(8)))
            out.add("GRIDSQUARE", v.left(8));
        break;
    case CName:
        out.add("NAME", v);
        break;
    case CComment:
        out.add("COMMENT", v);
        break;
    case CQsl:
        for (const QslCode& q : qslCodes)
            if (v.size() == 1 && v.at(0).toUpper() == QLatin1Char(q.code)) {
                out.add("QSL_SENT", QString::fromLatin1(q.sent));
                if (q.rcvd)
                    out.add("QSL_RCVD", QString::fromLatin1(q.rcvd));
            }
        break;
    case CProp: {
        const QString upper = v.toUpper();
        for (const auto& [code, adif] : propCodes)
            if (upper == QString::fromLatin1(code).toUpper()) {
                out.add("PROP_MODE", QString::fromLatin1(adif));
                return;
            }
        for (const char* p : adifPropModes)
            if (upper == QLatin1String(p))
                out.add("PROP_MODE", upper);
        break;
    }
    case CQrb:
        if (allDigits(v))
            out.add("DISTANCE", v);
        break;
    case CDxcc:
        out.add("COUNTRY", v);
        break;
    case CQth:
        out.add("QTH", v);
        break;
    case CQslVia:
        out.add("QSL_VIA", v);
        break;
    case CNrs:
        out.add("STX_STRING", v);
        break;
    case CNrr:
        out.add("SRX_STRING", v);
        break;
    case COperator:
        out.add("OPERATOR", v);
        break;
    case CContest:
        out.add("CONTEST_ID", v);
        break;
    case CMyGrid:
        if (isLocator8(v))
            out.add("MY_GRIDSQUARE", v);
        break;
    case CRig:
        out.add("MY_RIG", v);
        break;
    case CAntenna:
        out.add("MY_ANTENNA", v);
        break;
    case CCqZone:
        if (allDigits(v))
            out.add("CQZ", v);
        break;
    case CItuZone:
        if (allDigits(v))
            out.add("ITUZ", v);
        break;
    case CPower:
        if (isDecimal(v, false))
            out.add("TX_PWR", v);
        break;
    default:
        break; // QSLsent, QSLdate: no ADIF field means the same
    }
}

// The column's text from standard fields (whatever program wrote them).
template <class List> QString fromStandard(int column, const List& f) {
    auto get = [&f](const char* name) { return lastValue(f, name); };
    switch (column) {
    case CCall:
        return get("CALL");
    case CDate: {
        const QString t = get("QSO_DATE").trimmed();
        if (!compactDate(t).isValid())
            return {};
        return t.left(4) + QLatin1Char('-') + t.mid(4, 2) + QLatin1Char('-') + t.mid(6, 2);
    }
    case CTime: {
        const QString t = get("TIME_ON").trimmed();
        int h, m, sec;
        if (!timeOfDay(t, false, &h, &m, &sec))
            return {};
        return twoDigits(h) + QLatin1Char(':') + twoDigits(m) + QLatin1Char(':') + twoDigits(sec);
    }
    case CBand: {
        const QString freq = get("FREQ").trimmed();
        bool nonZero = false;
        for (const QChar c : freq)
            nonZero = nonZero || (c > QLatin1Char('0') && c <= QLatin1Char('9'));
        if (nonZero && isDecimal(freq, true))
            return mhzToKhz(freq);
        const AdifBand* b = bandNamed(get("BAND").trimmed());
        return b && b->lowMhz >= 1.0 ? QString::fromLatin1(b->digits) : QString();
    }
    case CMode: {
        const QString mode = get("MODE").trimmed().toUpper();
        const QString sub = get("SUBMODE").trimmed().toUpper();
        return mode == QLatin1String("SSB") || sub.isEmpty() ? mode : sub;
    }
    case CRsts:
        return get("RST_SENT");
    case CRstr:
        return get("RST_RCVD");
    case CGrid:
        return get("GRIDSQUARE").trimmed().toUpper();
    case CName:
        return get("NAME");
    case CComment:
        return get("COMMENT");
    case CQsl: {
        const QString sent = get("QSL_SENT").trimmed().toUpper();
        const bool rcvd = get("QSL_RCVD").trimmed().toUpper() == QLatin1String("Y");
        const bool sentYes = sent == QLatin1String("Y");
        if (rcvd)
            return sentYes ? QStringLiteral("Q") : QStringLiteral("T");
        if (sentYes)
            return QStringLiteral("N");
        if (sent == QLatin1String("Q") || sent == QLatin1String("R"))
            return QStringLiteral("Y");
        return {};
    }
    case CProp: {
        const QString p = get("PROP_MODE").trimmed().toUpper();
        for (const auto& [code, adif] : propCodes)
            if (p == QLatin1String(adif))
                return QString::fromLatin1(code);
        return p;
    }
    case CQrb: {
        // Whole kilometres: the digits before the point, without leading zeros.
        const QString d = get("DISTANCE").trimmed();
        if (!isDecimal(d, true))
            return {};
        QString km =
            d.left(d.indexOf(QLatin1Char('.')) < 0 ? d.size() : d.indexOf(QLatin1Char('.')));
        while (km.startsWith(QLatin1Char('0')))
            km.remove(0, 1);
        return km.size() <= 5 ? km : QString();
    }
    case CDxcc:
        return get("COUNTRY");
    case CQth:
        return get("QTH");
    case CQslVia:
        return get("QSL_VIA");
    case CNrs:
        return get("STX_STRING");
    case CNrr:
        return get("SRX_STRING");
    case COperator:
        return get("OPERATOR");
    case CContest:
        return get("CONTEST_ID");
    case CMyGrid:
        return get("MY_GRIDSQUARE");
    case CRig:
        return get("MY_RIG");
    case CAntenna:
        return get("MY_ANTENNA");
    case CCqZone:
        return get("CQZ");
    case CItuZone:
        return get("ITUZ");
    case CPower:
        return get("TX_PWR");
    default:
        return {};
    }
}

void appendField(QByteArray& out, const char* name, const QString& value) {
    if (value.isEmpty())
        return;
    bool ascii = true;
    for (const QChar c : value)
        ascii = ascii && c.unicode() < 0x80;
    // ASCII, as most fields are, goes in without a UTF-8 copy; the length is in bytes either way.
    const QByteArray utf8 = ascii ? QByteArray() : value.toUtf8();
    const qsizetype length = ascii ? value.size() : utf8.size();
    char digits[24];
    const auto end = std::to_chars(digits, digits + sizeof digits, length).ptr;
    out += '<';
    out += name;
    out += ':';
    out.append(digits, end - digits);
    out += '>';
    if (ascii) {
        const qsizetype at = out.size();
        out.resize(at + length);
        char* to = out.data() + at;
        for (const QChar c : value)
            *to++ = char(c.unicode());
    } else {
        out += utf8;
    }
    out += ' ';
}

// Columns whose text the standard field carries exactly as it stands.
bool plainText(int column) {
    switch (column) {
    case CCall:
    case CRsts:
    case CRstr:
    case CName:
    case CComment:
    case CDxcc:
    case CQth:
    case CQslVia:
    case CNrs:
    case CNrr:
    case COperator:
    case CContest:
    case CRig:
    case CAntenna:
        return true;
    default:
        return false;
    }
}

// Field bytes as text: UTF-8, or Latin-1 when they are no valid UTF-8.
QString decodeValue(QByteArrayView bytes) {
    bool ascii = true;
    for (const char c : bytes)
        if (uchar(c) >= 0x80) {
            ascii = false;
            break;
        }
    if (ascii)
        return QString::fromLatin1(bytes);
    // A byte order mark inside a value is kept as a character, so the value writes back whole.
    QStringDecoder utf8(QStringDecoder::Utf8,
                        QStringDecoder::Flag::Stateless | QStringDecoder::Flag::ConvertInitialBom);
    QString text = utf8.decode(bytes);
    if (utf8.hasError())
        text = QString::fromLatin1(bytes);
    return text;
}

bool isNameChar(char c) {
    return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '_';
}

// Longest tag the reader looks for: a name, a length and a type. Past it, a "<" is text.
constexpr qint64 MaxTagBytes = 128;

QString problemText(const AdifProblem& p) {
    return QCoreApplication::translate("Adif", "record %1 (byte %2): %3")
        .arg(p.record)
        .arg(p.offset)
        .arg(p.text);
}

} // namespace

// ---------------------------------------------------------------------------------------------
// Records

QString AdifRecord::field(const char* upperName) const {
    return lastValue(fields, upperName);
}

bool AdifRecord::has(const char* upperName) const {
    const QByteArrayView name(upperName);
    for (const auto& f : fields)
        if (QByteArrayView(f.first) == name)
            return true;
    return false;
}

bool AdifReader::next(AdifRecord& record) {
    record = AdifRecord{};
    const qint64 size = m_data.size();
    const char* data = m_data.data();
    bool any = false;
    auto start = [&](qint64 at) {
        if (!any) {
            any = true;
            record.offset = at;
        }
    };
    auto fail = [&](const QString& text) {
        if (record.problem.isEmpty())
            record.problem = text;
    };
    while (m_pos < size) {
        const void* found = std::memchr(data + m_pos, '<', size_t(size - m_pos));
        if (!found) {
            m_pos = size;
            break;
        }
        const qint64 lt = static_cast<const char*>(found) - data;
        const qint64 limit = qMin(size, lt + 1 + MaxTagBytes);
        qint64 gt = lt + 1;
        while (gt < limit && data[gt] != '>' && data[gt] != '<')
            ++gt;
        if (gt >= limit || data[gt] != '>') {
            m_pos = lt + 1; // a "<" in text between fields
            continue;
        }
        // name[:length[:type]]
        qint64 p = lt + 1;
        while (p < gt && isNameChar(data[p]))
            ++p;
        QByteArray name(data + lt + 1, p - lt - 1);
        for (char& c : name)
            if (c >= 'a' && c <= 'z')
                c = char(c - 'a' + 'A');
        if (name.isEmpty() || (p < gt && data[p] != ':')) {
            m_pos = lt + 1;
            continue;
        }
        if (p == gt) { // no length: only the markers have none
            m_pos = gt + 1;
            if (name == "EOR") {
                if (!any)
                    continue; // an <EOR> with nothing before it
                m_recordSeen = true;
                record.ended = true;
                record.number = ++m_number;
                return true;
            }
            if (name == "EOH") {
                if (!m_recordSeen && !m_headerSeen) {
                    // What came before was the header.
                    m_headerSeen = true;
                    record = AdifRecord{};
                    any = false;
                }
                continue; // a second one is noise
            }
            if (!any && m_number == 0 && !m_headerSeen)
                continue; // "<program>" in the free text of a header without <EOH>
            start(lt);
            fail(QCoreApplication::translate("Adif", "the field <%1> has no length")
                     .arg(QString::fromLatin1(name)));
            continue;
        }
        qint64 q = p + 1;
        qint64 length = 0;
        bool digits = false;
        bool tooLong = false;
        while (q < gt && data[q] >= '0' && data[q] <= '9') {
            digits = true;
            if (length > (qint64(1) << 40))
                tooLong = true;
            else
                length = length * 10 + (data[q] - '0');
            ++q;
        }
        if (!digits || (q < gt && data[q] != ':')) {
            start(lt);
            fail(QCoreApplication::translate("Adif", "the field <%1> has no valid length")
                     .arg(QString::fromLatin1(name)));
            m_pos = gt + 1;
            continue;
        }
        start(lt);
        const qint64 valueAt = gt + 1;
        if (tooLong || length > size - valueAt) {
            fail(QCoreApplication::translate("Adif", "the length %1 of field %2 runs past the end "
                                                     "of the file")
                     .arg(tooLong ? QStringLiteral(">1099511627776") : QString::number(length),
                          QString::fromLatin1(name)));
            // The value cannot be told from what follows: read on at the next tag.
            m_pos = valueAt;
            continue;
        }
        record.fields.append({name, decodeValue(m_data.sliced(valueAt, length))});
        m_pos = valueAt + length;
    }
    if (!any)
        return false;
    record.number = ++m_number;
    m_recordSeen = true;
    return true;
}

// ---------------------------------------------------------------------------------------------
// Conversion

QStringList AdifLogColumns() {
    QStringList out;
    for (const ColumnDef& c : columns)
        out << QString::fromLatin1(c.column);
    return out;
}

QString AdifBandOf(const QString& bandText) {
    bool isFrequency = false;
    const AdifBand* b = bandOfText(bandText, &isFrequency);
    return b ? QString::fromLatin1(b->name) : QString();
}

QByteArray AdifRecordText(const QStringList& values) {
    QByteArray out;
    out.reserve(512);
    Fields fields;
    for (int c = 0; c < ColumnCount && c < values.size(); ++c) {
        const QString& v = values.at(c);
        if (v.isEmpty())
            continue;
        fields.items.clear();
        standardFields(c, v, fields);
        for (const auto& [name, value] : fields.items)
            appendField(out, name.constData(), value);
        // What the standard fields cannot carry exactly travels beside them.
        if (!plainText(c) && fromStandard(c, fields.items) != v)
            appendField(out, columns[c].app, v);
    }
    out += "<EOR>\n";
    return out;
}

QStringList AdifLogValues(const AdifRecord& record) {
    QStringList out;
    out.reserve(ColumnCount);
    bool app = false; // most records from other programs carry none of ours
    for (const auto& f : record.fields)
        app = app || f.first.startsWith("APP_FARSCAN_");
    for (int c = 0; c < ColumnCount; ++c) {
        if (app && record.has(columns[c].app))
            out << record.field(columns[c].app);
        else
            out << fromStandard(c, record.fields);
    }
    return out;
}

// ---------------------------------------------------------------------------------------------
// Export

struct AdifExportJob::State {
    QString connectionText;
    AdifExportOptions options;
    DbConnection db;
    QSaveFile file;
    QString select;
    QList<int> columnOf; // result column of each exchange column, -1 when logtab lacks it
    qint64 lastRowid = -1;
    qint64 total = 0;
    bool done = false;
    AdifExportResult result;

    void fail(const QString& text) {
        done = true;
        result.ok = false;
        result.message = text;
        if (file.isOpen())
            file.cancelWriting();
        db.close();
        qCWarning(lcLogbook, "ADIF export failed: %s", qPrintable(text));
    }
};

AdifExportJob::AdifExportJob(const QString& connectionText, const QString& path,
                             const AdifExportOptions& options)
    : d(std::make_unique<State>()) {
    d->connectionText = connectionText;
    d->options = options;
    d->result.path = path;
    d->file.setFileName(path);
    if (!d->db.open(connectionText)) {
        d->fail(QCoreApplication::translate("Adif", "The log cannot be opened: %1")
                    .arg(d->db.lastError()));
        return;
    }
    QSqlDatabase& sql = d->db.handle()->database();
    const QSqlRecord layout = sql.record(QStringLiteral("logtab"));
    QStringList select{QStringLiteral("rowid")};
    for (const ColumnDef& c : columns) {
        const int at = layout.indexOf(QString::fromLatin1(c.column));
        d->columnOf << (at < 0 ? -1 : int(select.size()));
        if (at >= 0)
            select << QLatin1Char('"') + layout.fieldName(at) + QLatin1Char('"');
    }
    const bool band = !options.bandPattern.isEmpty();
    const QString where = band ? QStringLiteral(" AND Band LIKE ?") : QString();
    QSqlQuery count(sql);
    count.prepare(QStringLiteral("SELECT count(*) FROM logtab WHERE 1") + where);
    if (band)
        count.addBindValue(options.bandPattern);
    if (!count.exec() || !count.next()) {
        d->fail(QCoreApplication::translate("Adif", "The log cannot be read: %1")
                    .arg(count.lastError().text()));
        return;
    }
    d->total = count.value(0).toLongLong();
    d->select = QStringLiteral("SELECT ") + select.join(QStringLiteral(", ")) +
                QStringLiteral(" FROM logtab WHERE rowid > ?") + where +
                QStringLiteral(" ORDER BY rowid LIMIT ?");

    // A folder without write permission (or a full disk) fails here or at the commit; either
    // way the file the path names stays as it was.
    if (!d->file.open(QIODevice::WriteOnly)) {
        d->fail(QCoreApplication::translate("Adif", "%1 cannot be written: %2")
                    .arg(QDir::toNativeSeparators(path), d->file.errorString()));
        return;
    }
    const QDateTime created =
        options.created.isValid() ? options.created.toUTC() : QDateTime::currentDateTimeUtc();
    QString version = options.programVersion;
    if (version.isEmpty())
        version = QCoreApplication::applicationVersion();
    QByteArray header = "ADIF export of the Farscan log";
    if (band)
        header += " (band " + options.bandPattern.toUtf8() + ")";
    header += '\n';
    auto headerField = [&header](const char* name, const QString& value) {
        QByteArray line;
        appendField(line, name, value);
        if (!line.isEmpty()) {
            line.chop(1);
            header += line + '\n';
        }
    };
    headerField("ADIF_VER", QStringLiteral("3.1.4"));
    headerField("PROGRAMID", QStringLiteral("Farscan"));
    headerField("PROGRAMVERSION", version);
    headerField("CREATED_TIMESTAMP", created.toString(QStringLiteral("yyyyMMdd HHmmss")));
    header += "<EOH>\n";
    if (d->file.write(header) != header.size())
        d->fail(QCoreApplication::translate("Adif", "%1 cannot be written: %2")
                    .arg(QDir::toNativeSeparators(path), d->file.errorString()));
}

AdifExportJob::~AdifExportJob() {
    if (!d->done)
        cancel();
}

AdifProgress AdifExportJob::step(int budget) {
    AdifProgress progress;
    progress.total = d->total;
    progress.done = d->result.written;
    if (d->done) {
        progress.finished = true;
        return progress;
    }
    QSqlQuery query(d->db.handle()->database());
    query.setForwardOnly(true);
    query.prepare(d->select);
    query.addBindValue(d->lastRowid);
    if (!d->options.bandPattern.isEmpty())
        query.addBindValue(d->options.bandPattern);
    const int limit = qMax(1, budget);
    query.addBindValue(limit);
    if (!query.exec()) {
        d->fail(QCoreApplication::translate("Adif", "The log cannot be read: %1")
                    .arg(query.lastError().text()));
        progress.finished = true;
        return progress;
    }
    QByteArray chunk;
    QStringList values;
    int rows = 0;
    while (query.next()) {
        ++rows;
        d->lastRowid = query.value(0).toLongLong();
        values.clear();
        for (int c = 0; c < ColumnCount; ++c) {
            const int at = d->columnOf.at(c);
            QString v = at < 0 ? QString() : DbValueText(query.value(at));
            if (c == CQrb && v == QLatin1String("0"))
                v.clear(); // no distance: the logbook stores 0 for a QSO without a locator
            values << v;
        }
        chunk += AdifRecordText(values);
        ++d->result.written;
    }
    if (!chunk.isEmpty() && d->file.write(chunk) != chunk.size()) {
        d->fail(QCoreApplication::translate("Adif", "%1 cannot be written: %2")
                    .arg(QDir::toNativeSeparators(d->result.path), d->file.errorString()));
        progress.finished = true;
        return progress;
    }
    progress.done = d->result.written;
    if (rows == limit)
        return progress;
    // All rows written: the new file takes the name.
    d->db.close();
    if (!d->file.commit()) {
        d->fail(QCoreApplication::translate("Adif", "%1 cannot be written: %2")
                    .arg(QDir::toNativeSeparators(d->result.path), d->file.errorString()));
        progress.finished = true;
        return progress;
    }
    d->done = true;
    d->result.ok = true;
    d->result.message = QCoreApplication::translate("Adif", "%1 QSOs written to %2")
                            .arg(d->result.written)
                            .arg(QDir::toNativeSeparators(d->result.path));
    progress.finished = true;
    return progress;
}

void AdifExportJob::cancel() {
    if (d->done)
        return;
    d->done = true;
    d->file.cancelWriting();
    d->db.close();
    d->result.ok = false;
    d->result.cancelled = true;
    d->result.message = QCoreApplication::translate("Adif", "Export cancelled; %1 was not changed")
                            .arg(QDir::toNativeSeparators(d->result.path));
}

bool AdifExportJob::finished() const {
    return d->done;
}

const AdifExportResult& AdifExportJob::result() const {
    return d->result;
}

// ---------------------------------------------------------------------------------------------
// Import

namespace {

// What makes two QSOs the same: callsign, date, time to the minute, band.
QString duplicateKey(const QString& call, const QString& date, const QString& time,
                     const QString& band) {
    const QString adifBand = AdifBandOf(band);
    return call.trimmed().toUpper() + QLatin1Char('|') + date.left(10) + QLatin1Char('|') +
           time.left(5) + QLatin1Char('|') + (adifBand.isEmpty() ? band : adifBand);
}

} // namespace

struct AdifImportJob::State {
    QString home;
    QFile file;
    QByteArray bytes; // the file read into memory when it cannot be mapped
    QByteArrayView data;
    std::optional<AdifReader> reader;
    DbConnection db;
    bool inTransaction = false;
    std::optional<QSqlQuery> insert;
    QStringList insertColumns; // in bind order: NewLogRow's, then the extra ones
    QList<int> extraColumns;   // exchange columns bound after NewLogRow's
    DxccTable dxcc;
    QSet<QString> keys;
    bool done = false;
    AdifImportResult result;

    void fail(const QString& text) {
        insert.reset();
        if (inTransaction)
            db.rollback();
        inTransaction = false;
        done = true;
        result.ok = false;
        result.imported = 0;
        result.message = text;
        db.close();
        qCWarning(lcLogbook, "ADIF import failed: %s", qPrintable(text));
    }
    void unreadable(const AdifRecord& r, const QString& why) {
        ++result.unreadable;
        if (result.problems.size() < AdifImportResult::MaxProblems)
            result.problems.append({r.number, r.offset, why});
    }
};

AdifImportJob::AdifImportJob(const QString& connectionText, const QString& path,
                             const QString& homeLocator)
    : d(std::make_unique<State>()) {
    d->home = homeLocator;
    d->file.setFileName(path);
    if (!d->file.open(QIODevice::ReadOnly)) {
        d->fail(QCoreApplication::translate("Adif", "%1 cannot be read: %2")
                    .arg(QDir::toNativeSeparators(path), d->file.errorString()));
        return;
    }
    const qint64 size = d->file.size();
    if (size > 0) {
        // Mapped, so even a large file costs no copy; read whole where mapping fails.
        if (uchar* map = d->file.map(0, size)) {
            d->data = QByteArrayView(reinterpret_cast<const char*>(map), size);
        } else {
            d->bytes = d->file.readAll();
            d->data = d->bytes;
        }
    }
    d->reader.emplace(d->data);

    if (!d->db.open(connectionText)) {
        d->fail(QCoreApplication::translate("Adif", "The log cannot be opened: %1")
                    .arg(d->db.lastError()));
        return;
    }
    QSqlDatabase& sql = d->db.handle()->database();
    // The whole import is one transaction. With room for its pages in memory SQLite keeps the
    // file readable for the windows until the commit instead of locking it on the first spill.
    QSqlQuery(sql).exec(QStringLiteral("PRAGMA cache_size = -65536"));
    QString error;
    if (!d->dxcc.load(d->db, &error)) {
        d->fail(
            QCoreApplication::translate("Adif", "The country table cannot be read: %1").arg(error));
        return;
    }
    {
        // The QSOs already logged, once: duplicates are then found without a query per record.
        QSqlQuery existing(sql);
        existing.setForwardOnly(true);
        if (!existing.exec(QStringLiteral("SELECT Callsign, Date, GMT, Band FROM logtab"))) {
            d->fail(QCoreApplication::translate("Adif", "The log cannot be read: %1")
                        .arg(existing.lastError().text()));
            return;
        }
        while (existing.next())
            d->keys.insert(
                duplicateKey(DbValueText(existing.value(0)), DbValueText(existing.value(1)),
                             DbValueText(existing.value(2)), DbValueText(existing.value(3))));
    }
    const QSqlRecord layout = sql.record(QStringLiteral("logtab"));
    d->insertColumns = NewLogRow(LogEntry{}, QString()).columns;
    for (int c = CQth; c < ColumnCount; ++c) {
        const int at = layout.indexOf(QString::fromLatin1(columns[c].column));
        if (at < 0)
            continue; // a log in an older layout: that field is not kept
        d->extraColumns << c;
        d->insertColumns << layout.fieldName(at);
    }
    QStringList names, marks;
    for (const QString& c : d->insertColumns) {
        names << QLatin1Char('"') + c + QLatin1Char('"');
        marks << QStringLiteral("?");
    }
    if (!d->db.beginTransaction()) {
        d->fail(QCoreApplication::translate("Adif", "The log cannot be written: %1")
                    .arg(d->db.lastError()));
        return;
    }
    d->inTransaction = true;
    d->insert.emplace(sql);
    if (!d->insert->prepare(
            QStringLiteral("INSERT INTO logtab (%1) VALUES (%2)")
                .arg(names.join(QStringLiteral(", ")), marks.join(QStringLiteral(", "))))) {
        d->fail(QCoreApplication::translate("Adif", "The log cannot be written: %1")
                    .arg(d->insert->lastError().text()));
    }
}

AdifImportJob::~AdifImportJob() {
    if (!d->done)
        cancel();
}

AdifProgress AdifImportJob::step(int budget) {
    AdifProgress progress;
    progress.total = d->data.size();
    if (d->done) {
        progress.done = progress.total;
        progress.finished = true;
        return progress;
    }
    AdifRecord record;
    for (int n = 0; n < qMax(1, budget); ++n) {
        if (!d->reader->next(record)) {
            progress.done = progress.total;
            // All read: store it all at once.
            d->insert.reset();
            if (!d->db.commit()) {
                d->fail(QCoreApplication::translate("Adif", "The log cannot be written: %1")
                            .arg(d->db.lastError()));
                progress.finished = true;
                return progress;
            }
            d->inTransaction = false;
            d->db.close();
            d->done = true;
            AdifImportResult& r = d->result;
            r.ok = true;
            r.message = QCoreApplication::translate(
                            "Adif", "%1 QSOs imported, %2 duplicates skipped, %3 records "
                                    "unreadable")
                            .arg(r.imported)
                            .arg(r.duplicates)
                            .arg(r.unreadable);
            for (int i = 0; i < r.problems.size() && i < 5; ++i)
                r.message += QLatin1Char('\n') + problemText(r.problems.at(i));
            if (r.unreadable > 5)
                r.message += QStringLiteral("\n...");
            progress.finished = true;
            return progress;
        }
        ++d->result.records;
        if (!record.problem.isEmpty()) {
            d->unreadable(record, record.problem);
            continue;
        }
        const QStringList v = AdifLogValues(record);
        if (v.at(CCall).trimmed().isEmpty()) {
            d->unreadable(record, QCoreApplication::translate("Adif", "no CALL"));
            continue;
        }
        if (record.has("QSO_DATE") && !record.has(columns[CDate].app) && v.at(CDate).isEmpty()) {
            d->unreadable(record, QCoreApplication::translate("Adif", "QSO_DATE is no date"));
            continue;
        }
        if (record.has("TIME_ON") && !record.has(columns[CTime].app) && v.at(CTime).isEmpty()) {
            d->unreadable(record, QCoreApplication::translate("Adif", "TIME_ON is no time"));
            continue;
        }
        const QString key = duplicateKey(v.at(CCall), v.at(CDate), v.at(CTime), v.at(CBand));
        if (d->keys.contains(key)) {
            ++d->result.duplicates;
            continue;
        }
        LogEntry e;
        auto text = [](const QString& s) { return s.isEmpty() ? QVariant() : QVariant(s); };
        e.date = text(v.at(CDate));
        e.gmt = text(v.at(CTime));
        e.callsign = v.at(CCall);
        e.grid = v.at(CGrid);
        e.rsts = v.at(CRsts);
        e.rstr = v.at(CRstr);
        e.band = v.at(CBand);
        e.mode = v.at(CMode);
        e.name = v.at(CName);
        e.comment = v.at(CComment);
        e.qsl = v.at(CQsl);
        e.prop = v.at(CProp);
        // The log's own country table first, so the statistics count one name per country;
        // the file's name where the table knows the callsign not.
        e.dxcc = d->dxcc.countryOf(e.callsign);
        if (e.dxcc.isEmpty())
            e.dxcc = v.at(CDxcc);
        if (!v.at(CQrb).isEmpty())
            e.knownQrb = v.at(CQrb).toLongLong();
        const LogRow row = NewLogRow(e, d->home);
        QSqlQuery& q = *d->insert;
        int at = 0;
        for (const QVariant& value : row.values)
            q.bindValue(at++, value);
        for (const int c : std::as_const(d->extraColumns))
            q.bindValue(at++, text(v.at(c)));
        if (!q.exec()) {
            d->fail(QCoreApplication::translate("Adif",
                                                "The log cannot be written (record %1): %2; "
                                                "nothing was imported")
                        .arg(record.number)
                        .arg(q.lastError().text()));
            progress.finished = true;
            return progress;
        }
        d->keys.insert(key);
        ++d->result.imported;
    }
    progress.done = d->reader->position();
    return progress;
}

void AdifImportJob::cancel() {
    if (d->done)
        return;
    d->insert.reset();
    if (d->inTransaction)
        d->db.rollback();
    d->inTransaction = false;
    d->db.close();
    d->done = true;
    d->result.ok = false;
    d->result.cancelled = true;
    d->result.imported = 0;
    d->result.message =
        QCoreApplication::translate("Adif", "Import cancelled; the log was not changed");
}

bool AdifImportJob::finished() const {
    return d->done;
}

const AdifImportResult& AdifImportJob::result() const {
    return d->result;
}

AdifExportResult ExportLogAdif(const QString& connectionText, const QString& path,
                               const AdifExportOptions& options) {
    AdifExportJob job(connectionText, path, options);
    while (!job.step(2000).finished) {
    }
    return job.result();
}

AdifImportResult ImportLogAdif(const QString& connectionText, const QString& path,
                               const QString& homeLocator) {
    AdifImportJob job(connectionText, path, homeLocator);
    while (!job.step(2000).finished) {
    }
    return job.result();
}
