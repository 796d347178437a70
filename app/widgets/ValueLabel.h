#pragma once

// A label that shows a value (a frequency, a level, a heading, a port state). Its accessible
// name is a short caption ("Band frequency"); its accessible description is the text it shows,
// read from the label whenever an assistive tool asks, so a screen reader reads both. A plain
// QLabel with a fixed accessible name would hide its text from assistive tools.

#include <QLabel>

class ValueLabel : public QLabel {
    Q_OBJECT
public:
    ValueLabel(const QString& objectName, const QString& caption, QWidget* parent = nullptr);

public slots:
    // Hides QLabel::setText to announce the change: call it through a ValueLabel pointer (or
    // connect to &ValueLabel::setText). The description follows the text in any case.
    void setText(const QString& text);
    void clear() { setText(QString()); }

private:
    bool m_announcePending = false;
    QString m_announced;
};

// Installs the accessible interface of value labels (once per process; the shell calls it).
void InstallValueLabelAccessibility();
