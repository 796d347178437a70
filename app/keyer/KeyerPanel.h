#pragma once

// The keyer's controls on the main window and the controller that ties them to the Keyer.

#include "Keyer.h"

#include <QColor>
#include <QGroupBox>
#include <QObject>
#include <memory>

class OptionGroup;
class QLineEdit;
class QPushButton;
class SettingsStore;
class StationBoard;
class TransmitControl;

class KeyerPanel : public QGroupBox {
    Q_OBJECT
public:
    explicit KeyerPanel(QWidget* parent = nullptr);

    QLineEdit* Text6() const { return m_text6; }
    QLineEdit* Text1() const { return m_text1; }
    QPushButton* TXTSel() const { return m_txtSel; }
    QPushButton* CWloop() const { return m_cwLoop; }
    OptionGroup* OptSpeed() const { return m_optSpeed; }
    QPushButton* cmdsend() const { return m_cmdsend; }
    QPushButton* cmdRX() const { return m_cmdRX; }
    QPushButton* LoopStop() const { return m_loopStop; }

private:
    QLineEdit* m_text6 = nullptr;
    QLineEdit* m_text1 = nullptr;
    QPushButton* m_txtSel = nullptr;
    QPushButton* m_cwLoop = nullptr;
    OptionGroup* m_optSpeed = nullptr;
    QPushButton* m_cmdsend = nullptr;
    QPushButton* m_cmdRX = nullptr;
    QPushButton* m_loopStop = nullptr;
};

// Colours of the keyer's toggles.
QColor LoopColour(bool on);   // green on, red off
QColor SelectColour(bool on); // green for Text1, yellow for Text6

class KeyerController : public QObject {
    Q_OBJECT
public:
    // Forwards the panel's clicks and edits to the keyer, which keys on the system clock.
    explicit KeyerController(KeyerPanel* panel, QObject* parent = nullptr);
    ~KeyerController() override;

    Keyer& keyer() { return *m_keyer; }

    // Binds the key and transmit lines to the station board, and the rig side (the
    // transceivers and the transmit toggle). Both must outlive the controller.
    void bindBoard(StationBoard& board);
    void bindRig(TransmitControl& rig);

    // Load: selects the speed option from settings line 1 (1-3; anything else selects 2),
    // restores the two toggles with their colours from lines 2 and 3, puts line 5 into Text6,
    // colours Text6 yellow and Text1 green.
    void load(const SettingsStore& settings);
    // First activation of the main window: characters are keyed from now on.
    void activate() { m_keyer->KeyerReady = true; }
    // Unload: ends a transmission that is still running (the key goes up and the transmitter is
    // released at once) and writes settings lines 1 to 5 (speed index, the toggles, Text1,
    // Text6) into the settings table.
    void unload(SettingsStore& settings);

private:
    void speedSelected(int option);

    KeyerPanel* m_panel;
    std::unique_ptr<Keyer> m_keyer;
};
