#include "PathPanel.h"

#include "Locator.h"
#include "ProgramState.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>

#include <cmath>

PathPanel::PathPanel(QWidget* parent) : QWidget(parent) {
    setObjectName(QStringLiteral("PathPanel"));
    auto* layout = new QHBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);

    m_locator = new QLineEdit(this);
    m_locator->setObjectName(QStringLiteral("Locator"));
    m_locator->setAccessibleName(tr("Target locator"));

    m_richtung = new QLineEdit(this);
    m_richtung->setObjectName(QStringLiteral("Richtung"));
    m_richtung->setAccessibleName(tr("Distance and heading"));
    m_richtung->setReadOnly(true);
    m_richtung->setMinimumWidth(320);

    m_text160 = new QLineEdit(this);
    m_text160->setObjectName(QStringLiteral("Text160"));
    m_text160->setAccessibleName(tr("Rotor target heading"));
    m_text160->setMaximumWidth(60);

    auto* locatorLabel = new QLabel(tr("Loc:"), this);
    locatorLabel->setBuddy(m_locator);
    auto* headingLabel = new QLabel(tr("QTF:"), this);
    headingLabel->setBuddy(m_text160);
    layout->addWidget(locatorLabel);
    layout->addWidget(m_locator);
    layout->addWidget(m_richtung, 1);
    layout->addWidget(headingLabel);
    layout->addWidget(m_text160);
}

PathController::PathController(PathPanel* panel, QObject* parent)
    : QObject(parent), m_panel(panel), m_home([] { return Program().ownLocator; }) {
    connect(panel->Locator(), &QLineEdit::returnPressed, this, &PathController::locatorEnter);
    connect(panel->Text160(), &QLineEdit::returnPressed, this, &PathController::text160Enter);
}

void PathController::locatorEnter() {
    PathToTarget();
    if (!LocatorInvalid)
        m_panel->Text160()->setFocus();
}

void PathController::text160Enter() {
    if (m_turn)
        m_turn();
    m_panel->Locator()->setFocus();
}

QString PathController::ResultLine(const QString& target, float heading, float reverse,
                                   double distanceKm, const QLocale& locale) {
    QLocale numbers = locale;
    numbers.setNumberOptions(QLocale::OmitGroupSeparator);
    const QString degree = QString(QChar(0x00B0));
    return QStringLiteral(" -> ") + target + QStringLiteral(" QTF: ") +
           numbers.toString(double(heading), 'f', 1) + degree + QStringLiteral(" / ") +
           numbers.toString(double(reverse), 'f', 1) + degree + QStringLiteral(" QRB: ") +
           numbers.toString(distanceKm, 'f', 2) + QStringLiteral(" km");
}

bool PathController::PathToTarget() {
    const QChar decimalPoint =
        m_locale.decimalPoint().isEmpty() ? QLatin1Char('.') : m_locale.decimalPoint().at(0);

    // Home: a 4-character locator is completed as the target box is; anything else that is
    // not a locator is refused with the check's message, so no position is made up.
    const QString homeText = CompletedLocator(m_home ? m_home() : QString());
    const std::optional<LonLat> home =
        ValidateLocator(homeText) ? LocatorToLonLat(homeText) : std::nullopt;
    if (!home) {
        m_panel->Locator()->setFocus();
        return false;
    }
    Program().LastLonLatText = LonLatText(*home, decimalPoint);

    QLineEdit* box = m_panel->Locator();
    if (box->text().size() == 4)
        box->setText(box->text() + QStringLiteral("HH"));

    QString target;
    if (UseBeaconLocator) {
        UseBeaconLocator = false;
        // Beacon locators of 4 characters get the same completion as the target box.
        target = CompletedLocator(m_beacon ? m_beacon() : QString());
    } else {
        target = box->text().toUpper();
    }
    const std::optional<LonLat> there =
        ValidateLocator(target) ? LocatorToLonLat(target) : std::nullopt;
    if (!there) {
        box->setFocus();
        return false;
    }
    Program().LastLonLatText = LonLatText(*there, decimalPoint);

    const PathResult path = ComputePath(*home, *there);
    m_panel->Richtung()->setText(
        ResultLine(target, path.heading, path.reverse, path.distanceKm, m_locale));
    box->setFocus();
    m_panel->Text160()->setText(QString::number(qint64(std::floor(path.heading))));
    return true;
}
