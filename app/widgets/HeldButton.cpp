#include "HeldButton.h"

#include <QAbstractButton>
#include <QApplication>
#include <QEvent>

HeldButton::HeldButton(QAbstractButton* button, std::function<void()> press,
                       std::function<void()> release)
    : QObject(button), m_button(button), m_press(std::move(press)), m_release(std::move(release)) {
    connect(button, &QAbstractButton::pressed, this, &HeldButton::start);
    connect(button, &QAbstractButton::released, this, &HeldButton::end);
    button->installEventFilter(this);
    connect(qApp, &QApplication::applicationStateChanged, this, [this](Qt::ApplicationState s) {
        if (s != Qt::ApplicationActive)
            end();
    });
    // A grab lost without a release leaves the button up without a signal: look now and then.
    m_watch.setInterval(100);
    connect(&m_watch, &QTimer::timeout, this, [this] {
        if (!m_button->isDown())
            end();
    });
}

void HeldButton::start() {
    if (m_held)
        return;
    m_held = true;
    m_watch.start();
    if (m_press)
        m_press();
}

void HeldButton::end() {
    if (!m_held)
        return;
    m_held = false;
    m_watch.stop();
    if (m_release)
        m_release();
}

bool HeldButton::eventFilter(QObject* watched, QEvent* event) {
    // Compared as objects: the button may be part way through its destruction here.
    if (watched == static_cast<QObject*>(m_button)) {
        switch (event->type()) {
        case QEvent::FocusOut:
        case QEvent::Hide:
        case QEvent::EnabledChange:
        case QEvent::WindowDeactivate:
        case QEvent::UngrabMouse:
            end();
            break;
        default:
            break;
        }
    }
    return QObject::eventFilter(watched, event);
}
