#pragma once

// The rotor controller (azimuth, text commands ending in ";") and the elevation and
// temperature sensor box (binary query and reply).

#include "SimDevice.h"

#include <optional>

class QTimer;

class RotorSim : public SimDevice {
    Q_OBJECT
public:
    explicit RotorSim(QObject* parent = nullptr);

    double azimuth = 0;          // degrees, 0-360
    double degreesPerSecond = 4; // turning speed
    // Where the rotor is heading: none while it stands.
    std::optional<double> target;
    QString secondEntry;

    bool turning() const { return target.has_value(); }

protected:
    void consume(QByteArray& buffer) override;

private:
    void command(const QByteArray& text);
    void step();

    QTimer* m_motion;
    qint64 m_lastStep = 0;
};

// Reply to 7F 01 87 (18 bytes): bytes 1-3 echo the query, 4-11 status (zero), 12-15 the
// elevation as a signed 32-bit big-endian number of thousandths of a degree, 16-17 the
// temperature as a signed 16-bit big-endian number of hundredths of a degree, 18 the sum of
// bytes 1-17 modulo 256.
QByteArray SensorReply(qint32 elevationThousandths, qint16 temperatureHundredths);

class SensorSim : public SimDevice {
    Q_OBJECT
public:
    explicit SensorSim(QObject* parent = nullptr) : SimDevice(QStringLiteral("Sensor"), parent) {}

    qint32 elevationThousandths = 700;
    qint16 temperatureHundredths = 2150;
    bool started = false;
    // When set, sent instead of the reply (garbled or short answers).
    std::optional<QByteArray> replyOverride;
    int queries = 0;

protected:
    void consume(QByteArray& buffer) override;
};
