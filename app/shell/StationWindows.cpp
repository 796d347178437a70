#include "StationWindows.h"

#include "LogbookWindow.h"

#include <QTableView>
#include <QVBoxLayout>

StationWindow::StationWindow(const QString& name, const QString& caption, QWidget* parent)
    : QWidget(parent, Qt::Window) {
    setObjectName(name);
    setWindowTitle(caption);
    setAccessibleName(caption);
    new QVBoxLayout(this);
    resize(640, 420);
}

void StationWindow::addGrid() {
    if (m_grid)
        return;
    m_grid = new QTableView(this);
    m_grid->setObjectName(QStringLiteral("DataGrid1"));
    m_grid->setAccessibleName(tr("Log entries"));
    m_grid->setVerticalScrollMode(QAbstractItemView::ScrollPerItem);
    layout()->addWidget(m_grid);
}

namespace {
StationWindow* Make(QPointer<StationWindow>& slot, const char* name, const char* caption) {
    if (!slot)
        slot = new StationWindow(QString::fromLatin1(name), QString::fromLatin1(caption));
    return slot;
}
} // namespace

StationWindow* StationWindows::settingsDialog() {
    return Make(m_settings, "form2", "Initial");
}

StationWindow* StationWindows::clusterWindow() {
    return Make(m_cluster, "form3", "FarscanPacket");
}

StationWindow* StationWindows::gpsWindow() {
    return Make(m_gps, "form4", "FarscanGPSLoc");
}

LogbookWindow* StationWindows::logbookWindow() {
    if (!m_logbook)
        m_logbook = new LogbookWindow(m_context);
    return m_logbook;
}

LogbookWindow* StationWindows::logbookIfMade() const {
    return m_logbook;
}

StationWindow* StationWindows::qslWindow() {
    return Make(m_qsl, "Form6", "FarscanQSL");
}

void StationWindows::open(QWidget* window) {
    if (!window)
        return;
    window->show();
    window->raise();
    window->activateWindow();
}

void StationWindows::closeAll() {
    for (QPointer<StationWindow>* slot : {&m_settings, &m_cluster, &m_gps, &m_qsl}) {
        if (*slot) {
            (*slot)->close();
            delete slot->data();
        }
    }
    if (m_logbook) {
        m_logbook->close();
        delete m_logbook.data();
    }
}
