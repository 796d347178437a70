#pragma once

// The windows the main window's menu opens. Each reloads the settings file when it is created;
// their contents come with their own subsystems.

#include <QWidget>

class QTableView;

class StationWindow : public QWidget {
    Q_OBJECT
public:
    StationWindow(const QString& name, const QString& caption, QWidget* parent = nullptr);
    // The window's data grid, if it has one (the logbook's).
    QTableView* grid() const { return m_grid; }
    void addGrid();

private:
    QTableView* m_grid = nullptr;
};

// 2 settings dialog "Initial", 3 cluster window, 4 GPS window, 5 logbook window, 6 QSL window.
StationWindow* CreateStationWindow(int number);
