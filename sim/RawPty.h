#pragma once

// A pseudo-terminal pair in raw mode: the program under test opens the device path, the other
// side reads and writes the master without blocking.

#include <QString>

struct RawPty {
    int master = -1;
    int slave = -1;
    QString path;
};

// Opens a pair; false (and both descriptors -1) when the system has none to give.
bool OpenRawPty(RawPty& pty);
