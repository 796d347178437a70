#include "PathPanel.h"

#include "Locator.h"
#include "ProgramState.h"

#include <QCoreApplication>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>

#include <cmath>
#include <utility>

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
    m_locator->setToolTip(tr("Locator of the station to aim at; Enter computes distance and "
                             "heading, Enter again turns the antenna"));

    auto* locatorLabel = new QLabel(tr("Loc:"), this);
    locatorLabel->setBuddy(m_locator);
    layout->addWidget(locatorLabel);
    layout->addWidget(m_locator);
    layout->addWidget(m_richtung, 1);
}

PathController::PathController(PathPanel* panel, ProgramState& state, QLineEdit* headingBox,
                               QObject* parent)
    : QObject(parent), m_panel(panel), m_state(state), m_heading(headingBox),
      m_home([this] { return m_state.ownLocator; }) {
    m_message = [this](const QString& text) {
        auto* box = new QMessageBox(QMessageBox::NoIcon, QCoreApplication::applicationName(), text,
                                    QMessageBox::Ok, m_panel);
        box->setAttribute(Qt::WA_DeleteOnClose);
        box->open();
    };
    connect(panel->Locator(), &QLineEdit::returnPressed, this, &PathController::locatorEnter);
}

void PathController::setTargetLocator(const QString& locator) {
    m_panel->Locator()->setText(locator);
}

QString PathController::targetLocator() const {
    return m_panel->Locator()->text();
}

void PathController::locatorEnter() {
    // A valid target puts the focus on the heading box, so that the next Enter turns the
    // antenna to the bearing just computed.
    if (PathToTarget() && m_heading)
        m_heading->setFocus();
}

void PathController::invalid() {
    if (m_message)
        m_message(QString::fromLatin1(InvalidLocatorMessage));
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

    // The beacon's locator is asked for this once, whatever becomes of the path.
    const bool useBeacon = std::exchange(UseBeaconLocator, false);
    // Home: a 4-character locator is completed as the target box is; anything else that is
    // not a locator is refused with the check's message, so no position is made up.
    const QString homeText = CompletedLocator(m_home ? m_home() : QString());
    const std::optional<LonLat> home =
        ValidateLocator(homeText) ? LocatorToLonLat(homeText) : std::nullopt;
    if (!home) {
        invalid();
        m_panel->Locator()->setFocus();
        return false;
    }
    m_state.LastLonLatText = LonLatText(*home, decimalPoint);

    QLineEdit* box = m_panel->Locator();
    if (box->text().size() == 4)
        box->setText(box->text() + QStringLiteral("HH"));

    QString target;
    if (useBeacon) {
        // Beacon locators of 4 characters get the same completion as the target box.
        target = CompletedLocator(m_beacon ? m_beacon() : QString());
    } else {
        target = box->text().toUpper();
    }
    const std::optional<LonLat> there =
        ValidateLocator(target) ? LocatorToLonLat(target) : std::nullopt;
    if (!there) {
        invalid();
        box->setFocus();
        return false;
    }
    m_state.LastLonLatText = LonLatText(*there, decimalPoint);

    const PathResult path = ComputePath(*home, *there);
    m_panel->Richtung()->setText(
        ResultLine(target, path.heading, path.reverse, path.distanceKm, m_locale));
    box->setFocus();
    // Every computation writes its heading, over whatever the box held before.
    if (m_heading)
        m_heading->setText(QString::number(qint64(std::floor(path.heading))));
    return true;
}
