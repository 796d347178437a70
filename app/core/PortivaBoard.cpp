#include "PortivaBoard.h"

#include "CoreLog.h"

namespace {
constexpr quint8 kBoard = 0;
}

PortivaBoard::PortivaBoard(BoardLibrary* library) : m_library(library ? library : &Board()) {}

bool PortivaBoard::note(bool ok, const char* call) {
    // A missing library fails every call the same way: say it once, not on every relay.
    if (!ok && !m_library->lastError().isEmpty() && !m_loggedMissing) {
        m_loggedMissing = true;
        qCWarning(lcBoard, "%s: %s", call, qPrintable(m_library->lastError()));
    }
    return ok;
}

bool PortivaBoard::init() {
    const bool ok = m_library->UsbInit(kBoard);
    if (!ok && m_library->lastError().isEmpty())
        qCInfo(lcBoard, "UsbInit(0) failed: no board, or the board did not start");
    return note(ok, "UsbInit");
}

bool PortivaBoard::setLineDirection(BoardLine line, bool output) {
    return note(m_library->UsbSetIODir(kBoard, line.number(), output), "UsbSetIODir");
}

bool PortivaBoard::setLine(BoardLine line, bool high) {
    return note(m_library->UsbSetIOState(kBoard, line.number(), high), "UsbSetIOState");
}

bool PortivaBoard::setPortDirection(BoardPort port, quint8 outputs) {
    return note(m_library->UsbSetPortDir(kBoard, quint8(port), outputs), "UsbSetPortDir");
}

std::optional<quint8> PortivaBoard::portLevels(quint8 port) {
    quint8 state = 0;
    if (!note(m_library->UsbGetPortState(kBoard, port, &state), "UsbGetPortState"))
        return std::nullopt;
    return state;
}

QString PortivaBoard::lastError() const {
    return m_library->lastError();
}
