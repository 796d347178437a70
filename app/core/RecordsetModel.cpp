#include "RecordsetModel.h"

RecordsetModel::RecordsetModel(QObject* parent) : QAbstractTableModel(parent) {}

RecordsetModel::RecordsetModel(std::shared_ptr<Recordset> recordset, QObject* parent)
    : QAbstractTableModel(parent) {
    setRecordset(std::move(recordset));
}

RecordsetModel::~RecordsetModel() {
    disconnect(m_connection);
}

void RecordsetModel::setRecordset(std::shared_ptr<Recordset> recordset) {
    beginResetModel();
    disconnect(m_connection);
    m_recordset = std::move(recordset);
    if (m_recordset)
        m_connection = connect(m_recordset.get(), &Recordset::changed, this,
                               &RecordsetModel::recordsetChanged);
    endResetModel();
}

void RecordsetModel::recordsetChanged() {
    // Our own deletions announce themselves row by row.
    if (m_removing)
        return;
    beginResetModel();
    endResetModel();
}

int RecordsetModel::rowCount(const QModelIndex& parent) const {
    if (parent.isValid() || !m_recordset)
        return 0;
    return m_recordset->recordCount();
}

int RecordsetModel::columnCount(const QModelIndex& parent) const {
    if (parent.isValid() || !m_recordset)
        return 0;
    return m_recordset->fieldCount();
}

QVariant RecordsetModel::data(const QModelIndex& index, int role) const {
    if (!m_recordset || !index.isValid())
        return {};
    if (role != Qt::DisplayRole && role != Qt::EditRole && role != Qt::AccessibleTextRole)
        return {};
    const QVariant value = m_recordset->valueAt(index.row(), index.column());
    if (!value.isValid())
        return {};
    return DbValueText(value);
}

QVariant RecordsetModel::headerData(int section, Qt::Orientation orientation, int role) const {
    if (role != Qt::DisplayRole || !m_recordset)
        return {};
    if (orientation == Qt::Horizontal) {
        if (section < 0 || section >= m_recordset->fieldCount())
            return {};
        return m_recordset->fieldName(section);
    }
    return section + 1;
}

bool RecordsetModel::removeRows(int row, int count, const QModelIndex& parent) {
    m_lastError.clear();
    if (parent.isValid() || !m_recordset || count <= 0 || row < 0 || row + count > rowCount()) {
        m_lastError = QStringLiteral("There are no such rows");
        return false;
    }
    if (!m_recordset->isUpdatable()) {
        m_lastError = QStringLiteral("The rows cannot be deleted: the recordset is read-only");
        return false;
    }
    if (!m_confirm || !m_confirm()) {
        m_lastError = QStringLiteral("Deletion not confirmed");
        return false;
    }
    // The recordset may have changed while the question was open.
    if (!m_recordset->isOpen() || row + count > rowCount()) {
        m_lastError = QStringLiteral("The rows are gone");
        return false;
    }
    bool ok = true;
    m_removing = true;
    for (int i = 0; i < count; ++i) {
        if (!m_recordset->moveTo(row)) {
            ok = false;
            break;
        }
        beginRemoveRows(QModelIndex(), row, row);
        const bool deleted = m_recordset->deleteCurrent();
        if (!deleted) {
            // The row stays: close the announcement, and the reset below shows it again.
            endRemoveRows();
            ok = false;
            break;
        }
        endRemoveRows();
    }
    m_removing = false;
    if (!ok) {
        m_lastError = m_recordset->lastError();
        beginResetModel();
        endResetModel();
    }
    return ok;
}
