#include "Settings.h"
#include "TestSupport.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <gtest/gtest.h>

namespace {

QByteArray ReadFile(const QString& path) {
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

void WriteFile(const QString& path, const QByteArray& content) {
    QFile f(path);
    ASSERT_TRUE(f.open(QIODevice::WriteOnly | QIODevice::Truncate));
    f.write(content);
}

QList<QByteArray> Lines(const QByteArray& content) {
    QList<QByteArray> lines = content.split('\n');
    if (!lines.isEmpty() && lines.last().isEmpty())
        lines.removeLast();
    return lines;
}

// The file a first run writes, line by line.
const char* const kFirstRun[] = {
    "2",
    "-1",
    "0",
    "\"text1\"",
    "\"text2\"",
    "\"\"",
    "\"\"",
    "1",
    "\"10\"",
    "\"9600,n,8,1\"",
    "1",
    "\"11\"",
    "\"9600,n,8,1\"",
    "1",
    "\"13\"",
    "\"4800,n,8,1\"",
    "1",
    "\"12\"",
    "\"4800,n,8,1\"",
    "\"3640\"",
    nullptr /* cluster host 1 */,
    "\"8000\"",
    nullptr /* cluster host 2 */,
    "\"7373\"",
    "1",
    "1",
    "1",
    "1",
    "1",
    "1",
    "5",
    "10",
    "\"\"",
    "1",
    "144000",
    "\"\"",
    "\"\"",
    "\"\"",
    "\"\"",
    "\"\"",
    "\"\"",
    "#FALSE#",
    "\"\"",
    "1",
    "1",
    "0",
    "0",
};

class SettingsFile : public ::testing::Test {
protected:
    void SetUp() override { EnsureApplication(); }
    void ClearTable() {
        for (auto& slot : store.SettingsTable)
            slot = SettingValue();
    }
    ScratchDir dir;
    SettingsStore store; // "Farscan.txt" in the scratch folder, the working directory
    SettingsStore& SettingsTable = store;
    QString path() const { return dir.file(QStringLiteral("Farscan.txt")); }
    bool LoadSettings() { return store.LoadSettings() != SettingsLoad::Unreadable; }
    bool SaveSettings() { return store.SaveSettings(); }
};

TEST_F(SettingsFile, FirstRunCreatesTheFileWithFirstRunDefaults) {
    ASSERT_FALSE(QFileInfo::exists(path()));
    LoadSettings();
    const QByteArray content = ReadFile(path());
    const QList<QByteArray> lines = Lines(content);
    ASSERT_EQ(lines.size(), 47);
    ASSERT_EQ(content.count("\r\n"), 47) << "every line ends in CR LF";
    for (int i = 0; i < 47; ++i) {
        ASSERT_TRUE(lines[i].endsWith('\r')) << "line " << i + 1;
        const QByteArray line = lines[i].chopped(1);
        if (kFirstRun[i])
            EXPECT_EQ(line, QByteArray(kFirstRun[i])) << "line " << i + 1;
        else
            EXPECT_TRUE(line.size() > 2 && line.startsWith('"') && line.endsWith('"'))
                << "cluster host on line " << i + 1;
    }
    // The table holds the same values the file shows.
    EXPECT_EQ(SettingsTable[Settings::CwSpeedIndex], SettingValue::number(2));
    EXPECT_EQ(SettingsTable[Settings::CwText1], SettingValue::text("text1"));
    EXPECT_EQ(SettingsTable[Settings::Com3Enabled].toInt(), 1);
    EXPECT_EQ(SettingsTable[Settings::MarkerX], SettingValue::text("3640"));
    EXPECT_EQ(SettingsTable[Settings::RigFrequency].toInt(), 144000);
    EXPECT_EQ(SettingsTable[Settings::WeatherFetch], SettingValue::boolean(false));
    EXPECT_EQ(SettingsTable[Settings::QslInfo], SettingValue::text(""));
    EXPECT_FALSE(SettingsTable[Settings::QslInfo].isEmpty()) << "an empty text is not empty";
}

TEST_F(SettingsFile, ZeroLengthFileIsTreatedAsMissing) {
    WriteFile(path(), QByteArray());
    LoadSettings();
    const QList<QByteArray> lines = Lines(ReadFile(path()));
    ASSERT_EQ(lines.size(), 47);
    EXPECT_EQ(lines[4], "\"text2\"\r");
    EXPECT_EQ(lines[19], "\"3640\"\r");
}

TEST_F(SettingsFile, ShortFileGetsMissingLineDefaults) {
    QByteArray content;
    for (int i = 0; i < 20; ++i)
        content += (i == 13 ? QByteArray("7") : QByteArray(kFirstRun[i])) + "\r\n";
    WriteFile(path(), content);
    LoadSettings();
    EXPECT_EQ(SettingsTable[Settings::Com3Enabled].toInt(), 7) << "line 14 was present";
    EXPECT_EQ(SettingsTable[Settings::CwText2], SettingValue::text("text2"));
    EXPECT_EQ(SettingsTable[Settings::ClusterPort1], SettingValue::text("8000"));
    EXPECT_EQ(SettingsTable[Settings::QslInfo], SettingValue::text("DOK: P25  WAZ: 14 ITU:28"));
    EXPECT_EQ(SettingsTable[Settings::QslLine2], SettingValue::text("Rig:"));
    EXPECT_EQ(SettingsTable[Settings::GeTransparency], SettingValue::text("128"));
    EXPECT_EQ(SettingsTable[Settings::Com2Ft991].toInt(), 0);
    EXPECT_FALSE(SettingsTable[Settings::QslAddress].toText().isEmpty());
    EXPECT_FALSE(SettingsTable[Settings::QslFoot].toText().isEmpty());
    // The file itself is completed only at the next save.
    EXPECT_EQ(Lines(ReadFile(path())).size(), 20);
    ASSERT_TRUE(SaveSettings());
    const QList<QByteArray> lines = Lines(ReadFile(path()));
    ASSERT_EQ(lines.size(), 47);
    EXPECT_EQ(lines[35], "\"DOK: P25  WAZ: 14 ITU:28\"\r");
    EXPECT_EQ(lines[42], "\"128\"\r");
}

TEST_F(SettingsFile, EmptyLineEndsReadingAndLaterLinesAreIgnored) {
    QByteArray content;
    for (int i = 0; i < 47; ++i) {
        if (i == 4)
            content += "\r\n";
        else if (i == 19)
            content += "\"9999\"\r\n"; // present in the file, but below the empty line
        else
            content += QByteArray(kFirstRun[i] ? kFirstRun[i] : "\"host\"") + "\r\n";
    }
    WriteFile(path(), content);
    LoadSettings();
    EXPECT_EQ(SettingsTable[Settings::CwText1], SettingValue::text("text1"));
    EXPECT_EQ(SettingsTable[Settings::CwText2], SettingValue::text("t"));
    EXPECT_EQ(SettingsTable[Settings::MarkerX], SettingValue::text("3195"));
    EXPECT_EQ(SettingsTable[Settings::Com3Enabled].toInt(), 0);
    EXPECT_EQ(SettingsTable[Settings::GeTransparency], SettingValue::text("128"));
}

TEST_F(SettingsFile, SlotsAfterAnEmptyLineKeepWhatTheyHeld) {
    SettingsTable[Settings::MyCallsign] = SettingValue::text("Q0ABC");
    WriteFile(path(), "3\r\n\r\n\"x\"\r\n");
    LoadSettings();
    EXPECT_EQ(SettingsTable[Settings::CwSpeedIndex].toInt(), 3);
    EXPECT_EQ(SettingsTable[Settings::CwTextSelect].toInt(), -1) << "the empty line's default";
    EXPECT_EQ(SettingsTable[Settings::MyCallsign], SettingValue::text("Q0ABC"));
}

TEST_F(SettingsFile, QuotedCommasBelongToTheText) {
    WriteFile(path(), "2\r\n-1\r\n0\r\n\"a, b, c\"\r\n\"4800,n,8,1\"\r\n");
    LoadSettings();
    EXPECT_EQ(SettingsTable[Settings::CwText1], SettingValue::text("a, b, c"));
    EXPECT_EQ(SettingsTable[Settings::CwText2], SettingValue::text("4800,n,8,1"));
}

TEST_F(SettingsFile, SavingWritesOnlyTheUsedLines) {
    QByteArray content;
    for (int i = 0; i < 80; ++i)
        content += QByteArray::number(i + 100) + "\r\n";
    WriteFile(path(), content);
    LoadSettings();
    EXPECT_EQ(SettingsTable[60].toInt(), 160) << "lines past 47 are read";
    ASSERT_TRUE(SaveSettings());
    const QList<QByteArray> lines = Lines(ReadFile(path()));
    EXPECT_EQ(lines.size(), 47);
    EXPECT_EQ(lines[46], "146\r");
}

TEST_F(SettingsFile, ReadingStopsAfter101Slots) {
    QByteArray content;
    for (int i = 0; i < 120; ++i)
        content += QByteArray::number(i) + "\r\n";
    WriteFile(path(), content);
    LoadSettings();
    EXPECT_EQ(SettingsTable[100].toInt(), 100);
}

TEST_F(SettingsFile, SaveThenLoadReturnsEveryValueUnchanged) {
    LoadSettings();
    SettingsTable[Settings::CwSpeedIndex] = SettingValue::number(3);
    SettingsTable[Settings::CwTextSelect] = SettingValue::boolean(true);
    SettingsTable[Settings::CwLoop] = SettingValue::boolean(false);
    SettingsTable[Settings::CwText1] = SettingValue::text("vvv de q0abc 73°");
    SettingsTable[Settings::CwText2] = SettingValue::text("Grüße, 73 €");
    SettingsTable[Settings::MyCallsign] = SettingValue::text("Q0ABC/P");
    SettingsTable[Settings::MyGrid] = SettingValue::text("JO62QM");
    SettingsTable[Settings::Com1Port] = SettingValue::text("/dev/serial/by-id/usb-FTDI_x-if00");
    SettingsTable[Settings::RigFrequency] = SettingValue::longNumber(14420000);
    SettingsTable[Settings::Reserved31] = SettingValue::number(-32768);
    SettingsTable[Settings::LogBandOption] = SettingValue::real(2.5);
    SettingsTable[Settings::QslLine2] = SettingValue::text("  leading and trailing  ");
    SettingsTable[Settings::QslLine3] = SettingValue::text("");
    SettingsTable[Settings::WeatherFetch] = SettingValue::boolean(true);
    const auto before = store.SettingsTable;
    ASSERT_TRUE(SaveSettings());
    ClearTable();
    LoadSettings();
    for (int i = 0; i < Settings::UsedSlots; ++i)
        EXPECT_EQ(SettingsTable[i], before[i])
            << "slot " << i << ": " << qPrintable(before[i].toText());
}

TEST_F(SettingsFile, FileIsWindows1252) {
    LoadSettings();
    SettingsTable[Settings::CwText1] = SettingValue::text("° ü €");
    ASSERT_TRUE(SaveSettings());
    EXPECT_EQ(Lines(ReadFile(path()))[3], QByteArray("\"\xB0 \xFC \x80\"\r"));

    // A file written on a Windows station reads back with the same characters.
    WriteFile(path(), "2\r\n-1\r\n0\r\n\"73 \xB0\xDF\x80\x99\"\r\n");
    LoadSettings();
    EXPECT_EQ(SettingsTable[Settings::CwText1].toText(), QString::fromUtf8("73 °ß€™"));
}

TEST_F(SettingsFile, TextsTheFileCannotHoldDoNotCorruptIt) {
    LoadSettings();
    SettingsTable[Settings::QslInfo] = SettingValue::text("say \"hi\"");
    SettingsTable[Settings::QslLine2] = SettingValue::text("Ω 73");
    SettingsTable[Settings::QslLine3] = SettingValue::text("two\r\nlines");
    ASSERT_TRUE(SaveSettings());
    const QList<QByteArray> lines = Lines(ReadFile(path()));
    ASSERT_EQ(lines.size(), 47);
    EXPECT_EQ(lines[35], "\"say 'hi'\"\r");
    EXPECT_EQ(lines[36], "\"? 73\"\r");
    EXPECT_EQ(lines[37], "\"two  lines\"\r");
    ClearTable();
    LoadSettings();
    EXPECT_EQ(SettingsTable[Settings::QslInfo], SettingValue::text("say 'hi'"));
    EXPECT_EQ(SettingsTable[Settings::QslLine4], SettingValue::text(""));
    EXPECT_EQ(SettingsTable[Settings::Com2Ft991].toInt(), 0) << "lines after it survive";
}

TEST_F(SettingsFile, AnEmptySlotIsNeverWrittenAsAnEmptyLine) {
    LoadSettings();
    SettingsTable[Settings::MyGrid] = SettingValue();
    SettingsTable[Settings::Com4Port] = SettingValue::text("/dev/ttyUSB3");
    ASSERT_TRUE(SaveSettings());
    ClearTable();
    LoadSettings();
    EXPECT_EQ(SettingsTable[Settings::Com4Port], SettingValue::text("/dev/ttyUSB3"));
}

TEST_F(SettingsFile, SaveReplacesTheFileWhole) {
    LoadSettings();
    ASSERT_TRUE(SaveSettings());
    const QStringList entries = QDir(dir.path()).entryList(QDir::Files | QDir::Hidden);
    EXPECT_EQ(entries, QStringList{QStringLiteral("Farscan.txt")}) << "no temporary file left";
}

TEST_F(SettingsFile, ControlReferencesAreWrittenAsTheirCurrentValue) {
    LoadSettings();
    QString box = QStringLiteral("from the box");
    SettingsTable[Settings::CwText1] =
        SettingValue::control([&box] { return SettingValue::text(box); });
    box = QStringLiteral("typed later");
    ASSERT_TRUE(SaveSettings());
    EXPECT_EQ(Lines(ReadFile(path()))[3], "\"typed later\"\r");
}

TEST(SettingsHelpers, DirectoryOfAndFileExists) {
    EXPECT_EQ(DirectoryOf(QStringLiteral("Farscan.txt")), QString());
    EXPECT_EQ(DirectoryOf(QStringLiteral("C:\\Farscan\\Farscan.txt")),
              QStringLiteral("C:\\Farscan\\"));
    EXPECT_EQ(DirectoryOf(QStringLiteral("a\\b\\")), QStringLiteral("a\\b\\"));
    EXPECT_EQ(SettingsFilePath(), QStringLiteral("Farscan.txt"));

    ScratchDir dir;
    EXPECT_FALSE(FileExists(dir.file("missing.txt")));
    WriteFile(dir.file("empty.txt"), {});
    EXPECT_FALSE(FileExists(dir.file("empty.txt")));
    WriteFile(dir.file("one.txt"), "x");
    EXPECT_TRUE(FileExists(dir.file("one.txt")));
    EXPECT_FALSE(FileExists(dir.path())) << "a folder is not a settings file";
}

TEST(SettingsHelpers, FieldParsing) {
    using Settings::ParseField;
    EXPECT_TRUE(ParseField("").isEmpty());
    EXPECT_TRUE(ParseField("   ").isEmpty());
    EXPECT_EQ(ParseField("\"\""), SettingValue::text(""));
    EXPECT_EQ(ParseField("#TRUE#"), SettingValue::boolean(true));
    EXPECT_EQ(ParseField("-1").kind(), SettingValue::Kind::Integer);
    EXPECT_EQ(ParseField("144000").kind(), SettingValue::Kind::Long);
    EXPECT_EQ(ParseField("144000").toInt(), 144000);
    EXPECT_EQ(ParseField("1.5"), SettingValue::real(1.5));
    EXPECT_EQ(ParseField("\"unterminated"), SettingValue::text("unterminated"));
    EXPECT_EQ(ParseField("bare words"), SettingValue::text("bare words"));
    EXPECT_EQ(SettingValue::text("12").toInt(), 12);
    EXPECT_TRUE(SettingValue::number(-1).toBool());
    EXPECT_FALSE(SettingValue::text("0").toBool());
}

} // namespace

// Values the table cannot hold as numbers, and bytes the code page leaves undefined, come back
// as they were or clamped; nothing is mangled, and no conversion is undefined.
TEST_F(SettingsFile, ValuesOutOfRangeAndUndefinedBytesAreNeverMangled) {
    QByteArray content;
    for (int i = 0; i < 47; ++i) {
        if (i == Settings::RigFrequency)
            content += "9999999999999\r\n";
        else if (i == Settings::MarkerX)
            content += "1e+308\r\n";
        else if (i == Settings::BandIndex)
            content += "nan\r\n";
        else if (i == Settings::Reserved31)
            content += "-inf\r\n";
        else if (i == Settings::QslInfo)
            content += "\"x\x81\x8D\x8F\x90\x9Dy \x80\"\r\n";
        else
            content += QByteArray(kFirstRun[i] ? kFirstRun[i] : "\"host\"") + "\r\n";
    }
    WriteFile(path(), content);
    ASSERT_TRUE(LoadSettings());
    EXPECT_EQ(SettingsTable[Settings::RigFrequency].toInt(), 9999999999999LL);
    EXPECT_EQ(SettingsTable[Settings::RigFrequency].toInt32(), 2147483647);
    EXPECT_EQ(SettingsTable[Settings::MarkerX].toInt(7), 7) << "no 64-bit integer holds 1e308";
    EXPECT_EQ(SettingsTable[Settings::MarkerX].toInt32(7), 7);
    EXPECT_EQ(SettingsTable[Settings::BandIndex].toInt(1), 1);
    EXPECT_EQ(SettingsTable[Settings::Reserved31].toInt32(5), 5);
    EXPECT_EQ(SettingValue::text(QStringLiteral("1e300")).toInt(3), 3);
    EXPECT_EQ(SettingValue::clampedLong(9999999999999LL), SettingValue::longNumber(2147483647));
    EXPECT_EQ(SettingValue::clampedLong(-9999999999999LL),
              SettingValue::longNumber(-2147483647 - 1));

    // Saved untouched, every byte comes back as it was read.
    ASSERT_TRUE(SaveSettings());
    EXPECT_EQ(ReadFile(path()), content);
}

// A settings file that is there but cannot be read is left alone, and a save that cannot be
// made says so instead of failing quietly; a folder that takes no new file still gets the file
// rewritten in place.
TEST_F(SettingsFile, UnreadableAndUnwritableFilesAreNeverLostSilently) {
    ASSERT_TRUE(QFile::setPermissions(
        dir.path(), QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner |
                        QFileDevice::ReadOther | QFileDevice::WriteOther | QFileDevice::ExeOther));
    QByteArray content;
    for (int i = 0; i < 47; ++i)
        content += QByteArray(kFirstRun[i] ? kFirstRun[i] : "\"host\"") + "\r\n";
    content.replace("\"text1\"", "\"kept\"");
    WriteFile(path(), content);
    const QString file = path();
    const QString folder = dir.path();

    // Unreadable (write-only for its owner): defaults in memory, the file as it was.
    ASSERT_TRUE(QFile::setPermissions(file, QFileDevice::WriteOwner | QFileDevice::WriteOther));
    EXPECT_TRUE(RunUnprivileged([&] {
        SettingsStore s(file);
        if (s.LoadSettings() != SettingsLoad::Unreadable || s.lastError().isEmpty())
            return false;
        if (s[Settings::CwText1].toText() != QLatin1String("text1"))
            return false;
        return !s.SaveSettings() && !s.lastError().isEmpty();
    }));
    ASSERT_TRUE(QFile::setPermissions(file, QFileDevice::ReadOwner | QFileDevice::WriteOwner |
                                                QFileDevice::ReadOther | QFileDevice::WriteOther));
    EXPECT_EQ(ReadFile(file), content);

    // The folder takes no new file, the file is writable: saved in place.
    ASSERT_TRUE(QFile::setPermissions(folder, QFileDevice::ReadOwner | QFileDevice::ExeOwner |
                                                  QFileDevice::ReadOther | QFileDevice::ExeOther));
    EXPECT_TRUE(RunUnprivileged([&] {
        SettingsStore s(file);
        if (s.LoadSettings() != SettingsLoad::Read)
            return false;
        s[Settings::CwText1] = SettingValue::text(QStringLiteral("saved in place"));
        return s.SaveSettings();
    }));
    EXPECT_EQ(Lines(ReadFile(file))[3], "\"saved in place\"\r");

    // Neither can be written: the save fails with a reason.
    ASSERT_TRUE(QFile::setPermissions(file, QFileDevice::ReadOwner | QFileDevice::ReadOther));
    EXPECT_TRUE(RunUnprivileged([&] {
        SettingsStore s(file);
        if (s.LoadSettings() != SettingsLoad::Read)
            return false;
        return !s.SaveSettings() && s.lastError().contains(QLatin1String("Farscan.txt"));
    }));
    QFile::setPermissions(folder,
                          QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);
    QFile::setPermissions(file, QFileDevice::ReadOwner | QFileDevice::WriteOwner);
}
