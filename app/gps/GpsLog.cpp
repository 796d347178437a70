#include "GpsLog.h"

Q_LOGGING_CATEGORY(lcGps, "farscan.gps")
