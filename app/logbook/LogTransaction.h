#pragma once

// One transaction around a run of row writes, so that a bulk update commits once instead of
// once per row. Rows written before a failure stay written: the transaction is committed, never
// rolled back, also when it goes out of scope unfinished. When no transaction can be started
// the writes simply run one by one.

#include "Database.h"

#include <QSqlError>

class LogTransaction {
public:
    LogTransaction(DbConnection& db, bool enabled = true) {
        if (enabled && db.handle()) {
            m_handle = db.handle();
            m_active = m_handle->database().transaction();
        }
    }
    ~LogTransaction() { commit(); }
    LogTransaction(const LogTransaction&) = delete;
    LogTransaction& operator=(const LogTransaction&) = delete;

    bool commit() {
        if (!m_active)
            return m_error.isEmpty();
        m_active = false;
        if (m_handle->database().commit())
            return true;
        m_error = m_handle->database().lastError().text();
        m_handle->database().rollback();
        return false;
    }
    QString error() const { return m_error; }

private:
    std::shared_ptr<DbHandle> m_handle;
    bool m_active = false;
    QString m_error;
};
