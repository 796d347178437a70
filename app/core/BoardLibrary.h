#pragma once

// The I/O board library, bound at run time by file name and export name. Each export is resolved
// on its first call. Without the library (or without the export) every call returns false and
// the caller goes on: the station works without a board, only nothing switches.

#include <QLibrary>
#include <QString>
#include <QtGlobal>

class BoardLibrary {
public:
    // The library's file name on this platform ("libportiva.so.1" on Linux).
    static QString DefaultFileName();

    // fileName: a bare name is looked for beside the program first, then by the system's rules.
    explicit BoardLibrary(QString fileName = DefaultFileName());
    BoardLibrary(const BoardLibrary&) = delete;
    BoardLibrary& operator=(const BoardLibrary&) = delete;

    bool UsbInit(quint8 devNum);
    bool UsbSetIODir(quint8 devNum, quint8 pinNr, bool dir);
    bool UsbSetPortDir(quint8 devNum, quint8 portNr, quint8 dir);
    bool UsbSetIOState(quint8 devNum, quint8 pinNr, bool state);
    bool UsbGetPortState(quint8 devNum, quint8 portNr, quint8* state);

    // Why the last call failed without reaching the library; empty after a call that did.
    QString lastError() const { return m_error; }
    bool isLoaded() const { return m_library.isLoaded(); }

private:
    QFunctionPointer resolve(const char* name);

    QString m_fileName;
    QLibrary m_library;
    bool m_loadTried = false;
    QString m_error;
    QFunctionPointer m_init = nullptr;
    QFunctionPointer m_setIODir = nullptr;
    QFunctionPointer m_setPortDir = nullptr;
    QFunctionPointer m_setIOState = nullptr;
    QFunctionPointer m_getPortState = nullptr;
};

// The program's board library.
BoardLibrary& Board();
