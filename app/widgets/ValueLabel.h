#pragma once

// A label that shows a value (a frequency, a level, a heading, a port state). Its accessible
// name is a short caption ("Band frequency"); the value it shows is its accessible description,
// kept equal to the text at every change, so a screen reader reads both. A plain QLabel with a
// fixed accessible name would hide its text from assistive tools.

#include <QLabel>

class ValueLabel : public QLabel {
    Q_OBJECT
public:
    ValueLabel(const QString& objectName, const QString& caption, QWidget* parent = nullptr);

public slots:
    // Hides QLabel::setText: call it through a ValueLabel pointer (or connect to
    // &ValueLabel::setText). The accessible interface reads the text itself in any case.
    void setText(const QString& text);
    void clear() { setText(QString()); }

private:
    bool m_announcePending = false;
    QString m_announced;
};

// Installs the accessible interface of value labels (once per process; the shell calls it).
void InstallValueLabelAccessibility();
