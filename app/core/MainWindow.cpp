#include "MainWindow.h"

#include "BoardLibrary.h"
#include "Database.h"
#include "KeyerPanel.h"
#include "OptionGroup.h"
#include "PathPanel.h"
#include "ProgramState.h"
#include "RigPanel.h"
#include "Settings.h"
#include "SignalMonitor.h"
#include "SignalPanel.h"
#include "StationWindows.h"
#include "VideoView.h"
#include "Weather.h"

#include <QApplication>
#include <QCloseEvent>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QMenuBar>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QStandardItemModel>
#include <QTableView>
#include <QTimer>
#include <QVBoxLayout>
#include <QWheelEvent>
#include <exception>

namespace {
const char* const kCaption = "Farscan BCN 2.1.3";

QLabel* NamedLabel(const QString& name, const QString& text, const QString& accessible,
                   QWidget* parent) {
    auto* l = new QLabel(text, parent);
    l->setObjectName(name);
    l->setAccessibleName(accessible);
    return l;
}

QPushButton* Toggle(const QString& name, const QString& caption, QWidget* parent) {
    auto* b = new QPushButton(caption, parent);
    b->setObjectName(name);
    b->setAccessibleName(caption.trimmed());
    b->setCheckable(true);
    return b;
}
} // namespace

MainWindow::MainWindow(MainWindowOptions options, QWidget* parent)
    : QMainWindow(parent), m_options(std::move(options)) {
    m_board = m_options.board ? m_options.board : &Board();
    for (auto& port : m_com) {
        port = m_options.portFactory ? m_options.portFactory() : nullptr;
        if (!port)
            port = CreateSystemSerialPort();
    }
    m_com[0]->setObjectName(QStringLiteral("Com1"));
    m_com[1]->setObjectName(QStringLiteral("Com2"));
    m_com[2]->setObjectName(QStringLiteral("Com3"));
    m_com[3]->setObjectName(QStringLiteral("Com4"));

    setObjectName(QStringLiteral("form1"));
    setWindowTitle(QString::fromLatin1(kCaption));
    resize(1100, 760);
    buildControls();
    buildMenu();
    load();
}

MainWindow::~MainWindow() {
    // Closing through the window runs the unload; a window destroyed without closing still
    // releases its ports and windows.
    if (!m_unloaded)
        unload();
    // The keyer and the rig hold the ports and each other: release them before the ports go.
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
    m_label28 = NamedLabel(QStringLiteral("Label28"), QString(), tr("Weather"), status);
    m_lblMarkerX =
        NamedLabel(QStringLiteral("lblMarkerX"), QString(), tr("Marker position"), status);
    m_lblReflvl = m_signal->panel()->referenceLabel();
    m_image1 = NamedLabel(QStringLiteral("Image1"), tr("GPS"), tr("GPS fix"), status);
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
    m_station = new RigStation(com(1), com(2), com(3), com(4), m_board, this);
    m_rigPanel = new RigPanel(m_station, central);
    m_rotorPanel = new RotorPanel(m_station, central);
    m_pathPanel = new PathPanel(central);
    m_path = new PathController(m_pathPanel, this);
    // The rotor's heading box is the one the path fills: the path panel's own box stays hidden
    // and hands its heading over.
    m_pathPanel->Text160()->hide();
    m_pathPanel->Text160()->setObjectName(QStringLiteral("PathHeading"));
    connect(m_pathPanel->Text160(), &QLineEdit::textChanged, m_rotorPanel->text160(),
            &QLineEdit::setText);
    m_path->setTurnToHeading([this] { m_rotorPanel->turnToHeading(); });
    connect(m_rotorPanel, &RotorPanel::focusLocator, this,
            [this] { m_pathPanel->Locator()->setFocus(); });
    m_keyerPanel = new KeyerPanel(central);
    m_keyer = new KeyerController(m_keyerPanel, this);
    m_keyer->bindBoard(*m_board);
    m_keyer->bindStation(*m_station, *m_rigPanel);
    auto* aiming = new QVBoxLayout;
    aiming->addWidget(m_pathPanel);
    aiming->addWidget(m_rotorPanel);
    grid->addWidget(m_rigPanel, 1, 0);
    grid->addLayout(aiming, 1, 1);
    grid->addWidget(m_keyerPanel, 1, 2);

    // Beacon grid and its editor.
    auto* beacons = new QGroupBox(tr("Beacons"), central);
    auto* beaconLayout = new QGridLayout(beacons);
    m_dataGrid1 = new QTableView(beacons);
    m_dataGrid1->setObjectName(QStringLiteral("DataGrid1"));
    m_dataGrid1->setAccessibleName(tr("Beacon list"));
    m_dataGrid1->setVerticalScrollMode(QAbstractItemView::ScrollPerItem);
    m_dataGrid1->viewport()->installEventFilter(this);
    m_txtBeacon = new QLineEdit(beacons);
    m_txtBeacon->setObjectName(QStringLiteral("txtBeacon"));
    m_txtBeacon->setAccessibleName(tr("Beacon callsign"));
    m_txtLocB = new QLineEdit(beacons);
    m_txtLocB->setObjectName(QStringLiteral("txtLocB"));
    m_txtLocB->setAccessibleName(tr("Beacon locator"));
    m_path->setBeaconLocatorSource([this] { return m_txtLocB->text(); });
    m_banCoun = Toggle(QStringLiteral("BanCoun"), QStringLiteral("dxcc"), beacons);
    beaconLayout->addWidget(m_dataGrid1, 0, 0, 1, 3);
    beaconLayout->addWidget(m_txtBeacon, 1, 0);
    beaconLayout->addWidget(m_txtLocB, 1, 1);
    beaconLayout->addWidget(m_banCoun, 1, 2);
    grid->addWidget(beacons, 2, 0, 1, 2);

    // Ports and window controls.
    auto* ports = new QGroupBox(tr("Ports"), central);
    auto* portLayout = new QVBoxLayout(ports);
    m_lblCom1 = NamedLabel(QStringLiteral("lblCom1"), QString(), tr("Com1 port"), ports);
    m_lblCom2 = NamedLabel(QStringLiteral("lblCom2"), QString(), tr("Com2 port"), ports);
    m_lblCom4 = NamedLabel(QStringLiteral("lblCom4"), QString(), tr("Com4 port"), ports);
    for (QLabel* l : {m_lblCom1, m_lblCom2, m_lblCom4}) {
        l->setAutoFillBackground(true);
        QPalette p = l->palette();
        p.setColor(QPalette::Window, Qt::black); // green and red read well on black
        l->setPalette(p);
        portLayout->addWidget(l);
    }
    m_cmdRezise = Toggle(QStringLiteral("CMDrezise"), tr("Size"), ports);
    connect(m_cmdRezise, &QPushButton::toggled, this, &MainWindow::toggleResize);
    m_cmdExit = new QPushButton(tr("Exit"), ports);
    m_cmdExit->setObjectName(QStringLiteral("cmdExit"));
    m_cmdExit->setAccessibleName(tr("Exit"));
    connect(m_cmdExit, &QPushButton::clicked, this, &QWidget::close);
    portLayout->addWidget(m_cmdRezise);
    portLayout->addWidget(m_cmdExit);
    // With a simulated board there are no relays to hear: show which lines are switched on.
    if (!qEnvironmentVariableIsEmpty("PORTIVA_SIM")) {
        m_boardLines = NamedLabel(QStringLiteral("BoardLines"), QString(),
                                  tr("Board lines switched on"), ports);
        m_boardLines->setWordWrap(true);
        portLayout->addWidget(m_boardLines);
    }
    m_rigPanel->setCom1Label(m_lblCom1);
    grid->addWidget(ports, 2, 2);

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
        int window;
    };
    const Item items[] = {
        {"mnuInitial", "&Initial", 2},       {"mnuPacket", "&Packet", 3}, {"mnuGPS", "&GPSLoc", 4},
        {"mnuFarscanLog", "&FarscanLog", 5}, {"mnuQSL", "&QSL", 6},
    };
    for (const Item& item : items) {
        QAction* a = menuBar()->addAction(QString::fromLatin1(item.caption));
        a->setObjectName(QString::fromLatin1(item.name));
        const int number = item.window;
        connect(a, &QAction::triggered, this, [this, number] { openWindow(number); });
    }
}

QWidget* MainWindow::window(int number) {
    if (number < 2 || number > 6)
        return nullptr;
    if (!m_windows[number])
        m_windows[number] = CreateStationWindow(number);
    return m_windows[number];
}

void MainWindow::openWindow(int number) {
    if (QWidget* w = window(number)) {
        w->show();
        w->raise();
        w->activateWindow();
    }
}

// ---------------------------------------------------------------------------------------------
// Load

void MainWindow::load() {
    using namespace Settings;
    // 1. Beacon text fields in capitals.
    runStep("upper-case fields", [this] {
        MakeUpperCase(m_txtBeacon);
        MakeUpperCase(m_txtLocB);
    });
    // 2.
    runStep("settings", [] { LoadSettings(); });
    // 3. Own locator, the logbook window (hidden) and the export state.
    runStep("logbook state", [this] {
        m_ownLocator = SettingsTable[MyGrid].toText();
        window(5);
        m_geTransparency = SettingsTable[GeTransparency].toText();
        m_geBeaconLines = SettingsTable[GeBeaconLines].toBool();
        m_geSquareLines = SettingsTable[GeSquareLines].toBool();
    });
    // 4.
    runStep("weather", [this] {
        if (SettingsTable[WeatherFetch].toBool())
            fetchWeather();
    });
    // 5. The wheel filter is installed with the grid; nothing more to do here.
    // 6. The board: nothing depends on the result.
    runStep("board", [this] { m_board->UsbInit(0); });
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
    runStep("station data", [this] {
        m_ownCallsign = SettingsTable[MyCallsign].toText();
        m_ownLocator = SettingsTable[MyGrid].toText();
        m_logBandFilter = SettingsTable[LogBandFilter].toText();
        Program().ownCallsign = m_ownCallsign;
        Program().ownLocator = m_ownLocator;
    });
    // 9. Keyer speed, GPS picture, tuning step, band.
    runStep("options", [this] {
        m_image1->hide();
        m_rigPanel->loadOptions(int(SettingsTable[BandIndex].toInt(1)));
        DbConnectionText = BuildConnectionText(DataFolder());
    });
    // 10. The transceivers and the rotor, then the sensor box's start command.
    runStep("Com1", [this] { openComPort(1, Com1Enabled, Com1Port, Com1Settings); });
    runStep("Com2", [this] { openComPort(2, Com2Enabled, Com2Port, Com2Settings); });
    runStep("Com4", [this] { openComPort(4, Com4Enabled, Com4Port, Com4Settings); });
    runStep("sensor start", [this] { com(3)->write(QByteArray("\x00\x00\x08", 3)); });
    // 11. Marker and rig frequency.
    runStep("marker", [this] {
        m_lblMarkerX->setText(SettingsTable[MarkerX].toText());
        m_markerX = int(SettingsTable[MarkerX].toInt(0));
        m_vcx->setMarkerX(m_markerX);
        m_rigPanel->loadRigFrequency(SettingsTable[RigFrequency].toInt(144000),
                                     SettingsTable[RigFrequency].toText());
    });
    // 12. CAT on for each open transceiver.
    runStep("CAT on", [this] {
        const QByteArray catOn(5, '\0');
        for (int n : {1, 2})
            if (com(n)->isOpen())
                com(n)->write(catOn);
    });
    // 13. Rotor label and keyer state.
    runStep("keyer state", [this] {
        m_rotorPanel->label1()->clear();
        m_keyer->load();
    });
    // 14.
    runStep("beacon sort",
            [this] { m_banCoun->setChecked(SettingsTable[BeaconSortToggle].toBool()); });
    // 15. Video preview and its overlay.
    runStep("video", [this] {
        if (m_options.video)
            m_vcx->connectFirstCamera();
        redrawOverlay();
    });
    // 16. The database; a data folder without one gets a new, empty one. Filling the beacon
    // grid from it comes with the beacon directory.
    runStep("database", [] {
        QString error;
        if (!EnsureDatabase(ConnectionTextToPath(DbConnectionText), &error))
            qWarning("Database not available: %s", qPrintable(error));
    });

    m_timer->start();
}

void MainWindow::openComPort(int number, int enabledSlot, int portSlot, int settingsSlot) {
    SerialPort* port = com(number);
    port->setPort(SettingsTable[portSlot].toText());
    port->setSettings(SettingsTable[settingsSlot].toText());
    if (SettingsTable[enabledSlot].toInt(0) != 0)
        port->open();
}

void MainWindow::fetchWeather() {
    if (!m_network)
        m_network = new QNetworkAccessManager(this);
    QNetworkRequest request(WeatherPageUrl());
    request.setTransferTimeout(15000);
    QNetworkReply* reply = m_network->get(request);
    connect(reply, &QNetworkReply::finished, this, [this, reply] {
        reply->deleteLater();
        // A failed fetch leaves the label as it was.
        if (reply->error() == QNetworkReply::NoError)
            applyWeatherPage(QString::fromUtf8(reply->readAll()));
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

void MainWindow::firstActivation() {
    updatePortLabels();
    // Reference level, spectrum parameters and the audio capture.
    m_signal->Activate();
    m_keyer->activate();
    m_image1->setVisible(Program().GpsFix);
    m_timer1->setInterval(1);
    m_timer1->start();
}

void MainWindow::updatePortLabels() {
    using namespace Settings;
    auto show = [](QLabel* label, const QString& number, const QString& settings, bool green) {
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

void MainWindow::timerTick() {
    m_rotorPanel->timerTick();
    if (m_boardLines)
        showBoardLines();
    redrawOverlay();
}

void MainWindow::timer1Tick() {
    // One spectrum computation per completed audio block.
    m_signal->Tick();
}

void MainWindow::showBoardLines() {
    QStringList on;
    for (quint8 port = 0; port < 5; ++port) {
        quint8 state = 0;
        if (!m_board->UsbGetPortState(0, port, &state)) {
            m_boardLines->setText(tr("Board: not available"));
            return;
        }
        for (int bit = 0; bit < 8; ++bit)
            if (state & (1 << bit))
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
        if (auto* log = qobject_cast<StationWindow*>(m_windows[5].data()))
            ScrollGridRows(log->grid(), rows);
        return true; // whole notches only: the grid's own wheel handling would scroll again
    }
    return QMainWindow::eventFilter(watched, event);
}

// ---------------------------------------------------------------------------------------------
// Closing

void MainWindow::closeEvent(QCloseEvent* event) {
    queryUnload();
    unload();
    event->accept();
}

void MainWindow::queryUnload() {
    m_signal->Stop();
}

void MainWindow::unload() {
    if (m_unloaded)
        return;
    m_unloaded = true;
    using namespace Settings;
    m_timer->stop();
    m_timer1->stop();

    m_keyer->unload(); // lines 1 to 5, and a transmission still running ends
    SettingsTable[MyCallsign] = SettingValue::text(m_ownCallsign);
    SettingsTable[MyGrid] = SettingValue::text(m_ownLocator);
    SettingsTable[MarkerX] = SettingValue::text(m_lblMarkerX->text());
    SettingsTable[BeaconSortToggle] = SettingValue::boolean(m_banCoun->isChecked());
    SettingsTable[LogBandFilter] = SettingValue::text(m_logBandFilter);
    const RigStation::UnloadValues rig = m_station->unloadValues();
    SettingsTable[BandIndex] = SettingValue::number(rig.bandIndex);
    SettingsTable[RigFrequency] = SettingValue::longNumber(qint32(rig.rigFrequency));
    SaveSettings();

    m_station->shutdown(); // held-button loops end before their ports close
    for (auto& port : m_com)
        if (port->isOpen())
            port->close();
    m_vcx->disconnectCamera();

    for (QPointer<QWidget>& w : m_windows) {
        if (w) {
            w->close();
            delete w.data();
        }
    }
}
