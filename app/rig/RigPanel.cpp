#include "RigPanel.h"

#include "HeldButton.h"
#include "OptionGroup.h"
#include "ProgramState.h"
#include "ValueLabel.h"
#include "WidgetHelpers.h"

#include <QAbstractButton>
#include <QCoreApplication>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QVBoxLayout>

namespace {
QPushButton* Button(const QString& name, const QString& caption, const QString& accessible,
                    QWidget* parent) {
    auto* b = new QPushButton(caption, parent);
    b->setObjectName(name);
    b->setAccessibleName(accessible);
    return b;
}

ValueLabel* Label(const QString& name, const QString& accessible, QWidget* parent) {
    auto* l = new ValueLabel(name, accessible, parent);
    l->setAutoFillBackground(true);
    return l;
}

QLineEdit* Edit(const QString& name, const QString& accessible, QWidget* parent) {
    auto* e = new QLineEdit(parent);
    e->setObjectName(name);
    e->setAccessibleName(accessible);
    return e;
}
} // namespace

// ---------------------------------------------------------------------------------------------

RigStation::RigStation(ProgramState& state, SerialPort* com1, SerialPort* com2, SerialPort* com3,
                       SerialPort* com4, StationBoard* board, const SettingsStore* settings,
                       QObject* parent)
    : QObject(parent), m_rig(state, com1, com2, board, settings),
      m_rotor(com3, com4, board, m_rig.buttonHeldFlag()) {}

RigStation::UnloadValues RigStation::unloadValues() const {
    return {m_rig.BandIndex, m_rig.state().RigFrequency};
}

void RigStation::shutdown() {
    m_rig.releaseButtons();
    m_rotor.EleMouseUp();
}

// ---------------------------------------------------------------------------------------------

RigPanel::RigPanel(RigStation* station, QWidget* parent) : QWidget(parent), m_station(station) {
    setObjectName(QStringLiteral("RigPanel"));
    RigControl& rig = station->rig();

    QStringList bands;
    for (int i = 1; i <= 9; ++i)
        bands << QLatin1String(TransverterBandAt(i)->caption);
    m_optBandR = new OptionGroup(tr("Band MHz"), bands, this);
    m_optBandR->setObjectName(QStringLiteral("OptBandR"));
    m_optBandR->setAccessibleName(tr("Band MHz"));
    m_optBandR->setButtonStyle(OptionGroup::ButtonStyle::Graphical);
    m_optBandV = new OptionGroup(
        tr("Band MHz"),
        {QStringLiteral("50 MHz"), QStringLiteral("144 MHz"), QStringLiteral("432 MHz")}, this);
    m_optBandV->setObjectName(QStringLiteral("OptBandV"));
    m_optBandV->setAccessibleName(tr("Band MHz direct"));
    m_optBandV->setButtonStyle(OptionGroup::ButtonStyle::Graphical);
    m_optQRG = new OptionGroup(tr("QRG step"),
                               {QStringLiteral("0.1kHz"), QStringLiteral("1kHz"),
                                QStringLiteral("10kHz"), QStringLiteral("100kHz")},
                               this);
    m_optQRG->setObjectName(QStringLiteral("OptQRG"));
    m_optFT847 =
        new OptionGroup(tr("FT847"),
                        {QStringLiteral("100"), QStringLiteral("200"), QStringLiteral("900"),
                         QStringLiteral("CW"), QStringLiteral("SSB")},
                        this);
    m_optFT847->setObjectName(QStringLiteral("OptFT847"));
    m_optFT847->setButtonStyle(OptionGroup::ButtonStyle::Graphical);
    m_optFT847->setOrientation(Qt::Horizontal);
    // The captions are terse: say what each button does.
    const char* const presetTips[5] = {
        QT_TR_NOOP("CW at 144.100 MHz on the first transceiver (the band's low end)"),
        QT_TR_NOOP("144.200 MHz on the first transceiver"),
        QT_TR_NOOP("USB at 144.900 MHz on the first transceiver"),
        QT_TR_NOOP("Mode CW"),
        QT_TR_NOOP("Mode SSB (USB)"),
    };
    for (int i = 1; i <= 5; ++i)
        m_optFT847->button(i)->setToolTip(tr(presetTips[i - 1]));
    m_optQRG->setToolTip(tr("Frequency step of the QRG + and QRG - buttons"));
    static const char* const stepTips[4] = {
        QT_TR_NOOP("Steps of 10 Hz"), QT_TR_NOOP("Steps of 100 Hz"), QT_TR_NOOP("Steps of 1 kHz"),
        QT_TR_NOOP("Steps of 10 kHz")};
    for (int i = 1; i <= 4; ++i)
        m_optQRG->button(i)->setToolTip(tr(stepTips[i - 1]));
    // A screen reader announces the visible caption; the tooltip (the accessible description)
    // says what the terse caption means.
    m_freqUp =
        Button(QStringLiteral("FreqUp"), QStringLiteral("QRG +"), QStringLiteral("QRG +"), this);
    m_freqDwn =
        Button(QStringLiteral("FreqDwn"), QStringLiteral("QRG -"), QStringLiteral("QRG -"), this);
    m_freqUp->setToolTip(tr("Tune up one step; hold to keep tuning"));
    m_freqDwn->setToolTip(tr("Tune down one step; hold to keep tuning"));
    m_txRx = Button(QStringLiteral("TxRx"), QStringLiteral("TX/RX"), QStringLiteral("TX/RX"), this);
    m_txRx->setToolTip(tr("Transmit while pressed in (PTT to the transceiver in use)"));
    m_txRx->setCheckable(true);
    SetBackColour(m_txRx, Colours::Green);
    m_formatFre = Label(QStringLiteral("formatFre"), tr("Band frequency"), this);
    QFont big = m_formatFre->font();
    big.setPointSize(big.pointSize() + 6);
    big.setBold(true);
    m_formatFre->setFont(big);
    m_label41 = Label(QStringLiteral("Label41"), tr("Frequency unit"), this);

    auto* layout = new QGridLayout(this);
    layout->addWidget(m_optBandR, 0, 0, 3, 1);
    layout->addWidget(m_optBandV, 0, 1);
    layout->addWidget(m_optQRG, 1, 1);
    auto* freqRow = new QHBoxLayout;
    freqRow->addWidget(m_formatFre, 1);
    freqRow->addWidget(m_label41);
    layout->addLayout(freqRow, 3, 0, 1, 2);
    auto* tuneRow = new QHBoxLayout;
    tuneRow->addWidget(m_freqDwn);
    tuneRow->addWidget(m_freqUp);
    tuneRow->addWidget(m_txRx);
    layout->addLayout(tuneRow, 4, 0, 1, 2);
    layout->addWidget(m_optFT847, 5, 0, 1, 2);

    // Band clicks, raised by the user or by the program selecting an option.
    connect(m_optBandR, &OptionGroup::selectionChanged, this, [this, &rig](int option) {
        if (option > 0 && !m_showingBands)
            rig.OptBandR(option);
    });
    connect(m_optBandV, &OptionGroup::selectionChanged, this, [this, &rig](int option) {
        if (option > 0 && !m_showingBands)
            rig.OptBandV(option);
    });
    // Showing a band the rig chose (the beacon list picks bands too) must not run it again.
    connect(&rig, &RigControl::bandOptionsChanged, this, [this](int bandR, int bandV) {
        m_showingBands = true;
        m_optBandR->setSelected(bandR);
        m_optBandV->setSelected(bandV);
        m_showingBands = false;
    });
    connect(m_optQRG, &OptionGroup::selectionChanged, this,
            [&rig](int option) { rig.OptQRG = option; });
    // Presets act on every press, also of the option already shown as selected.
    connect(m_optFT847, &OptionGroup::optionActivated, this, [&rig](int i) { rig.OptFT847(i); });
    connect(&rig, &RigControl::com1NotOpen, this, [this](const QString& message) {
        if (m_lblCom1)
            SetBackColour(m_lblCom1, Colours::Red);
        // Shown without stopping the window: the timers and the rotor keep going.
        auto* box = new QMessageBox(QMessageBox::NoIcon, QCoreApplication::applicationName(),
                                    message, QMessageBox::Ok, this);
        box->setAttribute(Qt::WA_DeleteOnClose);
        box->open();
    });
    new HeldButton(
        m_freqUp, [&rig] { rig.FreqUpMouseDown(); }, [&rig] { rig.FreqMouseUp(); });
    new HeldButton(
        m_freqDwn, [&rig] { rig.FreqDwnMouseDown(); }, [&rig] { rig.FreqMouseUp(); });
    // The toggle's state lives in the rig control, which the keyer also sets.
    connect(m_txRx, &QPushButton::toggled, this, [&rig](bool on) { rig.setTxRx(on); });
    connect(&rig, &RigControl::txRxChanged, m_txRx, [this](bool on) {
        if (m_txRx->isChecked() != on)
            m_txRx->setChecked(on);
    });
    connect(&rig, &RigControl::txRxColourChanged, this,
            [this](const QColor& colour) { SetBackColour(m_txRx, colour); });
    connect(&rig, &RigControl::formatFreChanged, m_formatFre, &ValueLabel::setText);
    connect(&rig, &RigControl::label41Changed, m_label41, &ValueLabel::setText);
}

void RigPanel::loadOptions(int bandIndex) {
    m_optQRG->setSelected(1);
    m_station->rig().BandIndex = bandIndex;
    m_optBandR->setSelected(bandIndex);
}

void RigPanel::loadRigFrequency(qint64 rigFrequency, const QString& rigFreqText) {
    m_station->rig().state().RigFrequency = rigFrequency;
    m_station->rig().state().RigFreqText = rigFreqText;
    // The band was selected before the frequency was known; show the band frequency now.
    m_station->rig().showFrequency();
}

void RigPanel::setTxRx(bool value) {
    m_station->rig().setTxRx(value);
}

bool RigPanel::txRx() const {
    return m_station->rig().txRx();
}

// ---------------------------------------------------------------------------------------------

RotorPanel::RotorPanel(RigStation* station, QWidget* parent) : QWidget(parent), m_station(station) {
    setObjectName(QStringLiteral("RotorPanel"));
    RotorControl& rotor = station->rotor();
    m_aziL =
        Button(QStringLiteral("AziL"), QStringLiteral("<- AZI"), QStringLiteral("<- AZI"), this);
    m_aziR = Button(QStringLiteral("AziR"), QStringLiteral("AZI->"), QStringLiteral("AZI->"), this);
    m_rotorStop = Button(QStringLiteral("RotorStop"), QStringLiteral("Rotor Stop"),
                         QStringLiteral("Rotor Stop"), this);
    m_text160 = Edit(QStringLiteral("Text160"), tr("Rotor heading"), this);
    m_text160->setToolTip(tr("Heading in degrees (0-360); Enter turns the antenna there. The path "
                             "computation fills it in."));
    m_text177 = Edit(QStringLiteral("Text177"), tr("Rotor controller entry"), this);
    m_text177->setToolTip(tr("Second value for the rotor controller (0-999), sent with Enter"));
    m_eleUp =
        Button(QStringLiteral("eleup"), QStringLiteral(" Ele  up"), QStringLiteral("Ele up"), this);
    m_eleDwn = Button(QStringLiteral("eleDwn"), QStringLiteral(" Ele dwn"),
                      QStringLiteral("Ele dwn"), this);
    m_eleAuto =
        Button(QStringLiteral("EleAuto"), QStringLiteral("Auto"), QStringLiteral("Auto"), this);
    m_eleAuto->setCheckable(true);
    m_eleAuto->setToolTip(tr("Ele Auto: the elevation is held between 0.4 and 1.0 degrees. "
                             "Ele manu: only the up and down buttons move it."));
    m_label1 = Label(QStringLiteral("Label1"), tr("Azimuth"), this);
    m_label30 = Label(QStringLiteral("Label30"), tr("Elevation"), this);
    m_label31 = Label(QStringLiteral("Label31"), tr("Temperature"), this);

    auto* layout = new QGridLayout(this);
    layout->addWidget(m_aziL, 0, 0);
    layout->addWidget(m_rotorStop, 0, 1);
    layout->addWidget(m_aziR, 0, 2);
    layout->addWidget(new QLabel(tr("QTF"), this), 1, 0);
    layout->addWidget(m_text160, 1, 1);
    layout->addWidget(m_text177, 1, 2);
    layout->addWidget(m_eleUp, 2, 0);
    layout->addWidget(m_eleAuto, 2, 1);
    layout->addWidget(m_eleDwn, 2, 2);
    layout->addWidget(new QLabel(tr("Az:"), this), 3, 0);
    layout->addWidget(m_label1, 3, 1, 1, 2);
    layout->addWidget(new QLabel(tr("Ele:"), this), 4, 0);
    layout->addWidget(m_label30, 4, 1);
    layout->addWidget(m_label31, 4, 2);

    connect(m_aziL, &QPushButton::clicked, this, [&rotor] { rotor.AziL(); });
    connect(m_aziR, &QPushButton::clicked, this, [&rotor] { rotor.AziR(); });
    connect(m_rotorStop, &QPushButton::clicked, this, [&rotor] { rotor.RotorStop(); });
    connect(&rotor, &RotorControl::rotorStopColourChanged, this,
            [this](const QColor& c) { SetBackColour(m_rotorStop, c); });
    new HeldButton(
        m_eleUp, [&rotor] { rotor.EleUpMouseDown(); }, [&rotor] { rotor.EleMouseUp(); });
    new HeldButton(
        m_eleDwn, [&rotor] { rotor.EleDwnMouseDown(); }, [&rotor] { rotor.EleMouseUp(); });
    connect(m_eleAuto, &QPushButton::toggled, this, [&rotor](bool on) { rotor.EleAuto = on; });
    connect(&rotor, &RotorControl::eleAutoChanged, this, [this](bool on) {
        if (m_eleAuto->isChecked() != on)
            m_eleAuto->setChecked(on);
        showEleAuto(on);
    });
    connect(&rotor, &RotorControl::label1Changed, m_label1, &ValueLabel::setText);
    connect(&rotor, &RotorControl::label30Changed, m_label30, &ValueLabel::setText);
    connect(&rotor, &RotorControl::label31Changed, m_label31, &ValueLabel::setText);
    m_text160->installEventFilter(this);
    m_text177->installEventFilter(this);
    // The caption stays "Auto" until the first sensor reply or click shows the state.
    m_eleAuto->setChecked(rotor.EleAuto);
}

void RotorPanel::showEleAuto(bool automatic) {
    SetBackColour(m_eleAuto, RotorControl::EleAutoColour(automatic));
    m_eleAuto->setText(RotorControl::EleAutoCaption(automatic));
    m_eleAuto->setAccessibleName(m_eleAuto->text());
}

void RotorPanel::timerTick() {
    m_station->rotor().PollTick();
}

QString RotorPanel::azimuthText() const {
    return m_label1->text();
}

QString RotorPanel::elevationText() const {
    return m_label30->text();
}

void RotorPanel::turnToHeading() {
    QString text = m_text160->text();
    m_station->rotor().TurnToHeading(text);
    if (text != m_text160->text())
        m_text160->setText(text);
}

bool RotorPanel::eventFilter(QObject* watched, QEvent* event) {
    if (event->type() == QEvent::KeyPress) {
        const int key = static_cast<QKeyEvent*>(event)->key();
        if (key == Qt::Key_Return || key == Qt::Key_Enter) {
            if (watched == m_text160) {
                turnToHeading();
                emit focusLocator();
                return true;
            }
            if (watched == m_text177) {
                m_station->rotor().Text177Enter(m_text177->text());
                return true;
            }
        }
    }
    return QWidget::eventFilter(watched, event);
}
