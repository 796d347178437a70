#include "KeyerPanel.h"

#include "Morse.h"
#include "OptionGroup.h"
#include "Settings.h"
#include "WidgetHelpers.h"

#include <QAbstractButton>
#include <QGridLayout>
#include <QLineEdit>
#include <QPushButton>

namespace {
QPushButton* Button(const QString& name, const QString& caption, bool checkable, QWidget* parent) {
    auto* b = new QPushButton(caption, parent);
    b->setObjectName(name);
    b->setAccessibleName(caption.trimmed());
    b->setCheckable(checkable);
    return b;
}
} // namespace

QColor LoopColour(bool on) {
    return on ? Colours::Green : Colours::Red;
}

QColor SelectColour(bool on) {
    return on ? Colours::Green : Colours::Yellow;
}

KeyerPanel::KeyerPanel(QWidget* parent) : QGroupBox(tr("CW"), parent) {
    setObjectName(QStringLiteral("KeyerPanel"));
    setAccessibleName(tr("CW keyer"));
    m_text6 = new QLineEdit(QStringLiteral("cq cq de q0abc q0abc"), this);
    m_text6->setObjectName(QStringLiteral("Text6"));
    m_text6->setAccessibleName(tr("CW text 2"));
    m_text1 = new QLineEdit(QStringLiteral("Text1"), this);
    m_text1->setObjectName(QStringLiteral("Text1"));
    m_text1->setAccessibleName(tr("CW text 1"));
    m_txtSel = Button(QStringLiteral("TXTSel"), QStringLiteral("Sel"), true, this);
    m_cwLoop = Button(QStringLiteral("CWloop"), QStringLiteral("Loop"), true, this);
    m_cmdsend = Button(QStringLiteral("cmdsend"), QStringLiteral("TX Start"), false, this);
    m_cmdRX = Button(QStringLiteral("cmdRX"), QStringLiteral("RX "), false, this);
    m_loopStop = Button(QStringLiteral("LoopStop"), QStringLiteral("Loop Stop"), false, this);
    // The captions are terse; say what each does.
    m_txtSel->setToolTip(tr("Which text TX Start sends: the upper one while off (yellow), the "
                            "lower one while on (green)"));
    m_cwLoop->setToolTip(tr("Repeat the text until Loop Stop or RX"));
    m_loopStop->setToolTip(tr("End a repeating transmission: the current pass finishes, then "
                              "\"pse k\" is sent"));
    m_cmdRX->setToolTip(tr("Stop sending after the current character"));
    m_optSpeed = new OptionGroup(
        QStringLiteral("CW speed"),
        {QStringLiteral("50 lpm"), QStringLiteral("60 lpm"), QStringLiteral("70 lpm")}, this);
    m_optSpeed->setObjectName(QStringLiteral("OptSpeed"));
    m_optSpeed->setOrientation(Qt::Horizontal);
    for (int i = 1; i <= m_optSpeed->optionCount(); ++i)
        m_optSpeed->button(i)->setObjectName(QStringLiteral("OptSpeed_%1").arg(i));

    auto* layout = new QGridLayout(this);
    layout->addWidget(m_text6, 0, 0, 1, 3);
    layout->addWidget(m_text1, 1, 0, 1, 3);
    layout->addWidget(m_txtSel, 2, 0);
    layout->addWidget(m_cwLoop, 2, 1);
    layout->addWidget(m_loopStop, 2, 2);
    layout->addWidget(m_cmdsend, 3, 0);
    layout->addWidget(m_cmdRX, 3, 1);
    layout->addWidget(m_optSpeed, 4, 0, 1, 3);
}

KeyerController::KeyerController(KeyerPanel* panel, QObject* parent)
    : QObject(parent), m_panel(panel), m_keyer(std::make_unique<Keyer>()) {
    Keyer& k = *m_keyer;
    k.Text1 = panel->Text1()->text();
    k.Text6 = panel->Text6()->text();
    k.TXTSel = panel->TXTSel()->isChecked();
    k.CWloop = panel->CWloop()->isChecked();

    connect(panel->Text1(), &QLineEdit::textChanged, this,
            [this](const QString& t) { m_keyer->Text1 = t; });
    connect(panel->Text6(), &QLineEdit::textChanged, this,
            [this](const QString& t) { m_keyer->Text6 = t; });
    connect(panel->TXTSel(), &QPushButton::toggled, this, [this](bool on) {
        m_keyer->TXTSelClick(on);
        SetBackColour(m_panel->TXTSel(), SelectColour(on));
    });
    connect(panel->CWloop(), &QPushButton::toggled, this, [this](bool on) {
        m_keyer->CWloopClick(on);
        SetBackColour(m_panel->CWloop(), LoopColour(on));
    });
    connect(panel->OptSpeed(), &OptionGroup::selectionChanged, this,
            &KeyerController::speedSelected);
    connect(panel->cmdsend(), &QPushButton::clicked, this, [this] { m_keyer->cmdsendClick(); });
    connect(panel->cmdRX(), &QPushButton::clicked, this, [this] { m_keyer->cmdRXClick(); });
    connect(panel->LoopStop(), &QPushButton::clicked, this, [this] { m_keyer->LoopStopClick(); });
}

KeyerController::~KeyerController() = default;

void KeyerController::speedSelected(int option) {
    // Only the chosen option turns green; the others keep the colour they have.
    if (m_keyer->OptSpeedClick(option))
        SetBackColour(m_panel->OptSpeed()->button(option), Colours::Green);
}

void KeyerController::bindBoard(StationBoard& board) {
    m_keyer->setBoard(&board);
}

void KeyerController::bindRig(TransmitControl& rig) {
    m_keyer->setRig(&rig);
}

void KeyerController::load(const SettingsStore& SettingsTable) {
    using namespace Settings;
    int speed = int(SettingsTable[CwSpeedIndex].toInt(2));
    if (DotLengthFor(speed) == 0)
        speed = 2;
    OptionGroup* opt = m_panel->OptSpeed();
    if (opt->selected() == speed)
        speedSelected(speed); // selecting it again reports no change
    else
        opt->setSelected(speed);

    QPushButton* sel = m_panel->TXTSel();
    sel->setChecked(SettingsTable[CwTextSelect].toBool());
    m_keyer->TXTSelClick(sel->isChecked());
    SetBackColour(sel, SelectColour(sel->isChecked()));
    QPushButton* loop = m_panel->CWloop();
    loop->setChecked(SettingsTable[CwLoop].toBool());
    m_keyer->CWloopClick(loop->isChecked());
    SetBackColour(loop, LoopColour(loop->isChecked()));

    m_panel->Text6()->setText(SettingsTable[CwText2].toText());
    SetBackColour(m_panel->Text6(), Colours::Yellow);
    SetBackColour(m_panel->Text1(), Colours::Green);
}

void KeyerController::unload(SettingsStore& SettingsTable) {
    using namespace Settings;
    m_keyer->cmdRXClick();
    m_keyer->endTransmission();
    SettingsTable[CwSpeedIndex] = SettingValue::number(m_keyer->SpeedIndex);
    SettingsTable[CwTextSelect] = SettingValue::boolean(m_panel->TXTSel()->isChecked());
    SettingsTable[CwLoop] = SettingValue::boolean(m_panel->CWloop()->isChecked());
    SettingsTable[CwText1] = SettingValue::text(m_panel->Text1()->text());
    SettingsTable[CwText2] = SettingValue::text(m_panel->Text6()->text());
}
