#include "LogbookLog.h"

Q_LOGGING_CATEGORY(lcLogbook, "farscan.logbook")
