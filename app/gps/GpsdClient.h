#pragma once

// A client of gpsd, the GPS daemon: it asks for JSON reports on a TCP connection and maps the
// position report (TPV) and the satellite report (SKY) into the same results the NMEA parsers
// give, so the GPS window shows a gpsd receiver with the same boxes, locator and fix rule.

#include "Nmea.h"

#include <QByteArray>
#include <QObject>
#include <QString>

class QTcpSocket;

class GpsdClient : public QObject {
    Q_OBJECT
public:
    // A longer line without a newline is no report of gpsd's: it is dropped up to the next one.
    static constexpr qsizetype MaxLine = 64 * 1024;
    static constexpr quint16 DefaultPort = 2947;

    explicit GpsdClient(QObject* parent = nullptr);
    ~GpsdClient() override;

    // "host:port", "host" (port 2947) or "[v6 address]:port"; false for a text that names no
    // host or no valid port.
    static bool ParseHostPort(const QString& text, QString* host, quint16* port);

    // Connects to hostPort and asks for reports; false (with a status) for an unusable address.
    bool start(const QString& hostPort);
    void stop();
    // True from start until stop or the connection failed or ended.
    bool isRunning() const { return m_running; }
    bool isConnected() const;

    const GpsState& state() const { return m_state; }
    // Applies one JSON line; true when it changed the results. Bytes, not a socket, so the
    // mapping can be tested and fuzzed on its own.
    bool handleLine(const QByteArray& line);
    // Appends received bytes and handles the complete lines; true when the results changed.
    bool receive(const QByteArray& bytes);

signals:
    // The results changed.
    void updated();
    // The connection's state in words: connecting, connected, or why it failed or ended.
    void statusChanged(const QString& text, bool ok);

private:
    void setStatus(const QString& text, bool ok);

    QTcpSocket* m_socket = nullptr;
    QString m_address;
    QByteArray m_buffer;
    bool m_skipping = false;
    bool m_running = false;
    GpsState m_state;
};
