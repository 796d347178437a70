#pragma once

// What every window of the station shares, handed to each window when it is made: the settings,
// the program-wide values, the serial-port factory, the station board, the database and the
// clock. Nothing here is global; tests build a context of fakes.

#include "SerialPort.h"

class Clock;
class SettingsStore;
class StationBoard;
class StationDatabase;
struct ProgramState;

struct StationContext {
    SettingsStore& settings;
    ProgramState& state;
    SerialPortFactory portFactory;
    StationBoard& board;
    StationDatabase& database;
    Clock& clock;
};
