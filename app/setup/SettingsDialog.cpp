#include "SettingsDialog.h"

#include "Locator.h"
#include "OptionGroup.h"
#include "ProgramState.h"
#include "SerialPort.h"
#include "Settings.h"
#include "SetupLog.h"
#include "StationContext.h"
#include "ValueLabel.h"

#include <QApplication>
#include <QCheckBox>
#include <QEvent>
#include <QFocusEvent>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QSlider>
#include <QVBoxLayout>
#include <algorithm>
#include <exception>
#include <limits>

namespace {

struct PortRow {
    const char* caption;
    int enabled, port, settings; // settings slots
};

// Com1, Com2, Com3 (the GPS window's port) and Com4.
const PortRow kRows[4] = {
    {"Com1    TRX1 Yaesu FT847", Settings::Com1Enabled, Settings::Com1Port, Settings::Com1Settings},
    {"Com2    TRX2 Yaesu FT847", Settings::Com2Enabled, Settings::Com2Port, Settings::Com2Settings},
    {"Com3                 GPS Ctr NMEA Loc", Settings::Com3Enabled, Settings::Com3Port,
     Settings::Com3Settings},
    {"Com4    Rotor Ctr GHE RT21", Settings::Com4Enabled, Settings::Com4Port,
     Settings::Com4Settings},
};

struct QslBox {
    const char* name;
    const char* accessible;
    int slot;
};

const QslBox kQsl[6] = {
    {"TXTinfo", "QSL line 1, info data", Settings::QslInfo},
    {"TXTline2", "QSL line 2", Settings::QslLine2},
    {"TXTline3", "QSL line 3", Settings::QslLine3},
    {"TXTline4", "QSL line 4", Settings::QslLine4},
    {"TXTadd", "QSL address line", Settings::QslAddress},
    {"TXTfoot", "QSL foot line", Settings::QslFoot},
};

// A check box as the settings file keeps it: the number 0 or 1 (the rig control reads the
// FT991 boxes as "= 1").
SettingValue CheckValue(const QCheckBox* box) {
    return SettingValue::number(box->isChecked() ? 1 : 0);
}

QLineEdit* MakeBox(QWidget* parent, const QString& name, const QString& accessible) {
    auto* box = new QLineEdit(parent);
    box->setObjectName(name);
    box->setAccessibleName(accessible);
    // Any text the user types is kept whole; the settings file decides how it is written.
    box->setMaxLength(std::numeric_limits<int>::max());
    return box;
}

QCheckBox* MakeCheck(QWidget* parent, const QString& name, const QString& text,
                     const QString& accessible) {
    auto* box = new QCheckBox(text, parent);
    box->setObjectName(name);
    box->setAccessibleName(accessible);
    return box;
}

QLabel* MakeLabel(QWidget* parent, const QString& text, QWidget* buddy = nullptr) {
    auto* label = new QLabel(text, parent);
    if (buddy)
        label->setBuddy(buddy);
    return label;
}

} // namespace

SettingsDialog::SettingsDialog(StationContext& context, SettingsDialogHooks hooks, QWidget* parent)
    : QWidget(parent, Qt::Window), m_context(context), m_hooks(std::move(hooks)) {
    setObjectName(QStringLiteral("form2"));
    setWindowTitle(QStringLiteral("Initial"));
    setAccessibleName(QStringLiteral("Initial"));
    buildControls();
    loadControls();

    // Connected after the load, so that filling the boxes neither warns nor changes the
    // program's state.
    for (int row = 0; row < 4; ++row)
        connect(m_comPort[size_t(row)], &QLineEdit::textChanged, this,
                [this, row] { portNumberChanged(row); });
    m_comPort[0]->installEventFilter(this);
    connect(m_text3, &QLineEdit::returnPressed, this, [this] { m_text4->setFocus(); });
    connect(m_text4, &QLineEdit::returnPressed, this, [this] { m_done->setFocus(); });
    connect(m_geColor, &QSlider::valueChanged, this, [this](int value) {
        m_context.state.GeTransparency = QString::number(value);
        m_geValue->setText(QString::number(value));
    });
    // toggled, not clicked: an assistive tool's toggle action emits no click.
    connect(m_lineB, &QCheckBox::toggled, this,
            [this](bool on) { m_context.state.GeBeaconLines = on; });
    connect(m_lineS, &QCheckBox::toggled, this,
            [this](bool on) { m_context.state.GeSquareLines = on; });
    connect(m_done, &QPushButton::clicked, this, [this] { done(); });
}

QString SettingsDialog::PortClashMessage() {
    return QStringLiteral("PortNr is alredy used Pse change the PortNr");
}

QString SettingsDialog::Com1ActiveMessage(const QString& port) {
    return QStringLiteral(" No change possible while Com1(") + port + QStringLiteral(") active");
}

QCheckBox* SettingsDialog::comCheck(int row) const {
    return row >= 1 && row <= 4 ? m_comCheck[size_t(row - 1)] : nullptr;
}

QLineEdit* SettingsDialog::comPort(int row) const {
    return row >= 1 && row <= 4 ? m_comPort[size_t(row - 1)] : nullptr;
}

QLineEdit* SettingsDialog::comSettings(int row) const {
    return row >= 1 && row <= 4 ? m_comSettings[size_t(row - 1)] : nullptr;
}

QLineEdit* SettingsDialog::qslLine(int index) const {
    return index >= 0 && index < 6 ? m_qsl[size_t(index)] : nullptr;
}

void SettingsDialog::buildControls() {
    auto* outer = new QVBoxLayout(this);

    // Own station.
    auto* station = new QGroupBox(this);
    auto* stationGrid = new QGridLayout(station);
    stationGrid->addWidget(new QLabel(QStringLiteral("Show Private Date"), station), 0, 0, 1, 3);
    m_text3 = MakeBox(station, QStringLiteral("text3"), QStringLiteral("MyCallsign:"));
    m_text4 = MakeBox(station, QStringLiteral("text4"), QStringLiteral("MyGrid:"));
    m_text4->setAccessibleDescription(QStringLiteral("6,8 or 10 Digit Locator"));
    stationGrid->addWidget(MakeLabel(station, QStringLiteral("MyCallsign:"), m_text3), 1, 0);
    stationGrid->addWidget(m_text3, 1, 1);
    stationGrid->addWidget(MakeLabel(station, QStringLiteral("MyGrid:"), m_text4), 2, 0);
    stationGrid->addWidget(m_text4, 2, 1);
    stationGrid->addWidget(new QLabel(QStringLiteral("6,8 or 10 Digit Locator"), station), 2, 2);
    outer->addWidget(station);

    // Serial ports: one row each, under the column heading line.
    auto* ports = new QGroupBox(this);
    auto* portGrid = new QGridLayout(ports);
    portGrid->addWidget(
        new QLabel(QStringLiteral("RS232 Com                             FT991        ON/OFF     "
                                  "PortNr      Settings"),
                   ports),
        0, 0, 1, 5);
    for (int row = 0; row < 4; ++row) {
        const QString com = QStringLiteral("Com%1").arg(row + 1);
        auto* caption = new QLabel(QString::fromLatin1(kRows[row].caption), ports);
        m_comCheck[size_t(row)] = MakeCheck(ports, QStringLiteral("Checkcom%1").arg(row + 1),
                                            QString(), com + QStringLiteral(" ON/OFF"));
        m_comPort[size_t(row)] = MakeBox(ports, QStringLiteral("Txt%1PNr").arg(com),
                                         com + QStringLiteral(" port number"));
        m_comSettings[size_t(row)] = MakeBox(ports, QStringLiteral("Txt%1settings").arg(com),
                                             com + QStringLiteral(" settings"));
        caption->setBuddy(m_comCheck[size_t(row)]);
        portGrid->addWidget(caption, row + 1, 0);
        portGrid->addWidget(m_comCheck[size_t(row)], row + 1, 2);
        portGrid->addWidget(m_comPort[size_t(row)], row + 1, 3);
        portGrid->addWidget(m_comSettings[size_t(row)], row + 1, 4);
    }
    m_check2 = MakeCheck(ports, QStringLiteral("Check2"), QString(), QStringLiteral("Com1 FT991"));
    m_check3 = MakeCheck(ports, QStringLiteral("Check3"), QString(), QStringLiteral("Com2 FT991"));
    portGrid->addWidget(m_check2, 1, 1);
    portGrid->addWidget(m_check3, 2, 1);
    portGrid->setColumnStretch(4, 1);
    outer->addWidget(ports);

    // DX-cluster servers.
    auto* cluster = new QGroupBox(this);
    auto* clusterGrid = new QGridLayout(cluster);
    m_conHost = MakeBox(cluster, QStringLiteral("ConHost"), QStringLiteral("DXCluster: 1 host"));
    m_conPort = MakeBox(cluster, QStringLiteral("ConPort"), QStringLiteral("DXCluster: 1 port"));
    m_conHost1 = MakeBox(cluster, QStringLiteral("ConHost1"), QStringLiteral("DXCluster: 2 host"));
    m_conPort1 = MakeBox(cluster, QStringLiteral("ConPort1"), QStringLiteral("DXCluster: 2 port"));
    clusterGrid->addWidget(MakeLabel(cluster, QStringLiteral("DXCluster: 1"), m_conHost), 0, 0);
    clusterGrid->addWidget(m_conHost, 0, 1);
    clusterGrid->addWidget(m_conPort, 0, 2);
    clusterGrid->addWidget(MakeLabel(cluster, QStringLiteral("DXCluster: 2"), m_conHost1), 1, 0);
    clusterGrid->addWidget(m_conHost1, 1, 1);
    clusterGrid->addWidget(m_conPort1, 1, 2);
    m_cluster =
        new OptionGroup(QStringLiteral("Cluster server used"),
                        {QStringLiteral("DXCluster 1"), QStringLiteral("DXCluster 2")}, cluster);
    m_cluster->setObjectName(QStringLiteral("uSc_MultiOption1"));
    m_cluster->setOrientation(Qt::Horizontal);
    clusterGrid->addWidget(m_cluster, 0, 3, 2, 1);
    clusterGrid->setColumnStretch(1, 1);
    outer->addWidget(cluster);

    // QSL card texts.
    auto* qsl = new QGroupBox(this);
    auto* qslLayout = new QVBoxLayout(qsl);
    auto* qslCaption =
        new QLabel(QStringLiteral("QSL Text fields 1 line= info data 2-5 line free data line6 "
                                  "address 7 foot data"),
                   qsl);
    qslCaption->setWordWrap(true);
    qslLayout->addWidget(qslCaption);
    for (int i = 0; i < 6; ++i) {
        m_qsl[size_t(i)] = MakeBox(qsl, QString::fromLatin1(kQsl[i].name),
                                   QString::fromLatin1(kQsl[i].accessible));
        qslLayout->addWidget(m_qsl[size_t(i)]);
    }
    outer->addWidget(qsl);

    // Weather and Google Earth.
    auto* earth = new QGroupBox(this);
    auto* earthGrid = new QGridLayout(earth);
    const QString check1Text =
        QStringLiteral("Color  line depends on prop  RS=blue Tr=red Es=green Ms=grey Au=pink");
    m_check1 = MakeCheck(earth, QStringLiteral("Check1"), check1Text, check1Text);
    earthGrid->addWidget(m_check1, 0, 0, 1, 3);
    const QString sliderText = QStringLiteral("Transparency of square on GE");
    m_geColor = new QSlider(Qt::Horizontal, earth);
    m_geColor->setObjectName(QStringLiteral("GEcolor"));
    m_geColor->setAccessibleName(sliderText);
    m_geColor->setRange(0, 255);
    m_geColor->setPageStep(16);
    m_geValue = new ValueLabel(QStringLiteral("GEcolorValue"), sliderText, earth);
    m_geValue->setMinimumWidth(m_geValue->fontMetrics().horizontalAdvance(QStringLiteral("0000")));
    earthGrid->addWidget(MakeLabel(earth, sliderText, m_geColor), 1, 0);
    earthGrid->addWidget(m_geColor, 1, 1);
    earthGrid->addWidget(m_geValue, 1, 2);
    const QString lineBText = QStringLiteral("Line from you to stn on GE Beacons");
    const QString lineSText = QStringLiteral("Line from you to stn wkd on GE Squares");
    m_lineB = MakeCheck(earth, QStringLiteral("ChecklineB"), lineBText, lineBText);
    m_lineS = MakeCheck(earth, QStringLiteral("ChecklineS"), lineSText, lineSText);
    earthGrid->addWidget(m_lineB, 2, 0, 1, 3);
    earthGrid->addWidget(m_lineS, 3, 0, 1, 3);
    earthGrid->setColumnStretch(1, 1);
    outer->addWidget(earth);

    m_done = new QPushButton(QStringLiteral("Done"), this);
    m_done->setObjectName(QStringLiteral("Command1"));
    m_done->setAccessibleName(QStringLiteral("Done"));
    // Enter on the focused button presses it, so callsign, Enter, locator, Enter, Enter is "Done".
    m_done->setAutoDefault(true);
    auto* buttons = new QHBoxLayout;
    buttons->addStretch(1);
    buttons->addWidget(m_done);
    outer->addLayout(buttons);
}

void SettingsDialog::loadControls() {
    using namespace Settings;
    const SettingsStore& settings = m_context.settings;
    m_text3->setText(settings[MyCallsign].toText());
    m_text4->setText(settings[MyGrid].toText());
    for (int row = 0; row < 4; ++row) {
        m_comCheck[size_t(row)]->setChecked(settings[kRows[row].enabled].toBool());
        m_comPort[size_t(row)]->setText(settings[kRows[row].port].toText());
        m_comSettings[size_t(row)]->setText(settings[kRows[row].settings].toText());
    }
    m_check2->setChecked(settings[Com1Ft991].toBool());
    m_check3->setChecked(settings[Com2Ft991].toBool());
    m_conHost->setText(settings[ClusterHost1].toText());
    m_conPort->setText(settings[ClusterPort1].toText());
    m_conHost1->setText(settings[ClusterHost2].toText());
    m_conPort1->setText(settings[ClusterPort2].toText());
    m_cluster->setSelected(int(settings[ClusterSelect].toInt32(0)));
    for (int i = 0; i < 6; ++i)
        m_qsl[size_t(i)]->setText(settings[kQsl[i].slot].toText());
    m_check1->setChecked(settings[WeatherFetch].toBool());
    // The export's own fallback for a line without a number; the slider keeps 0 to 255.
    m_geColor->setValue(int(std::clamp<qint64>(settings[GeTransparency].toInt(128), 0, 255)));
    m_geValue->setText(QString::number(m_geColor->value()));
    m_lineB->setChecked(settings[GeBeaconLines].toBool());
    m_lineS->setChecked(settings[GeSquareLines].toBool());
}

bool SettingsDialog::done() {
    using namespace Settings;
    SettingsStore& settings = m_context.settings;
    ProgramState& state = m_context.state;

    settings[MyCallsign] = SettingValue::text(m_text3->text());
    settings[MyGrid] = SettingValue::text(m_text4->text());
    state.ownCallsign = m_text3->text();
    state.ownLocator = m_text4->text();

    for (int row = 0; row < 4; ++row) {
        settings[kRows[row].enabled] = CheckValue(m_comCheck[size_t(row)]);
        settings[kRows[row].port] = SettingValue::text(m_comPort[size_t(row)]->text());
        settings[kRows[row].settings] = SettingValue::text(m_comSettings[size_t(row)]->text());
    }

    if (!ValidateLocator(m_text4->text().toUpper())) {
        say(QString::fromLatin1(InvalidLocatorMessage));
        m_text4->setFocus();
        return false;
    }

    // The main window's ports follow their rows at once; a port that cannot be opened (held by
    // another program) is left as it is. An open port keeps its number and line settings until
    // the next start.
    auto applyRow = [this](int number) {
        SerialPort* port = m_hooks.mainPort ? m_hooks.mainPort(number) : nullptr;
        if (!port)
            return;
        const int row = number - 1;
        if (m_comCheck[size_t(row)]->isChecked()) {
            if (!port->isOpen() && !port->open())
                qCInfo(lcSetup, "Com%d not opened: %s", number, qPrintable(port->lastError()));
        } else if (port->isOpen()) {
            if (!port->close())
                qCInfo(lcSetup, "Com%d not closed: %s", number, qPrintable(port->lastError()));
        }
    };
    applyRow(1);
    applyRow(2);
    if (m_hooks.computeLogGeo) {
        try {
            m_hooks.computeLogGeo();
        } catch (const std::exception& e) {
            qCWarning(lcSetup, "Log positions not computed: %s", e.what());
        }
    }
    applyRow(4);

    settings[ClusterHost1] = SettingValue::text(m_conHost->text());
    settings[ClusterPort1] = SettingValue::text(m_conPort->text());
    settings[ClusterHost2] = SettingValue::text(m_conHost1->text());
    settings[ClusterPort2] = SettingValue::text(m_conPort1->text());
    settings[ClusterSelect] = SettingValue::number(m_cluster->selected());
    for (int i = 0; i < 6; ++i)
        settings[kQsl[i].slot] = SettingValue::text(m_qsl[size_t(i)]->text());
    // Written as the controls hold them: the check box as 0 or 1, the slider as a number.
    settings[WeatherFetch] = CheckValue(m_check1);
    settings[GeTransparency] = SettingValue::number(m_geColor->value());
    settings[GeBeaconLines] = CheckValue(m_lineB);
    state.GeBeaconLines = m_lineB->isChecked();
    settings[GeSquareLines] = CheckValue(m_lineS);
    settings[Com1Ft991] = CheckValue(m_check2);
    settings[Com2Ft991] = CheckValue(m_check3);
    state.GeSquareLines = m_lineS->isChecked();

    if (!settings.SaveSettings()) {
        // The user must learn that nothing reached the file; the main window would cover it.
        say(tr("The settings were not saved.\n%1").arg(settings.lastError()));
        return false;
    }
    if (m_hooks.showMainWindow)
        m_hooks.showMainWindow();
    return true;
}

void SettingsDialog::portNumberChanged(int row) {
    if (m_clearingPort)
        return; // the box this handler empties is not checked again
    const QString text = m_comPort[size_t(row)]->text();
    for (int other = 0; other < 4; ++other) {
        if (other == row || m_comPort[size_t(other)]->text() != text)
            continue;
        say(PortClashMessage());
        m_clearingPort = true;
        m_comPort[size_t(row)]->clear();
        m_clearingPort = false;
        return;
    }
}

void SettingsDialog::com1PortFocused() {
    if (!m_comCheck[0]->isChecked())
        return;
    SerialPort* port = m_hooks.mainPort ? m_hooks.mainPort(1) : nullptr;
    const QString number = port ? port->port() : m_context.settings[Settings::Com1Port].toText();
    say(Com1ActiveMessage(number));
}

void SettingsDialog::say(const QString& text) {
    if (m_hooks.message) {
        m_hooks.message(text);
        return;
    }
    auto* box = new QMessageBox(QMessageBox::NoIcon, QString(), text, QMessageBox::Ok, this);
    box->setAttribute(Qt::WA_DeleteOnClose);
    box->open();
}

bool SettingsDialog::event(QEvent* event) {
    if (event->type() == QEvent::WindowDeactivate) {
        // The window that takes over is already the active one here.
        m_backFromMessage = qobject_cast<QMessageBox*>(QApplication::activeWindow()) != nullptr;
    } else if (event->type() == QEvent::WindowActivate) {
        // Coming back from a message the focus stays where it was (the box being typed in, or
        // MyGrid after an invalid locator); any other activation starts at the callsign.
        if (!m_backFromMessage)
            m_text3->setFocus(Qt::ActiveWindowFocusReason);
        m_backFromMessage = false;
    }
    return QWidget::event(event);
}

bool SettingsDialog::eventFilter(QObject* watched, QEvent* event) {
    if (watched == m_comPort[0] &&
        (event->type() == QEvent::FocusIn || event->type() == QEvent::FocusOut)) {
        // Focus that leaves or returns with the window (a message opened over the dialog and
        // closed again) is not the user entering the box: the message comes once per entry.
        const Qt::FocusReason reason = static_cast<QFocusEvent*>(event)->reason();
        const bool windowSwitch =
            reason == Qt::ActiveWindowFocusReason || reason == Qt::PopupFocusReason;
        if (event->type() == QEvent::FocusOut && !windowSwitch) {
            m_com1Told = false;
        } else if (event->type() == QEvent::FocusIn && !windowSwitch && !m_com1Told) {
            m_com1Told = true;
            com1PortFocused();
        }
    }
    return QWidget::eventFilter(watched, event);
}

void SettingsDialog::hideEvent(QHideEvent* event) {
    m_backFromMessage = false;
    m_com1Told = false;
    QWidget::hideEvent(event);
}
