#include "RigControl.h"

#include "BoardLibrary.h"
#include "ProgramState.h"
#include "RigCat.h"
#include "SerialPort.h"
#include "Settings.h"
#include "WidgetHelpers.h"

#include <QCoreApplication>
#include <QLocale>
#include <QPointer>
#include <QTimer>
#include <cmath>

QString DefaultNumberText(double value) {
    QLocale locale;
    locale.setNumberOptions(QLocale::OmitGroupSeparator);
    return locale.toString(value, 'g', 15);
}

namespace {
// Offsets are the band's local oscillator: band frequency minus 144 MHz, in 10 Hz.
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

RigControl::RigControl(SerialPort* com1, SerialPort* com2, BoardLibrary* board, QObject* parent)
    : QObject(parent), m_com1(com1), m_com2(com2), m_board(board) {
    Check2 = [] { return SettingsTable[Settings::Com1Ft991].toInt(0) == 1; };
    Check3 = [] { return SettingsTable[Settings::Com2Ft991].toInt(0) == 1; };
    Com1Enabled = [] { return SettingsTable[Settings::Com1Enabled].toInt(0) != 0; };
}

SerialPort* RigControl::rigPortObject() const {
    if (Program().RigPort == QLatin1String("Com1"))
        return m_com1;
    if (Program().RigPort == QLatin1String("Com2"))
        return m_com2;
    return nullptr;
}

void RigControl::showFrequency() {
    formatFre = DefaultNumberText((double(Program().RigFrequency) + TransverterOffset) / 100000.0);
    emit formatFreChanged(formatFre);
}

bool RigControl::SetRigFrequency(QString& FreqText) {
    // 1. Both ports are opened if they are not (a port that cannot open stays closed).
    for (SerialPort* port : {m_com1, m_com2})
        if (port && !port->isOpen())
            port->open();
    // 2. The digit text goes to Com2 on every call.
    RigCat::SendText(m_com2, Program().RigFreqText);
    // 3.
    FreqText = FreqText.trimmed();
    // 4. Texts that name no frequency the frame can carry send nothing to the transceiver.
    const QByteArray frame = RigCat::FrequencyFrame(FreqText, OptBandVValue == 1);
    if (frame.isEmpty())
        return false;
    // 5, 6.
    const QString& rigPort = Program().RigPort;
    if (rigPort == QLatin1String("Com1"))
        return Check2() ? SendTextFrequency() : RigCat::Send(m_com1, frame);
    if (rigPort == QLatin1String("Com2"))
        return Check3() ? SendTextFrequency() : RigCat::Send(m_com2, frame);
    return false;
}

bool RigControl::SendTextFrequency() {
    const QString command = RigCat::TextFrequencyCommand(Program().RigFreqText);
    if (command.isEmpty())
        return false;
    return RigCat::SendText(rigPortObject(), command);
}

bool RigControl::SendModeCwText() {
    return RigCat::SendText(m_com1, QLatin1String(RigCat::ModeCwText));
}

bool RigControl::SendModeUsbText() {
    return RigCat::SendText(m_com1, QLatin1String(RigCat::ModeUsbText));
}

bool RigControl::SendTransmitText() {
    return RigCat::SendTransmitText(m_com1);
}

bool RigControl::SendReceiveText() {
    return RigCat::SendReceiveText(m_com1);
}

void RigControl::setAndTune(const QString& freq) {
    Program().RigFreqText = freq;
    QString copy = Program().RigFreqText;
    SetRigFrequency(copy);
}

void RigControl::OptFT847(int Index) {
    if (!Com1Enabled()) {
        const QString number = m_com1 ? m_com1->port() : QString();
        emit com1NotOpen(QStringLiteral("Com1(%1) not Open").arg(number));
        return;
    }
    static const char* const kCom1Presets[3] = {"14410000", "14420000", "14490000"};
    static const char* const kCom2Presets[3][3] = {{"5010000", "14410000", "43210000"},
                                                   {"5020000", "14420000", "43220000"},
                                                   {"5090000", "14490000", "43290000"}};
    const QString& rigPort = Program().RigPort;
    if (rigPort == QLatin1String("Com1")) {
        if (Check2()) {
            switch (Index) {
            case 1:
                Program().RigFreqText = QLatin1String(kCom1Presets[0]);
                SendModeCwText();
                SendTextFrequency();
                break;
            case 2:
                Program().RigFreqText = QLatin1String(kCom1Presets[1]);
                SendTextFrequency();
                SendModeCwText();
                break;
            case 3:
                Program().RigFreqText = QLatin1String(kCom1Presets[2]);
                SendTextFrequency();
                break;
            case 4:
                SendModeCwText();
                break;
            case 5:
                SendModeUsbText();
                break;
            default:
                break;
            }
        } else {
            switch (Index) {
            case 1:
                RigCat::Send(m_com1, RigCat::ModeCwFrame());
                setAndTune(QLatin1String(kCom1Presets[0]));
                break;
            case 2:
            case 3:
                RigCat::Send(m_com1, RigCat::ModeUsbFrame());
                setAndTune(QLatin1String(kCom1Presets[Index - 1]));
                break;
            case 4:
                RigCat::Send(m_com1, RigCat::ModeCwFrame());
                break;
            case 5:
                RigCat::Send(m_com1, RigCat::ModeUsbFrame());
                break;
            default:
                break;
            }
        }
    } else if (rigPort == QLatin1String("Com2")) {
        if (Index >= 1 && Index <= 3) {
            if (VhfBandIndex >= 1 && VhfBandIndex <= 3) {
                RigCat::Send(m_com2, RigCat::ModeCwFrame());
                setAndTune(QLatin1String(kCom2Presets[Index - 1][VhfBandIndex - 1]));
            }
        } else if (Index == 4) {
            RigCat::Send(m_com2, RigCat::ModeCwFrame());
        } else if (Index == 5) {
            RigCat::Send(m_com2, RigCat::ModeUsbFrame());
        }
    }
    // 3. A text that is no number (empty at start) leaves the frequency as it is.
    bool ok = false;
    const qint64 value = Program().RigFreqText.trimmed().toLongLong(&ok);
    if (ok)
        Program().RigFrequency = value;
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
    const bool onCom2 = Program().RigPort == QLatin1String("Com2");
    const int command = (onCom2 ? Check3() : Check2()) ? 12 : 5;
    const qsizetype digits = Program().RigFreqText.size();
    return qMax(LineTimeMs(m_com2, digits + (onCom2 ? command : 0)),
                LineTimeMs(m_com1, onCom2 ? 0 : command));
}

void RigControl::tuneWhileHeld(int direction) {
    QPointer<RigControl> self(this);
    ButtonHeld() = true;
    while (self && ButtonHeld()) {
        static const int kSteps[4] = {1, 10, 100, 1000};
        const int step = OptQRG >= 1 && OptQRG <= 4 ? kSteps[OptQRG - 1] : 0;
        Program().RigFrequency += direction * step;
        Program().RigFreqText = QString::number(Program().RigFrequency);
        showFrequency();
        QString copy = Program().RigFreqText;
        SetRigFrequency(copy);
        // The next step waits until this one has gone out on the line, as a blocking write
        // would; a held button thus never runs ahead of what the transceiver receives.
        const int pace = tuningWriteMs();
        if (pace > 0) {
            QEventLoop loop;
            QTimer::singleShot(pace, &loop, &QEventLoop::quit);
            loop.exec();
        } else {
            QCoreApplication::processEvents(QEventLoop::AllEvents);
        }
    }
}

void RigControl::TxRx(bool value) {
    emit txRxColourChanged(value ? Colours::Red : Colours::Green);
    RigCat::SendPtt(rigPortObject(), value);
}

void RigControl::OptBandR(int Index) {
    // 1, 2. Release every relay line and the direct-band line.
    for (int line = 0; line <= 8; ++line) {
        if (m_board) {
            m_board->UsbSetIODir(0, quint8(line), false);
            m_board->UsbSetIOState(0, quint8(line), false);
        }
    }
    if (m_board) {
        m_board->UsbSetIODir(0, 20, false);
        m_board->UsbSetIOState(0, 20, false);
    }
    // 3-5.
    Program().RigPort = QStringLiteral("Com1");
    Program().BandPattern.clear();
    OptBandVValue = 0;
    ApplyBandPreset = true;
    // 6.
    if (const TransverterBand* band = TransverterBandAt(Index)) {
        Program().BandPattern = QLatin1String(band->pattern);
        TransverterOffset = band->offset;
        BandLine = band->line;
        if (m_board) {
            if (Index == 9)
                m_board->UsbSetPortDir(0, 1, 1); // port 1: line 8 output, lines 9-15 input
            m_board->UsbSetIODir(0, quint8(BandLine), true);
            m_board->UsbSetIOState(0, quint8(BandLine), true);
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
    // 2. Lines 0-8 stay as they are.
    if (m_board) {
        m_board->UsbSetIODir(0, 20, true);
        m_board->UsbSetIOState(0, 20, true);
    }
    // 3-5. The mode frame goes to Com1, whichever transceiver is in use.
    Label41 = QStringLiteral("MHz");
    emit label41Changed(Label41);
    Program().RigPort = QStringLiteral("Com2");
    RigCat::Send(m_com1, RigCat::ModeUsbFrame());
    // 6.
    if (ApplyBandPreset && Index >= 1 && Index <= 3) {
        Program().RigFrequency = DirectBandPreset(Index);
        Program().RigFreqText = QString::number(Program().RigFrequency);
        TransverterOffset = 0;
    }
    // 7-10.
    VhfBandIndex = Index;
    emit bandOptionsChanged(OptBandRValue, OptBandVValue);
    showFrequency();
    QString copy = Program().RigFreqText;
    SetRigFrequency(copy);
    ApplyBandPreset = true;
}
