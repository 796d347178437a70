#include "SerialPort.h"

#include <QSerialPort>
#include <limits>

#ifdef Q_OS_UNIX
#include <poll.h>
#endif

namespace {

// The port over QSerialPort. Line settings that a device refuses (a pseudo-terminal refuses
// even parity and 7 data bits) do not stop the port from opening: the port opens with 8N1 at the
// requested speed and then takes each setting the device accepts.
class QtSerialPort final : public SerialPort {
public:
    QtSerialPort() {
        QObject::connect(&m_port, &QSerialPort::readyRead, this, [this] {
            m_emptyReads = 0;
            dataArrived();
        });
        QObject::connect(&m_port, &QSerialPort::errorOccurred, this,
                         [this](QSerialPort::SerialPortError e) { onError(e); });
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
    // A pulled USB adapter reports a resource error. A pseudo-terminal whose other side closed
    // stays readable and reads nothing: QSerialPort then reports a read error on every turn of
    // the event loop, so a hung-up line is recognised here and the port closed instead.
    void onError(QSerialPort::SerialPortError e) {
        if (!m_port.isOpen() || m_lossPending)
            return;
        bool lost = e == QSerialPort::ResourceError;
        if (e == QSerialPort::ReadError)
            lost = hungUp() || ++m_emptyReads >= MaxEmptyReads;
        if (!lost)
            return;
        // Closed from the event loop, not from inside QSerialPort's own notification.
        m_lossPending = true;
        QMetaObject::invokeMethod(
            this,
            [this] {
                m_lossPending = false;
                m_emptyReads = 0;
                if (m_port.isOpen())
                    deviceLost(QStringLiteral("The device was disconnected"));
            },
            Qt::QueuedConnection);
    }

    bool hungUp() const {
#ifdef Q_OS_UNIX
        pollfd p{int(m_port.handle()), POLLIN, 0};
        return ::poll(&p, 1, 0) > 0 && (p.revents & (POLLHUP | POLLERR | POLLNVAL));
#else
        return false;
#endif
    }

    // Read errors in a row, no data between them, after which the device counts as gone.
    static constexpr int MaxEmptyReads = 20;

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
    int m_emptyReads = 0;
    bool m_lossPending = false;
};

} // namespace

std::unique_ptr<SerialPort> CreateSystemSerialPort() {
    return std::make_unique<QtSerialPort>();
}
