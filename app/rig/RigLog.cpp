#include "RigLog.h"

Q_LOGGING_CATEGORY(lcRig, "farscan.rig")
Q_LOGGING_CATEGORY(lcRotor, "farscan.rotor")
