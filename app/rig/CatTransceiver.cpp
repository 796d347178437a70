#include "CatTransceiver.h"

#include "RigCat.h"
#include "SerialPort.h"

using namespace std::string_view_literals;

namespace {
using Step = Transceiver::PresetStep;
using Kind = Step::Kind;
constexpr Step ModeStep(Transceiver::Mode m) {
    return {Kind::Mode, m, nullptr};
}
constexpr Step Text(const char* f) {
    return {Kind::SetFrequencyText, Transceiver::Mode::Cw, f};
}
constexpr Step kTune{Kind::Tune, Transceiver::Mode::Cw, nullptr};
constexpr Step kSendText{Kind::SendFrequencyText, Transceiver::Mode::Cw, nullptr};
constexpr Transceiver::Mode kCw = Transceiver::Mode::Cw;
constexpr Transceiver::Mode kUsb = Transceiver::Mode::Usb;

QByteArray Ft847Frequency(const QString& digits, bool fiftyMhzBand) {
    return RigCat::FrequencyFrame(digits, fiftyMhzBand);
}

QByteArray Ft991Frequency(const QString& digits, bool) {
    return RigCat::TextFrequencyCommand(digits).toLatin1();
}

const CatModel kFt847 = {
    "FT-847",
    Ft847Frequency,
    "\x00\x00\x00\x00\x00"sv,
    "\x02\x00\x00\x00\x07"sv,
    "\x01\x00\x00\x00\x07"sv,
    "\x00\x00\x00\x00\x08"sv,
    "\x00\x00\x00\x00\x88"sv,
    "\x00\x00\x00\x00\x08"sv,
    "\x00\x00\x00\x00\x88"sv,
    0,
    {
        {ModeStep(kCw), Text("14410000"), kTune},
        {ModeStep(kUsb), Text("14420000"), kTune},
        {ModeStep(kUsb), Text("14490000"), kTune},
        {ModeStep(kCw)},
        {ModeStep(kUsb)},
    },
};

// The FT-991 gets the CAT-on frame and the transmit toggle's PTT frames like every rig on the
// line (it ignores them); its own texts set frequency and mode and key it for Morse.
const CatModel kFt991 = {
    "FT-991",
    Ft991Frequency,
    "\x00\x00\x00\x00\x00"sv,
    "MD03;"sv,
    "MD02;"sv,
    "\x00\x00\x00\x00\x08"sv,
    "\x00\x00\x00\x00\x88"sv,
    "TX1;"sv,
    "TX0;"sv,
    1000,
    {
        {Text("14410000"), ModeStep(kCw), kSendText},
        {Text("14420000"), kSendText, ModeStep(kCw)},
        {Text("14490000"), kSendText},
        {ModeStep(kCw)},
        {ModeStep(kUsb)},
    },
};
} // namespace

const CatModel& Ft847Model() {
    return kFt847;
}

const CatModel& Ft991Model() {
    return kFt991;
}

bool CatTransceiver::setFrequency(const QString& digits, bool fiftyMhzBand) {
    const QByteArray command = m_model->frequency(digits, fiftyMhzBand);
    return !command.isEmpty() && send(command);
}

const Transceiver::PresetStep* CatTransceiver::preset(int index) const {
    static const PresetStep kNone[1] = {};
    return index >= 1 && index <= 5 ? m_model->presets[index - 1] : kNone;
}

bool CatTransceiver::send(std::string_view bytes) {
    return send(QByteArray(bytes.data(), qsizetype(bytes.size())));
}

bool CatTransceiver::send(const QByteArray& bytes) {
    return RigCat::Send(m_port, bytes);
}
