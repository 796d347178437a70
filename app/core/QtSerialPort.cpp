#include "SerialPort.h"

#include <QSerialPort>
#include <limits>

namespace {

// The port over QSerialPort. Line settings that a device refuses (a pseudo-terminal refuses
// even parity and 7 data bits) do not stop the port from opening: the port opens with 8N1 at the
// requested speed and then takes each setting the device accepts.
class QtSerialPort final : public SerialPort {
public:
    QtSerialPort() {
        QObject::connect(&m_port, &QSerialPort::readyRead, this, [this] { dataArrived(); });
        QObject::connect(&m_port, &QSerialPort::errorOccurred, this,
                         [this](QSerialPort::SerialPortError e) {
                             if (e == QSerialPort::ResourceError && m_port.isOpen())
                                 deviceLost(m_port.errorString());
                         });
    }

    bool isOpen() const override { return m_port.isOpen(); }

protected:
    bool openDevice(const QString& device, const LineSettings& line) override {
        m_port.setPortName(device);
        m_port.setBaudRate(line.baud);
        m_port.setDataBits(QSerialPort::Data8);
        m_port.setParity(QSerialPort::NoParity);
        m_port.setStopBits(QSerialPort::OneStop);
        m_port.setFlowControl(QSerialPort::NoFlowControl);
        if (!m_port.open(QIODevice::ReadWrite)) {
            setError(QStringLiteral("%1: %2").arg(device, m_port.errorString()));
            m_port.clearError();
            return false;
        }
        // Refusals of single settings are harmless here; the port stays usable.
        m_port.setDataBits(QSerialPort::DataBits(line.dataBits));
        m_port.setParity(parity(line.parity));
        m_port.setStopBits(line.stopBits == 2     ? QSerialPort::TwoStop
                           : line.stopBits == 1.5 ? QSerialPort::OneAndHalfStop
                                                  : QSerialPort::OneStop);
        m_port.clearError();
        return true;
    }

    bool closeDevice() override {
        m_port.close();
        return true;
    }

    qint64 writeBytes(const QByteArray& bytes) override {
        const qint64 n = m_port.write(bytes);
        if (n < 0)
            setError(m_port.errorString());
        m_port.flush();
        return n;
    }

    QByteArray readBytes() override { return m_port.readAll(); }
    int bytesWaiting() const override {
        return int(qMin<qint64>(m_port.bytesAvailable(), std::numeric_limits<int>::max()));
    }
    void dropBytes(qint64 count) override { m_port.skip(count); }

private:
    static QSerialPort::Parity parity(char p) {
        switch (p) {
        case 'e':
            return QSerialPort::EvenParity;
        case 'o':
            return QSerialPort::OddParity;
        case 'm':
            return QSerialPort::MarkParity;
        case 's':
            return QSerialPort::SpaceParity;
        default:
            return QSerialPort::NoParity;
        }
    }

    QSerialPort m_port;
};

} // namespace

std::unique_ptr<SerialPort> CreateSystemSerialPort() {
    return std::make_unique<QtSerialPort>();
}
