#pragma once

// Tuning and band choice: the tuning routine all frequency changes go through, the preset and
// mode buttons, the held tuning buttons, the transmit toggle, and the band clicks that switch
// the transverter relays on the station board and choose the transceiver later commands go to.
// Plain logic: it acts on two transceivers and the board and tells the widgets what to show
// through signals.

#include "CatTransceiver.h"
#include "TransmitControl.h"

#include <QColor>
#include <QObject>
#include <QString>
#include <QTimer>
#include <functional>

class SerialPort;
class SettingsStore;
class StationBoard;
struct ProgramState;

// The default number-to-text conversion: shortest form, at most 15 significant digits, the
// user's decimal separator, no grouping (10368.2, 1296.2, 21.5).
QString DefaultNumberText(double value);

// How long the bytes take on the port's line at its line settings (ms, rounded up); 0 for a
// closed port.
int LineTimeMs(const SerialPort* port, qsizetype bytes);

// One transverter band of OptBandR.
struct TransverterBand {
    const char* caption;
    int relay;           // relay line switched on
    const char* pattern; // BandPattern
    double offset;       // TransverterOffset, 10 Hz units (band minus 144 MHz)
};
// Index 1-9; nullptr outside.
const TransverterBand* TransverterBandAt(int index);
// Preset RigFrequency of OptBandV index 1-3 (10 Hz units); 0 outside.
qint64 DirectBandPreset(int index);

class RigControl : public QObject, public TransmitControl {
    Q_OBJECT
public:
    // Null ports, board or settings are allowed: what would go there is skipped, and without
    // settings both transceivers are FT-847s on enabled ports.
    RigControl(ProgramState& state, SerialPort* com1, SerialPort* com2, StationBoard* board,
               const SettingsStore* settings = nullptr, QObject* parent = nullptr);

    // The settings dialog's FT991 check boxes of the Com1 row (Check2) and the Com2 row
    // (Check3), and Com1Enabled, read at each use. By default from the settings.
    std::function<bool()> Check2;
    std::function<bool()> Check3;
    std::function<bool()> Com1Enabled;

    // Window state. RigPort, RigFrequency, RigFreqText and BandPattern are program-wide.
    double TransverterOffset = 0;
    bool ApplyBandPreset = false;
    int BandIndex = 0;    // last OptBandR index
    int VhfBandIndex = 0; // last OptBandV index
    int BandLine = 0;
    int OptQRG = 1; // selected tuning-step option 1-4
    // Selected options of the two band groups (0 = none); only one of both is non-zero.
    int OptBandRValue = 0;
    int OptBandVValue = 0;
    QString formatFre;
    QString Label41;

    ProgramState& state() { return m_state; }
    const ProgramState& state() const { return m_state; }

    // True while a tuning or elevation button is held; shared with the rotor control.
    bool& ButtonHeld() { return m_buttonHeld; }
    bool* buttonHeldFlag() { return &m_buttonHeld; }

    SerialPort* com1() const { return m_com1; }
    SerialPort* com2() const { return m_com2; }

    // Tunes the transceiver of RigPort. FreqText is trimmed in place. False when no frequency
    // command could be formed from the text or it could not be written.
    bool SetRigFrequency(QString& FreqText);

    // Preset and mode buttons: 1 "100", 2 "200", 3 "900", 4 "CW", 5 "SSB".
    void OptFT847(int Index);

    // Held tuning buttons: MouseDown makes one step at once and repeats it while the button is
    // held, each step once the previous one's frames are on the line; MouseUp ends it.
    void FreqUpMouseDown() { startTuning(+1); }
    void FreqDwnMouseDown() { startTuning(-1); }
    void FreqMouseUp();
    // Ends every held action (the window is closing).
    void releaseButtons() { FreqMouseUp(); }
    bool tuningHeld() const { return m_tuneTimer.isActive(); }

    // The transmit toggle's click: PTT on/off to the transceiver of RigPort; false when the
    // command could not be sent. setTxRx sets the toggle and runs this on a change.
    bool TxRx(bool value);

    void OptBandR(int Index);
    void OptBandV(int Index);

    // The port named by RigPort.
    SerialPort* rigPortObject() const;
    // formatFre := (RigFrequency + TransverterOffset) / 100000 as text.
    void showFrequency();

    // TransmitControl: the keyer's view of the rig.
    QString rigPort() const override;
    Transceiver* transceiver(int com) override;
    bool setTxRx(bool on) override;
    bool txRx() const override { return m_txRx; }
    void showTxRxReceive() override;

signals:
    void formatFreChanged(const QString& text);
    void label41Changed(const QString& text);
    // The selected options of both groups after a band click.
    void bandOptionsChanged(int bandR, int bandV);
    void txRxChanged(bool on);
    void txRxColourChanged(const QColor& colour);
    // OptFT847 with Com1 disabled: colour lblCom1 red and show the message.
    void com1NotOpen(const QString& message);

private:
    void startTuning(int direction);
    void tuneStep();
    int tuningWriteMs() const;
    void setAndTune(const QString& freq);
    Transceiver* rigTransceiver();

    ProgramState& m_state;
    SerialPort* m_com1;
    SerialPort* m_com2;
    StationBoard* m_board;
    CatTransceiver m_ft847[2];
    CatTransceiver m_ft991[2];
    bool m_buttonHeld = false;
    bool m_txRx = false;
    int m_tuneDirection = 0;
    QTimer m_tuneTimer;
};
