#include "StationWindows.h"

#include "ClusterWindow.h"
#include "GpsWindow.h"
#include "LogbookWindow.h"
#include "QslWindow.h"

SettingsDialog* StationWindows::settingsDialog() {
    if (!m_settings)
        m_settings = new SettingsDialog(m_context, settingsHooks);
    return m_settings;
}

ClusterWindow* StationWindows::clusterWindow() {
    if (!m_cluster) {
        m_cluster = new ClusterWindow(m_context);
        m_cluster->openSettings = [this] { open(settingsDialog()); };
        m_cluster->tuneToSpot = tuneToSpot;
    }
    return m_cluster;
}

GpsWindow* StationWindows::gpsWindow() {
    if (!m_gps) {
        m_gps = new GpsWindow(m_context);
        QObject::connect(m_gps, &GpsWindow::fixChanged, m_gps, [this](bool fix) {
            if (gpsFixChanged)
                gpsFixChanged(fix);
        });
    }
    return m_gps;
}

LogbookWindow* StationWindows::logbookWindow() {
    if (!m_logbook) {
        m_logbook = new LogbookWindow(m_context);
        QObject::connect(m_logbook, &LogbookWindow::googleEarthRequested, m_logbook, [this] {
            if (exportLogKml)
                exportLogKml();
        });
    }
    return m_logbook;
}

QslWindow* StationWindows::qslWindow() {
    if (!m_qsl) {
        m_qsl = new QslWindow(m_context);
        m_qsl->showMainWindow = [this] {
            if (settingsHooks.showMainWindow)
                settingsHooks.showMainWindow();
        };
    }
    return m_qsl;
}

LogbookWindow* StationWindows::logbookIfMade() const {
    return m_logbook;
}

GpsWindow* StationWindows::gpsIfMade() const {
    return m_gps;
}

void StationWindows::open(QWidget* window) {
    if (!window)
        return;
    window->show();
    window->raise();
    window->activateWindow();
}

void StationWindows::closeAll() {
    // Each window's close runs its own unload (ports closed, its settings written).
    const QList<QPointer<QWidget>> windows = {m_settings.data(), m_cluster.data(), m_gps.data(),
                                              m_logbook.data(), m_qsl.data()};
    for (const QPointer<QWidget>& w : windows) {
        if (w) {
            w->close();
            delete w.data();
        }
    }
}
