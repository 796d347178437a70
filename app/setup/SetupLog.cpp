#include "SetupLog.h"

Q_LOGGING_CATEGORY(lcSetup, "farscan.setup")
