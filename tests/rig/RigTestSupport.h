#pragma once

// Shared by the rig tests: ports opened on the simulator's pseudo-terminals, the recording
// board library, and a clean program state.

#include "BoardLibrary.h"
#include "ProgramState.h"
#include "SerialPort.h"
#include "SimDevice.h"
#include "TestSupport.h"

#include <QElapsedTimer>
#include <QLibrary>
#include <QStringList>
#include <memory>
#include <ostream>

// Readable failure messages for Qt texts.
inline void PrintTo(const QString& s, std::ostream* os) {
    *os << '"' << s.toStdString() << '"';
}
inline void PrintTo(const QByteArray& b, std::ostream* os) {
    *os << '[' << b.toHex(' ').toStdString() << ']';
}

// A real serial port (QSerialPort) opened on a simulated device.
inline std::unique_ptr<SerialPort> OpenOn(SimDevice* device, bool open = true,
                                          const QString& settings = QStringLiteral("9600,n,8,1")) {
    auto port = CreateSystemSerialPort();
    port->setPort(device->devicePath());
    port->setSettings(settings);
    if (open)
        port->open();
    return port;
}

// Waits until the device has received at least n bytes, then a little longer so that nothing
// further is missed; returns everything received.
inline QByteArray ReceivedBy(SimDevice* device, int n, int settleMs = 60) {
    WaitFor([&] { return device->received().size() >= n; }, 3000);
    QElapsedTimer quiet;
    quiet.start();
    WaitFor([&] { return quiet.elapsed() >= settleMs; }, settleMs + 1000);
    return device->received();
}

// Lets the event loop run for a while (the devices read their terminals from it).
inline void Settle(int ms = 80) {
    QElapsedTimer t;
    t.start();
    WaitFor([&] { return t.elapsed() >= ms; }, ms + 1000);
}

inline QByteArray Bytes(std::initializer_list<int> values) {
    QByteArray b;
    for (int v : values)
        b.append(char(v));
    return b;
}

// The recording board library of these tests.
class Recorder {
public:
    Recorder()
        : board(QStringLiteral(RIG_RECORDER_LIBRARY)), m_lib(QStringLiteral(RIG_RECORDER_LIBRARY)) {
        m_lib.load();
        m_calls = reinterpret_cast<const char* (*)()>(m_lib.resolve("RecordedCalls"));
        m_clear = reinterpret_cast<void (*)()>(m_lib.resolve("ClearRecordedCalls"));
        clear();
    }
    QStringList calls() const {
        return m_calls ? QString::fromLatin1(m_calls()).split(QLatin1Char(';'), Qt::SkipEmptyParts)
                       : QStringList();
    }
    void clear() {
        if (m_clear)
            m_clear();
    }
    bool ok() const { return m_calls && m_clear; }

    BoardLibrary board;

private:
    QLibrary m_lib;
    const char* (*m_calls)() = nullptr;
    void (*m_clear)() = nullptr;
};

// First member of a fixture: the application object must exist before the simulated devices,
// whose terminal watchers need its event dispatcher.
struct AppFirst {
    AppFirst() { EnsureApplication(); }
};

inline void ResetProgram() {
    Program() = ProgramState{};
}
