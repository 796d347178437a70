#pragma once

// The program's settings: one value per line in "Farscan.txt" in the working directory,
// held in memory in the program-wide SettingsTable.

#include <QString>
#include <array>
#include <functional>

// A tagged value of one settings slot. A slot is empty until something is assigned to it;
// an empty text is not empty.
class SettingValue {
public:
    enum class Kind { Empty, Integer, Long, Double, Boolean, Text, Control };

    SettingValue() = default;
    // Whole numbers take the integer tag when they fit 16 bits, the long tag when they fit 32
    // bits, else they are kept as a real number.
    static SettingValue number(qint64 value);
    static SettingValue longNumber(qint32 value);
    // The long tag for a value of a 32-bit setting; a value beyond 32 bits is clamped.
    static SettingValue clampedLong(qint64 value);
    static SettingValue real(double value);
    static SettingValue boolean(bool value);
    static SettingValue text(const QString& value);
    // A window control whose current value is what gets written at the next save.
    static SettingValue control(std::function<SettingValue()> current);

    Kind kind() const { return m_kind; }
    bool isEmpty() const { return m_kind == Kind::Empty; }
    bool isNumber() const;

    // Conversions where the value is used: numbers from texts of numbers, booleans as
    // non-zero numbers, texts of numbers and booleans in the file's written form.
    // Numbers the program cannot hold (not finite, beyond 64 bits) give the fallback.
    qint64 toInt(qint64 fallback = 0) const;
    // toInt clamped into 32 bits, for values kept in 32-bit variables.
    qint32 toInt32(qint32 fallback = 0) const;
    double toDouble(double fallback = 0.0) const;
    bool toBool() const;
    QString toText() const;

    // A control reference resolved to the value it currently shows; others unchanged.
    SettingValue resolved() const;

    bool operator==(const SettingValue& other) const;

private:
    Kind m_kind = Kind::Empty;
    qint64 m_int = 0;
    double m_double = 0.0;
    bool m_bool = false;
    QString m_text;
    std::function<SettingValue()> m_control;
};

// The settings file: "Farscan.txt" resolved against the current directory.
QString SettingsFilePath();

QString DirectoryOf(const QString& path);
bool FileExists(const QString& path);

namespace Settings {
// Slot numbers: slot i holds line i + 1 of the file.
enum Slot : int {
    CwSpeedIndex = 0,
    CwTextSelect,
    CwLoop,
    CwText1,
    CwText2,
    MyCallsign,
    MyGrid,
    Com1Enabled,
    Com1Port,
    Com1Settings,
    Com2Enabled,
    Com2Port,
    Com2Settings,
    Com3Enabled,
    Com3Port,
    Com3Settings,
    Com4Enabled,
    Com4Port,
    Com4Settings,
    MarkerX,
    ClusterHost1,
    ClusterPort1,
    ClusterHost2,
    ClusterPort2,
    ClusterSelect,
    ClusterOption1,
    ClusterOption2,
    Reserved28,
    Reserved29,
    BeaconSortToggle,
    Reserved31,
    LogBandOption,
    LogBandFilter,
    BandIndex,
    RigFrequency,
    QslInfo,
    QslLine2,
    QslLine3,
    QslLine4,
    QslAddress,
    QslFoot,
    WeatherFetch,
    GeTransparency,
    GeBeaconLines,
    GeSquareLines,
    Com1Ft991,
    Com2Ft991,
};

constexpr int SlotCount = 101; // slots read from the file
constexpr int UsedSlots = 47;  // slots with a meaning, the ones written back

SettingValue FirstRunDefault(int slot);
SettingValue MissingLineDefault(int slot);

// The file's written form of one value, as it stands in a line without its CR LF.
QString WrittenForm(const SettingValue& value);
// Reads one line's field back into a value; a line with nothing on it gives the empty value.
SettingValue ParseField(const QString& line);

// Windows-1252, the code page the file is written in on Windows stations.
QByteArray EncodeCp1252(const QString& text);
QString DecodeCp1252(const QByteArray& bytes);
} // namespace Settings

// What a load found.
enum class SettingsLoad {
    Read,       // the file was read (lines it lacks got their missing-line defaults)
    Created,    // there was no file (or an empty one): it was written with first-run defaults
    Unreadable, // the file is there but cannot be read: defaults in memory, the file untouched
};

// The settings file and the program-wide table of its values. One store lives for the whole
// run and is handed to every window; nobody reloads the file behind another window's back.
class SettingsStore {
public:
    // path: the settings file; by default "Farscan.txt" in the working directory.
    explicit SettingsStore(QString path = SettingsFilePath());

    std::array<SettingValue, Settings::SlotCount> SettingsTable;
    SettingValue& operator[](int slot) { return SettingsTable[size_t(slot)]; }
    const SettingValue& operator[](int slot) const { return SettingsTable[size_t(slot)]; }

    // Fills the table from the file, creating the file with first-run defaults when it is
    // missing or empty. A file that is there but cannot be read is left alone: the table gets
    // the missing-line defaults and no later save overwrites the file (see SaveSettings).
    SettingsLoad LoadSettings();
    // Writes slots 0 to 46, replacing the file as a whole: beside it and renamed over it, or in
    // place when the folder cannot take a new file. False with lastError() when nothing was
    // written, also when the file could not be read at load (saving would destroy it).
    bool SaveSettings();

    QString path() const { return m_path; }
    QString lastError() const { return m_error; }
    // The outcome of the last load.
    SettingsLoad loaded() const { return m_loaded; }

private:
    QString m_path;
    QString m_error;
    SettingsLoad m_loaded = SettingsLoad::Read;
};
