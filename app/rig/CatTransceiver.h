#pragma once

// The transceivers the station drives, one table of commands per model, and the transceiver
// object that sends a model's commands on a serial port.

#include "Transceiver.h"

#include <QByteArray>
#include <string_view>

struct CatModel {
    const char* name;
    // The frequency command for a digit text; empty when the text names no frequency.
    QByteArray (*frequency)(const QString& digits, bool fiftyMhzBand);
    std::string_view catOn;
    std::string_view modeCw;
    std::string_view modeUsb;
    std::string_view pttOn; // the transmit toggle
    std::string_view pttOff;
    std::string_view keyOn; // transmitter for keying Morse
    std::string_view keyOff;
    int keyingDelayMs;
    Transceiver::PresetStep presets[5][Transceiver::MaxPresetSteps];
};

// Yaesu FT-847: 5-byte frames, parameters first and the operation code last.
const CatModel& Ft847Model();
// Yaesu FT-991: text commands ending in ";". It takes a transmit command only after a pause.
const CatModel& Ft991Model();

class CatTransceiver : public Transceiver {
public:
    // port: not owned, may be null (then nothing is ever sent).
    CatTransceiver(const CatModel& model, SerialPort* port) : m_model(&model), m_port(port) {}

    QString model() const override { return QString::fromLatin1(m_model->name); }
    SerialPort* port() const override { return m_port; }

    bool catOn() override { return send(m_model->catOn); }
    bool setFrequency(const QString& digits, bool fiftyMhzBand) override;
    bool setMode(Mode mode) override {
        return send(mode == Mode::Cw ? m_model->modeCw : m_model->modeUsb);
    }
    bool setPtt(bool on) override { return send(on ? m_model->pttOn : m_model->pttOff); }
    bool keyTransmitter(bool on) override { return send(on ? m_model->keyOn : m_model->keyOff); }
    int keyingDelayMs() const override { return m_model->keyingDelayMs; }
    const PresetStep* preset(int index) const override;

private:
    bool send(std::string_view bytes);
    bool send(const QByteArray& bytes);

    const CatModel* m_model;
    SerialPort* m_port;
};
