#pragma once

// Helpers shared by the tests: an application object, a scratch working directory,
// pseudo-terminal pairs and a fake serial port.

#include "SerialPort.h"

#include <QByteArray>
#include <QString>
#include <QTemporaryDir>
#include <functional>

// The application object the Qt classes under test need; created once per test program.
void EnsureApplication();

// Runs check with the rights of an ordinary user: as it stands, or, when the test runs as root
// (which file modes do not stop), as "nobody" in a child process. Folders and files the check
// uses must be reachable by that user. Returns what the check returned.
bool RunUnprivileged(const std::function<bool()>& check);

// Runs the event loop until pred() holds or timeoutMs passed; returns pred().
bool WaitFor(const std::function<bool()>& pred, int timeoutMs = 3000);

// A fresh temporary directory made the current directory for the guard's lifetime.
class ScratchDir {
public:
    ScratchDir();
    ~ScratchDir();
    QString path() const { return m_dir.path(); }
    QString file(const QString& name) const { return m_dir.filePath(name); }

private:
    QTemporaryDir m_dir;
    QString m_previous;
};

// A pseudo-terminal pair: the program opens devicePath(); the test is the other end.
class PtyPair {
public:
    PtyPair();
    ~PtyPair();
    bool ok() const { return m_master >= 0; }
    QString devicePath() const { return m_slavePath; }
    // Everything the program wrote, gathered until nothing more arrives for quietMs, or
    // until maxMs passed for a peer that never falls silent (a polling timer).
    QByteArray readAvailable(int quietMs = 200, int maxMs = 3000);
    bool write(const QByteArray& bytes);
    // The peer goes away: its end closes, as when a USB adapter is pulled.
    void hangUp();

private:
    int m_master = -1;
    int m_slave = -1;
    QString m_slavePath;
};

// Sets an environment variable for the guard's lifetime.
class EnvGuard {
public:
    EnvGuard(const char* name, const QByteArray& value);
    ~EnvGuard();

private:
    QByteArray m_name;
    QByteArray m_old;
    bool m_had;
};

// A serial port that records what is written and lets the test deliver received bytes.
class FakeSerialPort : public SerialPort {
public:
    bool isOpen() const override { return m_open; }
    QByteArray written;
    QString openedDevice;
    bool refuseOpen = false;
    void deliver(const QByteArray& bytes) {
        m_in += bytes;
        dataArrived();
    }

protected:
    bool openDevice(const QString& device, const LineSettings&) override {
        if (refuseOpen) {
            setError(QStringLiteral("refused"));
            return false;
        }
        openedDevice = device;
        m_open = true;
        return true;
    }
    bool closeDevice() override {
        m_open = false;
        return true;
    }
    qint64 writeBytes(const QByteArray& bytes) override {
        written += bytes;
        return bytes.size();
    }
    QByteArray readBytes() override {
        QByteArray b = m_in;
        m_in.clear();
        return b;
    }
    int bytesWaiting() const override { return int(m_in.size()); }
    void dropBytes(qint64 count) override { m_in.remove(0, count); }

private:
    bool m_open = false;
    QByteArray m_in;
};
