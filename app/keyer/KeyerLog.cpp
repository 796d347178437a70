#include "KeyerLog.h"

Q_LOGGING_CATEGORY(lcKeyer, "farscan.keyer")
