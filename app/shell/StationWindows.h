#pragma once

// The windows the main window's menu opens, each made by its own factory on first use and handed
// the station context.

#include "QslWindow.h"
#include "SettingsDialog.h"
#include "StationContext.h"

#include <QPointer>
#include <QWidget>
#include <functional>

class ClusterWindow;
class GpsWindow;
class LogbookWindow;

class QTableView;

class StationWindows {
public:
    explicit StationWindows(StationContext& context) : m_context(context) {}
    ~StationWindows() { closeAll(); }
    StationWindows(const StationWindows&) = delete;
    StationWindows& operator=(const StationWindows&) = delete;

    // What the windows need of the main window, given before the first window is made.
    SettingsDialogHooks settingsHooks;
    std::function<void(const QString& frequencyKhz)> tuneToSpot; // a cluster spot's frequency
    std::function<void(bool fix)> gpsFixChanged;                 // the GPS window's fix
    std::function<void()> exportLogKml;                          // the logbook's GoogleEarth button

    SettingsDialog* settingsDialog(); // form2 "Initial"
    ClusterWindow* clusterWindow();   // form3 "FarscanPacket"
    GpsWindow* gpsWindow();           // form4 "FarscanGPSLoc"
    LogbookWindow* logbookWindow();   // form5 "FarscanLog"
    QslWindow* qslWindow();           // Form6 "FarscanQSL"

    // Windows made so far (the wheel scrolls the logbook's grid, "Done" measures with the
    // logbook's position only if it is there).
    LogbookWindow* logbookIfMade() const;
    GpsWindow* gpsIfMade() const;

    // Shows a window modeless, raised and active, as its menu item does.
    static void open(QWidget* window);
    // Closes and deletes every window made so far.
    void closeAll();

private:
    StationContext& m_context;
    QPointer<SettingsDialog> m_settings;
    QPointer<ClusterWindow> m_cluster;
    QPointer<GpsWindow> m_gps;
    QPointer<LogbookWindow> m_logbook;
    QPointer<QslWindow> m_qsl;
};
