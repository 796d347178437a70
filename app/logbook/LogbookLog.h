#pragma once

#include <QLoggingCategory>

Q_DECLARE_LOGGING_CATEGORY(lcLogbook) // farscan.logbook: log, statistics, country table
