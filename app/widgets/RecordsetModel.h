#pragma once

// Shows a recordset's visible rows and fields in a view (the data grids of the beacon list and
// the logbook) and lets the user delete a row once a confirmation hook agrees. Rows are read
// through the recordset's page cache as the view paints them, so a grid over 100,000 rows costs
// only the rows on screen.

#include "Recordset.h"

#include <QAbstractTableModel>
#include <functional>
#include <memory>

class RecordsetModel : public QAbstractTableModel {
    Q_OBJECT
public:
    explicit RecordsetModel(QObject* parent = nullptr);
    explicit RecordsetModel(std::shared_ptr<Recordset> recordset, QObject* parent = nullptr);
    ~RecordsetModel() override;

    // Binds another recordset (or none); the view rebuilds.
    void setRecordset(std::shared_ptr<Recordset> recordset);
    std::shared_ptr<Recordset> recordset() const { return m_recordset; }

    // Asked once before removeRows deletes anything; only true lets the rows go. Without a
    // hook nothing is deleted.
    void setDeleteConfirmation(std::function<bool()> confirm) { m_confirm = std::move(confirm); }

    // Why the last removeRows failed (refused, or the recordset's error).
    QString lastError() const { return m_lastError; }

    int rowCount(const QModelIndex& parent = QModelIndex()) const override;
    int columnCount(const QModelIndex& parent = QModelIndex()) const override;
    QVariant data(const QModelIndex& index, int role = Qt::DisplayRole) const override;
    QVariant headerData(int section, Qt::Orientation orientation,
                        int role = Qt::DisplayRole) const override;
    // Deletes the rows from the table behind the recordset after the confirmation.
    bool removeRows(int row, int count, const QModelIndex& parent = QModelIndex()) override;

private:
    void recordsetChanged();
    void rowAboutToBeRemoved(int row);
    void rowRemoved(int row);

    std::shared_ptr<Recordset> m_recordset;
    std::function<bool()> m_confirm;
    QList<QMetaObject::Connection> m_connections;
    QString m_lastError;
};
