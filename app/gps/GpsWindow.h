#pragma once

// The GPS window (form4, "FarscanGPSLoc"): starts and stops the receiver on Com3 (or a gpsd
// connection), shows the RMC, GGA and GSA fields, logs the accepted sentences and turns the
// position into the station's own locator while the receiver has a fix.

#include "GpsdClient.h"
#include "Nmea.h"
#include "StationContext.h"

#include <QWidget>
#include <array>
#include <functional>
#include <memory>

class QComboBox;
class QLabel;
class QLineEdit;
class QPlainTextEdit;
class QPushButton;
class ValueLabel;

class GpsWindow : public QWidget {
    Q_OBJECT
public:
    enum class Source { Serial, Gpsd };
    // Lines the log box keeps; older ones scroll away.
    static constexpr int MaxLogLines = 500;

    explicit GpsWindow(StationContext& context, QWidget* parent = nullptr);
    ~GpsWindow() override;

    // The handlers: activation (also run from changeEvent) and the start/stop button.
    void activate();
    void command1();

    // Where the receiver's data come from; changed only while stopped.
    void setSource(Source source);
    Source source() const;
    void setGpsdAddress(const QString& hostPort);

    // The Com3 port (open while the serial receiver runs) and the gpsd client.
    SerialPort* port() const { return m_port.get(); }
    GpsdClient* gpsd() const { return m_gpsd; }
    // The results the boxes show.
    const GpsState& shownState() const;

    // Where the window's messages go; by default a non-modal message box with an OK button.
    void setMessageSink(std::function<void(const QString&)> sink) { m_message = std::move(sink); }

    // Controls by their design names; txtPRN(1) to txtPRN(12) are "txtPRN1" to "txtPRN12".
    QLineEdit* box(const QString& designName) const;
    QLineEdit* txtPRN(int i) const;
    QPlainTextEdit* Text1() const { return m_text1; }
    ValueLabel* Grid() const { return m_grid; }
    ValueLabel* lblCom3() const { return m_lblCom3; }
    ValueLabel* status() const { return m_status; }
    QPushButton* Command1() const { return m_command1; }
    QLabel* Image1() const { return m_image1; }

signals:
    // The receiver's fix began (true) or ended (false). GpsFix itself stays set once a fix was
    // seen.
    void fixChanged(bool fix);

protected:
    void showEvent(QShowEvent* event) override;
    void changeEvent(QEvent* event) override;
    void closeEvent(QCloseEvent* event) override;

private:
    // Load: the port as the settings have it now, nothing received, no fix yet. Runs again when
    // the window is opened after a close, as a reloaded window would.
    void load();
    void buildControls();
    void refreshPortLabel();
    void onCommEvent();
    void portLost();
    void showRmc(const RmcResult& r);
    void showGga(const GgaResult& r);
    void showGsa(const GsaResult& r);
    void showAll(const GpsState& s);
    void appendLog(const QStringList& lines);
    void applyFix(const GpsState& s);
    void setRunning(bool running);
    void showStatus(const QString& text, bool ok);

    StationContext& m_context;
    std::unique_ptr<SerialPort> m_port;
    NmeaReceiver m_receiver;
    GpsdClient* m_gpsd = nullptr;
    bool m_serialRunning = false;
    bool m_fix = false;
    bool m_loaded = false;
    std::function<void(const QString&)> m_message;

    QComboBox* m_source = nullptr;
    QLineEdit* m_gpsdAddress = nullptr;
    std::array<QLineEdit*, 12> m_prn{};
    QPlainTextEdit* m_text1 = nullptr;
    ValueLabel* m_grid = nullptr;
    ValueLabel* m_lblCom3 = nullptr;
    ValueLabel* m_status = nullptr;
    QPushButton* m_command1 = nullptr;
    QLabel* m_image1 = nullptr;
};
