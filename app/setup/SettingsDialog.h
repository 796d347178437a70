#pragma once

// The settings dialog "Initial": the station's callsign and locator, the serial-port rows, the
// two DX-cluster servers, the QSL card texts and the Google Earth options. It shows the settings
// the program read at start, warns about port-number clashes while they are typed, and on "Done"
// applies the port switches to the main window's ports and saves the settings file.

#include <QWidget>
#include <array>
#include <functional>

class OptionGroup;
class QCheckBox;
class QLineEdit;
class QPushButton;
class QSlider;
class SerialPort;
class ValueLabel;
struct StationContext;

struct SettingsDialogHooks {
    // The main window's Com1, Com2 and Com4; may return null.
    std::function<SerialPort*(int number)> mainPort;
    // The logbook window's ComputeLogGeo, run after the Com2 row of "Done".
    std::function<void()> computeLogGeo;
    std::function<void()> showMainWindow;
    // A message with an OK button that does not block; by default a message box opened over
    // the dialog.
    std::function<void(const QString&)> message;
};

class SettingsDialog : public QWidget {
    Q_OBJECT
public:
    SettingsDialog(StationContext& context, SettingsDialogHooks hooks, QWidget* parent = nullptr);

    // The messages the dialog shows.
    static QString PortClashMessage();
    static QString Com1ActiveMessage(const QString& port);

    // Writes the boxes into the settings, validates the locator, switches the main window's
    // ports and saves the settings file: the "Done" button. False when it stopped early (an
    // invalid locator) or the file could not be saved.
    bool done();

    // The controls, by their design names.
    QLineEdit* text3() const { return m_text3; }
    QLineEdit* text4() const { return m_text4; }
    QCheckBox* comCheck(int row) const; // Checkcom1 .. Checkcom4
    QLineEdit* comPort(int row) const;  // TxtCom1PNr .. TxtCom4PNr
    QLineEdit* comSettings(int row) const;
    QCheckBox* Check1() const { return m_check1; }
    QCheckBox* Check2() const { return m_check2; }
    QCheckBox* Check3() const { return m_check3; }
    QLineEdit* ConHost() const { return m_conHost; }
    QLineEdit* ConPort() const { return m_conPort; }
    QLineEdit* ConHost1() const { return m_conHost1; }
    QLineEdit* ConPort1() const { return m_conPort1; }
    OptionGroup* uSc_MultiOption1() const { return m_cluster; }
    // TXTinfo, TXTline2, TXTline3, TXTline4, TXTadd, TXTfoot (index 0 to 5).
    QLineEdit* qslLine(int index) const;
    QSlider* GEcolor() const { return m_geColor; }
    QCheckBox* ChecklineB() const { return m_lineB; }
    QCheckBox* ChecklineS() const { return m_lineS; }
    QPushButton* Command1() const { return m_done; }

protected:
    bool event(QEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;
    void hideEvent(QHideEvent* event) override;

private:
    void buildControls();
    void loadControls();
    void portNumberChanged(int row);
    void com1PortFocused();
    void say(const QString& text);

    StationContext& m_context;
    SettingsDialogHooks m_hooks;

    QLineEdit* m_text3 = nullptr;
    QLineEdit* m_text4 = nullptr;
    std::array<QCheckBox*, 4> m_comCheck{};
    std::array<QLineEdit*, 4> m_comPort{};
    std::array<QLineEdit*, 4> m_comSettings{};
    QCheckBox* m_check1 = nullptr;
    QCheckBox* m_check2 = nullptr;
    QCheckBox* m_check3 = nullptr;
    QLineEdit* m_conHost = nullptr;
    QLineEdit* m_conPort = nullptr;
    QLineEdit* m_conHost1 = nullptr;
    QLineEdit* m_conPort1 = nullptr;
    OptionGroup* m_cluster = nullptr;
    std::array<QLineEdit*, 6> m_qsl{};
    QSlider* m_geColor = nullptr;
    ValueLabel* m_geValue = nullptr;
    QCheckBox* m_lineB = nullptr;
    QCheckBox* m_lineS = nullptr;
    QPushButton* m_done = nullptr;

    bool m_clearingPort = false;    // the clash handler is emptying a box itself
    bool m_com1Told = false;        // the Com1 message was shown for this entry of the box
    bool m_backFromMessage = false; // the window was left for a message box
};
