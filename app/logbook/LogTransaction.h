#pragma once

// One transaction around a run of row writes, so that a bulk update commits once instead of
// once per row. Rows written before a failure stay written: the transaction is committed, never
// rolled back, also when it goes out of scope unfinished. When no transaction can be started
// the writes simply run one by one.

#include "Database.h"

class LogTransaction {
public:
    explicit LogTransaction(DbConnection& db, bool enabled = true) : m_db(db) {
        m_active = enabled && db.isOpen() && db.beginTransaction();
    }
    ~LogTransaction() { commit(); }
    LogTransaction(const LogTransaction&) = delete;
    LogTransaction& operator=(const LogTransaction&) = delete;

    bool commit() {
        if (!m_active)
            return m_error.isEmpty();
        m_active = false;
        if (m_db.commit())
            return true;
        m_error = m_db.lastError();
        m_db.rollback();
        return false;
    }
    QString error() const { return m_error; }

private:
    DbConnection& m_db;
    bool m_active = false;
    QString m_error;
};
