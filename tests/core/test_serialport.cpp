#include "SerialPort.h"
#include "TestSupport.h"

#include <QSignalSpy>
#include <gtest/gtest.h>

namespace {

TEST(SerialPortSettings, LineSettingsText) {
    SerialPort::LineSettings line;
    ASSERT_TRUE(SerialPort::ParseLineSettings("9600,n,8,1", &line));
    EXPECT_EQ(line.baud, 9600);
    EXPECT_EQ(line.parity, 'n');
    EXPECT_EQ(line.dataBits, 8);
    EXPECT_EQ(line.stopBits, 1);
    ASSERT_TRUE(SerialPort::ParseLineSettings(" 4800 , E , 7 , 2 ", &line));
    EXPECT_EQ(line.parity, 'e');
    EXPECT_EQ(line.dataBits, 7);
    EXPECT_EQ(line.stopBits, 2);
    ASSERT_TRUE(SerialPort::ParseLineSettings("1200,o,8,1.5", &line));
    EXPECT_EQ(line.stopBits, 1.5);
    for (const char* bad : {"", "9600", "9600,n,8", "fast,n,8,1", "9600,x,8,1", "9600,n,9,1",
                            "9600,n,8,3", "-9600,n,8,1", "9600,n,8,1,1"})
        EXPECT_FALSE(SerialPort::ParseLineSettings(bad, &line)) << bad;
}

TEST(SerialPortSettings, DeviceForAPortSetting) {
    EXPECT_EQ(SerialPort::DevicePathFor("/dev/serial/by-id/usb-FTDI_FT232R-if00-port0"),
              "/dev/serial/by-id/usb-FTDI_FT232R-if00-port0");
    EXPECT_EQ(SerialPort::DevicePathFor(" /dev/ttyUSB0 "), "/dev/ttyUSB0");
    EXPECT_EQ(SerialPort::DevicePathFor("0"), QString());
    EXPECT_EQ(SerialPort::DevicePathFor("-3"), QString());
    {
        EnvGuard guard("FARSCAN_COM10", "");
        qunsetenv("FARSCAN_COM10");
#ifdef Q_OS_WIN
        EXPECT_EQ(SerialPort::DevicePathFor("10"), "COM10");
#else
        EXPECT_EQ(SerialPort::DevicePathFor("10"), "/dev/ttyS9");
        EXPECT_EQ(SerialPort::DevicePathFor("1"), "/dev/ttyS0");
#endif
    }
    EnvGuard guard("FARSCAN_COM1", "/dev/pts/77");
    EXPECT_EQ(SerialPort::DevicePathFor("1"), "/dev/pts/77");
    EXPECT_EQ(SerialPort::DevicePathFor("01"), "/dev/pts/77");
}

TEST(SerialPortClosed, EveryOperationFailsQuietly) {
    EnsureApplication();
    std::unique_ptr<SerialPort> port = CreateSystemSerialPort();
    EXPECT_FALSE(port->isOpen());
    EXPECT_FALSE(port->write(QByteArray(5, '\0')));
    EXPECT_FALSE(port->lastError().isEmpty());
    EXPECT_FALSE(port->writeText("AI1;"));
    EXPECT_TRUE(port->readAll().isEmpty());
    EXPECT_EQ(port->inBufferCount(), 0);
    EXPECT_FALSE(port->close());

    port->setPort("/dev/does-not-exist-farscan");
    EXPECT_FALSE(port->open());
    EXPECT_FALSE(port->isOpen());
    EXPECT_FALSE(port->lastError().isEmpty());

    port->setPort("0");
    EXPECT_FALSE(port->open()) << "no port number 0";
    port->setPort("/dev/null");
    port->setSettings("garbage");
    EXPECT_FALSE(port->open()) << "unreadable line settings";
}

TEST(SerialPortPty, BytesGoOutUnchangedAndArriveWithTheEvent) {
    EnsureApplication();
    PtyPair pty;
    ASSERT_TRUE(pty.ok());
    std::unique_ptr<SerialPort> port = CreateSystemSerialPort();
    port->setPort(pty.devicePath());
    // A pseudo-terminal refuses even parity and 7 data bits; the port opens all the same.
    port->setSettings("9600,e,7,1");
    ASSERT_TRUE(port->open()) << qPrintable(port->lastError());
    EXPECT_TRUE(port->isOpen());

    // Every byte value goes out as it stands, with no terminator added.
    QByteArray all;
    for (int i = 0; i < 256; ++i)
        all.append(char(i));
    ASSERT_TRUE(port->write(all));
    EXPECT_EQ(pty.readAvailable(), all);

    QString text;
    text.append(QChar(0x7F)).append(QChar(0x01)).append(QChar(0x87)).append(QChar(0xFF));
    ASSERT_TRUE(port->writeText(text));
    EXPECT_EQ(pty.readAvailable(), QByteArray("\x7F\x01\x87\xFF", 4));
    EXPECT_FALSE(port->writeText(QString(QChar(0x20AC)))) << "no byte for this character";

    port->setInputMode(SerialPort::InputMode::Binary);
    port->setReceiveThreshold(1);
    QSignalSpy events(port.get(), &SerialPort::commEvent);
    ASSERT_TRUE(pty.write(QByteArray("\x7F\x01\x87\x00\xFE", 5)));
    ASSERT_TRUE(WaitFor([&] { return port->inBufferCount() == 5; }));
    EXPECT_GE(events.count(), 1);
    EXPECT_EQ(port->lastEventKind(), SerialPort::CommEventKind::Receive);
    EXPECT_EQ(port->readAll(), QByteArray("\x7F\x01\x87\x00\xFE", 5));
    EXPECT_EQ(port->inBufferCount(), 0) << "reading empties the buffer";

    ASSERT_TRUE(pty.write("AI1;"));
    ASSERT_TRUE(WaitFor([&] { return port->inBufferCount() == 4; }));
    EXPECT_EQ(port->readText(), QStringLiteral("AI1;"));

    EXPECT_TRUE(port->close());
    EXPECT_FALSE(port->isOpen());
    EXPECT_FALSE(port->write("x"));
}

TEST(SerialPortPty, NoEventWithoutThreshold) {
    EnsureApplication();
    PtyPair pty;
    ASSERT_TRUE(pty.ok());
    std::unique_ptr<SerialPort> port = CreateSystemSerialPort();
    port->setPort(pty.devicePath());
    ASSERT_TRUE(port->open());
    QSignalSpy events(port.get(), &SerialPort::commEvent);
    ASSERT_TRUE(pty.write("abc"));
    ASSERT_TRUE(WaitFor([&] { return port->inBufferCount() == 3; }));
    EXPECT_EQ(events.count(), 0);
}

TEST(SerialPortPty, OpeningTwiceFails) {
    EnsureApplication();
    PtyPair pty;
    ASSERT_TRUE(pty.ok());
    std::unique_ptr<SerialPort> port = CreateSystemSerialPort();
    port->setPort(pty.devicePath());
    ASSERT_TRUE(port->open());
    EXPECT_FALSE(port->open());
    EXPECT_TRUE(port->isOpen()) << "the first open stays";
}

} // namespace

namespace {

// A peer that never stops talking, talks without line ends, or goes away mid-run: a port nobody
// reads drops what comes, a port that is read keeps no more than its bound (the newest bytes),
// and a vanished peer closes the port with a reason instead of stopping anything.
TEST(SerialPortPty, FloodsAreBoundedAndAVanishedPeerClosesThePort) {
    EnsureApplication();
    PtyPair ignoredPeer, readPeer;
    ASSERT_TRUE(ignoredPeer.ok() && readPeer.ok());
    auto ignored = CreateSystemSerialPort();
    ignored->setObjectName(QStringLiteral("Com1"));
    ignored->setPort(ignoredPeer.devicePath());
    ignored->setDiscardInput(true);
    auto read = CreateSystemSerialPort();
    read->setObjectName(QStringLiteral("Com4"));
    read->setPort(readPeer.devicePath());
    read->setReceiveThreshold(1);
    ASSERT_TRUE(ignored->open() && read->open());

    // Four megabytes at each, one without a single line end, in pieces as a flooding rig
    // sends them; the event loop keeps turning meanwhile.
    QByteArray chunk(64 * 1024, 'x');
    qint64 sent = 0;
    int maxWaiting = 0;
    for (int i = 0; i < 64; ++i) {
        chunk[chunk.size() - 1] = char('A' + i % 26);
        ASSERT_TRUE(ignoredPeer.write(chunk));
        ASSERT_TRUE(readPeer.write(chunk));
        sent += chunk.size();
        QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
        maxWaiting = std::max(maxWaiting, ignored->inBufferCount());
        maxWaiting = std::max(maxWaiting, read->inBufferCount() - SerialPort::MaxPendingInput);
    }
    ASSERT_TRUE(WaitFor([&] { return ignored->droppedInput() == sent; }, 10000))
        << ignored->droppedInput() << " of " << sent;
    EXPECT_EQ(ignored->inBufferCount(), 0);
    EXPECT_LE(maxWaiting, 0);
    ASSERT_TRUE(
        WaitFor([&] { return read->droppedInput() + read->inBufferCount() == sent; }, 10000));
    EXPECT_LE(read->inBufferCount(), SerialPort::MaxPendingInput);
    const QByteArray kept = read->readAll();
    EXPECT_TRUE(kept.endsWith(char('A' + 63 % 26))) << "the newest bytes are the ones kept";
    EXPECT_TRUE(read->write("AI1;"));
    EXPECT_EQ(readPeer.readAvailable(), QByteArray("AI1;"));

    // The peer goes away: the port closes with a reason, and everything after fails quietly.
    QSignalSpy lost(read.get(), &SerialPort::commEvent);
    readPeer.hangUp();
    ASSERT_TRUE(WaitFor([&] { return !read->isOpen(); }, 5000));
    EXPECT_EQ(read->lastEventKind(), SerialPort::CommEventKind::Error);
    EXPECT_EQ(read->lastError(), QString("The device was disconnected"));
    EXPECT_EQ(lost.size(), 1);
    EXPECT_FALSE(read->write("AI1;"));
    EXPECT_TRUE(read->readAll().isEmpty());
}

} // namespace
