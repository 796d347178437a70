#pragma once

#include <QLoggingCategory>

Q_DECLARE_LOGGING_CATEGORY(lcSignal) // farscan.signal: audio sources, capture failures
