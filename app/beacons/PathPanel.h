#pragma once

// The main window's path line: the target box `Locator`, the result line `Richtung` and the
// rotor target box `Text160`, with the controller that computes distance and heading from the
// home locator (PathToTarget) and puts the heading where the rotor takes it.

#include <QLocale>
#include <QObject>
#include <QWidget>
#include <functional>

class QLineEdit;

class PathPanel : public QWidget {
    Q_OBJECT
public:
    explicit PathPanel(QWidget* parent = nullptr);

    QLineEdit* Locator() const { return m_locator; }
    QLineEdit* Richtung() const { return m_richtung; }
    QLineEdit* Text160() const { return m_text160; }

private:
    QLineEdit* m_locator = nullptr;
    QLineEdit* m_richtung = nullptr;
    QLineEdit* m_text160 = nullptr;
};

class PathController : public QObject {
    Q_OBJECT
public:
    // Handles Enter in the panel's `Locator` and `Text160` boxes.
    explicit PathController(PathPanel* panel, QObject* parent = nullptr);

    // The home locator; by default the program's own locator (settings, or the GPS while it
    // has a fix).
    void setHomeLocatorSource(std::function<QString()> source) { m_home = std::move(source); }
    // The beacon editor's locator box (`txtLocB`), read while UseBeaconLocator is set.
    void setBeaconLocatorSource(std::function<QString()> source) { m_beacon = std::move(source); }
    // Enter in `Text160` turns the rotor to the heading there (TurnToHeading), then the focus
    // goes back to `Locator`.
    void setTurnToHeading(std::function<void()> turn) { m_turn = std::move(turn); }
    // The user's number format for the result line; the system locale by default.
    void setLocale(const QLocale& locale) { m_locale = locale; }

    // Set by the beacon directory's GD button: the next PathToTarget measures to the beacon
    // editor's locator and clears it.
    bool UseBeaconLocator = false;

    // Computes distance and heading from home to the target, writes the result line into
    // `Richtung`, the whole-degree heading into `Text160` and the positions into
    // LastLonLatText (home first, then target). Returns false when nothing was computed
    // (an invalid home or target locator: the message was shown and `Locator` has the focus).
    bool PathToTarget();

    // The result line for a target and a computed path, in the given locale's numbers.
    static QString ResultLine(const QString& target, float heading, float reverse,
                              double distanceKm, const QLocale& locale);

private:
    void locatorEnter();
    void text160Enter();

    PathPanel* m_panel;
    std::function<QString()> m_home;
    std::function<QString()> m_beacon;
    std::function<void()> m_turn;
    QLocale m_locale;
};
