#pragma once

// A transceiver on a serial port, as the program drives it. Each model (FT-847 frames, FT-991
// text commands) is one implementation with its own table of commands; nothing outside them
// asks which model is connected.
//
// Every command is written to the port as it stands; a method answers false when nothing was
// sent (the value names nothing the model can take, or the port is closed).

#include <QString>

class SerialPort;

class Transceiver {
public:
    enum class Mode { Cw, Usb };

    // What one of the preset buttons "100", "200", "900", "CW" and "SSB" does, step by step.
    struct PresetStep {
        enum class Kind {
            None,              // end of the steps
            Mode,              // set the mode
            SetFrequencyText,  // RigFreqText := text
            Tune,              // tune through the rig control's SetRigFrequency(RigFreqText)
            SendFrequencyText, // the model's frequency command for RigFreqText, nothing else
        };
        Kind kind = Kind::None;
        Mode mode = Mode::Cw;
        const char* text = nullptr;
    };
    static constexpr int MaxPresetSteps = 3;

    virtual ~Transceiver() = default;

    virtual QString model() const = 0;
    virtual SerialPort* port() const = 0;

    // The CAT-on command sent at start to an open port.
    virtual bool catOn() = 0;
    // Tunes to a frequency text: 7 or 8 digits in 10 Hz, 5 or 6 digits in kHz (a beacon's).
    // fiftyMhzBand: the 50 MHz band is selected (kHz texts are then filled to 7 digits).
    virtual bool setFrequency(const QString& digits, bool fiftyMhzBand) = 0;
    virtual bool setMode(Mode mode) = 0;
    // The transmit toggle's PTT command.
    virtual bool setPtt(bool on) = 0;
    // Transmitter on or off for keying Morse; the caller first waits keyingDelayMs(), which
    // some models need before they take the command.
    virtual bool keyTransmitter(bool on) = 0;
    virtual int keyingDelayMs() const = 0;
    // The steps of preset button index (1-5); an empty list for other indexes.
    virtual const PresetStep* preset(int index) const = 0;
};
