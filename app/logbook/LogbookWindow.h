#pragma once

// The logbook window (form5, "FarscanLog"): a row of boxes to enter a QSO and save it, the band
// the window shows, a search by callsign or locator prefix, the refresh of the log's positions,
// the worked and confirmed counts, and the log's grid.

#include "AdifRunner.h"
#include "LogDatabase.h"
#include "StationContext.h"

#include <QPointer>
#include <QWidget>
#include <functional>
#include <memory>

class LogGeoRefresh;
class OptionGroup;
class QLineEdit;
class QMessageBox;
class QProgressDialog;
class QPushButton;
class QTableView;
class RecordsetModel;
class ValueLabel;
class QAbstractProxyModel;

class LogbookWindow : public QWidget {
    Q_OBJECT
public:
    explicit LogbookWindow(StationContext& context, QWidget* parent = nullptr);
    ~LogbookWindow() override;

    // The log's grid (the main window's mouse wheel scrolls it).
    QTableView* grid() const { return m_grid; }

    // Measures the home locator (the MyGrid label) and the locator box Gr: sets HomeLonLatText
    // and LastLonLatText and keeps distance, heading and outline for the QSO being entered.
    void ComputeLogGeo();
    // The last measurement of ComputeLogGeo.
    LogGeo lastGeo() const { return m_geo; }

    // Shows the callsign and home locator settings in the Callsign and MyGrid labels (the
    // window does this when it opens; call it after the settings changed).
    void showStationSettings();

    // Where the window's messages go; by default a non-modal message box with an OK button.
    void setMessageSink(std::function<void(const QString&)> sink);

    // The Google Earth settings read when the window opened.
    int geTransparency() const { return m_geTransparency; }
    bool geBeaconLines() const { return m_geBeaconLines; }
    bool geSquareLines() const { return m_geSquareLines; }

    // The actions of the buttons.
    void newQso();
    void saveQso();
    void searchLog();
    void refreshGeo();
    void loadLogGrid();

    // Writes the QSOs of the band the window shows (every QSO with "All") to an ADIF file, in
    // chunks with a progress dialog; adifFinished reports the outcome.
    void exportAdif(const QString& path);
    // How the ADIF button asks for the file; by default a non-modal file dialog.
    void setFileChooser(AdifFileChooser chooser) { m_chooseFile = std::move(chooser); }
    // The log changed outside the window (an import): the grid and the counts again.
    void logChanged();
    // The ADIF export in progress, null when none runs.
    AdifRunner* adifRunner() const { return m_adif; }

    // The refresh in progress (tests wait for its finished signal).
    LogGeoRefresh* refresher() const { return m_refresh; }

    // Controls by their design names.
    QLineEdit* DA() const { return m_DA; }
    QLineEdit* GM() const { return m_GM; }
    QLineEdit* Ca() const { return m_Ca; }
    QLineEdit* Gr() const { return m_Gr; }
    QLineEdit* Rss() const { return m_Rss; }
    QLineEdit* Rr() const { return m_Rr; }
    QLineEdit* Ba() const { return m_Ba; }
    QLineEdit* mo() const { return m_mo; }
    QLineEdit* Na() const { return m_Na; }
    QLineEdit* Co() const { return m_Co; }
    QLineEdit* Qs() const { return m_Qs; }
    QLineEdit* Pr() const { return m_Pr; }
    QLineEdit* txtStr() const { return m_txtStr; }
    ValueLabel* cou() const { return m_cou; }
    ValueLabel* Sqw() const { return m_Sqw; }
    ValueLabel* SQc() const { return m_SQc; }
    ValueLabel* dxw() const { return m_dxw; }
    ValueLabel* DXc() const { return m_DXc; }
    ValueLabel* Callsign() const { return m_Callsign; }
    ValueLabel* MyGrid() const { return m_MyGrid; }
    ValueLabel* BandTime() const { return m_BandTime; }       // the band switch in " mS"
    ValueLabel* GridCaption() const { return m_GridCaption; } // the grid's record count
    OptionGroup* OptBand() const { return m_OptBand; }        // options 1..22 = indices 0..21
    OptionGroup* uSc_MultiOption1() const { return m_search; }
    bool searchesLocator() const; // the search box holds a locator, not a callsign
    QTableView* DataGrid1() const { return m_grid; }
    QPushButton* addnew() const { return m_addnew; }
    QPushButton* Save() const { return m_Save; }
    QPushButton* Search() const { return m_Search; }
    QPushButton* gridDEC() const { return m_gridDEC; }
    QPushButton* GoogleEarth() const { return m_GoogleEarth; }
    QPushButton* cmdExit() const { return m_cmdExit; }
    QPushButton* AdifExport() const { return m_AdifExport; }

signals:
    // The Google Earth button was pressed.
    void googleEarthRequested();
    // A refresh of the log's positions ended (ok false when it failed or was cancelled).
    void refreshFinished(bool ok);
    // An ADIF export ended; message is what the user was told.
    void adifFinished(bool ok, const QString& message);

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;
    void showEvent(QShowEvent* event) override;
    void closeEvent(QCloseEvent* event) override;

private:
    void buildControls();
    void openSteps();
    void bandChosen(int option);
    void callsignLeft();
    void locatorLeft();
    bool measureLocatorBox();
    void clearGeo();
    void focusLater(QWidget* target);
    void bindGrid(std::shared_ptr<Recordset> rows);
    void askDelete();
    void countSquares();
    void countConfirmedSquares();
    void countDxcc();
    void refreshEnded(bool ok, bool cancelled, int recordCount, const QString& error);
    void tell(const QString& text);
    QString connectionText() const;

    StationContext& m_context;
    std::function<void(const QString&)> m_message;
    bool m_loaded = false;
    LogGeo m_geo;
    QString m_geoLocator; // the Gr text m_geo was measured for
    int m_geTransparency = 128;
    bool m_geBeaconLines = true;
    bool m_geSquareLines = true;
    bool m_deleteConfirmed = false;

    QLineEdit *m_DA, *m_GM, *m_Ca, *m_Gr, *m_Rss, *m_Rr, *m_Ba, *m_mo, *m_Na, *m_Co, *m_Qs, *m_Pr;
    QLineEdit* m_txtStr;
    ValueLabel *m_cou, *m_Sqw, *m_SQc, *m_dxw, *m_DXc, *m_Callsign, *m_MyGrid, *m_BandTime,
        *m_GridCaption;
    OptionGroup* m_OptBand;
    OptionGroup* m_search;
    QTableView* m_grid;
    RecordsetModel* m_model;
    QAbstractProxyModel* m_view;
    QPushButton *m_addnew, *m_Save, *m_Search, *m_gridDEC, *m_GoogleEarth, *m_cmdExit;
    QPushButton* m_AdifExport;
    QPointer<AdifRunner> m_adif;
    AdifFileChooser m_chooseFile;
    LogGeoRefresh* m_refresh;
    QPointer<QProgressDialog> m_progress;
};
