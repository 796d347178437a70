// The settings file as any program or editor may have left it: the load never fails badly, and
// what one save writes loads and saves again to the very same bytes.
#include "Settings.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <cstdlib>

namespace {
QTemporaryDir* g_dir = nullptr;

QByteArray Read(const QString& path) {
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}
} // namespace

extern "C" int LLVMFuzzerInitialize(int* argc, char*** argv) {
    static QCoreApplication app(*argc, *argv);
    g_dir = new QTemporaryDir;
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const QString path = g_dir->filePath(QStringLiteral("Farscan.txt"));
    {
        QFile f(path);
        if (!f.open(QIODevice::WriteOnly | QIODevice::Truncate))
            std::abort();
        f.write(reinterpret_cast<const char*>(data), qint64(size));
    }
    SettingsStore first(path);
    first.LoadSettings();
    for (int slot = 0; slot < Settings::SlotCount; ++slot) {
        // Every conversion a window makes of a slot.
        const SettingValue& v = first[slot];
        (void)v.toInt(1);
        (void)v.toInt32(1);
        (void)v.toDouble(1.0);
        (void)v.toBool();
        (void)v.toText();
    }
    if (!first.SaveSettings())
        std::abort();
    const QByteArray once = Read(path);
    SettingsStore second(path);
    second.LoadSettings();
    if (!second.SaveSettings() || Read(path) != once)
        std::abort(); // a saved file must come back as it was saved
    return 0;
}
