#include "ValueLabel.h"

#include <QAccessible>
#include <QAccessibleWidget>

namespace {

// The description is read from the label's text whenever an assistive tool asks, so even a
// text set through a QLabel pointer is never hidden or stale.
class ValueLabelAccessible : public QAccessibleWidget {
public:
    explicit ValueLabelAccessible(QLabel* label)
        : QAccessibleWidget(label, QAccessible::StaticText) {}

    QString text(QAccessible::Text t) const override {
        auto* label = static_cast<QLabel*>(widget());
        if (t == QAccessible::Description)
            return label->text();
        if (t == QAccessible::Name && label->accessibleName().isEmpty())
            return label->text();
        return QAccessibleWidget::text(t);
    }
};

QAccessibleInterface* ValueLabelFactory(const QString& className, QObject* object) {
    if (className == QLatin1String("ValueLabel") && object && object->isWidgetType())
        return new ValueLabelAccessible(static_cast<QLabel*>(object));
    return nullptr;
}

} // namespace

ValueLabel::ValueLabel(const QString& objectName, const QString& caption, QWidget* parent)
    : QLabel(parent) {
    InstallValueLabelAccessibility();
    setObjectName(objectName);
    setAccessibleName(caption);
}

void ValueLabel::setText(const QString& text) {
    if (text == QLabel::text())
        return;
    QLabel::setText(text);
    // Lets a screen reader announce the new value: once the handler that set it is done, so a
    // label set twice in one step (a reading, then its rounded form) is announced once, and only
    // when it ends up different from what was announced last.
    if (m_announcePending)
        return;
    m_announcePending = true;
    QMetaObject::invokeMethod(
        this,
        [this] {
            m_announcePending = false;
            if (QLabel::text() == m_announced)
                return;
            m_announced = QLabel::text();
            QAccessibleEvent event(this, QAccessible::DescriptionChanged);
            QAccessible::updateAccessibility(&event);
        },
        Qt::QueuedConnection);
}

void InstallValueLabelAccessibility() {
    static const bool installed = [] {
        QAccessible::installFactory(ValueLabelFactory);
        return true;
    }();
    Q_UNUSED(installed);
}
