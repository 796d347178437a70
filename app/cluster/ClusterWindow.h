#pragma once

// The cluster window (form3, "FarscanPacket"): one TCP connection to the configured DX-cluster
// server, a terminal with everything the server sends, log-in and log-out, spot lines composed
// for a station typed in or for the beacon selected in the main window, and a table of the
// spots the cluster announces.
//
// The server is settings line 21/22 or 23/24 as ClusterSelect says. The environment variable
// FARSCAN_CLUSTER="host:port" (for example "127.0.0.1:7300", or "[::1]:7300") replaces it; the
// simulated station points the window at its own cluster server with it.

#include "ClusterSpots.h"
#include "ClusterTerminal.h"
#include "StationContext.h"

#include <QWidget>
#include <functional>

class OptionGroup;
class QLineEdit;
class QMenuBar;
class QPlainTextEdit;
class QPushButton;
class QTableView;
class QTcpSocket;
class QTimer;
class ValueLabel;

class ClusterWindow : public QWidget {
    Q_OBJECT
public:
    // Received text reaches TXTterm and the spot table in batches at most this often: a
    // cluster in a contest sends hundreds of lines a second.
    static constexpr int FlushInterval = 100; // ms

    explicit ClusterWindow(StationContext& context, QWidget* parent = nullptr);
    ~ClusterWindow() override;

    // Set by whoever opens the window; unset hooks are skipped.
    std::function<void()> openSettings;                          // menu "&Initial"
    std::function<void(const QString& frequencyKhz)> tuneToSpot; // kHz digits, "144300"
    // A message with an OK button; by default a non-modal message box.
    std::function<void(const QString&)> message;

    // The line to send next; emptied by each send.
    QString ClusterCommand;

    // Fills txtmessageD (spot kind 1) or txtMessageB (spot kind 2) from the boxes, the selected
    // beacon and the propagation tag.
    void ComposeSpotLines();
    // Sends ClusterCommand and CR LF as one write, then empties ClusterCommand. When there is
    // no connection the line is lost and the status line says so.
    void SendClusterLine();
    // What the window does when it becomes the active window: the propagation tag from its
    // option, the band into QrgD, the spot lines composed again.
    void windowActivated();
    // The TCP button: a new connection to the server the settings name.
    void reconnect();

    QString ClusterHost() const { return m_host; }
    quint16 ClusterPort() const { return m_port; }
    QString PropagationTag() const { return m_tag; }
    // What the terminal holds. TXTterm shows the same once the received text is applied to it:
    // at most FlushInterval after it arrived, and at once when the connection ends.
    const TerminalText& terminal() const { return m_terminal; }
    SpotTableModel* spots() const { return m_spots; }
    QTcpSocket* socket() const { return m_socket; }

    // Controls by their design names.
    QLineEdit* QrgD() const { return m_QrgD; }
    QLineEdit* CallD() const { return m_CallD; }
    QLineEdit* txtmessageD() const { return m_txtmessageD; }
    QLineEdit* txtMessageB() const { return m_txtMessageB; }
    QPlainTextEdit* TXTterm() const { return m_TXTterm; }
    QPushButton* cmdConnect() const { return m_cmdConnect; }
    QPushButton* cmdDisconnect() const { return m_cmdDisconnect; }
    QPushButton* cmdTCP() const { return m_cmdTCP; }
    QPushButton* cmdSendmessage() const { return m_cmdSendmessage; }
    QPushButton* Cmdrefresh() const { return m_Cmdrefresh; }
    QPushButton* cmdExit() const { return m_cmdExit; }
    OptionGroup* uSc_MultiOption1() const { return m_option1; } // spot kind
    OptionGroup* uSc_MultiOption2() const { return m_option2; } // propagation
    QTableView* SpotList() const { return m_spotList; }
    ValueLabel* ClusterStatus() const { return m_status; }
    QMenuBar* menu() const { return m_menu; }

protected:
    void showEvent(QShowEvent* event) override;
    void changeEvent(QEvent* event) override;
    void closeEvent(QCloseEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void buildControls();
    void load();
    void bandIntoQrg();
    void readPropagationTag();
    void sendMessage();
    void dataArrived();
    void showReceived(const QString& text);
    void flushReceived();
    void spotChosen(const QModelIndex& index);
    void setStatus(const QString& text);

    StationContext& m_context;
    bool m_loaded = false;
    QString m_host;
    quint16 m_port = 0;
    QString m_tag;
    QString m_myCallsign;
    QString m_myGrid;
    bool m_connected = false;
    TerminalText m_terminal;
    ClusterDecoder m_decoder;
    SpotLineSplitter m_lines;
    ShownEditQueue m_shownEdits;   // what TXTterm still has to do
    QList<ClusterSpot> m_newSpots; // spots not yet listed, oldest first
    QTimer* m_flushTimer = nullptr;

    QTcpSocket* m_socket = nullptr;
    QLineEdit *m_QrgD, *m_CallD, *m_txtmessageD, *m_txtMessageB;
    QPlainTextEdit* m_TXTterm;
    QPushButton *m_cmdConnect, *m_cmdDisconnect, *m_cmdTCP, *m_cmdSendmessage, *m_Cmdrefresh,
        *m_cmdExit;
    OptionGroup *m_option1, *m_option2;
    SpotTableModel* m_spots;
    QTableView* m_spotList;
    ValueLabel* m_status;
    QMenuBar* m_menu;
};
