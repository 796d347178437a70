#pragma once

// A simulated station device on a pseudo-terminal. The program under test opens the terminal's
// device path as if it were a serial port; the device reads what arrives on the other end,
// records every byte with a time stamp, tells what it understood, and answers.

#include <QByteArray>
#include <QList>
#include <QObject>
#include <QString>
#include <QStringList>

class QSocketNotifier;
class QTimer;

class SimDevice : public QObject {
    Q_OBJECT
public:
    struct Reception {
        qint64 msecsSinceEpoch; // UTC
        QByteArray bytes;
    };

    // kind: "FT-847", "FT-991", "Rotor", "Sensor".
    explicit SimDevice(QString kind, QObject* parent = nullptr);
    ~SimDevice() override;

    bool ok() const { return m_master >= 0; }
    QString kind() const { return m_kind; }
    // The device the program opens, such as /dev/pts/7.
    QString devicePath() const { return m_path; }

    // Everything received, in order of arrival.
    const QList<Reception>& receptions() const { return m_receptions; }
    QByteArray received() const;
    // What the device made of it, one line per command ("FT-847: frequency 144.200 00 MHz").
    const QStringList& understood() const { return m_understood; }
    // Forgets the record (not the device's state).
    void clearRecord();

    // Reads what is waiting on the terminal now, without waiting for the event loop.
    void poll();

signals:
    void understoodLine(const QString& line);
    void bytesReceived(const QByteArray& bytes);

protected:
    // Takes complete commands from the front of the buffer; leaves an incomplete rest.
    virtual void consume(QByteArray& buffer) = 0;
    // Called when nothing more arrived for a while after an incomplete rest.
    virtual void flushIncomplete(QByteArray& buffer);
    void say(const QString& what);
    void reply(const QByteArray& bytes);
    // Bytes written to the terminal that the program has not read yet.
    int unreadByProgram() const;
    // Drops them, as a serial line loses what nobody takes in.
    void dropUnread();

private:
    void readMaster();

    QString m_kind;
    int m_master = -1;
    int m_slave = -1; // held open so the terminal survives the program closing it
    QString m_path;
    QSocketNotifier* m_notifier = nullptr;
    QTimer* m_quiet = nullptr;
    QByteArray m_buffer;
    QList<Reception> m_receptions;
    QStringList m_understood;
};
