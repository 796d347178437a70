#pragma once

// Small behaviours that several windows give their controls.

#include "StationColours.h"

#include <QColor>

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
