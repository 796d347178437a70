#pragma once

// The windows the main window's menu opens, each made by its own factory on first use and handed
// the station context. Their contents come with their own subsystems; until then each is a plain
// window with its design name and caption.

#include "StationContext.h"

#include <QPointer>
#include <QWidget>

class LogbookWindow;
class QTableView;

// A window whose contents are still to come (the logbook window has its own class).
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

class StationWindows {
public:
    explicit StationWindows(StationContext& context) : m_context(context) {}
    ~StationWindows() { closeAll(); }
    StationWindows(const StationWindows&) = delete;
    StationWindows& operator=(const StationWindows&) = delete;

    StationWindow* settingsDialog(); // form2 "Initial"
    StationWindow* clusterWindow();  // form3 "FarscanPacket"
    StationWindow* gpsWindow();      // form4 "FarscanGPSLoc"
    LogbookWindow* logbookWindow();  // form5 "FarscanLog"
    StationWindow* qslWindow();      // Form6 "FarscanQSL"

    // The logbook window if it has been made (the wheel scrolls its grid too).
    LogbookWindow* logbookIfMade() const;

    // Shows a window modeless, raised and active, as its menu item does.
    static void open(QWidget* window);
    // Closes and deletes every window made so far.
    void closeAll();

private:
    StationContext& m_context;
    QPointer<StationWindow> m_settings;
    QPointer<StationWindow> m_cluster;
    QPointer<StationWindow> m_gps;
    QPointer<LogbookWindow> m_logbook;
    QPointer<StationWindow> m_qsl;
};
