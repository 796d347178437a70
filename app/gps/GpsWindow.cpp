#include "GpsWindow.h"

#include "GpsLog.h"
#include "Locator.h"
#include "ProgramState.h"
#include "Settings.h"
#include "StationColours.h"
#include "ValueLabel.h"
#include "WidgetHelpers.h"

#include <QCloseEvent>
#include <QComboBox>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QVBoxLayout>

namespace {

struct BoxSpec {
    const char* name;
    const char* caption; // the label beside the box
    const char* accessible;
};

const BoxSpec RmcBoxes[] = {
    {"txtUT", "UTC", "RMC UTC time"},  {"txtRW", "Valid", "RMC valid"},
    {"txtLa", "Lat", "RMC latitude"},  {"txtLAD", "N/S", "RMC latitude hemisphere"},
    {"txtLo", "Lon", "RMC longitude"}, {"txtLOD", "E/W", "RMC longitude hemisphere"},
    {"txtSK", "Speed", "RMC speed"},   {"txtCO", "Course", "RMC course"},
    {"txtDS", "Date", "RMC date"},     {"txtMD", "MagDec", "RMC magnetic variation"},
};

const BoxSpec GgaBoxes[] = {
    {"txtUT2", "UTC", "GGA UTC time"},
    {"txtLa2", "Lat", "GGA latitude"},
    {"txtLAD2", "N/S", "GGA latitude hemisphere"},
    {"txtLo2", "Lon", "GGA longitude"},
    {"txtLOD2", "E/W", "GGA longitude hemisphere"},
    {"txtQU", "Quality", "GGA fix quality"},
    {"txtSA", "Satellites", "GGA satellites in use"},
    {"txtHD", "HDOP", "GGA HDOP"},
    {"txtALS", "Alt sea", "GGA altitude above sea level"},
    {"txtALSU", "Unit", "GGA altitude unit"},
    {"txtALE", "Alt ellipsoid", "GGA geoid separation"},
    {"txtALEU", "Unit", "GGA geoid separation unit"},
};

const BoxSpec GsaBoxes[] = {
    {"txtASM", "AutoSel", "GSA automatic selection"},
    {"txtMO", "Mode", "GSA fix mode"},
    {"txtPDOP", "PDOP", "GSA PDOP"},
    {"txtHDOP", "HDOP", "GSA HDOP"},
    {"txtVDOP", "VDOP", "GSA VDOP"},
};

QString Num(double v) {
    return PositionNumberText(v);
}

QString Flag(bool v) {
    return v ? QStringLiteral("True") : QStringLiteral("False");
}

QLineEdit* MakeBox(QGroupBox* frame, QGridLayout* grid, int index, const BoxSpec& spec) {
    auto* label = new QLabel(QString::fromLatin1(spec.caption), frame);
    auto* edit = new QLineEdit(frame);
    edit->setObjectName(QString::fromLatin1(spec.name));
    edit->setReadOnly(true);
    edit->setAccessibleName(QString::fromLatin1(spec.accessible));
    label->setBuddy(edit);
    const int row = index / 2;
    const int column = (index % 2) * 2;
    grid->addWidget(label, row, column);
    grid->addWidget(edit, row, column + 1);
    return edit;
}

} // namespace

GpsWindow::GpsWindow(StationContext& context, QWidget* parent)
    : QWidget(parent, Qt::Window), m_context(context) {
    setObjectName(QStringLiteral("form4"));
    setWindowTitle(QStringLiteral("FarscanGPSLoc"));
    setAccessibleName(QStringLiteral("FarscanGPSLoc"));
    m_message = [this](const QString& text) {
        auto* box = new QMessageBox(QMessageBox::NoIcon, QStringLiteral("FarscanGPSLoc"), text,
                                    QMessageBox::Ok, this);
        box->setAttribute(Qt::WA_DeleteOnClose);
        box->open();
    };
    m_port = m_context.portFactory ? m_context.portFactory() : CreateSystemSerialPort();
    if (!m_port)
        m_port = CreateSystemSerialPort();
    m_port->setObjectName(QStringLiteral("com3"));
    m_port->setReceiveThreshold(1);
    connect(m_port.get(), &SerialPort::commEvent, this, &GpsWindow::onCommEvent);
    m_gpsd = new GpsdClient(this);
    connect(m_gpsd, &GpsdClient::updated, this, [this] {
        showAll(m_gpsd->state());
        applyFix(m_gpsd->state());
    });
    connect(m_gpsd, &GpsdClient::statusChanged, this, [this](const QString& text, bool ok) {
        showStatus(text, ok);
        if (source() == Source::Gpsd) {
            SetTextColour(m_lblCom3, m_gpsd->isConnected() ? Colours::Green : Colours::Red);
            if (!m_gpsd->isRunning())
                setRunning(false);
        }
    });
    buildControls();
    load();
}

void GpsWindow::load() {
    const SettingsStore& settings = m_context.settings;
    m_port->setPort(settings[Settings::Com3Port].toText());
    m_port->setSettings(settings[Settings::Com3Settings].toText());
    m_context.state.GpsFix = false;
    m_receiver = NmeaReceiver();
    refreshPortLabel();
    applyFix(m_receiver.state());
    m_loaded = true;
}

void GpsWindow::showEvent(QShowEvent* event) {
    if (!m_loaded)
        load();
    QWidget::showEvent(event);
}

GpsWindow::~GpsWindow() {
    if (m_port->isOpen())
        m_port->close();
}

void GpsWindow::buildControls() {
    auto* layout = new QVBoxLayout(this);

    auto* sourceRow = new QHBoxLayout;
    auto* sourceLabel = new QLabel(tr("Source"), this);
    m_source = new QComboBox(this);
    m_source->setObjectName(QStringLiteral("cboSource"));
    m_source->addItems({tr("Serial receiver (Com3)"), tr("gpsd")});
    m_source->setAccessibleName(tr("Source"));
    sourceLabel->setBuddy(m_source);
    m_gpsdAddress = new QLineEdit(QStringLiteral("localhost:2947"), this);
    m_gpsdAddress->setObjectName(QStringLiteral("txtGpsd"));
    m_gpsdAddress->setAccessibleName(tr("gpsd host:port"));
    m_gpsdAddress->setEnabled(false);
    connect(m_source, &QComboBox::currentIndexChanged, this,
            [this](int index) { m_gpsdAddress->setEnabled(index == 1); });
    sourceRow->addWidget(sourceLabel);
    sourceRow->addWidget(m_source);
    sourceRow->addWidget(m_gpsdAddress, 1);
    layout->addLayout(sourceRow);

    auto frame = [&](const char* title, const BoxSpec* specs, int count) {
        auto* box = new QGroupBox(QString::fromLatin1(title), this);
        box->setObjectName(QString::fromLatin1(title));
        box->setAccessibleName(QString::fromLatin1(title));
        auto* grid = new QGridLayout(box);
        for (int i = 0; i < count; ++i)
            MakeBox(box, grid, i, specs[i]);
        layout->addWidget(box);
        return std::make_pair(box, grid);
    };
    frame("RMC-Data", RmcBoxes, int(std::size(RmcBoxes)));
    frame("GGA-Data", GgaBoxes, int(std::size(GgaBoxes)));
    auto [gsa, gsaGrid] = frame("GSA-Data", GsaBoxes, int(std::size(GsaBoxes)));
    auto* prnLabel = new QLabel(tr("PRN"), gsa);
    auto* prnRow = new QHBoxLayout;
    prnRow->addWidget(prnLabel);
    for (int i = 0; i < 12; ++i) {
        auto* edit = new QLineEdit(gsa);
        edit->setObjectName(QStringLiteral("txtPRN%1").arg(i + 1));
        edit->setReadOnly(true);
        edit->setAccessibleName(tr("Satellite %1").arg(i + 1));
        edit->setMaximumWidth(40);
        prnRow->addWidget(edit);
        m_prn[size_t(i)] = edit;
    }
    gsaGrid->addLayout(prnRow, gsaGrid->rowCount(), 0, 1, 4);

    m_text1 = new QPlainTextEdit(this);
    m_text1->setObjectName(QStringLiteral("Text1"));
    m_text1->setReadOnly(true);
    m_text1->setMaximumBlockCount(MaxLogLines);
    m_text1->setAccessibleName(tr("Sentence log"));
    layout->addWidget(m_text1, 1);

    auto* bottom = new QHBoxLayout;
    m_grid = new ValueLabel(QStringLiteral("Grid"), tr("GPS locator"), this);
    QFont big = m_grid->font();
    big.setPointSize(big.pointSize() + 4);
    big.setBold(true);
    m_grid->setFont(big);
    m_image1 = new QLabel(tr("GPS"), this);
    m_image1->setObjectName(QStringLiteral("Image1"));
    m_image1->setAccessibleName(tr("GPS fix"));
    m_image1->setAlignment(Qt::AlignCenter);
    m_image1->setMinimumSize(32, 20);
    SetBackColour(m_image1, Colours::Green);
    m_image1->setVisible(false);
    m_lblCom3 = new ValueLabel(QStringLiteral("lblCom3"), tr("Com3 port"), this);
    m_command1 = new QPushButton(QStringLiteral("&start"), this);
    m_command1->setObjectName(QStringLiteral("Command1"));
    m_command1->setAccessibleName(tr("start"));
    connect(m_command1, &QPushButton::clicked, this, &GpsWindow::command1);
    bottom->addWidget(m_grid);
    bottom->addWidget(m_image1);
    bottom->addStretch(1);
    bottom->addWidget(m_lblCom3);
    bottom->addWidget(m_command1);
    layout->addLayout(bottom);

    m_status = new ValueLabel(QStringLiteral("lblStatus"), tr("Receiver status"), this);
    layout->addWidget(m_status);
}

QLineEdit* GpsWindow::box(const QString& designName) const {
    return findChild<QLineEdit*>(designName);
}

QLineEdit* GpsWindow::txtPRN(int i) const {
    return i >= 1 && i <= 12 ? m_prn[size_t(i - 1)] : nullptr;
}

void GpsWindow::setSource(Source source) {
    if (m_serialRunning || m_gpsd->isRunning())
        return;
    m_source->setCurrentIndex(source == Source::Gpsd ? 1 : 0);
}

GpsWindow::Source GpsWindow::source() const {
    return m_source->currentIndex() == 1 ? Source::Gpsd : Source::Serial;
}

void GpsWindow::setGpsdAddress(const QString& hostPort) {
    m_gpsdAddress->setText(hostPort);
}

const GpsState& GpsWindow::shownState() const {
    return source() == Source::Gpsd ? m_gpsd->state() : m_receiver.state();
}

void GpsWindow::changeEvent(QEvent* event) {
    if (event->type() == QEvent::ActivationChange && isActiveWindow())
        activate();
    QWidget::changeEvent(event);
}

void GpsWindow::activate() {
    m_port->setSettings(m_context.settings[Settings::Com3Settings].toText());
    refreshPortLabel();
}

void GpsWindow::refreshPortLabel() {
    m_lblCom3->setText(QStringLiteral("Com3 PortNr: ") + m_port->port() + QLatin1Char(' ') +
                       m_port->settings());
}

void GpsWindow::setRunning(bool running) {
    m_command1->setText(running ? QStringLiteral("&stop") : QStringLiteral("&start"));
    m_command1->setAccessibleName(running ? tr("stop") : tr("start"));
    m_source->setEnabled(!running);
    m_gpsdAddress->setEnabled(!running && source() == Source::Gpsd);
}

void GpsWindow::showStatus(const QString& text, bool ok) {
    m_status->setText(text);
    SetTextColour(m_status, ok ? QColor(Qt::black) : Colours::Red);
}

void GpsWindow::command1() {
    if (source() == Source::Gpsd) {
        if (m_gpsd->isRunning()) {
            m_gpsd->stop();
            setRunning(false);
        } else {
            setRunning(m_gpsd->start(m_gpsdAddress->text()));
        }
        SetTextColour(m_lblCom3, m_gpsd->isConnected() ? Colours::Green : Colours::Red);
        return;
    }
    if (m_context.settings[Settings::Com3Enabled].toInt() == 0) {
        SetTextColour(m_lblCom3, Colours::Red);
        m_message(QStringLiteral("Com3(") + m_port->port() + QStringLiteral(")Port not open"));
        return;
    }
    if (m_port->isOpen()) {
        m_port->close();
        m_serialRunning = false;
        showStatus(QString(), true);
    } else if (m_port->open()) {
        m_serialRunning = true;
        m_receiver.clear();
        showStatus(tr("Com3: receiving"), true);
    } else {
        // The port stays closed; say why instead of leaving the operator guessing.
        showStatus(tr("Com3: %1").arg(m_port->lastError()), false);
    }
    setRunning(m_port->isOpen());
    refreshPortLabel();
    SetTextColour(m_lblCom3, m_port->isOpen() ? Colours::Green : Colours::Red);
}

// A receiver unplugged mid-run: the port closed itself and raised its error event.
void GpsWindow::portLost() {
    if (!m_serialRunning || m_port->isOpen())
        return;
    m_serialRunning = false;
    qCWarning(lcGps, "GPS receiver lost: %s", qPrintable(m_port->lastError()));
    setRunning(false);
    refreshPortLabel();
    SetTextColour(m_lblCom3, Colours::Red);
    showStatus(tr("Com3: receiver lost (%1)").arg(m_port->lastError()), false);
}

void GpsWindow::onCommEvent() {
    if (m_port->lastEventKind() == SerialPort::CommEventKind::Receive && m_port->isOpen()) {
        const NmeaReceiver::Handled handled = m_receiver.receive(m_port->readAll());
        const GpsState& s = m_receiver.state();
        if (handled.rmc)
            showRmc(s.rmc);
        if (handled.gga)
            showGga(s.gga);
        if (handled.gsa)
            showGsa(s.gsa);
        appendLog(handled.log);
    }
    applyFix(m_receiver.state());
    if (!m_port->isOpen())
        portLost();
}

void GpsWindow::appendLog(const QStringList& lines) {
    for (const QString& line : lines)
        m_text1->appendPlainText(line.endsWith(QLatin1String("\r\n")) ? line.chopped(2) : line);
}

void GpsWindow::showRmc(const RmcResult& r) {
    box(QStringLiteral("txtUT"))->setText(r.utcTime);
    box(QStringLiteral("txtRW"))->setText(Flag(r.valid));
    box(QStringLiteral("txtLa"))->setText(r.hasPosition ? Num(r.latitude) : QString());
    box(QStringLiteral("txtLAD"))->setText(r.latitudeHemisphere);
    box(QStringLiteral("txtLo"))->setText(r.hasPosition ? Num(r.longitude) : QString());
    box(QStringLiteral("txtLOD"))->setText(r.longitudeHemisphere);
    box(QStringLiteral("txtSK"))->setText(Num(r.speed));
    box(QStringLiteral("txtCO"))->setText(Num(r.course));
    box(QStringLiteral("txtDS"))->setText(r.date);
    box(QStringLiteral("txtMD"))->setText(Num(r.magneticVariation));
}

void GpsWindow::showGga(const GgaResult& r) {
    box(QStringLiteral("txtUT2"))->setText(r.utcTime);
    box(QStringLiteral("txtLa2"))->setText(r.hasPosition ? Num(r.latitude) : QString());
    box(QStringLiteral("txtLAD2"))->setText(r.latitudeHemisphere);
    box(QStringLiteral("txtLo2"))->setText(r.hasPosition ? Num(r.longitude) : QString());
    box(QStringLiteral("txtLOD2"))->setText(r.longitudeHemisphere);
    box(QStringLiteral("txtQU"))->setText(r.quality);
    box(QStringLiteral("txtSA"))->setText(QString::number(r.satellites));
    box(QStringLiteral("txtHD"))->setText(Num(r.hdop));
    box(QStringLiteral("txtALS"))->setText(Num(r.altitude));
    box(QStringLiteral("txtALSU"))->setText(r.altitudeUnit);
    box(QStringLiteral("txtALE"))->setText(Num(r.geoidSeparation));
    box(QStringLiteral("txtALEU"))->setText(r.geoidUnit);
}

void GpsWindow::showGsa(const GsaResult& r) {
    box(QStringLiteral("txtASM"))->setText(Flag(r.autoSelection));
    box(QStringLiteral("txtMO"))->setText(r.mode);
    for (int i = 0; i < 12; ++i)
        m_prn[size_t(i)]->setText(r.satellites[size_t(i)]);
    box(QStringLiteral("txtPDOP"))->setText(Num(r.pdop));
    box(QStringLiteral("txtHDOP"))->setText(Num(r.hdop));
    box(QStringLiteral("txtVDOP"))->setText(Num(r.vdop));
}

void GpsWindow::showAll(const GpsState& s) {
    if (s.rmc.checksumOk)
        showRmc(s.rmc);
    if (s.gga.checksumOk)
        showGga(s.gga);
    if (s.gsa.checksumOk)
        showGsa(s.gsa);
}

void GpsWindow::applyFix(const GpsState& s) {
    const FixView view = EvaluateFix(s);
    m_grid->setText(view.gridText);
    SetTextColour(m_grid, view.red ? Colours::Red : QColor(Qt::black));
    if (view.fix) {
        m_context.state.ownLocator = view.locator;
        m_context.state.GpsFix = true;
        m_image1->setVisible(true);
    }
    if (view.fix != m_fix) {
        m_fix = view.fix;
        emit fixChanged(m_fix);
    }
}

void GpsWindow::closeEvent(QCloseEvent* event) {
    // Unload.
    if (m_port->isOpen())
        m_port->close();
    m_serialRunning = false;
    if (m_gpsd->isRunning())
        m_gpsd->stop();
    setRunning(false);
    m_loaded = false;
    QWidget::closeEvent(event);
}
