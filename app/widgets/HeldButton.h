#pragma once

// A button whose action runs while it is held down (tuning, elevation). The press starts it; it
// ends when the press ends in any way: the release, the button losing the focus or being hidden
// or disabled, the window losing the focus, or the mouse grab lost without a release (the button
// is then no longer down). A press without a separate release (an assistive tool's "Press")
// starts and ends it at once.

#include <QObject>
#include <QTimer>
#include <functional>

class QAbstractButton;

class HeldButton : public QObject {
    Q_OBJECT
public:
    // The watcher is a child of the button.
    HeldButton(QAbstractButton* button, std::function<void()> press, std::function<void()> release);

    bool held() const { return m_held; }

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void start();
    void end();

    QAbstractButton* m_button; // the watcher's parent: it goes with the button
    std::function<void()> m_press;
    std::function<void()> m_release;
    bool m_held = false;
    QTimer m_watch;
};
