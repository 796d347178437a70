#pragma once

// Small behaviours that several windows give their controls.

#include "StationColours.h"

#include <QColor>

#include <functional>

class QFileDialog;
class QLineEdit;
class QTableView;
class QWidget;

// Typed letters appear in capitals, as the upper-case edit style does.
void MakeUpperCase(QLineEdit* edit);

// Text colour of a label or field.
void SetTextColour(QWidget* widget, const QColor& colour);
void SetBackColour(QWidget* widget, const QColor& colour);

// Mouse-wheel scrolling by whole notches: deltas add up, each whole 120 scrolls one row
// (away from the user scrolls up) and the rest is kept for the next wheel message.
class WheelAccumulator {
public:
    // Returns the number of rows to scroll by (negative scrolls up).
    int add(int delta) {
        m_total += delta;
        const int notches = m_total / 120;
        m_total %= 120;
        return -notches;
    }
    int pending() const { return m_total; }

private:
    int m_total = 0;
};

// Scrolls a grid by whole rows.
void ScrollGridRows(QTableView* grid, int rows);

// A file dialog opened with open(): a modal exec() would run its own event loop under the
// station's timers. It deletes itself when closed. An empty saveSuffix asks for an existing file
// to read; otherwise for a file to write, that suffix added when none is typed. chosen(path) runs
// once a file is picked; cancelled(), when given, when the dialog closes without one.
QFileDialog* OpenFileDialog(QWidget* parent, const QString& title, const QString& filter,
                            const QString& saveSuffix,
                            const std::function<void(const QString&)>& chosen,
                            const std::function<void()>& cancelled = {});
