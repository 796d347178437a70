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
    connect(m_group, &QButtonGroup::idClicked, this, [this](int id) {
        const int before = m_selected;
        setSelected(id);
        if (m_selected != before)
            emit optionPicked(m_selected);
        else if (QAbstractButton* b = button(id))
            b->setChecked(true); // a click on the selected option keeps it selected
    });
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
        b->setChecked(i + 1 == m_selected);
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
    for (QAbstractButton* b : m_group->buttons())
        b->setChecked(m_group->id(b) == option);
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
    for (QAbstractButton* b : m_group->buttons())
        b->setChecked(m_group->id(b) == keep);
}

QAbstractButton* OptionGroup::button(int option) const {
    return m_group->button(option);
}
