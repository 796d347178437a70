#pragma once

#include <QLoggingCategory>

Q_DECLARE_LOGGING_CATEGORY(lcRig)   // farscan.rig: CAT, bands
Q_DECLARE_LOGGING_CATEGORY(lcRotor) // farscan.rotor: rotor controller, elevation sensor
