#pragma once

// Shared by the rig tests: ports opened on the simulator's pseudo-terminals, the fake board that
// records its calls, and a clean program state.

#include "FakeBoard.h"
#include "ProgramState.h"
#include "SerialPort.h"
#include "SimDevice.h"
#include "TestSupport.h"

#include <QElapsedTimer>
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

// The board calls of these tests, in the board library's terms.
struct Recorder {
    FakeBoard board;
    QStringList calls() const { return board.calls(); }
    void clear() { board.clear(); }
};

// First member of a fixture: the application object must exist before the simulated devices,
// whose terminal watchers need its event dispatcher.
struct AppFirst {
    AppFirst() { EnsureApplication(); }
};

// The program-wide values the rig control of a test works on.
inline ProgramState& Program() {
    static ProgramState state;
    return state;
}

inline void ResetProgram() {
    Program() = ProgramState{};
}
