#pragma once

// The two kinds of transceiver the station drives: FT-847 5-byte CAT frames and FT-991 text
// commands. Each keeps the state its commands set and answers the queries the program and
// Hamlib send.

#include "SimDevice.h"

#include <QMap>

// Frequency texts as the log shows them.
QString Mhz10Hz(qint64 tenHz); // 14420000 -> "144.200 00"
QString MhzHz(qint64 hz);      // 144200000 -> "144.200 000"

class Ft847Sim : public SimDevice {
    Q_OBJECT
public:
    explicit Ft847Sim(QObject* parent = nullptr) : SimDevice(QStringLiteral("FT-847"), parent) {}

    qint64 frequency10Hz = 14420000;
    quint8 mode = 0x01; // USB
    bool ptt = false;
    bool catOn = false;

    static QString ModeName(quint8 mode);

protected:
    void consume(QByteArray& buffer) override;
    void flushIncomplete(QByteArray& buffer) override;

private:
    bool frame(const QByteArray& f);
};

class Ft991Sim : public SimDevice {
    Q_OBJECT
public:
    explicit Ft991Sim(QObject* parent = nullptr) : SimDevice(QStringLiteral("FT-991"), parent) {}

    qint64 frequencyHz = 144200000;
    qint64 frequencyBHz = 144200000;
    char mode = '2'; // USB
    bool transmit = false;
    QMap<QByteArray, QByteArray> menu; // EX items

protected:
    void consume(QByteArray& buffer) override;

private:
    void command(const QByteArray& text);
};
