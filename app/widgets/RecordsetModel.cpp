#include "RecordsetModel.h"

RecordsetModel::RecordsetModel(QObject* parent) : QAbstractTableModel(parent) {}

RecordsetModel::RecordsetModel(std::shared_ptr<Recordset> recordset, QObject* parent)
    : QAbstractTableModel(parent) {
    setRecordset(std::move(recordset));
}

RecordsetModel::~RecordsetModel() {
    for (const auto& c : m_connections)
        disconnect(c);
}

void RecordsetModel::setRecordset(std::shared_ptr<Recordset> recordset) {
    beginResetModel();
    for (const auto& c : m_connections)
        disconnect(c);
    m_connections.clear();
    m_recordset = std::move(recordset);
    if (m_recordset) {
        Recordset* rs = m_recordset.get();
        m_connections << connect(rs, &Recordset::changed, this, &RecordsetModel::recordsetChanged)
                      << connect(rs, &Recordset::rowAboutToBeRemoved, this,
                                 &RecordsetModel::rowAboutToBeRemoved)
                      << connect(rs, &Recordset::rowRemoved, this, &RecordsetModel::rowRemoved);
    }
    endResetModel();
}

void RecordsetModel::recordsetChanged() {
    // An update of one row repaints that row; a 100,000-row grid is not rebuilt for it.
    const int row = m_recordset ? m_recordset->updatedRow() : -1;
    const int columns = columnCount();
    if (row >= 0 && row < rowCount() && columns > 0) {
        emit dataChanged(index(row, 0), index(row, columns - 1));
        return;
    }
    beginResetModel();
    endResetModel();
}

void RecordsetModel::rowAboutToBeRemoved(int row) {
    beginRemoveRows(QModelIndex(), row, row);
}

void RecordsetModel::rowRemoved(int) {
    endRemoveRows();
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
    // Each deletion announces its row through the recordset's signals.
    for (int i = 0; i < count; ++i) {
        if (!m_recordset->moveTo(row) || !m_recordset->deleteCurrent()) {
            m_lastError = m_recordset->lastError();
            return false;
        }
    }
    return true;
}
