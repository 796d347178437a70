#pragma once

// The main window (form1): start-up window of the program, owner of the four serial ports, the
// timers, the video preview and the beacon grid, and the menu that opens every other window.
// Loading runs its steps in a fixed order, each even when an earlier one failed; closing saves
// the settings, closes the ports and every other window, and so ends the program.

#include "SerialPort.h"
#include "WidgetHelpers.h"

#include <QMainWindow>
#include <QPointer>
#include <array>
#include <memory>

class BoardLibrary;
class KeyerController;
class KeyerPanel;
class PathController;
class PathPanel;
class RigPanel;
class RigStation;
class RotorPanel;
class OptionGroup;
class QLabel;
class QLineEdit;
class QNetworkAccessManager;
class QPlainTextEdit;
class QPushButton;
class QTableView;
class QTimer;
class SignalMonitor;
class VideoView;

struct MainWindowOptions {
    SerialPortFactory portFactory = CreateSystemSerialPort;
    BoardLibrary* board = nullptr; // null: the program's library
    bool video = true;             // connect the first camera to the preview
};

class MainWindow : public QMainWindow {
    Q_OBJECT
public:
    explicit MainWindow(MainWindowOptions options = {}, QWidget* parent = nullptr);
    ~MainWindow() override;

    // Com1 to Com4.
    SerialPort* com(int number) const;

    // The other windows, created hidden on first use: 2 settings dialog, 3 cluster window,
    // 4 GPS window, 5 logbook window, 6 QSL window.
    QWidget* window(int number);
    // Opens one of them modeless, as its menu item does.
    void openWindow(int number);

    QTableView* beaconGrid() const { return m_dataGrid1; }

    // The weather label as it stands after the page was fetched and scanned.
    void applyWeatherPage(const QString& page);

signals:
    void weatherUpdated();

protected:
    void showEvent(QShowEvent* event) override;
    void closeEvent(QCloseEvent* event) override;
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
    void unload();
    void redrawOverlay();
    void showBoardLines();
    void updatePortLabels();

    MainWindowOptions m_options;
    BoardLibrary* m_board = nullptr;
    std::array<std::unique_ptr<SerialPort>, 4> m_com;

    // Window state shared with the settings file.
    QString m_ownCallsign;
    QString m_ownLocator;
    QString m_logBandFilter;
    QString m_geTransparency;
    bool m_geBeaconLines = true;
    bool m_geSquareLines = true;
    int m_markerX = 0;
    bool m_activated = false;
    bool m_unloaded = false;
    WheelAccumulator m_wheel;

    // Controls.
    VideoView* m_vcx = nullptr;
    SignalMonitor* m_signal = nullptr; // capture, spectrum and its panel
    QLabel* m_lblCom1 = nullptr;
    QLabel* m_lblCom2 = nullptr;
    QLabel* m_lblCom4 = nullptr;
    QLabel* m_boardLines = nullptr; // only with a simulated board
    QLabel* m_label28 = nullptr;    // weather
    // The spectrum panel's reference level, shown in the Station group.
    QLabel* m_lblReflvl = nullptr;
    QLabel* m_lblMarkerX = nullptr;
    QLabel* m_image1 = nullptr; // GPS fix picture
    QPlainTextEdit* m_textBox1 = nullptr;
    QLineEdit* m_txtBeacon = nullptr;
    QLineEdit* m_txtLocB = nullptr;
    QTableView* m_dataGrid1 = nullptr;
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
    QTimer* m_timer = nullptr;
    QTimer* m_timer1 = nullptr;
    QNetworkAccessManager* m_network = nullptr;
    std::array<QPointer<QWidget>, 7> m_windows;
};
