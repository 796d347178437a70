// What the elevation sensor and the rotor controller may answer, garbled or cut anywhere, and
// what a user may type as a heading: the polling step and the commands never fail badly. Input:
// the sensor's bytes, a line end, then the rotor's bytes (also taken as heading texts).
#include "FakeBoard.h"
#include "RotorControl.h"
#include "SerialPort.h"

#include <QCoreApplication>

namespace {
// A port that is open and hands out what the input holds.
class InputPort : public SerialPort {
public:
    bool isOpen() const override { return true; }
    void give(const QByteArray& bytes) {
        m_in += bytes;
        dataArrived();
    }

protected:
    bool openDevice(const QString&, const LineSettings&) override { return true; }
    bool closeDevice() override { return true; }
    qint64 writeBytes(const QByteArray& bytes) override { return bytes.size(); }
    QByteArray readBytes() override { return std::exchange(m_in, QByteArray()); }
    int bytesWaiting() const override { return int(m_in.size()); }
    void dropBytes(qint64 count) override { m_in.remove(0, count); }

private:
    QByteArray m_in;
};
} // namespace

extern "C" int LLVMFuzzerInitialize(int* argc, char*** argv) {
    static QCoreApplication app(*argc, *argv);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const QByteArray input(reinterpret_cast<const char*>(data), qsizetype(size));
    const qsizetype split = input.indexOf('\n');
    const QByteArray sensor = split < 0 ? input : input.left(split);
    const QByteArray rotorBytes = split < 0 ? QByteArray() : input.mid(split + 1);

    InputPort com3, com4;
    com3.setInputMode(SerialPort::InputMode::Binary);
    com3.setReceiveThreshold(1);
    FakeBoard board;
    RotorControl rotor(&com3, &com4, &board, nullptr);
    rotor.EleAuto = true;
    rotor.PulseLength = 0;
    // The reply in two pieces, as it may arrive between two ticks.
    com3.give(sensor.left(sensor.size() / 2));
    com4.give(rotorBytes);
    rotor.PollTick();
    com3.give(sensor.mid(sensor.size() / 2));
    rotor.PollTick();

    (void)DecodeSensorText(QString::fromLatin1(input));
    (void)ElevationText(ElevationTenths(qint32(sensor.size() * 977 - 40000)));
    const QString typed = QString::fromLatin1(rotorBytes);
    (void)HeadingCommand(typed);
    (void)SecondEntryCommand(typed);
    QString box = typed;
    rotor.TurnToHeading(box);
    return 0;
}
