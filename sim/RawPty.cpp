#include "RawPty.h"

#include <fcntl.h>
#include <pty.h>
#include <termios.h>
#include <unistd.h>

bool OpenRawPty(RawPty& pty) {
    char name[256] = {};
    if (::openpty(&pty.master, &pty.slave, name, nullptr, nullptr) != 0) {
        pty.master = pty.slave = -1;
        return false;
    }
    termios t{};
    ::tcgetattr(pty.slave, &t);
    ::cfmakeraw(&t);
    ::tcsetattr(pty.slave, TCSANOW, &t);
    ::fcntl(pty.master, F_SETFL, ::fcntl(pty.master, F_GETFL) | O_NONBLOCK);
    // Programs started from here (rigctl, farscan) must not inherit the pair.
    ::fcntl(pty.master, F_SETFD, FD_CLOEXEC);
    ::fcntl(pty.slave, F_SETFD, FD_CLOEXEC);
    pty.path = QString::fromLocal8Bit(name);
    return true;
}
