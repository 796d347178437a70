// The cluster window against a real cluster server on loopback: connect from the settings, log
// in and out, the spot lines on the wire, the terminal and the spot table under a flood, a
// server that goes away, failed connects, and the options written at close.
#include "Clock.h"
#include "ClusterWindow.h"
#include "Database.h"
#include "FakeBoard.h"
#include "OptionGroup.h"
#include "ProgramState.h"
#include "Settings.h"
#include "TestStation.h"
#include "TestSupport.h"
#include "ValueLabel.h"

#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTableView>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTest>
#include <QTimer>

namespace {

// A cluster server: takes one client, records what it sends, and sends what the test says.
class ClusterServer : public QObject {
public:
    ClusterServer() {
        server.listen(QHostAddress::LocalHost);
        connect(&server, &QTcpServer::newConnection, this, [this] {
            client = server.nextPendingConnection();
            connect(client, &QTcpSocket::readyRead, this,
                    [this] { received += client->readAll(); });
        });
    }
    QString port() const { return QString::number(server.serverPort()); }
    // Waits for the next line the client sends and returns it with its CR LF.
    QByteArray nextLine() {
        WaitFor([this] { return received.contains("\r\n"); });
        const qsizetype end = received.indexOf("\r\n");
        if (end < 0)
            return received;
        const QByteArray line = received.left(end + 2);
        received.remove(0, end + 2);
        return line;
    }

    QTcpServer server;
    QTcpSocket* client = nullptr;
    QByteArray received;
};

struct Station : TestStation {
    explicit Station(const QString& folder)
        : TestStation(folder, folder + QStringLiteral("/Farscan.txt")) {
        settings.LoadSettings();
    }
};

QString StatusOf(ClusterWindow& w) {
    return w.ClusterStatus()->text();
}

} // namespace

class ClusterWindowTest : public QObject {
    Q_OBJECT

private slots:
    void initTestCase() { EnsureApplication(); }

    void sessionWithAClusterServer() {
        ScratchDir dir;
        ClusterServer server;
        QVERIFY(server.server.isListening());
        Station station(dir.path());
        SettingsStore& settings = station.settings;
        settings[Settings::ClusterHost1] = SettingValue::text(QStringLiteral("127.0.0.1"));
        settings[Settings::ClusterPort1] = SettingValue::text(server.port());
        settings[Settings::ClusterHost2] =
            SettingValue::text(QStringLiteral("no-such-host.invalid"));
        settings[Settings::ClusterSelect] = SettingValue::number(1);
        settings[Settings::MyCallsign] = SettingValue::text(QStringLiteral("DL0TST"));
        settings[Settings::MyGrid] = SettingValue::text(QStringLiteral("JO62QM12"));
        settings[Settings::ClusterOption1] = SettingValue::number(1);
        settings[Settings::ClusterOption2] = SettingValue::number(1);
        station.state.BandPattern = QStringLiteral("10368%");
        station.state.SelectedBeacon = QStringLiteral("DB0ABC/B");
        station.state.SpotLocator = QStringLiteral("JO50AB");
        station.state.SpotFrequency = QStringLiteral(" 10368850");
        EnvGuard noOverride("FARSCAN_CLUSTER", QByteArray());

        StationContext context = station.context();
        ClusterWindow w(context);
        QStringList tuned;
        w.tuneToSpot = [&](const QString& khz) { tuned.append(khz); };
        QStringList messages;
        w.message = [&](const QString& m) { messages.append(m); };
        QCOMPARE(w.objectName(), QStringLiteral("form3"));
        QCOMPARE(w.windowTitle(), QStringLiteral("FarscanPacket"));
        QVERIFY(w.windowFlags() & Qt::Window);
        w.show();
        QVERIFY(WaitFor([&] { return server.client != nullptr; }));
        QVERIFY(WaitFor([&] {
            return StatusOf(w) == QStringLiteral("Connected to 127.0.0.1:") + server.port();
        }));
        QCOMPARE(w.ClusterHost(), QStringLiteral("127.0.0.1"));
        QCOMPARE(w.QrgD()->text(), QStringLiteral("10368"));
        QVERIFY(w.TXTterm()->isReadOnly());
        for (QWidget* c : w.findChildren<QWidget*>())
            if (c->focusPolicy() != Qt::NoFocus && c->isVisibleTo(&w))
                QVERIFY2(!c->accessibleName().isEmpty() || !c->objectName().isEmpty(),
                         qPrintable(c->metaObject()->className()));

        // LogIn and LogOut send the callsign and "bye".
        w.cmdConnect()->click();
        QCOMPARE(server.nextLine(), QByteArray("DL0TST\r\n"));

        // The DX line: the call typed in capitals, no space before the tag, six grid letters.
        w.QrgD()->setText(QStringLiteral("144300"));
        w.CallD()->setFocus();
        QTest::keyClicks(w.CallD(), QStringLiteral("q0abc"));
        QCOMPARE(w.CallD()->text(), QStringLiteral("Q0ABC"));
        w.Cmdrefresh()->click();
        QCOMPARE(w.PropagationTag(), QStringLiteral("<Tr>"));
        QCOMPARE(w.txtmessageD()->text(), QStringLiteral("dx 144300 Q0ABC<Tr>JO62QM"));
        w.cmdSendmessage()->click();
        QCOMPARE(server.nextLine(), QByteArray("dx 144300 Q0ABC<Tr>JO62QM\r\n"));
        QVERIFY(w.ClusterCommand.isEmpty());

        // The beacon line: two spaces after "dx "; a change of propagation retags at once.
        w.uSc_MultiOption1()->setSelected(2);
        w.uSc_MultiOption2()->setSelected(2);
        QCOMPARE(w.txtMessageB()->text(), QStringLiteral("dx  10368850 DB0ABC/B JO50AB<Rs>JO62QM"));
        w.cmdSendmessage()->click();
        QCOMPARE(server.nextLine(), QByteArray("dx  10368850 DB0ABC/B JO50AB<Rs>JO62QM\r\n"));

        // Kind 3 composes neither line and sends CR LF alone.
        w.uSc_MultiOption1()->setSelected(3);
        w.uSc_MultiOption2()->setSelected(3);
        QCOMPARE(w.txtMessageB()->text(), QStringLiteral("dx  10368850 DB0ABC/B JO50AB<Rs>JO62QM"));
        w.cmdSendmessage()->click();
        QCOMPARE(server.nextLine(), QByteArray("\r\n"));
        w.cmdDisconnect()->click();
        QCOMPARE(server.nextLine(), QByteArray("bye\r\n"));

        // Activation takes the band again.
        w.QrgD()->setText(QStringLiteral("144"));
        w.windowActivated();
        QCOMPARE(w.QrgD()->text(), QStringLiteral("10368"));
        QCOMPARE(w.PropagationTag(), QStringLiteral("<Es>"));

        // What the server sends: telnet negotiation refused, NUL dropped, Latin-1 and UTF-8
        // lines read as such, a backspace, spots listed newest first.
        static const char greeting[] = "\xFF\xFD\x18"
                                       "Welcome\0 DL0TST\r\n"
                                       "Gr\xFC\xDF"
                                       "e\r\n"
                                       "Gr\xC3\xBC\xC3\x9F"
                                       "e\r\n"
                                       "ab\x08"
                                       "c\r\n";
        server.client->write(greeting, sizeof(greeting) - 1);
        server.client->write(
            "DX de OK1XYZ:    14074.0  Q0DEF        FT8                  1230Z\r\n"
            "DX de DL1ABC:   144300.0  Q0ABC        JO60<TR>JO62 tnx     1234Z\r\n");
        QVERIFY(WaitFor([&] { return w.spots()->rowCount() == 2; }));
        QVERIFY(WaitFor([&] { return server.received.contains("\xFF\xFC\x18"); }));
        const QString shown = QString::fromUtf8("Welcome DL0TST\nGrüße\nGrüße\nac\n");
        QVERIFY2(w.terminal().shownText().startsWith(shown), qPrintable(w.terminal().text()));
        QCOMPARE(w.TXTterm()->toPlainText(), w.terminal().shownText());
        QCOMPARE(w.spots()->spot(0).dxCall, QStringLiteral("Q0ABC"));

        // A spot on a band of the station tunes; one on another band says why not.
        QTableView* list = w.SpotList();
        list->setCurrentIndex(w.spots()->index(1, 0));
        QTest::keyClick(list, Qt::Key_Return);
        QVERIFY(tuned.isEmpty());
        QCOMPARE(StatusOf(w), QStringLiteral("The station has no band for 14074.0 kHz (Q0DEF)"));
        const QPoint onTop = list->visualRect(w.spots()->index(0, 1)).center();
        QTest::mouseClick(list->viewport(), Qt::LeftButton, {}, onTop);
        QTest::mouseDClick(list->viewport(), Qt::LeftButton, {}, onTop);
        QCOMPARE(tuned, QStringList{QStringLiteral("144300")});

        // A flood of about 1 MB/s for 1.5 s with NUL bytes and Latin-1, ending mid-line.
        qsizetype largest = 0;
        connect(w.socket(), &QTcpSocket::readyRead, this,
                [&] { largest = qMax(largest, w.terminal().size()); });
        QByteArray chunk;
        for (int i = 0; chunk.size() < 65536; ++i) {
            chunk += "DX de DL" + QByteArray::number(i % 10) + "ABC:  144" +
                     QByteArray::number(100 + i % 900) + ".0  Q0F" + QByteArray::number(i) +
                     "  flood \xE9";
            chunk.append('\0');
            chunk.append(" line  1234Z\r\n");
        }
        int sent = 0;
        QTimer flood;
        connect(&flood, &QTimer::timeout, this, [&] {
            if (sent++ < 24) {
                server.client->write(chunk);
                return;
            }
            flood.stop();
            server.client->write("DX de HALF: 1443");
            server.client->disconnectFromHost();
        });
        flood.start(62);
        QVERIFY(WaitFor([&] { return StatusOf(w) == QStringLiteral("Disconnected by the server"); },
                        60000));
        QVERIFY2(largest <= TerminalText::Limit + 2 * 4096, qPrintable(QString::number(largest)));
        QVERIFY(w.terminal().size() <= TerminalText::Limit + 2 * 4096);
        QVERIFY(w.terminal().text().endsWith(QStringLiteral("DX de HALF: 1443")));
        QCOMPARE(w.TXTterm()->document()->characterCount() - 1,
                 w.terminal().size() - w.terminal().text().count(QLatin1Char('\r')));
        QCOMPARE(w.TXTterm()->toPlainText(), w.terminal().shownText());
        QVERIFY(!w.terminal().text().contains(QLatin1Char('\0')));
        QVERIFY(!w.terminal().text().contains(QStringLiteral("Disconnected")));
        QCOMPARE(w.spots()->rowCount(), SpotTableModel::MaxRows);

        // A line sent with no connection is reported; the command is gone all the same.
        w.cmdConnect()->click();
        QCOMPARE(StatusOf(w), QStringLiteral("Not connected: the line was not sent"));
        QVERIFY(w.ClusterCommand.isEmpty());

        // Close: the options go to the settings file, the beacon selection is forgotten.
        w.uSc_MultiOption1()->setSelected(2);
        w.uSc_MultiOption2()->setSelected(3);
        w.cmdExit()->click();
        QVERIFY(!w.isVisible());
        QVERIFY(station.state.SelectedBeacon.isEmpty());
        QVERIFY(station.state.SpotLocator.isEmpty());
        QCOMPARE(station.state.SpotFrequency, QStringLiteral(" 10368850"));
        SettingsStore reread(settings.path());
        QCOMPARE(reread.LoadSettings(), SettingsLoad::Read);
        QCOMPARE(reread[Settings::ClusterOption1].toInt(), 2);
        QCOMPARE(reread[Settings::ClusterOption2].toInt(), 3);
        QCOMPARE(reread[Settings::ClusterPort1].toText(), server.port());
        QVERIFY(messages.isEmpty());
    }

    void failedConnects() {
        ScratchDir dir;
        Station station(dir.path());
        SettingsStore& settings = station.settings;
        settings[Settings::ClusterHost2] =
            SettingValue::text(QStringLiteral("no-such-host.invalid"));
        settings[Settings::ClusterPort2] = SettingValue::text(QStringLiteral("7373"));
        settings[Settings::ClusterSelect] = SettingValue::number(2);
        EnvGuard noOverride("FARSCAN_CLUSTER", QByteArray());
        StationContext context = station.context();
        ClusterWindow w(context);
        QCOMPARE(w.ClusterHost(), QStringLiteral("no-such-host.invalid"));
        QVERIFY(WaitFor(
            [&] { return StatusOf(w).startsWith(QStringLiteral("Connection failed: ")); }, 20000));
        w.cmdSendmessage()->click();
        QCOMPARE(StatusOf(w), QStringLiteral("Not connected: the line was not sent"));

        // A port nobody listens on, named by FARSCAN_CLUSTER.
        QTcpServer closed;
        QVERIFY(closed.listen(QHostAddress::LocalHost));
        const QByteArray refused = "127.0.0.1:" + QByteArray::number(closed.serverPort());
        closed.close();
        {
            EnvGuard override("FARSCAN_CLUSTER", refused);
            w.cmdTCP()->click();
            QVERIFY(WaitFor([&] {
                return StatusOf(w) == QStringLiteral("Connection failed: Connection refused");
            }));
        }
        // A port that is no port.
        {
            EnvGuard override("FARSCAN_CLUSTER", "127.0.0.1:http");
            w.cmdTCP()->click();
            QVERIFY(StatusOf(w).startsWith(QStringLiteral("Connection failed: no valid port")));
        }
        // And a server that is there, through the same variable.
        ClusterServer server;
        EnvGuard override("FARSCAN_CLUSTER", "127.0.0.1:" + server.port().toLatin1());
        w.cmdTCP()->click();
        QVERIFY(WaitFor([&] { return StatusOf(w).startsWith(QStringLiteral("Connected to")); }));
        QVERIFY(w.terminal().text().isEmpty());
    }
};

QTEST_APPLESS_MAIN(ClusterWindowTest)
#include "tst_clusterwindow.moc"
