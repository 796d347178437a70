#include "WidgetHelpers.h"

#include <QHeaderView>
#include <QLineEdit>
#include <QScrollBar>
#include <QTableView>

void MakeUpperCase(QLineEdit* edit) {
    if (!edit)
        return;
    QObject::connect(edit, &QLineEdit::textEdited, edit, [edit](const QString& text) {
        const QString upper = text.toUpper();
        if (upper == text)
            return;
        const int cursor = edit->cursorPosition();
        edit->setText(upper);
        edit->setCursorPosition(cursor);
    });
}

void SetTextColour(QWidget* widget, const QColor& colour) {
    if (!widget)
        return;
    QPalette p = widget->palette();
    p.setColor(QPalette::WindowText, colour);
    p.setColor(QPalette::Text, colour);
    p.setColor(QPalette::ButtonText, colour);
    widget->setPalette(p);
}

void SetBackColour(QWidget* widget, const QColor& colour) {
    if (!widget)
        return;
    QPalette p = widget->palette();
    p.setColor(QPalette::Base, colour);
    p.setColor(QPalette::Button, colour);
    p.setColor(QPalette::Window, colour);
    widget->setAutoFillBackground(true);
    widget->setPalette(p);
}

void ScrollGridRows(QTableView* grid, int rows) {
    if (!grid || rows == 0)
        return;
    QScrollBar* bar = grid->verticalScrollBar();
    const int rowStep = grid->verticalScrollMode() == QAbstractItemView::ScrollPerItem
                            ? 1
                            : qMax(1, grid->verticalHeader()->defaultSectionSize());
    bar->setValue(bar->value() + rows * rowStep);
}
