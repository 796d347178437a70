#pragma once

// Tuning and band choice: the tuning routine all frequency changes go through, the preset and
// mode buttons, the held tuning buttons, the transmit toggle, and the band clicks that switch
// the transverter relays on board 0 and choose the transceiver later commands go to.
// Plain logic: it acts on two serial ports and the board library and tells the widgets what to
// show through signals.

#include <QColor>
#include <QObject>
#include <QString>
#include <functional>

class BoardLibrary;
class SerialPort;

// The default number-to-text conversion: shortest form, at most 15 significant digits, the
// user's decimal separator, no grouping (10368.2, 1296.2, 21.5).
QString DefaultNumberText(double value);

// How long the bytes take on the port's line at its line settings (ms, rounded up); 0 for a
// closed port.
int LineTimeMs(const SerialPort* port, qsizetype bytes);

// One transverter band of OptBandR.
struct TransverterBand {
    const char* caption;
    int line;            // I/O line switched on
    const char* pattern; // BandPattern
    double offset;       // TransverterOffset, 10 Hz units (band minus 144 MHz)
};
// Index 1-9; nullptr outside.
const TransverterBand* TransverterBandAt(int index);
// Preset RigFrequency of OptBandV index 1-3 (10 Hz units); 0 outside.
qint64 DirectBandPreset(int index);

class RigControl : public QObject {
    Q_OBJECT
public:
    // Null ports or board are allowed: what would go there is skipped.
    RigControl(SerialPort* com1, SerialPort* com2, BoardLibrary* board, QObject* parent = nullptr);

    // The settings dialog's FT991 check boxes of the Com1 row (Check2) and the Com2 row
    // (Check3), and Com1Enabled, read at each use. By default from the settings table.
    std::function<bool()> Check2;
    std::function<bool()> Check3;
    std::function<bool()> Com1Enabled;

    // Window state. RigPort, RigFrequency, RigFreqText and BandPattern are the program-wide
    // values of Program().
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

    // True while a tuning or elevation button is held; shared with the rotor control.
    bool& ButtonHeld() { return *m_buttonHeld; }
    bool* buttonHeldFlag() { return m_buttonHeld; }

    SerialPort* com1() const { return m_com1; }
    SerialPort* com2() const { return m_com2; }

    // Tunes the transceiver of RigPort. FreqText is trimmed in place. False when no frequency
    // command could be formed from the text or it could not be written.
    bool SetRigFrequency(QString& FreqText);
    bool SendTextFrequency();
    bool SendModeCwText();
    bool SendModeUsbText();
    bool SendTransmitText();
    bool SendReceiveText();

    // Preset and mode buttons: 1 "100", 2 "200", 3 "900", 4 "CW", 5 "SSB".
    void OptFT847(int Index);

    // Held tuning buttons. MouseDown runs until a MouseUp arrives while events are processed;
    // each step waits until its frames have gone out on the line.
    void FreqUpMouseDown() { tuneWhileHeld(+1); }
    void FreqDwnMouseDown() { tuneWhileHeld(-1); }
    void FreqMouseUp() { ButtonHeld() = false; }
    // Ends every held-button loop (the window is closing).
    void releaseButtons() { ButtonHeld() = false; }

    // The transmit toggle: PTT on/off frame to the port of RigPort.
    void TxRx(bool value);

    void OptBandR(int Index);
    void OptBandV(int Index);

    // The port named by RigPort.
    SerialPort* rigPortObject() const;
    // formatFre := (RigFrequency + TransverterOffset) / 100000 as text.
    void showFrequency();

signals:
    void formatFreChanged(const QString& text);
    void label41Changed(const QString& text);
    // The selected options of both groups after a band click.
    void bandOptionsChanged(int bandR, int bandV);
    void txRxColourChanged(const QColor& colour);
    // OptFT847 with Com1 disabled: colour lblCom1 red and show the message.
    void com1NotOpen(const QString& message);

private:
    void tuneWhileHeld(int direction);
    int tuningWriteMs() const;
    void setAndTune(const QString& freq);

    SerialPort* m_com1;
    SerialPort* m_com2;
    BoardLibrary* m_board;
    bool m_ownHeld = false;
    bool* m_buttonHeld = &m_ownHeld;
};
