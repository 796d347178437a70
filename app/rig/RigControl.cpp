#include "RigControl.h"

#include "ProgramState.h"
#include "RigCat.h"
#include "RigLog.h"
#include "SerialPort.h"
#include "Settings.h"
#include "StationBoard.h"
#include "StationColours.h"

#include <QLocale>
#include <cmath>

QString DefaultNumberText(double value) {
    QLocale locale;
    locale.setNumberOptions(QLocale::OmitGroupSeparator);
    return locale.toString(value, 'g', 15);
}

namespace {
// Offsets are the band's local oscillator: band frequency minus 144 MHz, in 10 Hz.
// The relays are wired so that the highest band has the lowest relay line.
const TransverterBand kBands[9] = {
    {"1296", 7, "1296%", 115200000.0},
    {"2320", 6, "2320%", 217600000.0},
    {"3400", 5, "3400%", 325600000.0},
    {"5760", 4, "5760%", 561600000.0},
    {"10368", 3, "10368%", 1022400000.0},
    {"24048", 2, "24048%", 2404800000.0 - 14400000.0},
    {"47088", 1, "47088%", 4708800000.0 - 14400000.0},
    {"76032", 0, "76032%", 7603200000.0 - 14400000.0},
    {"122G", 8, "122250%", 12225000000.0 - 14400000.0},
};
const qint64 kPresets[3] = {5020000, 14420000, 43220000};
} // namespace

const TransverterBand* TransverterBandAt(int index) {
    return index >= 1 && index <= 9 ? &kBands[index - 1] : nullptr;
}

qint64 DirectBandPreset(int index) {
    return index >= 1 && index <= 3 ? kPresets[index - 1] : 0;
}

RigControl::RigControl(ProgramState& state, SerialPort* com1, SerialPort* com2, StationBoard* board,
                       const SettingsStore* settings, QObject* parent)
    : QObject(parent), m_state(state), m_com1(com1), m_com2(com2),
      m_board(board), m_ft847{{Ft847Model(), com1}, {Ft847Model(), com2}},
      m_ft991{{Ft991Model(), com1}, {Ft991Model(), com2}} {
    auto slot = [settings](int slot, qint64 fallback) {
        return settings ? (*settings)[slot].toInt(fallback) : fallback;
    };
    Check2 = [slot] { return slot(Settings::Com1Ft991, 0) == 1; };
    Check3 = [slot] { return slot(Settings::Com2Ft991, 0) == 1; };
    Com1Enabled = [slot] { return slot(Settings::Com1Enabled, 1) != 0; };
    m_tuneTimer.setSingleShot(true);
    connect(&m_tuneTimer, &QTimer::timeout, this, &RigControl::tuneStep);
}

QString RigControl::rigPort() const {
    return m_state.RigPort;
}

Transceiver* RigControl::transceiver(int com) {
    if (com == 1)
        return Check2() ? &m_ft991[0] : &m_ft847[0];
    if (com == 2)
        return Check3() ? &m_ft991[1] : &m_ft847[1];
    return nullptr;
}

Transceiver* RigControl::rigTransceiver() {
    if (m_state.RigPort == QLatin1String("Com1"))
        return transceiver(1);
    if (m_state.RigPort == QLatin1String("Com2"))
        return transceiver(2);
    return nullptr;
}

SerialPort* RigControl::rigPortObject() const {
    if (m_state.RigPort == QLatin1String("Com1"))
        return m_com1;
    if (m_state.RigPort == QLatin1String("Com2"))
        return m_com2;
    return nullptr;
}

void RigControl::showFrequency() {
    formatFre = DefaultNumberText((double(m_state.RigFrequency) + TransverterOffset) / 100000.0);
    emit formatFreChanged(formatFre);
}

bool RigControl::SetRigFrequency(QString& FreqText) {
    // 1. Both ports are opened if they are not (a port that cannot open stays closed).
    for (SerialPort* port : {m_com1, m_com2})
        if (port && !port->isOpen() && !port->open())
            qCDebug(lcRig, "%s: %s", qPrintable(port->objectName()), qPrintable(port->lastError()));
    // 2. The digit text goes to Com2 on every call.
    RigCat::SendText(m_com2, m_state.RigFreqText);
    // 3.
    FreqText = FreqText.trimmed();
    // 4-6. A text that names no frequency the transceiver can take sends nothing to it.
    Transceiver* rig = rigTransceiver();
    return rig && rig->setFrequency(FreqText, OptBandVValue == 1);
}

void RigControl::setAndTune(const QString& freq) {
    m_state.RigFreqText = freq;
    QString copy = m_state.RigFreqText;
    SetRigFrequency(copy);
}

void RigControl::OptFT847(int Index) {
    if (!Com1Enabled()) {
        const QString number = m_com1 ? m_com1->port() : QString();
        emit com1NotOpen(QStringLiteral("Com1(%1) not Open").arg(number));
        return;
    }
    if (m_state.RigPort == QLatin1String("Com1")) {
        // The first transceiver's own sequence for the button.
        Transceiver* rig = transceiver(1);
        const Transceiver::PresetStep* steps = rig->preset(Index);
        for (int i = 0; i < Transceiver::MaxPresetSteps; ++i) {
            const Transceiver::PresetStep& step = steps[i];
            using Kind = Transceiver::PresetStep::Kind;
            if (step.kind == Kind::None)
                break;
            switch (step.kind) {
            case Kind::Mode:
                rig->setMode(step.mode);
                break;
            case Kind::SetFrequencyText:
                m_state.RigFreqText = QLatin1String(step.text);
                break;
            case Kind::Tune:
                setAndTune(m_state.RigFreqText);
                break;
            case Kind::SendFrequencyText:
                rig->setFrequency(m_state.RigFreqText, false);
                break;
            case Kind::None:
                break;
            }
        }
    } else if (m_state.RigPort == QLatin1String("Com2")) {
        // The direct bands: the same three steps above each band's bottom.
        static const char* const kCom2Presets[3][3] = {{"5010000", "14410000", "43210000"},
                                                       {"5020000", "14420000", "43220000"},
                                                       {"5090000", "14490000", "43290000"}};
        // The second transceiver's mode buttons send the FT-847 mode frames, whatever its
        // FT991 box says; only its tuning follows the box.
        Transceiver* rig = &m_ft847[1];
        if (Index >= 1 && Index <= 3) {
            if (VhfBandIndex >= 1 && VhfBandIndex <= 3) {
                rig->setMode(Transceiver::Mode::Cw);
                setAndTune(QLatin1String(kCom2Presets[Index - 1][VhfBandIndex - 1]));
            }
        } else if (Index == 4) {
            rig->setMode(Transceiver::Mode::Cw);
        } else if (Index == 5) {
            rig->setMode(Transceiver::Mode::Usb);
        }
    }
    // 3. A text that is no number (empty at start) leaves the frequency as it is.
    bool ok = false;
    const qint64 value = m_state.RigFreqText.trimmed().toLongLong(&ok);
    if (ok)
        m_state.RigFrequency = value;
}

int LineTimeMs(const SerialPort* port, qsizetype bytes) {
    SerialPort::LineSettings line;
    if (!port || !port->isOpen() || bytes <= 0 ||
        !SerialPort::ParseLineSettings(port->settings(), &line))
        return 0;
    const double bitsPerByte = 1 + line.dataBits + (line.parity == 'n' ? 0 : 1) + line.stopBits;
    return int(std::ceil(double(bytes) * bitsPerByte * 1000.0 / line.baud));
}

int RigControl::tuningWriteMs() const {
    const bool onCom2 = m_state.RigPort == QLatin1String("Com2");
    const int command = (onCom2 ? Check3() : Check2()) ? 12 : 5;
    const qsizetype digits = m_state.RigFreqText.size();
    return qMax(LineTimeMs(m_com2, digits + (onCom2 ? command : 0)),
                LineTimeMs(m_com1, onCom2 ? 0 : command));
}

void RigControl::startTuning(int direction) {
    m_tuneDirection = direction;
    m_buttonHeld = true;
    // A click always makes one step, even when the release follows at once.
    tuneStep();
}

void RigControl::FreqMouseUp() {
    m_buttonHeld = false;
    m_tuneTimer.stop();
}

void RigControl::tuneStep() {
    if (!m_buttonHeld) {
        m_tuneTimer.stop();
        return;
    }
    static const int kSteps[4] = {1, 10, 100, 1000};
    const int step = OptQRG >= 1 && OptQRG <= 4 ? kSteps[OptQRG - 1] : 0;
    m_state.RigFrequency += m_tuneDirection * step;
    m_state.RigFreqText = QString::number(m_state.RigFrequency);
    showFrequency();
    QString copy = m_state.RigFreqText;
    SetRigFrequency(copy);
    // The next step comes once this one has gone out on the line, so a held button never runs
    // ahead of what the transceiver receives.
    m_tuneTimer.start(qMax(5, tuningWriteMs()));
}

bool RigControl::TxRx(bool value) {
    emit txRxColourChanged(value ? Colours::Red : Colours::Green);
    Transceiver* rig = rigTransceiver();
    return rig && rig->setPtt(value);
}

bool RigControl::setTxRx(bool on) {
    if (on == m_txRx)
        return true;
    m_txRx = on;
    emit txRxChanged(on);
    return TxRx(on);
}

void RigControl::showTxRxReceive() {
    emit txRxColourChanged(Colours::Green);
}

void RigControl::OptBandR(int Index) {
    // 1, 2. Release every relay line and the direct-band line.
    if (m_board) {
        for (int relay = 0; relay <= 8; ++relay) {
            m_board->setLineDirection(BoardLine::relay(relay), false);
            m_board->setLine(BoardLine::relay(relay), false);
        }
        m_board->setLineDirection(BoardLine::DirectBand, false);
        m_board->setLine(BoardLine::DirectBand, false);
    }
    // 3-5.
    m_state.RigPort = QStringLiteral("Com1");
    m_state.BandPattern.clear();
    OptBandVValue = 0;
    ApplyBandPreset = true;
    // 6.
    if (const TransverterBand* band = TransverterBandAt(Index)) {
        m_state.BandPattern = QLatin1String(band->pattern);
        TransverterOffset = band->offset;
        BandLine = band->relay;
        if (m_board) {
            if (Index == 9) // relay 8 is the first line of the upper port
                m_board->setPortDirection(BoardPort::UpperRelays, 1);
            m_board->setLineDirection(BoardLine::relay(BandLine), true);
            m_board->setLine(BoardLine::relay(BandLine), true);
        }
        OptBandRValue = Index;
    }
    // 7, 8.
    BandIndex = Index;
    emit bandOptionsChanged(OptBandRValue, OptBandVValue);
    showFrequency();
}

void RigControl::OptBandV(int Index) {
    // 1.
    OptBandRValue = 0;
    if (Index >= 1 && Index <= 3)
        OptBandVValue = Index;
    // 2. The relay lines stay as they are.
    if (m_board) {
        m_board->setLineDirection(BoardLine::DirectBand, true);
        m_board->setLine(BoardLine::DirectBand, true);
    }
    // 3-5. The mode goes to the first transceiver, whichever is in use.
    Label41 = QStringLiteral("MHz");
    emit label41Changed(Label41);
    m_state.RigPort = QStringLiteral("Com2");
    // The FT-847 USB frame, whatever transceiver is on Com1.
    m_ft847[0].setMode(Transceiver::Mode::Usb);
    // 6.
    if (ApplyBandPreset && Index >= 1 && Index <= 3) {
        m_state.RigFrequency = DirectBandPreset(Index);
        m_state.RigFreqText = QString::number(m_state.RigFrequency);
        TransverterOffset = 0;
    }
    // 7-10.
    VhfBandIndex = Index;
    emit bandOptionsChanged(OptBandRValue, OptBandVValue);
    showFrequency();
    QString copy = m_state.RigFreqText;
    SetRigFrequency(copy);
    ApplyBandPreset = true;
}
