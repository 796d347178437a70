#pragma once

#include <QLoggingCategory>

Q_DECLARE_LOGGING_CATEGORY(lcGps) // farscan.gps: receiver, gpsd, NMEA
