#pragma once

// Antenna control: azimuth commands to the rotor controller on Com4, the elevation motor on
// the board's elevation lines, the elevation and temperature sensor on Com3, and the polling
// step of the main timer with its automatic elevation hold.

#include "StationBoard.h"

#include <QByteArray>
#include <QColor>
#include <QObject>
#include <QString>
#include <QTimer>
#include <optional>
#include <vector>

class SerialPort;

// A sensor reply as hexadecimal text, two upper-case digits per byte, in order of arrival.
QString SensorHexText(const QByteArray& reply);

struct SensorReading {
    qint32 elevationThousandths = 0; // characters 23-30: signed 32-bit, thousandths of a degree
    std::optional<qint16> temperatureHundredths; // characters 31-34, when the text reaches them
};
// Decodes the hexadecimal reply text; nothing when it is too short to hold the elevation.
std::optional<SensorReading> DecodeSensorText(const QString& hexText);

// Elevation in tenths of a degree, rounded half away from zero ("##0.0"), and its text.
int ElevationTenths(qint32 thousandths);
QString ElevationText(int tenths);

// "AP1" + three digits + CR + ";" for a heading text, "AW1" + three digits + ";" for the
// second entry. Empty when the text is no number or the rounded number does not fit (0-360
// for a heading, 0-999 for the second entry).
QByteArray HeadingCommand(const QString& text);
QByteArray SecondEntryCommand(const QString& text);

class RotorControl : public QObject {
    Q_OBJECT
public:
    // buttonHeld: the window's held-button flag shared with the tuning buttons.
    RotorControl(SerialPort* com3, SerialPort* com4, StationBoard* board, bool* buttonHeld,
                 QObject* parent = nullptr);
    // Lets go of every elevation line still switched on.
    ~RotorControl() override;

    int PulseLength = 50; // ms

    // Readouts and the automatic hold.
    QString Label1;  // azimuth
    QString Label30; // elevation
    QString Label31; // temperature
    bool EleAuto = false;
    // Elevation of the last complete tick, tenths of a degree.
    std::optional<int> elevationTenths;

    void AziL();
    void AziR();
    void RotorStop();
    // Reads and may rewrite the heading box text ("" becomes "000"). False when nothing was
    // sent (no number, out of range, or the port is closed).
    bool TurnToHeading(QString& Text160);
    bool Text177Enter(const QString& Text177);

    // Held elevation buttons: the motor line is on from MouseDown until MouseUp, or until the
    // shared held-button flag drops for any other reason (another held button let go).
    void EleUpMouseDown() { holdElevation(BoardLine::ElevationUp); }
    void EleDwnMouseDown() { holdElevation(BoardLine::ElevationDown); }
    void EleMouseUp();
    bool elevationHeld() const { return !m_heldLines.empty(); }

    // One pulse of PulseLength ms on the line; the line goes off from a timer.
    void ElevationPulse(bool up);
    bool pulseRunning() const { return m_pulseTimer.isActive(); }

    // The polling step of the main timer.
    void PollTick();

    // Back colour and caption of the EleAuto toggle for its state.
    static QColor EleAutoColour(bool automatic);
    static QString EleAutoCaption(bool automatic);

signals:
    void label1Changed(const QString& text);
    void label30Changed(const QString& text);
    void label31Changed(const QString& text);
    void eleAutoChanged(bool automatic);
    void rotorStopColourChanged(const QColor& colour);

private:
    void setEleAuto(bool on);
    void holdElevation(BoardLine line);
    void releaseHeldLines();
    void endPulse();
    void pollAzimuth();
    void pollSensor();

    SerialPort* m_com3;
    SerialPort* m_com4;
    StationBoard* m_board;
    bool m_ownHeld = false;
    bool* m_buttonHeld;
    std::vector<BoardLine> m_heldLines; // in the order they were pressed
    QTimer m_holdWatch;                 // notices the shared flag dropping
    QTimer m_pulseTimer;
    std::optional<BoardLine> m_pulseLine;
};
