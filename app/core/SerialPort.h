#pragma once

// The serial-port seam: the operations the program calls on a port object. Every operation on
// a port that is not open fails (false, an empty read) and leaves a text in lastError(); no
// operation throws, so every caller can skip a failing statement and go on.

#include <QByteArray>
#include <QObject>
#include <QString>
#include <functional>
#include <memory>

class SerialPort : public QObject {
    Q_OBJECT
public:
    enum class InputMode { Text, Binary };
    enum class CommEventKind { None, Receive, Error };

    explicit SerialPort(QObject* parent = nullptr) : QObject(parent) {}
    ~SerialPort() override = default;

    // The port as the settings give it: a number N (see DevicePathFor) or a device path.
    // Takes effect at the next open.
    void setPort(const QString& setting) { m_port = setting.trimmed(); }
    void setPortNumber(int number) { m_port = QString::number(number); }
    QString port() const { return m_port; }
    // The number of a numbered port, 0 when the port is a device path.
    int portNumber() const;

    // Line settings such as "9600,n,8,1"; take effect at the next open.
    void setSettings(const QString& settings) { m_settings = settings.trimmed(); }
    QString settings() const { return m_settings; }

    bool open();
    bool close();
    virtual bool isOpen() const = 0;

    // Each byte of the array goes out as it stands, in order, with nothing added.
    bool write(const QByteArray& bytes);
    // Each character goes out as one byte whose value is the character code (0-255).
    bool writeText(const QString& text);

    // Everything received so far; empties the buffer.
    QByteArray readAll();
    QString readText();
    int inBufferCount() const;

    void setInputMode(InputMode mode) { m_mode = mode; }
    InputMode inputMode() const { return m_mode; }
    // A port whose input the program never reads (a transceiver answering in auto-information
    // mode, a device echoing) drops what arrives instead of keeping it for the whole run.
    void setDiscardInput(bool discard) { m_discard = discard; }
    bool discardsInput() const { return m_discard; }
    // Input kept for a reader: when more waits, the oldest bytes are dropped.
    static constexpr int MaxPendingInput = 64 * 1024;
    // Bytes dropped so far by the two rules above.
    qint64 droppedInput() const { return m_dropped; }

    // Number of waiting bytes that raise commEvent; 0 raises none.
    void setReceiveThreshold(int bytes) { m_threshold = bytes < 0 ? 0 : bytes; }
    int receiveThreshold() const { return m_threshold; }
    CommEventKind lastEventKind() const { return m_lastEvent; }

    QString lastError() const { return m_error; }

    // The device a port setting names. A path (anything with a slash or backslash) is used as it
    // stands. A number N is taken from the environment variable FARSCAN_COM<N> when that is set,
    // else it is the platform's N-th port: COM<N> on Windows, /dev/ttyS<N-1> elsewhere.
    static QString DevicePathFor(const QString& setting);

    struct LineSettings {
        qint32 baud = 9600;
        char parity = 'n'; // n, e, o, m, s
        int dataBits = 8;
        double stopBits = 1; // 1, 1.5 or 2
    };
    // Parses "9600,n,8,1"; false for a text it cannot read.
    static bool ParseLineSettings(const QString& text, LineSettings* out);

signals:
    // Raised on the user-interface thread when received data reach the threshold, and when the
    // device went away (unplugged, the other side of a pseudo-terminal closed): the port is
    // closed then, lastEventKind() is Error and lastError() says why. Raised for a lost device
    // whatever the threshold.
    void commEvent();

protected:
    virtual bool openDevice(const QString& device, const LineSettings& line) = 0;
    virtual bool closeDevice() = 0;
    virtual qint64 writeBytes(const QByteArray& bytes) = 0;
    virtual QByteArray readBytes() = 0;
    virtual int bytesWaiting() const = 0;
    // Drops the oldest bytes waiting.
    virtual void dropBytes(qint64 count) = 0;

    // Implementations call this when bytes arrived, and deviceLost() when the device vanished
    // (it closes the port, records why and raises commEvent()).
    void dataArrived();
    void deviceLost(const QString& why);
    void setError(const QString& error) { m_error = error; }

private:
    bool failClosed(const char* operation);

    QString m_port;
    QString m_settings = QStringLiteral("9600,n,8,1");
    InputMode m_mode = InputMode::Text;
    int m_threshold = 0;
    bool m_discard = false;
    qint64 m_dropped = 0;
    CommEventKind m_lastEvent = CommEventKind::None;
    QString m_error;
};

using SerialPortFactory = std::function<std::unique_ptr<SerialPort>()>;

// The real serial port, over QSerialPort.
std::unique_ptr<SerialPort> CreateSystemSerialPort();
