#pragma once

// The main window (form1): start-up window of the program, owner of the four serial ports, the
// timers, the video preview and the beacon grid, and the menu that opens every other window.
// Loading runs its steps in a fixed order, each even when an earlier one failed; closing saves
// the settings, closes the ports and every other window, and so ends the program.

#include "AdifRunner.h"
#include "SerialPort.h"
#include "StationContext.h"
#include "StationWindows.h"
#include "WidgetHelpers.h"

#include <QDesktopServices>
#include <QMainWindow>
#include <QPointer>
#include <QUrl>
#include <array>
#include <functional>
#include <memory>

class BeaconDirectory;
class BeaconPanel;
class KeyerController;
struct KmlResult;
struct KmlSettings;
class KeyerPanel;
class PathController;
class PathPanel;
class RigPanel;
class RigStation;
class RotorPanel;
class QLabel;
class QLineEdit;
class QNetworkAccessManager;
class QPlainTextEdit;
class QPushButton;
class QTableView;
class QTimer;
class SignalMonitor;
class ValueLabel;
class VideoView;

struct MainWindowOptions {
    bool video = true; // connect the first camera to the preview
};

class MainWindow : public QMainWindow {
    Q_OBJECT
public:
    explicit MainWindow(StationContext context, MainWindowOptions options = {},
                        QWidget* parent = nullptr);
    ~MainWindow() override;

    // Com1 to Com4.
    SerialPort* com(int number) const;

    // The other windows, created on first use and opened from the menu.
    StationWindows& windows() { return m_windows; }

    QTableView* beaconGrid() const { return m_dataGrid1; }
    BeaconDirectory* beacons() const { return m_beacons; }
    BeaconPanel* beaconPanel() const { return m_beaconPanel; }
    // The status line's summary of what is really connected.
    ValueLabel* connectionStatus() const { return m_connection; }

    // The Data menu's actions once a file is chosen; each tells the user what it did.
    void refreshCountryTable(const QString& ctyFile);
    void importBeacons(const QString& csvFile);
    void exportBeacons(const QString& csvFile);
    // The whole log out to an ADIF file, and an ADIF file's QSOs into the log, in chunks with a
    // progress dialog; adifFinished reports the outcome. An import refreshes the logbook.
    void exportLogAdif(const QString& adiFile);
    void importAdif(const QString& adiFile);
    // How the ADIF entries ask for their file; by default a non-modal file dialog.
    void setAdifFileChooser(AdifFileChooser chooser) { m_chooseAdifFile = std::move(chooser); }
    // The ADIF run in progress, null when none runs.
    AdifRunner* adifRunner() const { return m_adif; }

    // The Google Earth exports into "earth.kml" in the working folder, then opened with the
    // desktop's application for KML (the GEB button; the logbook's GoogleEarth button).
    void exportBeaconsKml();
    void exportLogKml();
    // How a written file is opened; by default the desktop's registered application.
    void setFileOpener(std::function<bool(const QString&)> open) { m_openFile = std::move(open); }

    // The weather label as it stands after the page was fetched and scanned.
    void applyWeatherPage(const QString& page);

    // The session ends (SIGTERM, SIGINT): close through the unload without asking anything.
    void terminate();

signals:
    void weatherUpdated();
    // An ADIF export or import ended; message is what the user was told.
    void adifFinished(bool ok, const QString& message);

protected:
    void showEvent(QShowEvent* event) override;
    void closeEvent(QCloseEvent* event) override;
    void changeEvent(QEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void buildControls();
    void buildMenu();
    template <class Step> void runStep(const char* name, Step step);

    void load();
    void fetchWeather();
    void openComPort(int number, int enabledSlot, int portSlot, int settingsSlot);
    void firstActivation();
    void timerTick();
    void timer1Tick();
    void toggleResize(bool maximise);
    void queryUnload();
    // Writes the window's state into the settings and saves them; false when they could not
    // be saved.
    bool saveSettings();
    void unload();
    void redrawOverlay();
    void showBoardLines();
    void updatePortLabels();
    void updateConnectionStatus();
    void showAbout();
    // A message with an OK button that does not stop the window's timers.
    void tell(const QString& text);
    KmlSettings kmlSettings() const;
    void openKml(const KmlResult& result);

    StationContext m_context;
    MainWindowOptions m_options;
    std::array<std::unique_ptr<SerialPort>, 4> m_com;
    StationWindows m_windows;

    // Window state shared with the settings file; callsign and locator are program-wide.
    int m_markerX = 0;
    bool m_activated = false;
    bool m_unloaded = false;
    bool m_boardStarted = false;
    bool m_settingsSaved = false;
    bool m_closeAnyway = false;
    bool m_terminating = false;
    bool m_settingsOffered = false;
    std::function<bool(const QString&)> m_openFile = [](const QString& path) {
        return QDesktopServices::openUrl(QUrl::fromLocalFile(path));
    }; // the first-run settings dialog was opened
    WheelAccumulator m_wheel;
    QPointer<AdifRunner> m_adif;
    AdifFileChooser m_chooseAdifFile;

    // Controls.
    VideoView* m_vcx = nullptr;
    SignalMonitor* m_signal = nullptr; // capture, spectrum and its panel
    ValueLabel* m_lblCom1 = nullptr;
    ValueLabel* m_lblCom2 = nullptr;
    ValueLabel* m_lblCom4 = nullptr;
    ValueLabel* m_boardLines = nullptr; // only with a simulated board
    ValueLabel* m_label28 = nullptr;    // weather
    // The spectrum panel's reference level, shown in the Station group.
    QLabel* m_lblReflvl = nullptr;
    ValueLabel* m_lblMarkerX = nullptr;
    QLabel* m_image1 = nullptr; // GPS fix picture
    QPlainTextEdit* m_textBox1 = nullptr;
    QLineEdit* m_txtBeacon = nullptr;
    QLineEdit* m_txtLocB = nullptr;
    QTableView* m_dataGrid1 = nullptr;
    BeaconPanel* m_beaconPanel = nullptr;
    BeaconDirectory* m_beacons = nullptr;
    QPushButton* m_banCoun = nullptr;
    RigStation* m_station = nullptr;
    RigPanel* m_rigPanel = nullptr;
    RotorPanel* m_rotorPanel = nullptr;
    PathPanel* m_pathPanel = nullptr;
    PathController* m_path = nullptr;
    KeyerPanel* m_keyerPanel = nullptr;
    KeyerController* m_keyer = nullptr;
    QPushButton* m_cmdExit = nullptr;
    QPushButton* m_cmdRezise = nullptr;
    ValueLabel* m_connection = nullptr;
    QTimer* m_timer = nullptr;
    QTimer* m_timer1 = nullptr;
    QNetworkAccessManager* m_network = nullptr;
};
