#include "CoreLog.h"

Q_LOGGING_CATEGORY(lcSettings, "farscan.settings")
Q_LOGGING_CATEGORY(lcSerial, "farscan.serial")
Q_LOGGING_CATEGORY(lcDatabase, "farscan.database")
Q_LOGGING_CATEGORY(lcBoard, "farscan.board")
Q_LOGGING_CATEGORY(lcWeather, "farscan.weather")
