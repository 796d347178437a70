#include "OptionGroup.h"

#include <QBoxLayout>
#include <QButtonGroup>
#include <QPushButton>
#include <QRadioButton>

OptionGroup::OptionGroup(QWidget* parent) : QGroupBox(parent) {
    m_group = new QButtonGroup(this);
    m_group->setExclusive(false); // exclusivity is kept here, so that "none" is possible
    m_layout = new QBoxLayout(QBoxLayout::TopToBottom, this);
    m_layout->setContentsMargins(4, 4, 4, 4);
    m_layout->setSpacing(2);
    connect(m_group, &QButtonGroup::idToggled, this, &OptionGroup::buttonToggled);
    connect(m_group, &QButtonGroup::idClicked, this, &OptionGroup::buttonClicked);
}

// A click toggles the button first and then reports the click; an assistive tool's toggle action
// only toggles it. Both choose the option here, on the toggle.
void OptionGroup::buttonToggled(int id, bool checked) {
    if (m_updating)
        return;
    if (checked && id != m_selected) {
        setSelected(id);
        emit optionPicked(m_selected);
    } else if (!checked && id == m_selected) {
        // Choosing the selected option again keeps it selected.
        m_updating = true;
        if (QAbstractButton* b = button(id))
            b->setChecked(true);
        m_updating = false;
    } else {
        return;
    }
    m_activatedByToggle = id;
    QMetaObject::invokeMethod(
        this, [this] { m_activatedByToggle = 0; }, Qt::QueuedConnection);
    emit optionActivated(id);
}

void OptionGroup::buttonClicked(int id) {
    if (m_activatedByToggle == id) {
        m_activatedByToggle = 0;
        return;
    }
    emit optionActivated(id);
}

OptionGroup::OptionGroup(const QString& caption, const QStringList& options, QWidget* parent)
    : OptionGroup(parent) {
    setTitle(caption);
    setAccessibleName(caption);
    setOptions(options);
}

void OptionGroup::setOptions(const QStringList& captions) {
    m_captions = captions;
    m_selected = 0;
    rebuild();
}

void OptionGroup::setOptionCount(int count) {
    count = qMax(0, count);
    QStringList captions = m_captions.mid(0, count);
    while (captions.size() < count)
        captions << QStringLiteral("Option %1").arg(captions.size() + 1);
    const int keep = m_selected <= count ? m_selected : 0;
    m_captions = captions;
    rebuild();
    setSelected(keep);
}

void OptionGroup::rebuild() {
    for (QAbstractButton* b : m_group->buttons()) {
        m_group->removeButton(b);
        delete b;
    }
    for (int i = 0; i < m_captions.size(); ++i) {
        QAbstractButton* b = nullptr;
        if (m_style == ButtonStyle::Graphical)
            b = new QPushButton(m_captions[i], this);
        else
            b = new QRadioButton(m_captions[i], this);
        b->setCheckable(true);
        m_updating = true;
        b->setChecked(i + 1 == m_selected);
        m_updating = false;
        b->setAccessibleName(m_captions[i]);
        b->setObjectName(QStringLiteral("%1_%2").arg(objectName()).arg(i + 1));
        m_group->addButton(b, i + 1);
        m_layout->addWidget(b);
    }
}

void OptionGroup::setSelected(int option) {
    if (option < 0 || option > m_captions.size())
        option = 0;
    const bool changed = option != m_selected;
    m_selected = option;
    m_updating = true;
    for (QAbstractButton* b : m_group->buttons())
        b->setChecked(m_group->id(b) == option);
    m_updating = false;
    if (changed)
        emit selectionChanged(option);
}

void OptionGroup::setOrientation(Qt::Orientation orientation) {
    m_orientation = orientation;
    m_layout->setDirection(orientation == Qt::Horizontal ? QBoxLayout::LeftToRight
                                                         : QBoxLayout::TopToBottom);
}

void OptionGroup::setLook(Look look) {
    m_look = look;
    setFlat(look == Look::Flat);
    for (QAbstractButton* b : m_group->buttons())
        if (auto* p = qobject_cast<QPushButton*>(b))
            p->setFlat(look == Look::Flat);
}

void OptionGroup::setButtonStyle(ButtonStyle style) {
    if (style == m_style)
        return;
    m_style = style;
    const int keep = m_selected;
    rebuild();
    setLook(m_look);
    m_selected = keep;
    m_updating = true;
    for (QAbstractButton* b : m_group->buttons())
        b->setChecked(m_group->id(b) == keep);
    m_updating = false;
}

QAbstractButton* OptionGroup::button(int option) const {
    return m_group->button(option);
}
