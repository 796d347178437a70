#include "SignalLog.h"

Q_LOGGING_CATEGORY(lcSignal, "farscan.signal")
