#pragma once

// The main window's path line: the target box `Locator` and the result line `Richtung`, with the
// controller that computes distance and heading from the home locator (PathToTarget) and writes
// the heading into the rotor's heading box, the one box the antenna is turned from.

#include <QLocale>
#include <QObject>
#include <QWidget>
#include <functional>

class QLineEdit;
struct ProgramState;

class PathPanel : public QWidget {
    Q_OBJECT
public:
    explicit PathPanel(QWidget* parent = nullptr);

    QLineEdit* Locator() const { return m_locator; }
    QLineEdit* Richtung() const { return m_richtung; }

private:
    QLineEdit* m_locator = nullptr;
    QLineEdit* m_richtung = nullptr;
};

class PathController : public QObject {
    Q_OBJECT
public:
    // Handles Enter in the panel's `Locator` box. headingBox: the rotor's heading box `Text160`
    // (Enter there is the rotor's: it turns the antenna and gives the focus back to `Locator`).
    PathController(PathPanel* panel, ProgramState& state, QLineEdit* headingBox,
                   QObject* parent = nullptr);

    // The home locator; by default the program's own locator (settings, or the GPS while it
    // has a fix).
    void setHomeLocatorSource(std::function<QString()> source) { m_home = std::move(source); }
    // The beacon editor's locator box (`txtLocB`), read while UseBeaconLocator is set.
    void setBeaconLocatorSource(std::function<QString()> source) { m_beacon = std::move(source); }
    // Shows a message to the user; by default a message box with an OK button over the panel
    // that does not stop the window's timers.
    void setMessageSink(std::function<void(const QString&)> sink) { m_message = std::move(sink); }
    // The user's number format for the result line; the system locale by default.
    void setLocale(const QLocale& locale) { m_locale = locale; }

    // Puts a locator into the target box `Locator`, as a beacon selection does.
    void setTargetLocator(const QString& locator);
    QString targetLocator() const;

    // Set by the beacon directory's GD button: the next PathToTarget measures to the beacon
    // editor's locator and clears it.
    bool UseBeaconLocator = false;

    // Computes distance and heading from home to the target, writes the result line into
    // `Richtung`, the whole-degree heading into the heading box and the positions into
    // LastLonLatText (home first, then target). Returns false when nothing was computed
    // (an invalid home or target locator: the message was shown and `Locator` has the focus).
    bool PathToTarget();

    // The result line for a target and a computed path, in the given locale's numbers.
    static QString ResultLine(const QString& target, float heading, float reverse,
                              double distanceKm, const QLocale& locale);

private:
    void locatorEnter();
    void invalid();

    PathPanel* m_panel;
    ProgramState& m_state;
    QLineEdit* m_heading;
    std::function<QString()> m_home;
    std::function<QString()> m_beacon;
    std::function<void(const QString&)> m_message;
    QLocale m_locale;
};
