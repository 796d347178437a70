#include "BoardLibrary.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>

#if defined(_WIN32) && !defined(_WIN64)
#define BOARD_CALL __stdcall
#else
#define BOARD_CALL
#endif

namespace {
// The library's results are one-byte booleans; arguments are bytes.
using Fn1 = unsigned char(BOARD_CALL*)(unsigned char);
using Fn3 = unsigned char(BOARD_CALL*)(unsigned char, unsigned char, unsigned char);
using FnGet = unsigned char(BOARD_CALL*)(unsigned char, unsigned char, unsigned char*);
} // namespace

QString BoardLibrary::DefaultFileName() {
#ifdef Q_OS_WIN
    return QStringLiteral("libportiva.dll"); // as the MinGW build names it
#elif defined(Q_OS_MACOS)
    return QStringLiteral("libportiva.1.dylib");
#else
    return QStringLiteral("libportiva.so.1");
#endif
}

BoardLibrary::BoardLibrary(QString fileName) : m_fileName(std::move(fileName)) {}

QFunctionPointer BoardLibrary::resolve(const char* name) {
    if (!m_loadTried) {
        m_loadTried = true;
        QString path = m_fileName;
        if (!path.contains(QLatin1Char('/')) && QCoreApplication::instance()) {
            // Beside the program in a build folder, else in the library folder of the prefix
            // the program is installed in; else the system's search path.
            const QDir bin(QCoreApplication::applicationDirPath());
            QStringList candidates = {bin.filePath(path)};
#ifdef FARSCAN_LIBDIR_FROM_BIN
            candidates << QDir::cleanPath(bin.filePath(QStringLiteral(FARSCAN_LIBDIR_FROM_BIN)) +
                                          QLatin1Char('/') + path);
#endif
            for (const QString& candidate : candidates) {
                if (QFileInfo::exists(candidate)) {
                    path = candidate;
                    break;
                }
            }
        }
        // The full file name with its version suffix is the name to load, as it stands.
        m_library.setFileNameAndVersion(path, QString());
        if (!m_library.load()) {
            m_error = m_library.errorString();
            return nullptr;
        }
    }
    if (!m_library.isLoaded()) {
        m_error = QStringLiteral("Board library not loaded: %1").arg(m_fileName);
        return nullptr;
    }
    QFunctionPointer f = m_library.resolve(name);
    if (!f)
        m_error = m_library.errorString();
    return f;
}

bool BoardLibrary::UsbInit(quint8 devNum) {
    if (!m_init)
        m_init = resolve("UsbInit");
    if (!m_init)
        return false;
    m_error.clear();
    return reinterpret_cast<Fn1>(m_init)(devNum) != 0;
}

bool BoardLibrary::UsbSetIODir(quint8 devNum, quint8 pinNr, bool dir) {
    if (!m_setIODir)
        m_setIODir = resolve("UsbSetIODir");
    if (!m_setIODir)
        return false;
    m_error.clear();
    return reinterpret_cast<Fn3>(m_setIODir)(devNum, pinNr, dir ? 1 : 0) != 0;
}

bool BoardLibrary::UsbSetPortDir(quint8 devNum, quint8 portNr, quint8 dir) {
    if (!m_setPortDir)
        m_setPortDir = resolve("UsbSetPortDir");
    if (!m_setPortDir)
        return false;
    m_error.clear();
    return reinterpret_cast<Fn3>(m_setPortDir)(devNum, portNr, dir) != 0;
}

bool BoardLibrary::UsbSetIOState(quint8 devNum, quint8 pinNr, bool state) {
    if (!m_setIOState)
        m_setIOState = resolve("UsbSetIOState");
    if (!m_setIOState)
        return false;
    m_error.clear();
    return reinterpret_cast<Fn3>(m_setIOState)(devNum, pinNr, state ? 1 : 0) != 0;
}

bool BoardLibrary::UsbGetPortState(quint8 devNum, quint8 portNr, quint8* state) {
    if (!state)
        return false;
    if (!m_getPortState)
        m_getPortState = resolve("UsbGetPortState");
    if (!m_getPortState)
        return false;
    m_error.clear();
    return reinterpret_cast<FnGet>(m_getPortState)(devNum, portNr, state) != 0;
}

BoardLibrary& Board() {
    static BoardLibrary library;
    return library;
}
