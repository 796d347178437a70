#include "ValueLabel.h"

#include <QAccessible>
#include <QAccessibleWidget>

namespace {

// The description is read from the label's text whenever an assistive tool asks, so even a
// text set through a QLabel pointer is never hidden or stale.
class ValueLabelAccessible : public QAccessibleWidget {
public:
    explicit ValueLabelAccessible(QLabel* label) : QAccessibleWidget(label, QAccessible::StaticText) {}

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
    setAccessibleDescription(text);
    // Lets a screen reader announce the new value.
    QAccessibleEvent event(this, QAccessible::DescriptionChanged);
    QAccessible::updateAccessibility(&event);
}

void InstallValueLabelAccessibility() {
    static const bool installed = [] {
        QAccessible::installFactory(ValueLabelFactory);
        return true;
    }();
    Q_UNUSED(installed);
}
