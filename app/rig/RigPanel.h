#pragma once

// The rig, band and antenna controls of the main window and the controller the main window
// calls at load, on each tick of its timer and at unload. The controls keep their design names
// as object names; the behaviour lives in RigControl and RotorControl.

#include "RigControl.h"
#include "RotorControl.h"

#include <QWidget>

class OptionGroup;
class QLabel;
class QLineEdit;
class QPushButton;
#include "ValueLabel.h"

class RigStation : public QObject {
    Q_OBJECT
public:
    // Com1 and Com2 the transceivers, Com3 the sensor box, Com4 the rotor controller. The
    // settings give the transceivers' models and Com1's enabled state; null reads nothing.
    RigStation(ProgramState& state, SerialPort* com1, SerialPort* com2, SerialPort* com3,
               SerialPort* com4, StationBoard* board, const SettingsStore* settings,
               QObject* parent = nullptr);

    RigControl& rig() { return m_rig; }
    RotorControl& rotor() { return m_rotor; }

    // Values the main window writes back into the settings at unload.
    struct UnloadValues {
        int bandIndex;
        qint64 rigFrequency;
    };
    UnloadValues unloadValues() const;
    // Ends held-button loops; call before the ports close.
    void shutdown();

private:
    RigControl m_rig;
    RotorControl m_rotor;
};

// Bands, tuning step, presets, tuning buttons, transmit toggle and the band frequency.
class RigPanel : public QWidget {
    Q_OBJECT
public:
    explicit RigPanel(RigStation* station, QWidget* parent = nullptr);

    // Load, step 9: tuning-step option 1 and band option bandIndex (runs its click).
    void loadOptions(int bandIndex);
    // Load, step 11: the rig frequency from settings line 35; refreshes formatFre.
    void loadRigFrequency(qint64 rigFrequency, const QString& rigFreqText);

    // The transmit toggle, as the keyer sets it: a change runs its click.
    void setTxRx(bool value);
    bool txRx() const;
    // The label lblCom1 of the main window, coloured red when Com1 is disabled.
    void setCom1Label(QWidget* label) { m_lblCom1 = label; }

    OptionGroup* optBandR() const { return m_optBandR; }
    OptionGroup* optBandV() const { return m_optBandV; }
    OptionGroup* optQRG() const { return m_optQRG; }
    OptionGroup* optFT847() const { return m_optFT847; }
    QPushButton* freqUp() const { return m_freqUp; }
    QPushButton* freqDwn() const { return m_freqDwn; }
    QPushButton* txRxButton() const { return m_txRx; }
    ValueLabel* formatFre() const { return m_formatFre; }

private:
    RigStation* m_station;
    OptionGroup* m_optBandR;
    OptionGroup* m_optBandV;
    OptionGroup* m_optQRG;
    OptionGroup* m_optFT847;
    QPushButton* m_freqUp;
    QPushButton* m_freqDwn;
    QPushButton* m_txRx;
    ValueLabel* m_formatFre;
    ValueLabel* m_label41;
    QWidget* m_lblCom1 = nullptr;
    bool m_showingBands = false;
};

// Azimuth buttons, heading boxes, elevation buttons, the automatic hold and the readouts.
class RotorPanel : public QWidget {
    Q_OBJECT
public:
    explicit RotorPanel(RigStation* station, QWidget* parent = nullptr);

    // The polling step of the main window's Timer.
    void timerTick();
    // The texts the video overlay shows.
    QString azimuthText() const;
    QString elevationText() const;

    // The heading box: the one box the path computation writes its heading into and the user
    // may type into; Enter turns the antenna to it.
    QLineEdit* text160() const { return m_text160; }
    QLineEdit* text177() const { return m_text177; }
    QPushButton* eleAuto() const { return m_eleAuto; }
    QPushButton* eleUp() const { return m_eleUp; }
    QPushButton* eleDwn() const { return m_eleDwn; }
    ValueLabel* label1() const { return m_label1; }
    ValueLabel* label30() const { return m_label30; }
    ValueLabel* label31() const { return m_label31; }
    // Enter in Text160 (also the beacon list's way to turn the antenna).
    void turnToHeading();

signals:
    // After Enter in Text160: the main window gives the focus to its Locator box.
    void focusLocator();

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void showEleAuto(bool automatic);

    RigStation* m_station;
    QPushButton* m_aziL;
    QPushButton* m_aziR;
    QPushButton* m_rotorStop;
    QLineEdit* m_text160;
    QLineEdit* m_text177;
    QPushButton* m_eleUp;
    QPushButton* m_eleDwn;
    QPushButton* m_eleAuto;
    ValueLabel* m_label1;
    ValueLabel* m_label30;
    ValueLabel* m_label31;
};
