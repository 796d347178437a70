#include "StationWindows.h"

#include "Settings.h"

#include <QTableView>
#include <QVBoxLayout>

StationWindow::StationWindow(const QString& name, const QString& caption, QWidget* parent)
    : QWidget(parent, Qt::Window) {
    setObjectName(name);
    setWindowTitle(caption);
    setAccessibleName(caption);
    new QVBoxLayout(this);
    resize(640, 420);
    LoadSettings();
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

StationWindow* CreateStationWindow(int number) {
    switch (number) {
    case 2:
        return new StationWindow(QStringLiteral("form2"), QStringLiteral("Initial"));
    case 3:
        return new StationWindow(QStringLiteral("form3"), QStringLiteral("FarscanPacket"));
    case 4:
        return new StationWindow(QStringLiteral("form4"), QStringLiteral("FarscanGPSLoc"));
    case 5: {
        auto* w = new StationWindow(QStringLiteral("form5"), QStringLiteral("FarscanLog"));
        w->addGrid();
        return w;
    }
    case 6:
        return new StationWindow(QStringLiteral("Form6"), QStringLiteral("FarscanQSL"));
    default:
        return nullptr;
    }
}
