#include "MainWindow.h"

#include "BeaconCsv.h"
#include "BeaconDirectory.h"
#include "ClusterWindow.h"
#include "CountryFile.h"
#include "Database.h"
#include "GpsWindow.h"
#include "KeyerPanel.h"
#include "KmlExport.h"
#include "LogDatabase.h"
#include "LogbookWindow.h"
#include "OptionGroup.h"
#include "PathPanel.h"
#include "ProgramState.h"
#include "RigPanel.h"
#include "Settings.h"
#include "ShellLog.h"
#include "SignalMonitor.h"
#include "SignalPanel.h"
#include "StationBoard.h"
#include "ValueLabel.h"
#include "VideoView.h"
#include "Weather.h"
#include "WidgetHelpers.h"

#include <QApplication>
#include <QCloseEvent>
#include <QDesktopServices>
#include <QDir>
#include <QFileInfo>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QMenuBar>
#include <QMessageBox>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QStandardItemModel>
#include <QStatusBar>
#include <QTableView>
#include <QTimer>
#include <QUrl>
#include <QVBoxLayout>
#include <QWheelEvent>
#include <exception>

namespace {
const char* const kCaption = "Farscan BCN 2.1.3";

ValueLabel* NamedLabel(const QString& name, const QString& accessible, QWidget* parent) {
    return new ValueLabel(name, accessible, parent);
}

QPushButton* Toggle(const QString& name, const QString& caption, QWidget* parent) {
    auto* b = new QPushButton(caption, parent);
    b->setObjectName(name);
    b->setAccessibleName(caption.trimmed());
    b->setCheckable(true);
    return b;
}
} // namespace

MainWindow::MainWindow(StationContext context, MainWindowOptions options, QWidget* parent)
    : QMainWindow(parent), m_context(std::move(context)), m_options(options), m_windows(m_context) {
    InstallValueLabelAccessibility();
    static const char* const kNames[4] = {"Com1", "Com2", "Com3", "Com4"};
    for (size_t i = 0; i < m_com.size(); ++i) {
        m_com[i] = m_context.portFactory ? m_context.portFactory() : nullptr;
        if (!m_com[i])
            m_com[i] = CreateSystemSerialPort();
        m_com[i]->setObjectName(QString::fromLatin1(kNames[i]));
    }
    // Nothing reads what the transceivers send (auto-information, echoes): drop it as it comes.
    m_com[0]->setDiscardInput(true);
    m_com[1]->setDiscardInput(true);

    setObjectName(QStringLiteral("form1"));
    setWindowTitle(QString::fromLatin1(kCaption));
    resize(1100, 760);
    buildControls();
    buildMenu();
    // What the other windows need of this one.
    m_windows.settingsHooks.mainPort = [this](int number) { return com(number); };
    m_windows.settingsHooks.computeLogGeo = [this] {
        if (LogbookWindow* log = m_windows.logbookIfMade()) {
            log->showStationSettings(); // the callsign and locator just set
            log->ComputeLogGeo();
        }
    };
    m_windows.settingsHooks.showMainWindow = [this] {
        updatePortLabels();
        StationWindows::open(this);
    };
    m_windows.tuneToSpot = [this](const QString& khz) { m_beacons->TuneToFrequency(khz); };
    // Once a fix was seen it stays for the run, as GpsFix does.
    m_windows.exportLogKml = [this] { exportLogKml(); };
    m_windows.gpsFixChanged = [this](bool fix) {
        if (fix)
            m_image1->show();
    };
    load();
}

MainWindow::~MainWindow() {
    // Closing through the window runs the unload; a window destroyed without closing still
    // releases its ports and windows.
    if (!m_unloaded)
        unload();
    // The keyer and the rig hold the ports and each other: release them before the ports go.
    delete m_beacons; // its filters watch the beacon boxes, which go with the window
    delete m_keyer;
    delete m_path;
    delete m_keyerPanel;
    delete m_rigPanel;
    delete m_rotorPanel;
    delete m_station;
}

SerialPort* MainWindow::com(int number) const {
    return number >= 1 && number <= 4 ? m_com[number - 1].get() : nullptr;
}

template <class Step> void MainWindow::runStep(const char* name, Step step) {
    try {
        step();
    } catch (const std::exception& e) {
        qWarning("Start-up step %s skipped: %s", name, e.what());
    } catch (...) {
        qWarning("Start-up step %s skipped", name);
    }
}

void MainWindow::tell(const QString& text) {
    auto* box = new QMessageBox(QMessageBox::NoIcon, QString::fromLatin1(kCaption), text,
                                QMessageBox::Ok, this);
    box->setAttribute(Qt::WA_DeleteOnClose);
    box->open();
}

// ---------------------------------------------------------------------------------------------
// Controls

void MainWindow::buildControls() {
    auto* central = new QWidget(this);
    setCentralWidget(central);
    auto* grid = new QGridLayout(central);

    // Video preview with its overlay.
    m_vcx = new VideoView(central);
    m_vcx->setObjectName(QStringLiteral("VCX"));
    grid->addWidget(m_vcx, 0, 0);

    // Spectrum of the received audio.
    m_signal = new SignalMonitor(central);
    grid->addWidget(m_signal->panel(), 0, 1);

    // Rotor readouts and weather.
    auto* status = new QGroupBox(tr("Station"), central);
    auto* statusLayout = new QGridLayout(status);
    m_label28 = NamedLabel(QStringLiteral("Label28"), tr("Weather"), status);
    m_lblMarkerX = NamedLabel(QStringLiteral("lblMarkerX"), tr("Marker position"), status);
    m_lblReflvl = m_signal->panel()->referenceLabel();
    m_image1 = new QLabel(tr("GPS"), status);
    m_image1->setObjectName(QStringLiteral("Image1"));
    m_image1->setAccessibleName(tr("GPS fix"));
    m_image1->setStyleSheet(QStringLiteral("QLabel { background: rgb(0,255,0); padding: 2px; }"));
    statusLayout->addWidget(m_lblReflvl, 3, 0, 1, 2);
    statusLayout->addWidget(m_label28, 4, 0, 1, 2);
    auto* markerRow = new QHBoxLayout;
    markerRow->addWidget(new QLabel(tr("Marker:"), status));
    markerRow->addWidget(m_lblMarkerX, 1);
    statusLayout->addLayout(markerRow, 5, 0);
    statusLayout->addWidget(m_image1, 5, 1);
    m_textBox1 = new QPlainTextEdit(status);
    m_textBox1->setObjectName(QStringLiteral("TextBox1"));
    m_textBox1->setAccessibleName(tr("Weather page"));
    m_textBox1->setReadOnly(true);
    m_textBox1->hide();
    grid->addWidget(status, 0, 2);

    // Rig, bands and tuning; rotor and elevation; the path to a target; the keyer.
    m_station = new RigStation(m_context.state, com(1), com(2), com(3), com(4), &m_context.board,
                               &m_context.settings, this);
    m_rigPanel = new RigPanel(m_station, central);
    m_rotorPanel = new RotorPanel(m_station, central);
    m_pathPanel = new PathPanel(central);
    // One heading box: the rotor's. Every path computation writes its heading there and gives
    // it the focus, so Locator, Enter, Enter turns the antenna to the bearing just computed.
    m_path = new PathController(m_pathPanel, m_context.state, m_rotorPanel->text160(), this);
    connect(m_rotorPanel, &RotorPanel::focusLocator, this,
            [this] { m_pathPanel->Locator()->setFocus(); });
    m_keyerPanel = new KeyerPanel(central);
    m_keyer = new KeyerController(m_keyerPanel, this);
    m_keyer->bindBoard(m_context.board);
    m_keyer->bindRig(m_station->rig());
    auto* aiming = new QVBoxLayout;
    aiming->addWidget(m_pathPanel);
    aiming->addWidget(m_rotorPanel);
    grid->addWidget(m_rigPanel, 1, 0);
    grid->addLayout(aiming, 1, 1);
    grid->addWidget(m_keyerPanel, 1, 2);

    // Beacon grid and its editor.
    auto* beacons = new QGroupBox(tr("Beacons"), central);
    auto* beaconLayout = new QVBoxLayout(beacons);
    m_beaconPanel = new BeaconPanel(beacons);
    beaconLayout->addWidget(m_beaconPanel);
    m_dataGrid1 = m_beaconPanel->DataGrid1();
    m_txtBeacon = m_beaconPanel->txtBeacon();
    m_txtLocB = m_beaconPanel->txtLocB();
    m_banCoun = m_beaconPanel->BanCoun();
    m_dataGrid1->viewport()->installEventFilter(this);
    BeaconHooks hooks;
    // Once a run: a dialog opened again at every activation of this window would leave the
    // user no way out when it is closed without the station's values.
    hooks.openSettings = [this] {
        if (m_settingsOffered)
            return;
        m_settingsOffered = true;
        StationWindows::open(m_windows.settingsDialog());
    };
    hooks.selectDirectBand = [this](int index) {
        // The beacon's own frequency stays in force, not the band's preset.
        m_station->rig().ApplyBandPreset = false;
        m_station->rig().OptBandV(index);
    };
    hooks.selectTransverterBand = [this](int index) { m_station->rig().OptBandR(index); };
    hooks.tuneRig = [this] {
        QString copy = m_context.state.RigFreqText;
        m_station->rig().SetRigFrequency(copy);
    };
    hooks.turnRotor = [this] { m_rotorPanel->turnToHeading(); };
    hooks.openCluster = [this] { StationWindows::open(m_windows.clusterWindow()); };
    hooks.resetMaxHold = [this] { m_signal->panel()->ClearMaxHold(); };
    hooks.message = [this](const QString& text) { tell(text); };
    m_beacons = new BeaconDirectory(m_beaconPanel, m_context.state, m_context.settings, m_path,
                                    com(2), std::move(hooks), this);
    connect(m_beaconPanel->GEB(), &QPushButton::clicked, this, &MainWindow::exportBeaconsKml);
    m_keyerPanel->LoopStop()->installEventFilter(this);
    grid->addWidget(beacons, 2, 0, 1, 2);

    // Ports and window controls.
    auto* ports = new QGroupBox(tr("Ports"), central);
    auto* portLayout = new QVBoxLayout(ports);
    m_lblCom1 = NamedLabel(QStringLiteral("lblCom1"), tr("Com1 port"), ports);
    m_lblCom2 = NamedLabel(QStringLiteral("lblCom2"), tr("Com2 port"), ports);
    m_lblCom4 = NamedLabel(QStringLiteral("lblCom4"), tr("Com4 port"), ports);
    for (QLabel* l : {m_lblCom1, m_lblCom2, m_lblCom4}) {
        l->setAutoFillBackground(true);
        QPalette p = l->palette();
        p.setColor(QPalette::Window, Qt::black); // green and red read well on black
        l->setPalette(p);
        portLayout->addWidget(l);
    }
    m_cmdRezise = Toggle(QStringLiteral("CMDrezise"), tr("Size"), ports);
    m_cmdRezise->setToolTip(tr("Maximise the window; press again to restore it"));
    connect(m_cmdRezise, &QPushButton::toggled, this, &MainWindow::toggleResize);
    m_cmdExit = new QPushButton(tr("Exit"), ports);
    m_cmdExit->setObjectName(QStringLiteral("cmdExit"));
    m_cmdExit->setAccessibleName(tr("Exit"));
    connect(m_cmdExit, &QPushButton::clicked, this, &QWidget::close);
    portLayout->addWidget(m_cmdRezise);
    portLayout->addWidget(m_cmdExit);
    // With a simulated board there are no relays to hear: show which lines are switched on.
    if (!qEnvironmentVariableIsEmpty("PORTIVA_SIM")) {
        m_boardLines =
            NamedLabel(QStringLiteral("BoardLines"), tr("Board lines switched on"), ports);
        m_boardLines->setWordWrap(true);
        portLayout->addWidget(m_boardLines);
    }
    m_rigPanel->setCom1Label(m_lblCom1);
    grid->addWidget(ports, 2, 2);

    // What is really connected, whatever the port labels show.
    m_connection = NamedLabel(QStringLiteral("ConnectionStatus"), tr("Connections"), this);
    statusBar()->addWidget(m_connection, 1);

    m_timer = new QTimer(this);
    m_timer->setObjectName(QStringLiteral("Timer"));
    m_timer->setInterval(200);
    connect(m_timer, &QTimer::timeout, this, &MainWindow::timerTick);
    m_timer1 = new QTimer(this);
    m_timer1->setObjectName(QStringLiteral("Timer1"));
    connect(m_timer1, &QTimer::timeout, this, &MainWindow::timer1Tick);
}

void MainWindow::buildMenu() {
    struct Item {
        const char* name;
        const char* caption;
        QWidget* (*window)(StationWindows&);
    };
    const Item items[] = {
        {"mnuInitial", "&Initial",
         [](StationWindows& w) -> QWidget* { return w.settingsDialog(); }},
        {"mnuPacket", "&Packet", [](StationWindows& w) -> QWidget* { return w.clusterWindow(); }},
        {"mnuGPS", "&GPSLoc", [](StationWindows& w) -> QWidget* { return w.gpsWindow(); }},
        {"mnuFarscanLog", "&FarscanLog",
         [](StationWindows& w) -> QWidget* { return w.logbookWindow(); }},
        {"mnuQSL", "&QSL", [](StationWindows& w) -> QWidget* { return w.qslWindow(); }},
    };
    for (const Item& item : items) {
        QAction* a = menuBar()->addAction(QString::fromLatin1(item.caption));
        a->setObjectName(QString::fromLatin1(item.name));
        auto make = item.window;
        connect(a, &QAction::triggered, this,
                [this, make] { StationWindows::open(make(m_windows)); });
    }
    // The station's data in and out of the database.
    QMenu* data = menuBar()->addMenu(tr("&Data"));
    data->setObjectName(QStringLiteral("mnuData"));
    auto choose = [this](const QString& title, const QString& filter, bool save,
                         void (MainWindow::*action)(const QString&)) {
        OpenFileDialog(this, title, filter, save ? QStringLiteral("csv") : QString(),
                       [this, action](const QString& file) { (this->*action)(file); });
    };
    QAction* countries = data->addAction(tr("Refresh &country table from cty.dat..."));
    countries->setObjectName(QStringLiteral("mnuCountryTable"));
    connect(countries, &QAction::triggered, this, [this, choose] {
        choose(tr("Country file"), tr("Country files (cty.dat *.dat);;All files (*)"), false,
               &MainWindow::refreshCountryTable);
    });
    QAction* importBeacons = data->addAction(tr("&Import beacons from CSV..."));
    importBeacons->setObjectName(QStringLiteral("mnuImportBeacons"));
    connect(importBeacons, &QAction::triggered, this, [this, choose] {
        choose(tr("Import beacons"), tr("CSV files (*.csv);;All files (*)"), false,
               &MainWindow::importBeacons);
    });
    QAction* exportBeacons = data->addAction(tr("&Export beacons to CSV..."));
    exportBeacons->setObjectName(QStringLiteral("mnuExportBeacons"));
    connect(exportBeacons, &QAction::triggered, this, [this, choose] {
        choose(tr("Export beacons"), tr("CSV files (*.csv)"), true, &MainWindow::exportBeacons);
    });
    auto chooseAdif = [this](const QString& title, bool save,
                             void (MainWindow::*action)(const QString&)) {
        if (m_adif) {
            tell(tr("An ADIF run is in progress"));
            return;
        }
        const auto chosen = [this, action](const QString& file) { (this->*action)(file); };
        if (m_chooseAdifFile)
            m_chooseAdifFile(title, save, chosen);
        else
            OpenAdifFileDialog(this, title, save, chosen);
    };
    QAction* exportAdif = data->addAction(tr("Export log as &ADIF..."));
    exportAdif->setObjectName(QStringLiteral("mnuExportAdif"));
    connect(exportAdif, &QAction::triggered, this, [this, chooseAdif] {
        chooseAdif(tr("Export log as ADIF"), true, &MainWindow::exportLogAdif);
    });
    QAction* importAdif = data->addAction(tr("Im&port ADIF..."));
    importAdif->setObjectName(QStringLiteral("mnuImportAdif"));
    connect(importAdif, &QAction::triggered, this,
            [this, chooseAdif] { chooseAdif(tr("Import ADIF"), false, &MainWindow::importAdif); });

    QAction* about = menuBar()->addAction(tr("&About"));
    about->setObjectName(QStringLiteral("mnuAbout"));
    connect(about, &QAction::triggered, this, &MainWindow::showAbout);
}

KmlSettings MainWindow::kmlSettings() const {
    const ProgramState& state = m_context.state;
    KmlSettings kml;
    kml.callsign = state.ownCallsign;
    kml.transparency = state.GeTransparency;
    kml.beaconLines = state.GeBeaconLines;
    kml.squareLines = state.GeSquareLines;
    kml.homeLonLat = state.HomeLonLatText;
    kml.lineColour = state.LineColour;
    return kml;
}

void MainWindow::openKml(const KmlResult& result) {
    if (!result.message.isEmpty())
        tell(result.message);
    if (!result.ok)
        return;
    m_context.state.LineColour = result.lineColour;
    // The desktop's application for KML (Google Earth, Marble, a browser ...).
    if (!m_openFile(result.path))
        tell(tr("%1 was written, but no application is registered to open KML files. Open it "
                "in Google Earth or another globe program.")
                 .arg(QDir::toNativeSeparators(result.path)));
}

void MainWindow::exportBeaconsKml() {
    openKml(ExportBeaconsKml(m_context.state.DbConnectionText, m_beacons->BeaconFilter,
                             kmlSettings(), QDir::current().filePath(QStringLiteral("earth.kml"))));
}

void MainWindow::exportLogKml() {
    LogbookWindow* log = m_windows.logbookWindow();
    const QString text = m_context.state.DbConnectionText;
    const QString band = m_context.state.BandPattern;
    // The counts first, so the document name carries the current figures.
    QString error;
    const int worked = CountWorkedSquares(text, band, m_context.state.ownLocator, &error);
    const int confirmed = CountConfirmedSquares(text, band, &error);
    if (worked >= 0)
        log->Sqw()->setText(QString::number(worked));
    if (confirmed >= 0)
        log->SQc()->setText(QString::number(confirmed));
    openKml(ExportLogKml(text, band, log->txtStr()->text(), log->searchesLocator(), kmlSettings(),
                         QDir::current().filePath(QStringLiteral("earth.kml")), log->Sqw()->text(),
                         log->SQc()->text()));
}

void MainWindow::refreshCountryTable(const QString& ctyFile) {
    const CountryTableResult result = FillCountryTable(m_context.state.DbConnectionText, ctyFile);
    tell(result.message);
}

void MainWindow::importBeacons(const QString& csvFile) {
    const BeaconImportResult result = ImportBeaconCsv(m_context.state.DbConnectionText, csvFile);
    m_beacons->LoadBeaconGrid();
    tell(BeaconImportMessage(result));
}

void MainWindow::exportBeacons(const QString& csvFile) {
    tell(BeaconExportMessage(ExportBeaconCsv(m_context.state.DbConnectionText, csvFile)));
}

void MainWindow::exportLogAdif(const QString& adiFile) {
    if (m_adif)
        return;
    m_adif = AdifRunner::startExport(this, m_context.state.DbConnectionText, adiFile, {});
    connect(m_adif, &AdifRunner::exportFinished, this, [this](const AdifExportResult& r) {
        m_adif = nullptr; // the runner goes later; a new run may start now
        tell(r.message);
        emit adifFinished(r.ok, r.message);
    });
}

void MainWindow::importAdif(const QString& adiFile) {
    if (m_adif)
        return;
    m_adif = AdifRunner::startImport(this, m_context.state.DbConnectionText, adiFile,
                                     m_context.state.ownLocator);
    connect(m_adif, &AdifRunner::importFinished, this, [this](const AdifImportResult& r) {
        m_adif = nullptr; // the runner goes later; a new run may start now
        if (r.imported > 0)
            if (LogbookWindow* log = m_windows.logbookIfMade())
                log->logChanged();
        tell(r.message);
        emit adifFinished(r.ok, r.message);
    });
}

void MainWindow::showAbout() {
    tell(tr("%1\n\nBeacon monitor and station control, version %2.\nQt %3. Settings: %4\n"
            "Database: %5")
             .arg(QString::fromLatin1(kCaption), QCoreApplication::applicationVersion(),
                  QString::fromLatin1(qVersion()),
                  QDir::toNativeSeparators(QFileInfo(m_context.settings.path()).absoluteFilePath()),
                  QDir::toNativeSeparators(m_context.database.path())));
}

// ---------------------------------------------------------------------------------------------
// Load

void MainWindow::load() {
    using namespace Settings;
    SettingsStore& settings = m_context.settings;
    ProgramState& state = m_context.state;
    // 1. Beacon text fields in capitals.
    runStep("upper-case fields", [this] {
        MakeUpperCase(m_txtBeacon);
        MakeUpperCase(m_txtLocB);
    });
    // 2. The settings file: read once here for the whole run.
    runStep("settings", [this, &settings] {
        if (settings.LoadSettings() == SettingsLoad::Unreadable)
            tell(tr("%1\n\nThe program runs with default settings and leaves the file as it "
                    "is; nothing will be saved into it. Make it readable (for example "
                    "chmod u+rw) and start the program again.")
                     .arg(settings.lastError()));
    });
    // 3. Own locator, the logbook window (hidden) and the export state.
    runStep("logbook state", [this, &settings, &state] {
        state.ownLocator = settings[MyGrid].toText();
        state.ownCallsign = settings[MyCallsign].toText(); // the logbook's labels show both
        m_windows.logbookWindow()->ComputeLogGeo();
        state.GeTransparency = settings[GeTransparency].toText();
        state.GeBeaconLines = settings[GeBeaconLines].toBool();
        state.GeSquareLines = settings[GeSquareLines].toBool();
    });
    // 4.
    runStep("weather", [this, &settings] {
        if (settings[WeatherFetch].toBool())
            fetchWeather();
    });
    // 5. The wheel filter is installed with the grid; nothing more to do here.
    // 6. The board: nothing depends on the result.
    runStep("board", [this] { m_boardStarted = m_context.board.init(); });
    // 7. The sensor box on port 1.
    runStep("sensor port", [this] {
        SerialPort* com3 = com(3);
        com3->setPortNumber(1);
        com3->setSettings(QStringLiteral("9600,n,8,1"));
        com3->open();
        com3->setInputMode(SerialPort::InputMode::Binary);
        com3->setReceiveThreshold(1);
    });
    // 8.
    runStep("station data", [this, &settings, &state] {
        state.ownCallsign = settings[MyCallsign].toText();
        state.ownLocator = settings[MyGrid].toText();
    });
    // 9. Keyer speed, GPS picture, tuning step, band.
    runStep("options", [this, &settings, &state] {
        m_image1->hide();
        m_rigPanel->loadOptions(int(settings[BandIndex].toInt32(1)));
        state.DbConnectionText = m_context.database.connectionText();
    });
    // 10. The transceivers and the rotor, then the sensor box's start command.
    runStep("Com1", [this] { openComPort(1, Com1Enabled, Com1Port, Com1Settings); });
    runStep("Com2", [this] { openComPort(2, Com2Enabled, Com2Port, Com2Settings); });
    runStep("Com4", [this] { openComPort(4, Com4Enabled, Com4Port, Com4Settings); });
    runStep("sensor start", [this] { com(3)->write(QByteArray("\x00\x00\x08", 3)); });
    // 11. Marker and rig frequency.
    runStep("marker", [this, &settings] {
        m_lblMarkerX->setText(settings[MarkerX].toText());
        m_markerX = int(settings[MarkerX].toInt32(0));
        m_vcx->setMarkerX(m_markerX);
        m_rigPanel->loadRigFrequency(settings[RigFrequency].toInt(144000),
                                     settings[RigFrequency].toText());
    });
    // 12. CAT on for each open transceiver.
    runStep("CAT on", [this] {
        for (int n : {1, 2})
            if (com(n)->isOpen())
                m_station->rig().transceiver(n)->catOn();
    });
    // 13. Rotor label and keyer state.
    runStep("keyer state", [this, &settings] {
        m_rotorPanel->label1()->clear();
        m_keyer->load(settings);
    });
    // 14.
    runStep("beacon sort",
            [this, &settings] { m_banCoun->setChecked(settings[BeaconSortToggle].toBool()); });
    // 15. Video preview and its overlay.
    runStep("video", [this] {
        if (m_options.video)
            m_vcx->connectFirstCamera();
        redrawOverlay();
    });
    // 16. The database (a data folder without one gets a new one) and the beacon grid.
    runStep("database", [this] {
        QString error;
        // A file that cannot be read (a Jet file from Windows, a damaged one) is reported
        // once, by the beacon list; one that could not be made is reported here.
        if (!m_context.database.ensure(&error) && !IsJetDatabase(m_context.database.path())) {
            tell(error);
            return;
        }
        // A new log gets its country table from the country file; without the file the
        // table stays empty and the user hears why, once.
        // A file that cannot be read is reported once, by the beacon list.
        DbConnection readable;
        if (readable.open(m_context.state.DbConnectionText)) {
            readable.close();
            const CountryTableResult countries =
                EnsureCountryTable(m_context.state.DbConnectionText);
            if (!countries.ok && !countries.message.isEmpty())
                tell(countries.message);
        }
        m_beacons->LoadBeaconGrid();
    });

    m_timer->start();
}

void MainWindow::openComPort(int number, int enabledSlot, int portSlot, int settingsSlot) {
    const SettingsStore& settings = m_context.settings;
    SerialPort* port = com(number);
    port->setPort(settings[portSlot].toText());
    port->setSettings(settings[settingsSlot].toText());
    if (settings[enabledSlot].toInt(0) != 0)
        port->open();
}

void MainWindow::fetchWeather() {
    if (!m_network)
        m_network = new QNetworkAccessManager(this);
    QNetworkRequest request(WeatherPageUrl());
    request.setTransferTimeout(15000);
    QNetworkReply* reply = m_network->get(request);
    // A page that never ends is given up past the cap instead of filling the memory.
    connect(reply, &QNetworkReply::downloadProgress, this, [reply](qint64 received, qint64) {
        if (received > WeatherPageLimit) {
            qCWarning(lcShell, "Weather page larger than %d bytes: given up", WeatherPageLimit);
            reply->abort();
        }
    });
    connect(reply, &QNetworkReply::finished, this, [this, reply] {
        reply->deleteLater();
        // A failed fetch leaves the label as it was.
        if (reply->error() != QNetworkReply::NoError) {
            qCInfo(lcShell, "Weather page not fetched: %s", qPrintable(reply->errorString()));
            return;
        }
        const QByteArray body = reply->read(WeatherPageLimit);
        applyWeatherPage(
            DecodeWeatherPage(body, reply->header(QNetworkRequest::ContentTypeHeader).toString()));
    });
}

void MainWindow::applyWeatherPage(const QString& page) {
    m_textBox1->setPlainText(page);
    m_label28->setText(ScrapeWeather(page, m_label28->text()));
    emit weatherUpdated();
}

// ---------------------------------------------------------------------------------------------
// Activation and timers

void MainWindow::showEvent(QShowEvent* event) {
    QMainWindow::showEvent(event);
    if (!m_activated) {
        m_activated = true;
        firstActivation();
    }
}

void MainWindow::changeEvent(QEvent* event) {
    QMainWindow::changeEvent(event);
    // Each activation shows the beacon list as the database now holds it.
    if (event->type() == QEvent::ActivationChange && isActiveWindow() && m_activated && !m_unloaded)
        m_beacons->LoadBeaconGrid();
}

void MainWindow::firstActivation() {
    updatePortLabels();
    // Reference level, spectrum parameters and the audio capture.
    m_signal->Activate();
    m_keyer->activate();
    m_image1->setVisible(m_context.state.GpsFix);
    // One spectrum step per completed audio block: Timer1 runs once, 1 ms after the capture
    // says a block is done, instead of polling the capture a thousand times a second.
    m_timer1->setInterval(1);
    m_timer1->setSingleShot(true);
    connect(m_signal, &SignalMonitor::blockReady, m_timer1, qOverload<>(&QTimer::start),
            Qt::UniqueConnection);
    updateConnectionStatus();
}

void MainWindow::updatePortLabels() {
    using namespace Settings;
    const SettingsStore& SettingsTable = m_context.settings;
    auto show = [](ValueLabel* label, const QString& number, const QString& settings, bool green) {
        label->setText(
            QStringLiteral("%1 PortNr: %2 %3").arg(label->objectName().mid(3), number, settings));
        SetTextColour(label, green ? Colours::Green : Colours::Red);
    };
    show(m_lblCom1, com(1)->port(), com(1)->settings(), com(1)->isOpen());
    // The Com2 label shows the settings dialog's Com2 row, which holds the settings file's values.
    show(m_lblCom2, SettingsTable[Com2Port].toText(), SettingsTable[Com2Settings].toText(),
         SettingsTable[Com2Enabled].toInt(0) != 0);
    show(m_lblCom4, com(4)->port(), com(4)->settings(), com(4)->isOpen());
}

void MainWindow::updateConnectionStatus() {
    QStringList parts;
    for (int n : {1, 2, 3, 4}) {
        SerialPort* port = com(n);
        const QString device = SerialPort::DevicePathFor(port->port());
        if (port->isOpen())
            parts << tr("Com%1 %2 open").arg(n).arg(device);
        else if (!port->lastError().isEmpty())
            parts << tr("Com%1 %2 failed: %3").arg(n).arg(device, port->lastError());
        else
            parts << tr("Com%1 off").arg(n);
    }
    parts << (m_boardStarted ? tr("Board 0 running")
              : m_context.board.lastError().isEmpty()
                  ? tr("Board 0 not found")
                  : tr("Board library missing: %1").arg(m_context.board.lastError()));
    parts << tr("Sound: %1")
                 .arg(m_signal->capture().CaptureRunning() ? tr("capturing") : tr("not capturing"));
    m_connection->setText(parts.join(QStringLiteral("  |  ")));
}

void MainWindow::timerTick() {
    m_rotorPanel->timerTick();
    if (m_boardLines)
        showBoardLines();
    redrawOverlay();
    if (m_activated)
        updateConnectionStatus();
}

void MainWindow::timer1Tick() {
    // One spectrum computation per completed audio block.
    m_signal->Tick();
}

void MainWindow::showBoardLines() {
    QStringList on;
    for (quint8 port = 0; port < 5; ++port) {
        const std::optional<quint8> state = m_context.board.portLevels(port);
        if (!state) {
            m_boardLines->setText(tr("Board: not available"));
            return;
        }
        for (int bit = 0; bit < 8; ++bit)
            if (*state & (1 << bit))
                on << QString::number(port * 8 + bit);
    }
    m_boardLines->setText(tr("Board lines on: %1").arg(on.isEmpty() ? tr("none") : on.join(' ')));
}

void MainWindow::redrawOverlay() {
    m_vcx->setMarkerX(m_markerX);
    m_vcx->setOverlayText(QStringLiteral("Az: ") + m_rotorPanel->azimuthText() +
                          QStringLiteral("     Ele: ") + m_rotorPanel->elevationText());
}

void MainWindow::toggleResize(bool maximise) {
    m_vcx->pausePreview();
    if (maximise)
        showMaximized();
    else
        showNormal();
    m_vcx->resumePreview();
}

bool MainWindow::eventFilter(QObject* watched, QEvent* event) {
    if (event->type() == QEvent::Wheel && watched == m_dataGrid1->viewport()) {
        auto* wheel = static_cast<QWheelEvent*>(event);
        const int rows = m_wheel.add(wheel->angleDelta().y());
        ScrollGridRows(m_dataGrid1, rows);
        if (LogbookWindow* log = m_windows.logbookIfMade())
            ScrollGridRows(log->grid(), rows);
        return true; // whole notches only: the grid's own wheel handling would scroll again
    }
    if (event->type() == QEvent::KeyPress && watched == m_keyerPanel->LoopStop()) {
        const int key = static_cast<QKeyEvent*>(event)->key();
        if (key == Qt::Key_Return || key == Qt::Key_Enter) {
            m_beaconPanel->txtQrgB()->setFocus();
            return true;
        }
    }
    return QMainWindow::eventFilter(watched, event);
}

// ---------------------------------------------------------------------------------------------
// Closing

void MainWindow::closeEvent(QCloseEvent* event) {
    // Settings first: when they cannot be saved the user may keep the window open and mend the
    // cause (a full disk, a read-only folder) instead of losing them. A session that ends
    // (SIGTERM) cannot wait for an answer: the failure goes to the log only.
    if (!m_unloaded && !m_closeAnyway && !m_terminating && !saveSettings()) {
        event->ignore();
        auto* box = new QMessageBox(
            QMessageBox::Warning, QString::fromLatin1(kCaption),
            tr("The settings could not be saved.\n\n%1\n\nClose anyway and lose the changes "
               "of this run?")
                .arg(m_context.settings.lastError()),
            QMessageBox::NoButton, this);
        box->setObjectName(QStringLiteral("SaveFailedMessage"));
        box->addButton(tr("Close without saving"), QMessageBox::DestructiveRole);
        box->addButton(QMessageBox::Cancel);
        box->setAttribute(Qt::WA_DeleteOnClose);
        connect(box, &QMessageBox::buttonClicked, this, [this, box](QAbstractButton* b) {
            if (box->buttonRole(b) == QMessageBox::DestructiveRole) {
                m_closeAnyway = true;
                QMetaObject::invokeMethod(this, &QWidget::close, Qt::QueuedConnection);
            }
        });
        box->open();
        return;
    }
    queryUnload();
    unload();
    event->accept();
}

void MainWindow::terminate() {
    m_terminating = true;
    close();
}

void MainWindow::queryUnload() {
    m_signal->Stop();
}

bool MainWindow::saveSettings() {
    using namespace Settings;
    SettingsStore& SettingsTable = m_context.settings;
    m_keyer->unload(SettingsTable); // lines 1 to 5, and a transmission still running ends
    // The program-wide callsign and locator: whatever the settings dialog or the GPS made of
    // them during the run is what is kept.
    SettingsTable[MyCallsign] = SettingValue::text(m_context.state.ownCallsign);
    SettingsTable[MyGrid] = SettingValue::text(m_context.state.ownLocator);
    SettingsTable[MarkerX] = SettingValue::text(m_lblMarkerX->text());
    SettingsTable[BeaconSortToggle] = SettingValue::boolean(m_banCoun->isChecked());
    // LogBandFilter stays as the logbook window last wrote it.
    const RigStation::UnloadValues rig = m_station->unloadValues();
    SettingsTable[BandIndex] = SettingValue::number(rig.bandIndex);
    SettingsTable[RigFrequency] = SettingValue::clampedLong(rig.rigFrequency);
    m_settingsSaved = SettingsTable.SaveSettings();
    // A file that could not be read at start is left alone on purpose; the user was told.
    return m_settingsSaved || SettingsTable.loaded() == SettingsLoad::Unreadable;
}

void MainWindow::unload() {
    if (m_unloaded)
        return;
    m_unloaded = true;
    m_timer->stop();
    m_timer1->stop();
    if (!m_settingsSaved && !m_closeAnyway)
        saveSettings();

    m_station->shutdown(); // held-button loops end before their ports close
    for (auto& port : m_com)
        if (port->isOpen())
            port->close();
    m_vcx->disconnectCamera();

    m_windows.closeAll();
}
