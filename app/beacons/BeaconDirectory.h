#pragma once

// The beacon directory of the main window: the grid of PNT_Beacon with its search, sort and
// monitor filter, the small editor that adds beacons, and the selection that tunes the station
// to a beacon, computes the path and turns the antenna.
//
// The directory reaches the rig, the rotor, the signal display and the other windows only
// through the hooks the main window gives it, so it runs without them in tests.

#include <QPointer>
#include <QString>
#include <QWidget>
#include <functional>
#include <memory>

class PathController;
class QLabel;
class QLineEdit;
class QPushButton;
class QTableView;
class Recordset;
class RecordsetModel;
class SerialPort;
class SettingsStore;
class ValueLabel;
struct ProgramState;

// The controls, with their design names as object names.
class BeaconPanel : public QWidget {
    Q_OBJECT
public:
    explicit BeaconPanel(QWidget* parent = nullptr);

    QTableView* DataGrid1() const { return m_grid; }
    ValueLabel* caption() const { return m_caption; } // the grid's record count
    QLineEdit* BeSearch() const { return m_search; }
    QPushButton* BanCoun() const { return m_banCoun; }
    QPushButton* BeMon() const { return m_beMon; }
    QPushButton* Bcn() const { return m_bcn; }
    QLineEdit* txtBeacon() const { return m_txtBeacon; }
    QLineEdit* txtQrgB() const { return m_txtQrgB; }
    QLineEdit* txtLocB() const { return m_txtLocB; }
    QLineEdit* txtComment() const { return m_txtComment; }
    QPushButton* CMDaddnew() const { return m_addNew; }
    QPushButton* CmdSave() const { return m_save; }
    QPushButton* GD() const { return m_gd; }
    QPushButton* GEB() const { return m_geb; }

private:
    QTableView* m_grid;
    ValueLabel* m_caption;
    QLineEdit* m_search;
    QPushButton* m_banCoun;
    QPushButton* m_beMon;
    QPushButton* m_bcn;
    QLineEdit* m_txtBeacon;
    QLineEdit* m_txtQrgB;
    QLineEdit* m_txtLocB;
    QLineEdit* m_txtComment;
    QPushButton* m_addNew;
    QPushButton* m_save;
    QPushButton* m_gd;
    QPushButton* m_geb;
};

// What a beacon selection sets in motion outside the directory. Unset hooks are skipped.
struct BeaconHooks {
    std::function<void()> openSettings;                   // callsign or locator missing
    std::function<void(int index)> selectDirectBand;      // OptBandV, without the band's preset
    std::function<void(int index)> selectTransverterBand; // OptBandR
    std::function<void()> tuneRig;                        // to a copy of RigFreqText
    std::function<void()> turnRotor;                      // to the heading just computed
    std::function<void()> openCluster;                    // for a spot of SelectedBeacon
    std::function<void()> resetMaxHold;                   // lblMaxHold = "0"
    // A message with an OK button, and a Yes/No question whose answer arrives later.
    std::function<void(const QString&)> message;
    std::function<void(const QString&, std::function<void(bool yes)>)> ask;
};

// The transverter band (OptBandR index 1-9) a frequency in kHz begins with; 0 for none.
int TransverterBandOf(const QString& khz);
// True when a frequency in kHz falls on one of the station's bands as the beacon list picks
// them: 5 or 6 digits beginning 50, 144 or 432, or a transverter band.
bool StationHasBand(const QString& khz);

// The key codes the selection tests for.
inline constexpr int KeyEnter = 13;
inline constexpr int KeyCtrl = 17;

class BeaconDirectory : public QObject {
    Q_OBJECT
public:
    // path: the main window's path computation (its Locator box is the target box). com2: the
    // second transceiver's port, which receives a microwave beacon's frequency.
    BeaconDirectory(BeaconPanel* panel, ProgramState& state, SettingsStore& settings,
                    PathController* path, SerialPort* com2, BeaconHooks hooks,
                    QObject* parent = nullptr);
    ~BeaconDirectory() override;

    // Empty for all beacons, "%/b%" for the monitor list.
    QString BeaconFilter;

    // Fills the grid: first-run check, schema check, search, sort, filter, record count.
    void LoadBeaconGrid();
    // The grid's key event with the current cell: 13 Enter, 17 Ctrl, anything else.
    void SelectBeacon(int keyCode);
    // Tunes the station to a frequency in kHz (a cluster spot) as Enter on a beacon of that
    // frequency does, without path or rotor. False, doing nothing, for a band the station lacks.
    bool TuneToFrequency(const QString& khz);
    void AddNew();
    // Appends the editor's beacon; false (after the message) when it could not be stored.
    bool Save();
    // Asks, then deletes the grid's current row when the answer is Yes.
    void DeleteCurrent();
    // Writes the Google Earth fields of every listed beacon.
    void GoogleEarthData();

    // The recordset bound to the grid (null before the first load).
    std::shared_ptr<Recordset> gridRecordset() const;
    // Why the last grid load failed; empty after a good one.
    QString lastError() const { return m_lastError; }

signals:
    // After each grid load, with the record count (-1 when the load failed).
    void gridLoaded(int count);

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void tell(const QString& text);
    void locatorCheck();
    void chooseBand(int keyCode);
    void setColumnWidths();
    QString currentBeaconName() const;

    BeaconPanel* m_panel;
    ProgramState& m_state;
    SettingsStore& m_settings;
    PathController* m_path;
    SerialPort* m_com2;
    BeaconHooks m_hooks;
    RecordsetModel* m_model;
    QString m_reportedError; // a failing load is reported once, not on every activation
    QString m_lastError;
    bool m_questionOpen = false;  // the delete question waits for its answer
    bool m_reloadPending = false; // a load asked for meanwhile
};
