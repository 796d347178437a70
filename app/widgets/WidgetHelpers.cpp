#include "WidgetHelpers.h"

#include <QFileDialog>
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

QFileDialog* OpenFileDialog(QWidget* parent, const QString& title, const QString& filter,
                            const QString& saveSuffix,
                            const std::function<void(const QString&)>& chosen,
                            const std::function<void()>& cancelled) {
    auto* dialog = new QFileDialog(parent, title, QString(), filter);
    dialog->setAttribute(Qt::WA_DeleteOnClose);
    const bool save = !saveSuffix.isEmpty();
    dialog->setAcceptMode(save ? QFileDialog::AcceptSave : QFileDialog::AcceptOpen);
    dialog->setFileMode(save ? QFileDialog::AnyFile : QFileDialog::ExistingFile);
    if (save)
        dialog->setDefaultSuffix(saveSuffix);
    QObject::connect(dialog, &QFileDialog::fileSelected, dialog, chosen);
    if (cancelled)
        QObject::connect(dialog, &QDialog::rejected, dialog, cancelled);
    dialog->open();
    return dialog;
}
