#pragma once

// Logging categories of the station core. Enable with QT_LOGGING_RULES, for example
// QT_LOGGING_RULES="farscan.*.debug=true".

#include <QLoggingCategory>

Q_DECLARE_LOGGING_CATEGORY(lcSettings) // farscan.settings
Q_DECLARE_LOGGING_CATEGORY(lcSerial)   // farscan.serial
Q_DECLARE_LOGGING_CATEGORY(lcDatabase) // farscan.database
Q_DECLARE_LOGGING_CATEGORY(lcBoard)    // farscan.board
Q_DECLARE_LOGGING_CATEGORY(lcWeather)  // farscan.weather
