#pragma once

// An NMEA 0183 GPS receiver: once a second a burst of RMC, GGA, GSA and GSV sentences (talker
// "GP", CR LF ended) for a station that wanders a few metres around a position, or the
// sentences of a recorded log replayed at the pace of their time fields.

#include "SimDevice.h"

#include <QDateTime>

class QTimer;

// "$" + body + "*" + checksum + CR LF; the checksum is the XOR of the body's bytes.
QByteArray NmeaSentence(const QByteArray& body);
// True for a sentence ("$...*hh", line end optional) whose checksum matches its body.
bool NmeaChecksumOk(const QByteArray& sentence);

class GpsSim : public SimDevice {
    Q_OBJECT
public:
    enum class Fix { None, TwoD, ThreeD };

    explicit GpsSim(QObject* parent = nullptr);

    Fix fix() const { return m_fix; }
    void setFix(Fix fix);
    // Centre of the generated track, decimal degrees (south and west negative). False, and
    // nothing changed, for a position off the globe.
    bool moveTo(double latitude, double longitude);
    double latitude() const { return m_latitude; }
    double longitude() const { return m_longitude; }

    // Replays the sentences of a log (one a line, "#" lines are comments) in place of the
    // generated track, from its start again when it ends. False with *error set when the file
    // cannot be read or holds no sentence.
    bool replay(const QString& file, QString* error = nullptr);
    bool replaying() const { return !m_replay.isEmpty(); }

    // The generated burst for a moment (UTC): what the receiver sends at that second.
    QByteArray burst(const QDateTime& utc) const;
    // What went out last, and how many bursts so far.
    QByteArray lastBurst() const { return m_lastBurst; }
    int bursts() const { return m_bursts; }

    static QString FixName(Fix fix);

protected:
    void consume(QByteArray& buffer) override;

private:
    void tick();
    void send(const QByteArray& bytes);

    Fix m_fix = Fix::ThreeD;
    double m_latitude = 52.5;
    double m_longitude = 13.33;
    QTimer* m_timer;
    QByteArray m_lastBurst;
    int m_bursts = 0;

    struct ReplayBurst {
        QByteArray bytes;
        int delayMs; // before the next burst
    };
    QList<ReplayBurst> m_replay;
    int m_replayNext = 0;
    QString m_replayFile;
};
