#include "Settings.h"

#include "CoreLog.h"

#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>
#include <QSaveFile>
#include <QStringList>
#include <algorithm>
#include <cmath>
#include <limits>
#include <optional>

// ---------------------------------------------------------------------------------------------
// SettingValue

SettingValue SettingValue::number(qint64 value) {
    SettingValue v;
    if (value >= std::numeric_limits<qint16>::min() && value <= std::numeric_limits<qint16>::max())
        v.m_kind = Kind::Integer;
    else if (value >= std::numeric_limits<qint32>::min() &&
             value <= std::numeric_limits<qint32>::max())
        v.m_kind = Kind::Long;
    else
        return real(double(value));
    v.m_int = value;
    return v;
}

SettingValue SettingValue::longNumber(qint32 value) {
    SettingValue v;
    v.m_kind = Kind::Long;
    v.m_int = value;
    return v;
}

SettingValue SettingValue::clampedLong(qint64 value) {
    return longNumber(qint32(std::clamp<qint64>(value, std::numeric_limits<qint32>::min(),
                                                std::numeric_limits<qint32>::max())));
}

SettingValue SettingValue::real(double value) {
    SettingValue v;
    v.m_kind = Kind::Double;
    v.m_double = value;
    return v;
}

SettingValue SettingValue::boolean(bool value) {
    SettingValue v;
    v.m_kind = Kind::Boolean;
    v.m_bool = value;
    return v;
}

SettingValue SettingValue::text(const QString& value) {
    SettingValue v;
    v.m_kind = Kind::Text;
    v.m_text = value;
    return v;
}

SettingValue SettingValue::control(std::function<SettingValue()> current) {
    SettingValue v;
    v.m_kind = Kind::Control;
    v.m_control = std::move(current);
    return v;
}

bool SettingValue::isNumber() const {
    return m_kind == Kind::Integer || m_kind == Kind::Long || m_kind == Kind::Double;
}

SettingValue SettingValue::resolved() const {
    if (m_kind != Kind::Control)
        return *this;
    if (!m_control)
        return {};
    SettingValue v = m_control();
    // A control never shows another control; guard against a careless binding anyway.
    return v.m_kind == Kind::Control ? SettingValue() : v;
}

namespace {
// A real number rounded to a whole one, or nothing when no 64-bit integer holds it.
std::optional<qint64> WholeOf(double value) {
    if (!std::isfinite(value))
        return std::nullopt;
    const double r = std::round(value);
    // 2^63 is exact in a double; everything below it converts without overflow.
    if (r < -9223372036854775808.0 || r >= 9223372036854775808.0)
        return std::nullopt;
    return qint64(r);
}
} // namespace

qint64 SettingValue::toInt(qint64 fallback) const {
    switch (m_kind) {
    case Kind::Integer:
    case Kind::Long:
        return m_int;
    case Kind::Double:
        return WholeOf(m_double).value_or(fallback);
    case Kind::Boolean:
        return m_bool ? -1 : 0; // the file's convention: true is -1
    case Kind::Text: {
        bool ok = false;
        const QString t = m_text.trimmed();
        qint64 n = t.toLongLong(&ok);
        if (ok)
            return n;
        const double d = t.toDouble(&ok);
        return ok ? WholeOf(d).value_or(fallback) : fallback;
    }
    case Kind::Control:
        return resolved().toInt(fallback);
    case Kind::Empty:
        break;
    }
    return fallback;
}

qint32 SettingValue::toInt32(qint32 fallback) const {
    return qint32(std::clamp<qint64>(toInt(fallback), std::numeric_limits<qint32>::min(),
                                     std::numeric_limits<qint32>::max()));
}

double SettingValue::toDouble(double fallback) const {
    if (m_kind == Kind::Double)
        return m_double;
    if (m_kind == Kind::Text) {
        bool ok = false;
        double d = m_text.trimmed().toDouble(&ok);
        return ok ? d : fallback;
    }
    if (m_kind == Kind::Control)
        return resolved().toDouble(fallback);
    if (m_kind == Kind::Empty)
        return fallback;
    return double(toInt());
}

bool SettingValue::toBool() const {
    switch (m_kind) {
    case Kind::Boolean:
        return m_bool;
    case Kind::Text: {
        const QString t = m_text.trimmed();
        if (t.compare(QLatin1String("true"), Qt::CaseInsensitive) == 0 ||
            t == QLatin1String("#TRUE#"))
            return true;
        return toInt(0) != 0;
    }
    case Kind::Double:
        return m_double != 0.0;
    case Kind::Control:
        return resolved().toBool();
    default:
        return toInt(0) != 0;
    }
}

QString SettingValue::toText() const {
    switch (m_kind) {
    case Kind::Text:
        return m_text;
    case Kind::Integer:
    case Kind::Long:
        return QString::number(m_int);
    case Kind::Double:
        return QString::number(m_double, 'g', QLocale::FloatingPointShortest);
    case Kind::Boolean:
        return m_bool ? QStringLiteral("True") : QStringLiteral("False");
    case Kind::Control:
        return resolved().toText();
    case Kind::Empty:
        break;
    }
    return {};
}

bool SettingValue::operator==(const SettingValue& other) const {
    if (m_kind != other.m_kind)
        return false;
    switch (m_kind) {
    case Kind::Empty:
        return true;
    case Kind::Integer:
    case Kind::Long:
        return m_int == other.m_int;
    case Kind::Double:
        return m_double == other.m_double;
    case Kind::Boolean:
        return m_bool == other.m_bool;
    case Kind::Text:
        return m_text == other.m_text;
    case Kind::Control:
        return false;
    }
    return false;
}

// ---------------------------------------------------------------------------------------------
// Defaults

namespace Settings {
namespace {

const char* const kClusterHost1 = "dxc.db0sue.de";
const char* const kClusterHost2 = "dxc.dl0gr.de";
const char* const kQslAddress = "Q0ABC  Operator Name  Street 1  D-12345 Town";
const char* const kQslFoot = "73 de Q0ABC  email: q0abc@example.org";

SettingValue I(qint64 v) {
    return SettingValue::number(v);
}
SettingValue T(const char* v) {
    return SettingValue::text(QString::fromUtf8(v));
}

// Both default columns; they differ only in lines 5, 14, 20 and 36 to 43.
SettingValue Default(int slot, bool firstRun) {
    switch (slot) {
    case CwSpeedIndex:
        return I(2);
    case CwTextSelect:
        return I(-1);
    case CwLoop:
        return I(0);
    case CwText1:
        return T("text1");
    case CwText2:
        return T(firstRun ? "text2" : "t");
    case MyCallsign:
    case MyGrid:
        return T("");
    case Com1Enabled:
        return I(1);
    case Com1Port:
        return T("10");
    case Com1Settings:
        return T("9600,n,8,1");
    case Com2Enabled:
        return I(1);
    case Com2Port:
        return T("11");
    case Com2Settings:
        return T("9600,n,8,1");
    case Com3Enabled:
        return I(firstRun ? 1 : 0);
    case Com3Port:
        return T("13");
    case Com3Settings:
        return T("4800,n,8,1");
    case Com4Enabled:
        return I(1);
    case Com4Port:
        return T("12");
    case Com4Settings:
        return T("4800,n,8,1");
    case MarkerX:
        return T(firstRun ? "3640" : "3195");
    case ClusterHost1:
        return T(kClusterHost1);
    case ClusterPort1:
        return T("8000");
    case ClusterHost2:
        return T(kClusterHost2);
    case ClusterPort2:
        return T("7373");
    case ClusterSelect:
    case ClusterOption1:
    case ClusterOption2:
    case Reserved28:
    case Reserved29:
    case BeaconSortToggle:
        return I(1);
    case Reserved31:
        return I(5);
    case LogBandOption:
        return I(10);
    case LogBandFilter:
        return T("");
    case BandIndex:
        return I(1);
    case RigFrequency:
        return SettingValue::longNumber(144000);
    case QslInfo:
        return T(firstRun ? "" : "DOK: P25  WAZ: 14 ITU:28");
    case QslLine2:
    case QslLine3:
    case QslLine4:
        return T(firstRun ? "" : "Rig:");
    case QslAddress:
        return T(firstRun ? "" : kQslAddress);
    case QslFoot:
        return T(firstRun ? "" : kQslFoot);
    case WeatherFetch:
        return SettingValue::boolean(false);
    case GeTransparency:
        return T(firstRun ? "" : "128");
    case GeBeaconLines:
    case GeSquareLines:
        return I(1);
    case Com1Ft991:
    case Com2Ft991:
        return I(0);
    default:
        return {};
    }
}

} // namespace

SettingValue FirstRunDefault(int slot) {
    return Default(slot, true);
}

SettingValue MissingLineDefault(int slot) {
    return Default(slot, false);
}

// ---------------------------------------------------------------------------------------------
// Windows-1252

namespace {
// Code points of bytes 0x80-0x9F; 0 marks the five bytes the code page leaves undefined.
const char16_t kCp1252High[32] = {
    0x20AC, 0,      0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021, 0x02C6, 0x2030, 0x0160,
    0x2039, 0x0152, 0,      0x017D, 0,      0,      0x2018, 0x2019, 0x201C, 0x201D, 0x2022,
    0x2013, 0x2014, 0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0,      0x017E, 0x0178,
};

// The byte for a character, or -1 when the code page has none. The five bytes the code page
// leaves undefined are read as the C1 controls of the same number and written back as those
// bytes, so that they survive a load and a save.
int Cp1252Byte(char32_t c) {
    if (c < 0x80 || (c >= 0xA0 && c <= 0xFF))
        return int(c);
    if (c < 0xA0 && kCp1252High[c - 0x80] == 0)
        return int(c);
    for (int i = 0; i < 32; ++i)
        if (kCp1252High[i] != 0 && kCp1252High[i] == c)
            return 0x80 + i;
    return -1;
}
} // namespace

QByteArray EncodeCp1252(const QString& text) {
    QByteArray out;
    out.reserve(text.size());
    for (char32_t c : text.toUcs4()) {
        int b = Cp1252Byte(c);
        out.append(char(b < 0 ? '?' : b));
    }
    return out;
}

QString DecodeCp1252(const QByteArray& bytes) {
    QString out;
    out.reserve(bytes.size());
    for (char ch : bytes) {
        const unsigned char b = static_cast<unsigned char>(ch);
        if (b >= 0x80 && b < 0xA0) {
            const char16_t c = kCp1252High[b - 0x80];
            // Undefined bytes pass through as the C1 control of the same number, as Windows does.
            out.append(QChar(c ? c : char16_t(b)));
        } else {
            out.append(QChar(char16_t(b)));
        }
    }
    return out;
}

// ---------------------------------------------------------------------------------------------
// Written form

namespace {
// A text as it can stand between the quotes of one line: the form has no escape, so a double
// quote would end the text early and a line break would split the file. Characters the code
// page lacks are written as "?", as Windows writes them.
QString WritableText(const QString& text) {
    QString out;
    out.reserve(text.size());
    for (char32_t c : text.toUcs4()) {
        if (c == U'"')
            out.append(QLatin1Char('\''));
        else if (c < 0x20 || c == 0x7F || (c >= 0x80 && c < 0xA0 && Cp1252Byte(c) < 0))
            out.append(QLatin1Char(' '));
        else if (Cp1252Byte(c) < 0)
            out.append(QLatin1Char('?'));
        else
            out.append(QString::fromUcs4(&c, 1));
    }
    return out;
}
} // namespace

QString WrittenForm(const SettingValue& value) {
    const SettingValue v = value.resolved();
    switch (v.kind()) {
    case SettingValue::Kind::Text:
        return QLatin1Char('"') + WritableText(v.toText()) + QLatin1Char('"');
    case SettingValue::Kind::Boolean:
        return v.toBool() ? QStringLiteral("#TRUE#") : QStringLiteral("#FALSE#");
    case SettingValue::Kind::Integer:
    case SettingValue::Kind::Long:
    case SettingValue::Kind::Double:
        return v.toText();
    case SettingValue::Kind::Empty:
    case SettingValue::Kind::Control:
        break;
    }
    return {};
}

SettingValue ParseField(const QString& line) {
    const QString field = line.trimmed();
    if (field.isEmpty())
        return {};
    if (field.startsWith(QLatin1Char('"'))) {
        // Everything up to the next quote is the text, commas included.
        const qsizetype end = field.indexOf(QLatin1Char('"'), 1);
        return SettingValue::text(end < 0 ? field.mid(1) : field.mid(1, end - 1));
    }
    if (field == QLatin1String("#TRUE#"))
        return SettingValue::boolean(true);
    if (field == QLatin1String("#FALSE#"))
        return SettingValue::boolean(false);
    if (field == QLatin1String("#NULL#"))
        return {};
    bool ok = false;
    const qint64 n = field.toLongLong(&ok);
    if (ok)
        return SettingValue::number(n);
    const double d = field.toDouble(&ok);
    if (ok)
        return SettingValue::real(d);
    return SettingValue::text(field);
}
} // namespace Settings

// ---------------------------------------------------------------------------------------------
// File operations

QString DirectoryOf(const QString& path) {
    const qsizetype pos = path.lastIndexOf(QLatin1Char('\\'));
    return pos < 0 ? QString() : path.left(pos + 1);
}

bool FileExists(const QString& path) {
    QFileInfo info(path);
    if (!info.exists() || !info.isFile() || info.size() <= 0)
        return false;
    QFile f(path);
    return f.open(QIODevice::ReadOnly);
}

QString SettingsFilePath() {
    const QString name = QStringLiteral("Farscan.txt");
    return DirectoryOf(name) + name;
}

SettingsStore::SettingsStore(QString path) : m_path(std::move(path)) {}

bool SettingsStore::SaveSettings() {
    m_error.clear();
    if (m_loaded == SettingsLoad::Unreadable) {
        m_error = QStringLiteral("%1 could not be read at start; it is left as it is")
                      .arg(QFileInfo(m_path).absoluteFilePath());
        qCWarning(lcSettings, "Settings not saved: %s", qPrintable(m_error));
        return false;
    }
    QByteArray content;
    for (int slot = 0; slot < Settings::UsedSlots; ++slot) {
        SettingValue v = SettingsTable[size_t(slot)].resolved();
        // An empty line would end the next load early and lose every line after it.
        if (v.isEmpty())
            v = Settings::MissingLineDefault(slot);
        content += Settings::EncodeCp1252(Settings::WrittenForm(v));
        content += "\r\n";
    }
    // Write beside the old file and rename over it, so a crash or a full disk never leaves a
    // truncated settings file behind. A folder that takes no new file (the file itself is
    // writable) gets the file rewritten in place.
    QSaveFile file(m_path);
    file.setDirectWriteFallback(true);
    if (!file.open(QIODevice::WriteOnly)) {
        m_error = file.errorString();
    } else if (file.write(content) != content.size()) {
        m_error = file.errorString();
        file.cancelWriting();
    } else if (!file.commit()) {
        m_error = file.errorString();
    }
    if (m_error.isEmpty())
        return true;
    m_error =
        QStringLiteral("Cannot save %1: %2").arg(QFileInfo(m_path).absoluteFilePath(), m_error);
    qCWarning(lcSettings, "%s", qPrintable(m_error));
    return false;
}

SettingsLoad SettingsStore::LoadSettings() {
    m_error.clear();
    const QFileInfo info(m_path);
    if (info.exists() && info.isFile() && info.size() > 0 && !FileExists(m_path)) {
        // There but unreadable (permissions): recreating it would throw away every value.
        QFile probe(m_path);
        probe.open(QIODevice::ReadOnly);
        m_error =
            QStringLiteral("Cannot read %1: %2").arg(info.absoluteFilePath(), probe.errorString());
        qCWarning(lcSettings, "%s", qPrintable(m_error));
        for (int slot = 0; slot < Settings::UsedSlots; ++slot)
            SettingsTable[size_t(slot)] = Settings::MissingLineDefault(slot);
        m_loaded = SettingsLoad::Unreadable;
        return m_loaded;
    }
    m_loaded = SettingsLoad::Read;
    if (!FileExists(m_path)) {
        for (int slot = 0; slot < Settings::UsedSlots; ++slot)
            SettingsTable[size_t(slot)] = Settings::FirstRunDefault(slot);
        SaveSettings();
        m_loaded = SettingsLoad::Created;
    }

    QFile file(m_path);
    if (file.open(QIODevice::ReadOnly)) {
        // 101 lines of settings fit easily; a huge file is not read whole.
        const QString text = Settings::DecodeCp1252(file.read(1 << 20));
        file.close();
        QStringList lines = text.split(QRegularExpression(QStringLiteral("\r\n|\r|\n")));
        // A final line end closes the last line; it does not start another one.
        if (!lines.isEmpty() && lines.last().isEmpty())
            lines.removeLast();
        int slot = 0;
        for (const QString& line : lines) {
            if (slot >= Settings::SlotCount)
                break;
            SettingsTable[size_t(slot)] = Settings::ParseField(line);
            if (SettingsTable[size_t(slot)].isEmpty())
                break;
            ++slot;
        }
    }

    for (int slot = 0; slot < Settings::UsedSlots; ++slot)
        if (SettingsTable[size_t(slot)].isEmpty())
            SettingsTable[size_t(slot)] = Settings::MissingLineDefault(slot);
    return m_loaded;
}
